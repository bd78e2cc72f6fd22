// Soak and faults: many callers, many calls, peers that reset anywhere in the greetings. After
// each round the open sockets and GDI objects are back where they started and the window shows
// what the state tables give. The counts are small in the normal run; KELVARO_SOAK=1 (make
// soak) runs the full ones.
#include "test_util.h"

#include <cstdio>
#include <cstdlib>

namespace {

bool FullSoak()
{
    const char* psz = std::getenv("KELVARO_SOAK");
    return psz && std::atoi(psz) != 0;
}

int Rounds(int nShort, int nFull) { return FullSoak() ? nFull : nShort; }

class SoakTest : public CCallFixture {
protected:
    // Takes the counts to come back to, once the windows are made.
    void Mark()
    {
        m_nSockets = CAsyncSocket::LiveCount();
        m_nGdi = CGdiObject::LiveCount();
        m_dwStart = ::GetTickCount();
    }
    // The sockets and GDI objects are as at Mark() again (sockets may take a few events).
    ::testing::AssertionResult BackToMark(DWORD dwMs = 5000)
    {
        PumpUntil([&] { return CAsyncSocket::LiveCount() == m_nSockets && CGdiObject::LiveCount() == m_nGdi; }, dwMs);
        if (CAsyncSocket::LiveCount() == m_nSockets && CGdiObject::LiveCount() == m_nGdi)
            return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << CAsyncSocket::LiveCount() << " sockets (expected " << m_nSockets << "), "
                                             << CGdiObject::LiveCount() << " GDI objects (expected " << m_nGdi << ")";
    }
    // Idle as the tables give it: idle look, no call flags, no partner, empty lists.
    static ::testing::AssertionResult IsIdle(Phone& p)
    {
        if (::testing::AssertionResult r = ReachesLook(*p, kIdle); !r) return r;
        if (FlagsOf(*p) != "none" || !p->ItemText(IDC_STATIC_PARTNER).empty() ||
            !p->ListItems(IDC_LIST_SEND).empty() || !p->ListItems(IDC_LIST_RECEIVE).empty())
            return ::testing::AssertionFailure() << "idle look but flags " << FlagsOf(*p) << ", partner "
                                                 << Quote(p->ItemText(IDC_STATIC_PARTNER)) << ", lists "
                                                 << Joined(p->ListItems(IDC_LIST_SEND)) << " "
                                                 << Joined(p->ListItems(IDC_LIST_RECEIVE));
        return ::testing::AssertionSuccess();
    }
    void Report(const char* pszWhat, int nRounds)
    {
        std::printf("[ soak     ] %s: %d rounds in %lu ms\n", pszWhat, nRounds, ::GetTickCount() - m_dwStart);
    }

    int m_nSockets = 0;
    int m_nGdi = 0;
    DWORD m_dwStart = 0;
};

TEST_F(SoakTest, BusyCallersWhileACallStands)
{
    CModalCatcher catcher;
    Phone north("北"), south("南");
    ASSERT_TRUE(north.created && south.created);
    ASSERT_TRUE(Talk(north, south));
    Mark();
    const std::string busy = "B" + south.name + kCR;
    const int nCallers = Rounds(200, 1000);
    std::vector<std::string> said;
    for (int i = 0; i < nCallers; ++i) {
        CRawPeer caller;
        ASSERT_TRUE(caller.Connect(south->ListeningPort())) << "caller " << i;
        ASSERT_EQ(Quote(caller.Read(busy.size())), Quote(busy)) << "caller " << i;
        // Each leaves in its own way: hangs up, talks into the void first, or resets.
        if (i % 3 == 1) {
            ASSERT_TRUE(caller.Send("i1x\rIx" + std::string("Signored") + kCR)) << "caller " << i;
        }
        if (i % 3 == 2) caller.Reset();
        else caller.Close();
        // The held call goes on meanwhile.
        if (i % 50 == 0) {
            said.push_back("line " + std::to_string(i));
            Say(north, said.back().c_str());
        }
    }
    ASSERT_TRUE(PumpUntil([&] { return south->BusySocket() == nullptr; })) << "last busy socket not deleted";
    ASSERT_TRUE(ReceivesLines(south, said.size()));
    EXPECT_EQ(Joined(south->ListItems(IDC_LIST_RECEIVE)), Joined(said)) << "lines of the held call lost or changed";
    EXPECT_EQ(LookOf(*south), kTalking);
    EXPECT_EQ(FlagsOf(*south), "in");
    EXPECT_EQ(south->ItemText(IDC_STATIC_PARTNER), north.name);
    EXPECT_TRUE(BackToMark());
    EXPECT_TRUE(NoBoxes(catcher));
    Report("busy callers", nCallers);

    north->Click(IDC_BTN_HANGUP);
    EXPECT_TRUE(IsIdle(south));
    EXPECT_TRUE(NoSocketLeft(2));
}

TEST_F(SoakTest, ConnectAndCloseCyclesAgainstAnIdleWindow)
{
    CModalCatcher catcher;
    Phone south("南");
    ASSERT_TRUE(south.created);
    Mark();
    const std::string greeting = CalleeGreeting(south.name);
    const int nCycles = Rounds(200, 1000);
    for (int i = 0; i < nCycles; ++i) {
        CRawPeer caller;
        ASSERT_TRUE(caller.Connect(south->ListeningPort())) << "cycle " << i;
        // Gone at once, gone after the greeting, or reset after the greeting. Gone at once, it
        // is still accepted: the window rings, then goes back to idle.
        if (i % 3 != 0) {
            ASSERT_EQ(Quote(caller.Read(greeting.size())), Quote(greeting)) << "cycle " << i;
        }
        if (i % 3 == 2) caller.Reset();
        else caller.Close();
        if (i % 3 == 0) {
            ASSERT_TRUE(ReachesLook(*south, kRinging)) << "cycle " << i;
        }
        ASSERT_TRUE(IsIdle(south)) << "cycle " << i;
        ASSERT_TRUE(BackToMark()) << "cycle " << i;
    }
    EXPECT_TRUE(NoBoxes(catcher));
    Report("connect-and-close cycles", nCycles);
    // Still answers a caller as a new call.
    CRawPeer last;
    ASSERT_TRUE(CallsIn(last, south));
    EXPECT_EQ(Quote(last.Read(greeting.size())), Quote(greeting));
}

TEST_F(SoakTest, CallsDialledAndHungUpBetweenTwoWindows)
{
    CModalCatcher catcher;
    Phone north("北"), south("南");
    ASSERT_TRUE(north.created && south.created);
    Mark();
    const int nCalls = Rounds(20, 200);
    for (int i = 0; i < nCalls; ++i) {
        // Each side calls in turn, and each side hangs up in turn (every other pair swapped).
        Phone& caller = i % 2 ? south : north;
        Phone& callee = i % 2 ? north : south;
        ASSERT_TRUE(Talk(caller, callee)) << "call " << i;
        const std::string there = "to callee " + std::to_string(i), back = "to caller " + std::to_string(i);
        Say(caller, there.c_str());
        Say(callee, back.c_str());
        ASSERT_TRUE(ReceivesLines(callee, 1)) << "call " << i;
        ASSERT_TRUE(ReceivesLines(caller, 1)) << "call " << i;
        ASSERT_EQ(Joined(callee->ListItems(IDC_LIST_RECEIVE)), Joined({there})) << "call " << i;
        ASSERT_EQ(Joined(caller->ListItems(IDC_LIST_RECEIVE)), Joined({back})) << "call " << i;
        (i % 4 < 2 ? caller : callee)->Click(IDC_BTN_HANGUP);
        ASSERT_TRUE(IsIdle(north)) << "call " << i;
        ASSERT_TRUE(IsIdle(south)) << "call " << i;
        ASSERT_TRUE(BackToMark()) << "call " << i;
    }
    EXPECT_TRUE(NoBoxes(catcher));
    Report("calls between two windows", nCalls);
}

TEST_F(SoakTest, PeerResetsAtEveryByteOfBothGreetings)
{
    CModalCatcher catcher;
    Phone north("北の間");
    ASSERT_TRUE(north.created);
    Mark();
    const std::string mine = CalleeGreeting(north.name), theirs = CallerGreeting("南の間");
    const int nRepeats = Rounds(1, 10);
    int nRounds = 0;
    for (int r = 0; r < nRepeats; ++r) {
        // The window is called: the peer resets after reading k bytes of the window's greeting,
        // or after sending k bytes of its own.
        for (size_t k = 0; k <= mine.size() + theirs.size(); ++k, ++nRounds) {
            CRawPeer caller;
            ASSERT_TRUE(caller.Connect(north->ListeningPort())) << "offset " << k;
            const size_t nRead = std::min(k, mine.size());
            ASSERT_EQ(caller.Read(nRead), mine.substr(0, nRead)) << "offset " << k;
            if (k > mine.size()) {
                ASSERT_TRUE(caller.Send(theirs.substr(0, k - mine.size()))) << "offset " << k;
            }
            ASSERT_TRUE(ReachesLook(*north, kRinging)) << "offset " << k;
            PumpFor(5);
            caller.Reset();
            ASSERT_TRUE(IsIdle(north)) << "called, reset at offset " << k;
            ASSERT_TRUE(BackToMark()) << "called, reset at offset " << k;
        }
        // The window calls: the peer resets after sending k bytes of its greeting, or after
        // reading k bytes of the window's reply.
        CRawListener listener;
        const std::string calleeGreeting = CalleeGreeting("南の間"), reply = CallerGreeting(north.name);
        for (size_t k = 0; k <= calleeGreeting.size() + reply.size(); ++k, ++nRounds) {
            Dial(north, listener.Port());
            auto callee = listener.Accept();
            ASSERT_TRUE(callee) << "offset " << k;
            ASSERT_TRUE(callee->Send(calleeGreeting.substr(0, std::min(k, calleeGreeting.size())))) << "offset " << k;
            if (k > calleeGreeting.size()) {
                const size_t nRead = k - calleeGreeting.size();
                ASSERT_EQ(callee->Read(nRead), reply.substr(0, nRead)) << "offset " << k;
            }
            ASSERT_TRUE(ReachesLook(*north, kCalling)) << "offset " << k;
            PumpFor(5);
            callee->Reset();
            ASSERT_TRUE(IsIdle(north)) << "calling, reset at offset " << k;
            ASSERT_TRUE(BackToMark()) << "calling, reset at offset " << k;
        }
    }
    EXPECT_TRUE(NoBoxes(catcher));
    Report("resets in the greetings", nRounds);
}

} // namespace
