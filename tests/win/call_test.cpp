// Call control between main windows in one process over 127.0.0.1, and between a main window
// and a raw peer that speaks (or garbles) the line protocol byte by byte.
#include "tests/win/test_util.h"
#include "call/SecureChannel.h"

#include <algorithm>

namespace {

// What the system says of a refused connection and of a name not found (Wine's Japanese texts).
const char kRefusedText[] = "接続は拒否されました。\r\n";
const char kNotFoundText[] = "ホストが見つかりません。\r\n";

class CallTest : public CCallFixture { };

// ---------------------------------------------------------------------------------------------
// Two windows through the states of a call.

TEST_F(CallTest, DiallingThenCallingThenGreetingsExchanged)
{
    CModalCatcher catcher;
    Phone north("北"), south("南");
    ASSERT_TRUE(north.created && south.created);
    ASSERT_NE(south->ListeningPort(), 0u) << "the listening socket did not open on a free port";
    EXPECT_EQ(LookOf(*north), kIdle);

    Dial(north, south);
    // Before any event: dialling, cancellable.
    EXPECT_EQ(LookOf(*north), kDialling);

    ASSERT_TRUE(ReachesLook(*north, kCalling));
    EXPECT_EQ(LookOf(*north), kCalling);
    ASSERT_TRUE(ReachesLook(*south, kRinging));
    EXPECT_EQ(LookOf(*south), kRinging);
    ASSERT_TRUE(PumpUntil([&] { return south->PartnerName() == CString(north.name.c_str()); }))
        << "callee stored " << Quote(south->PartnerName().str());
    ASSERT_TRUE(PumpUntil([&] { return north->ItemText(IDC_STATIC_PARTNER) == south.name; }))
        << "caller shows " << Quote(north->ItemText(IDC_STATIC_PARTNER));
    EXPECT_EQ(south->ItemText(IDC_STATIC_PARTNER), north.name);
    EXPECT_TRUE(north->PartnerName().IsEmpty())
        << "the caller keeps no partner name, got " << Quote(north->PartnerName().str());
    // The greetings change neither look.
    PumpFor(200);
    EXPECT_EQ(LookOf(*north), kCalling);
    EXPECT_EQ(LookOf(*south), kRinging);
    EXPECT_TRUE(NoBoxes(catcher));
}

TEST_F(CallTest, AnswerThenLinesBothWaysThenHangUpByCaller)
{
    CModalCatcher catcher;
    Phone north("北"), south("南");
    ASSERT_TRUE(north.created && south.created);
    ASSERT_TRUE(Talk(north, south));
    EXPECT_EQ(LookOf(*north), kTalking);
    EXPECT_EQ(LookOf(*south), kTalking);
    // Encrypted, with the same code on both sides ("暗号化 " and six digits).
    const std::string code = north->ItemText(IDC_STATIC_SECURE);
    EXPECT_TRUE(code.size() == 14 && code.rfind("暗号化 ", 0) == 0) << Quote(code);
    EXPECT_EQ(south->ItemText(IDC_STATIC_SECURE), code);
    EXPECT_TRUE(north->IsVisible(IDC_STATIC_SECURE) && south->IsVisible(IDC_STATIC_SECURE));

    Say(north, "こんにちは");
    ASSERT_TRUE(ReceivesLines(south, 1));
    EXPECT_EQ(Joined(south->ListItems(IDC_LIST_RECEIVE)), Joined({ "こんにちは" }));
    EXPECT_EQ(Joined(north->ListItems(IDC_LIST_SEND)), Joined({ "こんにちは" }));
    EXPECT_EQ(north->ItemText(IDC_EDIT_SEND), "") << "the send edit is emptied after sending";

    Say(south, "はい、南です");
    Say(south, "second line");
    ASSERT_TRUE(ReceivesLines(north, 2));
    EXPECT_EQ(Joined(north->ListItems(IDC_LIST_RECEIVE)), Joined({ "はい、南です", "second line" }));
    EXPECT_EQ(Joined(south->ListItems(IDC_LIST_SEND)), Joined({ "はい、南です", "second line" }));
    EXPECT_EQ(Joined(north->ListItems(IDC_LIST_SEND)), Joined({ "こんにちは" }))
        << "the receiver's send list is untouched";
    EXPECT_EQ(LookOf(*north), kTalking);
    EXPECT_EQ(LookOf(*south), kTalking);

    north->Click(IDC_BTN_HANGUP);
    EXPECT_EQ(LookOf(*north), kIdle);
    EXPECT_TRUE(north->ListItems(IDC_LIST_SEND).empty() && north->ListItems(IDC_LIST_RECEIVE).empty())
        << "lists after hang-up: send " << Joined(north->ListItems(IDC_LIST_SEND)) << ", receive "
        << Joined(north->ListItems(IDC_LIST_RECEIVE));
    EXPECT_EQ(north->ItemText(IDC_STATIC_PARTNER), "");

    ASSERT_TRUE(ReachesLook(*south, kIdle));
    EXPECT_EQ(LookOf(*south), kIdle);
    EXPECT_TRUE(south->ListItems(IDC_LIST_SEND).empty() && south->ListItems(IDC_LIST_RECEIVE).empty())
        << "lists after the partner hung up: send " << Joined(south->ListItems(IDC_LIST_SEND)) << ", receive "
        << Joined(south->ListItems(IDC_LIST_RECEIVE));
    EXPECT_EQ(south->ItemText(IDC_STATIC_PARTNER), "");
    EXPECT_EQ(south->PartnerName(), CString(north.name.c_str())) << "the callee keeps the last caller's name";
    EXPECT_EQ(south->InSocket(), nullptr);
    EXPECT_TRUE(NoSocketLeft(2));
    EXPECT_TRUE(NoBoxes(catcher));
}

TEST_F(CallTest, HangUpByCalleeEndsCallerToo)
{
    CModalCatcher catcher;
    Phone north("北"), south("南");
    ASSERT_TRUE(north.created && south.created);
    ASSERT_TRUE(Talk(north, south));
    Say(north, "bye");
    ASSERT_TRUE(ReceivesLines(south, 1));

    south->Click(IDC_BTN_HANGUP);
    EXPECT_EQ(LookOf(*south), kIdle);
    EXPECT_TRUE(south->ListItems(IDC_LIST_RECEIVE).empty());
    ASSERT_TRUE(ReachesLook(*north, kIdle));
    EXPECT_EQ(LookOf(*north), kIdle);
    EXPECT_TRUE(north->ListItems(IDC_LIST_SEND).empty()) << Joined(north->ListItems(IDC_LIST_SEND));
    EXPECT_EQ(north->ItemText(IDC_STATIC_PARTNER), "");
    EXPECT_TRUE(NoSocketLeft(2));

    // The line is free again: a new call goes through.
    EXPECT_TRUE(Connect(north, south));
    EXPECT_TRUE(NoBoxes(catcher));
}

// A third party that calls while an encrypted call stands, greets with the partner's name and
// says a line, is told busy: nothing of it is listed, the code and name stay the partner's.
TEST_F(CallTest, AThirdPartyWhileAnEncryptedCallStandsHearsBusyAndIsNotListed)
{
    CModalCatcher catcher;
    Phone north("北"), south("南");
    ASSERT_TRUE(north.created && south.created);
    ASSERT_TRUE(Talk(north, south));
    const std::string code = north->ItemText(IDC_STATIC_SECURE);
    ASSERT_TRUE(code.size() == 14 && code.rfind("暗号化 ", 0) == 0) << Quote(code);

    CRawPeer third;
    ASSERT_TRUE(third.Connect(north->ListeningPort()));
    EXPECT_EQ(Quote(third.Read(4)), Quote("B北\r"));
    ASSERT_TRUE(third.Send(CallerGreeting("南") + "\rSinjected\r"));
    third.Close();
    PumpFor(300);
    EXPECT_EQ(LookOf(*north), kTalking);
    EXPECT_EQ(north->ItemText(IDC_STATIC_SECURE), code);
    EXPECT_EQ(north->ItemText(IDC_STATIC_PARTNER), "南");

    Say(south, "real");
    ASSERT_TRUE(ReceivesLines(north, 1));
    EXPECT_EQ(Joined(north->ListItems(IDC_LIST_RECEIVE)), Joined({ "real" }));
    EXPECT_TRUE(NoBoxes(catcher));
}

// A caller that agreed its keys and leaves before the answer left a missed call, not a cut line.
TEST_F(CallTest, AnEncryptedCallThatEndsWhileRingingIsAMissedCall)
{
    CModalCatcher catcher;
    Phone south("南");
    ASSERT_TRUE(south.created);
    CRawPeer caller;
    ASSERT_TRUE(CallsIn(caller, south));
    const std::string greeting = CalleeGreeting("南");
    ASSERT_EQ(Quote(caller.Read(greeting.size())), Quote(greeting));
    CSecureChannel channel;
    ASSERT_TRUE(channel.Start(CSecureChannel::Caller));
    ASSERT_TRUE(caller.Send(CallerGreeting("北") + channel.CommitLine()));
    const std::string answer = caller.Read(55);
    ASSERT_TRUE(channel.Complete(answer.substr(0, 54), CallerGreeting("北"), greeting)) << Quote(answer);
    ASSERT_TRUE(caller.Send(channel.KeyLine()));
    ASSERT_TRUE(PumpUntil([&] { return south->ItemText(IDC_STATIC_SECURE) == "暗号化 " + channel.Code(); }))
        << Quote(south->ItemText(IDC_STATIC_SECURE));
    EXPECT_EQ(LookOf(*south), kRinging);

    caller.Close();
    ASSERT_TRUE(ReachesLook(*south, kIdle));
    EXPECT_TRUE(NoBoxes(catcher));
    ASSERT_TRUE(PumpUntil([&] {
        return ReadFileBytes(south.dir.File("MissedCalls.txt")).find("北") != std::string::npos;
    })) << Quote(ReadFileBytes(south.dir.File("MissedCalls.txt")));
}

// ---------------------------------------------------------------------------------------------
// Calls that fail or are withdrawn.

TEST_F(CallTest, FailedCallShowsSystemTextAndReturnsToIdle)
{
    CModalCatcher catcher;
    Phone north("北");
    ASSERT_TRUE(north.created);
    Dial(north, DeadPort());
    EXPECT_TRUE(FailsWithText(north, catcher, kRefusedText));
}

TEST_F(CallTest, HostNameThatDoesNotResolveFailsWithoutFreezing)
{
    CModalCatcher catcher;
    Phone north("北");
    ASSERT_TRUE(north.created);
    north->SetItemText(IDC_EDIT_ADDRESS, "no-such-host.invalid");
    north->SetItemText(IDC_EDIT_PORT, "32760");
    const DWORD start = ::GetTickCount();
    north->Click(IDC_BTN_CALL);
    const DWORD elapsed = ::GetTickCount() - start;
    EXPECT_LT(elapsed, 1000u) << "the call button blocked while the name was looked up";
    EXPECT_EQ(LookOf(*north), kDialling);
    EXPECT_TRUE(FailsWithText(north, catcher, kNotFoundText, 20000));
}

TEST_F(CallTest, LocalhostByNameAndEmptyAddressReachTheCallee)
{
    CModalCatcher catcher;
    Phone north("北"), south("南");
    ASSERT_TRUE(north.created && south.created);
    Dial(north, south, "localhost");
    EXPECT_EQ(LookOf(*north), kDialling);
    ASSERT_TRUE(ReachesLook(*south, kRinging));
    ASSERT_TRUE(ReachesLook(*north, kCalling));
    ASSERT_TRUE(PumpUntil([&] { return north->ItemText(IDC_STATIC_PARTNER) == south.name; }));
    north->Click(IDC_BTN_HANGUP);
    ASSERT_TRUE(ReachesLook(*south, kIdle));

    // An empty address means "localhost"; the edit stays empty.
    north->SetItemText(IDC_EDIT_ADDRESS, "");
    north->SetItemText(IDC_EDIT_PORT, PortText(south->ListeningPort()).c_str());
    north->Click(IDC_BTN_CALL);
    ASSERT_TRUE(ReachesLook(*south, kRinging));
    EXPECT_EQ(north->ItemText(IDC_EDIT_ADDRESS), "");
    EXPECT_TRUE(NoBoxes(catcher));
}

// ---------------------------------------------------------------------------------------------
// A raw peer on the wire.

TEST_F(CallTest, CallerSideExactBytesAndGluedAnswer)
{
    CModalCatcher catcher;
    Phone north("北");
    ASSERT_TRUE(north.created);
    CRawListener listener;
    Dial(north, listener.Port());
    auto peer = listener.Accept();
    ASSERT_TRUE(peer);
    ASSERT_TRUE(ReachesLook(*north, kCalling));
    EXPECT_EQ(peer->ReadFor(200), "") << "the caller speaks only after the callee's greeting";

    // Greeting, short form and answer in one segment.
    ASSERT_TRUE(peer->Send(CalleeGreeting("south") + "C\r"));
    const std::string expected = CallerGreeting(north.name);
    EXPECT_EQ(Quote(peer->Read(expected.size())), Quote(expected));
    ASSERT_TRUE(ReachesLook(*north, kTalking));
    EXPECT_EQ(north->ItemText(IDC_STATIC_PARTNER), "south");
    // Then its version line "V3" CR and its commitment: "H2", 52 characters of the hash of its
    // key, CR; a peer that knows neither answers nothing and the call goes on in plain lines.
    const std::string commit = peer->ReadFor(300);
    EXPECT_TRUE(commit.size() == 58 && commit.rfind("V3\rH2", 0) == 0 && commit.back() == '\r')
        << Quote(commit);
    EXPECT_EQ(north->ItemText(IDC_STATIC_SECURE), "暗号化なし");

    Say(north, "");
    EXPECT_EQ(Quote(peer->Read(2)), Quote("S\r"));
    ASSERT_TRUE(peer->Send("Sone\rStwo\r"));
    ASSERT_TRUE(ReceivesLines(north, 2));
    EXPECT_EQ(Joined(north->ListItems(IDC_LIST_RECEIVE)), Joined({ "one", "two" }));

    peer->Close();
    EXPECT_TRUE(EndsIdleAndClean(north, 1, catcher));
}

TEST_F(CallTest, CalleeSideExactBytes)
{
    CModalCatcher catcher;
    Phone south("南");
    ASSERT_TRUE(south.created);
    CRawPeer peer;
    ASSERT_TRUE(peer.Connect(south->ListeningPort()));
    const std::string greeting = CalleeGreeting(south.name);
    EXPECT_EQ(Quote(peer.Read(greeting.size())), Quote(greeting));
    ASSERT_TRUE(ReachesLook(*south, kRinging));
    ASSERT_TRUE(peer.Send(CallerGreeting("north")));
    ASSERT_TRUE(PumpUntil([&] { return south->PartnerName() == CString("north"); }))
        << "stored " << Quote(south->PartnerName().str());
    EXPECT_EQ(south->ItemText(IDC_STATIC_PARTNER), "north");
    EXPECT_EQ(peer.ReadFor(200), "") << "the callee does not reply to the caller greeting";

    south->Click(IDC_BTN_ANSWER);
    EXPECT_EQ(Quote(peer.Read(2)), Quote("C\r"));
    EXPECT_EQ(LookOf(*south), kTalking);
    Say(south, "南より");
    EXPECT_EQ(Quote(peer.Read(8)), Quote(std::string("S") + "南より" + kCR));
    EXPECT_TRUE(NoBoxes(catcher));
}

// ---------------------------------------------------------------------------------------------
// Faults from a raw peer. After each, the window is back in the state the tables give and no
// socket is left open.

TEST_F(CallTest, PeerResetMidMessage)
{
    CModalCatcher catcher;
    Phone south("南"), north("北");
    ASSERT_TRUE(south.created && north.created);

    // A caller resets while the callee talks to it, in the middle of a line.
    {
        CRawPeer peer;
        ASSERT_TRUE(CallsIn(peer, south));
        south->Click(IDC_BTN_ANSWER);
        ASSERT_TRUE(peer.Send(CallerGreeting("north") + "Scomplete\rShal"));
        ASSERT_TRUE(ReceivesLines(south, 1));
        peer.Reset();
        ASSERT_TRUE(ReachesLook(*south, kIdle));
        EXPECT_EQ(LookOf(*south), kIdle);
        EXPECT_TRUE(south->ListItems(IDC_LIST_RECEIVE).empty()) << Joined(south->ListItems(IDC_LIST_RECEIVE));
        EXPECT_EQ(south->InSocket(), nullptr);
    }
    // A callee resets in the middle of its greeting.
    {
        CRawListener listener;
        Dial(north, listener.Port());
        auto peer = listener.Accept();
        ASSERT_TRUE(peer);
        ASSERT_TRUE(ReachesLook(*north, kCalling));
        ASSERT_TRUE(peer->Send("a1sou"));
        PumpFor(100);
        peer->Reset();
        ASSERT_TRUE(ReachesLook(*north, kIdle));
        EXPECT_EQ(LookOf(*north), kIdle);
        EXPECT_EQ(north->ItemText(IDC_STATIC_PARTNER), "");
    }
    EXPECT_TRUE(NoSocketLeft(2));
    // Both still work: a normal call between them.
    EXPECT_TRUE(Talk(north, south));
    EXPECT_TRUE(NoBoxes(catcher));
}

TEST_F(CallTest, PeerClosingDuringGreetingDoesNotHideNextCaller)
{
    CModalCatcher catcher;
    Phone south("南");
    ASSERT_TRUE(south.created);
    {
        CRawPeer first;
        ASSERT_TRUE(CallsIn(first, south));
        ASSERT_TRUE(first.Send(std::string("i1first") + kCR)); // long form only, then gone
        ASSERT_TRUE(PumpUntil([&] { return south->PartnerName() == CString("first"); }));
        first.Close();
        ASSERT_TRUE(ReachesLook(*south, kIdle));
    }
    CRawPeer second;
    ASSERT_TRUE(CallsIn(second, south));
    ASSERT_TRUE(second.Send(CallerGreeting("second")));
    ASSERT_TRUE(PumpUntil([&] { return south->ItemText(IDC_STATIC_PARTNER) == "second"; }))
        << "the next caller's name was hidden; shows " << Quote(south->ItemText(IDC_STATIC_PARTNER));
    EXPECT_EQ(south->PartnerName(), CString("second"));
    second.Close();
    ASSERT_TRUE(ReachesLook(*south, kIdle));

    // The caller side likewise: a callee gone after its long form, then a full greeting.
    Phone north("北");
    ASSERT_TRUE(north.created);
    CRawListener listener;
    north->SetItemText(IDC_EDIT_ADDRESS, "127.0.0.1");
    north->SetItemText(IDC_EDIT_PORT, PortText(listener.Port()).c_str());
    {
        north->Click(IDC_BTN_CALL);
        auto peer = listener.Accept();
        ASSERT_TRUE(peer);
        ASSERT_TRUE(peer->Send(std::string("a1gone") + kCR));
        const std::string reply = CallerGreeting(north.name);
        EXPECT_EQ(Quote(peer->Read(reply.size())), Quote(reply));
        peer->Close();
        ASSERT_TRUE(ReachesLook(*north, kIdle));
    }
    north->Click(IDC_BTN_CALL);
    auto peer = listener.Accept();
    ASSERT_TRUE(peer);
    ASSERT_TRUE(peer->Send(CalleeGreeting("next")));
    const std::string reply = CallerGreeting(north.name);
    EXPECT_EQ(Quote(peer->Read(reply.size())), Quote(reply))
        << "the caller greeting must answer the new callee";
    ASSERT_TRUE(PumpUntil([&] { return north->ItemText(IDC_STATIC_PARTNER) == "next"; }))
        << "shows " << Quote(north->ItemText(IDC_STATIC_PARTNER));
    peer->Close();
    EXPECT_TRUE(EndsIdleAndClean(north, 2, catcher));
}

TEST_F(CallTest, FiftyBusyCallersInARow)
{
    CModalCatcher catcher;
    Phone north("北"), south("南");
    ASSERT_TRUE(north.created && south.created);
    ASSERT_TRUE(Talk(north, south));
    const int nDuringCall = CAsyncSocket::LiveCount();

    std::unique_ptr<CRawPeer> previous;
    const std::string busy = "B" + south.name + kCR;
    for (int i = 0; i < 50; ++i) {
        std::unique_ptr<CRawPeer> caller(new CRawPeer);
        ASSERT_TRUE(caller->Connect(south->ListeningPort())) << "caller " << i;
        ASSERT_EQ(Quote(caller->Read(busy.size())), Quote(busy)) << "caller " << i;
        if (i % 2) {
            ASSERT_TRUE(caller->Send("Signored\r")) << "caller " << i; // never read out
        }
        if (previous) {
            EXPECT_TRUE(previous->WaitClosed())
                << "busy caller " << i - 1 << " was not let go when " << i << " came";
        }
        ASSERT_TRUE(PumpUntil([&] { return CAsyncSocket::LiveCount() == nDuringCall + 1; }))
            << "caller " << i << ": " << CAsyncSocket::LiveCount() << " sockets, expected "
            << nDuringCall + 1;
        previous = std::move(caller);
    }
    PumpFor(200);
    EXPECT_EQ(LookOf(*south), kTalking);
    EXPECT_TRUE(south->ListItems(IDC_LIST_RECEIVE).empty())
        << "busy callers' lines were shown: " << Joined(south->ListItems(IDC_LIST_RECEIVE));
    Say(north, "still talking");
    ASSERT_TRUE(ReceivesLines(south, 1));

    previous->Close();
    ASSERT_TRUE(PumpUntil([&] { return south->BusySocket() == nullptr; })) << "last busy socket not deleted";
    north->Click(IDC_BTN_HANGUP);
    EXPECT_TRUE(EndsIdleAndClean(south, 2, catcher));
}

TEST_F(CallTest, OneMebibyteWithoutCRIsBoundedAndLineStaysUsable)
{
    CModalCatcher catcher;
    Phone south("南");
    ASSERT_TRUE(south.created);
    CRawPeer peer;
    ASSERT_TRUE(CallsIn(peer, south));
    south->Click(IDC_BTN_ANSWER);

    const size_t nTotal = 1024 * 1024;
    std::string flood = "S" + std::string(nTotal - 1, 'x');
    size_t sent = 0;
    while (sent < flood.size()) {
        size_t chunk = std::min<size_t>(32 * 1024, flood.size() - sent);
        ASSERT_TRUE(peer.Send(flood.substr(sent, chunk))) << "at byte " << sent;
        sent += chunk;
        PumpFor(5);
    }
    // The window drains it all (the reader's bound is checked where it lives, by the host tests
    // and the fuzzers).
    ASSERT_TRUE(peer.Send(std::string(1, kCR) + "Sdone" + kCR));
    ASSERT_TRUE(PumpUntil(
        [&] {
            auto items = south->ListItems(IDC_LIST_RECEIVE);
            return !items.empty() && items.back() == "done";
        },
        30000))
        << "receive list has " << south->ListItems(IDC_LIST_RECEIVE).size() << " items";
    const int nBound = CLineReader::kMaxPending;

    // The waiting text was cut at the bound into one item; the rest, not a command, is dropped.
    auto items = south->ListItems(IDC_LIST_RECEIVE);
    ASSERT_EQ(items.size(), 2u) << "items of sizes " << (items.empty() ? 0 : items[0].size());
    EXPECT_GE(items[0].size(), (size_t)nBound);
    EXPECT_LE(items[0].size(), (size_t)nBound + 1024);
    EXPECT_EQ(items[0].find_first_not_of('x'), std::string::npos);
    EXPECT_EQ(LookOf(*south), kTalking);

    peer.Close();
    EXPECT_TRUE(EndsIdleAndClean(south, 1, catcher));
}

TEST_F(CallTest, LineDeliveredOneByteAtATimeArrivesWhole)
{
    CModalCatcher catcher;
    Phone south("南");
    ASSERT_TRUE(south.created);
    CRawPeer peer;
    ASSERT_TRUE(CallsIn(peer, south));

    // The caller greeting and a Japanese line, byte by byte, the window reading in between.
    const std::string text = "ゆっくり届く行 slow";
    const std::string bytes = CallerGreeting("北") + "S" + text + kCR;
    for (char c : bytes) {
        ASSERT_TRUE(peer.Send(std::string(1, c)));
        PumpFor(15);
    }
    ASSERT_TRUE(ReceivesLines(south, 1));
    PumpFor(200);
    EXPECT_EQ(Joined(south->ListItems(IDC_LIST_RECEIVE)), Joined({ text }));
    EXPECT_EQ(south->PartnerName(), CString("北")) << "got " << Quote(south->PartnerName().str());
    EXPECT_EQ(LookOf(*south), kRinging);

    peer.Close();
    EXPECT_TRUE(EndsIdleAndClean(south, 1, catcher));
}

// Counts the lines added to one list while it lives, with the last one's text.
struct CListAdditions {
    static CListAdditions* s_p;
    HWND hList;
    size_t nAdded = 0;
    std::string strLast;
    HHOOK hHook;
    explicit CListAdditions(HWND h) : hList(h)
    {
        s_p = this;
        hHook = ::SetWindowsHookExA(WH_CALLWNDPROC, Watch, NULL, ::GetCurrentThreadId());
    }
    ~CListAdditions()
    {
        ::UnhookWindowsHookEx(hHook);
        s_p = nullptr;
    }
    static LRESULT CALLBACK Watch(int nCode, WPARAM wParam, LPARAM lParam)
    {
        const CWPSTRUCT* p = (const CWPSTRUCT*)lParam;
        if (nCode == HC_ACTION && s_p && p->hwnd == s_p->hList && p->message == LB_ADDSTRING) {
            ++s_p->nAdded;
            s_p->strLast = (const char*)p->lParam;
        }
        return ::CallNextHookEx(NULL, nCode, wParam, lParam);
    }
};
CListAdditions* CListAdditions::s_p = nullptr;

TEST_F(CallTest, CloseDuringAFloodEndsTheCallOnlyAfterEveryLineIsListed)
{
    CModalCatcher catcher;
    Phone south("南");
    ASSERT_TRUE(south.created);
    CListAdditions added(south->Item(IDC_LIST_RECEIVE));
    // A send buffer that takes the whole flood at once, so that the close follows it before the
    // window has read much of it.
    SOCKET s = ::socket(AF_INET, SOCK_STREAM, 0);
    int nBuffer = 4 << 20;
    ::setsockopt(s, SOL_SOCKET, SO_SNDBUF, (const char*)&nBuffer, sizeof nBuffer);
    const SOCKADDR_STORAGE a = Loopback(AF_INET, south->ListeningPort());
    ASSERT_EQ(::connect(s, (const sockaddr*)&a, AddressLength(a)), 0);
    CRawPeer peer(s);
    ASSERT_TRUE(ReachesLook(*south, kRinging));
    const int n = 20000;
    std::string flood;
    for (int i = 0; i < n; ++i) flood += "Sline " + std::to_string(i) + "\r";
    // The greeting is read first: closing with unread bytes would be a reset, which drops data.
    const std::string greeting = "a1南\rA南";
    ASSERT_EQ(peer.Read(greeting.size()), greeting);
    ASSERT_TRUE(peer.Send(flood));
    peer.Close();
    EXPECT_TRUE(EndsIdleAndClean(south, 1, catcher));
    EXPECT_EQ(added.nAdded, (size_t)n);
    EXPECT_EQ(added.strLast, "line " + std::to_string(n - 1));
}

TEST_F(CallTest, FloodOfLinesIsListedWholeAndInOrderScrolledToTheNewest)
{
    CModalCatcher catcher;
    Phone south("南");
    ASSERT_TRUE(south.created);
    CRawPeer peer;
    ASSERT_TRUE(CallsIn(peer, south));

    // Sent at once: lines of varying length, some Japanese, one wider than the list.
    std::vector<std::string> sent;
    std::string flood;
    for (int i = 0; i < 2000; ++i) {
        sent.push_back(
            std::to_string(i) + (i % 7 == 3 ? " 日本語の行" : " line") + std::string(i * 13 % 50, 'x'));
        if (i == 1234) sent.back() += std::string(400, 'w');
        flood += "S" + sent.back() + kCR;
    }
    ASSERT_TRUE(peer.Send(flood));
    const HWND hList = south->Item(IDC_LIST_RECEIVE);
    auto count = [&] { return (size_t)::SendMessageA(hList, LB_GETCOUNT, 0, 0); };
    ASSERT_TRUE(PumpUntil([&] { return count() >= sent.size(); }, 30000)) << count() << " lines listed";
    PumpFor(100);

    const std::vector<std::string> items = south->ListItems(IDC_LIST_RECEIVE);
    ASSERT_EQ(items.size(), sent.size());
    const auto diff = std::mismatch(items.begin(), items.end(), sent.begin());
    EXPECT_TRUE(diff.first == items.end()) << "item " << (diff.first - items.begin()) << " is "
                                           << Quote(*diff.first) << ", sent " << Quote(*diff.second);
    RECT rc;
    ::GetClientRect(hList, &rc);
    const int nTop = (int)::SendMessageA(hList, LB_GETTOPINDEX, 0, 0);
    const int nHeight = (int)::SendMessageA(hList, LB_GETITEMHEIGHT, 0, 0);
    EXPECT_GE(nTop + rc.bottom / std::max(nHeight, 1), (int)sent.size()) << "the newest line is out of view";
    EXPECT_GT((int)::SendMessageA(hList, LB_GETHORIZONTALEXTENT, 0, 0), rc.right)
        << "the wide line cannot be reached";

    peer.Close();
    EXPECT_TRUE(EndsIdleAndClean(south, 1, catcher));
}

TEST_F(CallTest, GarbageFromPeerChangesNothing)
{
    CModalCatcher catcher;
    Phone south("南");
    ASSERT_TRUE(south.created);
    CRawPeer peer;
    ASSERT_TRUE(CallsIn(peer, south));
    south->Click(IDC_BTN_ANSWER);
    std::string garbage;
    const char kJunk[] = { '\r', '\n', '\x81', '\x82', 'x', 'y', 'z', '\0', '\xff', '?', '\x81', '\r' };
    for (int i = 0; i < 4096; ++i) garbage += kJunk[i % sizeof kJunk];
    ASSERT_TRUE(peer.Send(garbage));
    PumpFor(500); // a zero byte drops the rest of its read: let the junk be read on its own
    ASSERT_TRUE(peer.Send(std::string(1, kCR) + "Safter" + kCR));
    ASSERT_TRUE(PumpUntil([&] {
        auto items = south->ListItems(IDC_LIST_RECEIVE);
        return !items.empty() && items.back() == "after";
    })) << Joined(south->ListItems(IDC_LIST_RECEIVE));
    EXPECT_EQ(LookOf(*south), kTalking);
    peer.Close();
    EXPECT_TRUE(EndsIdleAndClean(south, 1, catcher));
}

// ---------------------------------------------------------------------------------------------
// IPv6: the same calls over ::1.

TEST_F(CallTest, Ipv6CallsWithExactBytesAndBusyCallersOnBothFamilies)
{
    SKIP_WITHOUT_IPV6();
    CModalCatcher catcher;
    Phone north("北"), south("南");
    ASSERT_TRUE(north.created && south.created);
    {
        CRawPeer caller; // called over ::1: the callee greeting, byte for byte
        ASSERT_TRUE(caller.Connect(south->ListeningPort(), 0, AF_INET6));
        const std::string greeting = CalleeGreeting(south.name);
        EXPECT_EQ(Quote(caller.Read(greeting.size())), Quote(greeting));
    }
    ASSERT_TRUE(ReachesLook(*south, kIdle));
    ASSERT_TRUE(Talk(north, south, "[::1]"));
    Say(north, "北から");
    ASSERT_TRUE(ReceivesLines(south, 1));
    EXPECT_EQ(Joined(south->ListItems(IDC_LIST_RECEIVE)), Joined({ "北から" }));

    // Further callers on either family hear that the line is busy; the call goes on.
    const std::string busy = "B" + south.name + kCR;
    for (int nFamily : { AF_INET6, AF_INET }) {
        CRawPeer caller;
        ASSERT_TRUE(caller.Connect(south->ListeningPort(), 0, nFamily)) << "family " << nFamily;
        EXPECT_EQ(Quote(caller.Read(busy.size())), Quote(busy)) << "family " << nFamily;
    }
    EXPECT_EQ(LookOf(*south), kTalking);
    north->Click(IDC_BTN_HANGUP);
    EXPECT_TRUE(EndsIdleAndClean(south, 2, catcher));
}

TEST_F(CallTest, RefusedIpv6CallShowsTheSystemTextAndIsIdle)
{
    SKIP_WITHOUT_IPV6();
    CModalCatcher catcher;
    Phone north("北");
    ASSERT_TRUE(north.created);
    // With a zone the text is still a numeric address; a look-up would say "host not found".
    Dial(north, DeadPort(AF_INET6), "::1%1");
    EXPECT_TRUE(FailsWithText(north, catcher, kRefusedText));
}

TEST_F(CallTest, HangUpDuringLookUpThenCallingAgainIgnoresTheLateResult)
{
    CModalCatcher catcher;
    Phone north("北"), south("南");
    ASSERT_TRUE(north.created && south.created);
    CLocalhostLookup lookup(true);
    Dial(north, south, "localhost");
    EXPECT_EQ(LookOf(*north), kDialling);
    north->Click(IDC_BTN_HANGUP);
    EXPECT_EQ(LookOf(*north), kIdle);
    EXPECT_TRUE(NoSocketLeft(2));

    // A new call while the withdrawn look-up still runs; its result must not touch this one.
    ASSERT_TRUE(Connect(north, south));
    lookup.Release();
    PumpFor(500);
    EXPECT_EQ(LookOf(*north), kCalling);
    EXPECT_EQ(LookOf(*south), kRinging);
    EXPECT_EQ(south->BusySocket(), nullptr) << "a second connection reached the callee";
    north->Click(IDC_BTN_HANGUP);
    EXPECT_TRUE(EndsIdleAndClean(north, 2, catcher));
}

} // namespace
