// Secure calls between two call cores wired to each other, with a man in the middle who may
// change what crosses the wire: what each side shows, lists and records, when both encrypt,
// when the wire is changed on the way, and when one side is an older program that speaks only
// plain lines.
#include "tests/host/core_pair.h"

#include <gtest/gtest.h>

#include <functional>
#include <regex>
#include <string>
#include <vector>

namespace {

const char kTampered[] =
    "通話の内容が途中で書き換えられたため、通話を終了しました。受け取った内容は表示していません。";

const char kNotSecure[] =
    "相手が暗号化に対応していないか、途中で暗号化が外された可能性があるため、通話を終了しました。";
const std::string kAnyKey = "[0-9b-z]{52}\r";

struct Side {
    CCallCore core { 10035 };
    std::vector<std::string> received, boxes, names, ends;
    std::string lastWords; // sent right before a close
    CCallLook look;
};

void TakeEffect(Side& s, const CCallEffect& e)
{
    if (auto* pList = std::get_if<CallFx::ListReceived>(&e))
        for (const CString& line : pList->lines) s.received.push_back(line.str());
    if (auto* pBox = std::get_if<CallFx::ShowText>(&e)) s.boxes.push_back(pBox->strText.str());
    if (auto* pName = std::get_if<CallFx::PartnerName>(&e)) s.names.push_back(pName->strName.str());
    if (auto* pClose = std::get_if<CallFx::Close>(&e)) s.lastWords += pClose->strLastWords.str();
    const auto* pRecord = std::get_if<CallFx::Record>(&e);
    if (const auto* pEnded = pRecord ? std::get_if<CallRec::Ended>(&pRecord->what) : nullptr)
        s.ends.push_back(std::to_string((int)pEnded->how));
}

using Pair = CorePair<Side>;

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
    EXPECT_TRUE(std::regex_search(
        p.wire, std::regex("i1north\rInorthH2" + kAnyKey + "k2" + kAnyKey + "K2" + kAnyKey)))
        << "commitment, answer line, reveal, in this order";
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

// Whatever plain line a man in the middle puts into an encrypted call ends it where it arrives:
// nothing of it is listed, and no name changes.
TEST(SecureCall, AnyPlainLineInsideAnEncryptedCallEndsItUnlisted)
{
    const std::string key(52, '0');
    const std::string cases[] = { "a1Mallory\rAMallory", "AMallory\r", "i1Mallory\rIMallory", "Sinjected\r",
        "C\r", "Bmallory\r", "\r", "Zjunk\r", "\x82\xa0\r", "H2" + key + "\r", "k2" + key + "\r",
        "K2" + key + "\r" };
    for (const std::string& bytes : cases) {
        for (bool bToCallee : { true, false }) {
            Pair p;
            p.Talk();
            Side& to = bToCallee ? p.callee : p.caller;
            ASSERT_TRUE(IsCode(to.look.strSecure)) << bytes;
            to.names.clear();
            to.core.Received(bToCallee ? CallConn::In : CallConn::Out, bytes.data(), (int)bytes.size(), "x");
            p.Take(to);
            EXPECT_EQ(to.boxes, std::vector<std::string> { kTampered })
                << bytes << " to callee " << bToCallee;
            EXPECT_EQ(to.ends, std::vector<std::string> { "6" }) << bytes; // tampered
            EXPECT_TRUE(to.received.empty() && to.names.empty() && !to.look.bSecureShown) << bytes;
        }
    }
}

// A man in the middle before the keys: a reveal that breaks the commitment, a plain line before
// the commitment or before the answer line, "B" for the answer line. Each call ends as changed,
// or turns plain and is shown so; none lists a line while shown encrypted.
TEST(SecureCall, ChangesBeforeTheKeysEndTheCallOrKeepItPlain)
{
    CSecureChannel other;
    ASSERT_TRUE(other.Start(CSecureChannel::Caller));
    const std::string otherReveal = other.KeyLine();
    const struct {
        const char* what;
        bool bToCallee, bCallerRequires, bCheckCallee;
        std::string from, to; // the change on the wire
        std::vector<std::string> boxes, received;
        const char* secure; // the display of the side checked, at the end
    } cases[] = {
        { "another reveal", true, false, true, "K2" + kAnyKey, otherReveal, { kTampered }, {}, "" },
        { "a line before the commitment", true, false, true, "^i1", "Searly\ri1", {}, { "early", "typed" },
            "暗号化なし" },
        { "a line before the answer line", false, false, false, "k2", "Searly\rk2", {}, { "early" },
            "暗号化なし" },
        { "busy for the answer line", false, true, false, "k2" + kAnyKey, "Bsouth\r", { kNotSecure }, {},
            "" },
    };
    for (const auto& c : cases) {
        Pair p;
        p.caller.core.SetRequireSecure(c.bCallerRequires);
        (c.bToCallee ? p.toCallee : p.toCaller) = [&](std::string& b) {
            b = std::regex_replace(b, std::regex(c.from), c.to);
        };
        p.Talk();
        p.caller.core.PressEnter("typed");
        p.Settle();
        const Side& s = c.bCheckCallee ? p.callee : p.caller;
        EXPECT_EQ(s.boxes, c.boxes) << c.what;
        EXPECT_EQ(s.received, c.received) << c.what;
        EXPECT_EQ(s.look.strSecure, c.secure) << c.what;
        if (!c.boxes.empty()) {
            EXPECT_EQ(p.wire.find("typed"), std::string::npos) << c.what;
        }
    }
}

// A window that talks encrypted on its outgoing call turns a second caller away as busy, so that
// no line of another call is listed under the code it shows.
TEST(SecureCall, ASecondCallerIsTurnedAwayWhileTheCallIsEncrypted)
{
    Pair p;
    p.Talk();
    ASSERT_TRUE(IsCode(p.caller.look.strSecure));
    p.caller.core.ConnectionWaiting();
    std::vector<CCallEffect> effects = p.caller.core.TakeEffects();
    ASSERT_EQ(effects.size(), 1u);
    EXPECT_EQ(std::get<CallFx::Accept>(effects[0]).conn, CallConn::Busy);
    p.caller.core.Accepted(CallConn::Busy, "127.0.0.3", "north");
    std::string toThird;
    p.caller.core.Flush(
        CallConn::Busy, [&](const char* q, int n, int*) { return toThird.append(q, (size_t)n), n; });
    EXPECT_EQ(toThird, "Bnorth\r");
    p.Take(p.caller);
    EXPECT_TRUE(IsCode(p.caller.look.strSecure) && p.caller.look.strSecure == p.callee.look.strSecure);
}

// The longest line a user can type crosses an encrypted call whole: its frame stays within what
// the partner's reader takes as one line.
TEST(SecureCall, TheLongestTypedLineCrossesAnEncryptedCallWhole)
{
    Pair p;
    p.Talk();
    p.caller.core.PressEnter(std::string(kMaxTypedLine, 'x').c_str());
    p.Settle();
    EXPECT_TRUE(p.callee.boxes.empty() && p.caller.boxes.empty());
    ASSERT_EQ(p.callee.received.size(), 1u);
    EXPECT_EQ(p.callee.received[0].size(), 49131u);
    EXPECT_TRUE(IsCode(p.callee.look.strSecure));
}

// The sealed hang-up (one frame, sent right before the close) tells a partner's hang-up from a
// cut line.
TEST(SecureCall, ACloseWithoutTheSealedHangUpIsACutLine)
{
    for (bool bDropped : { false, true }) {
        Pair p;
        p.Talk();
        p.caller.core.PressHangUp();
        p.Take(p.caller);
        EXPECT_TRUE(std::regex_match(p.caller.lastWords, std::regex("E[A-Za-z0-9+/]{24}\r")));
        const std::string bytes = bDropped ? "" : p.caller.lastWords;
        p.callee.core.Received(CallConn::In, bytes.data(), (int)bytes.size(), "s");
        p.callee.core.Closed(CallConn::In);
        p.Take(p.callee);
        EXPECT_EQ(p.callee.ends, std::vector<std::string> { bDropped ? "8" : "3" }); // cut, partner hung up
        EXPECT_EQ(p.callee.boxes.size(), bDropped ? 1u : 0u); // "回線が切れたため、通話を終了しました。"
    }
}

// A line the sending queue refuses is not sealed: once the partner reads again, every line
// sealed before it and the next one typed open, and the call goes on.
TEST(SecureCall, ARefusedLineLeavesTheFrameCountAsItWas)
{
    Pair p;
    p.Talk();
    const std::string line(8000, 'x');
    size_t nSent = 0;
    for (; nSent < 1000; ++nSent) {
        p.caller.core.PressEnter(line.c_str());
        p.Take(p.caller);
        if (!p.caller.boxes.empty()) break;
    }
    ASSERT_EQ(p.caller.boxes.size(), 1u) << "never refused";
    p.Settle();
    // The good line after the refused one goes at its first Enter and opens at the partner.
    p.caller.core.PressEnter("after");
    p.Settle();
    ASSERT_EQ(p.callee.received.size(), nSent + 1);
    EXPECT_EQ(p.callee.received.back(), "after");
    EXPECT_TRUE(p.callee.boxes.empty());
    EXPECT_TRUE(IsCode(p.callee.look.strSecure));
}

TEST(SecureCall, DroppedOfferOrOlderPeerTalksPlainAndShowsIt)
{
    // The offer taken off the wire: both talk plain, and both say so.
    Pair p;
    p.toCallee = [](std::string& b) { b = std::regex_replace(b, std::regex("H2" + kAnyKey), ""); };
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
    p.toCallee = [](std::string& b) { b = std::regex_replace(b, std::regex("H2" + kAnyKey), ""); };
    p.Talk();
    EXPECT_EQ(p.caller.boxes,
        std::vector<std::string> {
            "相手が暗号化に対応していないか、途中で暗号化が外された可能性があるため、通話を終了しました。" });
    EXPECT_EQ(p.caller.core.Out(), CCallCore::OutState::Idle);
    p.caller.core.PressEnter("never");
    p.Settle();
    EXPECT_EQ(p.wire.find("never"), std::string::npos);
}

// The answering machine answers an encrypting caller as the user would: its "C" and greeting
// sealed after the reveal; at the bound its last line and hang-up sealed too, so the caller sees
// the call ended by the partner, not a cut line.
TEST(SecureCall, TheAnsweringMachineSealsItsLinesAndItsHangUp)
{
    Pair p;
    p.callee.core.SetAway(true);
    p.callee.core.SetAwayText("away");
    p.caller.core.PressCall("127.0.0.1", "5000");
    p.caller.core.Connected(0, "127.0.0.1");
    p.callee.core.ConnectionWaiting();
    p.callee.core.Accepted(CallConn::In, "127.0.0.1", "south");
    p.Settle();
    ASSERT_TRUE(IsCode(p.callee.look.strSecure)) << p.callee.look.strSecure.str();
    EXPECT_EQ(p.callee.look.strStatus, "留守録中");
    EXPECT_EQ(p.caller.core.Out(), CCallCore::OutState::Talking);
    EXPECT_EQ(p.caller.received, std::vector<std::string> { "away" });

    std::string lines;
    for (int i = 0; i < 201; ++i) lines += "l" + std::to_string(i) + "\r";
    p.caller.core.PressEnter(lines.c_str());
    p.Settle();
    EXPECT_EQ(p.callee.received.size(), 200u);
    EXPECT_EQ(p.callee.received.back(), "l199");
    EXPECT_EQ(p.callee.ends, std::vector<std::string> { std::to_string((int)CallEnd::MessageTaken) });
    const std::string last = p.callee.lastWords;
    p.caller.core.Received(CallConn::Out, last.data(), (int)last.size(), "north");
    p.caller.core.Closed(CallConn::Out);
    p.Take(p.caller);
    EXPECT_EQ(p.caller.received.back(), "メッセージをお預かりしました。");
    EXPECT_EQ(p.caller.ends, std::vector<std::string> { std::to_string((int)CallEnd::PartnerHungUp) });
    EXPECT_TRUE(p.caller.boxes.empty());
    EXPECT_EQ((p.wire + last).find("away"), std::string::npos) << "nothing in the clear";
}

} // namespace
