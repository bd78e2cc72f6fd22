// Call control: the call buttons, Enter, and the socket events of the main window.
#include "app/PhoneDlg.h"

#include "call/LineList.h"

#include <algorithm>
#include <cstdlib>
#include <vector>

namespace {

const char kStatusCalling[] = "呼び出し中";
const char kStatusBusy[] = "話し中";

// How long one turn of reading and listing may hold the window during a flood, how many lines
// it lists at most, and how much one read takes (a read of short lines is many lines).
const DWORD kReceiveTurnMs = 8;
const size_t kReceiveTurnLines = 2000;
const int kReadSize = 16 * 1024;
const int kReaderPiece = 1024;
const UINT_PTR kReceiveTimer = 0x4B52; // continues a flood while input or painting waits

// Told when a line does not fit in what may wait for a partner that does not read.
const char kNotReceiving[] =
    "相手が受信していません。この行は送れませんでした。しばらくしてから、もう一度送ってください。";
const int kErrNotReceiving = -1;

// Sends a short message on a socket that carries nothing else (the busy message); 0 on success,
// otherwise the error code.
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

CSendQueue::SendFn SendFnOf(CCallSocket& rSocket)
{
    return [&rSocket](const char* p, int n, int* pnError) {
        int nSent = rSocket.Send(p, n);
        if (nSent == SOCKET_ERROR) {
            *pnError = CAsyncSocket::GetLastError();
            return -1;
        }
        return nSent;
    };
}

// Texts of the network errors a user meets, for when the system has none of its own (Wine has
// none for "address in use", for one).
const struct {
    DWORD dwError;
    const char* pszText;
} kNetworkErrorTexts[] = {
    { WSAEACCES, "このポートを使う権限がありません。" },
    { WSAEINVAL, "アドレスまたはポート番号が正しくありません。" },
    { WSAEADDRINUSE, "このポートはほかのプログラムが使っています。ここへ電話をかけることはできません。" },
    { WSAEADDRNOTAVAIL, "このアドレスは使えません。" },
    { WSAENETDOWN, "ネットワークが使えません。" },
    { WSAENETUNREACH, "相手のネットワークに届きません。" },
    { WSAECONNABORTED, "接続が中断されました。" },
    { WSAECONNRESET, "相手が接続を切りました。" },
    { WSAETIMEDOUT, "相手が応答しません。" },
    { WSAECONNREFUSED, "相手は電話を受けられません（接続が拒否されました）。" },
    { WSAEHOSTDOWN, "相手のコンピュータが止まっています。" },
    { WSAEHOSTUNREACH, "相手のコンピュータに届きません。" },
    { WSAHOST_NOT_FOUND, "相手のコンピュータが見つかりません。" },
    { WSATRY_AGAIN, "相手のコンピュータの名前を調べられませんでした。しばらくしてからかけ直してください。" },
    { WSANO_DATA, "この名前のコンピュータにはアドレスがありません。" },
};

} // namespace

CString CPhoneDlg::ErrorText(DWORD dwError)
{
    char* pszText = nullptr;
    DWORD n = ::FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_SYSTEM, NULL,
        dwError, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), (LPSTR)&pszText, 0, NULL);
    CString strText;
    if (n && pszText) strText = pszText;
    if (pszText) ::LocalFree(pszText);
    if (!strText.IsEmpty()) return strText;
    for (const auto& e : kNetworkErrorTexts) {
        if (e.dwError == dwError) {
            strText.Format("%s（エラー番号 %lu）", e.pszText, (unsigned long)dwError);
            return strText;
        }
    }
    strText.Format("エラー番号 %lu", (unsigned long)dwError);
    return strText;
}

void CPhoneDlg::ShowSystemError(DWORD dwError) { AfxMessageBox(ErrorText(dwError), MB_OK); }

void CPhoneDlg::OpenListeningSocket()
{
    UINT nPort = (UINT)std::atoi(m_strPort);
    if (!m_sockListen.Create(nPort, SOCK_STREAM, CAsyncSocket::AllEvents) ||
        !m_sockListen.AsyncSelect(CAsyncSocket::AllEvents) || !m_sockListen.Listen(5)) {
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
    m_connOut.Reset();

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
    m_connIn.Reset();
    m_edtMyName.GetWindowText(m_strMyName);
    ReportSendError(SendOn(*m_pInSocket, ComposeCalleeGreeting(m_strMyName)));
    OnIncomingCall();

    if (m_bInTray) {
        CString strTitle;
        strTitle.LoadString(AFX_IDS_APP_TITLE);
        ::MessageBoxA(NULL, "着信しました。", strTitle, MB_OK);
        OnRestore();
    }
    return 0;
}

CConnection* CPhoneDlg::ConnectionOf(const CCallSocket* pSocket)
{
    if (!pSocket) return nullptr;
    if (pSocket == m_pInSocket) return &m_connIn;
    if (pSocket == &m_sockCall && m_sockCall.m_hSocket != INVALID_SOCKET) return &m_connOut;
    return nullptr;
}

// Sends a whole message on a call's connection, behind whatever still waits there. Returns 0,
// a send error, or kErrNotReceiving when the partner has not taken enough of what waits.
int CPhoneDlg::SendOn(CCallSocket& rSocket, const CString& strMessage)
{
    CConnection* pConn = ConnectionOf(&rSocket);
    if (!pConn) return WSAENOTCONN;
    int nError = 0;
    if (!pConn->queue.Push(strMessage, (size_t)strMessage.GetLength(), SendFnOf(rSocket), &nError))
        return kErrNotReceiving;
    return nError;
}

void CPhoneDlg::ReportSendError(int nError)
{
    if (nError == kErrNotReceiving)
        AfxMessageBox(kNotReceiving, MB_OK | MB_ICONEXCLAMATION);
    else if (nError)
        ShowSystemError((DWORD)nError);
}

void CPhoneDlg::ApplyLine(const CLineMessage& msg, CCallSocket& rFrom)
{
    switch (msg.kind) {
    case CLineMessage::Text:
        break; // listed in batches by the caller
    case CLineMessage::CalleeName:
        m_stcPartnerName.SetWindowText(msg.strPayload);
        m_edtMyName.GetWindowText(m_strMyName);
        // The reply goes back on the connection the greeting came from.
        ReportSendError(SendOn(rFrom, ComposeCallerGreeting(m_strMyName)));
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
    if (CConnection* pConn = ConnectionOf(pFrom)) {
        // While a flood is being listed, typing, clicks and painting come first: the system
        // hands those out only once no posted message waits, so the flood goes on from a timer.
        if (pConn->bMoreWaiting && HIWORD(::GetQueueStatus(QS_INPUT | QS_PAINT)) != 0) {
            ScheduleReceive(pFrom, true);
            return 0;
        }
        ReceiveTurn(*pFrom, *pConn);
    } else if (pFrom && pFrom == m_pBusySocket) {
        // A caller turned away as busy is not listened to: read and drop what it sends.
        char sink[4096];
        for (int i = 0; i < 16 && m_pBusySocket->Receive(sink, sizeof sink) > 0; ++i) { }
    }
    return 0;
}

// Reads what waits on a call's connection and applies it, lines listed in one batch, for a
// bounded time; what is left is taken up again by a posted message or the timer. A partner's
// close that came meanwhile ends the call once everything before it has been listed.
void CPhoneDlg::ReceiveTurn(CCallSocket& rSocket, CConnection& rConn)
{
    if (rConn.bInTurn) {
        // A modal box opened during a turn: its loop must not list later lines before earlier.
        ScheduleReceive(&rSocket, true);
        return;
    }
    rConn.bInTurn = true;
    const unsigned nGeneration = rConn.nGeneration;
    if (m_receiveBuffer.empty()) m_receiveBuffer.resize(kReadSize);

    // A box opened while lines are listed or applied (an error text) lets a close event end the
    // connection meanwhile; then nothing more is done with it.
    const auto gone = [&] { return ConnectionOf(&rSocket) != &rConn || rConn.nGeneration != nGeneration; };
    const DWORD dwStart = ::GetTickCount();
    std::vector<CLineMessage> messages;
    std::vector<CString> batch;
    bool bDrained = false, bGone = false;
    while (!bGone) {
        int n = rSocket.Receive(m_receiveBuffer.data(), kReadSize);
        if (n <= 0) {
            // Nothing more for now, the partner's end, or a failed read (no text for it).
            bDrained = true;
            break;
        }
        // A short read took all there was; more raises another read event.
        if (n < kReadSize) bDrained = true;
        // The reader takes the bytes in pieces of the size one read always had: a zero byte ends
        // the text of its piece and a tail without CR may be taken at a piece's end, so the piece
        // size decides what is listed, and it stays what partners have always seen.
        messages.clear();
        for (int nDone = 0; nDone < n; nDone += kReaderPiece)
            rConn.reader.Feed(m_receiveBuffer.data() + nDone, std::min(kReaderPiece, n - nDone), messages);
        for (const CLineMessage& msg : messages) {
            if (msg.kind == CLineMessage::Text) {
                batch.push_back(msg.strPayload);
                continue;
            }
            // Other messages may open a box: list what came before them first.
            ListReceived(batch);
            if (!gone()) ApplyLine(msg, rSocket);
            if ((bGone = gone())) break;
        }
        if (bDrained || batch.size() >= kReceiveTurnLines || ::GetTickCount() - dwStart >= kReceiveTurnMs)
            break;
    }
    if (bGone) return;
    ListReceived(batch);
    if (gone()) return;
    rConn.bInTurn = false;
    rConn.bMoreWaiting = !bDrained;
    if (!bDrained)
        ScheduleReceive(&rSocket, HIWORD(::GetQueueStatus(QS_INPUT | QS_PAINT)) != 0);
    else if (rConn.bPeerClosed)
        EndCallOn(&rSocket);
}

void CPhoneDlg::ListReceived(std::vector<CString>& batch)
{
    if (batch.empty()) return;
    AddLines(m_lstReceive, batch, m_measure);
    OnLinesReceived(batch);
    batch.clear();
}

// Continues reading a connection later: at once by a posted message, or by the timer when
// input or painting waits (those are handed out only when no posted message does).
void CPhoneDlg::ScheduleReceive(CCallSocket* pSocket, bool bByTimer)
{
    if (bByTimer)
        ::SetTimer(m_hWnd, kReceiveTimer, USER_TIMER_MINIMUM, ReceiveTimerProc);
    else
        PostMessage(WM_SOCK_RECEIVE, 0, (LPARAM)pSocket);
}

void CALLBACK CPhoneDlg::ReceiveTimerProc(HWND hWnd, UINT, UINT_PTR nTimer, DWORD)
{
    ::KillTimer(hWnd, nTimer);
    CPhoneDlg* pDlg = dynamic_cast<CPhoneDlg*>(CWnd::FromHandlePermanent(hWnd));
    if (!pDlg) return;
    if (pDlg->m_pInSocket && pDlg->m_connIn.bMoreWaiting)
        pDlg->ReceiveTurn(*pDlg->m_pInSocket, pDlg->m_connIn);
    if (pDlg->ConnectionOf(&pDlg->m_sockCall) && pDlg->m_connOut.bMoreWaiting)
        pDlg->ReceiveTurn(pDlg->m_sockCall, pDlg->m_connOut);
}

LRESULT CPhoneDlg::OnSockSend(WPARAM, LPARAM lParam)
{
    // The socket takes bytes again: send what waits.
    CCallSocket* pSocket = (CCallSocket*)lParam;
    if (CConnection* pConn = ConnectionOf(pSocket)) {
        if (!pConn->queue.Empty()) ReportSendError(pConn->queue.Flush(SendFnOf(*pSocket)));
    }
    return 0;
}

void CPhoneDlg::OnAnswer()
{
    if (m_pInSocket) ReportSendError(SendOn(*m_pInSocket, ComposeAnswer()));
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

    // A line goes to every call that stands, or to none: if one partner has not taken enough
    // of what waits, the line stays in the edit and the user is told.
    std::vector<CCallSocket*> targets;
    if (m_bOutConnected) targets.push_back(&m_sockCall);
    if (m_bInConnected && m_pInSocket) targets.push_back(m_pInSocket);
    for (CCallSocket* pSocket : targets) {
        CConnection* pConn = ConnectionOf(pSocket);
        if (pConn && !pConn->queue.Fits((size_t)strMessage.GetLength())) {
            ReportSendError(kErrNotReceiving);
            return;
        }
    }
    int nError = 0;
    bool bSent = false;
    for (CCallSocket* pSocket : targets) {
        if (int e = SendOn(*pSocket, strMessage)) {
            if (!nError) nError = e;
        } else {
            bSent = true;
        }
    }
    if (bSent) {
        AddLines(m_lstSend, { strText }, m_measure);
        m_edtSend.SetWindowText("");
        OnLineSent(strText);
    }
    ReportSendError(nError);
}

// The outgoing call is over: close its socket.
void CPhoneDlg::EndOutgoingCall()
{
    m_sockCall.Close();
    m_connOut.Reset();
    DiscardSocketMessages(&m_sockCall);
    m_bOutConnected = false;
    m_bCalling = false;
    m_bTurnedAway = false;
}

// The incoming call is over: close and delete its socket.
void CPhoneDlg::EndIncomingCall()
{
    DeleteSocket(m_pInSocket);
    m_connIn.Reset();
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
    if (pClosed == &m_sockCall && !m_bOutConnected && !m_bCalling) return 0;
    if (CConnection* pConn = ConnectionOf(pClosed)) {
        // Lines that arrived before the close are listed first; the last turn ends the call. A
        // turn that waits for a box to be closed (an error text) does not hold the end up: the
        // call ends now, as it would with nobody to close the box.
        pConn->bPeerClosed = true;
        DWORD nWaiting = 0;
        CCallSocket* pSocket = pClosed == m_pInSocket ? m_pInSocket : &m_sockCall;
        if (!pConn->bInTurn &&
            (pConn->bMoreWaiting || (pSocket->IOCtl(FIONREAD, &nWaiting) && nWaiting > 0))) {
            pConn->bMoreWaiting = true;
            ScheduleReceive(pSocket, false);
            return 0;
        }
        EndCallOn(pClosed);
    } else if (pClosed == m_pBusySocket) {
        DeleteSocket(m_pBusySocket);
    }
    return 0;
}

// Ends the call whose connection this socket is, as a close event does.
void CPhoneDlg::EndCallOn(const CCallSocket* pSocket)
{
    if (pSocket == &m_sockCall) {
        OnCallEndedByPartner(false);
        EndOutgoingCall();
        ShowLookAfterCallEnded();
    } else if (pSocket && pSocket == m_pInSocket) {
        OnCallEndedByPartner(true);
        EndIncomingCall();
        ShowLookAfterCallEnded();
    }
}

LRESULT CPhoneDlg::OnSockIgnore(WPARAM, LPARAM) { return 0; }
