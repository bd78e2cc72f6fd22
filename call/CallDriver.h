// The window side of calls: the sockets, the reading of what arrives in bounded turns, and the
// core's effects carried out on the sockets and controls. The window's handlers hand their events
// to the core and then ask the driver to carry out what the core asked for.
#pragma once

#include "call/CallCore.h"
#include "call/CallSocket.h"
#include "call/LineList.h"
#include "call/ReceiveState.h"

#include <functional>
#include <vector>

// The parts of the window calls are shown in, and what the rest of the window is told.
struct CCallWindow {
    CWnd* pOwner = nullptr; // gets the sockets' messages and the receive timer
    CButton* pCall = nullptr;
    CButton* pHangUp = nullptr;
    CButton* pAnswer = nullptr;
    CStatic* pStatus = nullptr;
    CStatic* pPartnerName = nullptr;
    CListBox* pSendList = nullptr;
    CListBox* pReceiveList = nullptr;
    CEdit* pSendEdit = nullptr;
    CEdit* pMyName = nullptr;
    CString* pKeptName = nullptr; // the caller's name, kept for the phonebook
    std::function<void(CallConn, const CCallRecord&)> record;
    std::function<void(bool)> ring;
    std::function<void()> notifyIncoming; // a call came in
    std::function<void(const CVerifiedContact&)> verify; // keep a partner the user verified
};

class CCallDriver {
public:
    explicit CCallDriver(CCallCore& rCore) : m_core(rCore) { }
    ~CCallDriver();
    CCallDriver(const CCallDriver&) = delete;
    CCallDriver& operator=(const CCallDriver&) = delete;

    void Attach(const CCallWindow& window);
    // Opens the listening socket; false with the error when it cannot be opened.
    bool Listen(UINT nPort, DWORD* pdwError);
    // The window goes: the incoming and the busy connection are closed (the others close with
    // the driver).
    void Detach();

    // The window goes: every encrypted call is sent its sealed hang-up, as far as its socket
    // takes it now, so that the partner does not take the close for a cut line.
    void SayGoodbye();

    // Carries out what the core asks for, in order; what the sockets report of it (a connect
    // that failed, an accepted connection, a flush) goes back to the core after each round.
    void Carry();

    // The sockets' messages.
    void OnConnect(const CCallSocket* pSocket);
    void OnAccept();
    void OnReceive(const CCallSocket* pSocket);
    void OnSend(const CCallSocket* pSocket);
    void OnClose(const CCallSocket* pSocket);

    // The socket of a connection, or null when it has none.
    CCallSocket* SocketOf(CallConn conn);
    // The port the listening socket took (the one asked for, or the system's choice for 0); 0
    // when it is not open.
    UINT ListeningPort();

private:
    // What a round's sockets reported, for the core once the round is carried out.
    struct Outcomes {
        bool bDialFailed = false;
        int nDialError = 0;
        struct Accept {
            CallConn conn;
            bool bOk;
            int nError;
            CString strPeer;
        };
        std::vector<Accept> accepts;
        std::vector<std::pair<CallConn, int>> flushes;
    };

    bool ConnOf(const CCallSocket* pSocket, CallConn* pConn);
    CReceiveState& ReceiveOf(CallConn conn) { return conn == CallConn::Out ? m_recvOut : m_recvIn; }
    bool Stale(CallConn conn, unsigned nGeneration) const { return m_core.Generation(conn) != nGeneration; }
    void Report(Outcomes& outcomes);
    CString MyName();

    void Do(const CallFx::Connect& e, Outcomes& out);
    void Do(const CallFx::Accept& e, Outcomes& out);
    void Do(const CallFx::Close& e, Outcomes& out);
    void Do(const CallFx::Flush& e, Outcomes& out);
    void Do(const CallFx::Look& e, Outcomes& out);
    void Do(const CallFx::PartnerName& e, Outcomes& out);
    void Do(const CallFx::ListReceived& e, Outcomes& out);
    void Do(const CallFx::ListSent& e, Outcomes& out);
    void Do(const CallFx::ClearLists& e, Outcomes& out);
    void Do(const CallFx::Ring& e, Outcomes& out);
    void Do(const CallFx::Record& e, Outcomes& out);
    void Do(const CallFx::ShowError& e, Outcomes& out);
    void Do(const CallFx::ShowText& e, Outcomes& out);
    void Do(const CallFx::NotifyIncoming& e, Outcomes& out);
    void Do(const CallFx::Timer& e, Outcomes& out);
    void Do(const CallFx::KeyWarning& e, Outcomes& out);
    void Do(const CallFx::Verify& e, Outcomes& out);

    void ReceiveTurn(CallConn conn);
    void ScheduleReceive(CallConn conn, bool bByTimer);
    static void CALLBACK ReceiveTimerProc(HWND hWnd, UINT, UINT_PTR nTimer, DWORD);
    static void CALLBACK CoreTimerProc(HWND hWnd, UINT, UINT_PTR nTimer, DWORD);

    CCallCore& m_core;
    CCallWindow m_window;
    CCallSocket m_sockListen;
    CCallSocket m_sockCall;
    CCallSocket* m_pInSocket = nullptr;
    CCallSocket* m_pBusySocket = nullptr;
    CReceiveState m_recvOut;
    CReceiveState m_recvIn;
    std::vector<char> m_receiveBuffer;
    CTextMeasure m_measure; // widths of listed lines
};
