// Secure calls between two call cores wired to each other: what each side shows and lists, and
// what crosses the wire, when both encrypt, when the wire is changed on the way, and when one
// side is an older program that speaks only plain lines.
#include "call/CallCore.h"

#include <gtest/gtest.h>

#include <functional>
#include <regex>
#include <string>
#include <vector>

namespace {

const char kTampered[] =
    "通話の内容が途中で書き換えられたため、通話を終了しました。受け取った内容は表示していません。";

struct Side {
    CCallCore core { 10035 };
    std::vector<std::string> received, boxes;
    CCallLook look;
};

// Caller and callee joined by one connection; `onWire` may change what goes to the callee.
struct Pair {
    Side caller, callee;
    std::string wire; // everything that went either way, for checks
    std::function<void(std::string&)> toCallee = [](std::string&) {};

    void Carry(Side& from, CallConn fromConn, Side& to, CallConn toConn, bool bToCallee)
    {
        std::string bytes;
        from.core.Flush(fromConn, [&](const char* p, int n, int*) {
            bytes.append(p, (size_t)n);
            return n;
        });
        from.core.Flushed(fromConn, 0);
        if (bToCallee) toCallee(bytes);
        wire += bytes;
        if (!bytes.empty())
            to.core.Received(toConn, bytes.data(), (int)bytes.size(), &to == &caller ? "north" : "south");
    }
    void Take(Side& s)
    {
        for (const CCallEffect& e : s.core.TakeEffects()) {
            if (auto* pList = std::get_if<CallFx::ListReceived>(&e))
                for (const CString& line : pList->lines) s.received.push_back(line.str());
            if (auto* pBox = std::get_if<CallFx::ShowText>(&e)) s.boxes.push_back(pBox->strText.str());
        }
        s.look = s.core.Look();
    }
    // Lets the bytes go back and forth until nothing waits.
    void Settle()
    {
        for (int i = 0; i < 8; ++i) {
            Carry(caller, CallConn::Out, callee, CallConn::In, true);
            Carry(callee, CallConn::In, caller, CallConn::Out, false);
        }
        Take(caller), Take(callee);
    }
    // A call placed, taken, greeted and answered.
    void Talk()
    {
        caller.core.PressCall("127.0.0.1", "5000");
        caller.core.Connected(0, "127.0.0.1");
        callee.core.ConnectionWaiting();
        callee.core.Accepted(CallConn::In, "127.0.0.1", "south");
        Settle();
        callee.core.PressAnswer();
        Settle();
    }
};

bool IsCode(const CString& s) { return std::regex_match(s.str(), std::regex("暗号化 [0-9]{3} [0-9]{3}")); }

TEST(SecureCall, BothEncryptWithTheSameCodeAndNothingTypedCrossesInTheClear)
{
    Pair p;
    p.Talk();
    ASSERT_TRUE(IsCode(p.caller.look.strSecure)) << p.caller.look.strSecure.str();
    EXPECT_EQ(p.caller.look.strSecure, p.callee.look.strSecure);
    EXPECT_TRUE(p.caller.look.bSecureShown && p.callee.look.bSecureShown);
    p.caller.core.PressEnter("hello north");
    p.callee.core.PressEnter("hello south");
    p.Settle();
    EXPECT_EQ(p.callee.received, std::vector<std::string> { "hello north" });
    EXPECT_EQ(p.caller.received, std::vector<std::string> { "hello south" });
    EXPECT_EQ(p.wire.find("hello"), std::string::npos);
    // The greetings go as they always did, the key lines after them.
    EXPECT_EQ(p.wire.rfind("a1south\rAsouth", 0), 0u);
    EXPECT_NE(p.wire.find("i1north\rInorthH2"), std::string::npos);
    p.caller.core.PressHangUp();
    p.Take(p.caller);
    EXPECT_FALSE(p.caller.look.bSecureShown) << "hidden when idle";
}

// A frame changed, replayed or put out of order ends the call at the callee with a box, and
// lists nothing of it.
TEST(SecureCall, ChangedReplayedOrReorderedFramesEndTheCall)
{
    const struct {
        const char* what;
        std::function<void(std::string&)> change;
    } cases[] = {
        { "one bit flipped", [](std::string& b) { b[b.size() / 2] ^= 0x01; } },
        { "a frame replayed", [](std::string& b) { b += b.substr(0, b.find('\r') + 1); } },
        { "two frames swapped",
            [](std::string& b) {
                const size_t cut = b.find('\r') + 1;
                b = b.substr(cut) + b.substr(0, cut);
            } },
        { "a plain line put in", [](std::string& b) { b = "Sinjected\r" + b; } },
    };
    for (const auto& c : cases) {
        Pair p;
        p.Talk();
        ASSERT_TRUE(IsCode(p.callee.look.strSecure)) << c.what;
        p.caller.core.PressEnter("one");
        p.caller.core.PressEnter("two");
        p.toCallee = c.change;
        p.Settle();
        EXPECT_EQ(p.callee.received, std::vector<std::string> {}) << c.what;
        EXPECT_EQ(p.callee.boxes, std::vector<std::string> { kTampered }) << c.what;
        EXPECT_EQ(p.callee.core.In(), CCallCore::InState::Idle) << c.what;
        EXPECT_TRUE(p.callee.look.bCallEnabled && !p.callee.look.bSecureShown) << c.what;
    }
}

TEST(SecureCall, DroppedOfferOrOlderPeerTalksPlainAndShowsIt)
{
    // The offer taken off the wire: both talk plain, and both say so.
    Pair p;
    p.toCallee = [](std::string& b) { b = std::regex_replace(b, std::regex("H2[0-9b-z]{52}\r"), ""); };
    p.Talk();
    EXPECT_EQ(p.caller.look.strSecure, "暗号化なし");
    EXPECT_EQ(p.callee.look.strSecure, "暗号化なし");
    p.caller.core.PressEnter("plain");
    p.Settle();
    EXPECT_EQ(p.callee.received, std::vector<std::string> { "plain" });
    EXPECT_NE(p.wire.find("Splain\r"), std::string::npos);

    // An older callee: greeting and answer only. The caller talks plain lines.
    Side caller;
    caller.core.PressCall("h", "1");
    caller.core.Connected(0, "127.0.0.1");
    const std::string old = "a1south\rAsouthC\rSfrom old\r";
    caller.core.Received(CallConn::Out, old.data(), (int)old.size(), "north");
    caller.core.PressEnter("to old");
    std::string sent;
    caller.core.Flush(
        CallConn::Out, [&](const char* q, int n, int*) { return sent.append(q, (size_t)n), n; });
    EXPECT_EQ(std::regex_replace(sent, std::regex("H2[0-9b-z]{52}\r"), "H2<key>\r"),
        "i1north\rInorthH2<key>\rSto old\r");
    EXPECT_EQ(caller.core.Look().strSecure, "暗号化なし");

    // An older caller offers nothing: the callee's bytes are exactly the plain ones.
    Side callee;
    callee.core.ConnectionWaiting();
    callee.core.Accepted(CallConn::In, "127.0.0.1", "south");
    const std::string greeting = "i1north\rInorth";
    callee.core.Received(CallConn::In, greeting.data(), (int)greeting.size(), "south");
    callee.core.PressAnswer();
    callee.core.PressEnter("hi");
    sent.clear();
    callee.core.Flush(CallConn::In, [&](const char* q, int n, int*) { return sent.append(q, (size_t)n), n; });
    EXPECT_EQ(sent, "a1south\rAsouthC\rShi\r");
    EXPECT_EQ(callee.core.Look().strSecure, "暗号化なし");
}

TEST(SecureCall, TalkingOnlyEncryptedEndsAPlainCallBeforeAnyLine)
{
    Pair p;
    p.caller.core.SetRequireSecure(true);
    p.toCallee = [](std::string& b) { b = std::regex_replace(b, std::regex("H2[0-9b-z]{52}\r"), ""); };
    p.Talk();
    EXPECT_EQ(p.caller.boxes,
        std::vector<std::string> { "相手が暗号化に対応していないため、通話を終了しました。" });
    EXPECT_EQ(p.caller.core.Out(), CCallCore::OutState::Idle);
    p.caller.core.PressEnter("never");
    p.Settle();
    EXPECT_EQ(p.wire.find("never"), std::string::npos);
}

} // namespace
