#include "afxsock.h"

#include <ws2tcpip.h>

#include <cstdlib>
#include <map>

// Each open socket gets its own notification message number for WSAAsyncSelect. A closed
// socket's number is retired and its queued messages are purged, so a late notification can
// never reach another socket that happens to get the same handle value, nor a deleted object.
struct SocketDispatcher {
    static const UINT kFirstMsg = WM_USER + 0x100;
    static const UINT kLastMsg = 0x7FFF;
    static const UINT kLookupMsg = WM_USER + 0x0FF;

    HWND hWnd = NULL;
    UINT nNextMsg = kFirstMsg;
    std::map<UINT, CAsyncSocket*> byMsg;
    // A host-name look-up writes its result into its buffer from another thread when it
    // completes, and cancelling it is not guaranteed to stop that (Wine does not). So the
    // buffer belongs to the dispatcher until the completion message arrives; a socket closed
    // meanwhile only leaves its entry without an owner.
    struct Lookup {
        CAsyncSocket* pSocket;
        char* pBuf;
    };
    std::map<HANDLE, Lookup> byLookup;

    static SocketDispatcher& Get()
    {
        static SocketDispatcher d;
        return d;
    }

    HWND Window()
    {
        if (hWnd) return hWnd;
        WNDCLASSA wc = {};
        wc.lpfnWndProc = WndProc;
        wc.hInstance = ::GetModuleHandleA(NULL);
        wc.lpszClassName = "KelvaroSocketNotify";
        ::RegisterClassA(&wc);
        hWnd = ::CreateWindowExA(0, wc.lpszClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, NULL, wc.hInstance, NULL);
        return hWnd;
    }

    UINT Allocate(CAsyncSocket* p)
    {
        for (UINT tries = 0; tries <= kLastMsg - kFirstMsg; ++tries) {
            UINT n = nNextMsg;
            nNextMsg = (n == kLastMsg) ? kFirstMsg : n + 1;
            if (byMsg.find(n) == byMsg.end()) {
                byMsg[n] = p;
                return n;
            }
        }
        return 0;
    }

    void Release(UINT n)
    {
        if (!n) return;
        byMsg.erase(n);
        MSG msg;
        if (hWnd)
            while (::PeekMessageA(&msg, hWnd, n, n, PM_REMOVE)) {}
    }

    static LRESULT CALLBACK WndProc(HWND h, UINT message, WPARAM wParam, LPARAM lParam)
    {
        SocketDispatcher& d = Get();
        if (message == kLookupMsg) {
            auto it = d.byLookup.find((HANDLE)wParam);
            if (it == d.byLookup.end()) return 0;
            Lookup lookup = it->second;
            d.byLookup.erase(it);
            if (lookup.pSocket) lookup.pSocket->LookupDone(WSAGETASYNCERROR(lParam), lookup.pBuf);
            delete[] lookup.pBuf;
            return 0;
        }
        if (message >= kFirstMsg && message <= kLastMsg) {
            auto it = d.byMsg.find(message);
            if (it == d.byMsg.end()) return 0; // socket closed meanwhile
            CAsyncSocket* p = it->second;
            SOCKET s = (SOCKET)wParam;
            if (p->m_hSocket != s) {
                // Between accept() and the new socket's own registration its events carry the
                // listener's number; hand them to the accepted socket.
                p = nullptr;
                for (auto& e : d.byMsg)
                    if (e.second->m_hSocket == s && e.second->m_nAcceptedFrom == message) p = e.second;
                if (!p) return 0;
            }
            p->DeliverEvent(WSAGETSELECTEVENT(lParam), WSAGETSELECTERROR(lParam));
            return 0;
        }
        return ::DefWindowProcA(h, message, wParam, lParam);
    }
};

namespace {
int g_nLiveSockets = 0;

// Ports arrive as numbers read from text with no range check; one that does not fit in 16 bits
// is refused rather than cut down to another port.
const UINT kMaxPort = 0xFFFF;

void CleanupSockets() { ::WSACleanup(); }
} // namespace

BOOL AfxSocketInit(WSADATA* lpwsaData)
{
    WSADATA data;
    if (::WSAStartup(MAKEWORD(2, 2), lpwsaData ? lpwsaData : &data) != 0) return FALSE;
    std::atexit(CleanupSockets);
    return TRUE;
}

CAsyncSocket::CAsyncSocket() : m_hSocket(INVALID_SOCKET) {}

CAsyncSocket::~CAsyncSocket()
{
    if (m_hSocket != INVALID_SOCKET || m_hLookup) CAsyncSocket::Close();
}

int CAsyncSocket::LiveCount() { return g_nLiveSockets; }

BOOL CAsyncSocket::AttachHandle(SOCKET hSocket, long lEvent)
{
    SocketDispatcher& d = SocketDispatcher::Get();
    m_hSocket = hSocket;
    ++g_nLiveSockets;
    m_nMsg = d.Allocate(this);
    if (!m_nMsg || !d.Window()) {
        int err = m_nMsg ? (int)::GetLastError() : WSAEMFILE;
        Close();
        ::WSASetLastError(err);
        return FALSE;
    }
    return AsyncSelect(lEvent);
}

void CAsyncSocket::DetachHandle()
{
    SocketDispatcher::Get().Release(m_nMsg);
    m_nMsg = 0;
    m_nAcceptedFrom = 0;
    m_hSocket = INVALID_SOCKET;
    --g_nLiveSockets;
}

BOOL CAsyncSocket::Create(UINT nSocketPort, int nSocketType, long lEvent, const char* lpszSocketAddress)
{
    if (m_hSocket != INVALID_SOCKET) {
        ::WSASetLastError(WSAEISCONN);
        return FALSE;
    }
    if (nSocketPort > kMaxPort) {
        ::WSASetLastError(WSAEINVAL);
        return FALSE;
    }
    SOCKET s = ::socket(AF_INET, nSocketType, 0);
    if (s == INVALID_SOCKET) return FALSE;
    if (!AttachHandle(s, lEvent)) return FALSE;

    sockaddr_in addr = {};
    addr.sin_family = AF_INET;
    addr.sin_port = htons((u_short)nSocketPort);
    addr.sin_addr.s_addr = htonl(INADDR_ANY);
    if (lpszSocketAddress) {
        addr.sin_addr.s_addr = ::inet_addr(lpszSocketAddress);
        if (addr.sin_addr.s_addr == INADDR_NONE) {
            Close();
            ::WSASetLastError(WSAEINVAL);
            return FALSE;
        }
    }
    if (::bind(s, (sockaddr*)&addr, sizeof addr) == SOCKET_ERROR) {
        int err = ::WSAGetLastError();
        Close();
        ::WSASetLastError(err);
        return FALSE;
    }
    return TRUE;
}

BOOL CAsyncSocket::AsyncSelect(long lEvent)
{
    if (m_hSocket == INVALID_SOCKET) {
        ::WSASetLastError(WSAENOTSOCK);
        return FALSE;
    }
    m_lEvent = lEvent;
    return ::WSAAsyncSelect(m_hSocket, SocketDispatcher::Get().Window(), m_nMsg, lEvent) != SOCKET_ERROR;
}

BOOL CAsyncSocket::Listen(int nConnectionBacklog) { return ::listen(m_hSocket, nConnectionBacklog) != SOCKET_ERROR; }

BOOL CAsyncSocket::Connect(const char* lpszHostAddress, UINT nHostPort)
{
    if (m_hSocket == INVALID_SOCKET) {
        ::WSASetLastError(WSAENOTSOCK);
        return FALSE;
    }
    if (m_hLookup) {
        ::WSASetLastError(WSAEALREADY);
        return FALSE;
    }
    if (nHostPort > kMaxPort) {
        ::WSASetLastError(WSAEINVAL);
        return FALSE;
    }
    if (!lpszHostAddress) lpszHostAddress = "";
    sockaddr_in addr = {};
    addr.sin_family = AF_INET;
    addr.sin_port = htons((u_short)nHostPort);
    addr.sin_addr.s_addr = ::inet_addr(lpszHostAddress);
    if (addr.sin_addr.s_addr == INADDR_NONE && lstrcmpA(lpszHostAddress, "255.255.255.255") != 0) {
        // A host name: look it up in the background; the connect follows in LookupDone.
        SocketDispatcher& d = SocketDispatcher::Get();
        char* pBuf = new char[MAXGETHOSTSTRUCT];
        m_hLookup = ::WSAAsyncGetHostByName(d.Window(), SocketDispatcher::kLookupMsg, lpszHostAddress, pBuf,
                                            MAXGETHOSTSTRUCT);
        if (!m_hLookup) {
            delete[] pBuf;
            return FALSE;
        }
        // A handle in use again means the earlier request with it is over (cancelled).
        auto old = d.byLookup.find(m_hLookup);
        if (old != d.byLookup.end()) delete[] old->second.pBuf;
        d.byLookup[m_hLookup] = { this, pBuf };
        m_nLookupPort = nHostPort;
        ::WSASetLastError(WSAEWOULDBLOCK);
        return FALSE;
    }
    return ::connect(m_hSocket, (sockaddr*)&addr, sizeof addr) != SOCKET_ERROR;
}

void CAsyncSocket::LookupDone(int nError, const char* pHostEnt)
{
    m_hLookup = NULL;
    if (m_hSocket == INVALID_SOCKET) return;
    if (nError == 0) {
        const hostent* he = (const hostent*)pHostEnt;
        if (he->h_addrtype != AF_INET || !he->h_addr_list || !he->h_addr_list[0]) {
            nError = WSANO_DATA;
        } else {
            sockaddr_in addr = {};
            addr.sin_family = AF_INET;
            addr.sin_port = htons((u_short)m_nLookupPort);
            memcpy(&addr.sin_addr, he->h_addr_list[0], sizeof addr.sin_addr);
            if (::connect(m_hSocket, (sockaddr*)&addr, sizeof addr) == SOCKET_ERROR) {
                int err = ::WSAGetLastError();
                if (err != WSAEWOULDBLOCK) nError = err;
            }
        }
    }
    // Success or a pending connect reports through FD_CONNECT; a failure is reported here.
    if (nError) DeliverEvent(FD_CONNECT, nError);
}

BOOL CAsyncSocket::Accept(CAsyncSocket& rConnectedSocket, SOCKADDR* lpSockAddr, int* lpSockAddrLen)
{
    if (rConnectedSocket.m_hSocket != INVALID_SOCKET) {
        ::WSASetLastError(WSAEISCONN);
        return FALSE;
    }
    SOCKET s = ::accept(m_hSocket, lpSockAddr, lpSockAddrLen);
    if (s == INVALID_SOCKET) return FALSE;
    if (!rConnectedSocket.AttachHandle(s, m_lEvent)) return FALSE;
    rConnectedSocket.m_nAcceptedFrom = m_nMsg;
    return TRUE;
}

int CAsyncSocket::Send(const void* lpBuf, int nBufLen, int nFlags)
{
    return ::send(m_hSocket, (const char*)lpBuf, nBufLen, nFlags);
}

int CAsyncSocket::Receive(void* lpBuf, int nBufLen, int nFlags)
{
    return ::recv(m_hSocket, (char*)lpBuf, nBufLen, nFlags);
}

void CAsyncSocket::Close()
{
    if (m_hLookup) {
        // The entry stays, without an owner, until the completion message frees the buffer. If
        // the cancel does work, no message comes and the buffer is kept for good.
        ::WSACancelAsyncRequest(m_hLookup);
        auto& lookups = SocketDispatcher::Get().byLookup;
        auto it = lookups.find(m_hLookup);
        if (it != lookups.end()) it->second.pSocket = nullptr;
        m_hLookup = NULL;
    }
    if (m_hSocket == INVALID_SOCKET) return;
    SOCKET s = m_hSocket;
    DetachHandle();
    ::closesocket(s);
}

BOOL CAsyncSocket::IOCtl(long lCommand, DWORD* lpArgument)
{
    u_long arg = *lpArgument;
    BOOL ok = ::ioctlsocket(m_hSocket, lCommand, &arg) != SOCKET_ERROR;
    *lpArgument = (DWORD)arg;
    return ok;
}

namespace {
// An address as text: dotted IPv4 (also for an IPv4-mapped IPv6 address), IPv6 whole.
BOOL AddressText(const sockaddr_storage& ss, CString& rAddress, UINT& rPort)
{
    char text[INET6_ADDRSTRLEN + 16] = "";
    if (ss.ss_family == AF_INET) {
        const sockaddr_in& a = (const sockaddr_in&)ss;
        ::inet_ntop(AF_INET, (void*)&a.sin_addr, text, sizeof text);
        rPort = ntohs(a.sin_port);
    } else if (ss.ss_family == AF_INET6) {
        const sockaddr_in6& a = (const sockaddr_in6&)ss;
        if (IN6_IS_ADDR_V4MAPPED(&a.sin6_addr))
            ::inet_ntop(AF_INET, (void*)&a.sin6_addr.s6_addr[12], text, sizeof text);
        else
            ::inet_ntop(AF_INET6, (void*)&a.sin6_addr, text, sizeof text);
        rPort = ntohs(a.sin6_port);
    } else {
        return FALSE;
    }
    rAddress = text;
    return TRUE;
}
} // namespace

BOOL CAsyncSocket::GetSockName(CString& rSocketAddress, UINT& rSocketPort)
{
    sockaddr_storage ss = {};
    int len = sizeof ss;
    if (::getsockname(m_hSocket, (sockaddr*)&ss, &len) == SOCKET_ERROR) return FALSE;
    return AddressText(ss, rSocketAddress, rSocketPort);
}

BOOL CAsyncSocket::GetPeerName(CString& rPeerAddress, UINT& rPeerPort)
{
    sockaddr_storage ss = {};
    int len = sizeof ss;
    if (::getpeername(m_hSocket, (sockaddr*)&ss, &len) == SOCKET_ERROR) return FALSE;
    return AddressText(ss, rPeerAddress, rPeerPort);
}

void CAsyncSocket::DeliverEvent(int nEvent, int nErrorCode)
{
    switch (nEvent) {
    case FD_READ: {
        // Skip a read notification that finds nothing to read (already drained).
        DWORD nBytes = 0;
        if (!IOCtl(FIONREAD, &nBytes)) nErrorCode = ::WSAGetLastError();
        if (nBytes != 0 || nErrorCode != 0) OnReceive(nErrorCode);
        break;
    }
    case FD_WRITE: OnSend(nErrorCode); break;
    case FD_OOB: OnOutOfBandData(nErrorCode); break;
    case FD_ACCEPT: OnAccept(nErrorCode); break;
    case FD_CONNECT: OnConnect(nErrorCode); break;
    case FD_CLOSE: OnClose(nErrorCode); break;
    default: break;
    }
}

void CAsyncSocket::OnReceive(int) {}
void CAsyncSocket::OnSend(int) {}
void CAsyncSocket::OnOutOfBandData(int) {}
void CAsyncSocket::OnAccept(int) {}
void CAsyncSocket::OnConnect(int) {}
void CAsyncSocket::OnClose(int) {}
