// Call control of the main window: the call buttons, Enter and the socket events become events of
// the call core; the call driver carries out its effects on the sockets and the controls.
#include "app/PhoneDlg.h"

#include "call/ErrorText.h"

#include <cstdlib>

void CPhoneDlg::ShowSystemError(DWORD dwError) { AfxMessageBox(ErrorText(dwError), MB_OK); }

void CPhoneDlg::OnCall()
{
    m_edtAddress.GetWindowText(m_strAddress);
    m_edtPort.GetWindowText(m_strPort);
    m_core.PressCall(m_strAddress, m_strPort);
    m_calls.Carry();
}

void CPhoneDlg::OnAnswer()
{
    m_core.PressAnswer();
    m_calls.Carry();
    // Answered: the user goes on in the send box.
    if (!m_btnAnswer.IsWindowEnabled() && !m_btnCall.IsWindowEnabled()) m_focus.GoOn();
}

void CPhoneDlg::OnOK()
{
    // Enter sends the typed line; it never closes the window.
    CString strText;
    m_edtSend.GetWindowText(strText);
    m_core.PressEnter(strText);
    m_calls.Carry();
}

void CPhoneDlg::OnVerify()
{
    m_core.PressVerify();
    m_calls.Carry();
}

void CPhoneDlg::OnHangUp()
{
    m_core.PressHangUp();
    m_calls.Carry();
}

LRESULT CPhoneDlg::OnSockConnect(WPARAM, LPARAM lParam)
{
    m_calls.OnConnect((const CCallSocket*)lParam);
    return 0;
}

LRESULT CPhoneDlg::OnSockAccept(WPARAM, LPARAM)
{
    m_calls.OnAccept();
    return 0;
}

LRESULT CPhoneDlg::OnSockReceive(WPARAM, LPARAM lParam)
{
    m_calls.OnReceive((const CCallSocket*)lParam);
    return 0;
}

LRESULT CPhoneDlg::OnSockSend(WPARAM, LPARAM lParam)
{
    m_calls.OnSend((const CCallSocket*)lParam);
    return 0;
}

LRESULT CPhoneDlg::OnSockClose(WPARAM, LPARAM lParam)
{
    m_calls.OnClose((const CCallSocket*)lParam);
    return 0;
}

LRESULT CPhoneDlg::OnSockIgnore(WPARAM, LPARAM) { return 0; }

// The window's parts and reports the driver shows calls in; the listening socket opened.
void CPhoneDlg::StartCalls()
{
    // The identity and the verified contacts live beside the settings file.
    CString strNotice;
    m_trust.Load(PathFolder(m_strIniPath), &strNotice);
    if (!strNotice.IsEmpty()) AfxMessageBox(strNotice, MB_OK | MB_ICONWARNING);
    m_core.SetTrust(&m_trust.Identity(), &m_trust.Contacts());
    CCallWindow w;
    w.pOwner = this;
    w.pCall = &m_btnCall, w.pHangUp = &m_btnHangUp, w.pAnswer = &m_btnAnswer;
    w.pStatus = &m_stcStatus, w.pPartnerName = &m_stcPartnerName;
    w.pSendList = &m_lstSend, w.pReceiveList = &m_lstReceive;
    w.pSendEdit = &m_edtSend, w.pMyName = &m_edtMyName;
    w.pKeptName = &m_strPartnerName;
    w.record = [this](CallConn conn, const CCallRecord& what) {
        m_journal.Record(conn, what);
        auto* pReceived = std::get_if<CallRec::Received>(&what);
        if (pReceived && !m_journal.MachineCall(conn))
            m_notifier.LinesReceived(pReceived->lines, m_journal.PartnerOf(conn));
        if (std::holds_alternative<CallRec::TurnedAway>(what) || std::holds_alternative<CallRec::Ended>(what))
            m_notifier.UpdateTip(m_journal.Missed().GetCount());
    };
    w.ring = [this](bool bOn) { m_notifier.SetRinging(bOn); };
    w.notifyIncoming = [this] {
        if (!m_bInTray) return;
        CString strTitle;
        strTitle.LoadString(AFX_IDS_APP_TITLE);
        ::MessageBoxA(NULL, "着信しました。", strTitle, MB_OK);
        OnRestore();
    };
    w.verify = [this](const CVerifiedContact& contact) {
        CVerifiedContact c = contact;
        SYSTEMTIME st;
        ::GetLocalTime(&st);
        c.strWhen.Format(
            "%04u-%02u-%02u %02u:%02u:%02u", st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond);
        if (!m_trust.Verify(c)) ShowSystemError(::GetLastError());
        m_nearby.Relabel();
    };
    m_calls.Attach(w);
    // No typed or pasted line may be longer than a sealed frame a partner reads whole.
    m_edtSend.SendMessage(EM_LIMITTEXT, kMaxTypedLine);
    DWORD dwError = 0;
    if (!m_calls.Listen((UINT)std::atoi(m_strPort), &dwError)) ShowSystemError(dwError);
}
