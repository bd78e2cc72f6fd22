// The discovery core: probing and announcing the user's name, answering queries, browsing with
// known-answer suppression and a cache that honours TTLs and goodbyes. Everything it keeps is
// bounded: at most kMaxPeers instances with at most kMaxAddresses addresses each.
#include "phonebook/NearbyCore.h"

#include <algorithm>
#include <cctype>

namespace {

const uint16_t kFlagsResponse = 0x8400;
const uint64_t kProbeGap = 250, kAnnounceGap = 1000, kMaxQueryGap = 3600 * 1000;
const int kProbes = 3, kAnnouncements = 2, kMaxSuffix = 99;
const size_t kMaxLabel = 63;

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

} // namespace

CNearbyCore::CNearbyCore(const std::string& hostLabel)
    : m_hostLabel(hostLabel.empty() ? "kelvaro" : hostLabel)
{
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

void CNearbyCore::SetAnnounce(bool bOn, uint64_t now)
{
    if (m_bStopped || bOn == (m_state != State::Off)) return;
    if (!bOn) {
        if (m_state != State::Probing) SendAnnouncement(0);
        m_state = State::Off;
        m_tAnnounce = kNever;
        UpdatePeers();
        return;
    }
    if (m_instance.empty()) m_instance = m_name.empty() ? std::string("Kelvaro") : m_name;
    m_state = State::Probing;
    m_nStep = 0;
    m_tAnnounce = now;
    UpdatePeers();
}

void CNearbyCore::Start(uint64_t now)
{
    m_tQuery = now;
    m_queryGap = 1000;
}

void CNearbyCore::Stop()
{
    SetAnnounce(false, 0);
    m_bStopped = true;
    m_tQuery = m_tAnnounce = kNever;
}

std::vector<DnsRecord> CNearbyCore::OwnRecords(
    const NearbyInterface* pIface, uint32_t ttl, bool bAddresses) const
{
    std::vector<DnsRecord> out(3);
    out[0].name = ServiceName();
    out[0].type = kDnsPtr;
    out[0].target = InstanceDnsName();
    out[1].name = InstanceDnsName();
    out[1].type = kDnsSrv;
    out[1].port = m_port;
    out[1].target = HostName();
    out[2].name = InstanceDnsName();
    out[2].type = kDnsTxt;
    out[2].txt = { "txtvers=1", "secure=2" };
    if (pIface && bAddresses) {
        std::vector<std::string> raws = pIface->v6;
        if (!pIface->v4.empty()) raws.insert(raws.begin(), pIface->v4);
        for (const std::string& raw : raws) {
            DnsRecord a;
            a.name = HostName();
            a.type = raw.size() == 4 ? kDnsA : kDnsAaaa;
            a.address = raw;
            out.push_back(a);
        }
    }
    for (DnsRecord& r : out) {
        r.ttl = ttl;
        r.bCacheFlush = r.type != kDnsPtr;
    }
    return out;
}

// One copy of the message on every interface and family; with bOwnAddresses the interface's own
// address records are added to the additional section.
void CNearbyCore::SendToAll(DnsMessage message, bool bOwnAddresses)
{
    const size_t nBase = message.additionals.size();
    for (const NearbyInterface& iface : m_interfaces) {
        message.additionals.resize(nBase);
        if (bOwnAddresses)
            for (DnsRecord& r :
                OwnRecords(&iface, message.answers.empty() ? 0 : message.answers[0].ttl, true))
                if (r.type == kDnsA || r.type == kDnsAaaa) message.additionals.push_back(r);
        const std::vector<uint8_t> bytes = WriteDnsMessage(message);
        if (bytes.empty()) continue;
        for (int family : { 4, 6 }) {
            if (family == 4 ? iface.v4.empty() : iface.v6.empty()) continue;
            NearbySend send;
            send.iface = iface.id;
            send.family = family;
            send.bytes = bytes;
            m_sends.push_back(send);
        }
    }
}

void CNearbyCore::SendProbe()
{
    DnsMessage m;
    DnsQuestion q;
    q.name = InstanceDnsName();
    q.type = kDnsAny;
    // Answers come by multicast: a unicast answer to port 5353 would reach only one of the
    // sockets that share it on this PC (the system's responder, another copy, this one).
    m.questions.push_back(q);
    for (const DnsRecord& r : OwnRecords(nullptr, kTtl, false))
        if (r.type != kDnsPtr) m.authorities.push_back(r);
    SendToAll(m, false);
}

void CNearbyCore::SendAnnouncement(uint32_t ttl)
{
    DnsMessage m;
    m.flags = kFlagsResponse;
    m.answers = OwnRecords(nullptr, ttl, false);
    // A goodbye needs no addresses: the host's records may be shared with the system's own.
    SendToAll(m, ttl != 0);
}

void CNearbyCore::StepAnnounce(uint64_t now)
{
    if (m_state == State::Probing) {
        SendProbe();
        if (++m_nStep < kProbes) {
            m_tAnnounce = now + kProbeGap;
            return;
        }
        m_state = State::Announcing;
        m_nStep = 0;
        m_tAnnounce = now + kProbeGap;
        return;
    }
    if (m_state == State::Announcing) {
        SendAnnouncement(kTtl);
        if (++m_nStep >= kAnnouncements) {
            m_state = State::Announced;
            m_tAnnounce = kNever;
        } else {
            m_tAnnounce = now + kAnnounceGap;
        }
    }
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
    m_state = State::Probing;
    m_nStep = 0;
    m_tAnnounce = now;
    // The holder of the name was not kept while it was this side's own: ask for it again.
    if (m_tQuery != kNever) m_tQuery = now;
    UpdatePeers();
}

// The browsing query: the service's PTR with the answers known for more than half their TTL,
// and the SRV of each instance whose records are due for refreshing.
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
    for (const Instance& inst : m_instances) {
        if (inst.ptr.Expire() <= now || (inst.ptr.Expire() - now) * 2 < inst.ptr.ttlMs) continue;
        DnsRecord r;
        r.name = ServiceName();
        r.type = kDnsPtr;
        r.target = DnsName { inst.label, "_kelvaro", "_tcp", "local" };
        r.ttl = (uint32_t)((inst.ptr.Expire() - now) / 1000);
        m.answers.push_back(r);
    }
    while (!m.answers.empty() && WriteDnsMessage(m).empty()) m.answers.pop_back();
    SendToAll(m, false);
}

bool CNearbyCore::KnownAnswer(const DnsMessage& m) const
{
    for (const DnsRecord& r : m.answers)
        if (r.type == kDnsPtr && DnsNameEqual(r.name, ServiceName()) &&
            DnsNameEqual(r.target, InstanceDnsName()) && r.ttl >= kTtl / 2)
            return true;
    return false;
}

// Answers the questions about this side's name once it has been probed: multicast to the
// group, or for a one-shot query from another port, to the asker alone (RFC 6762, 6.7).
void CNearbyCore::Answer(
    const DnsMessage& m, int iface, const std::string& from, uint16_t fromPort, uint64_t now)
{
    if (m_state != State::Announced && m_state != State::Announcing) return;
    bool bService = false, bInstance = false, bHost = false;
    for (const DnsQuestion& q : m.questions) {
        const bool bAny = q.type == kDnsAny;
        if (DnsNameEqual(q.name, ServiceName()) && (bAny || q.type == kDnsPtr)) bService = !KnownAnswer(m);
        if (DnsNameEqual(q.name, InstanceDnsName()) && (bAny || q.type == kDnsSrv || q.type == kDnsTxt))
            bInstance = true;
        if (DnsNameEqual(q.name, HostName()) && (bAny || q.type == kDnsA || q.type == kDnsAaaa)) bHost = true;
    }
    if (!bService && !bInstance && !bHost) return;
    const bool bLegacy = fromPort != 5353;
    const uint32_t ttl = bLegacy ? 10 : kTtl;
    const NearbyInterface* pIface = m_interfaces.empty() ? nullptr : &m_interfaces[0];
    for (const NearbyInterface& i : m_interfaces)
        if (i.id == iface) pIface = &i;
    DnsMessage out;
    out.flags = kFlagsResponse;
    if (bLegacy) {
        out.id = m.id;
        out.questions = m.questions;
    }
    for (DnsRecord& r : OwnRecords(pIface, ttl, true)) {
        if (bLegacy) r.bCacheFlush = false;
        const bool bAnswer = r.type == kDnsPtr         ? bService
            : (r.type == kDnsSrv || r.type == kDnsTxt) ? bInstance
                                                       : bHost;
        if (r.type == kDnsPtr && !bService) continue;
        (bAnswer ? out.answers : out.additionals).push_back(r);
    }
    if (!bLegacy) {
        // A flood of queries gets at most four answers a second (RFC 6762, 6: at most one a
        // second, but 250 ms when defending the name against a probe).
        if (m_bAnswered && now < m_tAnswered + kProbeGap) return;
        m_bAnswered = true;
        m_tAnswered = now;
        return SendToAll(out, false);
    }
    NearbySend send;
    send.iface = pIface ? pIface->id : iface;
    send.family = from.size() == 16 ? 6 : 4;
    send.address = from;
    send.port = fromPort;
    send.bytes = WriteDnsMessage(out);
    if (!send.bytes.empty()) m_sends.push_back(send);
}

// A response that gives this side's name other data: the name is taken, so another is chosen.
void CNearbyCore::CheckConflict(const DnsMessage& m, uint64_t now)
{
    if (m_state == State::Off) return;
    const std::vector<DnsRecord> own = OwnRecords(nullptr, kTtl, false);
    for (const auto* section : { &m.answers, &m.additionals })
        for (const DnsRecord& r : *section) {
            if (r.ttl == 0 || !DnsNameEqual(r.name, InstanceDnsName())) continue;
            if ((r.type == kDnsSrv && r.rdata != DnsRecordData(own[1])) ||
                (r.type == kDnsTxt && r.rdata != DnsRecordData(own[2]))) {
                Rename(now);
                return;
            }
        }
}

// Two sides probing for the same name at once: the one whose data sorts lower probes again a
// second later (RFC 6762, 8.2); its own probe, looped back, compares equal.
void CNearbyCore::CheckProbe(const DnsMessage& m, uint64_t now)
{
    if (m_state != State::Probing) return;
    const std::string mine = DnsRecordData(OwnRecords(nullptr, kTtl, false)[1]);
    for (const DnsRecord& r : m.authorities) {
        if (r.type != kDnsSrv || !DnsNameEqual(r.name, InstanceDnsName())) continue;
        if (r.rdata > mine) {
            m_nStep = 0;
            m_tAnnounce = now + 1000;
            return;
        }
    }
}

CNearbyCore::Instance* CNearbyCore::FindInstance(const DnsName& name)
{
    if (!IsUnder(name, ServiceName())) return nullptr;
    for (Instance& inst : m_instances)
        if (LabelEqual(inst.label, name[0])) return &inst;
    return nullptr;
}

void CNearbyCore::LearnPtr(const DnsRecord& r, uint64_t now)
{
    if (!DnsNameEqual(r.name, ServiceName()) || !IsUnder(r.target, ServiceName())) return;
    Instance* p = FindInstance(r.target);
    if (r.ttl == 0) {
        // A goodbye: gone at once.
        if (p) p->ptr.Renew(now, 0);
        return;
    }
    if (!p) {
        if (m_instances.size() >= kMaxPeers) return;
        m_instances.emplace_back();
        p = &m_instances.back();
        p->label = r.target[0];
    }
    p->ptr.Renew(now, r.ttl);
}

void CNearbyCore::LearnService(const DnsRecord& r, const std::string& from, uint64_t now)
{
    Instance* p = FindInstance(r.name);
    if (!p) return;
    if (r.type == kDnsTxt) {
        p->txt = r.txt;
        return;
    }
    if (r.ttl == 0) {
        p->srv.Renew(now, 0);
        return;
    }
    if (!p->bSrv || !DnsNameEqual(p->host, r.target)) p->addresses.clear();
    p->bSrv = true;
    p->srv.Renew(now, r.ttl);
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
        if (r.bCacheFlush)
            list.erase(std::remove_if(list.begin(), list.end(),
                           [&](const Address& a) { return a.received + 1000 < now; }),
                list.end());
        auto it =
            std::find_if(list.begin(), list.end(), [&](const Address& a) { return a.raw == r.address; });
        if (r.ttl == 0) {
            if (it != list.end()) list.erase(it);
            continue;
        }
        if (it == list.end()) {
            if (list.size() >= kMaxAddresses) continue;
            list.push_back(Address { r.address, 0, 0 });
            it = list.end() - 1;
        }
        it->expire = now + (uint64_t)r.ttl * 1000;
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
                // This side's own records, looped back, are not kept.
                if (m_state != State::Off &&
                    (DnsNameEqual(r.name, InstanceDnsName()) ||
                        (r.type == kDnsPtr && DnsNameEqual(r.target, InstanceDnsName()))))
                    continue;
                if (pass == 0 && r.type == kDnsPtr) LearnPtr(r, now);
                if (pass == 1 && (r.type == kDnsSrv || r.type == kDnsTxt)) LearnService(r, from, now);
                if (pass == 2 && (r.type == kDnsA || r.type == kDnsAaaa)) LearnAddress(r, now);
            }
}

// Instances known by name only are asked for their service record, at most once a second.
void CNearbyCore::AskMissing(uint64_t now)
{
    DnsMessage m;
    for (Instance& inst : m_instances) {
        if (inst.bSrv || inst.ptr.Expire() <= now || inst.asked + 1000 > now) continue;
        inst.asked = now;
        DnsQuestion q;
        q.name = DnsName { inst.label, "_kelvaro", "_tcp", "local" };
        q.type = kDnsAny;
        m.questions.push_back(q);
        if (m.questions.size() >= 16) break;
    }
    if (!m.questions.empty()) SendToAll(m, false);
}

void CNearbyCore::OnPacket(const uint8_t* pData, size_t nSize, int iface, const std::string& fromAddress,
    uint16_t fromPort, uint64_t now)
{
    if (m_bStopped) return;
    DnsMessage m;
    if (!ReadDnsMessage(pData, nSize, m)) return;
    if (m.IsResponse()) {
        CheckConflict(m, now);
        Learn(m, fromAddress, now);
        AskMissing(now);
    } else {
        CheckProbe(m, now);
        Answer(m, iface, fromAddress, fromPort, now);
    }
    Expire(now);
}

void CNearbyCore::Expire(uint64_t now)
{
    m_instances.erase(
        std::remove_if(m_instances.begin(), m_instances.end(),
            [&](const Instance& i) { return i.ptr.Expire() <= now || (i.bSrv && i.srv.Expire() <= now); }),
        m_instances.end());
    for (Instance& inst : m_instances)
        inst.addresses.erase(std::remove_if(inst.addresses.begin(), inst.addresses.end(),
                                 [&](const Address& a) { return a.expire <= now; }),
            inst.addresses.end());
    UpdatePeers();
}

void CNearbyCore::OnTimer(uint64_t now)
{
    if (m_bStopped) return;
    while (m_tAnnounce <= now) StepAnnounce(now);
    // Instances whose PTR or SRV record nears the end of its TTL are asked for again.
    std::vector<Instance*> refresh;
    for (Instance& inst : m_instances) {
        bool bDue = false;
        for (Lease* p : { &inst.ptr, &inst.srv })
            while (p->NextRefresh() <= now) ++p->step, bDue = true;
        if (bDue) refresh.push_back(&inst);
    }
    if (m_tQuery <= now || !refresh.empty()) {
        SendQuery(now, refresh);
        if (m_tQuery <= now) {
            m_tQuery = now + m_queryGap;
            m_queryGap = std::min(m_queryGap * 2, kMaxQueryGap);
        }
    }
    Expire(now);
}

uint64_t CNearbyCore::NextDeadline() const
{
    uint64_t t = std::min(m_tAnnounce, m_tQuery);
    if (m_bStopped) return kNever;
    for (const Instance& inst : m_instances) {
        t = std::min({ t, inst.ptr.Expire(), inst.ptr.NextRefresh(), inst.srv.NextRefresh() });
        if (inst.bSrv) t = std::min(t, inst.srv.Expire());
        for (const Address& a : inst.addresses) t = std::min(t, a.expire);
    }
    return t;
}

// The peers shown: instances with a service record and an address, this side's own name left
// out, in the order they were found.
void CNearbyCore::UpdatePeers()
{
    std::vector<NearbyPeer> peers;
    for (const Instance& inst : m_instances) {
        if (!inst.bSrv || (m_state != State::Off && LabelEqual(inst.label, m_instance))) continue;
        NearbyPeer peer;
        peer.name = inst.label;
        peer.port = inst.port;
        peer.txt = inst.txt;
        for (int size : { 4, 16 })
            for (const Address& a : inst.addresses)
                if (a.raw.size() == (size_t)size) peer.addresses.push_back(a.raw);
        if (peer.addresses.empty() && !inst.from.empty()) peer.addresses.push_back(inst.from);
        if (!peer.addresses.empty()) peers.push_back(peer);
    }
    auto same = [](const NearbyPeer& a, const NearbyPeer& b) {
        return a.name == b.name && a.port == b.port && a.addresses == b.addresses && a.txt == b.txt;
    };
    if (peers.size() != m_peers.size() || !std::equal(peers.begin(), peers.end(), m_peers.begin(), same))
        m_bChanged = true;
    m_peers.swap(peers);
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
