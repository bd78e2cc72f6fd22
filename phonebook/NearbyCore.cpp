// The discovery core: probing and announcing the user's name and this PC's host name, defending
// them, answering queries, browsing with known-answer suppression and a cache that honours TTLs
// and goodbyes. Everything it keeps is bounded: at most kMaxPeers instances with at most
// kMaxAddresses addresses each; a record's TTL is cut to kMaxTtl; names that never resolve are
// dropped, and an instance that answered keeps its place against those that only announce.
#include "phonebook/NearbyCore.h"

#include <algorithm>
#include <cctype>

namespace {

const uint64_t kProbeGap = 250, kAnnounceGap = 1000, kMaxQueryGap = 3600 * 1000;
const uint64_t kGoodbyeMs = 1000; // a goodbye takes effect after a second (RFC 6762, 10.1)
const uint64_t kDefendGap = 250; // the shortest gap between two multicasts of a record
const uint64_t kRecordGap = 1000; // the gap otherwise
const uint64_t kConflictWindow = 10000, kConflictPause = 5000;
const size_t kMaxConflicts = 15;
const int kProbes = 3, kAnnouncements = 2, kMaxSuffix = 99, kMaxAsks = 3;
const size_t kMaxLabel = 63;
const size_t kPacketBudget = 1440; // what fits a 1500-byte link with IPv6 and UDP headers
const size_t kMaxAskers = 32, kLegacyPerSource = 2, kLegacyPerSecond = 10;
const uint32_t kLegacyTtl = 10;

// The longest prefix of s of at most max bytes that does not cut a UTF-8 sequence.
std::string CutUtf8(const std::string& s, size_t max)
{
    if (s.size() <= max) return s;
    size_t n = max;
    while (n > 0 && ((unsigned char)s[n] & 0xC0) == 0x80) --n;
    return s.substr(0, n);
}

bool LabelEqual(const std::string& a, const std::string& b)
{
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower((unsigned char)a[i]) != std::tolower((unsigned char)b[i])) return false;
    return true;
}

bool IsUnder(const DnsName& name, const DnsName& parent)
{
    if (name.size() != parent.size() + 1) return false;
    return DnsNameEqual(DnsName(name.begin() + 1, name.end()), parent);
}

bool IsHex64(const std::string& s)
{
    if (s.size() != 64) return false;
    for (char c : s)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
    return true;
}

// The "fp" of a TXT record; only 64 lowercase hex digits count.
std::string Fingerprint(const std::vector<std::string>& txt)
{
    for (const std::string& s : txt)
        if (s.size() > 3 && LabelEqual(s.substr(0, 3), "fp=")) return IsHex64(s.substr(3)) ? s.substr(3) : "";
    return std::string();
}

// The records of one name in a probe's authority section, as the tie-break compares them
// (RFC 6762, 8.2): by type, then by their data's bytes, in ascending order.
typedef std::vector<std::pair<uint16_t, std::string>> RecordSet;

RecordSet SetOf(const std::vector<DnsRecord>& records, const DnsName& name)
{
    RecordSet set;
    for (const DnsRecord& r : records)
        if (DnsNameEqual(r.name, name)) set.emplace_back(r.type, r.rdata);
    std::sort(set.begin(), set.end());
    set.erase(std::unique(set.begin(), set.end()), set.end());
    return set;
}

} // namespace

CNearbyCore::CNearbyCore(const std::string& hostLabel)
    : m_hostBase(hostLabel.empty() ? "kelvaro" : hostLabel), m_hostLabel(m_hostBase)
{
}

uint64_t CNearbyCore::Random(uint64_t lo, uint64_t hi)
{
    uint32_t r;
    if (m_random) {
        r = m_random();
    } else {
        m_seed = m_seed * 1103515245u + 12345u;
        r = m_seed >> 8;
    }
    return lo + r % (hi - lo + 1);
}

void CNearbyCore::SetInterfaces(const std::vector<NearbyInterface>& interfaces) { m_interfaces = interfaces; }

DnsName CNearbyCore::ServiceName() const { return DnsName { "_kelvaro", "_tcp", "local" }; }

DnsName CNearbyCore::InstanceDnsName() const { return DnsName { m_instance, "_kelvaro", "_tcp", "local" }; }

DnsName CNearbyCore::HostName() const { return DnsName { m_hostLabel, "local" }; }

void CNearbyCore::SetService(const std::string& name, uint16_t port, uint64_t now)
{
    const std::string base = CutUtf8(name.empty() ? std::string("Kelvaro") : name, kMaxLabel - 5);
    if (base == m_name && port == m_port) return;
    const bool bWasOn = m_state != State::Off;
    if (bWasOn) SetAnnounce(false, now);
    m_name = base;
    m_port = port;
    m_nSuffix = 1;
    m_instance = m_name;
    if (bWasOn) SetAnnounce(true, now);
}

void CNearbyCore::SetFingerprint(const std::string& fingerprint, uint64_t now)
{
    m_now = now;
    const std::string fp = IsHex64(fingerprint) ? fingerprint : std::string();
    if (fp == m_fingerprint) return;
    m_fingerprint = fp;
    // Changed data is announced again (RFC 6762, 8.4); a name still being probed says it later.
    if (m_state == State::Announcing || m_state == State::Announced) {
        m_state = State::Announcing;
        m_nStep = 0;
        m_tAnnounce = now;
    }
}

void CNearbyCore::SetAnnounce(bool bOn, uint64_t now)
{
    m_now = now;
    if (m_bStopped || bOn == (m_state != State::Off)) return;
    if (!bOn) {
        if (m_state != State::Probing) SendAnnouncement(now, true);
        m_state = State::Off;
        m_tAnnounce = m_tPending = kNever;
        m_pending = 0;
        UpdatePeers();
        return;
    }
    if (m_instance.empty()) m_instance = m_name.empty() ? std::string("Kelvaro") : m_name;
    RestartProbing(now, Random(0, kProbeGap));
    UpdatePeers();
}

void CNearbyCore::Start(uint64_t now)
{
    m_tQuery = now + Random(20, 120);
    m_queryGap = 1000;
}

void CNearbyCore::Stop()
{
    SetAnnounce(false, 0);
    m_bStopped = true;
    m_tQuery = m_tAnnounce = m_tPending = kNever;
}

std::vector<DnsRecord> CNearbyCore::OwnRecords(bool bGoodbye) const
{
    std::vector<DnsRecord> out(3);
    out[kPtr].name = ServiceName();
    out[kPtr].type = kDnsPtr;
    out[kPtr].target = InstanceDnsName();
    out[kPtr].ttl = kTtlShared;
    out[kSrv].name = InstanceDnsName();
    out[kSrv].type = kDnsSrv;
    out[kSrv].port = m_port;
    out[kSrv].target = HostName();
    out[kSrv].ttl = kTtlUnique;
    out[kTxt].name = InstanceDnsName();
    out[kTxt].type = kDnsTxt;
    out[kTxt].txt = { "txtvers=1", "secure=2" };
    if (!m_fingerprint.empty()) out[kTxt].txt.push_back("fp=" + m_fingerprint);
    out[kTxt].ttl = kTtlShared;
    for (DnsRecord& r : out) {
        if (bGoodbye) r.ttl = 0;
        r.bCacheFlush = r.type != kDnsPtr;
        r.rdata = DnsRecordData(r);
    }
    return out;
}

// The host name's addresses on one interface: those its answers carry (RFC 6762, 15).
std::vector<DnsRecord> CNearbyCore::HostRecords(const NearbyInterface& iface) const
{
    std::vector<std::string> raws = iface.v6;
    if (!iface.v4.empty()) raws.insert(raws.begin(), iface.v4);
    std::vector<DnsRecord> out;
    for (const std::string& raw : raws) {
        DnsRecord a;
        a.name = HostName();
        a.type = raw.size() == 4 ? kDnsA : kDnsAaaa;
        a.address = raw;
        a.ttl = kTtlUnique;
        a.bCacheFlush = true;
        a.rdata = raw;
        out.push_back(a);
    }
    return out;
}

bool CNearbyCore::IsOwnAddress(const std::string& raw) const
{
    for (const NearbyInterface& iface : m_interfaces)
        if (raw == iface.v4 || std::find(iface.v6.begin(), iface.v6.end(), raw) != iface.v6.end())
            return true;
    return false;
}

// One copy of the message on every interface and family, with that interface's own address
// records in the section given.
void CNearbyCore::SendToAll(const DnsMessage& message, HostPlace place)
{
    for (const NearbyInterface& iface : m_interfaces) {
        DnsMessage m = message;
        if (place != HostPlace::None) {
            std::vector<DnsRecord>& section = place == HostPlace::Answers ? m.answers
                : place == HostPlace::Authorities                         ? m.authorities
                                                                          : m.additionals;
            for (DnsRecord r : HostRecords(iface)) {
                // A probe's authority records carry no cache-flush bit (RFC 6762, 10.2).
                if (place == HostPlace::Authorities) r.bCacheFlush = false;
                section.push_back(r);
            }
        }
        const std::vector<uint8_t> bytes = WriteDnsMessage(m);
        if (bytes.empty()) continue;
        for (int family : { 4, 6 }) {
            if (family == 4 ? iface.v4.empty() : iface.v6.empty()) continue;
            NearbySend send;
            send.iface = iface.id;
            send.family = family;
            send.bytes = bytes;
            m_sends.push_back(send);
            m_recent.push_back(Sent { bytes, m_now });
        }
    }
}

void CNearbyCore::SendProbe()
{
    DnsMessage m;
    DnsQuestion q;
    q.type = kDnsAny;
    // Answers come by multicast: a unicast answer to port 5353 would reach only one of the
    // sockets that share it on this PC (the system's responder, another copy, this one).
    q.name = InstanceDnsName();
    m.questions.push_back(q);
    q.name = HostName();
    m.questions.push_back(q);
    for (DnsRecord r : OwnRecords()) {
        if (r.type == kDnsPtr) continue;
        r.bCacheFlush = false;
        m.authorities.push_back(r);
    }
    SendToAll(m, HostPlace::Authorities);
}

void CNearbyCore::SendAnnouncement(uint64_t now, bool bGoodbye)
{
    DnsMessage m;
    m.flags = kDnsFlagsResponse;
    m.answers = OwnRecords(bGoodbye);
    // A goodbye needs no addresses: the host's records may be shared with the system's own.
    SendToAll(m, bGoodbye ? HostPlace::None : HostPlace::Answers);
    for (int k = 0; k < kKinds && !bGoodbye; ++k) {
        m_lastMulticast[k] = now;
        m_bMulticast[k] = true;
    }
}

void CNearbyCore::StepAnnounce(uint64_t now)
{
    if (m_state == State::Probing) {
        if (m_nStep < kProbes) {
            SendProbe();
            ++m_nStep;
            m_tAnnounce = now + kProbeGap;
            return;
        }
        // No conflicting answer within 250 ms of the last probe: the names are this side's.
        m_state = State::Announcing;
        m_nStep = 0;
    }
    if (m_state == State::Announcing) {
        SendAnnouncement(now);
        if (++m_nStep >= kAnnouncements) {
            m_state = State::Announced;
            m_tAnnounce = kNever;
        } else {
            m_tAnnounce = now + kAnnounceGap;
        }
    }
}

void CNearbyCore::RestartProbing(uint64_t now, uint64_t delay)
{
    m_state = State::Probing;
    m_nStep = 0;
    m_tAnnounce = now + delay;
    m_pending = 0;
    m_tPending = kNever;
}

// Someone else holds the name: the next free "名前 (n)", probed afresh.
void CNearbyCore::Rename(uint64_t now)
{
    if (++m_nSuffix > kMaxSuffix) {
        m_state = State::Off;
        m_tAnnounce = kNever;
        return;
    }
    m_instance = m_name + " (" + std::to_string(m_nSuffix) + ")";
    RestartProbing(now, 0);
    // The holder of the name was not kept while it was this side's own: ask for it again.
    if (m_tQuery != kNever) m_tQuery = now;
    UpdatePeers();
}

// Another host has this host name: "name-n", probed afresh.
void CNearbyCore::RenameHost(uint64_t now)
{
    if (++m_nHostSuffix > kMaxSuffix) {
        m_state = State::Off;
        m_tAnnounce = kNever;
        return;
    }
    m_hostLabel = m_hostBase + "-" + std::to_string(m_nHostSuffix);
    RestartProbing(now, 0);
}

// Splits the browsing query into packets of a link's size: the questions and the first known
// answers, then the rest of them, each packet but the last with the TC bit (RFC 6762, 7.2).
void CNearbyCore::SendQuery(uint64_t now, const std::vector<Instance*>& refresh)
{
    DnsMessage m;
    DnsQuestion q;
    q.name = ServiceName();
    q.type = kDnsPtr;
    m.questions.push_back(q);
    for (const Instance* p : refresh) {
        q.name = DnsName { p->label, "_kelvaro", "_tcp", "local" };
        q.type = kDnsSrv;
        m.questions.push_back(q);
    }
    std::vector<DnsRecord> known;
    for (const Instance& inst : m_instances) {
        if (!inst.bSrv || inst.ptr.Expire() <= now || (inst.ptr.Expire() - now) * 2 < inst.ptr.ttlMs)
            continue;
        DnsRecord r;
        r.name = ServiceName();
        r.type = kDnsPtr;
        r.target = DnsName { inst.label, "_kelvaro", "_tcp", "local" };
        r.ttl = (uint32_t)((inst.ptr.Expire() - now) / 1000);
        known.push_back(r);
    }
    std::vector<DnsMessage> packets(1, m);
    for (const DnsRecord& r : known) {
        packets.back().answers.push_back(r);
        if (WriteDnsMessage(packets.back()).size() <= kPacketBudget) continue;
        packets.back().answers.pop_back();
        packets.back().flags |= kDnsFlagTruncated;
        packets.emplace_back();
        packets.back().answers.push_back(r);
    }
    for (const DnsMessage& packet : packets) SendToAll(packet, HostPlace::None);
    // A question about an instance that never answered counts as one of the questions it gets.
    for (Instance* p : refresh) {
        p->asked = now;
        if (!p->bAnswered && p->nAsked < kMaxAsks) p->nextAsk = now + (1000ull << p->nAsked++);
    }
}

// The kinds of this side's records that a query's known answers hold with at least half their
// TTL left: those are not sent (RFC 6762, 7.1).
unsigned CNearbyCore::Suppressed(const DnsMessage& m) const
{
    unsigned kinds = 0;
    const std::vector<DnsRecord> own = OwnRecords();
    for (const DnsRecord& r : m.answers) {
        for (int k = kPtr; k <= kTxt; ++k)
            if (r.type == own[k].type && DnsNameEqual(r.name, own[k].name) && r.rdata == own[k].rdata &&
                r.ttl >= own[k].ttl / 2)
                kinds |= 1u << k;
        if ((r.type == kDnsA || r.type == kDnsAaaa) && DnsNameEqual(r.name, HostName()) &&
            IsOwnAddress(r.address) && r.ttl >= kTtlUnique / 2)
            kinds |= 1u << kHost;
    }
    return kinds;
}

// Multicasts the records of the kinds given that have not gone out within the gap: those asked
// for as answers, the instance's other records and the addresses as additional ones.
void CNearbyCore::SendAnswer(unsigned kinds, uint64_t now, uint64_t gap)
{
    for (int k = 0; k < kKinds; ++k)
        if (m_bMulticast[k] && now < m_lastMulticast[k] + gap) kinds &= ~(1u << k);
    if (!kinds) return;
    DnsMessage out;
    out.flags = kDnsFlagsResponse;
    const std::vector<DnsRecord> own = OwnRecords();
    for (int k = kPtr; k <= kTxt; ++k)
        if (kinds & (1u << k)) out.answers.push_back(own[k]);
    // The records a browser needs next come along (RFC 6763, 12).
    if ((kinds & (1u << kPtr)) && !(kinds & (1u << kSrv))) out.additionals.push_back(own[kSrv]);
    if ((kinds & (1u << kPtr)) && !(kinds & (1u << kTxt))) out.additionals.push_back(own[kTxt]);
    SendToAll(out, (kinds & (1u << kHost)) ? HostPlace::Answers : HostPlace::Additionals);
    for (int k = 0; k < kKinds; ++k)
        if (kinds & (1u << k)) {
            m_lastMulticast[k] = now;
            m_bMulticast[k] = true;
        }
}

void CNearbyCore::SendUnicast(const DnsMessage& m, int iface, const std::string& to, uint16_t port)
{
    const NearbyInterface* pIface = m_interfaces.empty() ? nullptr : &m_interfaces[0];
    for (const NearbyInterface& i : m_interfaces)
        if (i.id == iface) pIface = &i;
    NearbySend send;
    send.iface = pIface ? pIface->id : iface;
    send.family = to.size() == 16 ? 6 : 4;
    send.address = to;
    send.port = port;
    send.bytes = WriteDnsMessage(m);
    if (!send.bytes.empty()) m_sends.push_back(send);
}

// At most two one-shot answers a second to one asker and ten to all (RFC 6762, 6.7 answers
// them; nothing there bounds them).
bool CNearbyCore::LegacyAllowed(const std::string& from, uint64_t now)
{
    while (!m_legacy.empty() && m_legacy.front() + 1000 <= now) m_legacy.pop_front();
    if (m_legacy.size() >= kLegacyPerSecond) return false;
    auto it =
        std::find_if(m_askers.begin(), m_askers.end(), [&](const Asker& a) { return a.address == from; });
    if (it == m_askers.end()) {
        if (m_askers.size() >= kMaxAskers) m_askers.erase(m_askers.begin());
        m_askers.push_back(Asker { from, { 0, 0 } });
        it = m_askers.end() - 1;
    } else if (it->times[0] && now < it->times[0] + 1000) {
        return false;
    }
    static_assert(kLegacyPerSource == 2, "two times are kept per asker");
    it->times[0] = it->times[1];
    it->times[1] = now ? now : 1;
    m_legacy.push_back(now);
    return true;
}

// Answers the questions about this side's names once they have been probed: multicast to the
// group; for a one-shot query from another port, to the asker alone (RFC 6762, 6.7); for a
// question that asks for a unicast answer from another PC, to the asker when the record went
// out by multicast within a quarter of its TTL (5.4). Shared records wait 20 to 120 ms, or 400 to 500 ms when
// more known answers are to come (6, 7.2); a probe for a name of this side is answered at once.
void CNearbyCore::Answer(
    const DnsMessage& m, int iface, const std::string& from, uint16_t fromPort, uint64_t now)
{
    if (m_state != State::Announced && m_state != State::Announcing) return;
    const unsigned known = Suppressed(m);
    m_pending &= ~known;
    if (!m_pending) m_tPending = kNever;
    unsigned kinds = 0;
    bool bUnicast = false;
    for (const DnsQuestion& q : m.questions) {
        const bool bAny = q.type == kDnsAny;
        unsigned k = 0;
        if (DnsNameEqual(q.name, ServiceName()) && (bAny || q.type == kDnsPtr)) k |= 1u << kPtr;
        if (DnsNameEqual(q.name, InstanceDnsName())) {
            if (bAny || q.type == kDnsSrv) k |= 1u << kSrv;
            if (bAny || q.type == kDnsTxt) k |= 1u << kTxt;
        }
        if (DnsNameEqual(q.name, HostName()) && (bAny || q.type == kDnsA || q.type == kDnsAaaa))
            k |= 1u << kHost;
        if (k && q.bUnicastResponse) bUnicast = true;
        kinds |= k;
    }
    kinds &= ~known;
    if (!kinds) return;
    const std::vector<DnsRecord> own = OwnRecords();
    if (fromPort != 5353) {
        if (!LegacyAllowed(from, now)) return;
        DnsMessage out;
        out.flags = kDnsFlagsResponse;
        out.id = m.id;
        out.questions = m.questions;
        for (int k = kPtr; k <= kTxt; ++k) {
            if (k == kPtr && !(kinds & (1u << kPtr))) continue;
            DnsRecord r = own[k];
            r.bCacheFlush = false;
            r.ttl = kLegacyTtl;
            (kinds & (1u << k) ? out.answers : out.additionals).push_back(r);
        }
        const NearbyInterface* pIface = m_interfaces.empty() ? nullptr : &m_interfaces[0];
        for (const NearbyInterface& i : m_interfaces)
            if (i.id == iface) pIface = &i;
        if (pIface)
            for (DnsRecord r : HostRecords(*pIface)) {
                r.bCacheFlush = false;
                r.ttl = kLegacyTtl;
                (kinds & (1u << kHost) ? out.answers : out.additionals).push_back(r);
            }
        return SendUnicast(out, iface, from, fromPort);
    }
    bool bProbe = false;
    for (const DnsRecord& r : m.authorities)
        if (DnsNameEqual(r.name, InstanceDnsName()) || DnsNameEqual(r.name, HostName())) bProbe = true;
    // Not to an asker on this PC: the sockets sharing port 5353 here would take it by turns,
    // and it would reach only one of them.
    const bool bLocal = IsOwnAddress(from) || (from.size() == 4 && from[0] == '\x7f') ||
        from == std::string(15, '\0') + '\x01';
    if (bUnicast && !bProbe && !bLocal) {
        bool bRecent = true;
        for (int k = 0; k < kKinds; ++k)
            if ((kinds & (1u << k)) &&
                (!m_bMulticast[k] ||
                    now >= m_lastMulticast[k] + (k == kPtr || k == kTxt ? kTtlShared : kTtlUnique) * 250))
                bRecent = false;
        if (bRecent) {
            DnsMessage out;
            out.flags = kDnsFlagsResponse;
            for (int k = kPtr; k <= kTxt; ++k)
                if (kinds & (1u << k)) out.answers.push_back(own[k]);
            const NearbyInterface* pIface = m_interfaces.empty() ? nullptr : &m_interfaces[0];
            for (const NearbyInterface& i : m_interfaces)
                if (i.id == iface) pIface = &i;
            if (pIface)
                for (const DnsRecord& r : HostRecords(*pIface))
                    ((kinds & (1u << kHost)) ? out.answers : out.additionals).push_back(r);
            return SendUnicast(out, iface, from, 5353);
        }
    }
    if (bProbe) return SendAnswer(kinds, now, kDefendGap);
    if (!(kinds & (1u << kPtr)) && !m.IsTruncated()) return SendAnswer(kinds, now, kRecordGap);
    m_pending |= kinds;
    m_tPending = std::min(m_tPending, now + (m.IsTruncated() ? Random(400, 500) : Random(20, 120)));
}

// A response that gives a name of this side other data. While probing, the name is someone
// else's: another is chosen. Once announced, the names are probed again, and only a conflict
// found then renames (RFC 6762, 9); more than 15 conflicts in ten seconds wait five.
void CNearbyCore::CheckConflict(const DnsMessage& m, uint64_t now)
{
    if (m_state == State::Off) return;
    const std::vector<DnsRecord> own = OwnRecords();
    bool bInstance = false, bHost = false;
    for (const auto* section : { &m.answers, &m.additionals })
        for (const DnsRecord& r : *section) {
            if (r.ttl == 0) continue;
            if (DnsNameEqual(r.name, InstanceDnsName()) &&
                ((r.type == kDnsSrv && r.rdata != own[kSrv].rdata) ||
                    (r.type == kDnsTxt && r.rdata != own[kTxt].rdata)))
                bInstance = true;
            if (DnsNameEqual(r.name, HostName()) && (r.type == kDnsA || r.type == kDnsAaaa) &&
                !IsOwnAddress(r.address))
                bHost = true;
        }
    if (!bInstance && !bHost) return;
    if (ProbingPhase()) {
        if (bInstance) return Rename(now);
        return RenameHost(now);
    }
    while (!m_conflicts.empty() && m_conflicts.front() + kConflictWindow <= now) m_conflicts.pop_front();
    m_conflicts.push_back(now);
    RestartProbing(now, m_conflicts.size() > kMaxConflicts ? kConflictPause : Random(0, kProbeGap));
}

// Two sides probing for the same name at once: the one whose records sort lower probes again a
// second later (RFC 6762, 8.2); its own probe, looped back, compares equal.
void CNearbyCore::CheckProbe(const DnsMessage& m, uint64_t now)
{
    if (!ProbingPhase() || m.authorities.empty()) return;
    std::vector<DnsRecord> mine = OwnRecords();
    for (const NearbyInterface& iface : m_interfaces)
        for (const DnsRecord& r : HostRecords(iface)) mine.push_back(r);
    for (const DnsName& name : { InstanceDnsName(), HostName() }) {
        const RecordSet theirs = SetOf(m.authorities, name);
        if (!theirs.empty() && SetOf(mine, name) < theirs) {
            m_nStep = 0;
            m_tAnnounce = now + 1000;
            return;
        }
    }
}

// A goodbye for a record of this side, sent by another: the record is announced again at once.
void CNearbyCore::CheckGoodbye(const DnsMessage& m, uint64_t now)
{
    if (m_state != State::Announced) return;
    const std::vector<DnsRecord> own = OwnRecords();
    for (const DnsRecord& r : m.answers)
        for (int k = kPtr; k <= kTxt; ++k)
            if (r.ttl == 0 && r.type == own[k].type && DnsNameEqual(r.name, own[k].name) &&
                r.rdata == own[k].rdata)
                return SendAnnouncement(now);
}

CNearbyCore::Instance* CNearbyCore::FindInstance(const DnsName& name)
{
    if (!IsUnder(name, ServiceName())) return nullptr;
    for (Instance& inst : m_instances)
        if (LabelEqual(inst.label, name[0])) return &inst;
    return nullptr;
}

void CNearbyCore::Renew(Lease& lease, uint64_t now, uint32_t ttl)
{
    lease.start = now;
    if (ttl == 0) {
        lease.ttlMs = kGoodbyeMs;
        lease.step = 4;
        return;
    }
    lease.ttlMs = (uint64_t)std::min(ttl, kMaxTtl) * 1000;
    lease.step = 0;
    lease.jitter = (uint32_t)Random(0, 20);
}

// A full table gives up the instance that never resolved, or else the oldest one that never
// answered a question; instances that answered keep their place.
CNearbyCore::Instance* CNearbyCore::MakeRoom(uint64_t now)
{
    (void)now;
    auto worse = [](const Instance& a, const Instance& b) {
        if (a.bSrv != b.bSrv) return !a.bSrv;
        return a.learned < b.learned;
    };
    Instance* pVictim = nullptr;
    for (Instance& inst : m_instances)
        if (!inst.bAnswered && (!pVictim || worse(inst, *pVictim))) pVictim = &inst;
    if (!pVictim) return nullptr;
    m_instances.erase(m_instances.begin() + (pVictim - m_instances.data()));
    m_instances.emplace_back();
    return &m_instances.back();
}

void CNearbyCore::LearnPtr(const DnsRecord& r, uint64_t now)
{
    if (!DnsNameEqual(r.name, ServiceName()) || !IsUnder(r.target, ServiceName()) || r.target[0].empty())
        return;
    Instance* p = FindInstance(r.target);
    if (r.ttl == 0) {
        if (p) Renew(p->ptr, now, 0);
        return;
    }
    if (!p) {
        if (m_instances.size() >= kMaxPeers) {
            p = MakeRoom(now);
            if (!p) return;
        } else {
            m_instances.emplace_back();
            p = &m_instances.back();
        }
        p->label = r.target[0];
        p->learned = now;
        p->nextAsk = now + Random(20, 120);
    }
    Renew(p->ptr, now, r.ttl);
}

void CNearbyCore::LearnService(const DnsRecord& r, const std::string& from, uint64_t now)
{
    Instance* p = FindInstance(r.name);
    if (!p) return;
    if (r.type == kDnsTxt) {
        if (r.ttl) p->txt = r.txt;
        return;
    }
    if (r.ttl == 0) {
        if (p->bSrv) Renew(p->srv, now, 0);
        return;
    }
    // Only an answer to a question about this very instance counts: anyone can shout.
    if (p->nAsked && now < p->asked + 1000) p->bAnswered = true;
    if (!p->bSrv || !DnsNameEqual(p->host, r.target)) p->addresses.clear();
    p->bSrv = true;
    Renew(p->srv, now, r.ttl);
    p->host = r.target;
    p->port = r.port;
    p->from = from;
}

void CNearbyCore::LearnAddress(const DnsRecord& r, uint64_t now)
{
    for (Instance& inst : m_instances) {
        if (!inst.bSrv || !DnsNameEqual(inst.host, r.name)) continue;
        std::vector<Address>& list = inst.addresses;
        // A cache-flush record replaces the addresses older than a second (RFC 6762, 10.2).
        if (r.bCacheFlush && r.ttl)
            for (Address& a : list)
                if (a.received + 1000 < now && a.raw != r.address) a.expire = std::min(a.expire, now + 1000);
        auto it =
            std::find_if(list.begin(), list.end(), [&](const Address& a) { return a.raw == r.address; });
        if (r.ttl == 0) {
            if (it != list.end()) it->expire = std::min(it->expire, now + kGoodbyeMs);
            continue;
        }
        if (it == list.end()) {
            if (list.size() >= kMaxAddresses) continue;
            list.push_back(Address { r.address, 0, 0 });
            it = list.end() - 1;
        }
        it->expire = now + (uint64_t)std::min(r.ttl, kMaxTtl) * 1000;
        it->received = now;
    }
}

// What a packet tells about others: instances first, then services, then addresses, so that
// the records of one answer are taken whatever their order.
void CNearbyCore::Learn(const DnsMessage& m, const std::string& from, uint64_t now)
{
    for (int pass = 0; pass < 3; ++pass)
        for (const auto* section : { &m.answers, &m.additionals })
            for (const DnsRecord& r : *section) {
                // Records of this side's own names are not kept.
                if (m_state != State::Off &&
                    (DnsNameEqual(r.name, InstanceDnsName()) ||
                        (r.type == kDnsPtr && DnsNameEqual(r.target, InstanceDnsName()))))
                    continue;
                if (pass == 0 && r.type == kDnsPtr) LearnPtr(r, now);
                if (pass == 1 && (r.type == kDnsSrv || r.type == kDnsTxt)) LearnService(r, from, now);
                if (pass == 2 && (r.type == kDnsA || r.type == kDnsAaaa)) LearnAddress(r, now);
            }
}

// New instances are asked for their records 20 to 120 ms after they came, then after 1 and 2
// more seconds (RFC 6762, 5.2): those known by name only are dropped 4 seconds later, and those
// that never answered are the first to give up their place. At most 16 names a question and
// one question each 250 ms.
void CNearbyCore::AskMissing(uint64_t now)
{
    if (now < m_tAskNext) return;
    DnsMessage m;
    for (Instance& inst : m_instances) {
        if ((inst.bSrv && inst.bAnswered) || inst.nAsked >= kMaxAsks || inst.nextAsk > now) continue;
        inst.asked = now;
        inst.nextAsk = now + (1000ull << inst.nAsked);
        ++inst.nAsked;
        DnsQuestion q;
        q.name = DnsName { inst.label, "_kelvaro", "_tcp", "local" };
        q.type = kDnsAny;
        m.questions.push_back(q);
        if (m.questions.size() >= 16) break;
    }
    if (m.questions.empty()) return;
    SendToAll(m, HostPlace::None);
    m_tAskNext = now + kProbeGap;
}

// A packet this side sent, come back over the loop: each copy sent is known once.
bool CNearbyCore::OwnPacket(const uint8_t* pData, size_t nSize, uint64_t now)
{
    while (!m_recent.empty() && m_recent.front().at + 1000 <= now) m_recent.pop_front();
    for (auto it = m_recent.begin(); it != m_recent.end(); ++it)
        if (it->bytes.size() == nSize && std::equal(it->bytes.begin(), it->bytes.end(), pData)) {
            m_recent.erase(it);
            return true;
        }
    return false;
}

void CNearbyCore::OnPacket(const uint8_t* pData, size_t nSize, int iface, const std::string& fromAddress,
    uint16_t fromPort, uint64_t now)
{
    m_now = now;
    if (m_bStopped) return;
    if (OwnPacket(pData, nSize, now)) return;
    DnsMessage m;
    if (!ReadDnsMessage(pData, nSize, m) || !m.IsStandard()) return;
    if (m.IsResponse()) {
        // Responses come from port 5353 (RFC 6762, 6 and 11).
        if (fromPort != 5353) return;
        CheckConflict(m, now);
        CheckGoodbye(m, now);
        Learn(m, fromAddress, now);
    } else {
        CheckProbe(m, now);
        Answer(m, iface, fromAddress, fromPort, now);
    }
    Expire(now);
}

void CNearbyCore::Expire(uint64_t now)
{
    m_instances.erase(std::remove_if(m_instances.begin(), m_instances.end(),
                          [&](const Instance& i) {
                              return i.ptr.Expire() <= now || (i.bSrv && i.srv.Expire() <= now) ||
                                  (!i.bSrv && i.nAsked >= kMaxAsks && i.nextAsk <= now);
                          }),
        m_instances.end());
    for (Instance& inst : m_instances)
        inst.addresses.erase(std::remove_if(inst.addresses.begin(), inst.addresses.end(),
                                 [&](const Address& a) { return a.expire <= now; }),
            inst.addresses.end());
    UpdatePeers();
}

void CNearbyCore::OnTimer(uint64_t now)
{
    m_now = now;
    if (m_bStopped) return;
    while (m_tAnnounce <= now) StepAnnounce(now);
    if (m_tPending <= now) {
        const unsigned kinds = m_pending;
        m_pending = 0;
        m_tPending = kNever;
        SendAnswer(kinds, now, kRecordGap);
    }
    // Instances whose PTR or SRV record nears the end of its TTL are asked for again.
    std::vector<Instance*> refresh;
    for (Instance& inst : m_instances) {
        bool bDue = false;
        for (Lease* p : { &inst.ptr, &inst.srv })
            while (p->NextRefresh() <= now) ++p->step, bDue = true;
        if (bDue && inst.bSrv) refresh.push_back(&inst);
    }
    if (m_tQuery <= now || !refresh.empty()) {
        SendQuery(now, refresh);
        if (m_tQuery <= now) {
            m_tQuery = now + m_queryGap;
            m_queryGap = std::min(m_queryGap * 2, kMaxQueryGap);
        }
    }
    AskMissing(now);
    Expire(now);
}

uint64_t CNearbyCore::NextDeadline() const
{
    if (m_bStopped) return kNever;
    uint64_t t = std::min({ m_tAnnounce, m_tQuery, m_tPending });
    for (const Instance& inst : m_instances) {
        t = std::min({ t, inst.ptr.Expire(), inst.ptr.NextRefresh(), inst.srv.NextRefresh() });
        if (inst.bSrv) t = std::min(t, inst.srv.Expire());
        if (!inst.bSrv || (!inst.bAnswered && inst.nAsked < kMaxAsks))
            t = std::min(t, std::max(inst.nextAsk, inst.nAsked < kMaxAsks ? m_tAskNext : 0));
        for (const Address& a : inst.addresses) t = std::min(t, a.expire);
    }
    return t;
}

// The peers shown: instances with a service record and an address, this side's own name left
// out, in the order they were found. One whose address or port changed since the user saw it
// is marked.
void CNearbyCore::UpdatePeers()
{
    std::vector<NearbyPeer> peers;
    for (Instance& inst : m_instances) {
        if (!inst.bSrv || (m_state != State::Off && LabelEqual(inst.label, m_instance))) continue;
        NearbyPeer peer;
        peer.name = inst.label;
        peer.port = inst.port;
        peer.txt = inst.txt;
        peer.fingerprint = Fingerprint(inst.txt);
        for (int size : { 4, 16 })
            for (const Address& a : inst.addresses)
                if (a.raw.size() == (size_t)size) peer.addresses.push_back(a.raw);
        if (peer.addresses.empty() && !inst.from.empty()) peer.addresses.push_back(inst.from);
        if (peer.addresses.empty()) continue;
        if (!inst.bListed) {
            inst.bListed = true;
            inst.seenAddress = peer.addresses[0];
            inst.seenPort = peer.port;
        }
        peer.bMoved = peer.port != inst.seenPort ||
            std::find(peer.addresses.begin(), peer.addresses.end(), inst.seenAddress) == peer.addresses.end();
        peers.push_back(peer);
    }
    auto same = [](const NearbyPeer& a, const NearbyPeer& b) {
        return a.name == b.name && a.port == b.port && a.addresses == b.addresses && a.txt == b.txt &&
            a.bMoved == b.bMoved;
    };
    if (peers.size() != m_peers.size() || !std::equal(peers.begin(), peers.end(), m_peers.begin(), same))
        m_bChanged = true;
    m_peers.swap(peers);
}

void CNearbyCore::Acknowledge(const std::string& name)
{
    for (Instance& inst : m_instances)
        if (inst.label == name) inst.bListed = false;
    UpdatePeers();
}

std::vector<NearbySend> CNearbyCore::TakeSends()
{
    std::vector<NearbySend> out;
    out.swap(m_sends);
    return out;
}

bool CNearbyCore::TakePeersChanged()
{
    const bool b = m_bChanged;
    m_bChanged = false;
    return b;
}
