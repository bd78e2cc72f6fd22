// The application object: starts Windows Sockets, sets the dialog colours and runs the main
// window; the program ends when the main window does.
#pragma once

#include "platform/afxwin.h"

class CPhoneApp : public CWinApp {
public:
    CPhoneApp();
    BOOL InitInstance() override;
};
