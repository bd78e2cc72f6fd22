#include "ui/LinkStatic.h"

BEGIN_MESSAGE_MAP(CLinkStatic, CStatic)
ON_MESSAGE(WM_GETDLGCODE, OnGetDlgCode)
ON_MESSAGE(WM_KEYDOWN, OnKeyDown)
ON_MESSAGE(WM_SETFOCUS, OnFocusChanged)
ON_MESSAGE(WM_KILLFOCUS, OnFocusChanged)
ON_WM_PAINT()
END_MESSAGE_MAP()

// The dialog keeps Enter for its default button unless the focused control asks for it.
LRESULT CLinkStatic::OnGetDlgCode(WPARAM, LPARAM lParam)
{
    const MSG* pMsg = (const MSG*)lParam;
    if (pMsg && pMsg->message == WM_KEYDOWN && pMsg->wParam == VK_RETURN) return DLGC_WANTMESSAGE;
    return Default();
}

LRESULT CLinkStatic::OnKeyDown(WPARAM wParam, LPARAM)
{
    if (wParam != VK_RETURN && wParam != VK_SPACE) return Default();
    HWND hParent = ::GetParent(m_hWnd);
    ::SendMessageA(hParent, WM_COMMAND, MAKEWPARAM(::GetDlgCtrlID(m_hWnd), STN_CLICKED), (LPARAM)m_hWnd);
    return 0;
}

LRESULT CLinkStatic::OnFocusChanged(WPARAM, LPARAM)
{
    ::InvalidateRect(m_hWnd, NULL, TRUE);
    return Default();
}

void CLinkStatic::OnPaint()
{
    Default();
    // Focus cues stay hidden until the keyboard is used, as for the dialog's buttons.
    const bool bCues = !(::SendMessageA(m_hWnd, WM_QUERYUISTATE, 0, 0) & UISF_HIDEFOCUS);
    if (::GetFocus() != m_hWnd || !bCues) return;
    RECT rc;
    GetClientRect(&rc);
    ::InflateRect(&rc, -1, -1);
    HDC hdc = ::GetDC(m_hWnd);
    ::DrawFocusRect(hdc, &rc);
    ::ReleaseDC(m_hWnd, hdc);
}
