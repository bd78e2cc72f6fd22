// Two call cores talking through a simulated network, encrypting as version 3 of secure calls
// does (both have identities). The input decides what happens step by step: how bytes are split
// and glued on the way, resets at any byte, a reader that stops, typing, answer, hang-up, a third
// caller and the callee's wait for the reveal running out. After every step the fuzzer checks
// that every line sent whole is listed once, whole and in order, at the other side; that only
// whole messages are queued; that a closed call leaves both sides idle; that the busy answer is
// byte-exact; that two sides showing encryption show the same code; and that no buffer grows
// without bound.
#include "tests/fuzz/fuzz_util.h"
#include "call/CallCore.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

const int kWouldBlock = 10035;
const size_t kSocketBuffer = 64 * 1024; // what one direction holds in flight

// One copy of the program as the window would carry out its core's effects.
struct Side {
    CCallCore core { kWouldBlock };
    const char* name;
    std::vector<std::string> sent, received; // the two lists
    std::string partner;
    bool bReading = true; // false: the user's machine stops taking bytes
    bool bTimer = false; // the core's timer runs
    explicit Side(const char* n) : name(n)
    {
        // Both with an identity: the calls agree version 3 and prove it in their first frames.
        static CIdentity identity;
        static const CVerifiedContacts contacts;
        static const unsigned char secret[SecureCrypto::kKeySize] = { 7 };
        if (!identity.Valid()) identity.SetSecret(secret);
        core.SetTrust(&identity, &contacts);
    }
};

// The one connection between the caller's outgoing and the callee's incoming side.
struct Wire {
    bool bOpen = false;
    std::string toCallee, toCaller; // bytes in flight
};

struct World {
    Side caller { "north" }, callee { "south" };
    Wire wire;
    std::string busyBytes; // what the third caller got
    // Lines the caller has listed as sent on this connection, and how many the callee has listed.
    std::vector<std::string> expectAtCallee, expectAtCaller;

    void Flush(Side& s, CallConn conn, std::string& out)
    {
        s.core.Flush(conn, [&](const char* p, int n, int* pnError) {
            const size_t room = kSocketBuffer > out.size() ? kSocketBuffer - out.size() : 0;
            if (room == 0) {
                *pnError = kWouldBlock;
                return -1;
            }
            const size_t take = std::min(room, (size_t)n);
            out.append(p, take);
            return (int)take;
        });
    }

    // Carries out the effects of a side, as the window does: round by round, what the sockets
    // report of a round going back to the core after it.
    void Apply(Side& s)
    {
        for (std::vector<CCallEffect> todo; !(todo = s.core.TakeEffects()).empty();) {
            std::vector<CallConn> flushed;
            for (const CCallEffect& e : todo) Do(s, e, flushed);
            for (CallConn conn : flushed) s.core.Flushed(conn, 0);
        }
    }
    void Do(Side& s, const CCallEffect& effect, std::vector<CallConn>& flushed)
    {
        const bool bCaller = &s == &caller;
        if (std::holds_alternative<CallFx::Connect>(effect)) {
            // The callee's listening socket takes it.
            wire = Wire();
            wire.bOpen = true;
            callee.core.ConnectionWaiting();
            Apply(callee);
            caller.core.Connected(0, "127.0.0.2");
        } else if (auto* pAccept = std::get_if<CallFx::Accept>(&effect)) {
            if (pAccept->conn == CallConn::In) {
                callee.core.Accepted(CallConn::In, "127.0.0.1", callee.name);
            } else {
                callee.core.Accepted(CallConn::Busy, "127.0.0.3", callee.name);
                Flush(callee, CallConn::Busy, busyBytes);
                CHECK(busyBytes == "Bsouth\r");
                callee.core.Closed(CallConn::Busy); // the third caller hangs up
            }
        } else if (auto* pClose = std::get_if<CallFx::Close>(&effect)) {
            if (pClose->conn != CallConn::Busy && wire.bOpen) {
                // The last words (a sealed hang-up) go as far as the socket takes them; the other
                // side sees the close once it has read what came before it.
                std::string& out = bCaller ? wire.toCallee : wire.toCaller;
                out +=
                    pClose->strLastWords.str().substr(0, kSocketBuffer - std::min(kSocketBuffer, out.size()));
                wire.bOpen = false;
                Side& other = bCaller ? callee : caller;
                Deliver(other, bCaller ? wire.toCallee : wire.toCaller, SIZE_MAX);
                other.core.Closed(bCaller ? CallConn::In : CallConn::Out);
                Apply(other);
            }
        } else if (auto* pFlush = std::get_if<CallFx::Flush>(&effect)) {
            if (pFlush->nGeneration != s.core.Generation(pFlush->conn)) return;
            if (wire.bOpen) Flush(s, pFlush->conn, bCaller ? wire.toCallee : wire.toCaller);
            flushed.push_back(pFlush->conn);
        } else if (auto* pName = std::get_if<CallFx::PartnerName>(&effect)) {
            s.partner = pName->strName.str();
        } else if (auto* pList = std::get_if<CallFx::ListReceived>(&effect)) {
            for (const CString& line : pList->lines) s.received.push_back(line.str());
        } else if (auto* pSent = std::get_if<CallFx::ListSent>(&effect)) {
            s.sent.push_back(pSent->strText.str());
            (bCaller ? expectAtCallee : expectAtCaller).push_back(pSent->strText.str());
        } else if (auto* pTimer = std::get_if<CallFx::Timer>(&effect)) {
            s.bTimer = pTimer->bOn;
        } else if (std::holds_alternative<CallFx::ClearLists>(effect)) {
            s.sent.clear(), s.received.clear(), s.partner.clear();
        }
    }

    // Up to n bytes of what is in flight reach the side, in one read.
    void Deliver(Side& s, std::string& inFlight, size_t n)
    {
        if (!s.bReading && n != SIZE_MAX) return;
        n = std::min(n, inFlight.size());
        if (n == 0) return;
        const std::string bytes = inFlight.substr(0, n);
        inFlight.erase(0, n);
        s.core.Received(
            &s == &caller ? CallConn::Out : CallConn::In, bytes.data(), (int)bytes.size(), s.name);
        Apply(s);
    }

    void Check()
    {
        for (Side* s : { &caller, &callee }) {
            for (CallConn c : { CallConn::Out, CallConn::In, CallConn::Busy }) {
                CHECK(s->core.Queued(c) <= CSendQueue::kMaxQueued);
                CHECK(s->core.PendingBytes(c) <= (size_t)CLineReader::kMaxPending);
            }
        }
        CHECK(wire.toCallee.size() <= kSocketBuffer && wire.toCaller.size() <= kSocketBuffer);
        // Nobody is in the middle: two sides that show encryption show the same code.
        const CCallLook lookOut = caller.core.Look(), lookIn = callee.core.Look();
        const auto coded = [](const CCallLook& l) {
            return l.strSecure.str().find_first_of("0123456789") != std::string::npos;
        };
        if (coded(lookOut) && coded(lookIn)) CHECK(lookOut.strSecure == lookIn.strSecure);
        // Every line listed at a side is the next one its partner sent, whole.
        CHECK(callee.received.size() <= expectAtCallee.size());
        for (size_t i = 0; i < callee.received.size(); ++i) CHECK(callee.received[i] == expectAtCallee[i]);
        CHECK(caller.received.size() <= expectAtCaller.size());
        for (size_t i = 0; i < caller.received.size(); ++i) CHECK(caller.received[i] == expectAtCaller[i]);
        if (!wire.bOpen) {
            // After a close both sides are idle, with the idle look and empty lists.
            for (Side* s : { &caller, &callee }) {
                if (s == &caller && caller.core.Out() == CCallCore::OutState::Dialling) continue;
                const CCallLook look = s->core.Look();
                CHECK(s->core.Out() == CCallCore::OutState::Idle && s->core.In() == CCallCore::InState::Idle);
                CHECK(
                    look.bCallEnabled && !look.bHangUpEnabled && !look.bAnswerEnabled && !look.bStatusShown);
                CHECK(s->sent.empty() && s->received.empty() && s->partner.empty());
            }
            expectAtCallee.clear(), expectAtCaller.clear();
        }
    }

    // A line of text from the input: no CR (it ends a message) and no zero byte (it ends a read).
    static std::string Text(Input& in)
    {
        std::string s;
        for (size_t n = in.Byte() % 40; n > 0 && !in.Empty(); --n) {
            const char c = (char)in.Byte();
            if (c != '\r' && c != '\0') s += c;
        }
        return s;
    }

    // A line typed and sent with Enter: queued whole, or refused whole.
    void Type(Side& s, Input& in)
    {
        const std::string text = Text(in);
        const CallConn conn = &s == &caller ? CallConn::Out : CallConn::In;
        const size_t before = s.core.Queued(conn);
        const size_t listed = s.sent.size();
        s.core.PressEnter(text.c_str());
        const size_t after = s.core.Queued(conn);
        Apply(s);
        if (s.sent.size() > listed)
            CHECK(after >= before + text.size() + 2); // sealed, a message is longer
        else
            CHECK(after == before);
    }

    void Step(Input& in)
    {
        switch (in.Byte() % 15) {
        case 0:
            caller.core.PressCall("127.0.0.2", "32760"), Apply(caller);
            break;
        case 1:
            callee.core.PressAnswer(), Apply(callee);
            break;
        case 2:
            Type(caller, in);
            break;
        case 3:
            Type(callee, in);
            break;
        case 4:
            Deliver(callee, wire.toCallee, 1 + in.Byte() % 64);
            break;
        case 5:
            Deliver(caller, wire.toCaller, 1 + in.Byte() % 64);
            break;
        case 6:
            Deliver(callee, wire.toCallee, 1 + in.Byte() * 64u);
            break;
        case 7:
            Deliver(caller, wire.toCaller, 1 + in.Byte() * 64u);
            break;
        case 8:
            if (wire.bOpen)
                Flush(caller, CallConn::Out, wire.toCallee), Flush(callee, CallConn::In, wire.toCaller);
            break;
        case 9:
            caller.core.PressHangUp(), Apply(caller);
            break;
        case 10:
            callee.core.PressHangUp(), Apply(callee);
            break;
        case 11:
            // A reset: what is in flight is lost, both sides see the close.
            if (!wire.bOpen) break;
            wire.bOpen = false;
            wire.toCallee.clear(), wire.toCaller.clear();
            caller.core.Closed(CallConn::Out), Apply(caller);
            callee.core.Closed(CallConn::In), Apply(callee);
            break;
        case 12:
            // A third caller while the callee holds a call: turned away, the call unchanged.
            if (callee.core.In() == CCallCore::InState::Idle) break;
            busyBytes.clear();
            callee.core.ConnectionWaiting(), Apply(callee);
            CHECK(busyBytes == "Bsouth\r");
            CHECK(callee.core.In() != CCallCore::InState::Idle);
            break;
        case 13: {
            Side& s = in.Byte() & 1 ? caller : callee;
            s.bReading = !s.bReading;
            break;
        }
        case 14:
            // The callee's wait for the reveal runs out.
            if (!callee.bTimer) break;
            callee.bTimer = false;
            callee.core.TimerExpired(CallConn::In), Apply(callee);
            break;
        }
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Input in { data, size };
    World world;
    for (int steps = 0; !in.Empty() && steps < 2000; ++steps) {
        world.Step(in);
        world.Check();
    }
    return 0;
}
