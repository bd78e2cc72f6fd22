// Fuzz target for secure calls: key lines and frames from the wire. The first byte chooses:
//  - even: the rest is a key line: by the next byte, the answer line handed to Complete of a
//    caller, the commitment line handed to TakeCommit of a callee, or the reveal line handed to
//    Complete of a callee that took the caller's true commitment; all from fixed keys. Each is
//    accepted only in its one canonical shape ("k2", "H2" or "K2", then 52 key characters with
//    zero padding bits), and a reveal only when it is the very key committed to.
//  - odd: the rest scripts a call between two channels made from fixed keys: either side seals
//    messages taken from the input, frames are delivered as they are, replayed, reordered or
//    changed (a flipped bit, cut, a byte inserted or replaced, bytes appended), and lines made of
//    input bytes arrive. Checks: Open accepts the next frame the partner sealed, untouched, and
//    gives back that frame's message; any other line it accepts is exactly the frame the
//    partner's key makes of the message it gave back, numbered as the next one (the keys are
//    fixed, so the input may hold frames of earlier runs); after a refusal the channel stays dead; Seal makes
//    a frame ("E", base64, CR) exactly when the channel is ready and the message is one line ending in CR.
#include "tests/fuzz/fuzz_util.h"
#include "call/SecureChannel.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace {

// RFC 7748 section 6.1's two secret keys.
const unsigned char kCallerSecret[32] = { 0x77, 0x07, 0x6d, 0x0a, 0x73, 0x18, 0xa5, 0x7d, 0x3c, 0x16, 0xc1,
    0x72, 0x51, 0xb2, 0x66, 0x45, 0xdf, 0x4c, 0x2f, 0x87, 0xeb, 0xc0, 0x99, 0x2a, 0xb1, 0x77, 0xfb, 0xa5,
    0x1d, 0xb9, 0x2c, 0x2a };
const unsigned char kCalleeSecret[32] = { 0x5d, 0xab, 0x08, 0x7e, 0x62, 0x4a, 0x8a, 0x4b, 0x79, 0xe1, 0x7f,
    0x8b, 0x83, 0x80, 0x0e, 0xe6, 0x6f, 0x3b, 0xb1, 0x29, 0x26, 0x18, 0xb6, 0xfd, 0x1c, 0x2f, 0x8b, 0x27,
    0xff, 0x88, 0xe0, 0xeb };
const std::string kCallerGreeting = "i1north\rInorth";
const std::string kCalleeGreeting = "a1south\rAsouth";
const char kKeyAlphabet[] = "0123456789bcdefghjkmnpqrstuvwxyz";
const char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/=";

// One key line in the canonical shape of its kind: two bytes, then key characters.
bool Canonical(const std::string& line, const char* kind)
{
    if (line.size() != 54 || line.compare(0, 2, kind) != 0) return false;
    for (size_t i = 2; i < line.size(); ++i)
        if (!line[i] || !std::strchr(kKeyAlphabet, line[i])) return false;
    return line.back() == '0' || line.back() == 'h'; // the last character carries 1 bit and 4 zeros
}

void KeyLine(Input& in)
{
    const uint8_t kind = in.Byte() % 3;
    const std::string line = in.Bytes(in.n);
    CSecureChannel caller, ch;
    CHECK(caller.StartWithKey(CSecureChannel::Caller, kCallerSecret));
    const std::string commit = caller.CommitLine(), reveal = caller.KeyLine();
    bool bTaken = false;
    if (kind == 0) {
        CHECK(ch.StartWithKey(CSecureChannel::Caller, kCallerSecret));
        bTaken = ch.Complete(line, kCallerGreeting, kCalleeGreeting);
        if (bTaken) CHECK(Canonical(line, "k2") && ch.Ready() && ch.Code().size() == 7);
    } else {
        CHECK(ch.StartWithKey(CSecureChannel::Callee, kCalleeSecret));
        if (kind == 1) {
            bTaken = ch.TakeCommit(line);
            if (bTaken) CHECK(Canonical(line, "H2") && !ch.Ready() && ch.KeyLine().size() == 55);
        } else {
            CHECK(ch.TakeCommit(commit.substr(0, 54)));
            bTaken = ch.Complete(line, kCallerGreeting, kCalleeGreeting);
            // Another key would be a SHA-256 collision.
            if (bTaken) CHECK(line + "\r" == reveal && ch.Ready() && ch.Code().size() == 7);
        }
    }
    if (!bTaken) CHECK(!ch.Ready() && ch.Seal("Sx\r").empty() && ch.KeyLine().empty());
}

// Two channels from the fixed keys, agreed.
void Agree(CSecureChannel& caller, CSecureChannel& callee)
{
    CHECK(caller.StartWithKey(CSecureChannel::Caller, kCallerSecret));
    CHECK(callee.StartWithKey(CSecureChannel::Callee, kCalleeSecret));
    const std::string commit = caller.CommitLine(), answer = callee.KeyLine(), reveal = caller.KeyLine();
    CHECK(callee.TakeCommit(commit.substr(0, commit.size() - 1)));
    CHECK(caller.Complete(answer.substr(0, answer.size() - 1), kCallerGreeting, kCalleeGreeting));
    CHECK(callee.Complete(reveal.substr(0, reveal.size() - 1), kCallerGreeting, kCalleeGreeting));
}

// The frame line (without CR) that the caller's or the callee's key makes of `message` as the
// frame numbered `count`.
std::string SealedAs(bool bCaller, size_t count, const std::string& message)
{
    CSecureChannel caller, callee;
    Agree(caller, callee);
    CSecureChannel& from = bCaller ? caller : callee;
    for (size_t i = 0; i < count; ++i) CHECK(!from.Seal("S\r").empty());
    const std::string frame = from.Seal(message);
    return frame.substr(0, frame.size() - 1);
}

// One direction of the call: every frame its sender sealed, in order, and how many of them the
// receiver accepted.
struct Direction {
    bool bFromCaller;
    CSecureChannel* from;
    CSecureChannel* to;
    std::vector<std::string> frames; // without their CR
    std::vector<std::string> messages;
    size_t accepted = 0;
};

void Seal(Direction& d, Input& in)
{
    const uint8_t how = in.Byte();
    std::string message = "S" + in.Bytes(how % 64);
    if (how & 64) {
        message += '\r';
    } else {
        for (char& c : message)
            if (c == '\r') c = '.';
        message += '\r';
    }
    const bool bOneLine = message.find('\r') == message.size() - 1;
    const bool bReady = d.from->Ready();
    const std::string frame = d.from->Seal(message);
    CHECK(frame.empty() == !(bReady && bOneLine));
    if (frame.empty()) return;
    CHECK(frame[0] == 'E' && frame.back() == '\r' && frame.size() % 4 == 2);
    for (size_t i = 1; i + 1 < frame.size(); ++i) CHECK(std::strchr(kBase64, frame[i]) && frame[i]);
    d.frames.push_back(frame.substr(0, frame.size() - 1));
    d.messages.push_back(message);
}

void Deliver(Direction& d, const std::string& line)
{
    CHECK(CSecureChannel::IsFrame(line) == (!line.empty() && line[0] == 'E'));
    const bool bReady = d.to->Ready();
    const bool bNext = bReady && d.accepted < d.frames.size() && line == d.frames[d.accepted];
    std::string message = "untouched";
    const bool bOpened = d.to->Open(line, &message);
    if (bNext) CHECK(bOpened && message == d.messages[d.accepted]);
    if (bOpened) {
        CHECK(bReady && message.find('\r') == message.size() - 1);
        // With fixed keys a frame is the same in every run, so the input may carry one this run
        // has not sealed: it must be exactly what the partner's key seals as this frame.
        if (!bNext) CHECK(SealedAs(d.bFromCaller, d.accepted, message) == line);
        ++d.accepted;
    } else {
        CHECK(message.empty() && !d.to->Ready());
    }
}

// A frame sealed in this direction (any: a replay, one ahead, the next), changed or not.
void DeliverChanged(Direction& d, Input& in)
{
    if (d.frames.empty()) return;
    std::string line = d.frames[in.Byte() % d.frames.size()];
    const uint8_t how = in.Byte();
    const size_t at = line.empty() ? 0 : in.Byte() % line.size();
    switch (how % 6) {
    case 0:
        break;
    case 1:
        if (!line.empty()) line[at] ^= (char)(1 << (how >> 5));
        break;
    case 2:
        line.resize(at);
        break;
    case 3:
        line.insert(at, 1, (char)in.Byte());
        break;
    case 4:
        if (!line.empty()) line[at] = (char)in.Byte();
        break;
    default:
        line += in.Bytes(how >> 3);
        break;
    }
    Deliver(d, line);
}

void Call(Input& in)
{
    CSecureChannel caller, callee;
    Agree(caller, callee);
    Direction ways[2] = { { true, &caller, &callee, {}, {}, 0 }, { false, &callee, &caller, {}, {}, 0 } };
    while (!in.Empty()) {
        const uint8_t op = in.Byte();
        Direction& d = ways[op & 1];
        switch ((op >> 1) % 4) {
        case 0:
            Seal(d, in);
            break;
        case 1: // the next frame, as it was sealed
            if (d.accepted < d.frames.size()) Deliver(d, d.frames[d.accepted]);
            break;
        case 2:
            DeliverChanged(d, in);
            break;
        default: // a line of input bytes
            Deliver(d, in.Bytes(op >> 3));
            break;
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Input in = { data, size };
    if (in.Byte() & 1)
        Call(in);
    else
        KeyLine(in);
    return 0;
}
