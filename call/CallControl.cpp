// Call control of the main window: the call buttons, Enter and the socket events become events of
// the call core; its effects are carried out here, on the sockets and the controls.
#include "app/PhoneDlg.h"

#include "ui/ErrorText.h"

#include <algorithm>
#include <cstdlib>

namespace {

// How long one turn of reading and listing may hold the window during a flood, how many lines
// it lists at most, and how much one read takes (a read of short lines is many lines). Once a
// list is full every line listed pushes its oldest out, which costs as much again: turns of a
// thousand short lines keep the window's answers quick.
const DWORD kReceiveTurnMs = 8;
const size_t kReceiveTurnLines = 1000;
const int kReadSize = 8 * 1024;
const UINT_PTR kReceiveTimer = 0x4B52; // continues a flood while input or painting waits

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

// Effects that belong to one connection of a call and mean nothing once it has ended.
bool ForConnection(CCallEffect::Kind kind)
{
    return kind == CCallEffect::Transmit || kind == CCallEffect::ListReceived ||
        kind == CCallEffect::PartnerName;
}

} // namespace

void CPhoneDlg::ShowSystemError(DWORD dwError) { AfxMessageBox(ErrorText(dwError), MB_OK); }

void CPhoneDlg::OpenListeningSocket()
{
    UINT nPort = (UINT)std::atoi(m_strPort);
    if (!m_sockListen.Create(nPort, SOCK_STREAM, CAsyncSocket::AllEvents) ||
        !m_sockListen.AsyncSelect(CAsyncSocket::AllEvents) || !m_sockListen.Listen(5)) {
        ShowSystemError(::GetLastError());
    }
}

CCallSocket* CPhoneDlg::SocketOf(CallConn conn)
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

bool CPhoneDlg::ConnOf(const CCallSocket* pSocket, CallConn* pConn)
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

// Carries out what the core asks for, in order. Opening and accepting a connection report their
// outcome to the core at once; what that causes is carried out next. Boxes come last: their loop
// may hand the window later events, which carry out their own effects.
void CPhoneDlg::ApplyCallEffects()
{
    std::vector<CCallEffect> todo = m_core.TakeEffects();
    std::vector<DWORD> sendErrors;
    int nTransmits = 0, nFailedTransmits = 0;
    for (size_t i = 0; i < todo.size(); ++i) {
        const CCallEffect e = todo[i];
        if (ForConnection(e.kind) && e.nGeneration != m_core.Generation(e.conn)) continue;
        CReceiveState& recv = e.conn == CallConn::Out ? m_recvOut : m_recvIn;
        switch (e.kind) {
        case CCallEffect::Connect:
            m_recvOut.Reset();
            if (!m_sockCall.Create(0, SOCK_STREAM, CAsyncSocket::AllEvents) ||
                !m_sockCall.AsyncSelect(CAsyncSocket::AllEvents) ||
                (!m_sockCall.Connect(e.strText, (UINT)e.nCode) && ::GetLastError() != WSAEWOULDBLOCK)) {
                m_core.DialFailed((int)::GetLastError());
            }
            break;
        case CCallEffect::Accept: {
            CCallSocket*& rpSocket = e.conn == CallConn::In ? m_pInSocket : m_pBusySocket;
            DeleteSocket(rpSocket);
            rpSocket = new CCallSocket;
            rpSocket->SetOwner(this);
            if (!m_sockListen.Accept(*rpSocket)) {
                const DWORD dwError = ::GetLastError();
                DeleteSocket(rpSocket);
                m_core.AcceptFailed(e.conn, (int)dwError);
            } else {
                if (e.conn == CallConn::In) m_recvIn.Reset();
                m_edtMyName.GetWindowText(m_strMyName);
                m_core.Accepted(e.conn, PeerAddress(rpSocket), m_strMyName);
            }
            break;
        }
        case CCallEffect::Close:
            if (e.conn == CallConn::Out)
                m_sockCall.Close();
            else
                DeleteSocket(e.conn == CallConn::In ? m_pInSocket : m_pBusySocket);
            if (e.conn != CallConn::Busy) recv.Reset();
            break;
        case CCallEffect::Transmit:
            if (CCallSocket* pSocket = SocketOf(e.conn)) {
                ++nTransmits;
                if (int nError = m_core.Flush(e.conn, SendFnOf(*pSocket))) {
                    ++nFailedTransmits;
                    sendErrors.push_back((DWORD)nError);
                }
            }
            break;
        case CCallEffect::Look: {
            const CCallLook look = m_core.Look();
            m_btnCall.EnableWindow(look.bCallEnabled);
            m_btnHangUp.EnableWindow(look.bHangUpEnabled);
            m_btnAnswer.EnableWindow(look.bAnswerEnabled);
            m_stcStatus.SetWindowText(look.strStatus);
            m_stcStatus.ShowWindow(look.bStatusShown ? SW_SHOW : SW_HIDE);
            if (HWND hSecure = ::GetDlgItem(m_hWnd, IDC_STATIC_SECURE)) {
                ::SetWindowTextA(hSecure, look.strSecure);
                ::ShowWindow(hSecure, look.bSecureShown ? SW_SHOW : SW_HIDE);
            }
            break;
        }
        case CCallEffect::PartnerName:
            if (e.bOn) m_strPartnerName = e.strText;
            m_stcPartnerName.SetWindowText(e.strText);
            break;
        case CCallEffect::ListReceived:
            AddLines(m_lstReceive, e.lines, m_measure);
            break;
        case CCallEffect::ListSent:
            // A line that no partner could be sent stays in the edit and is not listed.
            if (nTransmits > 0 && nFailedTransmits == nTransmits) break;
            AddLines(m_lstSend, { e.strText }, m_measure);
            m_edtSend.SetWindowText("");
            break;
        case CCallEffect::ClearLists:
            ClearLines(m_lstSend);
            ClearLines(m_lstReceive);
            m_stcPartnerName.SetWindowText("");
            break;
        case CCallEffect::Ring:
            m_notifier.SetRinging(e.bOn);
            break;
        case CCallEffect::Record:
            if (e.event == CCallEffect::Sent && nTransmits > 0 && nFailedTransmits == nTransmits) break;
            m_journal.Record(e);
            if (e.event == CCallEffect::Received)
                m_notifier.LinesReceived(e.lines, m_journal.PartnerOf(e.conn));
            if (e.event == CCallEffect::TurnedAway || e.event == CCallEffect::Ended)
                m_notifier.UpdateTip(m_journal.Missed().GetCount());
            break;
        case CCallEffect::ShowError:
            ShowSystemError((DWORD)e.nCode);
            break;
        case CCallEffect::ShowText:
            AfxMessageBox(e.strText, MB_OK | MB_ICONEXCLAMATION);
            break;
        case CCallEffect::NotifyIncoming:
            if (m_bInTray) {
                CString strTitle;
                strTitle.LoadString(AFX_IDS_APP_TITLE);
                ::MessageBoxA(NULL, "着信しました。", strTitle, MB_OK);
                OnRestore();
            }
            break;
        }
        // What the outcome of this effect caused comes next, before the rest.
        std::vector<CCallEffect> more = m_core.TakeEffects();
        todo.insert(todo.begin() + (std::ptrdiff_t)i + 1, more.begin(), more.end());
    }
    for (DWORD dwError : sendErrors) ShowSystemError(dwError);
}

void CPhoneDlg::OnCall()
{
    m_edtAddress.GetWindowText(m_strAddress);
    m_edtPort.GetWindowText(m_strPort);
    m_core.PressCall(m_strAddress, m_strPort);
    ApplyCallEffects();
}

LRESULT CPhoneDlg::OnSockConnect(WPARAM, LPARAM lParam)
{
    if ((CCallSocket*)lParam != &m_sockCall) return 0;
    const int nError = m_sockCall.GetConnectError();
    m_core.Connected(nError, nError ? CString() : PeerAddress(&m_sockCall));
    ApplyCallEffects();
    return 0;
}

LRESULT CPhoneDlg::OnSockAccept(WPARAM, LPARAM)
{
    m_core.ConnectionWaiting();
    ApplyCallEffects();
    return 0;
}

LRESULT CPhoneDlg::OnSockReceive(WPARAM, LPARAM lParam)
{
    CallConn conn;
    if (!ConnOf((const CCallSocket*)lParam, &conn)) return 0;
    if (conn == CallConn::Busy) {
        // A caller turned away as busy is not listened to: read and drop what it sends.
        char sink[4096];
        for (int i = 0; i < 16 && m_pBusySocket->Receive(sink, sizeof sink) > 0; ++i) { }
        return 0;
    }
    // While a flood is being listed, typing, clicks and painting come first: the system hands
    // those out only once no posted message waits, so the flood goes on from a timer.
    CReceiveState& recv = conn == CallConn::Out ? m_recvOut : m_recvIn;
    if (recv.bMoreWaiting && HIWORD(::GetQueueStatus(QS_INPUT | QS_PAINT)) != 0) {
        ScheduleReceive(conn, true);
        return 0;
    }
    ReceiveTurn(conn);
    return 0;
}

// Reads what waits on a call's connection and hands it to the core, for a bounded time; what is
// left is taken up again by a posted message or the timer. A partner's close that came
// meanwhile ends the call once everything before it has been read.
void CPhoneDlg::ReceiveTurn(CallConn conn)
{
    CReceiveState& recv = conn == CallConn::Out ? m_recvOut : m_recvIn;
    CCallSocket* pSocket = SocketOf(conn);
    if (!pSocket) return;
    if (recv.bInTurn) {
        // A modal box opened during a turn: its loop must not list later lines before earlier.
        ScheduleReceive(conn, true);
        return;
    }
    recv.bInTurn = true;
    // A box opened while lines are applied (an error text) lets a close event end the
    // connection meanwhile; then nothing more is done with it.
    const unsigned nGeneration = m_core.Generation(conn);
    const auto gone = [&] { return SocketOf(conn) != pSocket || m_core.Generation(conn) != nGeneration; };
    if (m_receiveBuffer.empty()) m_receiveBuffer.resize(kReadSize);
    const DWORD dwStart = ::GetTickCount();
    size_t nLines = 0;
    bool bDrained = false;
    for (;;) {
        int n = pSocket->Receive(m_receiveBuffer.data(), kReadSize);
        if (n <= 0) {
            // Nothing more for now, the partner's end, or a failed read (no text for it).
            bDrained = true;
            break;
        }
        // A short read took all there was; more raises another read event.
        if (n < kReadSize) bDrained = true;
        m_edtMyName.GetWindowText(m_strMyName);
        nLines += m_core.Received(conn, m_receiveBuffer.data(), n, m_strMyName);
        // The call ended by what was read (a changed frame): nothing more is read from it.
        if (m_core.Generation(conn) != nGeneration) break;
        if (bDrained || nLines >= kReceiveTurnLines || ::GetTickCount() - dwStart >= kReceiveTurnMs) break;
    }
    // What the turn read is carried out now, its lines listed as one batch.
    ApplyCallEffects();
    if (gone()) return;
    recv.bInTurn = false;
    recv.bMoreWaiting = !bDrained;
    if (!bDrained) {
        ScheduleReceive(conn, HIWORD(::GetQueueStatus(QS_INPUT | QS_PAINT)) != 0);
    } else if (recv.bPeerClosed) {
        m_core.Closed(conn);
        ApplyCallEffects();
    }
}

// Continues reading a connection later: at once by a posted message, or by the timer when
// input or painting waits (those are handed out only when no posted message does).
void CPhoneDlg::ScheduleReceive(CallConn conn, bool bByTimer)
{
    if (bByTimer)
        ::SetTimer(m_hWnd, kReceiveTimer, USER_TIMER_MINIMUM, ReceiveTimerProc);
    else
        PostMessage(WM_SOCK_RECEIVE, 0, (LPARAM)SocketOf(conn));
}

void CALLBACK CPhoneDlg::ReceiveTimerProc(HWND hWnd, UINT, UINT_PTR nTimer, DWORD)
{
    ::KillTimer(hWnd, nTimer);
    CPhoneDlg* pDlg = dynamic_cast<CPhoneDlg*>(CWnd::FromHandlePermanent(hWnd));
    if (!pDlg) return;
    if (pDlg->m_recvIn.bMoreWaiting) pDlg->ReceiveTurn(CallConn::In);
    if (pDlg->m_recvOut.bMoreWaiting) pDlg->ReceiveTurn(CallConn::Out);
}

LRESULT CPhoneDlg::OnSockSend(WPARAM, LPARAM lParam)
{
    // The socket takes bytes again: send what waits.
    CallConn conn;
    if (!ConnOf((const CCallSocket*)lParam, &conn)) return 0;
    if (m_core.Queued(conn) == 0) return 0;
    if (int nError = m_core.Flush(conn, SendFnOf(*SocketOf(conn)))) ShowSystemError((DWORD)nError);
    return 0;
}

void CPhoneDlg::OnAnswer()
{
    m_core.PressAnswer();
    ApplyCallEffects();
}

void CPhoneDlg::OnOK()
{
    // Enter sends the typed line; it never closes the window.
    CString strText;
    m_edtSend.GetWindowText(strText);
    m_core.PressEnter(strText);
    ApplyCallEffects();
}

void CPhoneDlg::OnHangUp()
{
    m_core.PressHangUp();
    ApplyCallEffects();
}

LRESULT CPhoneDlg::OnSockClose(WPARAM, LPARAM lParam)
{
    // Only the call whose socket closed ends.
    CallConn conn;
    if (!ConnOf((const CCallSocket*)lParam, &conn)) return 0;
    if (conn != CallConn::Busy) {
        // Lines that arrived before the close are listed first; the last turn ends the call. A
        // turn that waits for a box to be closed (an error text) does not hold the end up: the
        // call ends now, as it would with nobody to close the box.
        CReceiveState& recv = conn == CallConn::Out ? m_recvOut : m_recvIn;
        recv.bPeerClosed = true;
        DWORD nWaiting = 0;
        if (!recv.bInTurn &&
            (recv.bMoreWaiting || (SocketOf(conn)->IOCtl(FIONREAD, &nWaiting) && nWaiting > 0))) {
            recv.bMoreWaiting = true;
            ScheduleReceive(conn, false);
            return 0;
        }
    }
    m_core.Closed(conn);
    ApplyCallEffects();
    return 0;
}

LRESULT CPhoneDlg::OnSockIgnore(WPARAM, LPARAM) { return 0; }
