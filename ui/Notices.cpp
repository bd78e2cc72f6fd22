// The main window's notices: the popup-menu items of the log, the ring, do-not-disturb, the
// missed calls and the other on/off choices, and the window's activation, which marks received lines as read.
// What they change lives in the journal and the notifier.
#include "app/PhoneDlg.h"
#include "call/ErrorText.h"
#include "ui/Documents.h"
#include "ui/MissedCallsDlg.h"

void ShowJournalFailure(const CJournalFailure& failure)
{
    AfxMessageBox(CString(failure.pszWhat) + "\r\n" + failure.strPath + "\r\n" + ErrorText(failure.dwError),
        MB_OK | MB_ICONEXCLAMATION);
}

void CPhoneDlg::OnActivate(UINT nState, CWnd* pWndOther, BOOL bMinimized)
{
    CShapedDialog::OnActivate(nState, pWndOther, bMinimized);
    m_notifier.SetActive(nState != WA_INACTIVE && !bMinimized);
}

LRESULT CPhoneDlg::OnRingTimer(WPARAM wParam, LPARAM)
{
    m_notifier.OnTimer(wParam);
    return 0;
}

// The popup menu's on/off items: each turns its choice over.
void CPhoneDlg::OnSwitch(UINT nID)
{
    switch (nID) {
    case ID_DO_NOT_DISTURB:
        m_core.SetDoNotDisturb(!m_core.DoNotDisturb());
        m_notifier.UpdateTip(m_journal.Missed().GetCount());
        break;
    case ID_LOG_ON:
        m_journal.SetLogOn(!m_journal.LogOn());
        break;
    case ID_SOUND_ON:
        m_notifier.SetSoundOn(!m_notifier.SoundOn());
        break;
    case ID_REQUIRE_SECURE:
        m_core.SetRequireSecure(!m_core.RequireSecure());
        break;
    case ID_NEARBY_ANNOUNCE: {
        CString strMyName;
        m_edtMyName.GetWindowText(strMyName);
        m_nearby.SetAnnounce(!m_nearby.Announce(), strMyName);
        break;
    }
    }
}

void CPhoneDlg::OnOpenLog()
{
    const CString strPath = m_journal.TodayLog();
    if (strPath.IsEmpty())
        AfxMessageBox("今日の会話の記録はまだありません。", MB_OK | MB_ICONINFORMATION);
    else
        OpenDocumentFrom(m_hWnd, strPath);
}

void CPhoneDlg::OnMissedCalls()
{
    // The call button is off while a call stands: then there is nothing to call back with.
    CMissedCallsDlg dlg(m_journal.Missed(), m_btnCall.IsWindowEnabled() != FALSE);
    const INT_PTR nResult = dlg.DoModal();
    if (dlg.m_bCleared) {
        m_journal.SaveMissed();
        m_notifier.UpdateTip(m_journal.Missed().GetCount());
    }
    if (nResult == IDOK) CallBack(dlg.m_strCallBack);
}

void CPhoneDlg::CallBack(const CString& strAddress)
{
    // A call may have come in while the dialog was open.
    if (strAddress.IsEmpty() || !m_btnCall.IsWindowEnabled()) return;

    // The port of a phonebook entry with this address, else the default.
    CString strPort = m_book.PortOf(strAddress);
    if (strPort.IsEmpty()) strPort = kDefaultPort;
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
