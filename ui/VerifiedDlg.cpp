#include "ui/VerifiedDlg.h"

#include "app/ConversationLog.h"
#include "app/PhoneDlg.h"

BEGIN_MESSAGE_MAP(CVerifiedDlg, CShapedDialog)
ON_BN_CLICKED(IDC_BTN_UNVERIFY, OnUnverify)
ON_WM_DESTROY()
END_MESSAGE_MAP()

CVerifiedDlg::CVerifiedDlg(CTrust& rTrust, CWnd* pParent)
    : CShapedDialog(IDD_VERIFIED, pParent), m_rTrust(rTrust)
{
}

CString CVerifiedDlg::RowText(const CVerifiedContact& c)
{
    // "2026-12-08 10:30:00" is shown as "2026-12-08"; a name sent by a peer must not shift columns.
    const CString strPlace = c.strPort.IsEmpty() ? c.strAddress : c.strAddress + ":" + c.strPort;
    return c.strWhen.Left(10) + "\t" + EscapeLineText(c.strName) + "\t" + EscapeLineText(strPlace) + "\t" +
        CString(c.strFingerprint.substr(0, 16));
}

void CVerifiedDlg::DoDataExchange(CDataExchange* pDX)
{
    CShapedDialog::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_LIST_VERIFIED, m_lstContacts);
    DDX_Control(pDX, IDC_BTN_UNVERIFY, m_btnUnverify);
    DDX_Control(pDX, IDCANCEL, m_btnClose);
}

BOOL CVerifiedDlg::OnInitDialog()
{
    CShapedDialog::OnInitDialog();
    CreateButtonBrushes(m_brushLight, m_brushMedium, m_brushDark, { &m_btnUnverify, &m_btnClose });
    SetTabStops();
    Fill();
    return TRUE;
}

void CVerifiedDlg::Fill()
{
    m_lstContacts.ResetContent();
    m_fingerprints.clear();
    for (const CVerifiedContact& c : m_rTrust.Contacts().All()) {
        m_lstContacts.AddString(RowText(c));
        m_fingerprints.push_back(c.strFingerprint);
    }
    m_lstContacts.SendMessage(LB_SETCURSEL, 0);
    if (m_fingerprints.empty()) ::SetFocus(m_btnClose.m_hWnd);
    m_btnUnverify.EnableWindow(!m_fingerprints.empty());
}

void CVerifiedDlg::SetTabStops()
{
    const int tabs[] = { 50, 120, 205 };
    m_lstContacts.SendMessage(LB_SETTABSTOPS, 3, (LPARAM)tabs);
}

void CVerifiedDlg::OnScaleChanged()
{
    SetTabStops();
    ::InvalidateRect(m_lstContacts.m_hWnd, NULL, TRUE);
}

void CVerifiedDlg::OnUnverify()
{
    const int nSel = (int)m_lstContacts.SendMessage(LB_GETCURSEL);
    if (nSel < 0 || nSel >= (int)m_fingerprints.size()) return;
    const CVerifiedContact& c = m_rTrust.Contacts().All()[(size_t)nSel];
    const CString strAsk = "「" + EscapeLineText(c.strName) +
        "」の確認を取り消しますか？\r\n次にこの相手と話すときは、番号を読み合わせて、もう一度確認してください"
        "。";
    if (AfxMessageBox(strAsk, MB_OKCANCEL | MB_ICONQUESTION) != IDOK) return;
    if (!m_rTrust.Unverify(m_fingerprints[(size_t)nSel])) CPhoneDlg::ShowSystemError(::GetLastError());
    Fill();
}

void CVerifiedDlg::OnDestroy()
{
    DeleteButtonBrushes(m_brushLight, m_brushMedium, m_brushDark);
    CShapedDialog::OnDestroy();
}

void CPhoneDlg::OnVerifiedContacts()
{
    CVerifiedDlg dlg(m_trust, this);
    dlg.DoModal();
    m_nearby.Relabel();
}
