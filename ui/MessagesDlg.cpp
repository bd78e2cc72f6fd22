#include "ui/MessagesDlg.h"

#include "app/ConversationLog.h"
#include "call/ErrorText.h"
#include "res/resource.h"

#define ON_LBN_SELCHANGE(id, fn) { WM_COMMAND, LBN_SELCHANGE, (UINT)(id), (UINT)(id), AfxSig_vv, AFX_VV(fn) },
// A double click on a message calls back, as "かけ直す" does.
#define ON_LBN_DBLCLK(id, fn) { WM_COMMAND, LBN_DBLCLK, (UINT)(id), (UINT)(id), AfxSig_vv, AFX_VV(fn) },

BEGIN_MESSAGE_MAP(CMessagesDlg, CShapedDialog)
ON_LBN_SELCHANGE(IDC_LIST_MESSAGES, OnSelChange)
ON_LBN_DBLCLK(IDC_LIST_MESSAGES, OnCallBack)
ON_BN_CLICKED(IDC_BTN_MSG_CALLBACK, OnCallBack)
ON_BN_CLICKED(IDC_BTN_MSG_DELETE, OnDeleteMessage)
ON_WM_DESTROY()
END_MESSAGE_MAP()

CMessagesDlg::CMessagesDlg(CMessageStore& rStore, bool bCanCall, CWnd* pParent)
    : CShapedDialog(IDD_MESSAGES, pParent), m_rStore(rStore), m_bCanCall(bCanCall)
{
}

CString CMessagesDlg::RowText(const CStoredMessage& m)
{
    // "2026-12-08" and "10:15:03" are shown as "12/08 10:15"; name and address stand escaped.
    const CString strWhen = m.strDate.Mid(5, 2) + "/" + m.strDate.Mid(8, 2) + " " + m.strTime.Left(5);
    CString strLines;
    strLines.Format("%d行", (int)m.lines.size());
    return CString(m.bUnread ? "●" : "") + "\t" + strWhen + "\t" +
        (m.strName.IsEmpty() ? m.strAddress : m.strName) + "\t" + m.strAddress + "\t" +
        (m.strCode.IsEmpty() ? CString("暗号化なし") : "暗号化 " + m.strCode) + "\t" + strLines;
}

void CMessagesDlg::DoDataExchange(CDataExchange* pDX)
{
    CShapedDialog::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_LIST_MESSAGES, m_lstMessages);
    DDX_Control(pDX, IDC_LIST_MESSAGE_LINES, m_lstLines);
    DDX_Control(pDX, IDC_STATIC_MESSAGES_NOTE, m_stcNote);
    DDX_Control(pDX, IDC_BTN_MSG_CALLBACK, m_btnCallBack);
    DDX_Control(pDX, IDC_BTN_MSG_DELETE, m_btnDelete);
    DDX_Control(pDX, IDCANCEL, m_btnClose);
}

BOOL CMessagesDlg::OnInitDialog()
{
    CShapedDialog::OnInitDialog();
    CreateButtonBrushes(
        m_brushLight, m_brushMedium, m_brushDark, { &m_btnCallBack, &m_btnDelete, &m_btnClose });
    SetTabStops();
    // Lines that could not be read are not shown but stay in the file: the user is told.
    m_stcNote.SetWindowText(m_rStore.Damaged() ? "読めない行は表示せずに残しています。" : "");
    FillList(0);
    return TRUE;
}

void CMessagesDlg::SetTabStops()
{
    // Dialog units from the list's left edge, under the headings of the template.
    const int tabs[] = { 10, 62, 122, 187, 257 };
    m_lstMessages.SendMessage(LB_SETTABSTOPS, 5, (LPARAM)tabs);
}

void CMessagesDlg::OnScaleChanged()
{
    SetTabStops();
    ::InvalidateRect(m_lstMessages.m_hWnd, NULL, TRUE);
}

void CMessagesDlg::FillList(int nSel)
{
    m_lstMessages.ResetContent();
    m_nShown = m_rStore.GetCount();
    for (int i = 0; i < m_rStore.GetCount(); ++i) m_lstMessages.AddString(RowText(m_rStore.GetAt(i)));
    if (nSel >= m_lstMessages.GetCount()) nSel = m_lstMessages.GetCount() - 1;
    m_lstMessages.SendMessage(LB_SETCURSEL, (WPARAM)nSel);
    ShowSelected();
}

// The selected message's lines below the list; the message counts as read from now on.
void CMessagesDlg::ShowSelected()
{
    m_lstLines.ResetContent();
    const int nSel = (int)m_lstMessages.SendMessage(LB_GETCURSEL);
    const int i = Stored(nSel);
    if (nSel >= 0 && i < m_rStore.GetCount()) {
        for (const CString& line : m_rStore.GetAt(i).lines) m_lstLines.AddString(line);
        if (m_rStore.GetAt(i).bUnread) {
            Wrote(m_rStore.MarkRead(i));
            m_lstMessages.SendMessage(LB_DELETESTRING, (WPARAM)nSel);
            m_lstMessages.SendMessage(
                LB_INSERTSTRING, (WPARAM)nSel, (LPARAM)(const char*)RowText(m_rStore.GetAt(i)));
            m_lstMessages.SendMessage(LB_SETCURSEL, (WPARAM)nSel);
        }
    }
    EnableButtons();
}

void CMessagesDlg::Wrote(BOOL bOk)
{
    m_bChanged = true;
    if (!bOk && !m_bWriteFailed) {
        m_bWriteFailed = TRUE;
        const DWORD dwError = ::GetLastError();
        AfxMessageBox("留守録を保存できませんでした。\r\n" + m_rStore.Path() + "\r\n" + ErrorText(dwError),
            MB_OK | MB_ICONEXCLAMATION);
    }
}

void CMessagesDlg::EnableButtons()
{
    const bool bAny = m_lstMessages.SendMessage(LB_GETCURSEL) != LB_ERR;
    m_btnCallBack.EnableWindow(bAny && m_bCanCall);
    m_btnDelete.EnableWindow(bAny);
}

void CMessagesDlg::OnSelChange() { ShowSelected(); }

void CMessagesDlg::OnOK() { OnCallBack(); }

void CMessagesDlg::OnCallBack()
{
    const int nSel = (int)m_lstMessages.SendMessage(LB_GETCURSEL);
    if (!m_bCanCall || nSel < 0 || Stored(nSel) >= m_rStore.GetCount()) return;
    m_strCallBack = UnescapeLineText(m_rStore.GetAt(Stored(nSel)).strAddress);
    EndDialog(IDOK);
}

void CMessagesDlg::OnDeleteMessage()
{
    const int nSel = (int)m_lstMessages.SendMessage(LB_GETCURSEL);
    if (nSel < 0 || Stored(nSel) >= m_rStore.GetCount()) return;
    Wrote(m_rStore.Remove(Stored(nSel)));
    FillList(nSel);
    // The focus leaves a button about to be disabled.
    if (m_lstMessages.GetCount() == 0) ::SetFocus(m_btnClose.m_hWnd);
}

void CMessagesDlg::OnDestroy()
{
    DeleteButtonBrushes(m_brushLight, m_brushMedium, m_brushDark);
    CShapedDialog::OnDestroy();
}
