// Soak and faults: many callers, many calls, peers that reset anywhere in the greetings, a
// partner that stops reading while megabytes are typed. After each round the open sockets and
// GDI objects are back where they started and the window shows what the state tables give.
// The counts are small in the normal run; KELVARO_SOAK=1 (make soak) runs the full ones.
#include "tests/win/test_util.h"

#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <thread>

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
        PumpUntil(
            [&] { return CAsyncSocket::LiveCount() == m_nSockets && CGdiObject::LiveCount() == m_nGdi; },
            dwMs);
        if (CAsyncSocket::LiveCount() == m_nSockets && CGdiObject::LiveCount() == m_nGdi)
            return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure()
            << CAsyncSocket::LiveCount() << " sockets (expected " << m_nSockets << "), "
            << CGdiObject::LiveCount() << " GDI objects (expected " << m_nGdi << ")";
    }
    // Idle: idle look, no partner, empty lists.
    static ::testing::AssertionResult IsIdle(Phone& p)
    {
        if (::testing::AssertionResult r = ReachesLook(*p, kIdle); !r) return r;
        if (!p->ItemText(IDC_STATIC_PARTNER).empty() || !p->ListItems(IDC_LIST_SEND).empty() ||
            !p->ListItems(IDC_LIST_RECEIVE).empty())
            return ::testing::AssertionFailure()
                << "idle look but partner " << Quote(p->ItemText(IDC_STATIC_PARTNER)) << ", lists "
                << Joined(p->ListItems(IDC_LIST_SEND)) << " " << Joined(p->ListItems(IDC_LIST_RECEIVE));
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
        if (i % 3 == 2)
            caller.Reset();
        else
            caller.Close();
        // The held call goes on meanwhile.
        if (i % 50 == 0) {
            said.push_back("line " + std::to_string(i));
            Say(north, said.back().c_str());
        }
    }
    ASSERT_TRUE(PumpUntil([&] { return south->BusySocket() == nullptr; })) << "last busy socket not deleted";
    ASSERT_TRUE(ReceivesLines(south, said.size()));
    EXPECT_EQ(Joined(south->ListItems(IDC_LIST_RECEIVE)), Joined(said))
        << "lines of the held call lost or changed";
    EXPECT_EQ(LookOf(*south), kTalking);
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
        if (i % 3 == 2)
            caller.Reset();
        else
            caller.Close();
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
        ASSERT_EQ(Joined(callee->ListItems(IDC_LIST_RECEIVE)), Joined({ there })) << "call " << i;
        ASSERT_EQ(Joined(caller->ListItems(IDC_LIST_RECEIVE)), Joined({ back })) << "call " << i;
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
            ASSERT_TRUE(callee->Send(calleeGreeting.substr(0, std::min(k, calleeGreeting.size()))))
                << "offset " << k;
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

TEST_F(SoakTest, PartnerThatNeverReadsWhileMebibytesAreTyped)
{
    CModalCatcher catcher;
    Phone south("南");
    ASSERT_TRUE(south.created);
    Mark();
    CRawPeer peer;
    ASSERT_TRUE(peer.Connect(south->ListeningPort(), 64 * 1024)) << "error " << ::WSAGetLastError();
    ASSERT_TRUE(ReachesLook(*south, kRinging));
    // Buffers of a size Windows gives by default: left alone, Linux lets the window's socket
    // take up to 4 MiB beyond what the partner reads, and the queue would never fill.
    int nBuffer = 64 * 1024;
    ASSERT_EQ(::setsockopt(
                  south->InSocket()->m_hSocket, SOL_SOCKET, SO_SNDBUF, (const char*)&nBuffer, sizeof nBuffer),
        0);
    ASSERT_TRUE(peer.Send(CallerGreeting("北")));
    south->Click(IDC_BTN_ANSWER);
    ASSERT_TRUE(ReachesLook(*south, kTalking));

    // Lines of 16 KiB are typed and sent with Enter. The partner reads nothing, except a few
    // times in the full run, when it takes a piece that ends inside a line.
    std::string expected = CalleeGreeting(south.name) + "C\r", got;
    std::vector<std::string> listed;
    std::string lastRefused;
    const size_t nTyped = (size_t)Rounds(2, 8) << 20;
    const size_t nPieces = (size_t)Rounds(0, 3);
    size_t nDone = 0, nPieceAt = nTyped / (nPieces + 1);
    int nRefused = 0, nLine = 0;
    while (nDone < nTyped) {
        const std::string line =
            std::to_string(nLine) + ":" + std::string(16 * 1024 - 8, (char)('a' + nLine % 26));
        ++nLine;
        const size_t nBoxes = catcher.boxes.size();
        Say(south, line.c_str());
        nDone += line.size();
        if (catcher.boxes.size() > nBoxes) {
            ++nRefused;
            lastRefused = line;
            ASSERT_EQ(catcher.boxes.size(), nBoxes + 1);
            ASSERT_NE(catcher.boxes.back().strText.find("相手が受信していません"), std::string::npos)
                << catcher.boxes.back().strText;
            ASSERT_TRUE(south->ItemText(IDC_EDIT_SEND) == line)
                << "the refused line " << nLine - 1 << " left the edit";
        } else {
            listed.push_back(line);
            expected += "S" + line + kCR;
            ASSERT_EQ(south->ItemText(IDC_EDIT_SEND), "") << "line " << nLine - 1;
        }
        if (nPieces && nDone >= nPieceAt) {
            nPieceAt += nTyped / (nPieces + 1);
            got += peer.Read(300001, 10000);
        }
    }
    EXPECT_GT(nRefused, 0) << "no line was refused with " << nTyped << " bytes typed";
    EXPECT_GE(expected.size() - got.size(), CSendQueue::kMaxQueued - 16 * 1024)
        << "refused before the queue was full";
    const std::vector<std::string> shown = south->ListItems(IDC_LIST_SEND);
    ASSERT_EQ(shown.size(), listed.size()) << "a refused line was listed, or a sent one was not";
    EXPECT_TRUE(shown == listed) << "the send list differs from the lines sent";

    // The window still takes what the partner says meanwhile.
    ASSERT_TRUE(peer.Send("Sstill there\r"));
    ASSERT_TRUE(ReceivesLines(south, 1));

    // Once the partner reads, it gets every listed line whole and in order, and nothing else.
    got += peer.Read(expected.size() - got.size(), 60000);
    ASSERT_EQ(got.size(), expected.size());
    EXPECT_TRUE(got == expected) << "the bytes differ from byte "
                                 << std::mismatch(got.begin(), got.end(), expected.begin()).first -
            got.begin();
    EXPECT_EQ(peer.ReadFor(300), "") << "something of a refused line went out";

    // The queue has drained: the last refused line goes now, whole.
    Say(south, lastRefused.c_str());
    EXPECT_EQ(south->ItemText(IDC_EDIT_SEND), "");
    const std::string again = "S" + lastRefused + kCR;
    EXPECT_TRUE(peer.Read(again.size(), 10000) == again) << "the line sent again did not arrive whole";
    Report("16 KiB lines typed to a partner that does not read", nLine);
    std::printf("[ soak     ] of which %d sent, %d refused\n", (int)listed.size(), nRefused);

    peer.Close();
    EXPECT_TRUE(IsIdle(south));
    EXPECT_TRUE(BackToMark());
    EXPECT_EQ(catcher.boxes.size(), (size_t)nRefused) << Boxes(catcher);
}

double WorkingSetMiB()
{
    PROCESS_MEMORY_COUNTERS pmc = {};
    ::GetProcessMemoryInfo(::GetCurrentProcess(), &pmc, sizeof pmc);
    return pmc.WorkingSetSize / 1048576.0;
}

// A raw peer writes numbered lines as fast as it can, 20,000 to a write, from a thread of its
// own; once the last line is listed the list holds exactly the newest 10,000, contiguous and in
// order, and the memory used meanwhile stays near where it was. (Read item by item while the
// flood is still being listed, the list moves under the reader: it then seems to hold single
// old lines with a turn's worth missing between them.)
TEST_F(SoakTest, FloodInLargeWritesListsExactlyTheNewestLines)
{
    CModalCatcher catcher;
    Phone south("南");
    ASSERT_TRUE(south.created);
    Mark();
    SOCKET s = ::socket(AF_INET, SOCK_STREAM, 0);
    const SOCKADDR_STORAGE to = Loopback(AF_INET, south->ListeningPort());
    ASSERT_EQ(::connect(s, (const sockaddr*)&to, AddressLength(to)), 0);
    ASSERT_TRUE(ReachesLook(*south, kRinging));
    const int nLines = Rounds(100000, 1000000);
    const auto numbered = [](int n) {
        char sz[16];
        return std::string(sz, wsprintfA(sz, "%07d", n));
    };
    bool bSent = true;
    std::thread writer([&] {
        for (int i = 0; i < nLines && bSent; i += 20000) {
            std::string chunk;
            for (int k = i; k < i + 20000; ++k) chunk += "S" + numbered(k) + kCR;
            for (size_t n = 0, r = 0; n < chunk.size() && bSent; n += r)
                bSent = (int)(r = (size_t)::send(s, chunk.data() + n, (int)(chunk.size() - n), 0)) > 0;
        }
    });
    const double dIdle = WorkingSetMiB();
    double dPeak = dIdle;
    const HWND hList = south->Item(IDC_LIST_RECEIVE);
    const bool bListed = PumpUntil(
        [&] {
            dPeak = std::max(dPeak, WorkingSetMiB());
            char sz[64] = "";
            const int n = (int)::SendMessageA(hList, LB_GETCOUNT, 0, 0);
            if (n > 0 && ::SendMessageA(hList, LB_GETTEXTLEN, n - 1, 0) < 60)
                ::SendMessageA(hList, LB_GETTEXT, n - 1, (LPARAM)sz);
            return sz == numbered(nLines - 1);
        },
        Rounds(60000, 300000));
    writer.join();
    ASSERT_TRUE(bSent && bListed) << "sent: " << bSent << ", last line listed: " << bListed;
    const std::vector<std::string> items = south->ListItems(IDC_LIST_RECEIVE);
    ASSERT_EQ(items.size(), 10000u);
    for (int i = 0; i < 10000; ++i) ASSERT_EQ(items[i], numbered(nLines - 10000 + i)) << "item " << i;
    EXPECT_LT(dPeak - dIdle, 20.0) << "working set grew from " << dIdle << " MiB to " << dPeak << " MiB";
    Report("lines flooded in writes of 20,000", nLines);

    char greeting[64]; // read, so that the close is not a reset
    ::recv(s, greeting, sizeof greeting, 0);
    ::closesocket(s);
    EXPECT_TRUE(IsIdle(south));
    EXPECT_TRUE(BackToMark());
    EXPECT_TRUE(NoBoxes(catcher));
}

} // namespace
