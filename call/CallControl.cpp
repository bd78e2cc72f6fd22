// Call control: the call buttons, Enter, and the socket events of the main window.
#include "PhoneDlg.h"

#include <cstdlib>
#include <vector>

namespace {

const char kStatusCalling[] = "呼び出し中";
const char kStatusBusy[] = "話し中";
const char kDefaultAddress[] = "localhost";
const char kDefaultPort[] = "32760";

// Sends a whole message; 0 on success, otherwise the error code.
int SendBytes(CCallSocket& rSocket, const CString& strMessage)
{
    const char* p = strMessage;
    int nLeft = strMessage.GetLength();
    while (nLeft > 0) {
        int n = rSocket.Send(p, nLeft);
        if (n == SOCKET_ERROR) return CAsyncSocket::GetLastError();
        p += n;
        nLeft -= n;
    }
    return 0;
}

// Appends a line to a list and widens the list's scrolling extent to its longest line, so the
// horizontal scroll bar can reach the end of a long line.
int AddLine(CListBox& rList, const CString& strLine)
{
    int nIndex = rList.AddString(strLine);
    HDC hdc = ::GetDC(rList.m_hWnd);
    HGDIOBJ hOld = ::SelectObject(hdc, (HGDIOBJ)rList.SendMessage(WM_GETFONT));
    SIZE size = {};
    ::GetTextExtentPoint32A(hdc, strLine, strLine.GetLength(), &size);
    ::SelectObject(hdc, hOld);
    ::ReleaseDC(rList.m_hWnd, hdc);
    int nExtent = size.cx + 2 * ::GetSystemMetrics(SM_CXEDGE);
    if (nExtent > (int)rList.SendMessage(LB_GETHORIZONTALEXTENT))
        rList.SendMessage(LB_SETHORIZONTALEXTENT, (WPARAM)nExtent);
    return nIndex;
}

void ClearLines(CListBox& rList)
{
    rList.ResetContent();
    rList.SendMessage(LB_SETHORIZONTALEXTENT, 0);
}

} // namespace

void CPhoneDlg::ShowSystemError(DWORD dwError)
{
    char* pszText = nullptr;
    DWORD n = ::FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS |
                                   FORMAT_MESSAGE_FROM_SYSTEM,
                               NULL, dwError, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), (LPSTR)&pszText, 0, NULL);
    if (n && pszText) AfxMessageBox(pszText, MB_OK);
    if (pszText) ::LocalFree(pszText);
}

void CPhoneDlg::OpenListeningSocket()
{
    UINT nPort = (UINT)std::atoi(m_strPort);
    if (!m_sockListen.Create(nPort, SOCK_STREAM, CAsyncSocket::AllEvents) ||
        !m_sockListen.AsyncSelect(CAsyncSocket::AllEvents) ||
        ::listen(m_sockListen.m_hSocket, 5) == SOCKET_ERROR) {
        ShowSystemError(::GetLastError());
    }
}

// Drops the socket messages still queued for a socket that is being closed or deleted, so they
// cannot be taken for a later socket at the same address. The others keep their order.
void CPhoneDlg::DiscardSocketMessages(const CCallSocket* pSocket)
{
    std::vector<MSG> keep;
    MSG msg;
    while (::PeekMessageA(&msg, m_hWnd, WM_SOCK_CONNECT, WM_SOCK_OOB, PM_REMOVE | PM_NOYIELD)) {
        if ((const CCallSocket*)msg.lParam != pSocket) keep.push_back(msg);
    }
    for (const MSG& m : keep) ::PostMessageA(m_hWnd, m.message, m.wParam, m.lParam);
}

void CPhoneDlg::DeleteSocket(CCallSocket*& rpSocket)
{
    if (!rpSocket) return;
    CCallSocket* p = rpSocket;
    rpSocket = nullptr;
    delete p; // closes its socket
    if (m_hWnd) DiscardSocketMessages(p);
}

void CPhoneDlg::OnCall()
{
    if (m_bOutConnected) return; // the call button is disabled while a call stands
    m_edtAddress.GetWindowText(m_strAddress);
    m_edtPort.GetWindowText(m_strPort);
    CString strAddress = m_strAddress.IsEmpty() ? CString(kDefaultAddress) : m_strAddress;
    CString strPort = m_strPort.IsEmpty() ? CString(kDefaultPort) : m_strPort;

    // An earlier attempt that is still pending (or failed at once) is dropped first.
    if (m_sockCall.m_hSocket != INVALID_SOCKET && !m_bOutConnected) {
        m_sockCall.Close();
        DiscardSocketMessages(&m_sockCall);
        m_bCalling = false;
    }
    m_bTurnedAway = false;
    OnCallPlaced(strAddress, strPort);

    if (!m_sockCall.Create(0, SOCK_STREAM, CAsyncSocket::AllEvents) ||
        !m_sockCall.AsyncSelect(CAsyncSocket::AllEvents)) {
        DWORD dwError = ::GetLastError();
        OnCallFailed(dwError);
        m_sockCall.Close();
        ShowLookAfterCallEnded(); // an earlier attempt's dialling look may still show
        ShowSystemError(dwError);
        return;
    }
    m_readerOut.Reset();

    if (m_sockCall.Connect(strAddress, (UINT)std::atoi(strPort)) || ::GetLastError() == WSAEWOULDBLOCK) {
        // Dialling: the call may take a while (a name look-up, an unreachable host); show it
        // and let hang-up cancel it.
        m_bCalling = true;
        m_stcStatus.SetWindowText(kStatusCalling);
        m_stcStatus.ShowWindow(SW_SHOW);
        m_btnHangUp.EnableWindow(TRUE);
    } else {
        DWORD dwError = ::GetLastError();
        OnCallFailed(dwError);
        m_sockCall.Close();
        ShowLookAfterCallEnded();
        ShowSystemError(dwError);
    }
}

LRESULT CPhoneDlg::OnSockConnect(WPARAM, LPARAM lParam)
{
    if ((CCallSocket*)lParam != &m_sockCall || !m_bCalling || m_bOutConnected) return 0;

    int nError = m_sockCall.GetConnectError();
    if (nError) {
        OnCallFailed((DWORD)nError);
        // Refused, unreachable or not found: back to idle with the system's reason.
        m_sockCall.Close();
        DiscardSocketMessages(&m_sockCall);
        m_bCalling = false;
        ShowLookAfterCallEnded();
        ShowSystemError((DWORD)nError);
        return 0;
    }

    m_btnCall.EnableWindow(FALSE);
    m_btnHangUp.EnableWindow(TRUE);
    m_stcStatus.SetWindowText(kStatusCalling);
    m_stcStatus.ShowWindow(SW_SHOW);
    m_bOutConnected = true;
    OnCallConnected();
    return 0;
}

LRESULT CPhoneDlg::OnSockAccept(WPARAM, LPARAM)
{
    if (m_bInConnected || m_bDoNotDisturb) {
        // A call is held (or the user takes none now): turn the new caller away with the busy message.
        DeleteSocket(m_pBusySocket);
        m_pBusySocket = new CCallSocket;
        m_pBusySocket->SetOwner(this);
        if (!m_sockListen.Accept(*m_pBusySocket)) {
            DWORD dwError = ::GetLastError();
            DeleteSocket(m_pBusySocket);
            ShowSystemError(dwError);
            return 0;
        }
        m_edtMyName.GetWindowText(m_strMyName);
        if (int nError = SendBytes(*m_pBusySocket, ComposeBusy(m_strMyName))) ShowSystemError((DWORD)nError);
        OnCallerTurnedAway();
        return 0;
    }

    // A new incoming call. Remember the look, so that a failed accept can put it back.
    const BOOL bCallWasEnabled = m_btnCall.IsWindowEnabled();
    const BOOL bHangUpWasEnabled = m_btnHangUp.IsWindowEnabled();
    const BOOL bStatusWasVisible = m_stcStatus.IsWindowVisible();
    CString strOldStatus;
    m_stcStatus.GetWindowText(strOldStatus);

    m_btnCall.EnableWindow(FALSE);
    m_btnHangUp.EnableWindow(TRUE);
    m_btnAnswer.EnableWindow(TRUE);
    m_stcStatus.SetWindowText(kStatusCalling);
    m_stcStatus.ShowWindow(SW_SHOW);
    m_bRinging = true;

    DeleteSocket(m_pInSocket);
    m_pInSocket = new CCallSocket;
    m_pInSocket->SetOwner(this);
    if (!m_sockListen.Accept(*m_pInSocket)) {
        DWORD dwError = ::GetLastError();
        DeleteSocket(m_pInSocket);
        m_bRinging = false;
        m_btnCall.EnableWindow(bCallWasEnabled);
        m_btnHangUp.EnableWindow(bHangUpWasEnabled);
        m_btnAnswer.EnableWindow(FALSE);
        m_stcStatus.SetWindowText(strOldStatus);
        m_stcStatus.ShowWindow(bStatusWasVisible ? SW_SHOW : SW_HIDE);
        ShowSystemError(dwError);
        return 0;
    }
    m_bInConnected = true;
    m_readerIn.Reset();
    m_edtMyName.GetWindowText(m_strMyName);
    if (int nError = SendBytes(*m_pInSocket, ComposeCalleeGreeting(m_strMyName))) ShowSystemError((DWORD)nError);
    OnIncomingCall();

    if (m_bInTray) {
        CString strTitle;
        strTitle.LoadString(AFX_IDS_APP_TITLE);
        ::MessageBoxA(NULL, "着信しました。", strTitle, MB_OK);
        OnRestore();
    }
    return 0;
}

void CPhoneDlg::ApplyLine(const CLineMessage& msg, CCallSocket& rFrom, int& rnLastIndex)
{
    switch (msg.kind) {
    case CLineMessage::Text:
        rnLastIndex = AddLine(m_lstReceive, msg.strPayload);
        break;
    case CLineMessage::CalleeName:
        m_stcPartnerName.SetWindowText(msg.strPayload);
        m_edtMyName.GetWindowText(m_strMyName);
        // The reply goes back on the connection the greeting came from.
        if (int nError = SendBytes(rFrom, ComposeCallerGreeting(m_strMyName))) ShowSystemError((DWORD)nError);
        OnPartnerNamed(rFrom, msg.strPayload);
        break;
    case CLineMessage::CallerName:
        m_strPartnerName = msg.strPayload;
        m_stcPartnerName.SetWindowText(m_strPartnerName);
        OnPartnerNamed(rFrom, m_strPartnerName);
        break;
    case CLineMessage::Answer:
        m_stcStatus.ShowWindow(SW_HIDE);
        m_bCalling = false;
        if (&rFrom == &m_sockCall) m_bTurnedAway = false;
        OnPartnerAnswered(rFrom);
        break;
    case CLineMessage::Busy:
        m_stcStatus.SetWindowText(kStatusBusy);
        m_bCalling = false;
        // Remembered so that the busy look comes back if another call shown meanwhile ends.
        if (&rFrom == &m_sockCall) m_bTurnedAway = true;
        OnPartnerBusy(rFrom);
        break;
    }
}

LRESULT CPhoneDlg::OnSockReceive(WPARAM, LPARAM lParam)
{
    CCallSocket* pFrom = (CCallSocket*)lParam;
    CCallSocket* pSocket = nullptr;
    CLineReader* pReader = nullptr;
    if (pFrom && pFrom == m_pInSocket) {
        pSocket = m_pInSocket;
        pReader = &m_readerIn;
    } else if (pFrom == &m_sockCall && m_sockCall.m_hSocket != INVALID_SOCKET) {
        pSocket = &m_sockCall;
        pReader = &m_readerOut;
    } else {
        // A caller turned away as busy is not listened to: read and drop what it sends.
        if (pFrom && pFrom == m_pBusySocket) {
            char sink[1024];
            m_pBusySocket->Receive(sink, sizeof sink);
        }
        return 0;
    }

    char buffer[1024];
    int n = pSocket->Receive(buffer, sizeof buffer);
    if (n <= 0) return 0;

    std::vector<CLineMessage> messages;
    pReader->Feed(buffer, n, messages);

    int nLastIndex = -1;
    for (const CLineMessage& msg : messages) {
        ApplyLine(msg, *pSocket, nLastIndex);
        // A modal error box may have let a close event end this connection meanwhile.
        if (pSocket != m_pInSocket && pSocket != &m_sockCall) break;
        if (pSocket->m_hSocket == INVALID_SOCKET) break;
    }
    if (nLastIndex >= 0) m_lstReceive.SetTopIndex(nLastIndex);
    OnLinesReceived(TextLinesOf(messages));
    return 0;
}

void CPhoneDlg::OnAnswer()
{
    if (m_pInSocket) {
        if (int nError = SendBytes(*m_pInSocket, ComposeAnswer())) ShowSystemError((DWORD)nError);
    }
    m_stcStatus.ShowWindow(SW_HIDE);
    m_bRinging = false;
    m_btnHangUp.EnableWindow(TRUE);
    m_btnAnswer.EnableWindow(FALSE);
    OnCallAnswered();
}

void CPhoneDlg::OnOK()
{
    // Enter sends the typed line; it never closes the window.
    CString strText;
    m_edtSend.GetWindowText(strText);
    CString strMessage = ComposeText(strText);

    const bool bOut = m_bOutConnected && !m_bCalling;
    const bool bIn = m_bInConnected && !m_bRinging;
    if (!bOut && !bIn) return;

    int nError = 0;
    bool bSent = false;
    if (m_bOutConnected) {
        int e = SendBytes(m_sockCall, strMessage);
        if (e) nError = e; else bSent = true;
    }
    if (m_bInConnected && m_pInSocket) {
        int e = SendBytes(*m_pInSocket, strMessage);
        if (e) { if (!nError) nError = e; } else bSent = true;
    }
    if (bSent) {
        int nIndex = AddLine(m_lstSend, strText);
        m_lstSend.SetTopIndex(nIndex);
        m_edtSend.SetWindowText("");
        OnLineSent(strText);
    }
    if (nError) ShowSystemError((DWORD)nError);
}

// The outgoing call is over: close its socket.
void CPhoneDlg::EndOutgoingCall()
{
    m_sockCall.Close();
    DiscardSocketMessages(&m_sockCall);
    m_bOutConnected = false;
    m_bCalling = false;
    m_bTurnedAway = false;
}

// The incoming call is over: close and delete its socket.
void CPhoneDlg::EndIncomingCall()
{
    DeleteSocket(m_pInSocket);
    m_bInConnected = false;
    m_bRinging = false;
}

// After one call has ended: the idle look, or the look of the call that still stands.
void CPhoneDlg::ShowLookAfterCallEnded()
{
    if (m_bInConnected) {
        m_btnCall.EnableWindow(FALSE);
        m_btnHangUp.EnableWindow(TRUE);
        m_btnAnswer.EnableWindow(m_bRinging);
        m_stcStatus.SetWindowText(kStatusCalling);
        m_stcStatus.ShowWindow(m_bRinging ? SW_SHOW : SW_HIDE);
    } else if (m_bOutConnected) {
        m_btnCall.EnableWindow(FALSE);
        m_btnHangUp.EnableWindow(TRUE);
        m_btnAnswer.EnableWindow(FALSE);
        m_stcStatus.SetWindowText(m_bTurnedAway ? kStatusBusy : kStatusCalling);
        m_stcStatus.ShowWindow(m_bCalling || m_bTurnedAway ? SW_SHOW : SW_HIDE);
    } else {
        // Idle, or still dialling an outgoing call (which hang-up cancels).
        m_btnCall.EnableWindow(TRUE);
        m_btnHangUp.EnableWindow(m_bCalling);
        m_btnAnswer.EnableWindow(FALSE);
        m_stcStatus.SetWindowText(kStatusCalling);
        m_stcStatus.ShowWindow(m_bCalling ? SW_SHOW : SW_HIDE);
        ClearLines(m_lstSend);
        ClearLines(m_lstReceive);
        m_stcPartnerName.SetWindowText("");
    }
}

void CPhoneDlg::OnHangUp()
{
    // Hanging up ends every call that stands, and cancels one still being dialled. Nothing is
    // sent: the partner learns of it from the closed connection.
    OnHangUpPressed();
    if (m_bOutConnected || m_bCalling) EndOutgoingCall();
    if (m_bInConnected || m_bRinging) EndIncomingCall();
    ShowLookAfterCallEnded();
}

LRESULT CPhoneDlg::OnSockClose(WPARAM, LPARAM lParam)
{
    // Only the call whose socket closed ends. The socket is compared, never dereferenced: it
    // may be gone already.
    const CCallSocket* pClosed = (const CCallSocket*)lParam;
    if (!pClosed) return 0;
    if (pClosed == &m_sockCall) {
        if (!m_bOutConnected && !m_bCalling) return 0;
        OnCallEndedByPartner(false);
        EndOutgoingCall();
        ShowLookAfterCallEnded();
    } else if (pClosed == m_pInSocket) {
        OnCallEndedByPartner(true);
        EndIncomingCall();
        ShowLookAfterCallEnded();
    } else if (pClosed == m_pBusySocket) {
        DeleteSocket(m_pBusySocket);
    }
    return 0;
}

LRESULT CPhoneDlg::OnSockIgnore(WPARAM, LPARAM) { return 0; }
