// CCallSocket over loopback: listening, connecting, accepting, bytes both ways, the posted
// WM_SOCK_* messages (wParam 0, lParam the socket that raised the event), failed connects,
// closing from either side, and notifications of closed sockets reaching nobody.
#include "tests/win/test_util.h"

#include "call/CallSocket.h"

#include <memory>
#include <string>
#include <vector>

namespace {

struct Event {
    UINT msg;
    WPARAM wParam;
    LPARAM lParam;
};

const char* MsgName(UINT m)
{
    switch (m) {
    case WM_SOCK_CONNECT:
        return "CONNECT";
    case WM_SOCK_ACCEPT:
        return "ACCEPT";
    case WM_SOCK_RECEIVE:
        return "RECEIVE";
    case WM_SOCK_SEND:
        return "SEND";
    case WM_SOCK_CLOSE:
        return "CLOSE";
    case WM_SOCK_OOB:
        return "OOB";
    default:
        return "?";
    }
}

// The owner window: a message-only window linked to a CWnd object, recording the socket
// messages it gets. Socket messages posted with no window (a null owner's handle) arrive as
// thread messages; Pump records those as strays.
class CSockOwner : public CWnd {
public:
    CSockOwner()
    {
        WNDCLASSA wc = {};
        wc.lpfnWndProc = ::DefWindowProcA;
        wc.hInstance = ::GetModuleHandleA(NULL);
        wc.lpszClassName = "KelvaroTestSockOwner";
        ::RegisterClassA(&wc);
        HWND h =
            ::CreateWindowExA(0, wc.lpszClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, NULL, wc.hInstance, NULL);
        SubclassWindow(h);
    }
    ~CSockOwner() override
    {
        if (m_hWnd) ::DestroyWindow(m_hWnd);
    }

    std::vector<Event> events;

    // Events that name the socket, as "CONNECT RECEIVE ...".
    std::string For(const void* p, size_t from = 0) const
    {
        std::string s;
        for (size_t i = from; i < events.size(); ++i)
            if (events[i].lParam == (LPARAM)p)
                s += (s.empty() ? "" : " ") + std::string(MsgName(events[i].msg));
        return s;
    }
    size_t Count(UINT msg, const void* p) const
    {
        size_t n = 0;
        for (const Event& e : events)
            if (e.msg == msg && e.lParam == (LPARAM)p) ++n;
        return n;
    }
    bool Has(UINT msg, const void* p) const { return Count(msg, p) != 0; }
    bool AllWParamZero() const
    {
        for (const Event& e : events)
            if (e.wParam != 0) return false;
        return true;
    }

protected:
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override
    {
        if (message >= WM_SOCK_CONNECT && message <= WM_SOCK_OOB) {
            events.push_back({ message, wParam, lParam });
            return 0;
        }
        return CWnd::WindowProc(message, wParam, lParam);
    }
};

std::vector<Event> g_strays;

// PumpUntil that also records socket messages posted to no window.
bool Pump(const std::function<bool()>& cond, DWORD dwTimeoutMs = 5000)
{
    const DWORD start = ::GetTickCount();
    for (;;) {
        if (cond()) return true;
        if (::GetTickCount() - start > dwTimeoutMs) return cond();
        MSG msg;
        if (::PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE)) {
            if (!msg.hwnd && msg.message >= WM_SOCK_CONNECT && msg.message <= WM_SOCK_OOB)
                g_strays.push_back({ msg.message, msg.wParam, msg.lParam });
            ::TranslateMessage(&msg);
            ::DispatchMessageA(&msg);
        } else {
            ::MsgWaitForMultipleObjects(0, NULL, FALSE, 10, QS_ALLINPUT);
        }
    }
}

// Pumps for a while, for checks that nothing more arrives.
void Settle(DWORD ms)
{
    Pump([] { return false; }, ms);
}

// Reads whatever is waiting, without blocking; returns false on a hard error.
bool Drain(CAsyncSocket& s, std::string& into)
{
    char buf[4096];
    for (;;) {
        int n = s.Receive(buf, sizeof buf);
        if (n > 0) {
            into.append(buf, (size_t)n);
            continue;
        }
        if (n == 0) return true;
        return ::WSAGetLastError() == WSAEWOULDBLOCK;
    }
}

// Reads the socket each time its owner gets WM_SOCK_RECEIVE for it, as the program does,
// until at least n bytes have arrived.
bool ReceiveOnEvents(CSockOwner& owner, CCallSocket& s, std::string& got, size_t n)
{
    size_t seen = 0;
    return Pump([&] {
        size_t now = owner.Count(WM_SOCK_RECEIVE, &s);
        if (now > seen) {
            seen = now;
            Drain(s, got);
        }
        return got.size() >= n;
    });
}

// Waits, without dispatching anything, until a posted message is queued for this thread.
bool WaitForQueuedNotification()
{
    MSG peek;
    const DWORD start = ::GetTickCount();
    while (!::PeekMessageA(&peek, NULL, WM_USER, 0x7FFF, PM_NOREMOVE | PM_NOYIELD)) {
        if (::GetTickCount() - start > 2000) return false;
        ::Sleep(10);
    }
    return true;
}

// Sends all bytes (loopback takes them at once for these sizes; a short send is retried).
bool SendAll(CAsyncSocket& s, const std::string& bytes)
{
    size_t off = 0;
    const DWORD start = ::GetTickCount();
    while (off < bytes.size()) {
        int n = s.Send(bytes.data() + off, (int)(bytes.size() - off));
        if (n > 0)
            off += (size_t)n;
        else if (::WSAGetLastError() != WSAEWOULDBLOCK || ::GetTickCount() - start > 5000)
            return false;
        else
            Settle(10);
    }
    return true;
}

std::string Hexdump(const std::string& s, size_t at)
{
    char buf[64];
    wsprintfA(buf, "size %u, first difference at %u", (unsigned)s.size(), (unsigned)at);
    return buf;
}

size_t FirstDifference(const std::string& a, const std::string& b)
{
    size_t i = 0;
    while (i < a.size() && i < b.size() && a[i] == b[i]) ++i;
    return i;
}

// Every byte value, then Shift-JIS text (with 0x5C '\' and 0x7C '|' as second bytes), then
// line ends as the protocol uses them.
std::string TestBytes()
{
    std::string s;
    for (int i = 0; i < 256; ++i) s += (char)i;
    s += "表示 ソフト 能力 ポート ｶﾀｶﾅ 呼び出し中";
    s += "\r\n\n\r";
    return s;
}

class CallSocketTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_nStartSockets = CAsyncSocket::LiveCount();
        g_strays.clear();
    }
    void TearDown() override
    {
        EXPECT_EQ(CAsyncSocket::LiveCount(), m_nStartSockets) << "sockets left open by the test";
        EXPECT_TRUE(g_strays.empty()) << g_strays.size() << " socket messages were posted to no window";
    }

    // A listener on 127.0.0.1 and a free port; returns the port (0 on failure).
    UINT Listen(CCallSocket& s, CWnd* pOwner)
    {
        s.SetOwner(pOwner);
        if (!s.Create(0, SOCK_STREAM, CAsyncSocket::AllEvents, "127.0.0.1")) return 0;
        if (::listen(s.m_hSocket, 5) == SOCKET_ERROR) return 0;
        CString addr;
        UINT port = 0;
        if (!s.GetSockName(addr, port)) return 0;
        return port;
    }
    // Opens an outgoing socket that reports to the owner.
    static bool Open(CCallSocket& s, CWnd* pOwner)
    {
        s.SetOwner(pOwner);
        return s.Create(0) != FALSE;
    }
    // Opens an outgoing socket and starts its connect; false when it failed at once.
    bool StartConnect(CCallSocket& s, CWnd* pOwner, const char* host, UINT port)
    {
        if (!Open(s, pOwner)) return false;
        if (s.Connect(host, port)) return true;
        return ::WSAGetLastError() == WSAEWOULDBLOCK;
    }

    // Listener, connector and accepted socket, connected, with their first events handled and
    // everything already forwarded to the owner dispatched.
    void Connected(CSockOwner& owner, CCallSocket& listener, CCallSocket& client, CCallSocket& accepted)
    {
        UINT port = Listen(listener, &owner);
        ASSERT_NE(port, 0u) << "listen failed: " << ::WSAGetLastError();
        ASSERT_TRUE(StartConnect(client, &owner, "127.0.0.1", port))
            << "connect failed: " << ::WSAGetLastError();
        ASSERT_TRUE(Pump([&] {
            return owner.Has(WM_SOCK_ACCEPT, &listener) && owner.Has(WM_SOCK_SEND, &client);
        })) << "events so far: listener ["
            << owner.For(&listener) << "], client [" << owner.For(&client) << "]";
        accepted.SetOwner(&owner);
        ASSERT_TRUE(listener.Accept(accepted)) << "accept failed: " << ::WSAGetLastError();
        ASSERT_TRUE(Pump([&] { return owner.Has(WM_SOCK_SEND, &accepted); }))
            << "accepted socket events: [" << owner.For(&accepted) << "]";
        Settle(100);
    }

    int m_nStartSockets = 0;
};

} // namespace

TEST_F(CallSocketTest, ConnectAcceptAndBytesUnchangedBothWays)
{
    CSockOwner owner;
    CCallSocket listener, client;
    std::unique_ptr<CCallSocket> accepted(new CCallSocket);

    UINT port = Listen(listener, &owner);
    ASSERT_NE(port, 0u) << "listen failed: " << ::WSAGetLastError();
    ASSERT_TRUE(StartConnect(client, &owner, "127.0.0.1", port)) << "connect failed: " << ::WSAGetLastError();
    ASSERT_TRUE(Pump([&] {
        return owner.Has(WM_SOCK_ACCEPT, &listener) && owner.Has(WM_SOCK_SEND, &client);
    })) << "listener ["
        << owner.For(&listener) << "], client [" << owner.For(&client) << "]";
    EXPECT_EQ(owner.For(&client), "CONNECT SEND") << "a connect completes, then the socket is writable";
    EXPECT_EQ(client.GetConnectError(), 0);

    // Data sent before the listener side accepts must still reach the accepted socket.
    const std::string bytes = TestBytes();
    ASSERT_TRUE(SendAll(client, bytes));
    ::Sleep(50);
    accepted->SetOwner(&owner);
    ASSERT_TRUE(listener.Accept(*accepted)) << "accept failed: " << ::WSAGetLastError();
    std::string got;
    ASSERT_TRUE(ReceiveOnEvents(owner, *accepted, got, bytes.size()))
        << "received " << got.size() << " of " << bytes.size() << " bytes; the accepted socket's events: ["
        << owner.For(accepted.get()) << "]";
    EXPECT_EQ(got.size(), bytes.size());
    EXPECT_TRUE(got == bytes) << "client to server: " << Hexdump(got, FirstDifference(got, bytes));

    // Each side names the other: the accepted socket's peer is the client's own address.
    CString clientAddr, peerAddr;
    UINT clientPort = 0, peerPort = 0;
    ASSERT_TRUE(client.GetSockName(clientAddr, clientPort));
    ASSERT_TRUE(accepted->GetPeerName(peerAddr, peerPort));
    EXPECT_EQ(peerAddr.str() + ":" + std::to_string(peerPort), "127.0.0.1:" + std::to_string(clientPort));

    // And back.
    ASSERT_TRUE(SendAll(*accepted, bytes));
    std::string back;
    ASSERT_TRUE(ReceiveOnEvents(owner, client, back, bytes.size()))
        << "received " << back.size() << " of " << bytes.size() << " bytes";
    EXPECT_TRUE(back == bytes) << "server to client: " << Hexdump(back, FirstDifference(back, bytes));

    // Quiet now: nothing more may arrive.
    size_t settled = owner.events.size();
    Settle(200);
    std::string extra;
    for (size_t i = settled; i < owner.events.size(); ++i)
        extra += std::string(MsgName(owner.events[i].msg)) + " ";
    EXPECT_EQ(extra, "") << "events after all data was read";

    // Who got what: the listener only ever accepts; everything else names the socket concerned.
    EXPECT_EQ(owner.For(&listener), "ACCEPT");
    for (const Event& e : owner.events) {
        EXPECT_TRUE(e.lParam == (LPARAM)&listener || e.lParam == (LPARAM)&client ||
            e.lParam == (LPARAM)accepted.get())
            << MsgName(e.msg) << " carried an unknown lParam";
    }
    EXPECT_TRUE(owner.AllWParamZero()) << "wParam must always be 0";
    EXPECT_EQ(owner.For(accepted.get()).find("ACCEPT"), std::string::npos);
    EXPECT_EQ(owner.For(accepted.get()).find("CONNECT"), std::string::npos);

    client.Close();
    accepted.reset();
    listener.Close();
}

TEST_F(CallSocketTest, PeerCloseReachesTheOtherSideAfterItsData)
{
    // Accepted side closes: the connector gets its data, then CLOSE.
    {
        CSockOwner owner;
        CCallSocket listener, client, accepted;
        Connected(owner, listener, client, accepted);
        if (HasFatalFailure()) return;
        size_t mark = owner.events.size();
        ASSERT_TRUE(SendAll(accepted, "bye\r\n"));
        accepted.Close();
        std::string got;
        ASSERT_TRUE(ReceiveOnEvents(owner, client, got, 5))
            << "client events: [" << owner.For(&client, mark) << "]";
        EXPECT_EQ(got, "bye\r\n");
        ASSERT_TRUE(Pump([&] { return owner.Has(WM_SOCK_CLOSE, &client); }))
            << "client events: [" << owner.For(&client, mark) << "]";
        EXPECT_EQ(owner.For(&client, mark), "RECEIVE CLOSE") << "data first, then the close";
        char c;
        EXPECT_EQ(client.Receive(&c, 1), 0) << "after the peer's close a read returns 0";
        EXPECT_EQ(owner.For(&accepted, mark), "") << "a socket closed by its owner reports nothing more";
    }
    // Connector closes: the accepted socket gets CLOSE, with its own address.
    {
        CSockOwner owner;
        CCallSocket listener, client, accepted;
        Connected(owner, listener, client, accepted);
        if (HasFatalFailure()) return;
        size_t mark = owner.events.size();
        client.Close();
        ASSERT_TRUE(Pump([&] { return owner.Has(WM_SOCK_CLOSE, &accepted); }))
            << "accepted socket events: [" << owner.For(&accepted, mark) << "]";
        EXPECT_EQ(owner.For(&accepted, mark), "CLOSE");
        EXPECT_EQ(owner.For(&listener, mark), "") << "the listener must not see the accepted socket's close";
        Settle(100);
        EXPECT_EQ(owner.Count(WM_SOCK_CLOSE, &accepted), 1u) << "one close event only";
    }
}

TEST_F(CallSocketTest, RefusedConnectStillPostsConnectWithTheErrorRecorded)
{
    // A port that is bound but not listening refuses connections.
    CCallSocket idle;
    ASSERT_TRUE(idle.Create(0, SOCK_STREAM, CAsyncSocket::AllEvents, "127.0.0.1"));
    CString addr;
    UINT port = 0;
    ASSERT_TRUE(idle.GetSockName(addr, port));

    CSockOwner owner;
    CCallSocket client;
    ASSERT_TRUE(StartConnect(client, &owner, "127.0.0.1", port))
        << "connect failed at once: " << ::WSAGetLastError();
    ASSERT_TRUE(Pump([&] { return owner.Has(WM_SOCK_CONNECT, &client); }))
        << "events: [" << owner.For(&client) << "]";
    EXPECT_EQ(client.GetConnectError(), WSAECONNREFUSED);
    EXPECT_EQ(owner.events.front().msg, (UINT)WM_SOCK_CONNECT) << "the connect event must come first";
    EXPECT_EQ(owner.events.front().wParam, (WPARAM)0) << "wParam is 0 whatever the outcome";
    EXPECT_EQ(owner.events.front().lParam, (LPARAM)&client);
    Settle(100);
    EXPECT_EQ(owner.For(&client).find("RECEIVE"), std::string::npos)
        << "events: [" << owner.For(&client) << "]";
    EXPECT_EQ(owner.For(&idle), "");

    // The same object connects fine afterwards, and the recorded error follows the outcome.
    client.Close();
    CCallSocket listener;
    UINT port2 = Listen(listener, &owner);
    ASSERT_NE(port2, 0u);
    size_t mark = owner.events.size();
    ASSERT_TRUE(StartConnect(client, &owner, "127.0.0.1", port2));
    ASSERT_TRUE(Pump([&] { return owner.Has(WM_SOCK_ACCEPT, &listener) && owner.For(&client, mark) != ""; }));
    EXPECT_EQ(owner.For(&client, mark).substr(0, 7), "CONNECT");
    EXPECT_EQ(client.GetConnectError(), 0) << "a later successful connect must clear the error";
}

TEST_F(CallSocketTest, HostNamesAreResolvedWithoutBlocking)
{
    // localhost: resolves and connects.
    {
        CSockOwner owner;
        CCallSocket listener, client;
        UINT port = Listen(listener, &owner);
        ASSERT_NE(port, 0u);
        ASSERT_TRUE(Open(client, &owner));
        BOOL now = client.Connect("localhost", port);
        int err = ::WSAGetLastError();
        EXPECT_TRUE(now || err == WSAEWOULDBLOCK) << "Connect(localhost) failed with " << err;
        ASSERT_TRUE(
            Pump([&] { return owner.Has(WM_SOCK_CONNECT, &client) && owner.Has(WM_SOCK_ACCEPT, &listener); },
                10000))
            << "client [" << owner.For(&client) << "], listener [" << owner.For(&listener) << "]";
        EXPECT_EQ(client.GetConnectError(), 0);
        EXPECT_EQ(owner.Count(WM_SOCK_CONNECT, &client), 1u);
    }
    // A name that cannot be resolved: CONNECT with the look-up's error.
    {
        CSockOwner owner;
        CCallSocket client;
        ASSERT_TRUE(Open(client, &owner));
        EXPECT_FALSE(client.Connect("no-such-host.invalid", 32760));
        ASSERT_TRUE(Pump([&] { return owner.Has(WM_SOCK_CONNECT, &client); }, 15000)) << "no connect event";
        EXPECT_EQ(client.GetConnectError(), WSAHOST_NOT_FOUND) << "expected 11001 (host not found)";
        EXPECT_EQ(owner.events.front().wParam, (WPARAM)0);
        Settle(100);
        EXPECT_EQ(owner.For(&client), "CONNECT") << "nothing more after a failed look-up";
    }
    // The socket is closed and deleted while its look-up runs: nothing arrives, nothing crashes.
    {
        CSockOwner owner;
        std::unique_ptr<CCallSocket> client(new CCallSocket);
        ASSERT_TRUE(Open(*client, &owner));
        client->Connect("no-such-host.invalid", 32760);
        client.reset();
        std::unique_ptr<CCallSocket> next(new CCallSocket); // may take the freed memory
        ASSERT_TRUE(Open(*next, &owner));
        Settle(1500);
        EXPECT_TRUE(owner.events.empty())
            << owner.events.size() << " events after the socket was deleted, first "
            << (owner.events.empty() ? "" : MsgName(owner.events[0].msg));
    }
}

TEST_F(CallSocketTest, NullOwnerRunsTheHandlersAndPostsNothing)
{
    // The base handlers run (the connect error is recorded) but no message is posted.
    CSockOwner owner; // owns no socket here: it must get nothing
    CCallSocket listener, client, accepted;
    UINT port = Listen(listener, nullptr);
    ASSERT_NE(port, 0u);
    ASSERT_TRUE(StartConnect(client, nullptr, "127.0.0.1", port));
    // Without messages, the accept is seen by trying it.
    ASSERT_TRUE(Pump([&] { return listener.Accept(accepted) != FALSE; })) << "no connection arrived";
    ASSERT_TRUE(SendAll(client, "x"));
    std::string got;
    ASSERT_TRUE(Pump([&] { return Drain(accepted, got) && !got.empty(); }));
    client.Close();
    Settle(200);
    EXPECT_EQ(client.GetConnectError(), 0);
    EXPECT_TRUE(owner.events.empty());
    // TearDown checks that no message was posted to no window.
}

TEST_F(CallSocketTest, ClosedSocketsLateNotificationsReachNobody)
{
    CSockOwner owner;
    CCallSocket listener, client;
    std::unique_ptr<CCallSocket> accepted(new CCallSocket);
    Connected(owner, listener, client, *accepted);
    if (HasFatalFailure()) return;

    // The peer closes: the accepted socket's close notification is queued, not yet handled.
    // (A stale close is the harmful kind: it would end somebody else's call.)
    client.Close();
    ASSERT_TRUE(WaitForQueuedNotification()) << "no notification got queued";

    // Close and delete it before the queue is pumped, then open new sockets right away: one of
    // them may get the same handle value, the first one most likely the same memory.
    const SOCKET hOld = accepted->m_hSocket;
    const void* pOld = accepted.get();
    accepted.reset();
    std::unique_ptr<CCallSocket> fresh[4];
    bool bSameHandle = false;
    for (auto& f : fresh) {
        f.reset(new CCallSocket);
        ASSERT_TRUE(Open(*f, &owner));
        bSameHandle = bSameHandle || f->m_hSocket == hOld;
    }
    RecordProperty("same_handle", bSameHandle ? "yes" : "no");
    size_t mark = owner.events.size();
    Settle(300);
    for (auto& f : fresh)
        EXPECT_EQ(owner.For(f.get(), mark), "") << "a new socket got events meant for the closed one";
    bool bReused = false;
    for (auto& f : fresh) bReused = bReused || (const void*)f.get() == pOld;
    if (!bReused) {
        EXPECT_EQ(owner.For(pOld, mark), "") << "events for a deleted socket";
    }

    for (auto& f : fresh) f.reset();
    listener.Close();
}

TEST_F(CallSocketTest, ReopenedSocketGetsNoneOfItsOldConnectionsEvents)
{
    // The outgoing-call socket is closed at hang-up and opened again for the next call.
    CSockOwner owner;
    CCallSocket listener, client, accepted;
    Connected(owner, listener, client, accepted);
    if (HasFatalFailure()) return;
    accepted.Close();
    ASSERT_TRUE(WaitForQueuedNotification()) << "no close notification got queued";
    client.Close();
    ASSERT_TRUE(client.Create(0)); // usually gets the same handle value again
    size_t mark = owner.events.size();
    Settle(300);
    EXPECT_EQ(owner.For(&client, mark), "") << "a reopened socket got its old connection's events";
    client.Close();
}

TEST_F(CallSocketTest, SocketDeletedDuringLookupLeavesNoWriteBehind)
{
    // The look-up of a host name runs on its own; its result is written into a buffer when it
    // completes. A socket deleted meanwhile must not leave that write aimed at freed memory.
    CSockOwner owner;
    std::vector<std::unique_ptr<char[]>> blocks;
    for (int round = 0; round < 5; ++round) {
        std::unique_ptr<CCallSocket> client(new CCallSocket);
        ASSERT_TRUE(Open(*client, &owner));
        client->Connect("localhost", 9);
        client.reset();
        // Take the freed memory back, marked, as the heap hands it out again.
        for (int i = 0; i < 4; ++i) {
            blocks.emplace_back(new char[MAXGETHOSTSTRUCT]);
            memset(blocks.back().get(), 0x5A, MAXGETHOSTSTRUCT);
        }
    }
    Settle(1000);
    for (size_t b = 0; b < blocks.size(); ++b) {
        size_t changed = 0;
        for (int i = 0; i < MAXGETHOSTSTRUCT; ++i)
            if (blocks[b][(size_t)i] != 0x5A) ++changed;
        EXPECT_EQ(changed, 0u) << "block " << b << ": " << changed
                               << " bytes overwritten after the socket was deleted";
    }
    EXPECT_TRUE(owner.events.empty()) << owner.events.size() << " events for deleted sockets";
}

TEST_F(CallSocketTest, PortsOutOfRangeFailInsteadOfWrappingAround)
{
    // Ports come from text through atoi with no range check; 65536 + p must not quietly mean p.
    CSockOwner owner;
    CCallSocket listener;
    UINT port = Listen(listener, &owner);
    ASSERT_NE(port, 0u);

    CCallSocket server;
    ::WSASetLastError(0);
    EXPECT_FALSE(server.Create(70000)) << "bound to port " << (70000 & 0xFFFF) << " instead";
    EXPECT_EQ(::WSAGetLastError(), WSAEINVAL);
    EXPECT_EQ(server.m_hSocket, INVALID_SOCKET);

    for (const char* host : { "127.0.0.1", "localhost" }) {
        CCallSocket client;
        ASSERT_TRUE(Open(client, &owner));
        ::WSASetLastError(0);
        EXPECT_FALSE(client.Connect(host, 0x10000 + port)) << host;
        EXPECT_EQ(::WSAGetLastError(), WSAEINVAL) << host << ": expected 10022 (invalid argument)";
        Settle(200);
        EXPECT_TRUE(owner.events.empty())
            << host << ": " << owner.events.size() << " events; the wrapped-around port was connected to";
        owner.events.clear();
    }
}

// ---------------------------------------------------------------------------------------------
// IPv6

TEST_F(CallSocketTest, NameOfBothFamiliesIsTriedAddressByAddress)
{
    SKIP_WITHOUT_IPV6();
    // The look-up gives "localhost" as Windows does, ::1 then 127.0.0.1 (the system's look-up
    // here names 127.0.0.1 only).
    CLocalhostLookup lookup;
    struct Case {
        const char* pszBindTo; // null: all addresses of both families
        bool bListen;
        const char* pszPeer;
        int nError;
    } cases[] = {
        { nullptr, true, "::1", 0 }, // the first address answers
        { "127.0.0.1", true, "127.0.0.1", 0 }, // ::1 refuses; the next goes out on a fresh handle
        { "127.0.0.1", false, "", WSAECONNREFUSED }, // none answers: the last try's error, once
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.pszBindTo ? c.pszBindTo : "both") + (c.bListen ? " listening" : " bound"));
        CSockOwner owner;
        CCallSocket listener, client, accepted;
        listener.SetOwner(&owner);
        ASSERT_TRUE(listener.Create(0, SOCK_STREAM, CAsyncSocket::AllEvents, c.pszBindTo));
        if (c.bListen) {
            ASSERT_TRUE(listener.Listen());
        }
        CString text;
        UINT port = 0;
        ASSERT_TRUE(listener.GetSockName(text, port));
        ASSERT_TRUE(StartConnect(client, &owner, "localhost", port));
        ASSERT_TRUE(Pump([&] { return owner.Has(WM_SOCK_CONNECT, &client); }, 10000)) << owner.For(&client);
        Settle(200);
        EXPECT_EQ(owner.Count(WM_SOCK_CONNECT, &client), 1u);
        EXPECT_EQ(client.GetConnectError(), c.nError);
        if (c.nError) continue;
        ASSERT_TRUE(listener.Accept(accepted));
        ASSERT_TRUE(accepted.GetPeerName(text, port));
        EXPECT_EQ(text.str(), c.pszPeer);
    }
}

TEST_F(CallSocketTest, ListenerTakesBothFamiliesWithOrWithoutDualStack)
{
    SKIP_WITHOUT_IPV6();
    struct Restore {
        ~Restore() { CAsyncSocket::SetDualStack(TRUE); }
    } restore;
    for (BOOL bDualStack : { TRUE, FALSE }) {
        SCOPED_TRACE(bDualStack ? "dual stack" : "two listeners");
        CAsyncSocket::SetDualStack(bDualStack);
        CSockOwner owner;
        CCallSocket listener;
        listener.SetOwner(&owner);
        ASSERT_TRUE(listener.Create(0));
        ASSERT_TRUE(listener.Listen());
        CString text;
        UINT port = 0;
        ASSERT_TRUE(listener.GetSockName(text, port));
        for (int nFamily : { AF_INET, AF_INET6 }) {
            const char* pszLoopback = nFamily == AF_INET ? "127.0.0.1" : "::1";
            // Called on this family: the accepted socket then raises its own events.
            SOCKADDR_STORAGE to = Loopback(nFamily, port);
            SOCKET raw = ::socket(nFamily, SOCK_STREAM, 0);
            ASSERT_EQ(::connect(raw, (sockaddr*)&to, AddressLength(to)), 0) << ::WSAGetLastError();
            owner.events.clear();
            ASSERT_TRUE(Pump([&] { return owner.Has(WM_SOCK_ACCEPT, &listener); })) << pszLoopback;
            CCallSocket accepted, holder, taken;
            accepted.SetOwner(&owner);
            ASSERT_TRUE(listener.Accept(accepted));
            UINT nPeerPort = 0;
            ASSERT_TRUE(accepted.GetPeerName(text, nPeerPort));
            EXPECT_EQ(text.str(), pszLoopback);
            EXPECT_TRUE(Pump([&] { return owner.Has(WM_SOCK_SEND, &accepted); })) << pszLoopback;
            ::closesocket(raw);
            // A port that another program listens on, on this family, is refused.
            UINT nTaken = 0;
            ASSERT_TRUE(holder.Create(0, SOCK_STREAM, 0, pszLoopback) && holder.Listen() &&
                holder.GetSockName(text, nTaken));
            EXPECT_FALSE(taken.Create(nTaken)) << pszLoopback;
            EXPECT_EQ(::WSAGetLastError(), WSAEADDRINUSE) << pszLoopback;
        }
    }
}
