#include "phonebook/NameDlg.h"

BEGIN_MESSAGE_MAP(CNameDlg, CShapedDialog)
ON_WM_DESTROY()
END_MESSAGE_MAP()

CNameDlg::CNameDlg(CWnd* pParent) : CShapedDialog(IDD_NAME, pParent) { }

void CNameDlg::DoDataExchange(CDataExchange* pDX)
{
    CShapedDialog::DoDataExchange(pDX);
    DDX_Control(pDX, IDCANCEL, m_btnCancel);
    DDX_Control(pDX, IDOK, m_btnOK);
    DDX_Text(pDX, IDC_EDIT_MYNAME, m_strName);
}

BOOL CNameDlg::OnInitDialog()
{
    CShapedDialog::OnInitDialog();
    CreateButtonBrushes(m_brushLight, m_brushMedium, m_brushDark, { &m_btnOK, &m_btnCancel });
    return TRUE;
}

void CNameDlg::OnDestroy()
{
    DeleteButtonBrushes(m_brushLight, m_brushMedium, m_brushDark);
    CShapedDialog::OnDestroy();
}
