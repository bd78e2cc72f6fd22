// The standard controls: owner draw passed back to buttons, list and combo item texts.
#include "platform/afxwin.h"

BOOL CButton::OnChildNotify(UINT message, WPARAM, LPARAM lParam, LRESULT* pResult)
{
    if (message != WM_DRAWITEM) return FALSE;
    DrawItem((LPDRAWITEMSTRUCT)lParam);
    *pResult = TRUE;
    return TRUE;
}

// Text of a list or combo item, asked for with the control's length and text messages.
static void GetItemText(const CWnd& wnd, UINT nLenMsg, UINT nTextMsg, int nIndex, CString& rString)
{
    int n = (int)wnd.SendMessage(nLenMsg, (WPARAM)nIndex);
    if (n < 0) {
        rString.Empty();
        return;
    }
    char* p = rString.GetBuffer(n + 1);
    int got = (int)wnd.SendMessage(nTextMsg, (WPARAM)nIndex, (LPARAM)p);
    rString.ReleaseBuffer(got < 0 ? 0 : got);
}

void CListBox::GetText(int nIndex, CString& rString) const
{
    GetItemText(*this, LB_GETTEXTLEN, LB_GETTEXT, nIndex, rString);
}

void CComboBox::GetLBText(int nIndex, CString& rString) const
{
    GetItemText(*this, CB_GETLBTEXTLEN, CB_GETLBTEXT, nIndex, rString);
}
