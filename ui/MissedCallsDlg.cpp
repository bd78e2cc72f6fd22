#include "ui/MissedCallsDlg.h"

#include "app/ConversationLog.h"

// A double click on a line calls back, as "かけ直す" does.
#define ON_LBN_DBLCLK(id, fn) { WM_COMMAND, LBN_DBLCLK, (UINT)(id), (UINT)(id), AfxSig_vv, AFX_VV(fn) },

BEGIN_MESSAGE_MAP(CMissedCallsDlg, CShapedDialog)
ON_BN_CLICKED(IDC_BTN_CALLBACK, OnCallBack)
ON_LBN_DBLCLK(IDC_LIST_MISSED, OnCallBack)
ON_BN_CLICKED(IDC_BTN_CLEAR, OnClear)
ON_WM_DESTROY()
END_MESSAGE_MAP()

CMissedCallsDlg::CMissedCallsDlg(CMissedCalls& rCalls, bool bCanCall, CWnd* pParent)
    : CShapedDialog(IDD_MISSED_CALLS, pParent), m_rCalls(rCalls), m_bCanCall(bCanCall)
{
}

CString CMissedCallsDlg::RowText(const CMissedCall& call)
{
    // "2026-05-14 12:00:01" is shown as "05/14 12:00".
    CString strWhen = call.strTime;
    if (strWhen.GetLength() >= 16) strWhen = call.strTime.Mid(5, 2) + "/" + call.strTime.Mid(8, 8);
    // Tabs and line breaks of a name sent by a peer must not shift the columns.
    return strWhen + "\t" + EscapeLineText(call.Caller()) + "\t" + EscapeLineText(call.strAddress) + "\t" +
        MissedCallKindText(call.kind);
}

void CMissedCallsDlg::DoDataExchange(CDataExchange* pDX)
{
    CShapedDialog::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_LIST_MISSED, m_lstCalls);
    DDX_Control(pDX, IDC_BTN_CALLBACK, m_btnCallBack);
    DDX_Control(pDX, IDC_BTN_CLEAR, m_btnClear);
    DDX_Control(pDX, IDCANCEL, m_btnClose);
}

BOOL CMissedCallsDlg::OnInitDialog()
{
    CShapedDialog::OnInitDialog();
    CreateButtonBrushes(
        m_brushLight, m_brushMedium, m_brushDark, { &m_btnCallBack, &m_btnClear, &m_btnClose });

    SetTabStops();
    for (int i = 0; i < m_rCalls.GetCount(); ++i) {
        m_lstCalls.AddString(RowText(m_rCalls.GetAt(i)));
        m_addresses.push_back(m_rCalls.GetAt(i).strAddress);
    }
    m_lstCalls.SendMessage(LB_SETCURSEL, 0);
    EnableButtons();
    return TRUE;
}

void CMissedCallsDlg::SetTabStops()
{
    // The columns start where the headings of the template stand (dialog units from the
    // list's left edge). The list turns them into pixels by its font when they are set.
    const int tabs[] = { 50, 120, 205 };
    m_lstCalls.SendMessage(LB_SETTABSTOPS, 3, (LPARAM)tabs);
}

// The list's font has changed with the scale: its tab stops are set again in the new one.
void CMissedCallsDlg::OnScaleChanged()
{
    SetTabStops();
    ::InvalidateRect(m_lstCalls.m_hWnd, NULL, TRUE);
}

void CMissedCallsDlg::EnableButtons()
{
    const bool bAny = m_lstCalls.GetCount() > 0;
    m_btnCallBack.EnableWindow(bAny && m_bCanCall);
    m_btnClear.EnableWindow(bAny);
}

void CMissedCallsDlg::OnOK() { OnCallBack(); }

void CMissedCallsDlg::OnCallBack()
{
    const int nSel = (int)m_lstCalls.SendMessage(LB_GETCURSEL);
    if (!m_bCanCall || nSel < 0 || nSel >= (int)m_addresses.size()) return;
    m_strCallBack = m_addresses[(size_t)nSel];
    EndDialog(IDOK);
}

void CMissedCallsDlg::OnClear()
{
    m_rCalls.Clear();
    m_bCleared = true;
    m_lstCalls.ResetContent();
    m_addresses.clear();
    // The focus leaves the button that is about to be disabled.
    ::SetFocus(m_btnClose.m_hWnd);
    EnableButtons();
}

void CMissedCallsDlg::OnDestroy()
{
    DeleteButtonBrushes(m_brushLight, m_brushMedium, m_brushDark);
    CShapedDialog::OnDestroy();
}
