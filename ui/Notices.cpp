// The main window's notices: the popup-menu items of the log, the ring, do-not-disturb and the
// missed calls; the icon's tip; the ring every two seconds while a call rings; and counting
// the lines that arrive while the user does not look at the window.
#include "ui/Documents.h"
#include "ui/MissedCallsDlg.h"
#include "app/PhoneDlg.h"
#include "ui/Sound.h"
#include "ui/TrayIcon.h"

namespace {
const UINT_PTR kRingTimer = 0x5249; // apart from the receive path's timer
const UINT kRingIntervalMs = 2000;
} // namespace

// ---------------------------------------------------------------------------------------------
// Unread lines and the icon's tip

bool CPhoneDlg::UserSeesWindow() const
{
    return IsWindowVisible() && !::IsIconic(m_hWnd) && m_bActive != WA_INACTIVE;
}

void CPhoneDlg::OnActivate(UINT nState, CWnd* pWndOther, BOOL bMinimized)
{
    CShapedDialog::OnActivate(nState, pWndOther, bMinimized);
    if (nState != WA_INACTIVE && !bMinimized) MarkLinesRead();
}

void CPhoneDlg::MarkLinesRead()
{
    if (m_nUnread == 0) return;
    m_nUnread = 0;
    UpdateTrayTip();
}

// "Kelvaro - 応答しない - 不在着信 (3) - 未読 (12)", each part only when it applies.
CString CPhoneDlg::TrayTip() const
{
    CString strTip;
    strTip.LoadString(AFX_IDS_APP_TITLE);
    if (m_bDoNotDisturb) strTip += " - 応答しない";
    CString strPart;
    if (m_missed.GetCount() > 0) {
        strPart.Format(" - 不在着信 (%d)", m_missed.GetCount());
        strTip += strPart;
    }
    if (m_nUnread > 0) {
        strPart.Format(" - 未読 (%d)", m_nUnread);
        strTip += strPart;
    }
    return strTip;
}

void CPhoneDlg::UpdateTrayTip()
{
    const CString strTip = TrayTip();
    if (strTip == m_strTipShown) return;
    m_strTipShown = strTip;
    CTrayIcon().ModifyTip(m_hWnd, 1, strTip);
}

// ---------------------------------------------------------------------------------------------
// The ring

void CPhoneDlg::StartRinging()
{
    if (!m_bSoundOn || !m_bRinging || m_bRingTimer) return;
    PlayRing();
    m_bRingTimer = ::SetTimer(m_hWnd, kRingTimer, kRingIntervalMs, NULL) != 0;
}

void CPhoneDlg::StopRinging()
{
    if (!m_bRingTimer) return;
    ::KillTimer(m_hWnd, kRingTimer);
    m_bRingTimer = false;
    StopRing();
}

LRESULT CPhoneDlg::OnRingTimer(WPARAM wParam, LPARAM)
{
    if (wParam != kRingTimer) return 0;
    // Whatever ended the ringing, the ring ends with it.
    if (m_bRinging && m_bSoundOn)
        PlayRing();
    else
        StopRinging();
    return 0;
}

// ---------------------------------------------------------------------------------------------
// Menu items

void CPhoneDlg::PrepareNoticeItems(HMENU hPopup)
{
    CString strMissed = "不在着信";
    if (m_missed.GetCount() > 0) strMissed.Format("不在着信 (%d)", m_missed.GetCount());
    ::ModifyMenuA(hPopup, ID_MISSED_CALLS, MF_BYCOMMAND | MF_STRING, ID_MISSED_CALLS, strMissed);
    ::CheckMenuItem(hPopup, ID_DO_NOT_DISTURB, MF_BYCOMMAND | (m_bDoNotDisturb ? MF_CHECKED : MF_UNCHECKED));
    ::CheckMenuItem(hPopup, ID_LOG_ON, MF_BYCOMMAND | (m_bLogOn ? MF_CHECKED : MF_UNCHECKED));
    ::CheckMenuItem(hPopup, ID_SOUND_ON, MF_BYCOMMAND | (m_bSoundOn ? MF_CHECKED : MF_UNCHECKED));
}

void CPhoneDlg::OnDoNotDisturb()
{
    m_bDoNotDisturb = !m_bDoNotDisturb;
    UpdateTrayTip();
}

void CPhoneDlg::OnLogOn()
{
    m_bLogOn = !m_bLogOn;
    if (!m_bLogOn) m_log.Close();
}

void CPhoneDlg::OnSoundOn()
{
    m_bSoundOn = !m_bSoundOn;
    if (m_bSoundOn)
        StartRinging();
    else
        StopRinging();
}

void CPhoneDlg::OnOpenLog()
{
    SYSTEMTIME st;
    ::GetLocalTime(&st);
    const CString strPath = m_log.PathFor(st);
    if (::GetFileAttributesA(strPath) == INVALID_FILE_ATTRIBUTES) {
        AfxMessageBox("今日の会話の記録はまだありません。", MB_OK | MB_ICONINFORMATION);
        return;
    }
    // Open again at the next record: the editor finds the file free.
    m_log.Close();
    OpenDocumentFrom(m_hWnd, strPath);
}

void CPhoneDlg::OnMissedCalls()
{
    // The call button is off while a call stands: then there is nothing to call back with.
    CMissedCallsDlg dlg(m_missed, m_btnCall.IsWindowEnabled() != FALSE);
    const INT_PTR nResult = dlg.DoModal();
    if (dlg.m_bCleared) {
        SaveMissedCalls();
        UpdateTrayTip();
    }
    if (nResult == IDOK && !dlg.m_strCallBack.IsEmpty()) CallBack(dlg.m_strCallBack);
}

void CPhoneDlg::CallBack(const CString& strAddress)
{
    // A call may have come in while the dialog was open.
    if (!m_btnCall.IsWindowEnabled()) return;
    // The port of a phonebook entry with this address, else the default.
    CString strPort = kDefaultPort;
    POSITION posIP = m_listAddresses.GetHeadPosition();
    POSITION posPort = m_listPorts.GetHeadPosition();
    while (posIP && posPort) {
        const CString& strPortOfEntry = m_listPorts.GetNext(posPort);
        if (m_listAddresses.GetNext(posIP) == strAddress) {
            strPort = strPortOfEntry;
            break;
        }
    }
    if (m_nBookSel != 0) {
        // Manual entry, so that the address typed in is the one called.
        m_cmbPhonebook.SetCurSel(0);
        OnSelchangePhonebook();
    }
    m_edtAddress.SetWindowText(strAddress);
    m_edtPort.SetWindowText(strPort);
    // Chosen from the icon's menu while hidden: the call is followed on the window.
    if (m_bInTray) OnRestore();
    OnCall();
}
