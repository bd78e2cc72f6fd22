// The line protocol: composed bytes, and what one connection's reader makes of received bytes,
// however the stream is cut into reads.
#include "tests/line_reader_probe.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Shift-JIS bytes, written out so the test does not depend on the compiler's charset.
const std::string kYamada = "\x8e\x52\x93\x63"; // 山田 (trail bytes 'R' and 'c')
const std::string kMinami = "\x93\xec"; // 南
const std::string kKita = "\x96\x6b"; // 北 (trail byte 'k')
const std::string kI = "\x83\x43"; // イ (trail byte 'C')
const std::string kKonnichiwa = "\x82\xb1\x82\xf1\x82\xc9\x82\xbf\x82\xcd"; // こんにちは

// One message as text, so sequences compare and print readably.
std::string Describe(const CLineMessage& m)
{
    switch (m.kind) {
    case CLineMessage::Text:
        return "Text:" + m.strPayload.str();
    case CLineMessage::CalleeName:
        return "CalleeName:" + m.strPayload.str();
    case CLineMessage::CallerName:
        return "CallerName:" + m.strPayload.str();
    case CLineMessage::Answer:
        return "Answer";
    case CLineMessage::Busy:
        return "Busy";
    default:
        return "?";
    }
}

using Msgs = std::vector<std::string>;

// Feeds each string as one read and returns the messages the reads produced (lines of no command
// are reported only for secure calls, which refuse them; here they are left out).
Msgs Feed(CLineReader& r, const std::vector<std::string>& reads)
{
    std::vector<CLineMessage> out;
    for (const std::string& s : reads) r.Feed(s.data(), (int)s.size(), out);
    Msgs d;
    for (const CLineMessage& m : out)
        if (m.kind != CLineMessage::Other) d.push_back(Describe(m));
    return d;
}

Msgs Feed(CLineReader& r, const std::string& oneRead)
{
    return Feed(r, std::vector<std::string> { oneRead });
}

// Cuts s into reads of n bytes (the last may be shorter).
std::vector<std::string> Chunks(const std::string& s, size_t n)
{
    std::vector<std::string> v;
    for (size_t i = 0; i < s.size(); i += n) v.push_back(s.substr(i, n));
    return v;
}

// ---------------------------------------------------------------------------------------------

TEST(LineCompose, MessagesAreExactlyTheirBytes)
{
    EXPECT_EQ(ComposeCalleeGreeting("south").str(), "a1south\rAsouth");
    EXPECT_EQ(ComposeCallerGreeting("north").str(), "i1north\rInorth");
    EXPECT_EQ(ComposeAnswer().str(), std::string("C\r"));
    EXPECT_EQ(ComposeBusy("south").str(), "Bsouth\r");
    EXPECT_EQ(ComposeText("hello").str(), "Shello\r");
    EXPECT_EQ(ComposeText("").str(), "S\r");
    EXPECT_EQ(ComposeCalleeGreeting("").str(), "a1\rA");
}

TEST(LineCompose, ShiftJisPassesUnchanged)
{
    EXPECT_EQ(ComposeCalleeGreeting(kYamada.c_str()).str(), "a1" + kYamada + "\rA" + kYamada);
    EXPECT_EQ(ComposeText(kKonnichiwa.c_str()).str(), "S" + kKonnichiwa + "\r");
    EXPECT_EQ(ComposeBusy(kYamada.c_str()).GetLength(), 1 + 4 + 1);
}

// A whole call as the two sides send it, each side's bytes read by the other side's reader.
TEST(LineCompose, ComposedCallIsReadBack)
{
    CLineReader caller; // reads what the callee sends
    std::string fromCallee = ComposeCalleeGreeting(kMinami.c_str()).str();
    EXPECT_EQ(Feed(caller, fromCallee), (Msgs { "CalleeName:" + kMinami }));
    EXPECT_FALSE(AwaitsShortForm(caller));
    EXPECT_EQ(Feed(caller, ComposeAnswer().str() + ComposeText(kKonnichiwa.c_str()).str()),
        (Msgs { "Answer", "Text:" + kKonnichiwa }));

    CLineReader callee; // reads what the caller sends
    EXPECT_EQ(Feed(callee, ComposeCallerGreeting(kKita.c_str()).str()), (Msgs { "CallerName:" + kKita }));
    EXPECT_EQ(Feed(callee, ComposeText("").str()), (Msgs { "Text:" }));
    EXPECT_EQ(callee.PendingBytes(), 0);

    CLineReader third; // turned away
    EXPECT_EQ(Feed(third, ComposeBusy(kMinami.c_str()).str()), (Msgs { "Busy" }));
}

// ---------------------------------------------------------------------------------------------
// Splitting and commands within one read.

TEST(LineReaderLines, SeveralMessagesInOneReadKeepTheirOrder)
{
    CLineReader r;
    EXPECT_EQ(Feed(r, "Sone\rStwo\rC\rBsouth\rSthree\r"),
        (Msgs { "Text:one", "Text:two", "Answer", "Busy", "Text:three" }));
    EXPECT_EQ(r.PendingBytes(), 0);
}

TEST(LineReaderLines, EmptyTextIsAMessage)
{
    CLineReader r;
    EXPECT_EQ(Feed(r, "S\rS\r"), (Msgs { "Text:", "Text:" }));
}

TEST(LineReaderLines, EmptyLinesAreIgnored)
{
    CLineReader r;
    EXPECT_EQ(Feed(r, "\r\rSa\r\r\rSb\r"), (Msgs { "Text:a", "Text:b" }));
    EXPECT_EQ(Feed(r, "\r"), Msgs {});
    EXPECT_EQ(r.PendingBytes(), 0);
}

TEST(LineReaderLines, UnknownAndLeadByteLinesAreIgnored)
{
    CLineReader r;
    // A line starting with a double-byte character, commands that do not exist, a line
    // starting with a line feed (no terminator: "\nSy" is one line) and an unterminated
    // lead-byte tail.
    EXPECT_EQ(Feed(r, kKonnichiwa + "\rshello\rc\rb\rX\r\nSy\rSz\r" + kYamada), (Msgs { "Text:z" }));
    EXPECT_EQ(r.PendingBytes(), 0);
    EXPECT_FALSE(AwaitsShortForm(r));
}

TEST(LineReaderLines, TextKeepsEveryByteButTheCommand)
{
    CLineReader r;
    // Trail bytes that look like commands, a line feed and "1" stay in the text.
    std::string text = kI + "S" + kYamada + "\n1 a";
    EXPECT_EQ(Feed(r, "S" + text + "\r"), (Msgs { "Text:" + text }));
}

TEST(LineReaderLines, ZeroByteDropsTheRestOfThatReadOnly)
{
    CLineReader r;
    EXPECT_EQ(Feed(r, std::string("Sone\rC\r\0Stwo\rC\r", 15)), (Msgs { "Text:one", "Answer" }));
    EXPECT_EQ(r.PendingBytes(), 0);
    // The next read is read in full again.
    EXPECT_EQ(Feed(r, "Sthree\r"), (Msgs { "Text:three" }));
}

TEST(LineReaderLines, ZeroByteEndsTheReadNotTheLine)
{
    CLineReader r;
    // The bytes before the zero are an unterminated text; its CR comes in the next read.
    EXPECT_EQ(Feed(r, std::vector<std::string> { std::string("Shel\0junk\r", 10), "lo\r" }),
        (Msgs { "Text:hello" }));
    // A read that starts with a zero byte contributes nothing.
    EXPECT_EQ(
        Feed(r, std::vector<std::string> { "Sab", std::string("\0Sxx\r", 5), "c\r" }), (Msgs { "Text:abc" }));
}

TEST(LineReaderLines, EmptyOrMissingReadChangesNothing)
{
    CLineReader r;
    std::vector<CLineMessage> out;
    r.Feed("Spart", 5, out);
    r.Feed("", 0, out);
    r.Feed(nullptr, 10, out);
    r.Feed("x\r", -1, out);
    EXPECT_TRUE(out.empty());
    EXPECT_EQ(r.PendingBytes(), 5);
    EXPECT_EQ(Feed(r, "\r"), (Msgs { "Text:part" }));
}

// ---------------------------------------------------------------------------------------------
// Greetings and the greeting flag.

TEST(LineReaderGreeting, LongFormNameSkipsTwoBytesWhateverTheyAre)
{
    CLineReader r;
    EXPECT_EQ(Feed(r, "aXsouth\r"), (Msgs { "CalleeName:south" }));
    r.Reset();
    EXPECT_EQ(Feed(r, "a\r"), (Msgs { "CalleeName:" }));
    r.Reset();
    EXPECT_EQ(Feed(r, "i1\r"), (Msgs { "CallerName:" }));
    r.Reset();
    EXPECT_EQ(Feed(r, "i1" + kYamada + "\r"), (Msgs { "CallerName:" + kYamada }));
    EXPECT_TRUE(AwaitsShortForm(r));
}

TEST(LineReaderGreeting, LongFormThenShortFormShowsTheNameOnce)
{
    CLineReader r;
    EXPECT_EQ(Feed(r, std::vector<std::string> { "a1south\r", "Asouth" }), (Msgs { "CalleeName:south" }));
    EXPECT_FALSE(AwaitsShortForm(r));

    CLineReader c;
    EXPECT_EQ(Feed(c, "i1" + kKita + "\rI" + kKita), (Msgs { "CallerName:" + kKita }));
    EXPECT_FALSE(AwaitsShortForm(c));
    EXPECT_EQ(c.PendingBytes(), 0);
}

TEST(LineReaderGreeting, PeerSendingOnlyTheShortFormIsUnderstood)
{
    CLineReader r;
    EXPECT_EQ(Feed(r, "Asouth"), (Msgs { "CalleeName:south" }));
    EXPECT_EQ(r.PendingBytes(), 0); // a short form never waits for a CR

    CLineReader c;
    EXPECT_EQ(Feed(c, "I" + kYamada), (Msgs { "CallerName:" + kYamada }));
}

TEST(LineReaderGreeting, UnannouncedShortFormTakesTheRestOfTheRead)
{
    // Without a long form nobody knows where the name ends.
    CLineReader r;
    EXPECT_EQ(Feed(r, "AsouthC\r"), (Msgs { "CalleeName:southC" }));
    r.Reset();
    EXPECT_EQ(Feed(r, "AsouthSx\rC\r"), (Msgs { "CalleeName:southSx", "Answer" }));
}

TEST(LineReaderGreeting, FlagHoldsAcrossLinesOfOneConnection)
{
    CLineReader r;
    // A long form sets the flag; until a short form clears it, no greeting is acted on.
    EXPECT_EQ(Feed(r, "a1south\rSx\ra1west\ri1north\r"), (Msgs { "CalleeName:south", "Text:x" }));
    EXPECT_TRUE(AwaitsShortForm(r));
    EXPECT_EQ(Feed(r, "Anobody"), Msgs {});
    EXPECT_FALSE(AwaitsShortForm(r));
    EXPECT_EQ(Feed(r, "Iwest"), (Msgs { "CallerName:west" }));
}

TEST(LineReaderGreeting, SecondLongFormOfAPairIsNotShown)
{
    CLineReader r;
    EXPECT_EQ(Feed(r, "a1south\ra1south\rAsouth"), (Msgs { "CalleeName:south" }));
    EXPECT_FALSE(AwaitsShortForm(r));
}

// ---------------------------------------------------------------------------------------------
// Messages cut across reads are joined.

TEST(LineReaderJoin, TextSplitOverTwoReadsArrivesWhole)
{
    CLineReader r;
    EXPECT_EQ(Feed(r, "Shel"), Msgs {});
    EXPECT_EQ(r.PendingBytes(), 4);
    EXPECT_EQ(Feed(r, "lo\rSw"), (Msgs { "Text:hello" }));
    EXPECT_EQ(r.PendingBytes(), 2);
    EXPECT_EQ(Feed(r, "orld\r"), (Msgs { "Text:world" }));
    EXPECT_EQ(r.PendingBytes(), 0);
}

TEST(LineReaderJoin, EveryCrTerminatedCommandWaitsForItsCr)
{
    CLineReader r;
    EXPECT_EQ(Feed(r, std::vector<std::string> { "C", "\r" }), (Msgs { "Answer" }));
    EXPECT_EQ(Feed(r, std::vector<std::string> { "B", "sou", "th\r" }), (Msgs { "Busy" }));
    EXPECT_EQ(Feed(r, std::vector<std::string> { "S", "\r" }), (Msgs { "Text:" }));
    EXPECT_EQ(Feed(r, std::vector<std::string> { "a1so", "uth\r" }), (Msgs { "CalleeName:south" }));
    r.Reset();
    EXPECT_EQ(Feed(r, std::vector<std::string> { "i", "1north", "\r" }), (Msgs { "CallerName:north" }));
}

TEST(LineReaderJoin, CutInsideADoubleByteCharacter)
{
    CLineReader r;
    std::string line = "S" + kKonnichiwa + "\r";
    EXPECT_EQ(Feed(r, std::vector<std::string> { line.substr(0, 4), line.substr(4) }),
        (Msgs { "Text:" + kKonnichiwa }));
}

TEST(LineReaderJoin, OtherTailsAreProcessedAtOnce)
{
    CLineReader r;
    // A tail that is no CR-terminated command cannot become one: it is dropped at once, and
    // the next read starts afresh.
    EXPECT_EQ(Feed(r, std::vector<std::string> { "xyz", "Shi\r" }), (Msgs { "Text:hi" }));
    EXPECT_EQ(Feed(r, std::vector<std::string> { kYamada, "C\r" }), (Msgs { "Answer" }));
    EXPECT_EQ(r.PendingBytes(), 0);
}

TEST(LineReaderJoin, WholeCallOneByteAtATime)
{
    std::string stream = ComposeCalleeGreeting(kYamada.c_str()).str() + ComposeAnswer().str() +
        ComposeText(kKonnichiwa.c_str()).str() + ComposeText("").str() + ComposeText("bye").str();
    CLineReader r;
    EXPECT_EQ(Feed(r, Chunks(stream, 1)),
        (Msgs { "CalleeName:" + kYamada, "Answer", "Text:" + kKonnichiwa, "Text:", "Text:bye" }));
    EXPECT_EQ(r.PendingBytes(), 0);
    EXPECT_FALSE(AwaitsShortForm(r));
}

TEST(LineReaderJoin, TextLongerThanOneReadArrivesWhole)
{
    std::string text;
    for (int i = 0; i < 500; ++i) text += kKonnichiwa; // 5000 bytes
    CLineReader r;
    EXPECT_EQ(
        Feed(r, Chunks("Sa\rS" + text + "\rSb\r", 1024)), (Msgs { "Text:a", "Text:" + text, "Text:b" }));
}

// ---------------------------------------------------------------------------------------------
// Waiting bytes are bounded.

TEST(LineReaderBound, TailUpToTheBoundWaitsOneMoreIsProcessed)
{
    const int kMax = CLineReader::kMaxPending;
    CLineReader r;
    std::string upToBound = "S" + std::string(kMax - 1, 'x');
    EXPECT_EQ(Feed(r, upToBound), Msgs {});
    EXPECT_EQ(r.PendingBytes(), kMax);
    // One byte more and the waiting bytes are taken as one line.
    Msgs got = Feed(r, "y");
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0], "Text:" + std::string(kMax - 1, 'x') + "y");
    EXPECT_EQ(r.PendingBytes(), 0);
}

TEST(LineReaderBound, CompleteLineLongerThanTheBoundIsWhole)
{
    // The bound limits what waits, not how long a line can be.
    const int kMax = CLineReader::kMaxPending;
    CLineReader r;
    std::string text(kMax - 100, 'x');
    EXPECT_EQ(Feed(r, "S" + text), Msgs {});
    EXPECT_EQ(Feed(r, std::string(500, 'z') + "\rSnext\r"),
        (Msgs { "Text:" + text + std::string(500, 'z'), "Text:next" }));
    EXPECT_EQ(r.PendingBytes(), 0);
}

TEST(LineReaderBound, OneMebibyteLineWithoutCrInReadsOf1024)
{
    const int kMax = CLineReader::kMaxPending;
    std::string stream = "S" + std::string(1024 * 1024, 'x') + "\rSafter\r";
    CLineReader r;
    std::vector<CLineMessage> out;
    int nMaxSeen = 0;
    for (const std::string& chunk : Chunks(stream, 1024)) {
        r.Feed(chunk.data(), (int)chunk.size(), out);
        out.erase(std::remove_if(out.begin(), out.end(),
                      [](const CLineMessage& m) { return m.kind == CLineMessage::Other; }),
            out.end());
        nMaxSeen = std::max(nMaxSeen, r.PendingBytes());
        ASSERT_LE(r.PendingBytes(), kMax);
    }
    EXPECT_EQ(nMaxSeen, kMax);
    // The waiting bytes went out as one text when the next read would have passed the bound;
    // the rest of the overlong line is no command and is dropped; the next message is intact.
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[0].kind, CLineMessage::Text);
    EXPECT_EQ(out[0].strPayload.GetLength(), kMax + 1024 - 1);
    EXPECT_EQ(Describe(out[1]), "Text:after");
    EXPECT_EQ(r.PendingBytes(), 0);
}

TEST(LineReaderBound, OneMebibyteReadWithoutCr)
{
    CLineReader r;
    std::string big = "S" + std::string(1024 * 1024, 'x');
    std::vector<CLineMessage> out;
    r.Feed(big.data(), (int)big.size(), out);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].strPayload.GetLength(), 1024 * 1024);
    EXPECT_EQ(r.PendingBytes(), 0);
}

// ---------------------------------------------------------------------------------------------
// The short form glued to what follows it.

TEST(LineReaderShortForm, GluedShortFormThenAnswer)
{
    CLineReader r;
    EXPECT_EQ(Feed(r, "a1south\rAsouthC\r"), (Msgs { "CalleeName:south", "Answer" }));
    EXPECT_FALSE(AwaitsShortForm(r));
    EXPECT_EQ(r.PendingBytes(), 0);
}

TEST(LineReaderShortForm, GluedShortFormThenTextOrBusy)
{
    CLineReader r;
    EXPECT_EQ(Feed(r, "a1" + kYamada + "\rA" + kYamada + "S" + kKonnichiwa + "\r"),
        (Msgs { "CalleeName:" + kYamada, "Text:" + kKonnichiwa }));
    r.Reset();
    EXPECT_EQ(Feed(r, "a1south\rAsouthBwest\r"), (Msgs { "CalleeName:south", "Busy" }));
}

TEST(LineReaderShortForm, GluedShortFormThenAnotherGreeting)
{
    CLineReader r;
    EXPECT_EQ(Feed(r, "a1south\rAsouthi1north\rInorthC\r"),
        (Msgs { "CalleeName:south", "CallerName:north", "Answer" }));
    EXPECT_FALSE(AwaitsShortForm(r));
}

TEST(LineReaderShortForm, NameEndingInACommandByte)
{
    // イ ends in the byte 'C': the glued answer after it is still its own message.
    CLineReader r;
    EXPECT_EQ(Feed(r, "a1" + kI + "\rA" + kI + "C\r"), (Msgs { "CalleeName:" + kI, "Answer" }));
}

TEST(LineReaderShortForm, ShortFormSplitAcrossReads)
{
    CLineReader r;
    EXPECT_EQ(Feed(r, "a1south\rAso"), (Msgs { "CalleeName:south" }));
    EXPECT_EQ(r.PendingBytes(), 3); // "Aso" may be the start of "Asouth"
    EXPECT_EQ(Feed(r, "u"), Msgs {});
    EXPECT_EQ(Feed(r, "thC"), Msgs {});
    EXPECT_EQ(r.PendingBytes(), 1); // the short form is taken; "C" waits for its CR
    EXPECT_EQ(Feed(r, "\r"), (Msgs { "Answer" }));
}

TEST(LineReaderShortForm, ShortFormEndingExactlyAtTheReadEnd)
{
    CLineReader r;
    EXPECT_EQ(Feed(r, "a1south\rAsouth"), (Msgs { "CalleeName:south" }));
    EXPECT_EQ(r.PendingBytes(), 0);
    // "Asouth" again now is a fresh short form.
    EXPECT_EQ(Feed(r, "Asouth"), (Msgs { "CalleeName:south" }));
}

TEST(LineReaderShortForm, LongFormAloneInItsReadStillExpectsTheShortForm)
{
    CLineReader r;
    EXPECT_EQ(Feed(r, std::vector<std::string> { "a1south\r", "AsouthSok\r" }),
        (Msgs { "CalleeName:south", "Text:ok" }));
}

TEST(LineReaderShortForm, DivergentBytesAreReadByTheOrdinaryRules)
{
    CLineReader r;
    // Another name: one ordinary short-form line, skipped because the flag is set.
    EXPECT_EQ(Feed(r, "a1south\rAnorthC\r"), (Msgs { "CalleeName:south" }));
    EXPECT_FALSE(AwaitsShortForm(r));

    // A prefix that diverges in the next read.
    r.Reset();
    EXPECT_EQ(Feed(r, std::vector<std::string> { "a1south\rAso", "rryC\r" }), (Msgs { "CalleeName:south" }));
    EXPECT_EQ(r.PendingBytes(), 0);

    // A message instead of the short form: taken, and the flag stays set.
    r.Reset();
    EXPECT_EQ(Feed(r, "a1south\rShi\r"), (Msgs { "CalleeName:south", "Text:hi" }));
    EXPECT_TRUE(AwaitsShortForm(r));
}

TEST(LineReaderShortForm, ExpectationEndsWithTheNextLine)
{
    CLineReader r;
    // After a text line the short form is no longer "right after" its long form: it is an
    // ordinary short-form line again and takes the rest of the read.
    EXPECT_EQ(Feed(r, std::vector<std::string> { "a1south\r", "Shi\r", "AsouthC\r" }),
        (Msgs { "CalleeName:south", "Text:hi" }));
    EXPECT_FALSE(AwaitsShortForm(r));
    EXPECT_EQ(r.PendingBytes(), 0);
}

TEST(LineReaderShortForm, ExpectedShortFormIsComparedByteForByte)
{
    CLineReader r;
    EXPECT_EQ(Feed(r, "a1South\rAsouthC\r"), (Msgs { "CalleeName:South" })); // case differs
    r.Reset();
    EXPECT_EQ(Feed(r, "i1north\rAnorthC\r"), (Msgs { "CallerName:north" })); // letter differs
    EXPECT_FALSE(AwaitsShortForm(r));
}

// ---------------------------------------------------------------------------------------------
// Each connection starts with a clean reader.

TEST(LineReaderReset, NextConnectionsGreetingIsShown)
{
    CLineReader r;
    // The call ended between the long and the short form.
    EXPECT_EQ(Feed(r, "a1south\r"), (Msgs { "CalleeName:south" }));
    EXPECT_TRUE(AwaitsShortForm(r));
    r.Reset();
    EXPECT_FALSE(AwaitsShortForm(r));
    EXPECT_EQ(Feed(r, "a1west\rAwest"), (Msgs { "CalleeName:west" }));

    // Same on the callee's side.
    EXPECT_EQ(Feed(r, "i1north\r"), (Msgs { "CallerName:north" }));
    r.Reset();
    EXPECT_EQ(Feed(r, "i1" + kKita + "\rI" + kKita), (Msgs { "CallerName:" + kKita }));
}

TEST(LineReaderReset, WaitingBytesDoNotLeakIntoTheNextConnection)
{
    CLineReader r;
    EXPECT_EQ(Feed(r, "Shalf a li"), Msgs {});
    r.Reset();
    EXPECT_EQ(r.PendingBytes(), 0);
    EXPECT_EQ(Feed(r, "ne\rSnew\r"), (Msgs { "Text:new" }));
}

TEST(LineReaderReset, ExpectedShortFormIsForgotten)
{
    CLineReader r;
    EXPECT_EQ(Feed(r, "a1south\rAsou"), (Msgs { "CalleeName:south" }));
    r.Reset();
    EXPECT_EQ(r.PendingBytes(), 0);
    // A new peer sending only a short form: nothing of the old greeting applies.
    EXPECT_EQ(Feed(r, "AsouthC\r"), (Msgs { "CalleeName:southC" }));
}

} // namespace
