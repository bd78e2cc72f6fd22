// The call rules as a table: from a state, one event, the effects the window is asked to carry
// out, the look it then shows and the bytes that wait to be sent.
#include "tests/call_looks.h"
#include "call/CallCore.h"

#include <gtest/gtest.h>

#include <functional>
#include <regex>
#include <string>

namespace {

const int kWouldBlock = 10035;
const char kTampered[] =
    "通話の内容が途中で書き換えられたため、通話を終了しました。受け取った内容は表示していません。";
const char kNotSentYet[] =
    "暗号化の準備がまだ終わっていないため、送りませんでした。少し待ってから、もう一度送ってください。";
const char kNotSentPlain[] = "暗号化されていない通話のため、送りませんでした。暗号化しない相手とも話すには、"
                             "メニューの「暗号化しない相手とは話さない」を外してください。";
const char kTooLong[] = "長すぎる行があるため、送りませんでした。1 行は 49131 バイトまでです。";
const char kNoSecondCall[] = "暗号化された通話の間は、ほかの相手にかけられません。";
// A well-formed commitment line, after the caller's greeting.
const std::string kGreetedAndCommitted = "i1north\rInorthH2" + std::string(52, '0') + "\r";

const char* ConnName(CallConn c) { return c == CallConn::Out ? "out" : c == CallConn::In ? "in" : "busy"; }

std::string Describe(const CCallRecord& r)
{
    static const char* const ends[] = { "hung-up", "cancelled", "refused", "partner-hung-up", "missed",
        "failed", "tampered", "not-secure", "cut", "message-taken" };
    struct {
        std::string operator()(const CallRec::Placed&) { return "placed"; }
        std::string operator()(const CallRec::Connected&) { return "connected"; }
        std::string operator()(const CallRec::Incoming&) { return "incoming"; }
        std::string operator()(const CallRec::TurnedAway& r)
        {
            return r.bBusy ? "turned-away busy" : "turned-away dnd";
        }
        std::string operator()(const CallRec::Named&) { return "named"; }
        std::string operator()(const CallRec::PartnerAnswered&) { return "partner-answered"; }
        std::string operator()(const CallRec::PartnerBusy&) { return "partner-busy"; }
        std::string operator()(const CallRec::Answered&) { return "answered"; }
        std::string operator()(const CallRec::Sent&) { return "sent"; }
        std::string operator()(const CallRec::Received&) { return "received"; }
        std::string operator()(const CallRec::Secured&) { return "secured"; }
        std::string operator()(const CallRec::Ended& r) { return std::string("ended ") + ends[(int)r.how]; }
        std::string operator()(const CallRec::MachineAnswered&) { return "machine-answered"; }
        std::string operator()(const CallRec::TakenOver&) { return "taken-over"; }
        std::string operator()(const CallRec::Trust& r) { return "trust " + std::to_string((int)r.kind); }
    } describe;
    return std::visit(describe, r);
}

std::string Describe(const CCallEffect& effect)
{
    struct {
        std::string operator()(const CallFx::Connect& e)
        {
            return "connect " + e.strAddress.str() + ":" + std::to_string(e.nPort);
        }
        std::string operator()(const CallFx::Accept& e) { return "accept " + std::string(ConnName(e.conn)); }
        std::string operator()(const CallFx::Close& e)
        {
            const std::string words = e.strLastWords.str();
            return "close " + std::string(ConnName(e.conn)) + (words.empty() ? "" : " after " + words);
        }
        std::string operator()(const CallFx::Flush& e) { return "send " + std::string(ConnName(e.conn)); }
        std::string operator()(const CallFx::Look&) { return "look"; }
        std::string operator()(const CallFx::PartnerName& e)
        {
            return "name " + e.strName.str() + (e.bKeep ? " kept" : "");
        }
        std::string operator()(const CallFx::ListReceived& e)
        {
            std::string s = "list";
            for (const CString& line : e.lines) s += " " + line.str();
            return s;
        }
        std::string operator()(const CallFx::ListSent& e) { return "listed " + e.strText.str(); }
        std::string operator()(const CallFx::ClearLists&) { return "clear"; }
        std::string operator()(const CallFx::Ring& e) { return e.bOn ? "ring on" : "ring off"; }
        std::string operator()(const CallFx::Record& e) { return "rec " + Describe(e.what); }
        std::string operator()(const CallFx::ShowError& e) { return "error " + std::to_string(e.nError); }
        std::string operator()(const CallFx::ShowText& e) { return "box " + e.strText.str(); }
        std::string operator()(const CallFx::NotifyIncoming&) { return "notify"; }
        std::string operator()(const CallFx::KeyWarning& e) { return "warning " + e.strText.str(); }
        std::string operator()(const CallFx::Verify& e) { return "verify " + e.contact.strFingerprint; }
        std::string operator()(const CallFx::Timer& e)
        {
            return (e.bOn ? "timer on " : "timer off ") + std::string(ConnName(e.conn)) +
                (e.kind == CallTimer::Machine ? " machine" : "") + " " + std::to_string(e.nMs);
        }
    } describe;
    return std::visit(describe, effect);
}

std::string LookText(const CCallLook& look)
{
    std::string s = std::string("call:") + (look.bCallEnabled ? "on" : "off") +
        " hangup:" + (look.bHangUpEnabled ? "on" : "off") + " answer:" + (look.bAnswerEnabled ? "on" : "off");
    if (!look.bStatusShown) return s + " status:hidden";
    return s +
        (look.strStatus == "話し中"              ? " status:busy"
                : look.strStatus == "呼び出し中" ? " status:calling"
                : look.strStatus == "留守録中"   ? " status:away"
                                                 : " status:?");
}

// The encryption display: "-" hidden, "plain", or "on" with a code.
std::string SecureText(const CCallLook& look)
{
    if (!look.bSecureShown) return "-";
    if (look.strSecure == "暗号化なし") return "plain";
    return std::regex_match(look.strSecure.str(), std::regex("暗号化 [0-9]{3} [0-9]{3}")) ? "on" : "?";
}

// A core with a window that carries out its flushes as a socket that takes everything (or, with
// bTakes off, nothing) would, and reports each.
struct Core {
    CCallCore core { kWouldBlock };
    bool bTakes = true;
    std::string wire[3]; // what went out on each connection and was not yet checked

    std::string Effects()
    {
        std::string s;
        for (std::vector<CCallEffect> effects; !(effects = core.TakeEffects()).empty();) {
            for (const CCallEffect& e : effects) {
                s += (s.empty() ? "" : ", ") + Describe(e);
                if (auto* pFlush = std::get_if<CallFx::Flush>(&e)) Take(pFlush->conn);
            }
        }
        return s;
    }
    void Take(CallConn conn)
    {
        core.Flushed(conn, core.Flush(conn, [&](const char* p, int n, int* pnError) {
            if (!bTakes) return *pnError = kWouldBlock, -1;
            wire[(int)conn].append(p, (size_t)n);
            return n;
        }));
    }
    // What went out on a connection since the last look; a key line's random key shows as "<key>".
    std::string Sent(CallConn conn)
    {
        if (bTakes)
            core.Flush(
                conn, [&](const char* p, int n, int*) { return wire[(int)conn].append(p, (size_t)n), n; });
        std::string bytes;
        bytes.swap(wire[(int)conn]);
        return std::regex_replace(bytes, std::regex("([HKk]2)[0-9b-z]{52}\r"), "$1<key>\r");
    }
    void Feed(CallConn conn, const std::string& bytes)
    {
        core.Received(conn, bytes.data(), (int)bytes.size(), "north");
    }
};

// The states of the tables, reached as a user and a partner reach them.
void Dialling(Core& c) { c.core.PressCall("127.0.0.1", "5000"); }
void Calling(Core& c) { Dialling(c), c.core.Connected(0, "127.0.0.1"); }
void TalkingOut(Core& c) { Calling(c), c.Feed(CallConn::Out, "a1south\rAsouthC\r"); }
void TurnedAway(Core& c) { Calling(c), c.Feed(CallConn::Out, "Bsouth\r"); }
void Ringing(Core& c) { c.core.ConnectionWaiting(), c.core.Accepted(CallConn::In, "127.0.0.2", "south"); }
void TalkingIn(Core& c) { Ringing(c), c.core.PressAnswer(); }
void Both(Core& c) { Calling(c), Ringing(c); }
// What went out on conn, keys and all.
std::string Raw(Core& c, CallConn conn)
{
    c.Effects();
    std::string bytes;
    bytes.swap(c.wire[(int)conn]);
    return bytes;
}
// The outgoing call committed to its key (its keys are being agreed), and then encrypted by a
// callee that answered the commitment; still calling.
void Committing(Core& c) { Calling(c), c.Feed(CallConn::Out, "a1south\rAsouth"); }
void EncryptedCalling(Core& c)
{
    Committing(c);
    const std::string sent = Raw(c, CallConn::Out);
    CSecureChannel callee;
    callee.Start(CSecureChannel::Callee);
    callee.TakeCommit(sent.substr(sent.find("H2"), 54));
    c.Feed(CallConn::Out, callee.KeyLine());
}
// The incoming call encrypted by its caller's reveal, still ringing.
void EncryptedRinging(Core& c)
{
    Ringing(c);
    CSecureChannel caller;
    caller.Start(CSecureChannel::Caller);
    Raw(c, CallConn::In);
    c.Feed(CallConn::In, "i1north\rInorth" + caller.CommitLine());
    const std::string answer = Raw(c, CallConn::In);
    caller.Complete(answer.substr(0, 54), "i1north\rInorth", "a1south\rAsouth");
    c.Feed(CallConn::In, caller.KeyLine());
}
void RequireSecure(Core& c) { c.core.SetRequireSecure(true); }

struct Row {
    const char* what;
    std::function<void(Core&)> state;
    std::function<void(Core&)> event;
    std::string effects;
    const char* look;
    const char* secure; // the encryption display
    CallConn conn; // whose waiting bytes are checked
    const char* sent; // during the event
};

const Row kRows[] = {
    { "call with empty boxes goes to localhost:32760", nullptr, [](Core& c) { c.core.PressCall("", ""); },
        "rec placed, connect localhost:32760, look", kDialling, "-", CallConn::Out, "" },
    { "connect that fails at once", Dialling, [](Core& c) { c.core.DialFailed(10049); },
        "rec ended failed, close out, look, clear, error 10049", kIdle, "-", CallConn::Out, "" },
    { "refused connect event", Dialling, [](Core& c) { c.core.Connected(10061, ""); },
        "rec ended failed, close out, look, clear, error 10061", kIdle, "-", CallConn::Out, "" },
    { "connect event", Dialling, [](Core& c) { c.core.Connected(0, "127.0.0.1"); }, "rec connected, look",
        kCalling, "plain", CallConn::Out, "" },
    { "callee greeting read: name shown, caller greeting and commitment sent on that connection", Calling,
        [](Core& c) { c.Feed(CallConn::Out, "a1south\rAsouth"); },
        "name south, send out, rec named, send out", kCalling, "plain", CallConn::Out,
        "i1north\rInorthH2<key>\r" },
    { "short greeting alone is acted on", Calling, [](Core& c) { c.Feed(CallConn::Out, "Asouth"); },
        "name south, send out, rec named, send out", kCalling, "plain", CallConn::Out,
        "i1north\rInorthH2<key>\r" },
    { "answer read: the call is plain", Calling, [](Core& c) { c.Feed(CallConn::Out, "C\r"); },
        "rec secured, rec partner-answered, look", kTalking, "plain", CallConn::Out, "" },
    { "busy read: the call is plain", Calling, [](Core& c) { c.Feed(CallConn::Out, "Bsouth\r"); },
        "rec secured, rec partner-busy, look", kTurnedAway, "plain", CallConn::Out, "" },
    { "hang-up while calling", Calling, [](Core& c) { c.core.PressHangUp(); },
        "rec ended hung-up, close out, look, clear", kIdle, "-", CallConn::Out, "" },
    { "hang-up while talking", TalkingOut, [](Core& c) { c.core.PressHangUp(); },
        "rec ended hung-up, close out, look, clear", kIdle, "-", CallConn::Out, "" },
    { "partner closes a turned-away call", TurnedAway, [](Core& c) { c.core.Closed(CallConn::Out); },
        "rec ended partner-hung-up, close out, look, clear", kIdle, "-", CallConn::Out, "" },
    { "Enter while talking (caller)", TalkingOut, [](Core& c) { c.core.PressEnter("hello"); },
        "send out, listed hello, rec sent", kTalking, "plain", CallConn::Out, "Shello\r" },
    { "Enter with an empty line", TalkingOut, [](Core& c) { c.core.PressEnter(""); },
        "send out, listed , rec sent", kTalking, "plain", CallConn::Out, "S\r" },
    { "Enter after busy: sent and listed all the same", TurnedAway, [](Core& c) { c.core.PressEnter("x"); },
        "send out, listed x, rec sent", kTurnedAway, "plain", CallConn::Out, "Sx\r" },
    { "Enter while calling sends nothing", Calling, [](Core& c) { c.core.PressEnter("x"); }, "", kCalling,
        "plain", CallConn::Out, "" },
    { "Enter while idle sends nothing", nullptr, [](Core& c) { c.core.PressEnter("x"); }, "", kIdle, "-",
        CallConn::Out, "" },
    { "text lines read, several in one read", TalkingOut,
        [](Core& c) { c.Feed(CallConn::Out, "Sone\rStwo\r"); }, "list one two, rec received", kTalking,
        "plain", CallConn::Out, "" },
    { "a connection waits while idle", nullptr, [](Core& c) { c.core.ConnectionWaiting(); }, "accept in",
        kIdle, "-", CallConn::In, "" },
    { "accepted: rings, greets, notifies", [](Core& c) { c.core.ConnectionWaiting(); },
        [](Core& c) { c.core.Accepted(CallConn::In, "127.0.0.2", "south"); },
        "send in, rec incoming, look, ring on, notify", kRinging, "plain", CallConn::In, "a1south\rAsouth" },
    { "accept fails: a box, the look as it was", [](Core& c) { c.core.ConnectionWaiting(); },
        [](Core& c) { c.core.AcceptFailed(CallConn::In, 10024); }, "error 10024", kIdle, "-", CallConn::In,
        "" },
    { "caller greeting read: name kept", Ringing, [](Core& c) { c.Feed(CallConn::In, "i1north\rInorth"); },
        "name north kept, rec named", kRinging, "plain", CallConn::In, "" },
    { "answer", Ringing, [](Core& c) { c.core.PressAnswer(); },
        "rec secured, send in, look, ring off, rec answered", kTalking, "plain", CallConn::In, "C\r" },
    { "refused by hang-up while ringing", Ringing, [](Core& c) { c.core.PressHangUp(); },
        "rec ended refused, close in, look, ring off, clear", kIdle, "-", CallConn::In, "" },
    { "caller closes while ringing: missed", Ringing, [](Core& c) { c.core.Closed(CallConn::In); },
        "rec ended missed, close in, look, ring off, clear", kIdle, "-", CallConn::In, "" },
    { "caller closes while talking", TalkingIn, [](Core& c) { c.core.Closed(CallConn::In); },
        "rec ended partner-hung-up, close in, look, clear", kIdle, "-", CallConn::In, "" },
    { "Enter while talking (callee)", TalkingIn,
        [](Core& c) { c.Sent(CallConn::In), c.core.PressEnter("hi"); }, "send in, listed hi, rec sent",
        kTalking, "plain", CallConn::In, "Shi\r" },
    { "third caller while a call is held is turned away", TalkingIn,
        [](Core& c) { c.core.ConnectionWaiting(); }, "accept busy", kTalking, "plain", CallConn::Busy, "" },
    { "busy caller accepted: busy message, the held call unchanged",
        [](Core& c) { TalkingIn(c), c.core.ConnectionWaiting(); },
        [](Core& c) { c.core.Accepted(CallConn::Busy, "127.0.0.3", "south"); },
        "send busy, rec turned-away busy", kTalking, "plain", CallConn::Busy, "Bsouth\r" },
    { "busy caller closes",
        [](Core& c) { TalkingIn(c), c.core.ConnectionWaiting(), c.core.Accepted(CallConn::Busy, "x", "s"); },
        [](Core& c) { c.core.Closed(CallConn::Busy); }, "close busy", kTalking, "plain", CallConn::Busy, "" },
    { "do-not-disturb turns every caller away",
        [](Core& c) { c.core.SetDoNotDisturb(true), c.core.ConnectionWaiting(), c.core.TakeEffects(); },
        [](Core& c) { c.core.Accepted(CallConn::Busy, "127.0.0.3", "south"); },
        "send busy, rec turned-away dnd", kIdle, "-", CallConn::Busy, "Bsouth\r" },
    // Beyond the plain tables: what the window does where they are silent or wrong.
    { "hang-up while dialling cancels", Dialling, [](Core& c) { c.core.PressHangUp(); },
        "rec ended cancelled, close out, look, clear", kIdle, "-", CallConn::Out, "" },
    { "call again while dialling starts afresh", Dialling, [](Core& c) { c.core.PressCall("h", "1"); },
        "close out, rec placed, connect h:1", kDialling, "-", CallConn::Out, "" },
    { "call button while a call stands does nothing", Calling, [](Core& c) { c.core.PressCall("h", "1"); },
        "", kCalling, "plain", CallConn::Out, "" },
    { "an incoming call while calling out: its look shows", Calling,
        [](Core& c) { c.core.Accepted(CallConn::In, "127.0.0.2", "south"); },
        "send in, rec incoming, look, ring on, notify", kRinging, "plain", CallConn::In, "a1south\rAsouth" },
    { "the incoming call ends: the outgoing one's look comes back", Both,
        [](Core& c) { c.core.PressAnswer(), c.Effects(), c.Sent(CallConn::In), c.core.Closed(CallConn::In); },
        "rec ended partner-hung-up, close in, look", kCalling, "plain", CallConn::In, "" },
    { "the turned-away look comes back when the incoming call ends",
        [](Core& c) { TurnedAway(c), Ringing(c); }, [](Core& c) { c.core.PressHangUp(); },
        "rec ended hung-up, close out, rec ended refused, close in, look, ring off, clear", kIdle, "-",
        CallConn::Out, "" },
    { "caller closes while a turned-away call stands", [](Core& c) { TurnedAway(c), Ringing(c); },
        [](Core& c) { c.core.Closed(CallConn::In); }, "rec ended missed, close in, look, ring off",
        kTurnedAway, "plain", CallConn::In, "" },
    { "Enter while both calls stand goes to both", [](Core& c) { TalkingOut(c), TalkingIn(c); },
        [](Core& c) { c.core.PressEnter("both"); }, "send out, send in, listed both, rec sent", kTalking,
        "plain", CallConn::In, "Sboth\r" },
    { "answer read on the incoming connection changes nothing", TalkingIn,
        [](Core& c) { c.Feed(CallConn::In, "C\r"); }, "", kTalking, "plain", CallConn::In, "" },
    { "lines before a close are listed before the call ends", TalkingOut,
        [](Core& c) { c.Feed(CallConn::Out, "Slast\r"), c.core.Closed(CallConn::Out); },
        "list last, rec received, rec ended partner-hung-up, close out, look, clear", kIdle, "-",
        CallConn::Out, "" },
    { "a partner who does not read: the line stays, the user is told",
        [](Core& c) {
            TalkingOut(c), c.Sent(CallConn::Out), c.bTakes = false;
            // Lines as long as may be typed, up to four bytes short of the bound.
            std::string big;
            for (size_t n = CSendQueue::kMaxQueued - 4; n > 0;) {
                const size_t nLine = std::min<size_t>(n, kMaxTypedLine + 2) - 2;
                big += "\r" + std::string(nLine, 'x');
                n -= nLine + 2;
            }
            c.core.PressEnter(big.substr(1).c_str()), c.Effects();
        },
        [](Core& c) { c.core.PressEnter("more"); },
        "box 相手が受信していません。この行は送れませんでした。しばらくしてから、もう一度送ってください。",
        kTalking, "plain", CallConn::Busy, "" },
    { "pasted text with line breaks goes as one line each", TalkingOut,
        [](Core& c) { c.core.PressEnter("one\r\ntwo\r"); },
        "send out, send out, listed one, rec sent, listed two, rec sent", kTalking, "plain", CallConn::Out,
        "Sone\rStwo\r" },
    { "busy read after the answer changes only the hidden status text", TalkingOut,
        [](Core& c) { c.Feed(CallConn::Out, "Bsouth\r"); }, "rec partner-busy, look", kTalking, "plain",
        CallConn::Out, "" },
    // Where the two calls meet.
    { "a third caller while the incoming call rings gets exactly the busy message",
        [](Core& c) { Ringing(c), c.Feed(CallConn::In, "i1north\rInorth"); },
        [](Core& c) { c.core.ConnectionWaiting(), c.core.Accepted(CallConn::Busy, "127.0.0.3", "south"); },
        "accept busy, send busy, rec turned-away busy", kRinging, "plain", CallConn::Busy, "Bsouth\r" },
    { "lines read on the incoming connection while the outgoing call stands are listed",
        [](Core& c) { TalkingOut(c), TalkingIn(c); }, [](Core& c) { c.Feed(CallConn::In, "Sin\r"); },
        "list in, rec received", kTalking, "plain", CallConn::In, "" },
    { "the outgoing call closed while the incoming one talks: lists kept, lines still listed",
        [](Core& c) { TalkingOut(c), TalkingIn(c); },
        [](Core& c) { c.core.Closed(CallConn::Out), c.Feed(CallConn::In, "Sstill\r"); },
        "rec ended partner-hung-up, close out, list still, rec received", kTalking, "plain", CallConn::In,
        "" },
    { "a third caller while both calls stand; its close ends neither",
        [](Core& c) { TalkingOut(c), TalkingIn(c); },
        [](Core& c) {
            c.core.ConnectionWaiting(), c.core.Accepted(CallConn::Busy, "127.0.0.3", "south");
            c.core.Closed(CallConn::Busy);
        },
        "accept busy, send busy, rec turned-away busy, close busy", kTalking, "plain", CallConn::Out, "" },
    { "the ringing call closes while calling out, then the answer comes", Both,
        [](Core& c) { c.core.Closed(CallConn::In), c.Feed(CallConn::Out, "C\r"); },
        "rec ended missed, close in, look, ring off, rec secured, rec partner-answered, look", kTalking,
        "plain", CallConn::Out, "" },
    { "a connect result after the attempt was cancelled: no box, no change",
        [](Core& c) { Dialling(c), c.core.PressHangUp(); },
        [](Core& c) { c.core.Connected(0, "127.0.0.1"), c.core.Connected(10061, ""); }, "", kIdle, "-",
        CallConn::Out, "" },
    // Secure calls: the callee's side of the key lines.
    { "a commitment while ringing: the answer line goes, the reveal is waited for", Ringing,
        [](Core& c) { c.Feed(CallConn::In, kGreetedAndCommitted); },
        "name north kept, rec named, send in, timer on in 10000", kRinging, "plain", CallConn::In,
        "k2<key>\r" },
    { "answered before the reveal: no \"C\" yet, and a typed line waits, with a word why",
        [](Core& c) { Ringing(c), c.Feed(CallConn::In, kGreetedAndCommitted); },
        [](Core& c) { c.core.PressAnswer(), c.core.PressEnter("x"); },
        "look, ring off, rec answered, box " + std::string(kNotSentYet), kTalking, "plain", CallConn::In,
        "" },
    { "no reveal in time: the call ends as changed",
        [](Core& c) { Ringing(c), c.Feed(CallConn::In, kGreetedAndCommitted); },
        [](Core& c) { c.core.TimerExpired(CallConn::In); },
        "rec ended tampered, close in, look, ring off, clear, box " + std::string(kTampered), kIdle, "-",
        CallConn::In, "" },
    { "a plain line after the commitment ends the call as changed",
        [](Core& c) { Ringing(c), c.Feed(CallConn::In, kGreetedAndCommitted); },
        [](Core& c) { c.Feed(CallConn::In, "Sx\r"); },
        "timer off in 10000, rec ended tampered, close in, look, ring off, clear, box " +
            std::string(kTampered),
        kIdle, "-", CallConn::In, "" },
    // A second caller beside a call that encrypts or agrees its keys: busy, never listed under its code.
    { "a new caller while the outgoing call agrees its keys is turned away", Committing,
        [](Core& c) { c.core.ConnectionWaiting(), c.core.Accepted(CallConn::Busy, "127.0.0.3", "north"); },
        "accept busy, send busy, rec turned-away busy", kCalling, "plain", CallConn::Busy, "Bnorth\r" },
    { "a new caller while the outgoing call is encrypted is turned away", EncryptedCalling,
        [](Core& c) { c.core.ConnectionWaiting(); }, "accept busy", kCalling, "on", CallConn::Busy, "" },
    { "beside an outgoing call, a caller's commitment is not answered: that call stays plain", Both,
        [](Core& c) { c.Feed(CallConn::In, kGreetedAndCommitted); }, "name north kept, rec named", kRinging,
        "plain", CallConn::In, "" },
    { "beside a call taken, the outgoing call commits to no key", Both,
        [](Core& c) { c.Feed(CallConn::Out, "a1south\rAsouth"); }, "name south, send out, rec named",
        kRinging, "plain", CallConn::Out, "i1north\rInorth" },
    { "the call button while an encrypted call rings: no second call, a word why", EncryptedRinging,
        [](Core& c) { c.core.PressCall("h", "1"); }, "box " + std::string(kNoSecondCall), kRinging, "on",
        CallConn::Out, "" },
    // One greeting per connection, of the kind its role expects.
    { "a second callee greeting in a plain call is ignored", TalkingOut,
        [](Core& c) { c.Feed(CallConn::Out, "a1mallory\rAmallory"); }, "", kTalking, "plain", CallConn::Out,
        "" },
    { "a caller greeting on the outgoing connection is ignored", Calling,
        [](Core& c) { c.Feed(CallConn::Out, "i1mallory\rImallory"); }, "", kCalling, "plain", CallConn::Out,
        "" },
    { "a callee greeting on the incoming connection gets no reply", Ringing,
        [](Core& c) { c.Feed(CallConn::In, "a1mallory\rAmallory"); }, "", kRinging, "plain", CallConn::In,
        "" },
    { "a second caller greeting while ringing changes no name",
        [](Core& c) { Ringing(c), c.Feed(CallConn::In, "i1north\rInorth"); },
        [](Core& c) { c.Feed(CallConn::In, "i1mallory\rImallory"); }, "", kRinging, "plain", CallConn::In,
        "" },
    { "a second callee greeting while the keys are agreed ends the call as changed", Committing,
        [](Core& c) { c.Feed(CallConn::Out, "a1mallory\rAmallory"); },
        "rec ended tampered, close out, look, clear, box " + std::string(kTampered), kIdle, "-",
        CallConn::Out, "" },
    { "a caller greeting read on the encrypted outgoing call ends it as changed", EncryptedCalling,
        [](Core& c) { c.Feed(CallConn::Out, "Imallory"); },
        "rec ended tampered, close out, look, clear, box " + std::string(kTampered), kIdle, "-",
        CallConn::Out, "" },
    // A close before the answer is no cut line.
    { "callee closes an encrypted call before answering: refused, no box", EncryptedCalling,
        [](Core& c) { c.core.Closed(CallConn::Out); }, "rec ended partner-hung-up, close out, look, clear",
        kIdle, "-", CallConn::Out, "" },
    { "caller closes an encrypted call while it rings: missed, no box", EncryptedRinging,
        [](Core& c) { c.core.Closed(CallConn::In); }, "rec ended missed, close in, look, ring off, clear",
        kIdle, "-", CallConn::In, "" },
    // Busy is busy, with the option on or off.
    { "the busy answer with the option on shows busy", [](Core& c) { RequireSecure(c), Calling(c); },
        [](Core& c) { c.Feed(CallConn::Out, "Bsouth\r"); }, "rec secured, rec partner-busy, look",
        kTurnedAway, "plain", CallConn::Out, "" },
    // Enter that sends nothing to a call that talks says why.
    { "Enter in a plain call with the option turned on since: a word why, the text kept",
        [](Core& c) { TalkingOut(c), RequireSecure(c); }, [](Core& c) { c.core.PressEnter("x"); },
        "box " + std::string(kNotSentPlain), kTalking, "plain", CallConn::Out, "" },
    { "Enter after busy with the option on: a word why", [](Core& c) { RequireSecure(c), TurnedAway(c); },
        [](Core& c) { c.core.PressEnter("x"); }, "box " + std::string(kNotSentPlain), kTurnedAway, "plain",
        CallConn::Out, "" },
    { "a line longer than a sealed frame a partner reads whole is refused with a word why", TalkingOut,
        [](Core& c) { c.core.PressEnter(std::string(49132, 'x').c_str()); }, "box " + std::string(kTooLong),
        kTalking, "plain", CallConn::Out, "" },
};

template <size_t N> void CheckRows(const Row (&rows)[N])
{
    for (const Row& row : rows) {
        Core c;
        if (row.state) row.state(c);
        c.Effects();
        c.Sent(row.conn);
        row.event(c);
        EXPECT_EQ(c.Effects(), row.effects) << row.what;
        EXPECT_EQ(LookText(c.core.Look()), row.look) << row.what;
        EXPECT_EQ(SecureText(c.core.Look()), row.secure) << row.what;
        EXPECT_EQ(c.Sent(row.conn), row.sent) << row.what;
    }
}

TEST(CallCore, EachRuleOfTheTables) { CheckRows(kRows); }

// The answering machine: while away it answers once the caller has said its name, otherwise
// after the ring it waits for; "C" and the greeting as one line, then a message within bounds.
const char kMessageTaken[] = "Sメッセージをお預かりしました。\r";
void Away(Core& c) { c.core.SetAway(true), c.core.SetAwayText("away"); }
void AwayRinging(Core& c) { Away(c), Ringing(c); }
void AwayTalking(Core& c) { AwayRinging(c), c.Feed(CallConn::In, "i1north\rInorth"); }
void AnswerAfter15(Core& c) { c.core.SetAnswerAfter(15), c.core.SetAwayText("away"); }

const Row kMachineRows[] = {
    { "away: the call rings without the box until the caller says its name", Away,
        [](Core& c) { c.core.ConnectionWaiting(), c.core.Accepted(CallConn::In, "127.0.0.2", "south"); },
        "accept in, send in, rec incoming, look, ring on, timer on in machine 3000", kRinging, "plain",
        CallConn::In, "a1south\rAsouth" },
    { "away: answered at once on the caller's name, the greeting as one ordinary line", AwayRinging,
        [](Core& c) { c.Feed(CallConn::In, "i1north\rInorth"); },
        "name north kept, rec named, timer off in machine 0, rec secured, send in, send in, look, ring off, "
        "rec machine-answered, timer on in machine 180000",
        kAway, "plain", CallConn::In, "C\rSaway\r" },
    { "a caller that says no name is answered when the machine's timer runs out", AwayRinging,
        [](Core& c) { c.core.MachineTimerExpired(); },
        "rec secured, send in, send in, look, ring off, rec machine-answered, timer on in machine 180000",
        kAway, "plain", CallConn::In, "C\rSaway\r" },
    { "answer after N seconds: the call rings and notifies as any other first", AnswerAfter15,
        [](Core& c) { c.core.Accepted(CallConn::In, "127.0.0.2", "south"); },
        "send in, rec incoming, look, ring on, timer on in machine 15000, notify", kRinging, "plain",
        CallConn::In, "a1south\rAsouth" },
    { "answer after N seconds: the ring ran out, the machine answers",
        [](Core& c) { AnswerAfter15(c), Ringing(c), c.Feed(CallConn::In, "i1north\rInorth"); },
        [](Core& c) { c.core.MachineTimerExpired(); },
        "rec secured, send in, send in, look, ring off, rec machine-answered, timer on in machine 180000",
        kAway, "plain", CallConn::In, "C\rSaway\r" },
    { "the user answers first: an ordinary call",
        [](Core& c) { AnswerAfter15(c), Ringing(c), c.Feed(CallConn::In, "i1north\rInorth"); },
        [](Core& c) { c.core.PressAnswer(); },
        "timer off in machine 0, rec secured, send in, look, ring off, rec answered", kTalking, "plain",
        CallConn::In, "C\r" },
    { "away while calling out: the user is there, the call rings as any other",
        [](Core& c) { Away(c), Calling(c); },
        [](Core& c) { c.core.Accepted(CallConn::In, "127.0.0.2", "south"); },
        "send in, rec incoming, look, ring on, notify", kRinging, "plain", CallConn::In, "a1south\rAsouth" },
    { "the caller's lines are listed as the message", AwayTalking,
        [](Core& c) { c.Feed(CallConn::In, "Sone\rStwo\r"); }, "list one two, rec received", kAway, "plain",
        CallConn::In, "" },
    { "200 lines: the last listed, the machine's last line, hang-up; nothing beyond",
        [](Core& c) {
            AwayTalking(c);
            for (int i = 0; i < 199; ++i) c.Feed(CallConn::In, "Sx\r");
        },
        [](Core& c) { c.Feed(CallConn::In, "Slast\rSbeyond\r"); },
        "list last, rec received, send in, timer off in machine 0, rec ended message-taken, close in after " +
            std::string(kMessageTaken) + ", look, clear",
        kIdle, "-", CallConn::In, "" },
    { "three minutes: the machine's last line, hang-up", AwayTalking,
        [](Core& c) { c.core.MachineTimerExpired(); },
        "send in, rec ended message-taken, close in after " + std::string(kMessageTaken) + ", look, clear",
        kIdle, "-", CallConn::In, "" },
    { "the caller hangs up: the message ends", AwayTalking, [](Core& c) { c.core.Closed(CallConn::In); },
        "timer off in machine 0, rec ended partner-hung-up, close in, look, clear", kIdle, "-", CallConn::In,
        "" },
    { "typing takes the call over: an ordinary call from here", AwayTalking,
        [](Core& c) { c.core.PressEnter("hi"); },
        "timer off in machine 0, rec taken-over, look, send in, listed hi, rec sent", kTalking, "plain",
        CallConn::In, "Shi\r" },
    { "a second caller while the machine takes a message gets busy", AwayTalking,
        [](Core& c) { c.core.ConnectionWaiting(), c.core.Accepted(CallConn::Busy, "127.0.0.3", "south"); },
        "accept busy, send busy, rec turned-away busy", kAway, "plain", CallConn::Busy, "Bsouth\r" },
    { "do-not-disturb wins over the machine", [](Core& c) { Away(c), c.core.SetDoNotDisturb(true); },
        [](Core& c) { c.core.ConnectionWaiting(); }, "accept busy", kIdle, "-", CallConn::In, "" },
    { "an encrypting caller: the machine waits for the reveal before its answer", AwayRinging,
        [](Core& c) { c.Feed(CallConn::In, kGreetedAndCommitted); },
        "name north kept, rec named, send in, timer on in 10000, timer off in machine 0, look, ring off, "
        "rec machine-answered, timer on in machine 180000",
        kAway, "plain", CallConn::In, "k2<key>\r" },
};

TEST(CallCore, TheAnsweringMachine) { CheckRows(kMachineRows); }

// What one read lists stays what it always was: the reader takes 1,024-byte pieces, and a zero
// byte drops the rest of its piece only.
TEST(CallCore, ReceivedBytesAreReadInPiecesOfOneOldRead)
{
    Core c;
    TalkingOut(c);
    c.Effects();
    c.Feed(CallConn::Out, std::string("Sa\r\0", 4) + std::string(1020, '-') + "Sz\r");
    EXPECT_EQ(c.Effects(), "list a z, rec received");
}

} // namespace
