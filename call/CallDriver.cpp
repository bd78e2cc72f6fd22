#include "call/CallDriver.h"

#include "res/resource.h"
#include "call/ErrorText.h"

#include <algorithm>

namespace {

// How long one turn of reading and listing may hold the window during a flood, how many lines
// it lists at most, and how much one read takes (a read of short lines is many lines). Once a
// list is full every line listed pushes its oldest out, which costs as much again: turns of a
// thousand short lines keep the window's answers quick.
const DWORD kReceiveTurnMs = 8;
const size_t kReceiveTurnLines = 1000;
const int kReadSize = 8 * 1024;
const UINT_PTR kReceiveTimer = 0x4B52; // continues a flood while input or painting waits
const UINT_PTR kCoreTimer = 0x4B53; // the core's timer (the incoming call's wait for a reveal)
const UINT_PTR kMachineTimer = 0x4B54; // the answering machine's ring and message bound
// The window property that leads the receive timer back to its driver.
const char kDriverProp[] = "KelvaroCallDriver";

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

CString PeerAddress(CCallSocket* pSocket)
{
    CString strAddress;
    UINT nPort = 0;
    if (!pSocket || !pSocket->GetPeerName(strAddress, nPort)) return CString("?");
    return strAddress;
}

void DeleteSocket(CCallSocket*& rpSocket)
{
    CCallSocket* p = rpSocket;
    rpSocket = nullptr;
    delete p; // closes its socket and drops its queued messages
}

// Input or painting waits: the system hands those out only once no posted message waits.
bool InputWaits() { return HIWORD(::GetQueueStatus(QS_INPUT | QS_PAINT)) != 0; }

} // namespace

CCallDriver::~CCallDriver() { Detach(); }

void CCallDriver::Attach(const CCallWindow& window)
{
    m_window = window;
    m_sockCall.SetOwner(window.pOwner);
    m_sockListen.SetOwner(window.pOwner);
    ::SetPropA(window.pOwner->m_hWnd, kDriverProp, this);
}

bool CCallDriver::Listen(UINT nPort, DWORD* pdwError)
{
    if (m_sockListen.Create(nPort, SOCK_STREAM, CAsyncSocket::AllEvents) &&
        m_sockListen.AsyncSelect(CAsyncSocket::AllEvents) && m_sockListen.Listen(5))
        return true;
    *pdwError = ::GetLastError();
    return false;
}

UINT CCallDriver::ListeningPort()
{
    CString strAddress;
    UINT nPort = 0;
    if (m_sockListen.m_hSocket == INVALID_SOCKET || !m_sockListen.GetSockName(strAddress, nPort)) return 0;
    return nPort;
}

void CCallDriver::Detach()
{
    if (m_window.pOwner && ::IsWindow(m_window.pOwner->m_hWnd)) {
        ::KillTimer(m_window.pOwner->m_hWnd, kReceiveTimer);
        ::KillTimer(m_window.pOwner->m_hWnd, kCoreTimer);
        ::KillTimer(m_window.pOwner->m_hWnd, kMachineTimer);
        ::RemovePropA(m_window.pOwner->m_hWnd, kDriverProp);
    }
    DeleteSocket(m_pInSocket);
    DeleteSocket(m_pBusySocket);
}

CCallSocket* CCallDriver::SocketOf(CallConn conn)
{
    switch (conn) {
    case CallConn::Out:
        return m_sockCall.m_hSocket != INVALID_SOCKET ? &m_sockCall : nullptr;
    case CallConn::In:
        return m_pInSocket;
    case CallConn::Busy:
        return m_pBusySocket;
    }
    return nullptr;
}

bool CCallDriver::ConnOf(const CCallSocket* pSocket, CallConn* pConn)
{
    // The socket is compared, never dereferenced: it may be gone already.
    for (CallConn conn : { CallConn::Out, CallConn::In, CallConn::Busy }) {
        if (pSocket && SocketOf(conn) == pSocket) {
            *pConn = conn;
            return true;
        }
    }
    return false;
}

CString CCallDriver::MyName()
{
    CString strName;
    if (m_window.pMyName) m_window.pMyName->GetWindowText(strName);
    return strName;
}

// ---------------------------------------------------------------------------------------------
// The effects

void CCallDriver::Carry()
{
    // Boxes come last in a round: their loop may hand the window later events, which carry out
    // their own effects.
    for (;;) {
        const std::vector<CCallEffect> effects = m_core.TakeEffects();
        if (effects.empty()) return;
        Outcomes outcomes;
        for (const CCallEffect& effect : effects) std::visit([&](const auto& e) { Do(e, outcomes); }, effect);
        Report(outcomes);
    }
}

void CCallDriver::SayGoodbye()
{
    m_core.Leave();
    for (const CCallEffect& effect : m_core.TakeEffects()) {
        const auto* pFlush = std::get_if<CallFx::Flush>(&effect);
        CCallSocket* pSocket = pFlush ? SocketOf(pFlush->conn) : nullptr;
        if (pSocket) m_core.Flush(pFlush->conn, SendFnOf(*pSocket));
    }
}

void CCallDriver::Report(Outcomes& outcomes)
{
    if (outcomes.bDialFailed) m_core.DialFailed(outcomes.nDialError);
    for (const Outcomes::Accept& a : outcomes.accepts) {
        if (a.bOk)
            m_core.Accepted(a.conn, a.strPeer, MyName());
        else
            m_core.AcceptFailed(a.conn, a.nError);
    }
    for (const auto& flush : outcomes.flushes) m_core.Flushed(flush.first, flush.second);
}

void CCallDriver::Do(const CallFx::Connect& e, Outcomes& out)
{
    m_recvOut.Reset();
    if (!m_sockCall.Create(0, SOCK_STREAM, CAsyncSocket::AllEvents) ||
        !m_sockCall.AsyncSelect(CAsyncSocket::AllEvents) ||
        (!m_sockCall.Connect(e.strAddress, e.nPort) && ::GetLastError() != WSAEWOULDBLOCK)) {
        out.bDialFailed = true;
        out.nDialError = (int)::GetLastError();
    }
}

void CCallDriver::Do(const CallFx::Accept& e, Outcomes& out)
{
    CCallSocket*& rpSocket = e.conn == CallConn::In ? m_pInSocket : m_pBusySocket;
    DeleteSocket(rpSocket);
    rpSocket = new CCallSocket;
    rpSocket->SetOwner(m_window.pOwner);
    if (!m_sockListen.Accept(*rpSocket)) {
        const DWORD dwError = ::GetLastError();
        DeleteSocket(rpSocket);
        out.accepts.push_back({ e.conn, false, (int)dwError, CString() });
        return;
    }
    if (e.conn == CallConn::In) m_recvIn.Reset();
    out.accepts.push_back({ e.conn, true, 0, PeerAddress(rpSocket) });
}

void CCallDriver::Do(const CallFx::Close& e, Outcomes&)
{
    // An encrypted call's last words (its sealed hang-up) go in one send, as far as it takes them.
    if (CCallSocket* pSocket = e.strLastWords.IsEmpty() ? nullptr : SocketOf(e.conn))
        pSocket->Send(e.strLastWords, e.strLastWords.GetLength());
    if (e.conn == CallConn::Out)
        m_sockCall.Close();
    else
        DeleteSocket(e.conn == CallConn::In ? m_pInSocket : m_pBusySocket);
    if (e.conn != CallConn::Busy) ReceiveOf(e.conn).Reset();
}

void CCallDriver::Do(const CallFx::Flush& e, Outcomes& out)
{
    if (Stale(e.conn, e.nGeneration)) return;
    CCallSocket* pSocket = SocketOf(e.conn);
    out.flushes.emplace_back(e.conn, pSocket ? m_core.Flush(e.conn, SendFnOf(*pSocket)) : 0);
}

void CCallDriver::Do(const CallFx::Look& e, Outcomes&)
{
    m_window.pCall->EnableWindow(e.look.bCallEnabled);
    m_window.pHangUp->EnableWindow(e.look.bHangUpEnabled);
    m_window.pAnswer->EnableWindow(e.look.bAnswerEnabled);
    m_window.pStatus->SetWindowText(e.look.strStatus);
    m_window.pStatus->ShowWindow(e.look.bStatusShown ? SW_SHOW : SW_HIDE);
    if (HWND hSecure = ::GetDlgItem(m_window.pOwner->m_hWnd, IDC_STATIC_SECURE)) {
        ::SetWindowTextA(hSecure, e.look.strSecure);
        ::ShowWindow(hSecure, e.look.bSecureShown ? SW_SHOW : SW_HIDE);
    }
    if (HWND hVerify = ::GetDlgItem(m_window.pOwner->m_hWnd, IDC_BTN_VERIFY))
        ::ShowWindow(hVerify, e.look.bVerifyShown ? SW_SHOW : SW_HIDE);
}

void CCallDriver::Do(const CallFx::PartnerName& e, Outcomes&)
{
    if (Stale(e.conn, e.nGeneration)) return;
    if (e.bKeep) *m_window.pKeptName = e.strName;
    m_window.pPartnerName->SetWindowText(e.strName);
}

void CCallDriver::Do(const CallFx::ListReceived& e, Outcomes&)
{
    if (Stale(e.conn, e.nGeneration)) return;
    AddLines(*m_window.pReceiveList, e.lines, m_measure);
}

void CCallDriver::Do(const CallFx::ListSent& e, Outcomes&)
{
    AddLines(*m_window.pSendList, { e.strText }, m_measure);
    m_window.pSendEdit->SetWindowText("");
}

void CCallDriver::Do(const CallFx::ClearLists&, Outcomes&)
{
    ClearLines(*m_window.pSendList);
    ClearLines(*m_window.pReceiveList);
    m_window.pPartnerName->SetWindowText("");
}

void CCallDriver::Do(const CallFx::Ring& e, Outcomes&) { m_window.ring(e.bOn); }

void CCallDriver::Do(const CallFx::Record& e, Outcomes&) { m_window.record(e.conn, e.what); }

void CCallDriver::Do(const CallFx::ShowError& e, Outcomes&)
{
    AfxMessageBox(ErrorText((DWORD)e.nError), MB_OK);
}

void CCallDriver::Do(const CallFx::ShowText& e, Outcomes&)
{
    // A warning (a tampered line, a key that does not match): screen readers hear it at once.
    ::NotifyWinEvent(EVENT_SYSTEM_ALERT, m_window.pOwner->m_hWnd, OBJID_CLIENT, CHILDID_SELF);
    AfxMessageBox(e.strText, MB_OK | MB_ICONEXCLAMATION);
}

void CCallDriver::Do(const CallFx::NotifyIncoming&, Outcomes&) { m_window.notifyIncoming(); }

void CCallDriver::Do(const CallFx::KeyWarning& e, Outcomes&)
{
    AfxMessageBox(e.strText, MB_OK | MB_ICONWARNING);
    m_core.WarningAnswered(e.conn, e.nGeneration);
}

void CCallDriver::Do(const CallFx::Verify& e, Outcomes&)
{
    if (m_window.verify) m_window.verify(e.contact);
}

void CCallDriver::Do(const CallFx::Timer& e, Outcomes&)
{
    // Only the incoming call has timers: the wait for the caller's reveal, and the answering
    // machine's.
    if (e.conn != CallConn::In) return;
    const UINT_PTR nTimer = e.kind == CallTimer::Machine ? kMachineTimer : kCoreTimer;
    if (e.bOn)
        ::SetTimer(m_window.pOwner->m_hWnd, nTimer, (UINT)e.nMs, CoreTimerProc);
    else
        ::KillTimer(m_window.pOwner->m_hWnd, nTimer);
}

// ---------------------------------------------------------------------------------------------
// The sockets' messages

void CCallDriver::OnConnect(const CCallSocket* pSocket)
{
    if (pSocket != &m_sockCall) return;
    const int nError = m_sockCall.GetConnectError();
    m_core.Connected(nError, nError ? CString() : PeerAddress(&m_sockCall));
    Carry();
}

void CCallDriver::OnAccept()
{
    m_core.ConnectionWaiting();
    Carry();
}

void CCallDriver::OnReceive(const CCallSocket* pSocket)
{
    CallConn conn;
    if (!ConnOf(pSocket, &conn)) return;
    if (conn == CallConn::Busy) {
        // A caller turned away as busy is not listened to: read and drop what it sends.
        char sink[4096];
        for (int i = 0; i < 16 && m_pBusySocket->Receive(sink, sizeof sink) > 0; ++i) { }
        return;
    }
    // While a flood is being listed, typing, clicks and painting come first: the flood goes on
    // from a timer.
    if (ReceiveOf(conn).bMoreWaiting && InputWaits()) {
        ScheduleReceive(conn, true);
        return;
    }
    ReceiveTurn(conn);
}

void CCallDriver::OnSend(const CCallSocket* pSocket)
{
    // The socket takes bytes again: send what waits.
    CallConn conn;
    if (!ConnOf(pSocket, &conn) || m_core.Queued(conn) == 0) return;
    m_core.Flushed(conn, m_core.Flush(conn, SendFnOf(*SocketOf(conn))));
    Carry();
}

void CCallDriver::OnClose(const CCallSocket* pSocket)
{
    // Only the call whose socket closed ends.
    CallConn conn;
    if (!ConnOf(pSocket, &conn)) return;
    if (conn != CallConn::Busy) {
        // Lines that arrived before the close are listed first; the last turn ends the call. A
        // turn that waits for a box to be closed (an error text) does not hold the end up: the
        // call ends now, as it would with nobody to close the box.
        CReceiveState& recv = ReceiveOf(conn);
        recv.bPeerClosed = true;
        DWORD nWaiting = 0;
        if (!recv.bInTurn &&
            (recv.bMoreWaiting || (SocketOf(conn)->IOCtl(FIONREAD, &nWaiting) && nWaiting > 0))) {
            recv.bMoreWaiting = true;
            ScheduleReceive(conn, false);
            return;
        }
    }
    m_core.Closed(conn);
    Carry();
}

// ---------------------------------------------------------------------------------------------
// Receive turns

// Reads what waits on a call's connection and hands it to the core, for a bounded time; what is
// left is taken up again by a posted message or the timer. A partner's close that came
// meanwhile ends the call once everything before it has been read.
void CCallDriver::ReceiveTurn(CallConn conn)
{
    CReceiveState& recv = ReceiveOf(conn);
    CCallSocket* pSocket = SocketOf(conn);
    if (!pSocket) return;
    if (recv.bInTurn) {
        // A modal box opened during a turn: its loop must not list later lines before earlier.
        // The socket raises no other read event until it is read, so the turn reads on once it
        // is over.
        recv.bMoreWaiting = true;
        return;
    }
    recv.bInTurn = true;
    recv.bMoreWaiting = false;
    // A box opened while lines are applied (an error text) lets a close event end the
    // connection meanwhile; then nothing more is done with it.
    const unsigned nGeneration = m_core.Generation(conn);
    if (m_receiveBuffer.empty()) m_receiveBuffer.resize(kReadSize);
    const DWORD dwStart = ::GetTickCount();
    size_t nLines = 0;
    bool bDrained = false;
    for (;;) {
        const int n = pSocket->Receive(m_receiveBuffer.data(), kReadSize);
        // Nothing more for now, the partner's end, or a failed read (no text for it); a short
        // read took all there was, and more raises another read event.
        bDrained = n < kReadSize;
        if (n <= 0) break;
        nLines += m_core.Received(conn, m_receiveBuffer.data(), n, MyName());
        // The call ended by what was read (a changed frame): nothing more is read from it.
        if (Stale(conn, nGeneration)) break;
        if (bDrained || nLines >= kReceiveTurnLines || ::GetTickCount() - dwStart >= kReceiveTurnMs) break;
    }
    // What the turn read is carried out now, its lines listed as one batch.
    Carry();
    if (SocketOf(conn) != pSocket || Stale(conn, nGeneration)) return;
    recv.bInTurn = false;
    recv.bMoreWaiting = recv.bMoreWaiting || !bDrained;
    if (recv.bMoreWaiting) {
        ScheduleReceive(conn, InputWaits());
    } else if (recv.bPeerClosed) {
        m_core.Closed(conn);
        Carry();
    }
}

// Continues reading a connection later: at once by a posted message, or by the timer when
// input or painting waits (those are handed out only when no posted message does).
void CCallDriver::ScheduleReceive(CallConn conn, bool bByTimer)
{
    if (bByTimer)
        ::SetTimer(m_window.pOwner->m_hWnd, kReceiveTimer, USER_TIMER_MINIMUM, ReceiveTimerProc);
    else
        m_window.pOwner->PostMessage(WM_SOCK_RECEIVE, 0, (LPARAM)SocketOf(conn));
}

void CALLBACK CCallDriver::CoreTimerProc(HWND hWnd, UINT, UINT_PTR nTimer, DWORD)
{
    ::KillTimer(hWnd, nTimer);
    CCallDriver* pDriver = (CCallDriver*)::GetPropA(hWnd, kDriverProp);
    if (!pDriver) return;
    if (nTimer == kMachineTimer)
        pDriver->m_core.MachineTimerExpired();
    else
        pDriver->m_core.TimerExpired(CallConn::In);
    pDriver->Carry();
}

void CALLBACK CCallDriver::ReceiveTimerProc(HWND hWnd, UINT, UINT_PTR nTimer, DWORD)
{
    ::KillTimer(hWnd, nTimer);
    CCallDriver* pDriver = (CCallDriver*)::GetPropA(hWnd, kDriverProp);
    if (!pDriver) return;
    if (pDriver->m_recvIn.bMoreWaiting) pDriver->ReceiveTurn(CallConn::In);
    if (pDriver->m_recvOut.bMoreWaiting) pDriver->ReceiveTurn(CallConn::Out);
}
