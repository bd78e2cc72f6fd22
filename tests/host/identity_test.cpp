// Identities and verified contacts: Ed25519 against RFC 8032, the version-3 agreement and identity
// proofs against the worked example of docs/secure-calls.md (computed outside this program by
// tests/host/secure_calls_example.py with Python's hashlib and python3-cryptography), the
// identity file and the contacts file with damaged input.
#include "tests/host/test_keys.h"
#include "call/Identity.h"
#include "call/SecureChannel.h"
#include "call/VerifiedContacts.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const char kFingerprint1[] = "21fe31dfa154a261626bf854046fd2271b7bed4b6abe45aa58877ef47f9721b9";
const char kFingerprint2[] = "39f713d0a644253f04529421b9f51b9b08979d08295959c4f3990ee617f5139f";

const std::string kCallerGreeting = "i1north\rInorth";
const std::string kCalleeGreeting = "a1south\rAsouth";
const std::string kCommit = "H258p7q36c4q82twjnhf4ysdppucdrbyetq426z04kvdd07br24940";
const std::string kAnswer = "k2vugeqzcvgr0v9nuvd71ftt1p6wzs6hy8cew6fmeezjz18vw85e7h";
const std::string kReveal = "K2hnhg02d962mp8x4cgrfc8grrc86vyfhe4sw1px7cnknsxbnv9tp0";
const std::string kCallerProofFrame =
    "E1jcTjhuURZ6GpOkNLj31eZReZM6nbVAppT3gq7SjP2M4mnbFMgOlZdEeLE65lYlXIx6PYylMbiXyn31gJW7F0qk"
    "okHp8BvH3e5Ds/ZUMUPjkCOzn8Um1KPDdUgrixsewmLWmzfgqiD0K86lCAa7Pcs+uIB8qAKYJYvC2Jd43cSiV8mh"
    "1tshbF7zjJ4SkQany7xI=";
const std::string kCalleeProofFrame =
    "E5IFlu53mAMv3+W9d6KOkrIAOJCL/WNAinuwBPOWzbNV8G3j7WX7OI3b303gSUsmAcyiD0JhJFZrz61i+tnmEO+k"
    "9pPa6KLaLvsL++bFwj1uSBTxYCT0yM/aeH88OokN3W1UwA6JeVVDEZcdHcaK/dNLVu52XuPcb6tINNVGQ3uhb/3N"
    "dyCVu90s78s6qodOW9s4=";

struct Pair {
    CSecureChannel caller, callee;
    CIdentity idCaller, idCallee;
    // The worked example's agreement; bCallerV3/bCalleeV3: which sides took the version lines.
    void Agree(bool bCallerV3, bool bCalleeV3)
    {
        ASSERT_TRUE(idCaller.SetSecret(Bytes(kIdentity1)));
        ASSERT_TRUE(idCallee.SetSecret(Bytes(kIdentity2)));
        ASSERT_TRUE(caller.StartWithKey(CSecureChannel::Caller, Bytes(kAliceSecret)));
        ASSERT_TRUE(callee.StartWithKey(CSecureChannel::Callee, Bytes(kBobSecret)));
        if (bCallerV3) caller.UseVersion3();
        if (bCalleeV3) callee.UseVersion3();
        ASSERT_TRUE(callee.TakeCommit(kCommit));
        ASSERT_TRUE(caller.Complete(kAnswer, kCallerGreeting, kCalleeGreeting));
        ASSERT_TRUE(callee.Complete(kReveal, kCallerGreeting, kCalleeGreeting));
    }
};

TEST(Identity, Ed25519MatchesRfc8032AndRefusesAnyChange)
{
    CIdentity id;
    ASSERT_TRUE(id.SetSecret(Bytes(kIdentity1)));
    EXPECT_EQ(ToHex(id.PublicKey(), 32), "d75a980182b10ab7d54bfed3c964073a0ee172f3daa62325af021a68f707511a");
    EXPECT_EQ(id.Fingerprint(), kFingerprint1);
    unsigned char sig[64];
    ASSERT_TRUE(id.Sign(std::string(), sig));
    EXPECT_EQ(ToHex(sig, 64),
        "e5564300c360ac729086e2cc806e828a84877f1eb8e5d974d873e065224901555fb8821590a33bacc61e39701cf9b46bd25b"
        "f5f0"
        "595bbe24655141438e7a100b");
    EXPECT_TRUE(SecureCrypto::Ed25519Verify(id.PublicKey(), std::string(), sig));
    EXPECT_FALSE(SecureCrypto::Ed25519Verify(id.PublicKey(), std::string("x"), sig));
    sig[40] ^= 1;
    EXPECT_FALSE(SecureCrypto::Ed25519Verify(id.PublicKey(), std::string(), sig));
}

TEST(Identity, Version3GivesTheWorkedExampleCodeProofsAndFrames)
{
    Pair p;
    p.Agree(true, true);
    EXPECT_EQ(p.caller.Code(), "467 867");
    EXPECT_EQ(p.callee.Code(), "467 867");
    const std::string callerProof = p.caller.Seal(p.caller.ProofMessage(p.idCaller));
    const std::string calleeProof = p.callee.Seal(p.callee.ProofMessage(p.idCallee));
    EXPECT_EQ(callerProof, kCallerProofFrame + "\r");
    EXPECT_EQ(calleeProof, kCalleeProofFrame + "\r");
    EXPECT_EQ(p.callee.Seal("C\r"), "E4bWT/oT6d3rxXWj07DzawRCZ\r");
    EXPECT_EQ(p.caller.Seal("Shello\r"), "EqQ8NFvyoO+poocUfn36SNNR1kR2/SIc=\r");
    EXPECT_EQ(p.caller.Seal("X\r"), "EE/B+Ar0YZAI25ob7IeITyraa\r");
    std::string msg, fp;
    ASSERT_TRUE(p.callee.Open(kCallerProofFrame, &msg));
    ASSERT_TRUE(p.callee.TakeProof(msg, &fp));
    EXPECT_EQ(fp, kFingerprint1);
    ASSERT_TRUE(p.caller.Open(kCalleeProofFrame, &msg));
    ASSERT_TRUE(p.caller.TakeProof(msg, &fp));
    EXPECT_EQ(fp, kFingerprint2);
}

TEST(Identity, AVersionLineLostOnOneWayGivesTwoCodes)
{
    // Version 2 keeps its own code; a caller that took the callee's version line and a callee
    // that did not (or the other way round) never agree.
    for (const auto& sides : { std::make_pair(true, false), std::make_pair(false, true) }) {
        Pair p;
        p.Agree(sides.first, sides.second);
        EXPECT_NE(p.caller.Code(), p.callee.Code());
        std::string msg;
        EXPECT_FALSE(p.callee.Open(p.caller.Seal("Shello\r").substr(0, 33), &msg));
    }
    Pair v2;
    v2.Agree(false, false);
    EXPECT_EQ(v2.caller.Code(), "502 830");
    EXPECT_EQ(v2.caller.ProofMessage(v2.idCaller), "") << "no proof in version 2";
}

TEST(Identity, AProofOfAnotherCallOrRoleOrShapeIsRefused)
{
    std::string fp;
    // The caller's own proof sent back to it, as a relay would: signed as the caller, not the callee.
    Pair p;
    p.Agree(true, true);
    EXPECT_FALSE(p.caller.TakeProof(p.caller.ProofMessage(p.idCaller), &fp));
    EXPECT_FALSE(p.caller.Ready()) << "a refused proof ends the channel";
    // The callee's proof from another call (a man in the middle's other leg): another transcript.
    CSecureChannel caller, callee;
    ASSERT_TRUE(caller.Start(CSecureChannel::Caller) && callee.Start(CSecureChannel::Callee));
    caller.UseVersion3(), callee.UseVersion3();
    const std::string commit = caller.CommitLine(), answer = callee.KeyLine();
    ASSERT_TRUE(callee.TakeCommit(commit.substr(0, 54)) &&
        caller.Complete(answer.substr(0, 54), kCallerGreeting, kCalleeGreeting));
    ASSERT_TRUE(callee.Complete(caller.KeyLine().substr(0, 54), kCallerGreeting, kCalleeGreeting));
    Pair q;
    q.Agree(true, true);
    EXPECT_FALSE(q.caller.TakeProof(callee.ProofMessage(q.idCallee), &fp));
    // The right proof in a wrong shape.
    const std::string proof = q.callee.ProofMessage(q.idCallee);
    for (const std::string& bad : { proof.substr(0, proof.size() - 1), std::string("Q") + proof.substr(1),
             proof.substr(0, 60) + (proof[60] == 'A' ? "B" : "A") + proof.substr(61) }) {
        Pair r;
        r.Agree(true, true);
        EXPECT_FALSE(r.caller.TakeProof(bad, &fp)) << bad;
        EXPECT_EQ(fp, "");
    }
    Pair r;
    r.Agree(true, true);
    EXPECT_TRUE(r.caller.TakeProof(proof, &fp)) << "the same call's proof holds";
    EXPECT_EQ(fp, kFingerprint2);
}

TEST(Identity, FileRoundTripsAndRefusesDamage)
{
    const std::string pub = Unhex("d75a980182b10ab7d54bfed3c964073a0ee172f3daa62325af021a68f707511a");
    const std::string text = FormatIdentityFile(Bytes(pub), true, "\x01\x02\xff");
    EXPECT_EQ(text,
        "Kelvaro identity 1\r\npublic d75a980182b10ab7d54bfed3c964073a0ee172f3daa62325af021a68f707511a\r\n"
        "protected 0102ff\r\n");
    unsigned char back[32];
    bool bProtected = false;
    std::string blob;
    ASSERT_TRUE(ParseIdentityFile(text, back, &bProtected, &blob));
    EXPECT_TRUE(bProtected);
    EXPECT_EQ(blob, "\x01\x02\xff");
    EXPECT_EQ(std::string(reinterpret_cast<char*>(back), 32), pub);
    const std::string plain = FormatIdentityFile(Bytes(pub), false, kIdentity1);
    ASSERT_TRUE(ParseIdentityFile(plain, back, &bProtected, &blob));
    EXPECT_FALSE(bProtected);
    EXPECT_EQ(blob, kIdentity1);
    const std::string damaged[] = {
        "", text.substr(0, text.size() - 1), // cut short
        text + "x", // a stray byte
        "Kelvaro identity 2" + text.substr(18), // another format
        text.substr(0, 30) + "G" + text.substr(31), // no hex digit
        text.substr(0, 27) + text.substr(29), // a key a byte short
        plain.substr(0, plain.size() - 4) + "\r\n", // a secret a byte short
        "Kelvaro identity 1\r\npublic " + std::string(64, '0') + "\r\nprotected \r\n", // nothing protected
    };
    for (const std::string& d : damaged) EXPECT_FALSE(ParseIdentityFile(d, back, &bProtected, &blob)) << d;
}

TEST(VerifiedContacts, ClassifiesByFingerprintNeverByNameAlone)
{
    CVerifiedContacts contacts;
    ASSERT_TRUE(contacts.Add({ kFingerprint1, "bob", "host.example", "32760", "2026-12-08 10:00:00" }));
    EXPECT_FALSE(contacts.Add({ "21FE", "x", "", "", "" }));
    using T = CVerifiedContacts::Trust;
    EXPECT_EQ(contacts.Classify(kFingerprint1, "someone else"), T::Verified);
    EXPECT_EQ(contacts.Classify(kFingerprint2, "bob"), T::OtherKey);
    EXPECT_EQ(contacts.Classify("", "bob"), T::OtherKey);
    EXPECT_EQ(contacts.Classify(kFingerprint2, "alice"), T::Plain);
    EXPECT_TRUE(contacts.HasVerifiedPlace("HOST.example", "32760"));
    EXPECT_FALSE(contacts.HasVerifiedPlace("host.example", "32761"));
    EXPECT_FALSE(contacts.HasVerifiedPlace("host.example", ""));
    EXPECT_TRUE(contacts.Remove(kFingerprint1));
    EXPECT_EQ(contacts.Classify(kFingerprint1, "bob"), T::Plain);
}

TEST(VerifiedContacts, FileRoundTripsAndDamageCostsOnlyWhatItTouches)
{
    CVerifiedContacts contacts;
    contacts.Add({ kFingerprint1, CString("b\\o\tb\n"), "::1", "32760", "2026-12-08 10:00:00" });
    contacts.Add({ kFingerprint2, CString("\x82\xa0"), "10.0.0.2", "", "2026-12-08 11:00:00" });
    const std::string text = contacts.Format();
    const std::string line1 =
        std::string(kFingerprint1) + "\t2026-12-08 10:00:00\t32760\t::1\tb\\\\o\\tb\\n\r\n";
    const std::string line2 = std::string(kFingerprint2) + "\t2026-12-08 11:00:00\t\t10.0.0.2\t\x82\xa0\r\n";
    EXPECT_EQ(text, "Kelvaro verified contacts 1\r\n" + line1 + line2);
    const std::string header = "Kelvaro verified contacts 1\r\n";
    const struct {
        std::string text;
        size_t nTaken;
    } cases[] = {
        { text, 2 }, { header + line1 + line2.substr(0, line2.size() - 1), 1 }, // the last line cut short
        { header + line1 + line2.substr(0, 30), 1 },
        { "Kelvaro verified contacts 2\r\n" + line1, 0 }, // a later format is not guessed at
        { line1 + line2, 0 }, // no header
        { header + "x\r\n" + line2, 1 }, // a line of nothing
        { header + line1.substr(1) + line2, 1 }, // a fingerprint a character short
        { header + "\t\t\t\t\r\n" + line2, 1 },
        { header + std::string(kFingerprint1) + "\tw\tport\ta\tn\r\n" + line2, 1 }, // a port no number
        { header + std::string(kFingerprint1) + "\tw\t1\ta\tn\\q\r\n" + line2, 1 }, // an unknown escape
        { header + std::string(kFingerprint1) + "\tw\t1\ta\tn\tx\r\n" + line2, 1 }, // a field too many
        { header + line1 + line1, 1 }, // the same fingerprint twice: one contact
        { header + line1 + std::string("\0\xff\r\n", 4) + line2, 2 },
        { std::string("Kelvaro verified contacts 1\n") + line1, 1 }, // line feeds only
    };
    for (const auto& c : cases) {
        CVerifiedContacts back;
        back.Parse(c.text);
        EXPECT_EQ(back.All().size(), c.nTaken) << c.text;
    }
    CVerifiedContacts back;
    back.Parse(text);
    ASSERT_EQ(back.All().size(), 2u);
    EXPECT_EQ(back.All()[0].strName, CString("b\\o\tb\n"));
    EXPECT_EQ(back.All()[1].strPort, CString(""));
    EXPECT_EQ(back.Format(), text);
}

} // namespace
