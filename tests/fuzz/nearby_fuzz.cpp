// Fuzz target for the multicast DNS reader and the discovery core. The input is a script of
// packets (raw, or another side's records named from a small set so that they meet this side's
// names), timer ticks and announcing switched on and off. Checks, for every input:
//  - at most 256 peers, each with at most 8 addresses;
//  - every packet the core sends reads back and fits the largest packet;
//  - after a timer tick the next deadline lies in the future, so the window never spins;
//  - this side's own name is never among the peers while it is announced.
#include "tests/fuzz/fuzz_util.h"
#include "phonebook/NearbyCore.h"
#include "phonebook/NearbyLabel.h"

#include <algorithm>

namespace {

DnsName NameFrom(Input& in)
{
    static const char* const labels[] = { "名前", "名前 (2)", "p", "P", "x" };
    const uint8_t b = in.Byte();
    switch (b % 4) {
    case 0:
        return DnsName { "_kelvaro", "_tcp", "local" };
    case 1:
        return DnsName { labels[(b / 4) % 5], "_kelvaro", "_tcp", "local" };
    case 2:
        return DnsName { (b & 0x40) ? "pc" : "other", "local" };
    default:
        return DnsName { in.Bytes(1 + b % 8) };
    }
}

std::vector<uint8_t> ScriptedPacket(Input& in)
{
    DnsMessage m;
    m.flags = (in.Byte() & 1) ? 0x8400 : 0;
    for (int n = in.Byte() % 8; n > 0 && !in.Empty(); --n) {
        static const uint16_t types[] = { kDnsPtr, kDnsSrv, kDnsTxt, kDnsA, kDnsAaaa, kDnsAny };
        const uint8_t kind = in.Byte();
        if (kind & 0x80) {
            DnsQuestion q;
            q.name = NameFrom(in);
            q.type = types[kind % 6];
            m.questions.push_back(q);
            continue;
        }
        DnsRecord r;
        r.name = NameFrom(in);
        r.type = types[kind % 5];
        r.ttl = in.Byte() % 4 == 0 ? 0 : in.U16();
        r.bCacheFlush = (kind & 0x40) != 0;
        r.target = NameFrom(in);
        r.port = (uint16_t)in.U16();
        r.txt.push_back(in.Bytes(4));
        r.address = in.Bytes(r.type == kDnsA ? 4 : 16);
        if (r.address.size() != (r.type == kDnsA ? 4u : 16u)) r.address.resize(r.type == kDnsA ? 4 : 16);
        ((kind & 0x20) ? m.authorities : m.answers).push_back(r);
    }
    return WriteDnsMessage(m);
}

void CheckSends(CNearbyCore& core)
{
    for (const NearbySend& send : core.TakeSends()) {
        DnsMessage m;
        CHECK(send.bytes.size() <= kDnsMaxPacket);
        CHECK(ReadDnsMessage(send.bytes.data(), send.bytes.size(), m));
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Input in { data, size };
    CNearbyCore core("pc");
    NearbyInterface iface;
    iface.id = 1;
    iface.v4 = std::string("\x7f\x00\x00\x01", 4);
    core.SetInterfaces({ iface });
    core.SetService("名前", 32760, 0);
    core.Start(0);
    uint64_t now = 0;
    while (!in.Empty()) {
        const uint8_t op = in.Byte();
        if (op < 0x40) {
            const std::string raw = in.Bytes(in.U16() % 1500);
            core.OnPacket((const uint8_t*)raw.data(), raw.size(), 1, std::string("\x7f\0\0\x02", 4),
                (op & 1) ? 5353 : 40000, now);
        } else if (op < 0xA0) {
            const std::vector<uint8_t> p = ScriptedPacket(in);
            core.OnPacket(p.data(), p.size(), 1, std::string("\x7f\0\0\x02", 4), 5353, now);
        } else if (op < 0xF0) {
            now += in.U16() * (op & 0x0F) + 1;
            if (core.NextDeadline() <= now) {
                core.OnTimer(now);
                CHECK(core.NextDeadline() > now);
            }
        } else {
            core.SetAnnounce(!core.Announcing(), now);
        }
        CheckSends(core);
        CHECK(core.Peers().size() <= CNearbyCore::kMaxPeers);
        for (const NearbyPeer& peer : core.Peers()) {
            CHECK(peer.addresses.size() <= CNearbyCore::kMaxAddresses);
            CHECK(!(core.Announcing() && peer.name == core.InstanceName()));
            // What is shown of a name holds no control character and is bounded.
            const std::string shown = CleanNearbyName(peer.name);
            CHECK(std::none_of(shown.begin(), shown.end(), [](char c) { return (unsigned char)c < 0x20; }));
            CHECK(shown.size() <= kMaxNearbyChars * 4);
        }
    }
    core.Stop();
    CheckSends(core);
    return 0;
}
