// The notification-area icon, the popup menu, the system-menu item, and hiding and restoring
// the main window.
#include "app/PhoneDlg.h"
#include "app/SingleInstance.h"
#include "app/StartWithWindows.h"
#include "ui/TrayIcon.h"

namespace {
const UINT kTrayIconId = CNotifier::kTrayIconId;

// Sent to every top-level window when the shell's notification area has been rebuilt.
UINT TaskbarCreatedMessage()
{
    static const UINT msg = ::RegisterWindowMessageA("TaskbarCreated");
    return msg;
}
} // namespace

void CPhoneDlg::AddTrayIcon()
{
    m_notifier.Attach(m_hWnd);
    CTrayIcon().AddResourceIcon(m_hWnd, kTrayIconId, WM_TRAYNOTIFY, IDR_MAINFRAME,
        m_notifier.TipForNewIcon(m_journal.Missed().GetCount()));
    m_bTrayKeys = CTrayIcon().SetVersion4(m_hWnd, kTrayIconId) != FALSE;
}

void AddSystemMenuItem(HWND hWnd)
{
    HMENU hSysMenu = ::GetSystemMenu(hWnd, FALSE);
    if (!hSysMenu) return;
    CString strAboutMenu;
    strAboutMenu.LoadString(IDS_ABOUTBOX);
    if (strAboutMenu.IsEmpty()) return;
    ::AppendMenuA(hSysMenu, MF_SEPARATOR, 0, NULL);
    ::AppendMenuA(hSysMenu, MF_STRING, IDM_ABOUTBOX, strAboutMenu);
}

LRESULT CPhoneDlg::WindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == TaskbarCreatedMessage() && message != 0) {
        // Without its icon a hidden window could never come back: put the icon in again.
        AddTrayIcon();
        return 0;
    }
    if (message == CSingleInstance::BringForwardMessage() && message != 0) {
        BringForward();
        return 0;
    }
    if (message == WM_WINDOWPOSCHANGING && m_bStartInTray) {
        // Started at logon: nothing shows the window until it is restored.
        ((WINDOWPOS*)lParam)->flags &= ~SWP_SHOWWINDOW;
    }
    // The outermost message only: the focus is looked at once the handler is through.
    ++m_nMessageDepth;
    const LRESULT result = CShapedDialog::WindowProc(message, wParam, lParam);
    if (--m_nMessageDepth == 0 && m_hWnd) {
        m_focus.Mend();
        m_access.Poll();
    }
    return result;
}

LRESULT CPhoneDlg::OnTrayNotify(WPARAM wParam, LPARAM lParam)
{
    // With the keyboard version the event is the low word; without it, the whole lParam.
    switch (LOWORD(lParam)) {
    case WM_RBUTTONDOWN: {
        if (m_bTrayKeys) break; // WM_CONTEXTMENU follows
        CPoint pt;
        ::GetCursorPos(&pt);
        SetForegroundWindow();
        OnContextMenu(this, pt);
        break;
    }
    case WM_CONTEXTMENU: {
        // Right click or the context key on the icon: the anchor comes in wParam.
        CPoint pt((short)LOWORD(wParam), (short)HIWORD(wParam));
        if (!m_bTrayKeys) ::GetCursorPos(&pt);
        SetForegroundWindow();
        OnContextMenu(this, pt);
        break;
    }
    case NIN_SELECT:
    case NIN_KEYSELECT:
        // The icon chosen with a click, Space or Enter: the window comes back.
        if (m_bInTray) OnRestore();
        SetForegroundWindow();
        break;
    case WM_LBUTTONDOWN:
        SetForegroundWindow();
        break;
    default:
        break;
    }
    return 0;
}

void CPhoneDlg::OnContextMenu(CWnd*, CPoint point)
{
    CMenu menu;
    if (!menu.LoadMenu(IDR_MENU_TRAY)) return;
    CMenu* pPopup = menu.GetSubMenu(0);
    if (!pPopup) return;
    pPopup->EnableMenuItem(ID_RESTORE, MF_BYCOMMAND | (m_bInTray ? MF_ENABLED : MF_GRAYED));
    m_notifier.PrepareMenu(pPopup->m_hMenu, m_journal.Missed().GetCount(), m_journal.LogOn());
    ::CheckMenuItem(pPopup->m_hMenu, ID_REQUIRE_SECURE,
        MF_BYCOMMAND | (m_core.RequireSecure() ? MF_CHECKED : MF_UNCHECKED));
    ::CheckMenuItem(pPopup->m_hMenu, ID_NEARBY_ANNOUNCE,
        MF_BYCOMMAND | (m_nearby.Announce() ? MF_CHECKED : MF_UNCHECKED));
    ::CheckMenuItem(pPopup->m_hMenu, ID_START_WITH_WINDOWS,
        MF_BYCOMMAND | (CStartWithWindows().IsOn() ? MF_CHECKED : MF_UNCHECKED));

    if (point.x == -1 && point.y == -1) {
        // Asked for from the keyboard: the centre of the focused control, or of the client area.
        CRect rc;
        const HWND hFocus = ::GetFocus();
        if (hFocus && ::IsChild(m_hWnd, hFocus)) {
            ::GetWindowRect(hFocus, &rc);
        } else {
            GetClientRect(&rc);
            ClientToScreen(&rc);
        }
        point.x = rc.left + (rc.right - rc.left) / 2;
        point.y = rc.top + (rc.bottom - rc.top) / 2;
    }
    pPopup->TrackPopupMenu(TPM_LEFTALIGN | TPM_RIGHTBUTTON, point.x, point.y, this);
    menu.DestroyMenu();
}

void CPhoneDlg::OnSysCommand(UINT nID, LPARAM lParam)
{
    if ((nID & 0xFFF0) == IDM_ABOUTBOX) {
        OnAppAbout();
        return;
    }
    CShapedDialog::OnSysCommand(nID, lParam);
}

void CPhoneDlg::OnHide()
{
    // Brought back, the window goes on where the user was, not on the hide button.
    if (::GetFocus() == m_btnHide.m_hWnd) m_focus.GoOn();
    ShowWindow(SW_HIDE);
    m_bInTray = true;
}

void CPhoneDlg::OnRestore()
{
    m_bStartInTray = false;
    ShowWindow(SW_RESTORE);
    m_bInTray = false;
}

void CPhoneDlg::BringForward()
{
    if (m_bInTray || m_bStartInTray || !IsWindowVisible())
        OnRestore();
    else if (::IsIconic(m_hWnd))
        ShowWindow(SW_RESTORE);
    SetForegroundWindow();
}

void CPhoneDlg::OnStartWithWindows()
{
    const CStartWithWindows run;
    if (const DWORD dwError = run.Set(!run.IsOn())) ShowSystemError(dwError);
}
