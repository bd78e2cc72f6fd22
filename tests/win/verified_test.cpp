// Verified contacts between main windows over 127.0.0.1: verified once, then shown as verified on
// both sides (also after a restart); a fresh install under the same name and port is warned
// about; and a copy of version 0.33 (built from its commit by scripts/previous_version.sh) still
// talks encrypted with a new copy, with the same code.
#include "tests/win/test_util.h"

#include <regex>

namespace {

class VerifiedTest : public CCallFixture { };

const char kVerified[] = "暗号化 確認済み";
const char kWarning[] =
    "この相手は、確認済みの相手と名前か宛先が同じですが、確認したときとは違う鍵で本人であることを"
    "示しました。\r\n\r\n別の人がなりすましている可能性があります。番号を読み合わせて、もう一度"
    "確認してください。";

bool IsCode(const std::string& s) { return std::regex_match(s, std::regex("暗号化 [0-9]{3} [0-9]{3}")); }

// A window on a settings file of the test's choosing, in a folder that outlives it.
std::unique_ptr<CTestPhoneDlg> Open(CTempDir& dir, const std::string& name, UINT nPort)
{
    WriteFileBytes(dir.File("Kelvaro.ini"),
        "[Setting]\r\nIP=127.0.0.1\r\nPort=" + std::to_string(nPort) + "\r\nName=" + name + "\r\n");
    std::unique_ptr<CTestPhoneDlg> dlg(new CTestPhoneDlg(dir.File("Kelvaro.ini")));
    EXPECT_TRUE(dlg->Create());
    return dlg;
}

// The display shows an encrypted call: its code or that it is verified.
bool Encrypted(CTestPhoneDlg& d) { return d.ItemText(IDC_STATIC_SECURE).rfind("暗号化 ", 0) == 0; }

::testing::AssertionResult CallAndAnswer(CTestPhoneDlg& from, CTestPhoneDlg& to)
{
    from.SetItemText(IDC_EDIT_ADDRESS, "127.0.0.1");
    from.SetItemText(IDC_EDIT_PORT, std::to_string(to.ListeningPort()).c_str());
    from.Click(IDC_BTN_CALL);
    if (!PumpUntil([&] { return to.Ringing(); }))
        return ::testing::AssertionFailure() << "no ring: " << LookOf(to);
    // Answered once the keys are agreed while it rings, as a user who reads the code first.
    if (!PumpUntil([&] { return Encrypted(to); }))
        return ::testing::AssertionFailure()
            << "not encrypted while ringing: " << to.ItemText(IDC_STATIC_SECURE);
    to.Click(IDC_BTN_ANSWER);
    if (PumpUntil([&] { return LookOf(from) == kTalking && Encrypted(from) && Encrypted(to); }))
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << LookOf(from) << " " << from.ItemText(IDC_STATIC_SECURE) << " / "
                                         << LookOf(to) << " " << to.ItemText(IDC_STATIC_SECURE);
}

void HangUp(CTestPhoneDlg& from, CTestPhoneDlg& to)
{
    from.Click(IDC_BTN_HANGUP);
    PumpUntil([&] { return LookOf(from) == kIdle && LookOf(to) == kIdle; });
}

TEST_F(VerifiedTest, VerifiedOnceIsShownOnBothSidesAfterARestartAndAFreshInstallIsWarnedAbout)
{
    CModalCatcher catcher;
    CTempDir northDir, southDir, freshDir;
    auto north = Open(northDir, "north", 0);
    auto south = Open(southDir, "south", 0);
    const UINT nSouthPort = south->ListeningPort();
    ASSERT_TRUE(CallAndAnswer(*north, *south));
    ASSERT_TRUE(
        PumpUntil([&] { return north->IsVisible(IDC_BTN_VERIFY) && south->IsVisible(IDC_BTN_VERIFY); }));
    EXPECT_TRUE(IsCode(north->ItemText(IDC_STATIC_SECURE))) << north->ItemText(IDC_STATIC_SECURE);
    EXPECT_EQ(north->ItemText(IDC_STATIC_SECURE), south->ItemText(IDC_STATIC_SECURE));

    // Written before the click returns: a program killed right after it keeps the verification.
    north->Click(IDC_BTN_VERIFY);
    const std::string contacts = ReadFileBytes(northDir.File("Contacts.txt"));
    EXPECT_TRUE(std::regex_search(contacts,
        std::regex("^Kelvaro verified contacts 1\r\n[0-9a-f]{64}\t[-0-9: ]{19}\t" +
            std::to_string(nSouthPort) + "\t127\\.0\\.0\\.1\tsouth\r\n$")))
        << Quote(contacts);
    EXPECT_FALSE(FileExists(northDir.File("Contacts.txt.new")));
    EXPECT_EQ(north->ItemText(IDC_STATIC_SECURE), kVerified);
    EXPECT_FALSE(north->IsVisible(IDC_BTN_VERIFY));
    south->Click(IDC_BTN_VERIFY);
    HangUp(*north, *south);

    // Both restarted on their folders: the same identities, verified both ways.
    north->Close();
    north = Open(northDir, "north", 0);
    ASSERT_TRUE(CallAndAnswer(*south, *north));
    ASSERT_TRUE(PumpUntil([&] {
        return north->ItemText(IDC_STATIC_SECURE) == kVerified &&
            south->ItemText(IDC_STATIC_SECURE) == kVerified;
    })) << north->ItemText(IDC_STATIC_SECURE)
        << " / " << south->ItemText(IDC_STATIC_SECURE);
    EXPECT_FALSE(north->IsVisible(IDC_BTN_VERIFY) || south->IsVisible(IDC_BTN_VERIFY));
    HangUp(*south, *north);
    EXPECT_TRUE(NoBoxes(catcher));

    // A fresh install calls itself "south" and listens on south's port: a new identity.
    south->Close();
    south.reset(); // its listening socket goes with it
    auto fresh = Open(freshDir, "south", nSouthPort);
    ASSERT_EQ(fresh->ListeningPort(), nSouthPort);
    ASSERT_TRUE(CallAndAnswer(*north, *fresh));
    ASSERT_TRUE(PumpUntil([&] { return !catcher.boxes.empty(); })) << "the warning comes at once";
    ASSERT_EQ(catcher.boxes.size(), 1u) << Boxes(catcher);
    EXPECT_EQ(Quote(catcher.boxes[0].strText), Quote(kWarning));
    const std::string shown = north->ItemText(IDC_STATIC_SECURE);
    EXPECT_TRUE(std::regex_match(shown, std::regex("暗号化 [0-9]{3} [0-9]{3} ※鍵が違います"))) << shown;
    EXPECT_EQ(shown.substr(0, 14), fresh->ItemText(IDC_STATIC_SECURE)) << "the code is the partner's";
    EXPECT_TRUE(north->IsVisible(IDC_BTN_VERIFY)) << "the new key may be verified";
    HangUp(*north, *fresh);

    // The popup menu's list takes the verification back, asked first.
    int nListed = -1;
    catcher.onDialog = [&](CDialog* pDlg) {
        nListed = (int)::SendDlgItemMessageA(pDlg->m_hWnd, IDC_LIST_VERIFIED, LB_GETCOUNT, 0, 0);
        ::PostMessageA(pDlg->m_hWnd, WM_COMMAND, MAKEWPARAM(IDC_BTN_UNVERIFY, BN_CLICKED),
            (LPARAM)::GetDlgItem(pDlg->m_hWnd, IDC_BTN_UNVERIFY));
        ::PostMessageA(pDlg->m_hWnd, WM_COMMAND, IDCANCEL, 0);
    };
    north->Command(ID_VERIFIED_CONTACTS);
    EXPECT_EQ(nListed, 1) << "the list of verified contacts, with south";
    ASSERT_EQ(catcher.boxes.size(), 2u) << Boxes(catcher);
    EXPECT_EQ(catcher.boxes[1].strText,
        "「south」の確認を取り消しますか？\r\n次にこの相手と話すときは、番号を読み合わせて、"
        "もう一度確認してください。");
    EXPECT_EQ(ReadFileBytes(northDir.File("Contacts.txt")), "Kelvaro verified contacts 1\r\n");
    fresh->Close();
    north->Close();
}

// ---------------------------------------------------------------------------------------------
// A copy of version 0.33 in a process of its own.

struct PreviousCopy {
    CTempDir dir;
    PROCESS_INFORMATION pi = {};
    HWND hWnd = NULL;
    UINT nPort = 0;

    // Copies the program and its DLLs into a folder of its own with a settings file; false when
    // the build is not there.
    bool Start(const std::string& buildDir)
    {
        for (const char* file : { "Kelvaro.exe", "libgcrypt-20.dll", "libgpg-error-0.dll" })
            if (!::CopyFileA((buildDir + file).c_str(), dir.File(file).c_str(), FALSE)) return false;
        nPort = DeadPort();
        WriteFileBytes(dir.File("Kelvaro.ini"),
            "[Setting]\r\nIP=127.0.0.1\r\nPort=" + std::to_string(nPort) + "\r\nName=old\r\n");
        STARTUPINFOA si = {};
        si.cb = sizeof si;
        std::string cmd = "\"" + dir.File("Kelvaro.exe") + "\"";
        if (!::CreateProcessA(NULL, &cmd[0], NULL, NULL, FALSE, 0, NULL, dir.Path().c_str(), &si, &pi))
            return false;
        return PumpUntil([&] { return (hWnd = MainWindow()) != NULL && ::IsWindowVisible(hWnd); }, 20000);
    }
    HWND MainWindow() const
    {
        struct Find {
            DWORD pid;
            HWND found;
        } f = { pi.dwProcessId, NULL };
        ::EnumWindows(
            [](HWND h, LPARAM l) -> BOOL {
                Find* p = (Find*)l;
                DWORD pid = 0;
                ::GetWindowThreadProcessId(h, &pid);
                if (pid != p->pid || !::GetDlgItem(h, IDC_STATIC_SECURE)) return TRUE;
                p->found = h;
                return FALSE;
            },
            (LPARAM)&f);
        return f.found;
    }
    std::string Text(int nID) const
    {
        char buf[256] = "";
        ::SendMessageA(::GetDlgItem(hWnd, nID), WM_GETTEXT, sizeof buf, (LPARAM)buf);
        return buf;
    }
    void Command(int nID) const
    {
        ::PostMessageA(hWnd, WM_COMMAND, MAKEWPARAM(nID, BN_CLICKED), (LPARAM)::GetDlgItem(hWnd, nID));
    }
    ~PreviousCopy()
    {
        if (!pi.hProcess) return;
        if (hWnd) Command(IDCANCEL);
        if (::WaitForSingleObject(pi.hProcess, 5000) != WAIT_OBJECT_0) ::TerminateProcess(pi.hProcess, 1);
        ::CloseHandle(pi.hThread);
        ::CloseHandle(pi.hProcess);
    }
};

TEST_F(VerifiedTest, AVersion033CopyStillTalksEncryptedWithANewOneBothWays)
{
    const std::string build = "..\\previous-0.33\\win\\";
    if (!FileExists(build + "Kelvaro.exe"))
        GTEST_SKIP() << "version 0.33 is not built here (scripts/previous_version.sh; make test builds it)";
    CModalCatcher catcher;
    PreviousCopy old;
    ASSERT_TRUE(old.Start(build));
    Phone north("north");
    ASSERT_TRUE(north.created);

    // The new copy calls the old one, which answers.
    Dial(north, old.nPort);
    ASSERT_TRUE(
        PumpUntil([&] { return ::IsWindowEnabled(::GetDlgItem(old.hWnd, IDC_BTN_ANSWER)) != FALSE; }, 10000));
    // Answered once the keys are agreed while it rings.
    ASSERT_TRUE(PumpUntil([&] { return IsCode(old.Text(IDC_STATIC_SECURE)); }))
        << old.Text(IDC_STATIC_SECURE);
    old.Command(IDC_BTN_ANSWER);
    ASSERT_TRUE(PumpUntil([&] {
        return IsCode(north->ItemText(IDC_STATIC_SECURE)) && LookOf(*north) == kTalking;
    })) << north->ItemText(IDC_STATIC_SECURE);
    EXPECT_EQ(north->ItemText(IDC_STATIC_SECURE), old.Text(IDC_STATIC_SECURE))
        << "the same code on both sides";
    EXPECT_FALSE(north->IsVisible(IDC_BTN_VERIFY)) << "no identity to verify";
    Say(north, "to the old one");
    ::SendMessageA(::GetDlgItem(old.hWnd, IDC_EDIT_SEND), WM_SETTEXT, 0, (LPARAM) "from the old one");
    old.Command(IDOK);
    ASSERT_TRUE(ReceivesLines(north, 1));
    EXPECT_EQ(north->ListItems(IDC_LIST_RECEIVE), std::vector<std::string> { "from the old one" });
    north->Click(IDC_BTN_HANGUP);
    ASSERT_TRUE(PumpUntil([&] {
        return LookOf(*north) == kIdle && !old.Text(IDC_BTN_ANSWER).empty() &&
            ::IsWindowEnabled(::GetDlgItem(old.hWnd, IDC_BTN_CALL));
    }));

    // The old copy calls the new one.
    ::SendMessageA(::GetDlgItem(old.hWnd, IDC_EDIT_PORT), WM_SETTEXT, 0,
        (LPARAM)std::to_string(north->ListeningPort()).c_str());
    old.Command(IDC_BTN_CALL);
    ASSERT_TRUE(
        PumpUntil([&] { return north->Ringing() && IsCode(north->ItemText(IDC_STATIC_SECURE)); }, 10000));
    north->Click(IDC_BTN_ANSWER);
    ASSERT_TRUE(PumpUntil([&] {
        return IsCode(north->ItemText(IDC_STATIC_SECURE)) &&
            old.Text(IDC_STATIC_SECURE) == north->ItemText(IDC_STATIC_SECURE);
    })) << north->ItemText(IDC_STATIC_SECURE)
        << " / " << old.Text(IDC_STATIC_SECURE);
    EXPECT_FALSE(north->IsVisible(IDC_BTN_VERIFY));
    north->Click(IDC_BTN_HANGUP);
    PumpUntil([&] { return LookOf(*north) == kIdle; });
    EXPECT_TRUE(NoBoxes(catcher));
}

} // namespace
