#include "app/PhoneApp.h"

#include "app/PhoneDlg.h"
#include "platform/afxsock.h"

CPhoneApp::CPhoneApp() { }

CPhoneApp theApp;

BOOL CPhoneApp::InitInstance()
{
    if (!AfxSocketInit()) {
        AfxMessageBox(IDS_SOCKETS_INIT_FAILED, MB_OK);
        return FALSE;
    }
    SetDialogBkColor(kClrDialogBk, kClrDialogText);

    CPhoneDlg dlg;
    m_pMainWnd = &dlg;
    dlg.DoModal();
    m_pMainWnd = nullptr;
    // No message loop of its own: the process ends here.
    return FALSE;
}
