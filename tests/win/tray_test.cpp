// The notification-area icon, the popup menu, hiding and restoring, starting hidden, and the
// notice of a call that comes in while the window is hidden.
#include "tests/win/test_util.h"

#include "ui/TrayIcon.h"

namespace {

struct IconCall {
    DWORD dwMessage;
    NOTIFYICONDATAA data;
};
std::vector<IconCall> g_iconCalls;

BOOL WINAPI RecordIconCall(DWORD dwMessage, PNOTIFYICONDATAA pData)
{
    g_iconCalls.push_back({ dwMessage, *pData });
    return TRUE;
}

// While it lives, the icon calls are recorded instead of reaching the shell.
struct IconRecorder {
    IconRecorder()
    {
        g_iconCalls.clear();
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
        for (int i = 0; i < ::GetMenuItemCount(hMenu); ++i) g_pSeen->ids.push_back(::GetMenuItemID(hMenu, i));
        char text[64] = "";
        ::GetMenuStringA(hMenu, ID_RESTORE, text, sizeof text, MF_BYCOMMAND);
        g_pSeen->restoreText = text;
        ::SetTimer(NULL, 0, 100, CloseMenu);
    }
    return ::CallNextHookEx(NULL, nCode, wParam, lParam);
}

// Sends the message that opens the popup and returns what was seen while it was open.
MenuSeen OpenPopup(CTestPhoneDlg& dlg, UINT message, WPARAM wParam, LPARAM lParam)
{
    MenuSeen seen;
    g_pSeen = &seen;
    g_hOwner = dlg.m_hWnd;
    HHOOK hHook = ::SetWindowsHookExA(WH_CALLWNDPROC, WatchOwner, NULL, ::GetCurrentThreadId());
    // A safety net: the menu never stays open even when the hook sees nothing.
    UINT_PTR nNet = ::SetTimer(NULL, 0, 3000, CloseMenu);
    ::SendMessageA(dlg.m_hWnd, message, wParam, lParam);
    ::KillTimer(NULL, nNet);
    ::UnhookWindowsHookEx(hHook);
    g_pSeen = nullptr;
    PumpFor(20);
    return seen;
}

const std::vector<UINT> kMenuIds = { ID_RESTORE, 0, ID_MISSED_CALLS, ID_OPEN_LOG, ID_VERIFIED_CONTACTS, 0,
    ID_DO_NOT_DISTURB, ID_LOG_ON, ID_SOUND_ON, ID_REQUIRE_SECURE, ID_NEARBY_ANNOUNCE, 0, ID_README,
    ID_HISTORY, ID_APP_ABOUT, 0, ID_APP_EXIT };

} // namespace

TEST(TrayIcon, AddedAtStartWithItsRecordAndRemovedAtClose)
{
    IconRecorder rec;
    CPhoneDlgInTempDir dlg(kPortZero);
    ASSERT_TRUE(dlg.Create());
    ASSERT_EQ(g_iconCalls.size(), 1u);
    const IconCall& add = g_iconCalls[0];
    EXPECT_EQ(add.dwMessage, (DWORD)NIM_ADD);
    EXPECT_EQ(add.data.cbSize, (DWORD)NOTIFYICONDATAA_V1_SIZE);
    EXPECT_EQ(add.data.hWnd, dlg.m_hWnd);
    EXPECT_EQ(add.data.uID, 1u);
    EXPECT_EQ(add.data.uFlags, (UINT)(NIF_MESSAGE | NIF_ICON | NIF_TIP));
    EXPECT_EQ(add.data.uCallbackMessage, (UINT)(WM_USER + 2));
    EXPECT_NE(add.data.hIcon, (HICON)NULL);
    EXPECT_STREQ(add.data.szTip, "Kelvaro");
    const HWND hWnd = dlg.m_hWnd;
    dlg.Close();
    ASSERT_EQ(g_iconCalls.size(), 2u);
    EXPECT_EQ(g_iconCalls[1].dwMessage, (DWORD)NIM_DELETE);
    EXPECT_EQ(g_iconCalls[1].data.hWnd, hWnd);
    EXPECT_EQ(g_iconCalls[1].data.uID, 1u);
    EXPECT_EQ(g_iconCalls[1].data.cbSize, (DWORD)NOTIFYICONDATAA_V1_SIZE);
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
    EXPECT_EQ(g_iconCalls.back().data.uCallbackMessage, (UINT)(WM_USER + 2));
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

TEST(TrayIcon, KeyboardContextMenuOpensAtTheClientCentre)
{
    IconRecorder rec;
    CPhoneDlgInTempDir dlg(kPortZero);
    ASSERT_TRUE(dlg.Create());
    ::SetWindowPos(dlg.m_hWnd, NULL, 10, 10, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    RECT rc;
    ::GetClientRect(dlg.m_hWnd, &rc);
    POINT centre = { rc.right / 2, rc.bottom / 2 };
    ::ClientToScreen(dlg.m_hWnd, &centre);
    MenuSeen seen = OpenPopup(dlg, WM_CONTEXTMENU, (WPARAM)dlg.m_hWnd, MAKELPARAM(-1, -1));
    ASSERT_TRUE(seen.bOpened);
    EXPECT_TRUE(seen.bRestoreGrayed);
    if (seen.rcMenu.right == 0 && seen.rcMenu.bottom == 0) {
        dlg.Close();
        GTEST_SKIP() << "the popup's window could not be found to read its position";
    }
    EXPECT_EQ(seen.rcMenu.left, centre.x);
    EXPECT_EQ(seen.rcMenu.top, centre.y);
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
