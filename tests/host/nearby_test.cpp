// The multicast DNS reader and the discovery core: what goes on the wire when, what is listed.
#include "phonebook/NearbyCore.h"

#include <gtest/gtest.h>

#include <map>

namespace {

const std::string kLoop4("\x7f\x00\x00\x01", 4); // 127.0.0.1

std::string TypeName(uint16_t type)
{
    static const std::map<uint16_t, std::string> names = { { kDnsA, "A" }, { kDnsPtr, "PTR" },
        { kDnsTxt, "TXT" }, { kDnsSrv, "SRV" }, { kDnsAny, "ANY" } };
    return names.count(type) ? names.at(type) : std::to_string(type);
}

// A packet in short: "Q ANY name" per question, "TYPE name ttl" per record of any section.
std::string Describe(const std::vector<uint8_t>& bytes)
{
    DnsMessage m;
    if (!ReadDnsMessage(bytes.data(), bytes.size(), m)) return "unreadable";
    std::string s = m.IsResponse() ? "R" : "Q";
    for (const DnsQuestion& q : m.questions) s += " ?" + TypeName(q.type) + " " + DnsNameText(q.name);
    for (const auto* section : { &m.answers, &m.authorities, &m.additionals })
        for (const DnsRecord& r : *section)
            s += " " + TypeName(r.type) + " " + DnsNameText(r.name) + " " + std::to_string(r.ttl);
    return s;
}

std::vector<std::string> Sent(CNearbyCore& core)
{
    std::vector<std::string> out;
    for (const NearbySend& send : core.TakeSends()) out.push_back(Describe(send.bytes));
    return out;
}

CNearbyCore MakeCore()
{
    CNearbyCore core("pc");
    NearbyInterface iface;
    iface.id = 1;
    iface.v4 = kLoop4;
    core.SetInterfaces({ iface });
    core.SetService("名前", 32760, 0);
    return core;
}

DnsRecord Record(
    const DnsName& name, uint16_t type, uint32_t ttl, const DnsName& target = {}, uint16_t port = 0)
{
    DnsRecord r;
    r.name = name, r.type = type, r.ttl = ttl, r.target = target, r.port = port;
    return r;
}

// Another side's announcement of "相手" on port 5000 at 127.0.0.2 with the given TTL (its SRV
// and A records with srvTtl when given).
std::vector<uint8_t> PeerAnnouncement(
    uint32_t ttl, const std::string& name = "相手", uint16_t port = 5000, uint32_t srvTtl = ~0u)
{
    const uint32_t hostTtl = srvTtl == ~0u ? ttl : srvTtl;
    const DnsName instance { name, "_kelvaro", "_tcp", "local" };
    DnsMessage m;
    m.flags = 0x8400;
    m.answers.push_back(Record({ "_kelvaro", "_tcp", "local" }, kDnsPtr, ttl, instance));
    m.answers.push_back(Record(instance, kDnsSrv, hostTtl, { "other", "local" }, port));
    m.additionals.push_back(Record({ "other", "local" }, kDnsA, hostTtl));
    m.additionals.back().address = std::string("\x7f\x00\x00\x02", 4);
    return WriteDnsMessage(m);
}

void Feed(CNearbyCore& core, const std::vector<uint8_t>& packet, uint64_t now, uint16_t port = 5353)
{
    core.OnPacket(packet.data(), packet.size(), 1, std::string("\x7f\x00\x00\x02", 4), port, now);
}

} // namespace

TEST(DnsMessageTest, MalformedPacketsAreRefused)
{
    const struct {
        const char* what;
        std::string bytes;
    } cases[] = {
        { "header cut short", std::string("\0\0\x84\0\0\0", 6) },
        { "one answer announced, none there", std::string("\0\0\x84\0\0\0\0\1\0\0\0\0", 12) },
        { "pointer to itself", std::string("\0\0\0\0\0\1\0\0\0\0\0\0\xc0\x0c\0\1\0\1", 18) },
        { "pointer forward", std::string("\0\0\0\0\0\1\0\0\0\0\0\0\xc0\x0e\0\1\0\1", 18) },
        { "label past the end",
            std::string("\0\0\0\0\0\1\0\0\0\0\0\0\x05"
                        "ab",
                15) },
        { "A record of 3 bytes",
            std::string("\0\0\x84\0\0\0\0\1\0\0\0\0\1a\0\0\1\0\1\0\0\0\x78\0\3\1\2\3", 28) },
        { "record data longer than the packet",
            std::string("\0\0\x84\0\0\0\0\1\0\0\0\0\1a\0\0\1\0\1\0\0\0\x78\0\x10\1\2\3\4", 29) },
    };
    for (const auto& c : cases) {
        DnsMessage m;
        EXPECT_FALSE(ReadDnsMessage((const uint8_t*)c.bytes.data(), c.bytes.size(), m)) << c.what;
    }
    // A name of 256 bytes on the wire: 4 labels of 63 bytes and the root make 257.
    std::string name;
    for (int i = 0; i < 4; ++i) name += '\x3f' + std::string(63, 'x');
    const std::string longName =
        std::string("\0\0\0\0\0\1\0\0\0\0\0\0", 12) + name + std::string("\0\0\1\0\1", 5);
    DnsMessage m;
    EXPECT_FALSE(ReadDnsMessage((const uint8_t*)longName.data(), longName.size(), m));
}

TEST(DnsMessageTest, CompressedNamesAndRecordsAreRead)
{
    // A PTR answer whose name points to the question's and whose target adds a label to it.
    const std::string bytes("\0\0\x84\0\0\1\0\1\0\0\0\0"
                            "\x08_kelvaro\x04_tcp\x05local\0\0\x0c\0\1"
                            "\xc0\x0c\0\x0c\0\1\0\0\0\x78\0\x06\x03\xe5\x90\x8d\xc0\x0c",
        12 + 25 + 18);
    DnsMessage m;
    ASSERT_TRUE(ReadDnsMessage((const uint8_t*)bytes.data(), bytes.size(), m));
    ASSERT_EQ(1u, m.answers.size());
    EXPECT_EQ("_kelvaro._tcp.local.", DnsNameText(m.answers[0].name));
    EXPECT_EQ("\xe5\x90\x8d._kelvaro._tcp.local.", DnsNameText(m.answers[0].target));
    EXPECT_EQ(120u, m.answers[0].ttl);
}

TEST(NearbyCoreTest, ProbesThreeTimesThenAnnouncesTwiceAndSaysGoodbye)
{
    CNearbyCore core = MakeCore();
    core.SetAnnounce(true, 1000);
    const std::string probe = "Q ?ANY 名前._kelvaro._tcp.local. SRV 名前._kelvaro._tcp.local. 120 "
                              "TXT 名前._kelvaro._tcp.local. 120";
    const std::string announce = "R PTR _kelvaro._tcp.local. 120 SRV 名前._kelvaro._tcp.local. 120 "
                                 "TXT 名前._kelvaro._tcp.local. 120 A pc.local. 120";
    const struct {
        uint64_t at;
        std::vector<std::string> sent;
        uint64_t next;
    } steps[] = {
        { 1000, { probe }, 1250 },
        { 1250, { probe }, 1500 },
        { 1500, { probe }, 1750 },
        { 1750, { announce }, 2750 },
        { 2750, { announce }, CNearbyCore::kNever },
    };
    for (const auto& step : steps) {
        EXPECT_EQ(step.at, core.NextDeadline());
        core.OnTimer(step.at);
        EXPECT_EQ(step.sent, Sent(core)) << "at " << step.at;
        EXPECT_EQ(step.next, core.NextDeadline()) << "after " << step.at;
    }
    core.SetAnnounce(false, 3000);
    EXPECT_EQ(std::vector<std::string> { "R PTR _kelvaro._tcp.local. 0 SRV 名前._kelvaro._tcp.local. 0 "
                                         "TXT 名前._kelvaro._tcp.local. 0" },
        Sent(core));
}

TEST(NearbyCoreTest, ATakenNameIsProbedAgainAsTheNextNumber)
{
    CNearbyCore core = MakeCore();
    core.SetAnnounce(true, 0);
    core.OnTimer(0);
    Sent(core);
    Feed(core, PeerAnnouncement(120, "名前", 5000), 100);
    EXPECT_EQ("名前 (2)", core.InstanceName());
    core.OnTimer(100);
    const std::vector<std::string> sent = Sent(core);
    ASSERT_FALSE(sent.empty());
    EXPECT_EQ(0u, sent[0].find("Q ?ANY 名前 (2)._kelvaro._tcp.local."));
    // The other side keeps "名前" and is listed; this side's own name is not.
    ASSERT_EQ(1u, core.Peers().size());
    EXPECT_EQ("名前", core.Peers()[0].name);
}

TEST(NearbyCoreTest, OwnProbeLoopedBackIsNoConflictAndAHigherProbeDefersOneSecond)
{
    CNearbyCore core = MakeCore();
    core.SetAnnounce(true, 0);
    core.OnTimer(0);
    const std::vector<NearbySend> own = core.TakeSends();
    ASSERT_EQ(1u, own.size());
    Feed(core, own[0].bytes, 10);
    EXPECT_EQ(250u, core.NextDeadline());
    DnsMessage probe;
    probe.questions.push_back(DnsQuestion());
    probe.questions[0].name = { "名前", "_kelvaro", "_tcp", "local" };
    probe.questions[0].type = kDnsAny;
    // Port 65000 sorts above this side's 32760.
    probe.authorities.push_back(Record(probe.questions[0].name, kDnsSrv, 120, { "other", "local" }, 65000));
    Feed(core, WriteDnsMessage(probe), 20);
    EXPECT_EQ(1020u, core.NextDeadline());
    EXPECT_EQ("名前", core.InstanceName());
}

TEST(NearbyCoreTest, PeersComeWithTheirAnswerAndLeaveOnGoodbyeOrWhenTheirTtlEnds)
{
    CNearbyCore core = MakeCore();
    Feed(core, PeerAnnouncement(120), 1000);
    ASSERT_TRUE(core.TakePeersChanged());
    ASSERT_EQ(1u, core.Peers().size());
    EXPECT_EQ("相手", core.Peers()[0].name);
    EXPECT_EQ(5000, core.Peers()[0].port);
    EXPECT_EQ(std::vector<std::string> { std::string("\x7f\x00\x00\x02", 4) }, core.Peers()[0].addresses);

    Feed(core, PeerAnnouncement(0), 2000);
    EXPECT_TRUE(core.TakePeersChanged());
    EXPECT_TRUE(core.Peers().empty()) << "gone at once on its goodbye";

    // A long-lived PTR, a short SRV (as python-zeroconf sends them): the SRV is asked for again.
    Feed(core, PeerAnnouncement(4500, "相手", 5000, 10), 3000);
    EXPECT_EQ(1u, core.Peers().size());
    EXPECT_EQ(11000u, core.NextDeadline()) << "the refresh query at 80 % of the SRV's TTL";
    core.OnTimer(11000);
    EXPECT_EQ(std::vector<std::string> { "Q ?PTR _kelvaro._tcp.local. ?SRV 相手._kelvaro._tcp.local. "
                                         "PTR _kelvaro._tcp.local. 4492" },
        Sent(core));
    core.OnTimer(12999);
    EXPECT_EQ(1u, core.Peers().size());
    core.OnTimer(13000);
    EXPECT_TRUE(core.Peers().empty()) << "gone when its TTL ends unanswered";
}

TEST(NearbyCoreTest, QueriesCarryKnownAnswersAndAnswersAreSuppressedByThemAndByTheRate)
{
    CNearbyCore core = MakeCore();
    core.Start(0);
    core.OnTimer(0);
    EXPECT_EQ(std::vector<std::string> { "Q ?PTR _kelvaro._tcp.local." }, Sent(core));
    Feed(core, PeerAnnouncement(120), 500);
    core.OnTimer(1000);
    EXPECT_EQ(
        std::vector<std::string> { "Q ?PTR _kelvaro._tcp.local. PTR _kelvaro._tcp.local. 119" }, Sent(core));
    EXPECT_EQ(3000u, core.NextDeadline()) << "the next query twice as late";

    core.SetAnnounce(true, 2000);
    for (uint64_t t : { 2000, 2250, 2500, 2750, 3750 }) core.OnTimer(t);
    Sent(core);
    const struct {
        uint64_t at;
        uint32_t knownTtl; // 0: no known answer
        size_t answers;
    } cases[] = { { 4000, 0, 1 }, { 4100, 0, 0 }, { 4250, 120, 0 }, { 4250, 60, 0 }, { 4250, 59, 1 } };
    for (const auto& c : cases) {
        DnsMessage query;
        query.questions.push_back(DnsQuestion());
        query.questions[0].name = { "_kelvaro", "_tcp", "local" };
        query.questions[0].type = kDnsPtr;
        if (c.knownTtl) {
            query.answers.push_back(Record(
                query.questions[0].name, kDnsPtr, c.knownTtl, { "名前", "_kelvaro", "_tcp", "local" }));
        }
        Feed(core, WriteDnsMessage(query), c.at);
        EXPECT_EQ(c.answers, core.TakeSends().size())
            << "at " << c.at << ", known answer with TTL " << c.knownTtl;
    }
}

TEST(NearbyCoreTest, OneShotQueryIsAnsweredToTheAskerWithItsId)
{
    CNearbyCore core = MakeCore();
    core.SetAnnounce(true, 0);
    for (uint64_t t : { 0, 250, 500, 750 }) core.OnTimer(t);
    Sent(core);
    DnsMessage query;
    query.id = 0x1234;
    query.questions.push_back(DnsQuestion());
    query.questions[0].name = { "名前", "_kelvaro", "_tcp", "local" };
    query.questions[0].type = kDnsSrv;
    Feed(core, WriteDnsMessage(query), 800, 40000);
    const std::vector<NearbySend> sends = core.TakeSends();
    ASSERT_EQ(1u, sends.size());
    EXPECT_EQ(std::string("\x7f\x00\x00\x02", 4), sends[0].address);
    EXPECT_EQ(40000, sends[0].port);
    EXPECT_EQ("R ?SRV 名前._kelvaro._tcp.local. SRV 名前._kelvaro._tcp.local. 10 "
              "TXT 名前._kelvaro._tcp.local. 10 A pc.local. 10",
        Describe(sends[0].bytes));
    EXPECT_EQ(0x12, sends[0].bytes[0]);
    EXPECT_EQ(0x34, sends[0].bytes[1]);
}

TEST(NearbyCoreTest, AtMost256PeersAreKept)
{
    CNearbyCore core = MakeCore();
    for (int i = 0; i < 300; ++i) Feed(core, PeerAnnouncement(120, "p" + std::to_string(i)), 1000);
    EXPECT_EQ(256u, core.Peers().size());
    EXPECT_EQ("p255", core.Peers().back().name);
}
