#include "app/PhoneApp.h"

#include "app/LaunchRules.h"
#include "app/PhoneDlg.h"
#include "app/SingleInstance.h"
#include "platform/afxsock.h"

CPhoneApp::CPhoneApp() { }

CPhoneApp theApp;

BOOL CPhoneApp::InitInstance()
{
    // One copy per folder: a second start hands over to the running copy and ends, no box.
    static CSingleInstance instance;
    const std::wstring strProgram = ModulePathW();
    const std::wstring strName =
        InstanceName(FoldPath(strProgram.substr(0, strProgram.find_last_of(L'\\') + 1)));
    if (!strProgram.empty() && !instance.Claim(strName)) {
        CSingleInstance::BringForwardRunning(strName, 5000);
        return FALSE;
    }

    if (!AfxSocketInit()) {
        AfxMessageBox(IDS_SOCKETS_INIT_FAILED, MB_OK);
        return FALSE;
    }
    SetDialogBkColor(kClrDialogBk, kClrDialogText);

    CPhoneDlg dlg;
    if (CommandLineAsksForTray(::GetCommandLineW())) dlg.StartInTray();
    m_pMainWnd = &dlg;
    dlg.DoModal();
    m_pMainWnd = nullptr;
    // No message loop of its own: the process ends here.
    return FALSE;
}
