// Dialogs: data exchange, modal and modeless runs, the application's dialog colours.
#include "platform/afxwin.h"

#include "platform/afximpl.h"

// ---------------------------------------------------------------------------------------------
// Dialog data exchange

void DDX_Control(CDataExchange* pDX, int nIDC, CWnd& rControl)
{
    if (rControl.m_hWnd) return; // linked once, at the first exchange
    rControl.SubclassWindow(::GetDlgItem(pDX->m_pDlgWnd->m_hWnd, nIDC));
}

void DDX_Text(CDataExchange* pDX, int nIDC, CString& value)
{
    HWND hCtl = ::GetDlgItem(pDX->m_pDlgWnd->m_hWnd, nIDC);
    if (!hCtl) return;
    if (pDX->m_bSaveAndValidate) {
        CWnd::FromHandle(hCtl)->GetWindowText(value);
    } else {
        ::SetWindowTextA(hCtl, value);
    }
}

// ---------------------------------------------------------------------------------------------
// CDialog

BEGIN_MESSAGE_MAP(CDialog, CWnd)
ON_COMMAND(IDOK, OnOK)
ON_COMMAND(IDCANCEL, OnCancel)
END_MESSAGE_MAP()

CDialog::CDialog(UINT nIDTemplate, CWnd* pParentWnd)
    : m_nIDTemplate(nIDTemplate), m_pParentWnd(pParentWnd) { }

INT_PTR CALLBACK AfxDlgProc(HWND hWnd, UINT message, WPARAM, LPARAM)
{
    if (message == WM_INITDIALOG) {
        CDialog* pDlg = dynamic_cast<CDialog*>(CWnd::FromHandlePermanent(hWnd));
        if (pDlg) return pDlg->OnInitDialog();
    }
    return FALSE;
}

HWND CDialog::OwnerWindow() const
{
    if (m_pParentWnd) return m_pParentWnd->m_hWnd;
    // Without a parent, the application's main window owns the dialog.
    CWnd* pMain = AfxGetMainWnd();
    if (pMain && pMain != this && ::IsWindow(pMain->m_hWnd)) return pMain->m_hWnd;
    return NULL;
}

INT_PTR CDialog::DoModal()
{
    m_bModeless = false;
    m_bEnded = false;
    m_nEndResult = -1;
    HWND hOwner = OwnerWindow();
    AfxHookWindowCreate(this);
    HWND hWnd =
        ::CreateDialogParamA(AfxGetResourceHandle(), MAKEINTRESOURCEA(m_nIDTemplate), hOwner, AfxDlgProc, 0);
    AfxUnhookWindowCreate();
    if (!hWnd) return -1;

    // The owner takes no input while the dialog runs.
    const bool bOwnerWasEnabled = hOwner && ::IsWindowEnabled(hOwner);
    if (bOwnerWasEnabled) ::EnableWindow(hOwner, FALSE);
    RunModalLoop(hWnd);
    if (bOwnerWasEnabled) ::EnableWindow(hOwner, TRUE);
    if (::IsWindow(hWnd)) ::DestroyWindow(hWnd);
    return m_nEndResult;
}

// Dispatches messages until EndDialog. A dialog not yet on screen is shown when the queue
// first runs empty; one that was visible when the loop began and has been hidden since (by a
// command posted during initialisation, say) stays hidden. The system's own dialog loop shows
// it regardless, which is why the program runs its own.
void CDialog::RunModalLoop(HWND hWnd)
{
    bool bShowOnIdle = !::IsWindowVisible(hWnd);
    while (!m_bEnded && ::IsWindow(hWnd)) {
        MSG msg;
        if (bShowOnIdle && !::PeekMessageA(&msg, NULL, 0, 0, PM_NOREMOVE)) {
            bShowOnIdle = false;
            ::ShowWindow(hWnd, SW_SHOWNORMAL);
            continue;
        }
        const BOOL bGot = ::GetMessageA(&msg, NULL, 0, 0);
        if (bGot == -1) break;
        if (!bGot) {
            // Leave the quit for the loop outside.
            ::PostQuitMessage((int)msg.wParam);
            break;
        }
        if (!::IsDialogMessageA(hWnd, &msg)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageA(&msg);
        }
    }
}

BOOL CDialog::Create(UINT nIDTemplate, CWnd* pParentWnd)
{
    m_nIDTemplate = nIDTemplate;
    if (pParentWnd) m_pParentWnd = pParentWnd;
    m_bModeless = true;
    m_bEnded = false;
    AfxHookWindowCreate(this);
    HWND hWnd = ::CreateDialogParamA(
        AfxGetResourceHandle(), MAKEINTRESOURCEA(m_nIDTemplate), OwnerWindow(), AfxDlgProc, 0);
    AfxUnhookWindowCreate();
    return hWnd != NULL;
}

void CDialog::EndDialog(int nResult)
{
    m_bEnded = true;
    m_nEndResult = nResult;
    // A modeless dialog only hides (the caller destroys it); a modal run ends in its loop.
    if (m_bModeless) ::ShowWindow(m_hWnd, SW_HIDE);
}

BOOL CDialog::UpdateData(BOOL bSaveAndValidate)
{
    CDataExchange dx(this, bSaveAndValidate);
    DoDataExchange(&dx);
    return TRUE;
}

BOOL CDialog::OnInitDialog()
{
    UpdateData(FALSE);
    return TRUE;
}

void CDialog::OnOK()
{
    if (!UpdateData(TRUE)) return;
    EndDialog(IDOK);
}

void CDialog::OnCancel() { EndDialog(IDCANCEL); }

LRESULT CDialog::WindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORMSGBOX: {
        // The application's dialog colours: the dialog's own background, its statics and
        // check boxes. Disabled or read-only edits also ask with WM_CTLCOLORSTATIC; they keep
        // the system's look so that users can still tell them for edits.
        CWinApp* pApp = AfxGetApp();
        if (!pApp || !pApp->GetDialogBkBrush()) break;
        LRESULT mapped = 0;
        if (OnWndMsg(message, wParam, lParam, &mapped)) return mapped;
        if (message == WM_CTLCOLORSTATIC) {
            char cls[16] = "";
            ::GetClassNameA((HWND)lParam, cls, sizeof cls);
            if (lstrcmpiA(cls, "Edit") == 0) break;
        }
        HDC hdc = (HDC)wParam;
        ::SetBkColor(hdc, pApp->GetDialogBkColor());
        ::SetTextColor(hdc, pApp->GetDialogTextColor());
        return (LRESULT)pApp->GetDialogBkBrush();
    }
    default:
        break;
    }
    return CWnd::WindowProc(message, wParam, lParam);
}
