// Secure calls: the library calls against the RFCs' own vectors, then two channels against each
// other. Literal key lines, codes and frames below are the worked example of
// docs/secure-calls.md, computed outside this program with Python's hashlib, hmac and base64
// and the X25519, HKDF and ChaCha20-Poly1305 of the python3-cryptography package.
#include "tests/host/test_keys.h"
#include "call/SecureChannel.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace {

std::string Hex(const std::string& s)
{
    static const char kDigits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : s) {
        out += kDigits[c >> 4];
        out += kDigits[c & 15];
    }
    return out;
}

const std::string kCallerGreeting = "i1north\rInorth";
const std::string kCalleeGreeting = "a1south\rAsouth";
// SHA-256("Kelvaro commit 2" || Alice's public key), then the public keys, 8520f009...9b4e6a and
// de9edb7d...882b4f, in the key alphabet.
const std::string kAliceCommit = "H258p7q36c4q82twjnhf4ysdppucdrbyetq426z04kvdd07br24940";
const std::string kBobAnswer = "k2vugeqzcvgr0v9nuvd71ftt1p6wzs6hy8cew6fmeezjz18vw85e7h";
const std::string kAliceReveal = "K2hnhg02d962mp8x4cgrfc8grrc86vyfhe4sw1px7cnknsxbnv9tp0";

// Section 5.2; the keys of section 6.1 go through the channel below.
TEST(SecureCrypto, X25519MatchesRfc7748)
{
    const struct {
        const char* scalar;
        const char* point;
        const char* result;
    } cases[] = {
        { "a546e36bf0527c9d3b16154b82465edd62144c0ac1fc5a18506a2244ba449ac4",
            "e6db6867583030db3594c1a424b15f7c726624ec26b3353b10a903a6d0ab1c4c",
            "c3da55379de9c6908e94ea4df28d084f32eccf03491c71f754b4075577a28552" },
        { "4b66e9d4d1b4673c5ad22691957d6af5c11b6421e0ea01d42ca4169e7918ba0d",
            "e5210f12786811d3f4b7959d0538ae2c31dbe7106fc03c3efc4cd549c715a493",
            "95cbde9476e8907d7aade45cb4b873f88b595a68799fa152e6f8f7647aac7957" },
    };
    ASSERT_TRUE(SecureCrypto::Init());
    for (const auto& c : cases) {
        const std::string scalar = Unhex(c.scalar), point = Unhex(c.point);
        std::string out(32, '\0');
        ASSERT_TRUE(
            SecureCrypto::X25519(reinterpret_cast<unsigned char*>(&out[0]), Bytes(scalar), Bytes(point)));
        EXPECT_EQ(Hex(out), c.result) << "scalar " << c.scalar;
    }
}

TEST(SecureCrypto, HkdfSha256MatchesRfc5869)
{
    const struct {
        const char *ikm, *salt, *info, *okm;
    } cases[] = {
        { "0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b", "000102030405060708090a0b0c",
            "f0f1f2f3f4f5f6f7f8f9",
            "3cb25f25faacd57a90434f64d0362f2a2d2d0a90cf1a5a4c5db02d56ecc4c5bf34007208d5b887185865" }, // case
                                                                                                      // 1
        { "0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b", "", "",
            "8da4e775a563c18f715f802a063c5a31b8a11f5c5ee1879ec3454e5f3c738d2d9d201395faa4b61a96c8" }, // case
                                                                                                      // 3
    };
    ASSERT_TRUE(SecureCrypto::Init());
    for (const auto& c : cases) {
        const std::string ikm = Unhex(c.ikm), salt = Unhex(c.salt), info = Unhex(c.info);
        std::string okm(42, '\0');
        ASSERT_TRUE(SecureCrypto::HkdfSha256(Bytes(salt), salt.size(), Bytes(ikm), ikm.size(), Bytes(info),
            info.size(), reinterpret_cast<unsigned char*>(&okm[0]), okm.size()));
        EXPECT_EQ(Hex(okm), c.okm) << "salt " << c.salt;
    }
}

TEST(SecureCrypto, ChaCha20Poly1305MatchesRfc8439)
{
    // Section 2.8.2.
    const std::string key = Unhex("808182838485868788898a8b8c8d8e8f909192939495969798999a9b9c9d9e9f");
    const std::string nonce = Unhex("070000004041424344454647");
    const std::string aad = Unhex("50515253c0c1c2c3c4c5c6c7");
    const std::string plain =
        "Ladies and Gentlemen of the class of '99: If I could offer you only one tip for the "
        "future, sunscreen would be it.";
    const std::string sealed =
        "d31a8d34648e60db7b86afbc53ef7ec2a4aded51296e08fea9e2b5a736ee62d63dbea45e8ca967"
        "1282fafb69da92728b1a71de0a9e060b2905d6a5b67ecd3b3692ddbd7f2d778b8c9803aee32809"
        "1b58fab324e4fad675945585808b4831d7bc3ff4def08e4b7a9de576d26586cec64b6116"
        "1ae10b594f09e26a7e902ecbd0600691"; // ciphertext, then the tag
    ASSERT_TRUE(SecureCrypto::Init());
    gcry_cipher_handle* h = SecureCrypto::AeadOpen(Bytes(key));
    ASSERT_NE(h, nullptr);
    std::string out, back;
    EXPECT_TRUE(SecureCrypto::AeadSeal(h, Bytes(nonce), aad, plain, &out));
    EXPECT_EQ(Hex(out), sealed);
    EXPECT_TRUE(SecureCrypto::AeadUnseal(h, Bytes(nonce), aad, Unhex(sealed), &back));
    EXPECT_EQ(back, plain);
    std::string changed = Unhex(sealed);
    changed.back() ^= 1;
    EXPECT_FALSE(SecureCrypto::AeadUnseal(h, Bytes(nonce), aad, changed, &back)) << "a changed tag";
    EXPECT_EQ(back, "");
    SecureCrypto::AeadClose(h);
}

std::string Body(const std::string& frame) { return frame.substr(0, frame.size() - 1); } // without CR

struct Pair {
    CSecureChannel caller, callee;
    // Alice calls Bob; both complete.
    Pair()
    {
        EXPECT_TRUE(caller.StartWithKey(CSecureChannel::Caller, Bytes(kAliceSecret)));
        EXPECT_TRUE(callee.StartWithKey(CSecureChannel::Callee, Bytes(kBobSecret)));
        EXPECT_TRUE(callee.TakeCommit(kAliceCommit));
        EXPECT_TRUE(caller.Complete(kBobAnswer, kCallerGreeting, kCalleeGreeting));
        EXPECT_TRUE(callee.Complete(kAliceReveal, kCallerGreeting, kCalleeGreeting));
    }
};

TEST(SecureChannel, FixedKeysGiveTheLiteralKeyLinesCodeAndFrames)
{
    CSecureChannel caller, callee;
    ASSERT_TRUE(caller.StartWithKey(CSecureChannel::Caller, Bytes(kAliceSecret)));
    ASSERT_TRUE(callee.StartWithKey(CSecureChannel::Callee, Bytes(kBobSecret)));
    EXPECT_EQ(caller.CommitLine(), kAliceCommit + "\r");
    EXPECT_EQ(callee.KeyLine(), kBobAnswer + "\r");
    EXPECT_EQ(caller.KeyLine(), kAliceReveal + "\r");
    EXPECT_EQ(callee.CommitLine(), "") << "a callee commits to nothing";
    ASSERT_TRUE(callee.TakeCommit(kAliceCommit));
    ASSERT_TRUE(caller.Complete(kBobAnswer, kCallerGreeting, kCalleeGreeting));
    EXPECT_EQ(caller.Code(), "502 830");
    EXPECT_EQ(callee.Code(), "") << "no code before the reveal";
    ASSERT_TRUE(callee.Complete(kAliceReveal, kCallerGreeting, kCalleeGreeting));
    EXPECT_EQ(callee.Code(), "502 830");
    EXPECT_EQ(caller.Seal("Shello\r"), "Ea62efg/C4NIhLdZelwBqiZp+eMjCxCQ=\r");
    EXPECT_EQ(callee.Seal("C\r"), "ErvAk7rRYQ+3OvOTeiG4tAgZb\r");
    EXPECT_EQ(callee.Seal("Sworld\r"), "EupAU3pZNh+dAq9qOBxVFCLnTjJ2Q4NM=\r");
    EXPECT_EQ(caller.Seal("X\r"), "EK2vpsVYxIiJUSznDj2+zO1tn\r");
    std::string msg;
    EXPECT_TRUE(callee.Open("Ea62efg/C4NIhLdZelwBqiZp+eMjCxCQ=", &msg));
    EXPECT_EQ(msg, "Shello\r");
    EXPECT_TRUE(caller.Open("ErvAk7rRYQ+3OvOTeiG4tAgZb", &msg));
    EXPECT_EQ(msg, "C\r");
    EXPECT_TRUE(caller.Open("EupAU3pZNh+dAq9qOBxVFCLnTjJ2Q4NM=", &msg));
    EXPECT_EQ(msg, "Sworld\r");
}

TEST(SecureChannel, RandomKeyLinesHoldNoCommandByteAndAgree)
{
    const std::string commandBytes("SaAiICBE\r\0", 10);
    for (int i = 0; i < 3000; ++i) {
        CSecureChannel caller, callee;
        ASSERT_TRUE(caller.Start(CSecureChannel::Caller));
        ASSERT_TRUE(callee.Start(CSecureChannel::Callee));
        const std::string commit = caller.CommitLine(), answer = callee.KeyLine(), reveal = caller.KeyLine();
        for (const std::string& line : { commit, answer, reveal }) {
            ASSERT_EQ(line.size(), 55u);
            ASSERT_EQ(line.back(), '\r');
            ASSERT_EQ(line.substr(0, 54).find_first_of(commandBytes), std::string::npos) << line;
        }
        if (i % 100) continue; // the agreement itself on a sample
        ASSERT_TRUE(callee.TakeCommit(commit.substr(0, 54)));
        ASSERT_TRUE(caller.Complete(answer.substr(0, 54), kCallerGreeting, kCalleeGreeting));
        ASSERT_TRUE(callee.Complete(reveal.substr(0, 54), kCallerGreeting, kCalleeGreeting));
        EXPECT_EQ(caller.Code(), callee.Code());
        EXPECT_EQ(caller.Code().find_first_not_of("0123456789"), 3u) << caller.Code();
        EXPECT_EQ(caller.Code().size(), 7u) << caller.Code();
    }
}

// Each key line is refused in any other shape, out of turn, or (the reveal) when it breaks the
// commitment; a refusal kills the channel for good.
TEST(SecureChannel, MalformedOrUncommittedKeyLinesAreRefusedAndKillTheChannel)
{
    const std::string answer = kBobAnswer, reveal = kAliceReveal;
    // A well-formed reveal of a key the caller never committed to (the callee's own).
    const std::string otherReveal = "K2" + answer.substr(2);
    enum Step { Answer, Commit, Reveal };
    const struct {
        Step step;
        std::string line;
        const char* why;
    } cases[] = {
        { Answer, answer.substr(0, 53), "one character short" },
        { Answer, answer + "0", "one character more" },
        { Answer, answer.substr(0, 10) + "a" + answer.substr(11), "a character outside the alphabet" },
        { Answer, answer.substr(0, 53) + "1", "padding bits set" },
        { Answer, "K2" + answer.substr(2), "the caller's own kind of line" },
        { Answer, "k1" + answer.substr(2), "version 1" },
        { Answer, "k2" + std::string(52, '0'), "the zero key (no shared secret)" },
        { Commit, "H1" + kAliceCommit.substr(2), "a commitment of another version" },
        { Commit, kAliceCommit.substr(0, 53) + "1", "a commitment with padding bits set" },
        { Reveal, "K1" + reveal.substr(2), "a version-1 reveal" },
        { Reveal, otherReveal, "a reveal that breaks the commitment" },
    };
    for (const auto& c : cases) {
        CSecureChannel ch;
        bool bRefused = false;
        if (c.step == Answer) {
            ASSERT_TRUE(ch.StartWithKey(CSecureChannel::Caller, Bytes(kAliceSecret)));
            bRefused = !ch.Complete(c.line, kCallerGreeting, kCalleeGreeting);
        } else {
            ASSERT_TRUE(ch.StartWithKey(CSecureChannel::Callee, Bytes(kBobSecret)));
            bRefused = c.step == Commit
                ? !ch.TakeCommit(c.line)
                : !(ch.TakeCommit(kAliceCommit) && ch.Complete(c.line, kCallerGreeting, kCalleeGreeting));
        }
        EXPECT_TRUE(bRefused) << c.why;
        EXPECT_FALSE(ch.Ready()) << c.why;
        EXPECT_EQ(ch.Seal("Sx\r"), "") << c.why;
        EXPECT_EQ(ch.KeyLine(), "") << c.why << ": nothing more is sent";
    }
    // The reveal before any commitment is refused too.
    CSecureChannel callee;
    ASSERT_TRUE(callee.StartWithKey(CSecureChannel::Callee, Bytes(kBobSecret)));
    EXPECT_FALSE(callee.Complete(reveal, kCallerGreeting, kCalleeGreeting));
}

TEST(SecureChannel, RoundTripsBothWays)
{
    Pair p;
    const std::vector<std::string> messages = { "C\r", "S\r", "Shello\r",
        "S" + std::string(30000, '\x82') + "\r", std::string("S\0zero\r", 7) };
    for (const std::string& m : messages) {
        std::string got;
        EXPECT_TRUE(p.callee.Open(Body(p.caller.Seal(m)), &got));
        EXPECT_EQ(got, m);
        EXPECT_TRUE(p.caller.Open(Body(p.callee.Seal(m)), &got));
        EXPECT_EQ(got, m);
    }
    // What is not one line is not sealed, and not counted: the next frame still opens.
    for (const char* bad : { "", "Sno end", "Stwo\rlines\r" }) EXPECT_EQ(p.caller.Seal(bad), "") << bad;
    std::string got;
    EXPECT_TRUE(p.callee.Open(Body(p.caller.Seal("Safter\r")), &got));
    EXPECT_TRUE(p.caller.Ready() && p.callee.Ready());
}

TEST(SecureChannel, AnyFrameNotSealedNextByThePartnerIsRefusedForGood)
{
    // Base64 with the last data character's unused bits set: the same bytes to a lax decoder.
    static const std::string kBase64 = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    const struct {
        const char* why;
        std::vector<int> order; // which of the caller's frames 0, 1, 2 arrive, in order
        std::function<std::string(Pair&, const std::string&)> change; // of the last one to arrive
    } cases[] = {
        { "a flipped bit", { 0 },
            [](Pair&, const std::string& f) {
                return f.substr(0, 5) + (f[5] == 'A' ? 'B' : 'A') + f.substr(6);
            } },
        { "a replay", { 0, 0 }, nullptr },
        { "a reordering", { 1 }, nullptr },
        { "a dropped frame", { 0, 2 }, nullptr },
        { "a truncated frame", { 0 }, [](Pair&, const std::string& f) { return f.substr(0, f.size() - 4); } },
        { "bad base64", { 0 },
            [](Pair&, const std::string& f) { return f.substr(0, 3) + "*" + f.substr(4); } },
        { "padding bits set", { 0 },
            [](Pair&, const std::string& f) {
                const size_t at = f.size() - 3; // before "=="
                return f.substr(0, at) + kBase64[kBase64.find(f[at]) + 1] + "==";
            } },
        { "shorter than the tag", { 0 },
            [](Pair&, const std::string&) { return "E" + std::string(20, 'A'); } },
        { "no frame", { 0 }, [](Pair&, const std::string& f) { return "S" + f.substr(1); } },
        { "the other direction's key", { 0 },
            [](Pair& p, const std::string&) { return Body(p.callee.Seal("Sfour\r")); } },
        // Sealed with the caller's true key and nonce 0:
        { "two lines", { 0 },
            [](Pair&, const std::string&) { return std::string("Ea6T2QQGgRdygDJaNQMsdYPOnuD1c6g=="); } },
        { "no CR", { 0 },
            [](Pair&, const std::string&) { return std::string("Ea6SZcTyKZH+IO3bNBXUVtubXkzU="); } },
        { "nothing", { 0 },
            [](Pair&, const std::string&) { return std::string("EElgIWfUiX1zD/SGtb8LGhQ=="); } },
    };
    for (const auto& c : cases) {
        Pair p;
        // 22 sealed bytes for the first: its base64 ends in "==".
        const std::string frames[] = { Body(p.caller.Seal("Sfour\r")), Body(p.caller.Seal("Stwo\r")),
            Body(p.caller.Seal("Sthree\r")) };
        ASSERT_EQ(frames[0].substr(frames[0].size() - 2), "==");
        std::string got;
        for (size_t i = 0; i + 1 < c.order.size(); ++i) ASSERT_TRUE(p.callee.Open(frames[c.order[i]], &got));
        std::string last = frames[c.order.back()];
        if (c.change) last = c.change(p, last);
        EXPECT_FALSE(p.callee.Open(last, &got)) << c.why;
        EXPECT_EQ(got, "") << c.why;
        EXPECT_FALSE(p.callee.Ready()) << c.why;
        EXPECT_FALSE(p.callee.Open(frames[c.order.size() - 1], &got)) << c.why << ": the channel stays dead";
        EXPECT_EQ(p.callee.Seal("Sx\r"), "") << c.why;
        EXPECT_EQ(p.callee.Code(), "502 830") << c.why << ": the code stays for the record";
    }
}

} // namespace
