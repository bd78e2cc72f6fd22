#include "ui/Notifier.h"

#include "app/ConversationLog.h"
#include "call/CallCore.h"
#include "res/resource.h"
#include "ui/Accessibility.h"
#include "ui/Sound.h"
#include "ui/TrayIcon.h"

namespace {
const UINT_PTR kRingTimer = 0x5249; // apart from the receive path's timer
const UINT kRingIntervalMs = 2000;
} // namespace

void CNotifier::SetSoundOn(bool bOn)
{
    m_bSoundOn = bOn;
    if (bOn)
        StartRing();
    else
        StopRing();
}

void CNotifier::SetRinging(bool bRinging)
{
    if (bRinging && !m_bRinging) CAccessibility::Alert(::GetDlgItem(m_hWnd, IDC_BTN_ANSWER));
    m_bRinging = bRinging;
    if (bRinging)
        StartRing();
    else
        StopRing();
}

void CNotifier::StartRing()
{
    if (!m_bSoundOn || !m_bRinging || m_bRingTimer) return;
    PlayRing();
    m_bRingTimer = ::SetTimer(m_hWnd, kRingTimer, kRingIntervalMs, NULL) != 0;
}

void CNotifier::StopRing()
{
    if (!m_bRingTimer) return;
    ::KillTimer(m_hWnd, kRingTimer);
    m_bRingTimer = false;
    ::StopRing();
}

bool CNotifier::OnTimer(UINT_PTR nTimer)
{
    if (nTimer != kRingTimer) return false;
    // Whatever ended the ringing, the ring ends with it.
    if (m_bRinging && m_bSoundOn)
        PlayRing();
    else
        StopRing();
    return true;
}

void CNotifier::LinesReceived(const std::vector<CString>& lines, const CString& strFrom)
{
    const bool bUserSees = ::IsWindowVisible(m_hWnd) && !::IsIconic(m_hWnd) && m_bActive;
    if (lines.empty()) return;
    if (bUserSees) {
        if (m_pAccess) m_pAccess->LinesArrived(EscapeLineText(lines.back()));
        return;
    }
    m_nUnread += (int)lines.size();
    CString strText = EscapeLineText(lines.back());
    // An empty text would take the balloon away instead of showing it.
    if (strText.IsEmpty()) strText = " ";
    CTrayIcon().ShowBalloon(m_hWnd, kTrayIconId, EscapeLineText(strFrom), strText, !m_bSoundOn);
    UpdateTip(m_nMissed);
}

void CNotifier::SetActive(bool bActive)
{
    m_bActive = bActive;
    if (!bActive || m_nUnread == 0) return;
    m_nUnread = 0;
    UpdateTip(m_nMissed);
}

CString CNotifier::Tip() const
{
    CString strTip;
    strTip.LoadString(AFX_IDS_APP_TITLE);
    if (m_core.DoNotDisturb()) strTip += " - 応答しない";
    CString strPart;
    if (m_nMissed > 0) {
        strPart.Format(" - 不在着信 (%d)", m_nMissed);
        strTip += strPart;
    }
    if (m_nUnread > 0) {
        strPart.Format(" - 未読 (%d)", m_nUnread);
        strTip += strPart;
    }
    return strTip;
}

void CNotifier::UpdateTip(int nMissed)
{
    m_nMissed = nMissed;
    const CString strTip = Tip();
    if (strTip == m_strTipShown) return;
    m_strTipShown = strTip;
    CTrayIcon().ModifyTip(m_hWnd, kTrayIconId, strTip);
}

CString CNotifier::TipForNewIcon(int nMissed)
{
    m_nMissed = nMissed;
    m_strTipShown = Tip();
    return m_strTipShown;
}

void CNotifier::PrepareMenu(HMENU hPopup, int nMissed, bool bLogOn) const
{
    CString strMissed = "不在着信(&C)";
    if (nMissed > 0) strMissed.Format("不在着信 (%d)(&C)", nMissed);
    ::ModifyMenuA(hPopup, ID_MISSED_CALLS, MF_BYCOMMAND | MF_STRING, ID_MISSED_CALLS, strMissed);
    ::CheckMenuItem(
        hPopup, ID_DO_NOT_DISTURB, MF_BYCOMMAND | (m_core.DoNotDisturb() ? MF_CHECKED : MF_UNCHECKED));
    ::CheckMenuItem(hPopup, ID_LOG_ON, MF_BYCOMMAND | (bLogOn ? MF_CHECKED : MF_UNCHECKED));
    ::CheckMenuItem(hPopup, ID_SOUND_ON, MF_BYCOMMAND | (m_bSoundOn ? MF_CHECKED : MF_UNCHECKED));
}
