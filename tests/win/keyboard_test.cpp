// The keyboard in every dialog: Tab reaches each control once, in the order the window reads;
// Alt with a letter goes to its control; the version box's links open with Enter and the space
// bar. (That each letter is used once per window and menu is checked on the resources.)
#include "tests/win/test_util.h"

#include "phonebook/NameDlg.h"
#include "ui/AboutDlg.h"
#include "ui/Documents.h"
#include "ui/MissedCallsDlg.h"
#include "ui/VerifiedDlg.h"

namespace {

// The controls Tab visits, from the first, once round.
std::vector<int> TabOrder(HWND hDlg)
{
    std::vector<int> ids;
    const HWND hFirst = ::GetNextDlgTabItem(hDlg, NULL, FALSE);
    for (HWND h = hFirst; h && ids.size() < 40;) {
        ids.push_back(::GetDlgCtrlID(h));
        h = ::GetNextDlgTabItem(hDlg, h, FALSE);
        if (h == hFirst) break;
    }
    return ids;
}

// Every control enabled, so that the order shows all of them (Tab passes disabled ones by).
void EnableAll(HWND hDlg)
{
    for (HWND h = ::GetWindow(hDlg, GW_CHILD); h; h = ::GetWindow(h, GW_HWNDNEXT)) ::EnableWindow(h, TRUE);
}

} // namespace

TEST(Keyboard, TabReachesEveryControlInReadingOrder)
{
    CPhoneDlgInTempDir main(kPortZero);
    CNameDlg name;
    CAboutDlg about;
    CMissedCalls calls;
    CMissedCallsDlg missed(calls, true);
    CTrust trust;
    CVerifiedDlg verified(trust);
    ASSERT_TRUE(main.Create());
    ASSERT_TRUE(name.Create(IDD_NAME));
    ASSERT_TRUE(about.Create(IDD_ABOUTBOX));
    ASSERT_TRUE(missed.Create(IDD_MISSED_CALLS));
    ASSERT_TRUE(verified.Create(IDD_VERIFIED));
    struct Case {
        const char* pszWindow;
        HWND hDlg;
        std::vector<int> order;
    } const cases[] = {
        // Hide, address, port, the call buttons and the own name, the phonebook, the start-hidden
        // box, the sent lines with the send line, the received lines; then OFF and version.
        { "main window", main.m_hWnd,
            { 1018, 1000, 1001, 1002, 1003, 1012, 1005, 1015, 1016, 1017, 1019, 1008, 1007, 1009, 2, 1004 } },
        { "name dialog", name.m_hWnd, { 1012, 1, 2 } },
        { "version box", about.m_hWnd, { 1, 1032, 1033, 1016, 1017 } },
        { "missed calls", missed.m_hWnd, { 1020, 1021, 1022, 2 } },
        { "verified contacts", verified.m_hWnd, { 1045, 1046, 2 } },
    };
    for (const Case& c : cases) {
        EnableAll(c.hDlg);
        EXPECT_EQ(TabOrder(c.hDlg), c.order) << c.pszWindow;
    }
    name.DestroyWindow();
    about.DestroyWindow();
    missed.DestroyWindow();
    verified.DestroyWindow();
    main.Close();
}

// Run as the program runs it: DoModal and its own message loop, keys posted to the control
// that has the focus, as the keyboard delivers them.
TEST(Keyboard, InTheModalRunTabAndAltLettersMoveTheFocus)
{
    static struct {
        CPhoneDlgInTempDir* pDlg;
        std::vector<int> focus; // after each key, starting with the focus the window opens with
        bool bChecked;
        size_t nStep;
    } run;
    CPhoneDlgInTempDir dlg(kPortZero);
    run = { &dlg, {}, false, 0 };
    UINT_PTR nKeys = ::SetTimer(NULL, 0, 60, [](HWND, UINT, UINT_PTR nTimer, DWORD) {
        const HWND hFocus = ::GetFocus();
        run.focus.push_back(::GetDlgCtrlID(hFocus));
        const size_t nTabs = 14;
        const size_t n = run.nStep++;
        if (n < nTabs)
            ::PostMessageA(hFocus, WM_KEYDOWN, VK_TAB, 1);
        else if (n == nTabs)
            ::PostMessageA(hFocus, WM_SYSCHAR, 'o', 0x20000001); // Alt+O
        else if (n == nTabs + 1) {
            run.bChecked = run.pDlg->MinStart();
            ::PostMessageA(hFocus, WM_SYSCHAR, 'i', 0x20000001); // Alt+I
        } else {
            ::KillTimer(NULL, nTimer);
            run.pDlg->PostMessage(WM_COMMAND, IDCANCEL);
        }
    });
    UINT_PTR nStuck = ::SetTimer(NULL, 0, 10000, [](HWND, UINT, UINT_PTR nTimer, DWORD) {
        ::KillTimer(NULL, nTimer);
        run.pDlg->EndDialog(999);
    });
    EXPECT_EQ(dlg.DoModal(), IDCANCEL) << "999: the run was ended by the safety timer";
    ::KillTimer(NULL, nKeys);
    ::KillTimer(NULL, nStuck);
    // Idle, "切る" and "受ける" are disabled and passed by. Alt+O ticks the start-hidden box.
    const std::vector<int> want = { 1000, 1001, 1002, 1012, 1015, 1016, 1017, 1019, 1008, 1007, 1009, 2, 1004,
        1018, 1000, 1019, 1000 };
    EXPECT_EQ(run.focus, want);
    EXPECT_TRUE(run.bChecked) << "Alt+O did not tick the box";
}

TEST(Keyboard, VersionBoxLinksOpenWithEnterAndSpace)
{
    static std::vector<std::string> opened;
    opened.clear();
    SetShellExecuteHook([](HWND, LPCSTR, LPCSTR pszFile, LPCSTR, LPCSTR, INT) -> HINSTANCE {
        opened.push_back(pszFile);
        return (HINSTANCE)42;
    });
    CAboutDlg about;
    ASSERT_TRUE(about.Create(IDD_ABOUTBOX));
    // Through the dialog manager, as the modal loop hands it each key.
    for (auto [nID, nKey] :
        { std::make_pair(IDC_STATIC_HOMEPAGE, VK_RETURN), std::make_pair(IDC_STATIC_MAIL, VK_SPACE) }) {
        HWND hLink = ::GetDlgItem(about.m_hWnd, nID);
        ::SetFocus(hLink);
        MSG msg = { hLink, WM_KEYDOWN, (WPARAM)nKey, 1, 0, {} };
        EXPECT_TRUE(::IsDialogMessageA(about.m_hWnd, &msg));
    }
    SetShellExecuteHook(nullptr);
    EXPECT_EQ(opened, (std::vector<std::string> { KELVARO_HOMEPAGE_URL, "mailto:" KELVARO_MAIL_ADDRESS }));
    EXPECT_FALSE(about.IsEnded()) << "Enter on a link must not close the box";
    about.DestroyWindow();
}
