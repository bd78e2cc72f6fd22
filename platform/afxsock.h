// Message-driven asynchronous TCP socket over WSAAsyncSelect. Every network event reaches the
// object's virtual handler on the user-interface thread, one at a time, in order.
#pragma once

#include "platform/afxwin.h"

#include <ws2tcpip.h>

#include <functional>
#include <vector>

// Removes the posted messages nFirst..nLast of a window for which drop holds; the others stay
// queued in their order. The one way stale socket messages are purged.
void AfxDiscardMessages(HWND hWnd, UINT nFirst, UINT nLast, const std::function<bool(const MSG&)>& drop);

// Starts Windows Sockets for the process; it is shut down again at exit. FALSE on failure.
BOOL AfxSocketInit(WSADATA* lpwsaData = NULL);

class CAsyncSocket {
public:
    enum { AllEvents = FD_READ | FD_WRITE | FD_OOB | FD_ACCEPT | FD_CONNECT | FD_CLOSE };

    CAsyncSocket();
    virtual ~CAsyncSocket();
    CAsyncSocket(const CAsyncSocket&) = delete;
    CAsyncSocket& operator=(const CAsyncSocket&) = delete;

    // The handle; a connect that goes on to a further address replaces it with a fresh one.
    SOCKET m_hSocket;
    operator SOCKET() const { return m_hSocket; }

    // Opens a socket bound to the port (0: any free port) and registers for the events. With no
    // address it takes calls on all local addresses of both families: one dual-stack IPv6
    // socket, or beside the IPv4 socket an IPv6 one where the system has no dual stack, or IPv4
    // alone where it has no IPv6. A given numeric address (IPv4, or IPv6 with or without
    // brackets) binds to it and picks its family. FALSE with the reason in the last-error value.
    BOOL Create(UINT nSocketPort = 0, int nSocketType = SOCK_STREAM, long lEvent = AllEvents,
        const char* lpszSocketAddress = NULL);
    BOOL AsyncSelect(long lEvent = AllEvents);
    // Listens on every handle Create opened.
    BOOL Listen(int nConnectionBacklog = 5);
    // Non-blocking connect to an IPv4 address, an IPv6 address (brackets and a zone such as
    // "fe80::1%2" allowed) or a host name. A name is looked up for both families on a thread of
    // its own; like a connection being set up, that returns FALSE with WSAEWOULDBLOCK. The
    // addresses found are tried in the system's order, each on a fresh handle of its family,
    // until one answers; OnConnect comes once, with 0 or the error of the last try (or of the
    // look-up). Close cancels at any point.
    BOOL Connect(const char* lpszHostAddress, UINT nHostPort);
    // Takes the next waiting connection into a socket object that is not open yet.
    virtual BOOL Accept(
        CAsyncSocket& rConnectedSocket, SOCKADDR* lpSockAddr = NULL, int* lpSockAddrLen = NULL);
    virtual int Send(const void* lpBuf, int nBufLen, int nFlags = 0);
    virtual int Receive(void* lpBuf, int nBufLen, int nFlags = 0);
    // Closes the handle; notifications still queued for it are dropped. The object can be
    // opened again.
    virtual void Close();
    BOOL IOCtl(long lCommand, DWORD* lpArgument);
    // The local and the remote address of the socket as text and port. An IPv6 address is
    // given whole; an IPv4 address that reaches an IPv6 socket is given in its dotted form.
    BOOL GetSockName(CString& rSocketAddress, UINT& rSocketPort);
    BOOL GetPeerName(CString& rPeerAddress, UINT& rPeerPort);

    static int GetLastError() { return ::WSAGetLastError(); }
    // Sockets currently open through this class in the process (for leak checks).
    static int LiveCount();

    // Host-name look-up, replaceable by tests: fills in the addresses found in the order to try
    // them and returns 0 or a Windows Sockets error code. It runs on the look-up's own thread.
    typedef int (*HostLookupFn)(const char* pszHost, std::vector<SOCKADDR_STORAGE>& rAddresses);
    // Installs a look-up (null: the system's getaddrinfo); returns the one it replaces.
    static HostLookupFn SetHostLookup(HostLookupFn pfnLookup);
    // For tests: FALSE makes Create act as on a system without dual-stack sockets.
    static void SetDualStack(BOOL bEnabled);

protected:
    virtual void OnReceive(int nErrorCode);
    virtual void OnSend(int nErrorCode);
    virtual void OnOutOfBandData(int nErrorCode);
    virtual void OnAccept(int nErrorCode);
    virtual void OnConnect(int nErrorCode);
    virtual void OnClose(int nErrorCode);

private:
    friend struct SocketDispatcher;
    struct LookupRequest;
    struct ConnectPlan;
    BOOL AttachHandle(SOCKET hSocket, long lEvent);
    void DetachHandle();
    void CloseSecond();
    void DeliverEvent(int nEvent, int nErrorCode);
    void LookupDone(LookupRequest& rRequest);
    int TryNextAddress(bool* pbNow = nullptr);
    int ReopenFor(int nFamily);

    UINT m_nMsg = 0; // notification message of the current handle
    UINT m_nAcceptedFrom = 0; // notification message of the listener this socket came from
    long m_lEvent = 0;
    // The IPv6 listening handle beside the IPv4 one, where the system has no dual stack.
    SOCKET m_hSecond = INVALID_SOCKET;
    UINT m_nSecondMsg = 0;
    // What Create was given, for the fresh handles a connect opens.
    int m_nType = SOCK_STREAM;
    UINT m_nBindPort = 0;
    SOCKADDR_STORAGE* m_pBindAddress = nullptr; // null: any address
    LookupRequest* m_pLookup = nullptr; // host-name look-up in progress
    ConnectPlan* m_pPlan = nullptr; // addresses of a connect still being tried
};
