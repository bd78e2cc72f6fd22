#include "platform/afxsock.h"

#include <cstdlib>
#include <map>
#include <set>
#include <string>

// A host-name look-up runs on a thread of its own and posts its request back to the
// dispatcher window when done. The request belongs to the dispatcher until that message has
// arrived: a socket closed meanwhile only leaves it without an owner, so the thread never writes
// into memory that has been freed, and its late result reaches nobody.
struct CAsyncSocket::LookupRequest {
    LookupRequest(CAsyncSocket* p, const char* pszHost, HostLookupFn pfn)
        : pSocket(p), strHost(pszHost), pfnLookup(pfn)
    {
    }
    CAsyncSocket* pSocket; // null once the socket has given up on it
    const std::string strHost;
    const HostLookupFn pfnLookup;
    int nError = 0;
    std::vector<SOCKADDR_STORAGE> addresses;
};

// The addresses of a connect, tried one after another.
void AfxDiscardMessages(HWND hWnd, UINT nFirst, UINT nLast, const std::function<bool(const MSG&)>& drop)
{
    std::vector<MSG> keep;
    MSG msg;
    while (::PeekMessageA(&msg, hWnd, nFirst, nLast, PM_REMOVE | PM_NOYIELD)) {
        if (!drop(msg)) keep.push_back(msg);
    }
    for (const MSG& m : keep) ::PostMessageA(hWnd, m.message, m.wParam, m.lParam);
}

struct CAsyncSocket::ConnectPlan {
    std::vector<SOCKADDR_STORAGE> addresses;
    size_t nNext = 0;
    UINT nPort = 0;
    bool bHandleUsed = false; // the current handle has had a connect: the next try needs a fresh one
};

// Each open socket handle gets its own notification message number for WSAAsyncSelect. A
// closed handle's number is retired and its queued messages are purged, so a late notification
// can never reach another socket that happens to get the same handle value, nor a deleted object.
struct SocketDispatcher {
    static const UINT kFirstMsg = WM_USER + 0x100;
    static const UINT kLastMsg = 0x7FFF;
    static const UINT kLookupMsg = WM_USER + 0x0FF;

    HWND hWnd = NULL;
    UINT nNextMsg = kFirstMsg;
    std::map<UINT, CAsyncSocket*> byMsg;
    std::set<CAsyncSocket::LookupRequest*> lookups;

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
        hWnd =
            ::CreateWindowExA(0, wc.lpszClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, NULL, wc.hInstance, NULL);
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
        if (hWnd) AfxDiscardMessages(hWnd, n, n, [](const MSG&) { return true; });
    }

    static DWORD WINAPI LookupThread(LPVOID pParam)
    {
        auto* pRequest = (CAsyncSocket::LookupRequest*)pParam;
        pRequest->nError = pRequest->pfnLookup(pRequest->strHost.c_str(), pRequest->addresses);
        if (!pRequest->nError && pRequest->addresses.empty()) pRequest->nError = WSANO_DATA;
        // If this fails the window is gone (the process is ending) and the request is left.
        ::PostMessageA(Get().hWnd, kLookupMsg, 0, (LPARAM)pRequest);
        return 0;
    }

    static LRESULT CALLBACK WndProc(HWND h, UINT message, WPARAM wParam, LPARAM lParam)
    {
        SocketDispatcher& d = Get();
        if (message == kLookupMsg) {
            auto* pRequest = (CAsyncSocket::LookupRequest*)lParam;
            if (!d.lookups.erase(pRequest)) return 0;
            if (pRequest->pSocket) pRequest->pSocket->LookupDone(*pRequest);
            delete pRequest;
            return 0;
        }
        if (message >= kFirstMsg && message <= kLastMsg) {
            auto it = d.byMsg.find(message);
            if (it == d.byMsg.end()) return 0; // socket closed meanwhile
            CAsyncSocket* p = it->second;
            SOCKET s = (SOCKET)wParam;
            const bool bOwn = p->m_hSocket == s || (p->m_hSecond == s && p->m_nSecondMsg == message);
            if (!bOwn) {
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
BOOL g_bDualStack = TRUE;

// Ports arrive as numbers read from text with no range check; one that does not fit in 16 bits
// is refused rather than cut down to another port.
const UINT kMaxPort = 0xFFFF;

void CleanupSockets() { ::WSACleanup(); }

int SystemLookup(const char* pszHost, std::vector<SOCKADDR_STORAGE>& rAddresses)
{
    addrinfo hints = {};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    addrinfo* pResult = nullptr;
    int nError = ::getaddrinfo(pszHost, NULL, &hints, &pResult);
    if (nError) return nError;
    for (addrinfo* p = pResult; p; p = p->ai_next) {
        if ((p->ai_family != AF_INET && p->ai_family != AF_INET6) || p->ai_addrlen > sizeof(SOCKADDR_STORAGE))
            continue;
        SOCKADDR_STORAGE ss = {};
        memcpy(&ss, p->ai_addr, p->ai_addrlen);
        rAddresses.push_back(ss);
    }
    ::freeaddrinfo(pResult);
    return 0;
}

CAsyncSocket::HostLookupFn g_pfnLookup = SystemLookup;

int AddressLength(const SOCKADDR_STORAGE& ss)
{
    return ss.ss_family == AF_INET6 ? (int)sizeof(sockaddr_in6) : (int)sizeof(sockaddr_in);
}

void SetPort(SOCKADDR_STORAGE& ss, UINT nPort)
{
    if (ss.ss_family == AF_INET6)
        ((sockaddr_in6&)ss).sin6_port = htons((u_short)nPort);
    else
        ((sockaddr_in&)ss).sin_port = htons((u_short)nPort);
}

// A numeric address: dotted IPv4 as inet_addr reads it, or IPv6, optionally in brackets and with
// a zone ("fe80::1%2"). No name is looked up.
bool ParseNumeric(const char* pszText, SOCKADDR_STORAGE& rAddress)
{
    rAddress = SOCKADDR_STORAGE();
    ULONG v4 = ::inet_addr(pszText);
    if (v4 != INADDR_NONE || lstrcmpA(pszText, "255.255.255.255") == 0) {
        sockaddr_in& a = (sockaddr_in&)rAddress;
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = v4;
        return true;
    }
    std::string text = pszText;
    if (text.size() > 2 && text.front() == '[' && text.back() == ']') text = text.substr(1, text.size() - 2);
    addrinfo hints = {};
    hints.ai_flags = AI_NUMERICHOST;
    hints.ai_family = AF_INET6;
    addrinfo* pResult = nullptr;
    if (text.empty() || ::getaddrinfo(text.c_str(), NULL, &hints, &pResult) != 0 || !pResult) return false;
    bool ok = pResult->ai_family == AF_INET6 && pResult->ai_addrlen <= sizeof rAddress;
    if (ok) memcpy(&rAddress, pResult->ai_addr, pResult->ai_addrlen);
    ::freeaddrinfo(pResult);
    return ok;
}

// Errors that mean the port itself cannot be had, as opposed to a family the system lacks.
bool PortUnavailable(int nError) { return nError == WSAEADDRINUSE || nError == WSAEACCES; }

// A socket of the address's family bound to it; INVALID_SOCKET with the error set.
SOCKET OpenBound(int nType, const SOCKADDR_STORAGE& rAddress, int nV6Only)
{
    SOCKET s = ::socket(rAddress.ss_family, nType, 0);
    if (s == INVALID_SOCKET) return s;
    const DWORD v = (DWORD)nV6Only;
    const bool bOk =
        (rAddress.ss_family != AF_INET6 || nV6Only < 0 ||
            ::setsockopt(s, IPPROTO_IPV6, IPV6_V6ONLY, (const char*)&v, sizeof v) != SOCKET_ERROR) &&
        ::bind(s, (const sockaddr*)&rAddress, AddressLength(rAddress)) != SOCKET_ERROR;
    if (bOk) return s;
    const int err = ::WSAGetLastError();
    ::closesocket(s);
    ::WSASetLastError(err);
    return INVALID_SOCKET;
}

SOCKADDR_STORAGE AnyAddress(int nFamily, UINT nPort)
{
    SOCKADDR_STORAGE ss = {};
    ss.ss_family = (ADDRESS_FAMILY)nFamily; // the any-address of either family is all zeros
    SetPort(ss, nPort);
    return ss;
}

// Sockets on all local addresses of both families, as the system allows: one dual-stack
// socket; else an IPv4 socket and, in rSecond, an IPv6-only one on the same port; else IPv4
// alone. IPv6 that is missing or unusable never keeps the IPv4 socket from opening, but a port
// that is taken on either family fails the whole.
SOCKET OpenAnyAddress(int nType, UINT nPort, SOCKET& rSecond)
{
    rSecond = INVALID_SOCKET;
    if (g_bDualStack) {
        SOCKET s = OpenBound(nType, AnyAddress(AF_INET6, nPort), 0);
        if (s != INVALID_SOCKET || PortUnavailable(::WSAGetLastError())) return s;
    }
    SOCKET s4 = OpenBound(nType, AnyAddress(AF_INET, nPort), -1);
    if (s4 == INVALID_SOCKET) return s4;
    sockaddr_in bound = {};
    int len = sizeof bound;
    ::getsockname(s4, (sockaddr*)&bound, &len);
    SOCKET s6 = OpenBound(nType, AnyAddress(AF_INET6, ntohs(bound.sin_port)), 1);
    if (s6 == INVALID_SOCKET) {
        int err = ::WSAGetLastError();
        if (PortUnavailable(err)) {
            ::closesocket(s4);
            ::WSASetLastError(err);
            return INVALID_SOCKET;
        }
    }
    rSecond = s6;
    return s4;
}

int FamilyOf(SOCKET s)
{
    SOCKADDR_STORAGE ss = {};
    int len = sizeof ss;
    if (::getsockname(s, (sockaddr*)&ss, &len) == SOCKET_ERROR) return AF_UNSPEC;
    return ss.ss_family;
}
} // namespace

BOOL AfxSocketInit(WSADATA* lpwsaData)
{
    WSADATA data;
    if (::WSAStartup(MAKEWORD(2, 2), lpwsaData ? lpwsaData : &data) != 0) return FALSE;
    std::atexit(CleanupSockets);
    return TRUE;
}

CAsyncSocket::CAsyncSocket() : m_hSocket(INVALID_SOCKET) { }

CAsyncSocket::~CAsyncSocket()
{
    CAsyncSocket::Close();
    delete m_pBindAddress;
}

int CAsyncSocket::LiveCount() { return g_nLiveSockets; }

CAsyncSocket::HostLookupFn CAsyncSocket::SetHostLookup(HostLookupFn pfnLookup)
{
    HostLookupFn old = g_pfnLookup == SystemLookup ? nullptr : g_pfnLookup;
    g_pfnLookup = pfnLookup ? pfnLookup : SystemLookup;
    return old;
}

void CAsyncSocket::SetDualStack(BOOL bEnabled) { g_bDualStack = bEnabled; }

// Takes an open handle (and the second listening handle, if any) into the object and registers
// it; on failure both are closed and the object holds none.
BOOL CAsyncSocket::AttachHandle(SOCKET hSocket, long lEvent)
{
    SocketDispatcher& d = SocketDispatcher::Get();
    m_hSocket = hSocket;
    ++g_nLiveSockets;
    m_nMsg = d.Allocate(this);
    if (m_nMsg && m_hSecond != INVALID_SOCKET) m_nSecondMsg = d.Allocate(this);
    int err = 0;
    if (!m_nMsg || (m_hSecond != INVALID_SOCKET && !m_nSecondMsg))
        err = WSAEMFILE;
    else if (!d.Window())
        err = (int)::GetLastError();
    else if (!AsyncSelect(lEvent))
        err = ::WSAGetLastError();
    if (!err) return TRUE;
    CloseSecond();
    DetachHandle();
    ::closesocket(hSocket);
    ::WSASetLastError(err);
    return FALSE;
}

void CAsyncSocket::DetachHandle()
{
    SocketDispatcher::Get().Release(m_nMsg);
    m_nMsg = 0;
    m_nAcceptedFrom = 0;
    m_hSocket = INVALID_SOCKET;
    --g_nLiveSockets;
}

void CAsyncSocket::CloseSecond()
{
    if (m_hSecond == INVALID_SOCKET) return;
    SocketDispatcher::Get().Release(m_nSecondMsg);
    m_nSecondMsg = 0;
    ::closesocket(m_hSecond);
    m_hSecond = INVALID_SOCKET;
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
    delete m_pBindAddress;
    m_pBindAddress = nullptr;
    m_nType = nSocketType;
    m_nBindPort = nSocketPort;

    SOCKET s;
    if (lpszSocketAddress) {
        SOCKADDR_STORAGE address;
        if (!ParseNumeric(lpszSocketAddress, address)) {
            ::WSASetLastError(WSAEINVAL);
            return FALSE;
        }
        SetPort(address, nSocketPort);
        m_pBindAddress = new SOCKADDR_STORAGE(address);
        s = OpenBound(nSocketType, address, -1);
    } else {
        s = OpenAnyAddress(nSocketType, nSocketPort, m_hSecond);
    }
    if (s == INVALID_SOCKET) return FALSE;
    return AttachHandle(s, lEvent);
}

BOOL CAsyncSocket::AsyncSelect(long lEvent)
{
    if (m_hSocket == INVALID_SOCKET) {
        ::WSASetLastError(WSAENOTSOCK);
        return FALSE;
    }
    m_lEvent = lEvent;
    HWND hWnd = SocketDispatcher::Get().Window();
    if (m_hSecond != INVALID_SOCKET &&
        ::WSAAsyncSelect(m_hSecond, hWnd, m_nSecondMsg, lEvent) == SOCKET_ERROR)
        return FALSE;
    return ::WSAAsyncSelect(m_hSocket, hWnd, m_nMsg, lEvent) != SOCKET_ERROR;
}

BOOL CAsyncSocket::Listen(int nConnectionBacklog)
{
    if (m_hSecond != INVALID_SOCKET && ::listen(m_hSecond, nConnectionBacklog) == SOCKET_ERROR) return FALSE;
    return ::listen(m_hSocket, nConnectionBacklog) != SOCKET_ERROR;
}

BOOL CAsyncSocket::Connect(const char* lpszHostAddress, UINT nHostPort)
{
    if (m_hSocket == INVALID_SOCKET) {
        ::WSASetLastError(WSAENOTSOCK);
        return FALSE;
    }
    if (m_pLookup || m_pPlan) {
        ::WSASetLastError(WSAEALREADY);
        return FALSE;
    }
    if (nHostPort > kMaxPort) {
        ::WSASetLastError(WSAEINVAL);
        return FALSE;
    }
    if (!lpszHostAddress) lpszHostAddress = "";
    CloseSecond(); // a socket that connects does not listen

    SOCKADDR_STORAGE address;
    if (!ParseNumeric(lpszHostAddress, address)) {
        // A host name: look it up in the background; the connect follows in LookupDone.
        SocketDispatcher& d = SocketDispatcher::Get();
        if (!d.Window()) return FALSE;
        LookupRequest* pRequest = new LookupRequest(this, lpszHostAddress, g_pfnLookup);
        m_pPlan = new ConnectPlan;
        m_pPlan->nPort = nHostPort;
        HANDLE hThread = ::CreateThread(NULL, 0, SocketDispatcher::LookupThread, pRequest, 0, NULL);
        if (!hThread) {
            int err = (int)::GetLastError();
            delete pRequest;
            delete m_pPlan;
            m_pPlan = nullptr;
            ::WSASetLastError(err);
            return FALSE;
        }
        ::CloseHandle(hThread);
        d.lookups.insert(pRequest);
        m_pLookup = pRequest;
        ::WSASetLastError(WSAEWOULDBLOCK);
        return FALSE;
    }

    m_pPlan = new ConnectPlan;
    m_pPlan->nPort = nHostPort;
    m_pPlan->addresses.push_back(address);
    bool bNow = false;
    int err = TryNextAddress(&bNow);
    if (err == 0 && !bNow) {
        ::WSASetLastError(WSAEWOULDBLOCK);
        return FALSE;
    }
    delete m_pPlan;
    m_pPlan = nullptr;
    ::WSASetLastError(err);
    return err == 0;
}

// Replaces the handle by a fresh one of the family, bound as Create bound the first; 0 or the
// error (the object then holds no handle).
int CAsyncSocket::ReopenFor(int nFamily)
{
    if (m_pBindAddress && m_pBindAddress->ss_family != nFamily) return WSAEAFNOSUPPORT;
    const long lEvent = m_lEvent;
    if (m_hSocket != INVALID_SOCKET) {
        SOCKET old = m_hSocket;
        DetachHandle(); // retires its number: none of its notifications can follow
        ::closesocket(old);
    }
    SOCKADDR_STORAGE local = m_pBindAddress ? *m_pBindAddress : AnyAddress(nFamily, m_nBindPort);
    SOCKET s = OpenBound(m_nType, local, -1);
    if (s == INVALID_SOCKET) return ::WSAGetLastError();
    if (!AttachHandle(s, lEvent)) return ::WSAGetLastError();
    return 0;
}

// Starts a connect to the next address of the plan that does not fail at once. 0 while one is
// under way (its outcome comes as FD_CONNECT) or has connected at once (then *pbNow is set),
// else the error of the last one tried.
int CAsyncSocket::TryNextAddress(bool* pbNow)
{
    int nLastError = WSAEADDRNOTAVAIL;
    while (m_pPlan->nNext < m_pPlan->addresses.size()) {
        SOCKADDR_STORAGE address = m_pPlan->addresses[m_pPlan->nNext++];
        SetPort(address, m_pPlan->nPort);
        // A handle that has tried once, or is of the other family, cannot be used.
        if (m_pPlan->bHandleUsed || m_hSocket == INVALID_SOCKET || FamilyOf(m_hSocket) != address.ss_family) {
            if (int err = ReopenFor(address.ss_family)) {
                nLastError = err;
                continue;
            }
        }
        m_pPlan->bHandleUsed = true;
        if (::connect(m_hSocket, (const sockaddr*)&address, AddressLength(address)) != SOCKET_ERROR) {
            if (pbNow) *pbNow = true;
            return 0;
        }
        int err = ::WSAGetLastError();
        if (err == WSAEWOULDBLOCK) return 0;
        nLastError = err;
    }
    return nLastError;
}

void CAsyncSocket::LookupDone(LookupRequest& rRequest)
{
    m_pLookup = nullptr;
    int err = rRequest.nError;
    if (!err) {
        m_pPlan->addresses = rRequest.addresses;
        err = TryNextAddress();
        if (!err) return;
    }
    delete m_pPlan;
    m_pPlan = nullptr;
    OnConnect(err);
}

BOOL CAsyncSocket::Accept(CAsyncSocket& rConnectedSocket, SOCKADDR* lpSockAddr, int* lpSockAddrLen)
{
    if (rConnectedSocket.m_hSocket != INVALID_SOCKET) {
        ::WSASetLastError(WSAEISCONN);
        return FALSE;
    }
    UINT nFrom = m_nMsg;
    const int nLen = lpSockAddrLen ? *lpSockAddrLen : 0;
    SOCKET s = ::accept(m_hSocket, lpSockAddr, lpSockAddrLen);
    if (s == INVALID_SOCKET && m_hSecond != INVALID_SOCKET && ::WSAGetLastError() == WSAEWOULDBLOCK) {
        if (lpSockAddrLen) *lpSockAddrLen = nLen;
        nFrom = m_nSecondMsg;
        s = ::accept(m_hSecond, lpSockAddr, lpSockAddrLen);
    }
    if (s == INVALID_SOCKET) return FALSE;
    if (!rConnectedSocket.AttachHandle(s, m_lEvent)) return FALSE;
    rConnectedSocket.m_nAcceptedFrom = nFrom;
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
    if (m_pLookup) {
        // The request stays with the dispatcher, without an owner, until its thread is done.
        m_pLookup->pSocket = nullptr;
        m_pLookup = nullptr;
    }
    delete m_pPlan;
    m_pPlan = nullptr;
    CloseSecond();
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
    case FD_WRITE:
        OnSend(nErrorCode);
        break;
    case FD_OOB:
        OnOutOfBandData(nErrorCode);
        break;
    case FD_ACCEPT:
        OnAccept(nErrorCode);
        break;
    case FD_CONNECT:
        if (m_pPlan) {
            // A failed try goes on to the next address; the owner hears only the outcome.
            if (nErrorCode && m_pPlan->nNext < m_pPlan->addresses.size()) {
                nErrorCode = TryNextAddress();
                if (!nErrorCode) break;
            }
            delete m_pPlan;
            m_pPlan = nullptr;
        }
        OnConnect(nErrorCode);
        break;
    case FD_CLOSE:
        OnClose(nErrorCode);
        break;
    default:
        break;
    }
}

void CAsyncSocket::OnReceive(int) { }
void CAsyncSocket::OnSend(int) { }
void CAsyncSocket::OnOutOfBandData(int) { }
void CAsyncSocket::OnAccept(int) { }
void CAsyncSocket::OnConnect(int) { }
void CAsyncSocket::OnClose(int) { }
