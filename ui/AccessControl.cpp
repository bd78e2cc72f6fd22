// The main window for keyboard users and screen readers: names for the controls without a
// label in reading order, the displays whose changes are announced, the popup menu from the
// keyboard, and the control the focus goes on to.
#include "app/PhoneDlg.h"

void CPhoneDlg::StartAccessibility()
{
    m_access.Attach(m_hWnd,
        { { IDC_BTN_HIDE, "アイコン化" }, { IDC_EDIT_PORT, "ポート" }, { IDC_COMBO_PHONEBOOK, "電話帳" },
            { IDC_LIST_SEND, "送信" }, { IDC_EDIT_SEND, "送信する行" }, { IDC_LIST_RECEIVE, "受信" } },
        { { IDC_STATIC_STATUS, nullptr }, { IDC_STATIC_PARTNER, "相手の名前" },
            { IDC_STATIC_SECURE, nullptr } },
        IDC_LIST_RECEIVE);
    m_notifier.SetAnnouncer(&m_access);
    // Edits keep their own menu; the rest ask the window for its popup menu.
    for (HWND h = ::GetWindow(m_hWnd, GW_CHILD); h; h = ::GetWindow(h, GW_HWNDNEXT)) {
        char cls[16] = "";
        ::GetClassNameA(h, cls, sizeof cls);
        if (lstrcmpiA(cls, "Edit") != 0 && (::GetWindowLongA(h, GWL_STYLE) & WS_TABSTOP))
            CAccessibility::AddContextKeys(h);
    }
}

HWND CPhoneDlg::GoOnControl()
{
    // A call rings: answer it. A call stands: talk. Idle: an address to call.
    if (m_btnAnswer.IsWindowEnabled()) return m_btnAnswer.m_hWnd;
    if (!m_btnCall.IsWindowEnabled()) return m_edtSend.m_hWnd;
    return m_edtAddress.m_hWnd;
}
