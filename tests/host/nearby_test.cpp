// The multicast DNS reader and the discovery core: what goes on the wire when, what is listed.
#include "phonebook/NearbyCore.h"
#include "phonebook/NearbyLabel.h"

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

// Random delays at their shortest unless a test says otherwise.
CNearbyCore MakeCore(uint32_t random = 0)
{
    CNearbyCore core("pc");
    core.SetRandom([random] { return random; });
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

void Feed(CNearbyCore& core, const std::vector<uint8_t>& packet, uint64_t now, uint16_t port = 5353,
    const std::string& from = std::string("\x7f\x00\x00\x02", 4))
{
    core.OnPacket(packet.data(), packet.size(), 1, from, port, now);
}

// A peer's announcement at `at`, then its answer to the question that follows 20 ms later.
void Resolve(CNearbyCore& core, const std::vector<uint8_t>& announcement, uint64_t at)
{
    Feed(core, announcement, at);
    core.OnTimer(at + 20);
    core.TakeSends();
    Feed(core, announcement, at + 30);
}

// Announces "名前" through probing, from 0 to 1750; what was sent is taken.
void Announce(CNearbyCore& core)
{
    core.SetAnnounce(true, 0);
    for (uint64_t t : { 0, 250, 500, 750, 1750 }) core.OnTimer(t);
    core.TakeSends();
}

DnsMessage Query(const DnsName& name, uint16_t type, bool bUnicast = false)
{
    DnsMessage m;
    m.questions.push_back(DnsQuestion());
    m.questions[0].name = name;
    m.questions[0].type = type;
    m.questions[0].bUnicastResponse = bUnicast;
    return m;
}

const DnsName kService { "_kelvaro", "_tcp", "local" };
const DnsName kMine { "名前", "_kelvaro", "_tcp", "local" };

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

TEST(DnsMessageTest, WriterCompressesNamesAsTheBytesShow)
{
    DnsMessage m;
    m.flags = kDnsFlagsResponse;
    m.answers.push_back(Record(kService, kDnsPtr, 4500, { "a", "_kelvaro", "_tcp", "local" }));
    m.answers.push_back(Record({ "a", "_kelvaro", "_tcp", "local" }, kDnsSrv, 120, { "h", "local" }, 5000));
    m.answers.back().bCacheFlush = true;
    const std::string expected("\0\0\x84\0\0\0\0\x02\0\0\0\0"
                               "\x08_kelvaro\x04_tcp\x05local\0"
                               "\0\x0c\0\x01\0\0\x11\x94\0\x04\x01"
                               "a\xc0\x0c"
                               "\xc0\x2b\0\x21\x80\x01\0\0\0\x78\0\x0a\0\0\0\0\x13\x88\x01h\xc0\x1a",
        69);
    const std::vector<uint8_t> bytes = WriteDnsMessage(m);
    EXPECT_EQ(expected, std::string(bytes.begin(), bytes.end()));
}

TEST(NearbyLabelTest, NamesAreCleanedAndTheMarkStaysVisible)
{
    const struct {
        std::string raw, clean;
    } names[] = {
        { "佐藤" + std::string(57, ' '), "佐藤" },
        { std::string("山田\0zz", 9), "山田\xef\xbf\xbdzz" },
        { std::string("\0", 1), "" },
        { "\xe2\x80\x8b \x07", "" }, // a zero-width space and BEL: nothing to show
        { "a\r\n\tb\x1b", "a b\xef\xbf\xbd" },
        { "\xe3\x80\x80 x \xc2\xa0 y ", "x y" }, // ideographic and no-break spaces
        { "abc\xe2\x80\xae\xff", "abc\xef\xbf\xbd\xef\xbf\xbd" }, // right-to-left override, a stray byte
        { "   ", "" },
        { std::string(40, 'x'), std::string(31, 'x') + "\xe2\x80\xa6" },
    };
    for (const auto& n : names) EXPECT_EQ(n.clean, CleanNearbyName(n.raw)) << n.raw;

    // The name is cut to what fits; the mark is always composed after it.
    const auto fitsSix = [](const std::string& s) { return s.size() <= 6; };
    EXPECT_EQ("abcdef", FitNearbyName("abcdef", fitsSix));
    EXPECT_EQ("abc\xe2\x80\xa6", FitNearbyName("abcdefgh", fitsSix));
    EXPECT_EQ(
        "a\xe2\x80\xa6", FitNearbyName("a bcdefgh", [](const std::string& s) { return s.size() <= 4; }));
    EXPECT_EQ("\xe5\x90\x8d\xe2\x80\xa6", FitNearbyName("名前です", fitsSix)) << "cut between characters";
    EXPECT_EQ("x\xe2\x80\xa6", FitNearbyName("xyz", [](const std::string&) { return false; }));
    const struct {
        NearbyMark mark;
        bool bMoved;
        const char* label;
    } labels[] = {
        { NearbyMark::Plain, false, "山田 (近く)" },
        { NearbyMark::Verified, false, "山田 (近く・確認済み)" },
        { NearbyMark::OtherKey, false, "山田 (近く・別の鍵)" },
        { NearbyMark::Plain, true, "山田 (近く・変更あり)" },
        { NearbyMark::Verified, true, "山田 (近く・確認済み・変更あり)" },
    };
    for (const auto& l : labels) EXPECT_STREQ(l.label, NearbyLabel("山田", l.mark, l.bMoved));
}

TEST(NearbyCoreTest, ProbesThreeTimesThenAnnouncesTwiceAndSaysGoodbye)
{
    CNearbyCore core = MakeCore();
    core.SetAnnounce(true, 1000);
    // The host name is probed with the instance; PTR and TXT live 4500 s, the others 120 s.
    const std::string probe =
        "Q ?ANY 名前._kelvaro._tcp.local. ?ANY pc.local. SRV 名前._kelvaro._tcp.local. 120 "
        "TXT 名前._kelvaro._tcp.local. 4500 A pc.local. 120";
    const std::string announce = "R PTR _kelvaro._tcp.local. 4500 SRV 名前._kelvaro._tcp.local. 120 "
                                 "TXT 名前._kelvaro._tcp.local. 4500 A pc.local. 120";
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

TEST(NearbyCoreTest, FirstProbeAndFirstQueryWaitAtRandom)
{
    // 0 to 250 ms before the first probe, 20 to 120 ms before the first query.
    const struct {
        uint32_t random;
        uint64_t probe, query;
    } cases[] = { { 0, 1000, 1020 }, { 100, 1100, 1120 }, { 250, 1250, 1068 }, { 251, 1000, 1069 } };
    for (const auto& c : cases) {
        CNearbyCore a = MakeCore(c.random), b = MakeCore(c.random);
        a.SetAnnounce(true, 1000);
        b.Start(1000);
        EXPECT_EQ(c.probe, a.NextDeadline()) << c.random;
        EXPECT_EQ(c.query, b.NextDeadline()) << c.random;
    }
}

TEST(NearbyCoreTest, OwnFingerprintIsAnnouncedAndAPeersIsKeptOnlyWhenWellFormed)
{
    const std::string fp(64, 'a');
    CNearbyCore core = MakeCore();
    core.SetFingerprint(fp, 0);
    Announce(core);
    DnsMessage m = Query(kMine, kDnsTxt);
    Feed(core, WriteDnsMessage(m), 5000);
    const std::vector<NearbySend> sends = core.TakeSends();
    ASSERT_EQ(1u, sends.size());
    DnsMessage answer;
    ASSERT_TRUE(ReadDnsMessage(sends[0].bytes.data(), sends[0].bytes.size(), answer));
    ASSERT_EQ(1u, answer.answers.size());
    EXPECT_EQ((std::vector<std::string> { "txtvers=1", "secure=2", "fp=" + fp }), answer.answers[0].txt);

    const struct {
        std::string txt, kept;
    } cases[] = {
        { "fp=" + std::string(64, '0'), std::string(64, '0') },
        { "fp=" + std::string(64, 'A'), "" },
        { "fp=" + std::string(63, '0'), "" },
        { "fp=" + std::string(65, '0'), "" },
        { "fp=" + std::string(63, '0') + "g", "" },
        { "fp", "" },
    };
    for (const auto& c : cases) {
        CNearbyCore other = MakeCore();
        DnsMessage peer;
        ReadDnsMessage(PeerAnnouncement(120).data(), PeerAnnouncement(120).size(), peer);
        peer.answers.push_back(Record({ "相手", "_kelvaro", "_tcp", "local" }, kDnsTxt, 4500));
        peer.answers.back().txt = { "txtvers=1", c.txt };
        Feed(other, WriteDnsMessage(peer), 1000);
        ASSERT_EQ(1u, other.Peers().size());
        EXPECT_EQ(c.kept, other.Peers()[0].fingerprint) << c.txt;
    }
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

TEST(NearbyCoreTest, AConflictOnceAnnouncedProbesTheSameNameAgain)
{
    CNearbyCore core = MakeCore();
    Announce(core);
    // One forged SRV and A for this side's names, with the cache-flush bit.
    DnsMessage forged;
    forged.flags = kDnsFlagsResponse;
    forged.answers.push_back(Record(kMine, kDnsSrv, 120, { "pc", "local" }, 9999));
    forged.answers.push_back(Record({ "pc", "local" }, kDnsA, 120));
    forged.answers.back().address = std::string("\x0a\0\0\x09", 4);
    for (DnsRecord& r : forged.answers) r.bCacheFlush = true;
    Feed(core, WriteDnsMessage(forged), 5000, 5353, std::string("\x0a\0\0\x09", 4));
    EXPECT_EQ(5000u, core.NextDeadline());
    for (uint64_t t : { 5000, 5250, 5500, 5750 }) core.OnTimer(t);
    const std::vector<std::string> sent = Sent(core);
    ASSERT_EQ(4u, sent.size());
    EXPECT_EQ(0u, sent[2].find("Q ?ANY 名前._kelvaro._tcp.local. ?ANY pc.local.")) << "probing again";
    EXPECT_EQ(0u, sent[3].find("R PTR _kelvaro._tcp.local. 4500 SRV 名前._kelvaro._tcp.local.")) << sent[3];
    EXPECT_EQ("名前", core.InstanceName());
    EXPECT_EQ("pc", core.HostLabel());
}

TEST(NearbyCoreTest, SimultaneousProbesCompareSortedRecordsAndAHostNameConflictRenamesTheHost)
{
    const struct {
        uint16_t port;
        const char* address;
        uint64_t next; // 1020: this side lost and probes a second later
    } cases[] = { { 65000, "\x7f\0\0\x01", 1020 }, { 32760, "\x7f\0\0\x01", 250 },
        { 100, "\x7f\0\0\x01", 250 }, { 32760, "\x7f\0\0\x02", 1020 } };
    for (const auto& c : cases) {
        CNearbyCore core = MakeCore();
        core.SetAnnounce(true, 0);
        core.OnTimer(0);
        core.TakeSends();
        DnsMessage probe = Query(kMine, kDnsAny);
        probe.questions.push_back(Query({ "pc", "local" }, kDnsAny).questions[0]);
        probe.authorities.push_back(Record(kMine, kDnsTxt, 4500));
        probe.authorities.back().txt = { "txtvers=1", "secure=2" };
        probe.authorities.push_back(Record(kMine, kDnsSrv, 120, { "pc", "local" }, c.port));
        probe.authorities.push_back(Record({ "pc", "local" }, kDnsA, 120));
        probe.authorities.back().address = std::string(c.address, 4);
        Feed(core, WriteDnsMessage(probe), 20);
        EXPECT_EQ(c.next, core.NextDeadline()) << c.port;
        EXPECT_EQ("名前", core.InstanceName());
    }
    // An answer with another address for the host name while probing: a new host name.
    CNearbyCore core = MakeCore();
    core.SetAnnounce(true, 0);
    core.OnTimer(0);
    core.TakeSends();
    DnsMessage answer;
    answer.flags = kDnsFlagsResponse;
    answer.answers.push_back(Record({ "pc", "local" }, kDnsA, 120));
    answer.answers.back().address = std::string("\x0a\0\0\x01", 4);
    Feed(core, WriteDnsMessage(answer), 100);
    EXPECT_EQ("pc-2", core.HostLabel());
    EXPECT_EQ("名前", core.InstanceName());
}

TEST(NearbyCoreTest, PeersComeWithTheirAnswerAndLeaveASecondAfterGoodbyeOrWhenTheirTtlEnds)
{
    CNearbyCore core = MakeCore();
    Resolve(core, PeerAnnouncement(120), 1000);
    ASSERT_TRUE(core.TakePeersChanged());
    ASSERT_EQ(1u, core.Peers().size());
    EXPECT_EQ("相手", core.Peers()[0].name);
    EXPECT_EQ(5000, core.Peers()[0].port);
    EXPECT_EQ(std::vector<std::string> { std::string("\x7f\x00\x00\x02", 4) }, core.Peers()[0].addresses);

    // A goodbye takes a second; the peer's own announcement within it keeps it.
    Feed(core, PeerAnnouncement(0), 2000);
    EXPECT_EQ(3000u, core.NextDeadline());
    Feed(core, PeerAnnouncement(120), 2500);
    core.OnTimer(3000);
    EXPECT_EQ(1u, core.Peers().size()) << "a forged goodbye undone by the peer";
    Feed(core, PeerAnnouncement(0), 4000);
    core.OnTimer(4999);
    EXPECT_EQ(1u, core.Peers().size());
    core.OnTimer(5000);
    EXPECT_TRUE(core.Peers().empty()) << "gone a second after its goodbye";

    // A long-lived PTR, a short SRV (as python-zeroconf sends them): the SRV is asked for again.
    Resolve(core, PeerAnnouncement(4500, "相手", 5000, 10), 6000);
    EXPECT_EQ(1u, core.Peers().size());
    EXPECT_EQ(14030u, core.NextDeadline()) << "the refresh query at 80 % of the SRV's TTL";
    core.OnTimer(14030);
    EXPECT_EQ(std::vector<std::string> { "Q ?PTR _kelvaro._tcp.local. ?SRV 相手._kelvaro._tcp.local. "
                                         "PTR _kelvaro._tcp.local. 4492" },
        Sent(core));
    core.OnTimer(16029);
    EXPECT_EQ(1u, core.Peers().size());
    core.OnTimer(16030);
    EXPECT_TRUE(core.Peers().empty()) << "gone when its TTL ends unanswered";

    // A TTL of 0xFFFFFFFF lives 4500 s.
    Feed(core, PeerAnnouncement(0xFFFFFFFFu), 20000);
    core.OnTimer(20000 + 4499999);
    EXPECT_EQ(1u, core.Peers().size());
    core.OnTimer(20000 + 4500000);
    EXPECT_TRUE(core.Peers().empty());
}

TEST(NearbyCoreTest, AGoodbyeForOwnRecordsIsAnsweredByAnnouncingThemAgain)
{
    CNearbyCore core = MakeCore();
    Announce(core);
    DnsMessage goodbye;
    goodbye.flags = kDnsFlagsResponse;
    goodbye.answers.push_back(Record(kService, kDnsPtr, 0, kMine));
    Feed(core, WriteDnsMessage(goodbye), 9000);
    EXPECT_EQ(std::vector<std::string> { "R PTR _kelvaro._tcp.local. 4500 SRV 名前._kelvaro._tcp.local. 120 "
                                         "TXT 名前._kelvaro._tcp.local. 4500 A pc.local. 120" },
        Sent(core));
}

TEST(NearbyCoreTest, PacketsThatAreNotStandardResponsesFromPort5353AreIgnored)
{
    const struct {
        uint16_t flags, port;
        size_t peers;
    } cases[] = { { 0x8400, 5353, 1 }, { 0x8400, 5354, 0 }, { 0x8C00, 5353, 0 } /* opcode 1 */,
        { 0x8403, 5353, 0 } /* rcode 3 */ };
    for (const auto& c : cases) {
        CNearbyCore core = MakeCore();
        std::vector<uint8_t> packet = PeerAnnouncement(120);
        packet[2] = (uint8_t)(c.flags >> 8), packet[3] = (uint8_t)c.flags;
        Feed(core, packet, 1000, c.port);
        EXPECT_EQ(c.peers, core.Peers().size()) << std::hex << c.flags << " from " << std::dec << c.port;
    }
}

TEST(NearbyCoreTest, AnswersAreDelayedSuppressedAndSentAtMostOnceASecond)
{
    CNearbyCore core = MakeCore();
    Announce(core);
    const std::vector<uint8_t> browse = WriteDnsMessage(Query(kService, kDnsPtr));
    DnsMessage known = Query(kService, kDnsPtr);
    known.answers.push_back(Record(kService, kDnsPtr, 2250, kMine));
    DnsMessage stale = known;
    stale.answers[0].ttl = 2249;
    DnsMessage instance = Query(kMine, kDnsAny);
    DnsMessage probe = Query(kMine, kDnsAny);
    probe.authorities.push_back(Record(kMine, kDnsSrv, 120, { "x", "local" }, 1));
    const struct {
        uint64_t at;
        std::vector<uint8_t> packet;
        size_t sent; // right away
        uint64_t next; // the timer for a delayed answer
    } steps[] = {
        { 2750, browse, 0, 2770 }, // a shared record waits 20 to 120 ms
        { 2760, WriteDnsMessage(known), 0, CNearbyCore::kNever }, // a known answer meanwhile cancels it
        { 3000, WriteDnsMessage(stale), 0, 3020 }, // less than half its TTL left: answered
        { 3100, WriteDnsMessage(instance), 1, 0 }, // unique records go at once
        { 3200, WriteDnsMessage(probe), 0, 0 }, // to a probe, after 250 ms
        { 3400, WriteDnsMessage(probe), 1, 0 },
        { 3900, WriteDnsMessage(instance), 0, 0 }, // otherwise once a second
        { 4500, WriteDnsMessage(instance), 1, 0 },
    };
    for (const auto& s : steps) {
        if (s.at > 3020 && core.NextDeadline() == 3020) {
            core.OnTimer(3020);
            EXPECT_EQ(
                std::vector<std::string> { "R PTR _kelvaro._tcp.local. 4500 SRV 名前._kelvaro._tcp.local. "
                                           "120 TXT 名前._kelvaro._tcp.local. 4500 A pc.local. 120" },
                Sent(core));
        }
        Feed(core, s.packet, s.at);
        EXPECT_EQ(s.sent, core.TakeSends().size()) << "at " << s.at;
        if (s.at < 3020) {
            EXPECT_EQ(s.next, core.NextDeadline()) << "at " << s.at;
        }
    }
}

TEST(NearbyCoreTest, OwnQueryLoopedBackIsNotAnsweredButAnotherCopysIdenticalOneIs)
{
    CNearbyCore core = MakeCore();
    Announce(core);
    core.Start(5000);
    core.OnTimer(5020);
    const std::vector<NearbySend> own = core.TakeSends();
    ASSERT_EQ(1u, own.size());
    Feed(core, own[0].bytes, 5021);
    EXPECT_EQ(
        CNearbyCore::kNever - 0, core.NextDeadline() == 6020 ? CNearbyCore::kNever : core.NextDeadline())
        << "no answer pending";
    Feed(core, own[0].bytes, 5022);
    EXPECT_EQ(5042u, core.NextDeadline()) << "the same bytes again come from someone else";
}

TEST(NearbyCoreTest, OneShotQueriesAreAnsweredToTheAskerAtMostTwiceASecond)
{
    CNearbyCore core = MakeCore();
    Announce(core);
    DnsMessage query = Query(kMine, kDnsSrv);
    query.id = 0x1234;
    const std::vector<uint8_t> bytes = WriteDnsMessage(query);
    Feed(core, bytes, 2000, 40000);
    const std::vector<NearbySend> sends = core.TakeSends();
    ASSERT_EQ(1u, sends.size());
    EXPECT_EQ(std::string("\x7f\x00\x00\x02", 4), sends[0].address);
    EXPECT_EQ(40000, sends[0].port);
    EXPECT_EQ("R ?SRV 名前._kelvaro._tcp.local. SRV 名前._kelvaro._tcp.local. 10 "
              "TXT 名前._kelvaro._tcp.local. 10 A pc.local. 10",
        Describe(sends[0].bytes));
    EXPECT_EQ(0x12, sends[0].bytes[0]);
    EXPECT_EQ(0x34, sends[0].bytes[1]);
    size_t answered = 1;
    for (int i = 1; i < 200; ++i) {
        Feed(core, bytes, 2000 + (uint64_t)i * 5, 40000);
        answered += core.TakeSends().size();
    }
    EXPECT_EQ(2u, answered) << "200 queries within a second";
    Feed(core, bytes, 3000, 40000);
    EXPECT_EQ(1u, core.TakeSends().size()) << "a second later";
}

TEST(NearbyCoreTest, AUnicastQuestionIsAnsweredToTheAskerOnlyWhenTheRecordWasMulticastLately)
{
    const std::string other("\x0a\0\0\x05", 4), loop("\x7f\0\0\x02", 4);
    const struct {
        uint64_t at;
        std::string from;
        std::string to; // empty: multicast
    } cases[] = {
        { 2000, other, other },
        { 1750 + 30001, other, "" }, // a quarter of the SRV's TTL after it was multicast
        { 3000, loop, "" }, // an asker on this PC shares port 5353 with others
    };
    for (const auto& c : cases) {
        CNearbyCore core = MakeCore();
        Announce(core);
        Feed(core, WriteDnsMessage(Query(kMine, kDnsSrv, true)), c.at, 5353, c.from);
        const std::vector<NearbySend> sends = core.TakeSends();
        ASSERT_EQ(1u, sends.size());
        EXPECT_EQ(c.to, sends[0].address) << c.at;
        EXPECT_EQ(5353, sends[0].port);
    }
}

TEST(NearbyCoreTest, ManyKnownAnswersGoInSeveralPacketsWithTheTruncatedBit)
{
    CNearbyCore core = MakeCore();
    core.Start(0);
    for (int i = 0; i < 100; ++i) Feed(core, PeerAnnouncement(4500, "peer" + std::to_string(i)), 10);
    core.OnTimer(20);
    const std::vector<NearbySend> sends = core.TakeSends();
    ASSERT_EQ(2u, sends.size());
    size_t total = 0;
    for (size_t i = 0; i < sends.size(); ++i) {
        DnsMessage m;
        ASSERT_TRUE(ReadDnsMessage(sends[i].bytes.data(), sends[i].bytes.size(), m));
        EXPECT_LE(sends[i].bytes.size(), 1440u);
        EXPECT_EQ(i + 1 < sends.size(), m.IsTruncated()) << i;
        EXPECT_EQ(i == 0 ? 1u : 0u, m.questions.size());
        total += m.answers.size();
    }
    EXPECT_EQ(100u, total);
}

TEST(NearbyCoreTest, AnAnswerCarriesTheAddressesOfTheInterfaceItGoesOutOn)
{
    CNearbyCore core = MakeCore();
    NearbyInterface a, b;
    a.id = 1, a.v4 = std::string("\x0a\0\0\x01", 4);
    b.id = 2, b.v4 = std::string("\xc0\xa8\0\x01", 4);
    core.SetInterfaces({ a, b });
    Announce(core);
    Feed(core, WriteDnsMessage(Query({ "pc", "local" }, kDnsA)), 3000);
    const std::vector<NearbySend> sends = core.TakeSends();
    ASSERT_EQ(2u, sends.size());
    for (const NearbySend& send : sends) {
        DnsMessage m;
        ASSERT_TRUE(ReadDnsMessage(send.bytes.data(), send.bytes.size(), m));
        ASSERT_EQ(1u, m.answers.size());
        EXPECT_EQ(send.iface == 1 ? a.v4 : b.v4, m.answers[0].address) << send.iface;
    }
}

TEST(NearbyCoreTest, NamesThatNeverResolveAreAskedWithBackOffAndDropped)
{
    CNearbyCore core = MakeCore();
    DnsMessage ptrs;
    ptrs.flags = kDnsFlagsResponse;
    for (int i = 0; i < 120; ++i)
        ptrs.answers.push_back(
            Record(kService, kDnsPtr, 0xFFFFFFFFu, { "x" + std::to_string(i), "_kelvaro", "_tcp", "local" }));
    Feed(core, WriteDnsMessage(ptrs), 1000);
    std::vector<uint64_t> asked;
    for (uint64_t t = 1000; t < 20000 && core.NextDeadline() != CNearbyCore::kNever;) {
        t = core.NextDeadline();
        core.OnTimer(t);
        if (!core.TakeSends().empty()) asked.push_back(t);
    }
    // Sixteen names a question, a question each 250 ms, each name asked at +20 ms, +1 s, +3 s.
    EXPECT_EQ(24u, asked.size());
    EXPECT_EQ(1020u, asked.front());
    EXPECT_EQ(CNearbyCore::kNever, core.NextDeadline()) << "all dropped";
    EXPECT_TRUE(core.Peers().empty());
}

TEST(NearbyCoreTest, AFloodOfForgedInstancesCannotKeepOutAPeerThatAnswers)
{
    CNearbyCore core = MakeCore();
    core.Start(0);
    core.OnTimer(20);
    core.TakeSends();
    Feed(core, PeerAnnouncement(120, "本物"), 100);
    core.OnTimer(120);
    EXPECT_EQ(std::vector<std::string> { "Q ?ANY 本物._kelvaro._tcp.local." }, Sent(core));
    Feed(core, PeerAnnouncement(120, "本物"), 130); // answers the question: keeps its place
    for (int i = 0; i < 300; ++i) Feed(core, PeerAnnouncement(120, "偽" + std::to_string(i)), 2000);
    EXPECT_EQ(256u, core.Peers().size());
    EXPECT_EQ("本物", core.Peers().front().name);
    Feed(core, PeerAnnouncement(120, "後から"), 3000);
    EXPECT_EQ(256u, core.Peers().size());
    EXPECT_EQ("後から", core.Peers().back().name) << "a peer announced after the flood is listed";
}

TEST(NearbyCoreTest, AListedPeerThatMovesIsMarkedUntilAcknowledged)
{
    CNearbyCore core = MakeCore();
    Feed(core, PeerAnnouncement(120), 1000);
    EXPECT_FALSE(core.Peers()[0].bMoved);
    // A third host repoints it with the cache-flush bit.
    DnsMessage forged;
    forged.flags = kDnsFlagsResponse;
    forged.answers.push_back(
        Record({ "相手", "_kelvaro", "_tcp", "local" }, kDnsSrv, 120, { "evil", "local" }, 6000));
    forged.answers.push_back(Record({ "evil", "local" }, kDnsA, 120));
    forged.answers.back().address = std::string("\x0a\0\0\x09", 4);
    for (DnsRecord& r : forged.answers) r.bCacheFlush = true;
    Feed(core, WriteDnsMessage(forged), 5000);
    ASSERT_EQ(1u, core.Peers().size());
    EXPECT_EQ(6000, core.Peers()[0].port);
    EXPECT_TRUE(core.Peers()[0].bMoved);
    EXPECT_TRUE(core.TakePeersChanged());
    core.Acknowledge("相手");
    EXPECT_FALSE(core.Peers()[0].bMoved);
}
