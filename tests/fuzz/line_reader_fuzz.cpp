// Fuzz target for one connection's line reader. The input is the received byte stream; how it
// is cut into reads is derived from the same bytes. Checks, for every input:
//  - no more than kMaxPending bytes ever wait;
//  - no payload holds a CR or a zero byte, and no byte of the stream is used twice;
//  - every text is "S" + payload somewhere in the stream as read (zero-truncated reads);
//  - cutting the stream into reads changes nothing, as long as no unterminated tail of a
//    read before the last one was processed without its CR (such a tail is processed at once
//    by design, so later bytes are then read differently);
//  - after Reset the reader behaves exactly like a new one;
//  - a well-formed exchange (messages composed as a peer sends them, scripted from the
//    input's lines) reads back exactly as sent, wherever the reads are cut.
#include "tests/fuzz/fuzz_util.h"
#include "tests/line_reader_probe.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct Run {
    std::vector<CLineMessage> msgs;
    int nPending = 0;
    bool bGreeted = false;
};

bool SameMessages(const std::vector<CLineMessage>& a, const std::vector<CLineMessage>& b)
{
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (a[i].kind != b[i].kind || a[i].strPayload != b[i].strPayload) return false;
    return true;
}

Run FeedWhole(CLineReader& r, const std::string& stream)
{
    Run run;
    r.Feed(stream.data(), (int)stream.size(), run.msgs);
    CHECK(r.PendingBytes() <= CLineReader::kMaxPending);
    run.nPending = r.PendingBytes();
    run.bGreeted = AwaitsShortForm(r);
    return run;
}

// xorshift, seeded from the input: reproducible cuts that change as the input changes.
struct Cutter {
    uint64_t s;
    explicit Cutter(uint64_t seed) : s(seed ? seed : 0x9e3779b97f4a7c15ull) { }
    uint64_t Next()
    {
        s ^= s << 13;
        s ^= s >> 7;
        s ^= s << 17;
        return s;
    }
    size_t ReadSize()
    {
        uint64_t v = Next();
        switch (v % 8) {
        case 0:
            return 0; // an empty read
        case 1:
        case 2:
        case 3:
            return 1 + (v >> 8) % 4; // a few bytes
        case 4:
        case 5:
            return 1 + (v >> 8) % 32;
        case 6:
            return 1 + (v >> 8) % 1024; // up to one socket read
        default:
            return 1 + (v >> 8) % 8192;
        }
    }
};

// Scripts a peer from the input: each CR-separated piece names a message by its first byte
// and carries the rest as name or text (zero bytes left out, as an edit never holds them).
// Returns the composed bytes; `expect` gets what the receiving side must make of them.
std::string ComposeScript(const std::string& input, std::vector<CLineMessage>& expect)
{
    std::string wire;
    size_t from = 0;
    while (from <= input.size()) {
        size_t cr = input.find('\r', from);
        if (cr == std::string::npos) cr = input.size();
        std::string piece;
        for (size_t i = from; i < cr; ++i)
            if (input[i] != '\0') piece += input[i];
        from = cr + 1;
        if (piece.empty()) continue;
        const CString rest(piece.substr(1));
        const CString name(piece.size() > 2 ? piece.substr(2) : std::string());
        CLineMessage m;
        switch (piece[0]) {
        case 'S':
            wire += ComposeText(rest).str();
            m = { CLineMessage::Text, rest };
            break;
        case 'a':
            wire += ComposeCalleeGreeting(name).str();
            m = { CLineMessage::CalleeName, name };
            break;
        case 'A':
            wire += ComposeCalleeGreeting(rest).str();
            m = { CLineMessage::CalleeName, rest };
            break;
        case 'i':
            wire += ComposeCallerGreeting(name).str();
            m = { CLineMessage::CallerName, name };
            break;
        case 'I':
            wire += ComposeCallerGreeting(rest).str();
            m = { CLineMessage::CallerName, rest };
            break;
        case 'C':
            wire += ComposeAnswer().str();
            m = { CLineMessage::Answer, CString() };
            break;
        case 'B':
            wire += ComposeBusy(rest).str();
            m = { CLineMessage::Busy, CString() };
            break;
        default:
            continue;
        }
        expect.push_back(m);
    }
    return wire;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    uint64_t hash = 1469598103934665603ull; // FNV-1a
    for (size_t i = 0; i < size; ++i) hash = (hash ^ data[i]) * 1099511628211ull;
    Cutter cut(hash);

    // Now and then the input is repeated past the bound, so overlong lines are reached.
    std::string input((const char*)data, size);
    std::string raw = input;
    if (size > 0 && hash % 16 == 0)
        while (raw.size() <= (size_t)CLineReader::kMaxPending + 4096) raw += input;

    // Cut into reads; `stream` is what the reads hold once each is ended at its zero byte.
    std::vector<std::string> reads;
    std::string stream;
    size_t nLastNonEmpty = 0;
    for (size_t at = 0; at < raw.size();) {
        size_t n = cut.ReadSize();
        if (n > raw.size() - at) n = raw.size() - at;
        reads.push_back(raw.substr(at, n));
        at += n;
        const std::string& r = reads.back();
        size_t nText = strnlen(r.data(), r.size());
        stream.append(r, 0, nText);
        if (nText > 0) nLastNonEmpty = reads.size() - 1;
    }

    CLineReader reader;
    Run split;
    bool bCutEarly = false;
    for (size_t i = 0; i < reads.size(); ++i) {
        const size_t nBefore = split.msgs.size();
        reader.Feed(reads[i].data(), (int)reads[i].size(), split.msgs);
        CHECK(reader.PendingBytes() >= 0);
        CHECK(reader.PendingBytes() <= CLineReader::kMaxPending);
        // Every line a CR ends gives one message, and the announced short form none: a message
        // more means the read's tail was taken without its CR, where one read of all would
        // differ. Only then is the comparison below skipped.
        const size_t nText = strnlen(reads[i].data(), reads[i].size());
        const size_t nCRs = (size_t)std::count(reads[i].data(), reads[i].data() + nText, '\r');
        CHECK(split.msgs.size() - nBefore >= nCRs && split.msgs.size() - nBefore <= nCRs + 1);
        if (i < nLastNonEmpty && split.msgs.size() - nBefore > nCRs) bCutEarly = true;
    }
    split.nPending = reader.PendingBytes();
    split.bGreeted = AwaitsShortForm(reader);

    size_t nUsed = 0;
    for (const CLineMessage& m : split.msgs) {
        const std::string& p = m.strPayload.str();
        CHECK(p.find('\r') == std::string::npos);
        CHECK(p.find('\0') == std::string::npos);
        // Key lines, frames and version lines carry their whole line, command byte included.
        const bool bWholeLine = m.kind == CLineMessage::KeyCommit || m.kind == CLineMessage::KeyAnswer ||
            m.kind == CLineMessage::KeyReveal || m.kind == CLineMessage::Frame ||
            m.kind == CLineMessage::Version;
        nUsed += (bWholeLine ? 0 : 1) + p.size();
        if (m.kind == CLineMessage::Text && stream.size() <= 4096)
            CHECK(stream.find("S" + p) != std::string::npos);
    }
    CHECK(nUsed + (size_t)split.nPending <= stream.size());

    // The same bytes in one read.
    CLineReader whole;
    Run one = FeedWhole(whole, stream);
    if (!bCutEarly) {
        CHECK(SameMessages(split.msgs, one.msgs));
        CHECK(split.nPending == one.nPending);
        CHECK(split.bGreeted == one.bGreeted);
    }

    // A reset reader is a new reader.
    reader.Reset();
    CHECK(reader.PendingBytes() == 0);
    CHECK(!AwaitsShortForm(reader));
    Run again = FeedWhole(reader, stream);
    CHECK(SameMessages(again.msgs, one.msgs));
    CHECK(again.nPending == one.nPending);
    CHECK(again.bGreeted == one.bGreeted);

    // A peer's well-formed exchange, cut into reads anyhow. Kept under the bound, which
    // would rightly cut an overlong line.
    if (input.size() >= (size_t)CLineReader::kMaxPending - 8) return 0;
    std::vector<CLineMessage> expect;
    const std::string wire = ComposeScript(input, expect);
    CLineReader peer;
    std::vector<CLineMessage> got;
    for (size_t at = 0; at < wire.size();) {
        size_t n = cut.ReadSize();
        if (n > wire.size() - at) n = wire.size() - at;
        peer.Feed(wire.data() + at, (int)n, got);
        at += n;
    }
    CHECK(SameMessages(got, expect));
    CHECK(peer.PendingBytes() == 0);
    CHECK(!AwaitsShortForm(peer));
    return 0;
}
