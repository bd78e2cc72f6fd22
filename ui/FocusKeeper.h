// Keeps a dialog's keyboard focus where the user can go on: remembered when the dialog goes
// inactive (another window, hidden) and given back when it comes back; moved on when the
// control that held it is disabled or hidden, instead of leaving no control focused.
#pragma once

#include "platform/afxwin.h"

#include <functional>

class CFocusKeeper {
public:
    // goOn names the control the user goes on with when the focus has nowhere better to be.
    void Attach(HWND hDlg, std::function<HWND()> goOn);

    // WM_ACTIVATE: going inactive remembers the focused control; coming back gives it back.
    void Deactivated();
    void Activated();
    // While the dialog is active, a focus that no control holds (or one a disabled or hidden
    // control still holds) goes to the go-on control.
    void Mend();
    // The control the user goes on with, focused now (while the dialog is active) or on return.
    void GoOn();

    // Enabled and visible: can take the focus.
    static bool CanTakeFocus(HWND hCtl);

private:
    bool Active() const;

    HWND m_hDlg = NULL;
    HWND m_hSaved = NULL;
    std::function<HWND()> m_goOn;
};
