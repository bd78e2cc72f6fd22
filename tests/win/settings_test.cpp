// The settings file "Kelvaro.ini" as a user meets it: what a start shows for what the file holds,
// and the exact file a close leaves behind.
#include "tests/win/test_util.h"

#include <memory>

namespace {

// True when nothing on this machine holds the TCP port.
bool PortIsFree(u_short nPort)
{
    SOCKET s = ::socket(AF_INET, SOCK_STREAM, 0);
    if (s == INVALID_SOCKET) return false;
    sockaddr_in addr = {};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(nPort);
    addr.sin_addr.s_addr = htonl(INADDR_ANY);
    bool bFree = ::bind(s, (sockaddr*)&addr, sizeof addr) == 0;
    ::closesocket(s);
    return bFree;
}

// Registers what the edits show, answering the name dialog with the given name.
void RegisterAs(CTestPhoneDlg& dlg, const char* pszName)
{
    CModalCatcher catcher;
    catcher.onDialog = [pszName](CDialog* pDlg) {
        ::SetDlgItemTextA(pDlg->m_hWnd, IDC_EDIT_MYNAME, pszName);
        ::PostMessageA(pDlg->m_hWnd, WM_COMMAND, IDOK, 0);
    };
    dlg.Click(IDC_BTN_REGISTER);
}

std::string Printable(const std::string& s)
{
    std::string out;
    for (char c : s) {
        if (c == '\r')
            out += "\\r";
        else if (c == '\n')
            out += "\\n\n";
        else
            out += c;
    }
    return out;
}

} // namespace

TEST(SettingsFile, WithoutAFileTheDefaultsShowAndTheDefaultPortListens)
{
    if (!PortIsFree(32760)) GTEST_SKIP() << "port 32760 is held by another program on this machine";
    CTempDir dir;
    CModalCatcher catcher;
    CTestPhoneDlg dlg(dir.File("Kelvaro.ini"));
    ASSERT_TRUE(dlg.Create());
    EXPECT_EQ(dlg.ItemText(IDC_EDIT_ADDRESS), "localhost");
    EXPECT_EQ(dlg.ItemText(IDC_EDIT_PORT), "32760");
    EXPECT_EQ(dlg.ItemText(IDC_EDIT_MYNAME), "?");
    EXPECT_EQ(::SendMessageA(dlg.Item(IDC_CHK_MINSTART), BM_GETCHECK, 0, 0), BST_UNCHECKED);
    EXPECT_EQ(dlg.ComboItems(), std::vector<std::string> { "IPアドレス指定" });
    EXPECT_EQ(dlg.ComboSel(), 0);
    EXPECT_EQ(dlg.ListeningPort(), 32760u);
    EXPECT_TRUE(dlg.IsWindowVisible());
    EXPECT_TRUE(catcher.boxes.empty()) << "first box: " << catcher.boxes[0].strText;
    dlg.Close();
}

TEST(SettingsFile, CloseWritesTheTenLinesOfANewFileInOrder)
{
    CPhoneDlgInTempDir dlg(kPortZero);
    const std::string ini = dlg.IniFile();
    ASSERT_TRUE(dlg.Create());
    dlg.SetItemText(IDC_EDIT_ADDRESS, "192.168.1.20");
    dlg.SetItemText(IDC_EDIT_PORT, "32760");
    RegisterAs(dlg, "Office");
    ASSERT_EQ(dlg.ComboItems().size(), 2u) << "the entry was not registered";
    // The file is written whole from what the window holds, as for a first run.
    ASSERT_TRUE(::DeleteFileA(ini.c_str()));
    dlg.Close();
    const std::string expected = "[Setting]\r\nIP=192.168.1.20\r\nPort=32760\r\nName=?\r\nMinStart=0\r\n"
                                 "[Address]\r\nName1=Office\r\nIP1=192.168.1.20\r\nPort1=32760\r\nMax=1\r\n";
    const std::string got = ReadFileBytes(ini);
    EXPECT_EQ(got, expected) << "got:\n" << Printable(got) << "expected:\n" << Printable(expected);
}

TEST(SettingsFile, EmptyPortAndShortPhonebookTakeTheirDefaults)
{
    CModalCatcher catcher;
    // Port present but empty shows 32760; do not listen there, another test may.
    CPhoneDlgInTempDir dlg("[Setting]\r\nIP=10.0.0.7\r\nPort=\r\nName=Hanako\r\n"
                           "[Address]\r\nMax=3\r\nName1=Office\r\nIP1=10.0.0.8\r\nPort1=4000\r\n");
    ASSERT_TRUE(dlg.Create());
    EXPECT_EQ(dlg.ItemText(IDC_EDIT_PORT), "32760");
    EXPECT_EQ(dlg.ItemText(IDC_EDIT_ADDRESS), "10.0.0.7");
    EXPECT_EQ(dlg.ItemText(IDC_EDIT_MYNAME), "Hanako");
    EXPECT_EQ(dlg.ComboItems(), (std::vector<std::string> { "IPアドレス指定", "Office", "?", "?" }));
    EXPECT_EQ(dlg.Book(&CPhonebookEntry::strAddress),
        (std::vector<std::string> { "10.0.0.8", "localhost", "localhost" }));
    EXPECT_EQ(dlg.Book(&CPhonebookEntry::strPort), (std::vector<std::string> { "4000", "32760", "32760" }));
    dlg.ChooseEntry(3);
    EXPECT_EQ(dlg.ItemText(IDC_EDIT_ADDRESS), "localhost");
    EXPECT_EQ(dlg.ItemText(IDC_EDIT_PORT), "32760");
    EXPECT_EQ(dlg.ItemText(IDC_STATIC_PARTNER), "?");
    dlg.ChooseEntry(0);
    dlg.SetItemText(IDC_EDIT_PORT, "0");
    dlg.Close();
    // The defaults become real entries, and Max tells how many there are.
    const std::string got = ReadFileBytes(dlg.IniFile());
    EXPECT_NE(got.find("Name3=?\r\nIP3=localhost\r\nPort3=32760\r\n"), std::string::npos) << Printable(got);
    EXPECT_NE(got.find("Max=3\r\n"), std::string::npos) << Printable(got);
}

TEST(SettingsFile, MinStartFiveStartsHiddenAndIsWrittenBackAsOne)
{
    CPhoneDlgInTempDir dlg("[Setting]\r\nPort=0\r\nMinStart=5\r\n");
    ASSERT_TRUE(dlg.Create());
    EXPECT_EQ(::SendMessageA(dlg.Item(IDC_CHK_MINSTART), BM_GETCHECK, 0, 0), BST_CHECKED);
    EXPECT_TRUE(PumpUntil([&] { return !dlg.IsWindowVisible(); }, 3000)) << "the window stayed on screen";
    EXPECT_TRUE(dlg.InTray());
    dlg.Close();
    const std::string got = ReadFileBytes(dlg.IniFile());
    EXPECT_NE(got.find("MinStart=1\r\n"), std::string::npos) << Printable(got);
}

TEST(SettingsFile, CheckBoxStateAtCloseIsWhatIsSaved)
{
    CPhoneDlgInTempDir dlg(kPortZero);
    const std::string ini = dlg.IniFile();
    ASSERT_TRUE(dlg.Create());
    dlg.Click(IDC_CHK_MINSTART);
    dlg.Click(IDC_CHK_MINSTART);
    dlg.Click(IDC_CHK_MINSTART);
    EXPECT_TRUE(dlg.MinStart());
    EXPECT_TRUE(dlg.IsWindowVisible()) << "ticking the box must not hide the window now";
    dlg.Close();
    EXPECT_NE(ReadFileBytes(ini).find("MinStart=1\r\n"), std::string::npos) << Printable(ReadFileBytes(ini));
}

TEST(SettingsFile, LongOwnNameSurvivesARoundTripWhole)
{
    std::string name;
    while (name.size() < 990) name += "電話abc";
    name += "0123456789";
    name.resize(1000);
    ASSERT_EQ(name.size(), 1000u);
    CIniFolder folder(std::string(kPortZero) + "Name=" + name + "\r\n");
    const std::string ini = folder.IniFile();
    {
        CTestPhoneDlg dlg(ini);
        ASSERT_TRUE(dlg.Create());
        EXPECT_EQ(dlg.ItemText(IDC_EDIT_MYNAME).size(), 1000u);
        EXPECT_EQ(dlg.ItemText(IDC_EDIT_MYNAME), name);
        dlg.Close();
    }
    EXPECT_NE(ReadFileBytes(ini).find("Name=" + name + "\r\n"), std::string::npos)
        << "the name was cut on writing";
    CTestPhoneDlg again(ini);
    ASSERT_TRUE(again.Create());
    EXPECT_EQ(again.ItemText(IDC_EDIT_MYNAME), name);
    again.Close();
}

TEST(SettingsFile, DamagedFileGivesWhatCanBeReadAndDefaultsForTheRest)
{
    std::string bytes = "[Setting]\r\nPort=0\r\nIP=10.1.2.3\r\nthis line has no equals sign\r\nName=Taro\r\n";
    bytes += "[Address\r\nMax=2\r\nName1=Broken\r\n";
    bytes += std::string("\x01\x02\xff\xfe\x00\x00\x7f\x80garbage\x00\r\n", 19);
    bytes += "Name=AfterGarbage\r\n";
    bytes += std::string("\x00\x00\x00\xff", 4);
    CModalCatcher catcher;
    CPhoneDlgInTempDir dlg(bytes);
    ASSERT_TRUE(dlg.Create());
    EXPECT_EQ(dlg.ItemText(IDC_EDIT_ADDRESS), "10.1.2.3");
    EXPECT_EQ(dlg.ItemText(IDC_EDIT_MYNAME), "Taro");
    // The section header without "]" opens no section: no phonebook comes out of it.
    EXPECT_EQ(dlg.ComboItems(), std::vector<std::string> { "IPアドレス指定" });
    EXPECT_NE(dlg.ListeningPort(), 0u);
    EXPECT_TRUE(catcher.boxes.empty()) << "first box: " << catcher.boxes[0].strText;
    dlg.Close();
    // What was read is written back in a readable form.
    CTestPhoneDlg again(dlg.IniFile());
    ASSERT_TRUE(again.Create());
    EXPECT_EQ(again.ItemText(IDC_EDIT_ADDRESS), "10.1.2.3");
    EXPECT_EQ(again.ItemText(IDC_EDIT_MYNAME), "Taro");
    again.Close();
}

TEST(SettingsFile, UnwritableFileGivesOneSystemMessageAndStaysUnchanged)
{
    const std::string before = std::string(kPortZero) + "Name=Old\r\n[Nearby]\r\nBrowse=0\r\n";
    CIniFolder folder(before);
    const std::string ini = folder.IniFile();
    CModalCatcher catcher;
    {
        CTestPhoneDlg dlg(ini);
        ASSERT_TRUE(dlg.Create());
        dlg.SetItemText(IDC_EDIT_MYNAME, "New");
        // Another program holds the file open without sharing it (a read-only attribute
        // stops no one here: the tests may run with full rights).
        HANDLE hLock = ::CreateFileA(ini.c_str(), GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
        ASSERT_NE(hLock, INVALID_HANDLE_VALUE);
        dlg.Close();
        ::CloseHandle(hLock);
    }
    EXPECT_EQ(ReadFileBytes(ini), before);
    ASSERT_EQ(catcher.boxes.size(), 1u) << "one message box expected at close";
    // The text is the system's own for the refused write.
    char* pszSharing = nullptr;
    ::FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_SYSTEM, NULL,
        ERROR_SHARING_VIOLATION, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), (LPSTR)&pszSharing, 0, NULL);
    std::string strSharing = pszSharing ? pszSharing : "";
    if (pszSharing) ::LocalFree(pszSharing);
    EXPECT_EQ(catcher.boxes[0].strText, strSharing);
    EXPECT_EQ(catcher.boxes[0].strCaption, "Kelvaro");
}

// Each of the three ways out ends the window, and only its destruction writes the file, once.
class SettingsClose : public ::testing::TestWithParam<int> { };

TEST_P(SettingsClose, EndsTheWindowAndDestructionWritesOnce)
{
    CIniFolder folder(kPortZero);
    const std::string ini = folder.IniFile();
    auto dlg = std::make_unique<CTestPhoneDlg>(ini);
    ASSERT_TRUE(dlg->Create());
    dlg->SetItemText(IDC_EDIT_MYNAME, "Jiro");
    ASSERT_TRUE(::DeleteFileA(ini.c_str()));
    switch (GetParam()) {
    case 0:
        dlg->Click(IDCANCEL);
        break; // "OFF"
    case 1: { // Escape in the address box, through the dialog manager
        MSG msg = { dlg->Item(IDC_EDIT_ADDRESS), WM_KEYDOWN, VK_ESCAPE, 0x00010001, 0, { 0, 0 } };
        EXPECT_TRUE(::IsDialogMessageA(dlg->m_hWnd, &msg));
        break;
    }
    case 2:
        dlg->Command(ID_APP_EXIT);
        break;
    }
    EXPECT_TRUE(dlg->IsEnded());
    EXPECT_EQ(dlg->GetEndResult(), IDCANCEL);
    EXPECT_FALSE(FileExists(ini)) << "written before the window was destroyed";
    ::DestroyWindow(dlg->m_hWnd);
    EXPECT_NE(ReadFileBytes(ini).find("Name=Jiro\r\n"), std::string::npos) << Printable(ReadFileBytes(ini));
    ASSERT_TRUE(::DeleteFileA(ini.c_str()));
    dlg.reset();
    PumpFor(50);
    EXPECT_FALSE(FileExists(ini)) << "the settings were written a second time";
}

std::string CloseWayName(const ::testing::TestParamInfo<int>& info)
{
    static const char* const names[] = { "OffButton", "EscapeKey", "ExitCommand" };
    return names[info.param];
}

INSTANTIATE_TEST_SUITE_P(ThreeWays, SettingsClose, ::testing::Values(0, 1, 2), CloseWayName);
