// Secure calls: the library calls against the RFCs' own vectors, then two channels against each
// other. Literal frames and codes below were computed outside this program: X25519 with
// `openssl pkeyutl -derive`, the keys with `openssl kdf -keylen 68 -kdfopt digest:SHA256
// -kdfopt hexkey:Z -kdfopt salt:"Kelvaro secure call 1" -kdfopt hexinfo:T HKDF`, the frames with
// OpenSSL's ChaCha20-Poly1305 (through Python) and Python's base64.
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

std::string Unhex(const std::string& hex)
{
    std::string out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) out += (char)std::stoi(hex.substr(i, 2), nullptr, 16);
    return out;
}

const unsigned char* Bytes(const std::string& s) { return reinterpret_cast<const unsigned char*>(s.data()); }

// RFC 7748 section 6.1.
const std::string kAliceSecret = Unhex("77076d0a7318a57d3c16c17251b26645df4c2f87ebc0992ab177fba51db92c2a");
const std::string kBobSecret = Unhex("5dab087e624a8a4b79e17f8b83800ee66f3bb1292618b6fd1c2f8b27ff88e0eb");

const std::string kCallerGreeting = "i1north\rInorth";
const std::string kCalleeGreeting = "a1south\rAsouth";
// Their public keys, 8520f009...9b4e6a and de9edb7d...882b4f, in the key alphabet.
const std::string kAliceOffer = "K1hnhg02d962mp8x4cgrfc8grrc86vyfhe4sw1px7cnknsxbnv9tp0";
const std::string kBobAnswer = "k1vugeqzcvgr0v9nuvd71ftt1p6wzs6hy8cew6fmeezjz18vw85e7h";

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
        EXPECT_TRUE(callee.Complete(kAliceOffer, kCallerGreeting, kCalleeGreeting));
        EXPECT_TRUE(caller.Complete(kBobAnswer, kCallerGreeting, kCalleeGreeting));
    }
};

TEST(SecureChannel, FixedKeysGiveTheLiteralKeyLinesCodeAndFrames)
{
    CSecureChannel caller, callee;
    ASSERT_TRUE(caller.StartWithKey(CSecureChannel::Caller, Bytes(kAliceSecret)));
    ASSERT_TRUE(callee.StartWithKey(CSecureChannel::Callee, Bytes(kBobSecret)));
    EXPECT_EQ(caller.KeyLine(), kAliceOffer + "\r");
    EXPECT_EQ(callee.KeyLine(), kBobAnswer + "\r");
    EXPECT_EQ(caller.Code(), "") << "no code before the agreement";
    ASSERT_TRUE(callee.Complete(kAliceOffer, kCallerGreeting, kCalleeGreeting));
    ASSERT_TRUE(caller.Complete(kBobAnswer, kCallerGreeting, kCalleeGreeting));
    EXPECT_EQ(caller.Code(), "303 061");
    EXPECT_EQ(callee.Code(), "303 061");
    EXPECT_EQ(caller.Seal("Shello\r"), "EDA6dS6t7y+x4Rn0dHe+tLTDO3U+acI8=\r");
    EXPECT_EQ(callee.Seal("C\r"), "EYp5251xllMsm5kAWNI20+VLZ\r");
    EXPECT_EQ(callee.Seal("Sworld\r"), "Elepdx/qIEe/XvCapPJ3kjbq69vzYmaU=\r");
    std::string msg;
    EXPECT_TRUE(callee.Open("EDA6dS6t7y+x4Rn0dHe+tLTDO3U+acI8=", &msg));
    EXPECT_EQ(msg, "Shello\r");
    EXPECT_TRUE(caller.Open("EYp5251xllMsm5kAWNI20+VLZ", &msg));
    EXPECT_EQ(msg, "C\r");
    EXPECT_TRUE(caller.Open("Elepdx/qIEe/XvCapPJ3kjbq69vzYmaU=", &msg));
    EXPECT_EQ(msg, "Sworld\r");
}

TEST(SecureChannel, RandomKeyLinesHoldNoCommandByteAndAgree)
{
    const std::string commandBytes("SaAiICB\r\0", 9);
    for (int i = 0; i < 3000; ++i) {
        CSecureChannel caller, callee;
        ASSERT_TRUE(caller.Start(CSecureChannel::Caller));
        ASSERT_TRUE(callee.Start(CSecureChannel::Callee));
        const std::string offer = caller.KeyLine(), answer = callee.KeyLine();
        ASSERT_EQ(offer.size(), 55u);
        ASSERT_EQ(offer.back(), '\r');
        ASSERT_EQ(offer.substr(0, 54).find_first_of(commandBytes), std::string::npos) << offer;
        ASSERT_EQ(answer.substr(0, 54).find_first_of(commandBytes), std::string::npos) << answer;
        if (i % 100) continue; // the agreement itself on a sample
        ASSERT_TRUE(callee.Complete(offer.substr(0, 54), kCallerGreeting, kCalleeGreeting));
        ASSERT_TRUE(caller.Complete(answer.substr(0, 54), kCallerGreeting, kCalleeGreeting));
        EXPECT_EQ(caller.Code(), callee.Code());
        EXPECT_EQ(caller.Code().find_first_not_of("0123456789"), 3u) << caller.Code();
        EXPECT_EQ(caller.Code().size(), 7u) << caller.Code();
    }
}

TEST(SecureChannel, MalformedKeyLinesAreRefusedAndKillTheChannel)
{
    const std::string good = kBobAnswer;
    const struct {
        std::string line;
        const char* why;
    } cases[] = {
        { good.substr(0, 53), "one character short" },
        { good + "0", "one character more" },
        { good.substr(0, 10) + "a" + good.substr(11), "a character outside the alphabet" },
        { good.substr(0, 53) + "1", "padding bits set" },
        { "K1" + good.substr(2), "the caller's own kind of line" },
        { "k2" + good.substr(2), "another version" },
        { "k1" + std::string(52, '0'), "the zero key (no shared secret)" },
    };
    for (const auto& c : cases) {
        CSecureChannel caller;
        ASSERT_TRUE(caller.StartWithKey(CSecureChannel::Caller, Bytes(kAliceSecret)));
        EXPECT_FALSE(caller.Complete(c.line, kCallerGreeting, kCalleeGreeting)) << c.why;
        EXPECT_FALSE(caller.Ready()) << c.why;
        EXPECT_EQ(caller.Seal("Sx\r"), "") << c.why;
        EXPECT_FALSE(caller.Complete(good, kCallerGreeting, kCalleeGreeting)) << c.why << ": no second try";
    }
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
            [](Pair&, const std::string&) { return std::string("EDAf1dKUZUmjZKFGwqEZMsRKLPNa9lg=="); } },
        { "no CR", { 0 },
            [](Pair&, const std::string&) { return std::string("EDAeaRDe3CW2PkG4znBIBk791D1Q="); } },
        { "nothing", { 0 },
            [](Pair&, const std::string&) { return std::string("EMLQBvxZr1oF/IJuMS1ii6Q=="); } },
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
        EXPECT_EQ(p.callee.Code(), "303 061") << c.why << ": the code stays for the record";
    }
}

} // namespace
