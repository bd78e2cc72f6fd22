#include "ui/FocusKeeper.h"

void CFocusKeeper::Attach(HWND hDlg, std::function<HWND()> goOn)
{
    m_hDlg = hDlg;
    m_goOn = std::move(goOn);
    m_hSaved = NULL;
}

bool CFocusKeeper::CanTakeFocus(HWND hCtl)
{
    return hCtl && ::IsWindowVisible(hCtl) && ::IsWindowEnabled(hCtl);
}

bool CFocusKeeper::Active() const
{
    return m_hDlg && ::IsWindow(m_hDlg) && ::GetActiveWindow() == m_hDlg && ::IsWindowVisible(m_hDlg);
}

void CFocusKeeper::Deactivated()
{
    const HWND hFocus = ::GetFocus();
    if (hFocus && hFocus != m_hDlg && ::IsChild(m_hDlg, hFocus)) m_hSaved = hFocus;
}

void CFocusKeeper::Activated()
{
    const HWND hSaved = m_hSaved;
    m_hSaved = NULL;
    if (hSaved && ::IsWindow(hSaved) && ::IsChild(m_hDlg, hSaved) && CanTakeFocus(hSaved))
        ::SetFocus(hSaved);
    else
        Mend();
}

void CFocusKeeper::Mend()
{
    if (!Active() || !m_goOn) return;
    const HWND hFocus = ::GetFocus();
    if (hFocus && hFocus != m_hDlg) {
        if (!::IsChild(m_hDlg, hFocus)) return; // a window of its own (a box, a menu) has it
        // The control itself, or the one a focused part (a combo's edit) belongs to.
        HWND hCtl = hFocus;
        while (::GetParent(hCtl) && ::GetParent(hCtl) != m_hDlg) hCtl = ::GetParent(hCtl);
        if (CanTakeFocus(hCtl)) return;
    }
    const HWND hGoOn = m_goOn();
    if (CanTakeFocus(hGoOn)) ::SetFocus(hGoOn);
}

void CFocusKeeper::GoOn()
{
    const HWND hGoOn = m_goOn ? m_goOn() : NULL;
    if (!CanTakeFocus(hGoOn)) return;
    if (Active())
        ::SetFocus(hGoOn);
    else
        m_hSaved = hGoOn;
}
