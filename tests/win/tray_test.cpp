// The notification-area icon, the popup menu, hiding and restoring, starting hidden, and the
// notice of a call that comes in while the window is hidden.
#include "tests/win/test_util.h"

#include "app/SingleInstance.h"
#include "app/StartWithWindows.h"
#include "ui/TrayIcon.h"

namespace {

struct IconCall {
    DWORD dwMessage;
    NOTIFYICONDATAA data;
};
std::vector<IconCall> g_iconCalls;
bool g_bShellHasVersion4 = false;

BOOL WINAPI RecordIconCall(DWORD dwMessage, PNOTIFYICONDATAA pData)
{
    g_iconCalls.push_back({ dwMessage, *pData });
    return dwMessage != NIM_SETVERSION || g_bShellHasVersion4;
}

// While it lives, the icon calls are recorded instead of reaching the shell, which has the
// keyboard version of the icon's messages or not.
struct IconRecorder {
    explicit IconRecorder(bool bVersion4 = false)
    {
        g_iconCalls.clear();
        g_bShellHasVersion4 = bVersion4;
        SetShellNotifyIconHook(RecordIconCall);
    }
    ~IconRecorder() { SetShellNotifyIconHook(nullptr); }
    int Count(DWORD dwMessage) const
    {
        int n = 0;
        for (const IconCall& c : g_iconCalls) n += c.dwMessage == dwMessage;
        return n;
    }
};

// What the popup menu looked like while it was open, recorded from WM_INITMENUPOPUP that its
// owner receives; the menu is closed again by a timer.
struct MenuSeen {
    bool bOpened = false;
    bool bRestoreGrayed = false;
    bool bStartChecked = false;
    std::vector<UINT> ids;
    std::string restoreText;
    RECT rcMenu = {};
};
MenuSeen* g_pSeen = nullptr;
HWND g_hOwner = NULL;

void CALLBACK CloseMenu(HWND, UINT, UINT_PTR nTimer, DWORD)
{
    ::KillTimer(NULL, nTimer);
    // The popup's own window tells where the menu opened.
    HWND hMenuWnd = ::FindWindowA("#32768", NULL);
    if (hMenuWnd && g_pSeen) ::GetWindowRect(hMenuWnd, &g_pSeen->rcMenu);
    ::EndMenu();
}

LRESULT CALLBACK WatchOwner(int nCode, WPARAM wParam, LPARAM lParam)
{
    const CWPSTRUCT* p = (const CWPSTRUCT*)lParam;
    if (nCode == HC_ACTION && p->message == WM_INITMENUPOPUP && p->hwnd == g_hOwner && g_pSeen &&
        !g_pSeen->bOpened) {
        HMENU hMenu = (HMENU)p->wParam;
        g_pSeen->bOpened = true;
        g_pSeen->bRestoreGrayed = (::GetMenuState(hMenu, ID_RESTORE, MF_BYCOMMAND) & MF_GRAYED) != 0;
        g_pSeen->bStartChecked =
            (::GetMenuState(hMenu, ID_START_WITH_WINDOWS, MF_BYCOMMAND) & MF_CHECKED) != 0;
        for (int i = 0; i < ::GetMenuItemCount(hMenu); ++i) g_pSeen->ids.push_back(::GetMenuItemID(hMenu, i));
        char text[64] = "";
        ::GetMenuStringA(hMenu, ID_RESTORE, text, sizeof text, MF_BYCOMMAND);
        g_pSeen->restoreText = text;
        ::SetTimer(NULL, 0, 100, CloseMenu);
    }
    return ::CallNextHookEx(NULL, nCode, wParam, lParam);
}

// Sends the message (to the window or one of its controls) that opens the popup and returns
// what was seen while it was open.
MenuSeen OpenPopup(CTestPhoneDlg& dlg, UINT message, WPARAM wParam, LPARAM lParam, HWND hTo = NULL)
{
    MenuSeen seen;
    g_pSeen = &seen;
    g_hOwner = dlg.m_hWnd;
    HHOOK hHook = ::SetWindowsHookExA(WH_CALLWNDPROC, WatchOwner, NULL, ::GetCurrentThreadId());
    // A safety net: the menu never stays open even when the hook sees nothing.
    UINT_PTR nNet = ::SetTimer(NULL, 0, 3000, CloseMenu);
    ::SendMessageA(hTo ? hTo : dlg.m_hWnd, message, wParam, lParam);
    ::KillTimer(NULL, nNet);
    ::UnhookWindowsHookEx(hHook);
    g_pSeen = nullptr;
    PumpFor(20);
    return seen;
}

const std::vector<UINT> kMenuIds = { ID_RESTORE, 0, ID_MISSED_CALLS, ID_OPEN_LOG, ID_MESSAGES,
    ID_VERIFIED_CONTACTS, 0, ID_DO_NOT_DISTURB, ID_AWAY, ID_LOG_ON, ID_SOUND_ON, ID_REQUIRE_SECURE,
    ID_NEARBY_ANNOUNCE, ID_START_WITH_WINDOWS, 0, ID_README, ID_HISTORY, ID_APP_ABOUT, 0, ID_APP_EXIT };

} // namespace

TEST(TrayIcon, AddedAtStartWithItsRecordAndRemovedAtClose)
{
    IconRecorder rec;
    CPhoneDlgInTempDir dlg(kPortZero);
    ASSERT_TRUE(dlg.Create());
    ASSERT_EQ(g_iconCalls.size(), 2u);
    const IconCall& add = g_iconCalls[0];
    EXPECT_EQ(add.dwMessage, (DWORD)NIM_ADD);
    EXPECT_EQ(add.data.cbSize, (DWORD)NOTIFYICONDATAA_V1_SIZE);
    EXPECT_EQ(add.data.hWnd, dlg.m_hWnd);
    EXPECT_EQ(add.data.uID, 1u);
    EXPECT_EQ(add.data.uFlags, (UINT)(NIF_MESSAGE | NIF_ICON | NIF_TIP | NIF_SHOWTIP));
    EXPECT_EQ(add.data.uCallbackMessage, (UINT)(WM_USER + 2));
    EXPECT_NE(add.data.hIcon, (HICON)NULL);
    EXPECT_STREQ(add.data.szTip, "Kelvaro");
    // The keyboard's messages asked for.
    EXPECT_EQ(g_iconCalls[1].dwMessage, (DWORD)NIM_SETVERSION);
    EXPECT_EQ(g_iconCalls[1].data.uID, 1u);
    EXPECT_EQ(g_iconCalls[1].data.uVersion, 4u);
    const HWND hWnd = dlg.m_hWnd;
    dlg.Close();
    ASSERT_EQ(g_iconCalls.size(), 3u);
    EXPECT_EQ(g_iconCalls[2].dwMessage, (DWORD)NIM_DELETE);
    EXPECT_EQ(g_iconCalls[2].data.hWnd, hWnd);
    EXPECT_EQ(g_iconCalls[2].data.uID, 1u);
    EXPECT_EQ(g_iconCalls[2].data.cbSize, (DWORD)NOTIFYICONDATAA_V1_SIZE);
}

TEST(TrayIcon, LongTipIsCutWithoutSplittingACharacter)
{
    IconRecorder rec;
    // 62 single bytes, then a double-byte character that would end at byte 64.
    std::string tip(62, 'a');
    tip += "電話";
    CTrayIcon().AddIcon(NULL, 1, WM_USER + 2, NULL, tip.c_str());
    ASSERT_EQ(g_iconCalls.size(), 1u);
    EXPECT_EQ(std::string(g_iconCalls[0].data.szTip), std::string(62, 'a'));
    g_iconCalls.clear();
    CTrayIcon().AddIcon(NULL, 1, WM_USER + 2, NULL, std::string(100, 'b').c_str());
    ASSERT_EQ(g_iconCalls.size(), 1u);
    EXPECT_EQ(std::string(g_iconCalls[0].data.szTip), std::string(63, 'b'));
}

TEST(TrayIcon, RebuiltNotificationAreaGetsTheIconAgain)
{
    IconRecorder rec;
    CPhoneDlgInTempDir dlg(kPortZero);
    ASSERT_TRUE(dlg.Create());
    dlg.Click(IDC_BTN_HIDE);
    ::SendMessageA(dlg.m_hWnd, ::RegisterWindowMessageA("TaskbarCreated"), 0, 0);
    EXPECT_EQ(rec.Count(NIM_ADD), 2);
    // The icon again, then the keyboard's messages asked for again.
    ASSERT_GE(g_iconCalls.size(), 2u);
    EXPECT_EQ(g_iconCalls[g_iconCalls.size() - 2].data.uCallbackMessage, (UINT)(WM_USER + 2));
    EXPECT_EQ(g_iconCalls.back().dwMessage, (DWORD)NIM_SETVERSION);
    EXPECT_FALSE(dlg.IsWindowVisible()) << "the rebuilt icon must not show the window";
    dlg.Close();
}

TEST(TrayIcon, HideAndRestoreKeepTheIcon)
{
    IconRecorder rec;
    CPhoneDlgInTempDir dlg(kPortZero);
    ASSERT_TRUE(dlg.Create());
    dlg.Click(IDC_BTN_HIDE);
    EXPECT_FALSE(dlg.IsWindowVisible());
    EXPECT_TRUE(dlg.InTray());
    // A left click on the icon (also twice) leaves a hidden window hidden.
    ::SendMessageA(dlg.m_hWnd, WM_USER + 2, 1, WM_LBUTTONDOWN);
    ::SendMessageA(dlg.m_hWnd, WM_USER + 2, 1, WM_LBUTTONDBLCLK);
    PumpFor(20);
    EXPECT_FALSE(dlg.IsWindowVisible());
    EXPECT_TRUE(dlg.InTray());
    dlg.Command(ID_RESTORE);
    EXPECT_TRUE(dlg.IsWindowVisible());
    EXPECT_FALSE(dlg.InTray());
    EXPECT_EQ(rec.Count(NIM_ADD), 1);
    EXPECT_EQ(rec.Count(NIM_DELETE), 0);
    dlg.Close();
}

TEST(TrayIcon, PopupGraysRestoreWhileShownAndEnablesItWhileHidden)
{
    IconRecorder rec;
    CPhoneDlgInTempDir dlg(kPortZero);
    ASSERT_TRUE(dlg.Create());

    MenuSeen shown = OpenPopup(dlg, WM_USER + 2, 1, WM_RBUTTONDOWN);
    ASSERT_TRUE(shown.bOpened) << "right click on the icon opened no menu";
    EXPECT_TRUE(shown.bRestoreGrayed);
    EXPECT_EQ(shown.ids, kMenuIds);
    EXPECT_EQ(shown.restoreText, "元のサイズに戻す(&R)");

    dlg.Click(IDC_BTN_HIDE);
    MenuSeen hidden = OpenPopup(dlg, WM_USER + 2, 1, WM_RBUTTONDOWN);
    ASSERT_TRUE(hidden.bOpened) << "right click on the icon of a hidden window opened no menu";
    EXPECT_FALSE(hidden.bRestoreGrayed);
    EXPECT_FALSE(dlg.IsWindowVisible()) << "the menu alone must not show the window";
    dlg.Close();
}

TEST(TrayIcon, KeyboardVersionSelectRestoresAndTheContextKeyOpensThePopupAtItsAnchor)
{
    IconRecorder rec(true);
    CPhoneDlgInTempDir dlg(kPortZero);
    ASSERT_TRUE(dlg.Create());
    for (WORD nEvent : { NIN_KEYSELECT, NIN_SELECT }) {
        dlg.Click(IDC_BTN_HIDE);
        ASSERT_FALSE(dlg.IsWindowVisible());
        ::SendMessageA(dlg.m_hWnd, WM_USER + 2, MAKEWPARAM(300, 200), MAKELPARAM(nEvent, 1));
        EXPECT_TRUE(dlg.IsWindowVisible()) << "event " << nEvent;
        EXPECT_FALSE(dlg.InTray()) << "event " << nEvent;
    }
    // The button's press is followed by WM_CONTEXTMENU: only that opens the menu, where the
    // shell says.
    EXPECT_FALSE(OpenPopup(dlg, WM_USER + 2, MAKEWPARAM(300, 200), MAKELPARAM(WM_RBUTTONDOWN, 1)).bOpened);
    MenuSeen seen = OpenPopup(dlg, WM_USER + 2, MAKEWPARAM(300, 200), MAKELPARAM(WM_CONTEXTMENU, 1));
    ASSERT_TRUE(seen.bOpened);
    if (seen.rcMenu.right != 0 || seen.rcMenu.bottom != 0) {
        EXPECT_EQ(seen.rcMenu.left, 300);
        EXPECT_EQ(seen.rcMenu.top, 200);
    }
    dlg.Close();
}

// Shift+F10 and the context key reach the popup menu from every control but the edit boxes,
// which keep their own; it opens at the centre of the focused control.
TEST(TrayIcon, KeyboardContextMenuOpensAtTheFocusedControl)
{
    IconRecorder rec;
    CPhoneDlgInTempDir dlg(kPortZero);
    ASSERT_TRUE(dlg.Create());
    ::SetWindowPos(dlg.m_hWnd, NULL, 10, 10, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    BYTE keys[256];
    ::GetKeyboardState(keys);
    struct Case {
        int nID;
        bool bShiftF10; // else the context key
        bool bOpens;
    } const cases[] = { { IDC_COMBO_PHONEBOOK, true, true }, { IDC_LIST_SEND, false, true },
        { IDC_LIST_RECEIVE, true, true }, { IDC_BTN_HIDE, false, true }, { IDC_BTN_CALL, true, true },
        { IDC_EDIT_ADDRESS, false, false } };
    for (const Case& c : cases) {
        const HWND hCtl = dlg.Item(c.nID);
        ::SetFocus(hCtl);
        keys[VK_SHIFT] = c.bShiftF10 ? 0x80 : 0;
        ::SetKeyboardState(keys);
        MenuSeen seen = c.bShiftF10 ? OpenPopup(dlg, WM_SYSKEYDOWN, VK_F10, 0x20440001, hCtl)
                                    : OpenPopup(dlg, WM_KEYDOWN, VK_APPS, 0x015D0001, hCtl);
        keys[VK_SHIFT] = 0;
        ::SetKeyboardState(keys);
        EXPECT_EQ(seen.bOpened, c.bOpens) << "control " << c.nID;
        if (!seen.bOpened || (seen.rcMenu.right == 0 && seen.rcMenu.bottom == 0)) continue;
        RECT rc;
        ::GetWindowRect(hCtl, &rc);
        EXPECT_EQ(seen.rcMenu.left, (rc.left + rc.right) / 2) << "control " << c.nID;
        EXPECT_EQ(seen.rcMenu.top, (rc.top + rc.bottom) / 2) << "control " << c.nID;
    }
    dlg.Close();
}

TEST(TrayIcon, ExitFromThePopupWhileHiddenWritesSettingsAndRemovesTheIcon)
{
    IconRecorder rec;
    CPhoneDlgInTempDir dlg(kPortZero);
    ASSERT_TRUE(dlg.Create());
    dlg.SetItemText(IDC_EDIT_MYNAME, "Hidden");
    dlg.Click(IDC_BTN_HIDE);
    dlg.Command(ID_APP_EXIT);
    EXPECT_TRUE(dlg.IsEnded());
    ::DestroyWindow(dlg.m_hWnd);
    EXPECT_EQ(rec.Count(NIM_DELETE), 1);
    EXPECT_EQ(g_iconCalls.back().dwMessage, (DWORD)NIM_DELETE);
    EXPECT_NE(ReadFileBytes(dlg.IniFile()).find("Name=Hidden\r\n"), std::string::npos);
}

namespace {
// What a modal run of the main window looked like from inside, at given times after start.
struct ModalLook {
    int nChecks = 0;
    bool bEverVisibleLater = false;
    bool bInTray = false;
    MenuSeen menu;
};
CTestPhoneDlg* g_pModal = nullptr;
ModalLook* g_pLook = nullptr;

void CALLBACK LookAtModal(HWND, UINT, UINT_PTR nTimer, DWORD)
{
    if (!g_pModal || !g_pLook) return;
    if (::IsWindowVisible(g_pModal->m_hWnd)) g_pLook->bEverVisibleLater = true;
    if (++g_pLook->nChecks < 10) return; // a check every 100 ms, from 1 s on, for a second
    ::KillTimer(NULL, nTimer);
    g_pLook->bInTray = g_pModal->InTray();
    g_pLook->menu = OpenPopup(*g_pModal, WM_USER + 2, 1, WM_RBUTTONDOWN);
    g_pModal->PostMessage(WM_COMMAND, ID_APP_EXIT);
}
void CALLBACK StartLooking(HWND, UINT, UINT_PTR nTimer, DWORD)
{
    ::KillTimer(NULL, nTimer);
    ::SetTimer(NULL, 0, 100, LookAtModal);
}
void CALLBACK EndStuckRun(HWND, UINT, UINT_PTR nTimer, DWORD)
{
    ::KillTimer(NULL, nTimer);
    if (g_pModal && g_pModal->m_hWnd) g_pModal->EndDialog(999);
}
} // namespace

// Run as the program runs it: DoModal and its own message loop, not a modeless stand-in.
TEST(TrayIcon, MinStartThroughTheModalRunStaysHiddenWithTheIconAndRestoreEnabled)
{
    IconRecorder rec;
    CPhoneDlgInTempDir dlg("[Setting]\r\nPort=0\r\nMinStart=1\r\n");
    ModalLook look;
    g_pModal = &dlg;
    g_pLook = &look;
    UINT_PTR nStart = ::SetTimer(NULL, 0, 1000, StartLooking);
    UINT_PTR nStuck = ::SetTimer(NULL, 0, 8000, EndStuckRun);
    INT_PTR r = dlg.DoModal();
    ::KillTimer(NULL, nStart);
    ::KillTimer(NULL, nStuck);
    g_pModal = nullptr;
    g_pLook = nullptr;
    EXPECT_EQ(r, IDCANCEL) << "999: the run was ended by the safety timer";
    EXPECT_EQ(look.nChecks, 10);
    EXPECT_FALSE(look.bEverVisibleLater) << "the window showed again after it was hidden";
    EXPECT_TRUE(look.bInTray);
    EXPECT_EQ(rec.Count(NIM_ADD), 1) << "the icon is there from the start";
    ASSERT_TRUE(look.menu.bOpened);
    EXPECT_FALSE(look.menu.bRestoreGrayed) << "restore must be offered while hidden";
}

TEST(TrayIcon, MinimiseIsNotHiding)
{
    IconRecorder rec;
    CPhoneDlgInTempDir dlg(kPortZero);
    ASSERT_TRUE(dlg.Create());
    ::SendMessageA(dlg.m_hWnd, WM_SYSCOMMAND, SC_MINIMIZE, 0);
    PumpFor(20);
    EXPECT_TRUE(::IsIconic(dlg.m_hWnd));
    EXPECT_FALSE(dlg.InTray());
    EXPECT_TRUE(dlg.IsWindowVisible());
    dlg.Close();
}

TEST(TrayIcon, CallWhileHiddenShowsTheNoticeThenTheWindow)
{
    IconRecorder rec;
    CModalCatcher catcher;
    CPhoneDlgInTempDir dlg(kPortZero);
    ASSERT_TRUE(dlg.Create());
    const UINT nPort = dlg.ListeningPort();
    ASSERT_NE(nPort, 0u);
    dlg.Click(IDC_BTN_HIDE);
    ASSERT_FALSE(dlg.IsWindowVisible());

    CRawPeer caller;
    ASSERT_TRUE(caller.Connect(nPort));

    EXPECT_TRUE(PumpUntil([&] { return !catcher.boxes.empty() && dlg.IsWindowVisible(); }, 5000));
    ASSERT_EQ(catcher.boxes.size(), 1u);
    EXPECT_EQ(catcher.boxes[0].strText, "着信しました。");
    EXPECT_EQ(catcher.boxes[0].strCaption, "Kelvaro");
    EXPECT_EQ(catcher.boxes[0].hOwner, (HWND)NULL);
    EXPECT_TRUE(dlg.IsWindowVisible());
    EXPECT_FALSE(dlg.InTray());
    EXPECT_TRUE(dlg.CallStands());
    dlg.Close();
    caller.Close();
}

namespace {
const wchar_t kTestRunKey[] = L"Software\\Kelvaro tests\\Run";

// The Run value the tests' own key holds, "" when none.
std::wstring TestRunValue()
{
    wchar_t sz[1024] = L"";
    DWORD cb = sizeof sz;
    if (::RegGetValueW(HKEY_CURRENT_USER, kTestRunKey, L"Kelvaro", RRF_RT_REG_SZ, NULL, sz, &cb) !=
        ERROR_SUCCESS)
        return std::wstring();
    return sz;
}

// While it lives, the program's start-at-logon item uses the tests' key, never the real one.
struct TestRunKey {
    TestRunKey() { CStartWithWindows::SetDefaultKey(kTestRunKey); }
    ~TestRunKey()
    {
        CStartWithWindows::SetDefaultKey(nullptr);
        ::RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Kelvaro tests");
    }
};
} // namespace

TEST(StartWithWindows, OnOnlyForThisProgram)
{
    TestRunKey key;
    const CStartWithWindows run(L"C:\\My Apps\\Kelvaro.exe");
    EXPECT_FALSE(run.IsOn()) << "no key at all";
    EXPECT_EQ(run.Set(false), 0u) << "turning off what is not there is no error";
    ASSERT_EQ(run.Set(true), 0u);
    EXPECT_TRUE(CStartWithWindows(L"c:\\my apps\\KELVARO.EXE").IsOn()) << "paths compare without case";
    EXPECT_FALSE(CStartWithWindows(L"D:\\Other\\Kelvaro.exe").IsOn()) << "a copy elsewhere is not on";
}

TEST(StartWithWindows, MenuItemTogglesTheValueAndShowsItsCheck)
{
    IconRecorder rec;
    TestRunKey key;
    CPhoneDlgInTempDir dlg(kPortZero);
    ASSERT_TRUE(dlg.Create());
    dlg.Command(ID_START_WITH_WINDOWS);
    EXPECT_EQ(TestRunValue(), L"\"" + ModulePathW() + L"\" /tray");
    EXPECT_TRUE(OpenPopup(dlg, WM_USER + 2, 1, WM_RBUTTONDOWN).bStartChecked);
    dlg.Command(ID_START_WITH_WINDOWS);
    EXPECT_EQ(TestRunValue(), L"");
    EXPECT_FALSE(OpenPopup(dlg, WM_USER + 2, 1, WM_RBUTTONDOWN).bStartChecked);
    dlg.Close();
}

namespace {
// The main window that notes whether it was ever on screen, from creation on.
class CWatchedDlg : public CPhoneDlgInTempDir {
public:
    using CPhoneDlgInTempDir::CPhoneDlgInTempDir;
    bool m_bEverVisible = false, m_bVisibleBefore = true, m_bInTrayBefore = false;

protected:
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override
    {
        const LRESULT r = CPhoneDlgInTempDir::WindowProc(message, wParam, lParam);
        if (m_hWnd && ::IsWindowVisible(m_hWnd)) m_bEverVisible = true;
        return r;
    }
};

void CALLBACK BringForwardAndExit(HWND, UINT, UINT_PTR nTimer, DWORD)
{
    ::KillTimer(NULL, nTimer);
    CWatchedDlg* pDlg = static_cast<CWatchedDlg*>(g_pModal);
    pDlg->m_bVisibleBefore = pDlg->m_bEverVisible;
    pDlg->m_bInTrayBefore = pDlg->InTray();
    pDlg->PostMessage(CSingleInstance::BringForwardMessage(), 0, 0); // what a second start sends
    pDlg->PostMessage(WM_COMMAND, ID_APP_EXIT);
}
} // namespace

// Started at logon, through the modal run as the program runs it: never on screen, in the tray
// with its icon, until a second start brings it forward.
TEST(TrayIcon, TrayStartNeverShowsTheWindowUntilBroughtForward)
{
    IconRecorder rec;
    CWatchedDlg dlg(kPortZero);
    dlg.StartInTray();
    g_pModal = &dlg;
    UINT_PTR nLook = ::SetTimer(NULL, 0, 1000, BringForwardAndExit);
    UINT_PTR nStuck = ::SetTimer(NULL, 0, 8000, EndStuckRun);
    INT_PTR r = dlg.DoModal();
    ::KillTimer(NULL, nLook);
    ::KillTimer(NULL, nStuck);
    g_pModal = nullptr;
    EXPECT_EQ(r, IDCANCEL) << "999: the run was ended by the safety timer";
    EXPECT_FALSE(dlg.m_bVisibleBefore) << "the window was on screen before it was asked for";
    EXPECT_TRUE(dlg.m_bInTrayBefore);
    EXPECT_EQ(rec.Count(NIM_ADD), 1) << "the icon is there from the start";
    EXPECT_TRUE(dlg.m_bEverVisible) << "a second start brings the window back";
    EXPECT_FALSE(dlg.InTray());
}

namespace {
// What the keyboard did in a modal run: the focus after each step, the window's visibility
// while hidden, and the popup menu opened with the context key.
struct KeyRun {
    CTestPhoneDlg* pDlg = nullptr;
    std::vector<int> focus;
    bool bHidden = false;
    MenuSeen menu;
    int nStep = 0;
} g_run;

void CALLBACK KeyStep(HWND, UINT, UINT_PTR nTimer, DWORD)
{
    CTestPhoneDlg& d = *g_run.pDlg;
    const HWND hFocus = ::GetFocus();
    switch (g_run.nStep++) {
    case 0: // opens on the address box; Tab to the port
        g_run.focus.push_back(::GetDlgCtrlID(hFocus));
        ::PostMessageA(hFocus, WM_KEYDOWN, VK_TAB, 1);
        break;
    case 1: // hidden from the port box
        g_run.focus.push_back(::GetDlgCtrlID(hFocus));
        ::PostMessageA(
            d.m_hWnd, WM_COMMAND, MAKEWPARAM(IDC_BTN_HIDE, BN_CLICKED), (LPARAM)d.Item(IDC_BTN_HIDE));
        break;
    case 2: // Enter on the icon
        g_run.bHidden = !d.IsWindowVisible();
        ::PostMessageA(d.m_hWnd, WM_USER + 2, 0, MAKELPARAM(NIN_KEYSELECT, 1));
        break;
    case 3: // back on the port box; the context key on the received lines
        g_run.focus.push_back(::GetDlgCtrlID(hFocus));
        ::SetFocus(d.Item(IDC_LIST_RECEIVE));
        g_run.menu = OpenPopup(d, WM_KEYDOWN, VK_APPS, 0x015D0001, d.Item(IDC_LIST_RECEIVE));
        break;
    default:
        ::KillTimer(NULL, nTimer);
        d.PostMessage(WM_COMMAND, ID_APP_EXIT);
    }
}
} // namespace

// Run as the program runs it: DoModal and its own message loop.
TEST(TrayIcon, InTheModalRunTheKeyboardHidesRestoresAndOpensThePopup)
{
    IconRecorder rec(true);
    CPhoneDlgInTempDir dlg(kPortZero);
    g_run = KeyRun();
    g_run.pDlg = &dlg;
    UINT_PTR nSteps = ::SetTimer(NULL, 0, 150, KeyStep);
    UINT_PTR nStuck = ::SetTimer(NULL, 0, 10000, EndStuckRun);
    g_pModal = &dlg;
    const INT_PTR r = dlg.DoModal();
    g_pModal = nullptr;
    ::KillTimer(NULL, nSteps);
    ::KillTimer(NULL, nStuck);
    EXPECT_EQ(r, IDCANCEL) << "999: the run was ended by the safety timer";
    EXPECT_EQ(g_run.focus, (std::vector<int> { IDC_EDIT_ADDRESS, IDC_EDIT_PORT, IDC_EDIT_PORT }));
    EXPECT_TRUE(g_run.bHidden);
    EXPECT_TRUE(g_run.menu.bOpened) << "the context key on the received lines";
}
