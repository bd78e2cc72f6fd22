// Finding partners on the local network with DNS-SD over multicast DNS, without any I/O: packets
// and timer ticks go in with the time, packets to send, the next deadline and the peers found
// come out. The window's side (phonebook/Nearby.cpp) does the sockets and the timer.
#pragma once

#include "phonebook/DnsMessage.h"

#include <cstdint>
#include <string>
#include <vector>

// An interface this PC multicasts on, with its own addresses (raw: 4 or 16 bytes).
struct NearbyInterface {
    int id = 0;
    std::string v4;
    std::vector<std::string> v6;
};

// A packet to send: to the multicast group of the family on the interface, or when address is
// set, to that address and port alone (the answer to a one-shot query).
struct NearbySend {
    int iface = 0;
    int family = 4; // 4 or 6
    std::string address;
    uint16_t port = 5353;
    std::vector<uint8_t> bytes;
};

struct NearbyPeer {
    std::string name; // the instance label, UTF-8
    uint16_t port = 0;
    std::vector<std::string> addresses; // raw, IPv4 first
    std::vector<std::string> txt;
};

class CNearbyCore {
public:
    static const size_t kMaxPeers = 256;
    static const size_t kMaxAddresses = 8; // per host
    static const uint32_t kTtl = 120; // seconds, for every record this side sends
    static const uint64_t kNever = ~0ull;

    // hostLabel: this PC's name under .local (letters, digits and hyphens).
    explicit CNearbyCore(const std::string& hostLabel);

    void SetInterfaces(const std::vector<NearbyInterface>& interfaces);
    // What announcing says: the user's own name (UTF-8) and the listening port.
    void SetService(const std::string& name, uint16_t port, uint64_t now);
    // Announcing on probes and announces the name; off says goodbye at once.
    void SetAnnounce(bool bOn, uint64_t now);
    bool Announcing() const { return m_state != State::Off; }
    // Browsing starts with the first query.
    void Start(uint64_t now);
    // The goodbye when announcing; nothing more is sent afterwards.
    void Stop();

    // A packet received; iface is where it came in, or -1 when not known.
    void OnPacket(const uint8_t* pData, size_t nSize, int iface, const std::string& fromAddress,
        uint16_t fromPort, uint64_t now);
    void OnTimer(uint64_t now);
    // When OnTimer is due next (kNever: nothing to do until a packet comes).
    uint64_t NextDeadline() const;

    std::vector<NearbySend> TakeSends();
    // True once after the list of peers has changed.
    bool TakePeersChanged();
    const std::vector<NearbyPeer>& Peers() const { return m_peers; }
    // The name announced, after any renaming ("名前 (2)").
    const std::string& InstanceName() const { return m_instance; }

private:
    enum class State { Off, Probing, Announcing, Announced };
    struct Address {
        std::string raw;
        uint64_t expire, received;
    };
    // A cached record's life: asked for again at 80, 85, 90 and 95 % of its TTL (RFC 6762, 5.2).
    struct Lease {
        uint64_t start = 0, ttlMs = 0;
        int step = 4;
        uint64_t Expire() const { return start + ttlMs; }
        uint64_t NextRefresh() const { return step < 4 ? start + ttlMs * (80 + 5 * step) / 100 : kNever; }
        void Renew(uint64_t now, uint32_t ttl)
        {
            start = now, ttlMs = (uint64_t)ttl * 1000, step = ttl ? 0 : 4;
        }
    };
    struct Instance {
        std::string label;
        Lease ptr, srv;
        bool bSrv = false;
        uint64_t asked = 0;
        DnsName host;
        uint16_t port = 0;
        std::vector<std::string> txt;
        std::string from; // the sender's address, used when its host has none
        std::vector<Address> addresses;
    };

    DnsName ServiceName() const;
    DnsName InstanceDnsName() const;
    DnsName HostName() const;
    std::vector<DnsRecord> OwnRecords(const NearbyInterface* pIface, uint32_t ttl, bool bAddresses) const;
    void SendToAll(DnsMessage message, bool bOwnAddresses);
    void SendQuery(uint64_t now, const std::vector<Instance*>& refresh);
    void SendProbe();
    void SendAnnouncement(uint32_t ttl);
    void StepAnnounce(uint64_t now);
    void Rename(uint64_t now);
    void Answer(const DnsMessage& m, int iface, const std::string& from, uint16_t fromPort, uint64_t now);
    bool KnownAnswer(const DnsMessage& m) const;
    void CheckConflict(const DnsMessage& m, uint64_t now);
    void CheckProbe(const DnsMessage& m, uint64_t now);
    void Learn(const DnsMessage& m, const std::string& from, uint64_t now);
    void LearnPtr(const DnsRecord& r, uint64_t now);
    void LearnService(const DnsRecord& r, const std::string& from, uint64_t now);
    void LearnAddress(const DnsRecord& r, uint64_t now);
    void AskMissing(uint64_t now);
    Instance* FindInstance(const DnsName& name);
    void Expire(uint64_t now);
    void UpdatePeers();

    std::string m_hostLabel;
    std::vector<NearbyInterface> m_interfaces;
    std::string m_name, m_instance;
    uint16_t m_port = 0;
    int m_nSuffix = 1;
    State m_state = State::Off;
    int m_nStep = 0;
    uint64_t m_tAnnounce = kNever;
    uint64_t m_tQuery = kNever, m_queryGap = 1000;
    uint64_t m_tAnswered = 0; // when the last multicast answer went out
    bool m_bAnswered = false;
    bool m_bStopped = false;
    std::vector<Instance> m_instances;
    std::vector<NearbyPeer> m_peers;
    bool m_bChanged = false;
    std::vector<NearbySend> m_sends;
};
