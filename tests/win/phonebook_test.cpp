// The phonebook through the main window: choosing entries, registering through the name
// dialog, deleting, and the entries surviving a restart.
#include "tests/win/test_util.h"

#include <memory>

namespace {

// Three entries; the manual address and port are the file's IP and Port.
const char kThreeEntries[] = "[Setting]\r\nIP=127.0.0.1\r\nPort=0\r\n"
                             "[Address]\r\nMax=3\r\n"
                             "Name1=Alpha\r\nIP1=10.0.0.1\r\nPort1=1001\r\n"
                             "Name2=Beta\r\nIP2=10.0.0.2\r\nPort2=1002\r\n"
                             "Name3=Gamma\r\nIP3=10.0.0.3\r\nPort3=1003\r\n";

using Strings = std::vector<std::string>;

class PhonebookTest : public ::testing::Test {
protected:
    void Start(const std::string& strIni)
    {
        WriteFileBytes(m_dir.File("Kelvaro.ini"), strIni);
        m_pDlg.reset(new CTestPhoneDlg(m_dir.File("Kelvaro.ini")));
        ASSERT_TRUE(m_pDlg->Create());
    }
    void Restart()
    {
        m_pDlg->Close();
        m_pDlg.reset(new CTestPhoneDlg(m_dir.File("Kelvaro.ini")));
        ASSERT_TRUE(m_pDlg->Create());
    }
    // Presses "登録"; a name dialog, if one opens, is answered with the name (or cancelled when
    // the name is null). Returns how many dialogs opened.
    int Register(const char* pszName)
    {
        CModalCatcher catcher;
        int nDialogs = 0;
        catcher.onDialog = [&](CDialog* pDlg) {
            ++nDialogs;
            char caption[32] = "";
            ::GetDlgItemTextA(pDlg->m_hWnd, IDC_CAPTION, caption, sizeof caption);
            EXPECT_STREQ(caption, "登録") << "not the name dialog";
            if (pszName) {
                ::SetDlgItemTextA(pDlg->m_hWnd, IDC_EDIT_MYNAME, pszName);
                ::PostMessageA(pDlg->m_hWnd, WM_COMMAND, IDOK, 0);
            } else {
                ::PostMessageA(pDlg->m_hWnd, WM_COMMAND, IDCANCEL, 0);
            }
        };
        Dlg().Click(IDC_BTN_REGISTER);
        EXPECT_TRUE(catcher.boxes.empty());
        return nDialogs;
    }
    CTestPhoneDlg& Dlg() { return *m_pDlg; }
    // What the user sees of the current choice: combo selection, address, port, partner name,
    // and whether the two edits take input.
    void ExpectShown(
        int nSel, const char* pszAddress, const char* pszPort, const char* pszName, bool bEditable)
    {
        EXPECT_EQ(Dlg().ComboSel(), nSel);
        EXPECT_EQ(Dlg().BookSel(), nSel);
        EXPECT_EQ(Dlg().ItemText(IDC_EDIT_ADDRESS), pszAddress);
        EXPECT_EQ(Dlg().ItemText(IDC_EDIT_PORT), pszPort);
        EXPECT_EQ(Dlg().ItemText(IDC_STATIC_PARTNER), pszName);
        EXPECT_EQ(Dlg().IsEnabled(IDC_EDIT_ADDRESS), bEditable);
        EXPECT_EQ(Dlg().IsEnabled(IDC_EDIT_PORT), bEditable);
    }
    void ExpectBook(const Strings& names, const Strings& addresses, const Strings& ports)
    {
        Strings combo = { "IPアドレス指定" };
        combo.insert(combo.end(), names.begin(), names.end());
        EXPECT_EQ(Dlg().ComboItems(), combo);
        EXPECT_EQ(Dlg().Book(&CPhonebookEntry::strName), names);
        EXPECT_EQ(Dlg().Book(&CPhonebookEntry::strAddress), addresses);
        EXPECT_EQ(Dlg().Book(&CPhonebookEntry::strPort), ports);
    }
    void TearDown() override
    {
        if (m_pDlg) m_pDlg->Close();
    }

    CTempDir m_dir;
    std::unique_ptr<CTestPhoneDlg> m_pDlg;
};

} // namespace

TEST_F(PhonebookTest, ChoosingAnEntryAndBackToManualRestoresTheTypedValues)
{
    Start(kThreeEntries);
    Dlg().SetItemText(IDC_EDIT_ADDRESS, "typed.example");
    Dlg().SetItemText(IDC_EDIT_PORT, "5555");
    Dlg().ChooseEntry(2);
    ExpectShown(2, "10.0.0.2", "1002", "Beta", false);
    Dlg().ChooseEntry(3);
    ExpectShown(3, "10.0.0.3", "1003", "Gamma", false);
    Dlg().ChooseEntry(0);
    ExpectShown(0, "typed.example", "5555", "", true);
    // Choosing manual again replaces what was typed since with the saved values.
    Dlg().SetItemText(IDC_EDIT_ADDRESS, "other");
    Dlg().ChooseEntry(0);
    ExpectShown(0, "typed.example", "5555", "", true);
}

TEST_F(PhonebookTest, RegisterAsksForANameAndAppendsWithoutMovingTheSelection)
{
    Start("[Setting]\r\nPort=0\r\n");
    Dlg().SetItemText(IDC_EDIT_ADDRESS, "127.0.0.9");
    Dlg().SetItemText(IDC_EDIT_PORT, "7000");
    EXPECT_EQ(Register("Office"), 1);
    ExpectBook({ "Office" }, { "127.0.0.9" }, { "7000" });
    ExpectShown(0, "127.0.0.9", "7000", "", true);

    // The same name updates in place: address and port only, combo and selection unchanged.
    Dlg().SetItemText(IDC_EDIT_ADDRESS, "127.0.0.10");
    Dlg().SetItemText(IDC_EDIT_PORT, "7001");
    EXPECT_EQ(Register("Office"), 1);
    ExpectBook({ "Office" }, { "127.0.0.10" }, { "7001" });
    EXPECT_EQ(Dlg().ComboSel(), 0);

    // Letter case makes another name; an empty name is a name too.
    EXPECT_EQ(Register("office"), 1);
    EXPECT_EQ(Register(""), 1);
    ExpectBook(
        { "Office", "office", "" }, { "127.0.0.10", "127.0.0.10", "127.0.0.10" }, { "7001", "7001", "7001" });

    // Cancel adds nothing.
    EXPECT_EQ(Register(nullptr), 1);
    ExpectBook(
        { "Office", "office", "" }, { "127.0.0.10", "127.0.0.10", "127.0.0.10" }, { "7001", "7001", "7001" });
}

TEST_F(PhonebookTest, RegisterWithEmptyAddressOrPortDoesNothing)
{
    Start("[Setting]\r\nPort=0\r\n");
    Dlg().SetItemText(IDC_EDIT_ADDRESS, "");
    Dlg().SetItemText(IDC_EDIT_PORT, "7000");
    EXPECT_EQ(Register("X"), 0) << "the name dialog opened for an empty address";
    Dlg().SetItemText(IDC_EDIT_ADDRESS, "127.0.0.9");
    Dlg().SetItemText(IDC_EDIT_PORT, "");
    EXPECT_EQ(Register("X"), 0) << "the name dialog opened for an empty port";
    ExpectBook({}, {}, {});
}

TEST_F(PhonebookTest, RegisterWhileAnEntryIsChosenTakesItsValues)
{
    Start(kThreeEntries);
    Dlg().ChooseEntry(1);
    EXPECT_EQ(Register("Copy"), 1);
    ExpectBook({ "Alpha", "Beta", "Gamma", "Copy" }, { "10.0.0.1", "10.0.0.2", "10.0.0.3", "10.0.0.1" },
        { "1001", "1002", "1003", "1001" });
    ExpectShown(1, "10.0.0.1", "1001", "Alpha", false);
}

TEST_F(PhonebookTest, DeletingAMiddleEntryShowsTheNextOne)
{
    Start(kThreeEntries);
    Dlg().ChooseEntry(2);
    Dlg().Click(IDC_BTN_DELETE);
    ExpectBook({ "Alpha", "Gamma" }, { "10.0.0.1", "10.0.0.3" }, { "1001", "1003" });
    ExpectShown(2, "10.0.0.3", "1003", "Gamma", false);
}

TEST_F(PhonebookTest, DeletingTheFirstEntryShowsTheNextOne)
{
    Start(kThreeEntries);
    Dlg().ChooseEntry(1);
    Dlg().Click(IDC_BTN_DELETE);
    ExpectBook({ "Beta", "Gamma" }, { "10.0.0.2", "10.0.0.3" }, { "1002", "1003" });
    ExpectShown(1, "10.0.0.2", "1002", "Beta", false);
}

TEST_F(PhonebookTest, DeletingTheLastOfSeveralShowsThePreviousOne)
{
    Start(kThreeEntries);
    Dlg().ChooseEntry(3);
    Dlg().Click(IDC_BTN_DELETE);
    ExpectBook({ "Alpha", "Beta" }, { "10.0.0.1", "10.0.0.2" }, { "1001", "1002" });
    ExpectShown(2, "10.0.0.2", "1002", "Beta", false);
}

TEST_F(PhonebookTest, DeletingTheOnlyEntryReturnsToManualWithTheSavedValues)
{
    Start("[Setting]\r\nIP=127.0.0.1\r\nPort=0\r\n[Address]\r\nMax=1\r\nName1=Solo\r\nIP1=10.9.9.9\r\nPort1="
          "999\r\n");
    Dlg().SetItemText(IDC_EDIT_ADDRESS, "manual.example");
    Dlg().ChooseEntry(1);
    ExpectShown(1, "10.9.9.9", "999", "Solo", false);
    Dlg().Click(IDC_BTN_DELETE);
    ExpectBook({}, {}, {});
    ExpectShown(0, "manual.example", "0", "", true);
}

TEST_F(PhonebookTest, DeleteInManualModeDoesNothing)
{
    Start(kThreeEntries);
    Dlg().SetItemText(IDC_EDIT_ADDRESS, "typed");
    Dlg().Click(IDC_BTN_DELETE);
    ExpectBook(
        { "Alpha", "Beta", "Gamma" }, { "10.0.0.1", "10.0.0.2", "10.0.0.3" }, { "1001", "1002", "1003" });
    ExpectShown(0, "typed", "0", "", true);
}

TEST_F(PhonebookTest, EntriesSurviveARestartInOrder)
{
    Start(kThreeEntries);
    Dlg().ChooseEntry(1);
    Dlg().Click(IDC_BTN_DELETE);
    Dlg().ChooseEntry(0);
    Dlg().SetItemText(IDC_EDIT_ADDRESS, "127.0.0.5");
    EXPECT_EQ(Register("新しい人"), 1);
    EXPECT_EQ(Register(""), 1);
    Restart();
    ExpectBook({ "Beta", "Gamma", "新しい人", "" }, { "10.0.0.2", "10.0.0.3", "127.0.0.5", "127.0.0.5" },
        { "1002", "1003", "0", "0" });
    ExpectShown(0, "127.0.0.5", "0", "", true);
}

TEST_F(PhonebookTest, LongIpv6AddressWithZoneIsKeptWhole)
{
    // The longest text an IPv6 address with a numeric zone takes, typed into the address box.
    const char kLong[] = "0000:0000:0000:0000:0000:0000:0000:0001%4294967295";
    Start("[Setting]\r\nPort=0\r\n");
    Dlg().SetItemText(IDC_EDIT_ADDRESS, "");
    ::SendMessageA(Dlg().Item(IDC_EDIT_ADDRESS), EM_REPLACESEL, TRUE, (LPARAM)kLong);
    Dlg().SetItemText(IDC_EDIT_PORT, "32760");
    EXPECT_EQ(Register("v6"), 1);
    Restart();
    const std::string ini = ReadFileBytes(m_dir.File("Kelvaro.ini"));
    EXPECT_NE(ini.find(std::string("\r\nIP=") + kLong + "\r\n"), std::string::npos) << ini;
    EXPECT_NE(ini.find(std::string("\r\nIP1=") + kLong + "\r\n"), std::string::npos) << ini;
    ExpectShown(0, kLong, "32760", "", true);
    Dlg().ChooseEntry(1);
    ExpectShown(1, kLong, "32760", "v6", false);
}

namespace {

class CNearbyTestDlg : public CTestPhoneDlg {
public:
    using CTestPhoneDlg::CTestPhoneDlg;
    CNearby& Nearby() { return m_nearby; }
};

NearbyPeer Peer(const std::string& name, const char* address, uint16_t port)
{
    NearbyPeer peer;
    peer.name = name;
    peer.port = port;
    peer.addresses.push_back(std::string(address, 4));
    return peer;
}

} // namespace

TEST_F(PhonebookTest, RegisteringANearbyNameAlreadyStoredAsksAndCancelKeepsTheEntry)
{
    const struct {
        UINT answer;
        Strings names, addresses, ports;
    } cases[] = {
        { IDCANCEL, { "Alpha", "Beta", "Gamma" }, { "10.0.0.1", "10.0.0.2", "10.0.0.3" },
            { "1001", "1002", "1003" } },
        { IDYES, { "Alpha", "Beta", "Gamma" }, { "10.0.0.9", "10.0.0.2", "10.0.0.3" },
            { "9999", "1002", "1003" } },
        { IDNO, { "Alpha", "Beta", "Gamma", "Alpha (2)" }, { "10.0.0.1", "10.0.0.2", "10.0.0.3", "10.0.0.9" },
            { "1001", "1002", "1003", "9999" } },
    };
    for (const auto& c : cases) {
        WriteFileBytes(m_dir.File("Kelvaro.ini"), kThreeEntries);
        auto* pDlg = new CNearbyTestDlg(m_dir.File("Kelvaro.ini"));
        m_pDlg.reset(pDlg);
        ASSERT_TRUE(pDlg->Create());
        pDlg->Nearby().ShowFound({ Peer("Alpha", "\x0a\0\0\x09", 9999) });
        ASSERT_EQ(5, (int)Dlg().ComboItems().size());
        EXPECT_EQ("Alpha (近く)", Dlg().ComboItems()[4]);
        Dlg().ChooseEntry(4);
        ExpectShown(4, "10.0.0.9", "9999", "Alpha", false);
        {
            CModalCatcher catcher;
            catcher.nBoxAnswer = c.answer;
            Dlg().Click(IDC_BTN_REGISTER);
            ASSERT_EQ(1u, catcher.boxes.size()) << c.answer;
            EXPECT_NE(std::string::npos, catcher.boxes[0].strText.find("「Alpha」は電話帳に登録済みです"));
            EXPECT_NE(std::string::npos, catcher.boxes[0].strText.find("「Alpha (2)」として両方を残します"));
        }
        EXPECT_EQ(Dlg().Book(&CPhonebookEntry::strName), c.names) << c.answer;
        EXPECT_EQ(Dlg().Book(&CPhonebookEntry::strAddress), c.addresses) << c.answer;
        EXPECT_EQ(Dlg().Book(&CPhonebookEntry::strPort), c.ports) << c.answer;
        EXPECT_EQ(Dlg().ComboSel(), (int)c.names.size() + 1) << "the nearby item stays chosen";
        m_pDlg->Close();
        m_pDlg.reset();
    }
    // The same address and port stored under the name already: nothing to ask.
    WriteFileBytes(m_dir.File("Kelvaro.ini"), kThreeEntries);
    auto* pDlg = new CNearbyTestDlg(m_dir.File("Kelvaro.ini"));
    m_pDlg.reset(pDlg);
    ASSERT_TRUE(pDlg->Create());
    pDlg->Nearby().ShowFound({ Peer("Beta", "\x0a\0\0\x02", 1002) });
    Dlg().ChooseEntry(4);
    EXPECT_EQ(Register(nullptr), 0);
    EXPECT_EQ(Dlg().Book(&CPhonebookEntry::strName), Strings({ "Alpha", "Beta", "Gamma" }));
    EXPECT_EQ(Dlg().Book(&CPhonebookEntry::strPort), Strings({ "1001", "1002", "1003" }));
}
