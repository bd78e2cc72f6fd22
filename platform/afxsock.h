// Message-driven asynchronous TCP socket over WSAAsyncSelect. Every network event reaches the
// object's virtual handler on the user-interface thread, one at a time, in order.
#pragma once

#include "afxwin.h"

// Starts Windows Sockets for the process; it is shut down again at exit. FALSE on failure.
BOOL AfxSocketInit(WSADATA* lpwsaData = NULL);

class CAsyncSocket {
public:
    enum { AllEvents = FD_READ | FD_WRITE | FD_OOB | FD_ACCEPT | FD_CONNECT | FD_CLOSE };

    CAsyncSocket();
    virtual ~CAsyncSocket();
    CAsyncSocket(const CAsyncSocket&) = delete;
    CAsyncSocket& operator=(const CAsyncSocket&) = delete;

    SOCKET m_hSocket;
    operator SOCKET() const { return m_hSocket; }

    // Opens a socket bound to the port (0: any free port) on all local addresses (or the
    // given dotted address) and registers for the events. FALSE with the reason in the
    // last-error value.
    BOOL Create(UINT nSocketPort = 0, int nSocketType = SOCK_STREAM, long lEvent = AllEvents,
                const char* lpszSocketAddress = NULL);
    BOOL AsyncSelect(long lEvent = AllEvents);
    BOOL Listen(int nConnectionBacklog = 5);
    // Non-blocking connect to a dotted address or a host name. A host name is looked up without
    // blocking the thread; like a connection being set up, that returns FALSE with
    // WSAEWOULDBLOCK, and the outcome arrives as OnConnect (with the look-up's error if it failed).
    BOOL Connect(const char* lpszHostAddress, UINT nHostPort);
    // Takes the next waiting connection into a socket object that is not open yet.
    virtual BOOL Accept(CAsyncSocket& rConnectedSocket, SOCKADDR* lpSockAddr = NULL, int* lpSockAddrLen = NULL);
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

protected:
    virtual void OnReceive(int nErrorCode);
    virtual void OnSend(int nErrorCode);
    virtual void OnOutOfBandData(int nErrorCode);
    virtual void OnAccept(int nErrorCode);
    virtual void OnConnect(int nErrorCode);
    virtual void OnClose(int nErrorCode);

private:
    friend struct SocketDispatcher;
    BOOL AttachHandle(SOCKET hSocket, long lEvent);
    void DetachHandle();
    void DeliverEvent(int nEvent, int nErrorCode);
    void LookupDone(int nError, const char* pHostEnt);

    UINT m_nMsg = 0;            // notification message of the current handle
    UINT m_nAcceptedFrom = 0;   // notification message of the listener this socket came from
    long m_lEvent = 0;
    HANDLE m_hLookup = NULL;    // host-name look-up in progress
    UINT m_nLookupPort = 0;
};
