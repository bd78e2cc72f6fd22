#include "ui/AboutDlg.h"

#include "ui/Documents.h"
#include "app/Paths.h"
#include "app/PhoneDlg.h"

#include <shellapi.h>

// ---------------------------------------------------------------------------------------------
// Documents

namespace {
PFN_SHELL_EXECUTE g_pfnShellExecute = nullptr;
}

void SetShellExecuteHook(PFN_SHELL_EXECUTE pfn) { g_pfnShellExecute = pfn; }

void OpenDocumentFrom(HWND hWnd, const CString& strTarget)
{
    if (!::IsWindow(hWnd)) return;
    CString strDir = PathFolder(strTarget);
    PFN_SHELL_EXECUTE pfn = g_pfnShellExecute ? g_pfnShellExecute : ::ShellExecuteA;
    pfn(hWnd, NULL, strTarget, NULL, strDir, SW_SHOWDEFAULT);
}

CString DocumentPath(const char* pszFormat)
{
    CString path;
    path.Format(pszFormat, ModuleFolder().GetString());
    return path;
}

// ---------------------------------------------------------------------------------------------
// CAboutDlg

const char CAboutDlg::kHomePageUrl[] = KELVARO_HOMEPAGE_URL;
const char CAboutDlg::kMailUrl[] = "mailto:" KELVARO_MAIL_ADDRESS;

BEGIN_MESSAGE_MAP(CAboutDlg, CShapedDialog)
ON_BN_CLICKED(IDC_BTN_HISTORY, OnHistory)
ON_BN_CLICKED(IDC_BTN_README, OnReadme)
ON_STN_CLICKED(IDC_STATIC_MAIL, OnMail)
ON_STN_CLICKED(IDC_STATIC_HOMEPAGE, OnHomePage)
ON_WM_DESTROY()
END_MESSAGE_MAP()

CAboutDlg::CAboutDlg() : CShapedDialog(IDD_ABOUTBOX, NULL) { }

CAboutDlg::~CAboutDlg()
{
    // The icon control is gone with the window by now.
    if (m_hIcon) ::DestroyIcon(m_hIcon);
}

void CAboutDlg::DoDataExchange(CDataExchange* pDX)
{
    CShapedDialog::DoDataExchange(pDX);
    DDX_Control(pDX, IDOK, m_btnOK);
    DDX_Control(pDX, IDC_BTN_HISTORY, m_btnHistory);
    DDX_Control(pDX, IDC_BTN_README, m_btnReadme);
    DDX_Control(pDX, IDC_STATIC_HOMEPAGE, m_stcHomePage);
    DDX_Control(pDX, IDC_STATIC_MAIL, m_stcMail);
}

BOOL CAboutDlg::OnInitDialog()
{
    CShapedDialog::OnInitDialog();
    CreateButtonBrushes(m_brushLight, m_brushMedium, m_brushDark, { &m_btnOK, &m_btnReadme, &m_btnHistory });
    return TRUE;
}

void CAboutDlg::OpenDocument(CString strTarget) { OpenDocumentFrom(m_hWnd, strTarget); }
void CAboutDlg::OnHistory() { OpenDocument(DocumentPath(kHistoryFormat)); }
void CAboutDlg::OnReadme() { OpenDocument(DocumentPath(kReadmeFormat)); }
void CAboutDlg::OnMail() { OpenDocument(kMailUrl); }
void CAboutDlg::OnHomePage() { OpenDocument(kHomePageUrl); }

void CAboutDlg::OnScaleChanged()
{
    for (HWND h = ::GetWindow(m_hWnd, GW_CHILD); h; h = ::GetWindow(h, GW_HWNDNEXT)) {
        if ((::GetWindowLongA(h, GWL_STYLE) & SS_TYPEMASK) != SS_ICON) continue;
        const int nSize = SystemMetricForDpi(SM_CXICON, Dpi());
        HICON hIcon = (HICON)::LoadImageA(AfxGetResourceHandle(), MAKEINTRESOURCEA(IDR_MAINFRAME), IMAGE_ICON,
            nSize, nSize, LR_DEFAULTCOLOR);
        if (!hIcon) return;
        ::SendMessageA(h, STM_SETICON, (WPARAM)hIcon, 0);
        if (m_hIcon) ::DestroyIcon(m_hIcon);
        m_hIcon = hIcon;
        return;
    }
}

void CAboutDlg::OnDestroy()
{
    DeleteButtonBrushes(m_brushLight, m_brushMedium, m_brushDark);
    CShapedDialog::OnDestroy();
}

// ---------------------------------------------------------------------------------------------
// The main window's version box and document commands

void CPhoneDlg::OpenDocument(CString strTarget) { OpenDocumentFrom(m_hWnd, strTarget); }
void CPhoneDlg::OnHistory() { OpenDocument(DocumentPath(kHistoryFormat)); }
void CPhoneDlg::OnReadme() { OpenDocument(DocumentPath(kReadmeFormat)); }

void CPhoneDlg::OnVersion() { OnAppAbout(); }

void CPhoneDlg::OnAppAbout()
{
    CAboutDlg dlg;
    dlg.DoModal();
}
