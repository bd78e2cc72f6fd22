// How the user learns of calls and lines while not looking at the window: the ring while a call
// rings, the count of unread lines, balloons from the notification-area icon and the icon's tip;
// with the option of the ring. Do-not-disturb is the call core's: the tip and the menu read it
// there.
#pragma once

#include "platform/afxwin.h"

#include <vector>

class CAccessibility;
class CCallCore;

class CNotifier {
public:
    static const UINT kTrayIconId = 1;

    explicit CNotifier(const CCallCore& core) : m_core(core) { }

    // The window that owns the icon and the ring's timer.
    void Attach(HWND hWnd) { m_hWnd = hWnd; }
    // Where the ring and lines the user sees arriving are announced to screen readers.
    void SetAnnouncer(CAccessibility* pAccess) { m_pAccess = pAccess; }

    bool SoundOn() const { return m_bSoundOn; }
    void SetSoundOn(bool bOn);

    // A call rings, or no longer: the ring sounds every two seconds while it does and sound is on.
    void SetRinging(bool bRinging);
    // WM_TIMER of the window; true when it was the ring's.
    bool OnTimer(UINT_PTR nTimer);

    // Lines listed: while the user does not look at the window they are counted, and the newest
    // is shown in a balloon titled with strFrom.
    void LinesReceived(const std::vector<CString>& lines, const CString& strFrom);
    // The window became active (and not minimised), or inactive: when active, the user has read
    // what came.
    void SetActive(bool bActive);

    // "Kelvaro - 応答しない - 不在着信 (3) - 未読 (12)", each part only when it applies.
    CString Tip() const;
    // The icon's tip after a change of the missed calls' count (or anything else in it).
    void UpdateTip(int nMissed);
    // The icon is added (again): its tip as of now.
    CString TipForNewIcon(int nMissed);
    // The popup menu's items of the missed calls and the options, as they stand.
    void PrepareMenu(HMENU hPopup, int nMissed, bool bLogOn) const;

private:
    void StartRing();
    void StopRing();

    const CCallCore& m_core;
    HWND m_hWnd = NULL;
    CAccessibility* m_pAccess = nullptr;
    bool m_bSoundOn = true;
    bool m_bRinging = false;
    bool m_bRingTimer = false;
    bool m_bActive = false;
    int m_nUnread = 0; // lines received while the user did not look
    int m_nMissed = 0; // as last told
    CString m_strTipShown; // the icon's tip as last set
};
