#include "NameDlg.h"

BEGIN_MESSAGE_MAP(CNameDlg, CShapedDialog)
    ON_WM_DESTROY()
END_MESSAGE_MAP()

CNameDlg::CNameDlg(CWnd* pParent) : CShapedDialog(IDD_NAME, pParent) {}

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
    SetCaptionColors(kClrCaptionActive, kClrCaptionInactive);
    m_brushLight.CreateSolidBrush(kClrBrushLight);
    m_brushMedium.CreateSolidBrush(kClrBrushMedium);
    m_brushDark.CreateSolidBrush(kClrBrushDark);
    m_btnOK.SetBrushes(&m_brushLight, &m_brushMedium, &m_brushDark);
    m_btnCancel.SetBrushes(&m_brushLight, &m_brushMedium, &m_brushDark);
    return TRUE;
}

void CNameDlg::OnDestroy()
{
    m_brushLight.DeleteObject();
    m_brushMedium.DeleteObject();
    m_brushDark.DeleteObject();
    CShapedDialog::OnDestroy();
}
