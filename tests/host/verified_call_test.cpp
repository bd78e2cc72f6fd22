// Verified contacts between two call cores: what each side shows, boxes and records when the
// partner proves a verified identity, an unverified one, another one under a verified contact's
// name or place, none (an older copy), or talks plain; the version lines stripped on the way.
#include "tests/host/test_keys.h"
#include "tests/host/core_pair.h"

#include <gtest/gtest.h>

#include <functional>
#include <regex>
#include <string>
#include <vector>

namespace {

// RFC 8032 section 7.1 tests 1 and 2 as the two identities, and a third key; their fingerprints.
const std::string& kNorthKey = kIdentity1;
const std::string& kSouthKey = kIdentity2;
const char kNorthFp[] = "21fe31dfa154a261626bf854046fd2271b7bed4b6abe45aa58877ef47f9721b9";
const char kSouthFp[] = "39f713d0a644253f04529421b9f51b9b08979d08295959c4f3990ee617f5139f";
const char kOtherFp[] = "0000000000000000000000000000000000000000000000000000000000000001";

const char kWarnHead[] = "この相手は、確認済みの相手と名前か宛先が同じですが、";
const char kWarnTail[] =
    "\r\n\r\n別の人がなりすましている可能性があります。番号を読み合わせて、もう一度確認してください。";
const char kWarnOther[] = "確認したときとは違う鍵で本人であることを示しました。";
const char kWarnNone[] = "本人であることを示す鍵を示しませんでした。";
const char kWarnPlain[] = "暗号化せずにかかってきたか、応答しました。";

struct Side {
    CCallCore core { 10035 };
    CIdentity identity;
    CVerifiedContacts contacts;
    std::vector<std::string> received, boxes, trust, verified;
    std::vector<CallFx::KeyWarning> warnings;
    CCallLook look;
    explicit Side(const std::string& key)
    {
        const bool bOk = identity.SetSecret(reinterpret_cast<const unsigned char*>(key.data()));
        EXPECT_TRUE(bOk);
        core.SetTrust(&identity, &contacts);
    }
};

const char* const kTrustNames[] = { "verified", "unverified", "missing", "changed", "verified now" };

void TakeEffect(Side& s, const CCallEffect& e)
{
    if (auto* pList = std::get_if<CallFx::ListReceived>(&e))
        for (const CString& line : pList->lines) s.received.push_back(line.str());
    if (auto* pBox = std::get_if<CallFx::ShowText>(&e)) s.boxes.push_back(pBox->strText.str());
    if (auto* pWarn = std::get_if<CallFx::KeyWarning>(&e)) s.warnings.push_back(*pWarn);
    if (auto* pVerify = std::get_if<CallFx::Verify>(&e))
        s.verified.push_back(pVerify->contact.strFingerprint + " " + pVerify->contact.strName.str() + " " +
            pVerify->contact.strAddress.str() + " " + pVerify->contact.strPort.str());
    const auto* pRecord = std::get_if<CallFx::Record>(&e);
    if (const auto* pTrust = pRecord ? std::get_if<CallRec::Trust>(&pRecord->what) : nullptr)
        s.trust.push_back(std::string(kTrustNames[pTrust->kind]) + " " + pTrust->strFingerprint);
}

// North calls south with their own keys.
struct Pair : CorePair<Side> {
    Pair() : CorePair<Side>(kNorthKey, kSouthKey) { }
};

std::string Masked(const CString& s)
{
    return std::regex_replace(s.str(), std::regex("[0-9]{3} [0-9]{3}"), "NNN NNN");
}

void Erase(std::string& bytes, const std::string& what)
{
    for (size_t at; (at = bytes.find(what)) != std::string::npos;) bytes.erase(at, what.size());
}

// Each row: who the caller has verified, what happens on the wire, and what the caller then
// shows, boxes and records.
TEST(VerifiedCall, TheCallerShowsWhoTheCalleeProvedToBe)
{
    const struct {
        const char* what;
        std::vector<CVerifiedContact> contacts;
        bool bCalleeHasIdentity;
        std::function<void(std::string&)> toCallee;
        const char* secure;
        bool bVerifyShown;
        const char* warning; // the middle of the warning, or null for none
        const char* trust;
    } rows[] = {
        { "verified", { { kSouthFp, "someone", "", "", "" } }, true, nullptr, "暗号化 確認済み", false,
            nullptr, "verified 39f713d0a644253f04529421b9f51b9b08979d08295959c4f3990ee617f5139f" },
        { "unverified", {}, true, nullptr, "暗号化 NNN NNN", true, nullptr,
            "unverified 39f713d0a644253f04529421b9f51b9b08979d08295959c4f3990ee617f5139f" },
        { "changed: a verified name", { { kOtherFp, "south", "", "", "" } }, true, nullptr,
            "暗号化 NNN NNN ※鍵が違います", true, kWarnOther,
            "changed 39f713d0a644253f04529421b9f51b9b08979d08295959c4f3990ee617f5139f" },
        { "changed: a verified place", { { kOtherFp, "x", "127.0.0.1", "5000", "" } }, true, nullptr,
            "暗号化 NNN NNN ※鍵が違います", true, kWarnOther,
            "changed 39f713d0a644253f04529421b9f51b9b08979d08295959c4f3990ee617f5139f" },
        { "another place is no match", { { kOtherFp, "x", "127.0.0.1", "5001", "" } }, true, nullptr,
            "暗号化 NNN NNN", true, nullptr,
            "unverified 39f713d0a644253f04529421b9f51b9b08979d08295959c4f3990ee617f5139f" },
        { "missing: an older copy", {}, false, nullptr, "暗号化 NNN NNN", false, nullptr, "missing " },
        { "missing under a verified name", { { kSouthFp, "south", "", "", "" } }, false, nullptr,
            "暗号化 NNN NNN ※鍵が違います", false, kWarnNone, "changed " },
        { "version line stripped on the way", { { kSouthFp, "south", "", "", "" } }, true,
            [](std::string& b) { Erase(b, "V3\r"); }, "暗号化 NNN NNN ※鍵が違います", false, kWarnNone,
            "changed " },
        { "plain under a verified name", { { kSouthFp, "south", "", "", "" } }, true,
            [](std::string& b) {
                Erase(b, "V3\r");
                b = std::regex_replace(b, std::regex("H2[0-9b-z]{52}\r"), "");
            },
            "暗号化なし ※鍵が違います", false, kWarnPlain, "changed " },
        { "plain, nobody verified", {}, true,
            [](std::string& b) { b = std::regex_replace(b, std::regex("H2[0-9b-z]{52}\r"), ""); },
            "暗号化なし", false, nullptr, nullptr },
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        Pair p;
        for (const CVerifiedContact& c : row.contacts) ASSERT_TRUE(p.caller.contacts.Add(c));
        if (!row.bCalleeHasIdentity) p.callee.core.SetTrust(nullptr, nullptr);
        if (row.toCallee) p.toCallee = row.toCallee;
        p.Talk();
        EXPECT_EQ(Masked(p.caller.look.strSecure), row.secure);
        EXPECT_EQ(p.caller.look.bVerifyShown, row.bVerifyShown);
        ASSERT_EQ(p.caller.warnings.size(), row.warning ? 1u : 0u);
        if (row.warning) {
            EXPECT_EQ(p.caller.warnings[0].strText.str(), kWarnHead + std::string(row.warning) + kWarnTail);
        }
        EXPECT_EQ(
            p.caller.trust, row.trust ? std::vector<std::string> { row.trust } : std::vector<std::string> {});
        EXPECT_TRUE(p.caller.boxes.empty());
    }
}

TEST(VerifiedCall, VersionThreeKeepsOneCodeAndListsLinesBothWays)
{
    Pair p;
    p.Talk();
    EXPECT_NE(p.toCalleeWire.find("i1north\rInorthV3\rH2"), std::string::npos)
        << "the version line before the commitment";
    EXPECT_EQ(p.caller.look.strSecure, p.callee.look.strSecure);
    EXPECT_TRUE(p.callee.look.bVerifyShown);
    EXPECT_EQ(p.callee.trust, std::vector<std::string> { "unverified " + std::string(kNorthFp) });
    p.caller.core.PressEnter("hello");
    p.callee.core.PressEnter("world");
    p.Settle();
    EXPECT_EQ(p.callee.received, std::vector<std::string> { "hello" });
    EXPECT_EQ(p.caller.received, std::vector<std::string> { "world" });
}

TEST(VerifiedCall, TheCalleesVersionLineLostOnTheWayEndsTheCallAsTampered)
{
    Pair p;
    p.toCaller = [](std::string& b) { Erase(b, "V3\r"); };
    p.Talk();
    EXPECT_FALSE(p.caller.look.bSecureShown && p.callee.look.bSecureShown)
        << "two codes: the first frame fails";
    EXPECT_EQ(p.callee.boxes.size() + p.caller.boxes.size(), 1u);
}

TEST(VerifiedCall, TypedLinesWaitUntilTheWarningIsAnswered)
{
    Pair p;
    p.caller.contacts.Add({ kOtherFp, "south", "", "", "" });
    p.Talk();
    ASSERT_EQ(p.caller.warnings.size(), 1u);
    p.caller.core.PressEnter("secret");
    p.Settle();
    EXPECT_TRUE(p.callee.received.empty());
    p.caller.core.WarningAnswered(CallConn::Out, p.caller.warnings[0].nGeneration);
    p.caller.core.PressEnter("secret");
    p.Settle();
    EXPECT_EQ(p.callee.received, std::vector<std::string> { "secret" });
}

TEST(VerifiedCall, TheButtonVerifiesTheShownPartnerOnce)
{
    Pair p;
    p.caller.contacts.Add({ kOtherFp, "south", "", "", "" }); // a verified name with another key
    p.Talk();
    p.caller.core.WarningAnswered(CallConn::Out, p.caller.warnings[0].nGeneration);
    p.caller.core.PressVerify();
    p.callee.core.PressVerify();
    p.Take(p.caller), p.Take(p.callee);
    EXPECT_EQ(
        p.caller.verified, std::vector<std::string> { std::string(kSouthFp) + " south 127.0.0.1 5000" });
    EXPECT_EQ(p.callee.verified, std::vector<std::string> { std::string(kNorthFp) + " north 127.0.0.1 " });
    EXPECT_EQ(p.caller.look.strSecure, CString("暗号化 確認済み"));
    EXPECT_FALSE(p.caller.look.bVerifyShown);
    EXPECT_EQ(p.caller.trust.back(), "verified now " + std::string(kSouthFp));
    p.caller.core.PressVerify();
    p.Take(p.caller);
    EXPECT_EQ(p.caller.verified.size(), 1u) << "the button is gone";
}

} // namespace
