// Finding partners on the local network with DNS-SD over multicast DNS, without any I/O: packets
// and timer ticks go in with the time, packets to send, the next deadline and the peers found
// come out. The window's side (phonebook/Nearby.cpp) does the sockets and the timer.
#pragma once

#include "phonebook/DnsMessage.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

// An interface this PC multicasts on, with its own addresses (raw: 4 or 16 bytes).
struct NearbyInterface {
    int id = 0;
    std::string v4;
    std::vector<std::string> v6;
};

// A packet to send: to the multicast group of the family on the interface, or when address is
// set, to that address and port alone (a unicast answer).
struct NearbySend {
    int iface = 0;
    int family = 4; // 4 or 6
    std::string address;
    uint16_t port = 5353;
    std::vector<uint8_t> bytes;
};

struct NearbyPeer {
    std::string name; // the instance label, UTF-8, as announced
    uint16_t port = 0;
    std::vector<std::string> addresses; // raw, IPv4 first
    std::vector<std::string> txt;
    std::string fingerprint; // the "fp" of its TXT record: 64 lowercase hex digits, or empty
    // Its address or port changed since it was listed or last acknowledged.
    bool bMoved = false;
};

class CNearbyCore {
public:
    static constexpr size_t kMaxPeers = 256;
    static constexpr size_t kMaxAddresses = 8; // per host
    static constexpr uint32_t kTtlShared = 4500; // seconds: PTR and TXT records
    static constexpr uint32_t kTtlUnique = 120; // seconds: SRV, A and AAAA records
    static constexpr uint32_t kMaxTtl = 4500; // a longer TTL received is cut to this
    static constexpr uint64_t kNever = ~0ull;

    // hostLabel: this PC's name under .local (letters, digits and hyphens).
    explicit CNearbyCore(const std::string& hostLabel);

    void SetInterfaces(const std::vector<NearbyInterface>& interfaces);
    // The source of the random delays the protocol asks for (any 32-bit values).
    void SetRandom(std::function<uint32_t()> random) { m_random = std::move(random); }
    // What announcing says: the user's own name (UTF-8) and the listening port.
    void SetService(const std::string& name, uint16_t port, uint64_t now);
    // This install's identity fingerprint, announced as "fp" in the TXT record; empty: none.
    void SetFingerprint(const std::string& fingerprint, uint64_t now);
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
    // The user has seen the peer where it is now: its moved mark goes.
    void Acknowledge(const std::string& name);
    // The name announced, after any renaming ("名前 (2)").
    const std::string& InstanceName() const { return m_instance; }
    // The host name's label, after any renaming ("pc-2").
    const std::string& HostLabel() const { return m_hostLabel; }

private:
    enum class State { Off, Probing, Announcing, Announced };
    // This side's records, by kind; each is multicast at most once a second.
    enum Kind { kPtr, kSrv, kTxt, kHost, kKinds };
    struct Address {
        std::string raw;
        uint64_t expire, received;
    };
    // A cached record's life: asked for again at 80, 85, 90 and 95 % of its TTL with up to 2 %
    // more at random (RFC 6762, 5.2). A goodbye leaves it one second.
    struct Lease {
        uint64_t start = 0, ttlMs = 0;
        int step = 4;
        uint32_t jitter = 0; // thousandths of the TTL
        uint64_t Expire() const { return start + ttlMs; }
        uint64_t NextRefresh() const
        {
            return step < 4 ? start + ttlMs * (800 + 50 * step + jitter) / 1000 : kNever;
        }
    };
    struct Instance {
        std::string label;
        Lease ptr, srv;
        bool bSrv = false;
        bool bAnswered = false; // its records came in answer to a question of this side
        uint64_t asked = 0, nextAsk = 0;
        int nAsked = 0;
        uint64_t learned = 0;
        DnsName host;
        uint16_t port = 0;
        std::vector<std::string> txt;
        std::string from; // the sender's address, used when its host has none
        std::vector<Address> addresses;
        bool bListed = false;
        std::string seenAddress; // where the user last saw it
        uint16_t seenPort = 0;
    };
    struct Sent {
        std::vector<uint8_t> bytes;
        uint64_t at;
    };
    struct Asker {
        std::string address;
        uint64_t times[2];
    };
    enum class HostPlace { None, Answers, Authorities, Additionals };

    uint64_t Random(uint64_t lo, uint64_t hi);
    DnsName ServiceName() const;
    DnsName InstanceDnsName() const;
    DnsName HostName() const;
    std::vector<DnsRecord> OwnRecords(bool bGoodbye = false) const;
    std::vector<DnsRecord> HostRecords(const NearbyInterface& iface) const;
    bool IsOwnAddress(const std::string& raw) const;
    void SendToAll(const DnsMessage& message, HostPlace place);
    void SendQuery(uint64_t now, const std::vector<Instance*>& refresh);
    void SendProbe();
    void SendAnnouncement(uint64_t now, bool bGoodbye = false);
    bool ProbingPhase() const { return m_state == State::Probing; }
    void StepAnnounce(uint64_t now);
    void RestartProbing(uint64_t now, uint64_t delay);
    void Rename(uint64_t now);
    void RenameHost(uint64_t now);
    void Answer(const DnsMessage& m, int iface, const std::string& from, uint16_t fromPort, uint64_t now);
    void SendUnicast(const DnsMessage& m, int iface, const std::string& to, uint16_t port);
    void CheckGoodbye(const DnsMessage& m, uint64_t now);
    bool OwnPacket(const uint8_t* pData, size_t nSize, uint64_t now);
    void SendAnswer(unsigned kinds, uint64_t now, uint64_t gap);
    unsigned Suppressed(const DnsMessage& m) const;
    void CheckConflict(const DnsMessage& m, uint64_t now);
    void CheckProbe(const DnsMessage& m, uint64_t now);
    bool LegacyAllowed(const std::string& from, uint64_t now);
    void Learn(const DnsMessage& m, const std::string& from, uint64_t now);
    void LearnPtr(const DnsRecord& r, uint64_t now);
    void LearnService(const DnsRecord& r, const std::string& from, uint64_t now);
    void LearnAddress(const DnsRecord& r, uint64_t now);
    void AskMissing(uint64_t now);
    Instance* FindInstance(const DnsName& name);
    Instance* MakeRoom(uint64_t now);
    void Renew(Lease& lease, uint64_t now, uint32_t ttl);
    void Expire(uint64_t now);
    void UpdatePeers();

    std::string m_hostBase, m_hostLabel;
    int m_nHostSuffix = 1;
    std::function<uint32_t()> m_random;
    uint32_t m_seed = 1;
    std::vector<NearbyInterface> m_interfaces;
    std::string m_name, m_instance, m_fingerprint;
    uint16_t m_port = 0;
    int m_nSuffix = 1;
    State m_state = State::Off;
    int m_nStep = 0;
    uint64_t m_tAnnounce = kNever;
    uint64_t m_tQuery = kNever, m_queryGap = 1000;
    uint64_t m_lastMulticast[kKinds] = {};
    bool m_bMulticast[kKinds] = {};
    unsigned m_pending = 0; // kinds to multicast at m_tPending
    uint64_t m_tPending = kNever;
    std::deque<uint64_t> m_conflicts; // when the last conflicts came, for the rate limit
    std::deque<Sent> m_recent; // packets sent in the last second, to know them looped back
    std::vector<Asker> m_askers; // one-shot askers answered lately
    std::deque<uint64_t> m_legacy; // when one-shot answers went out in the last second
    uint64_t m_tAskNext = 0; // the earliest time for the next question about unresolved names
    bool m_bStopped = false;
    uint64_t m_now = 0; // the time of the call being handled
    std::vector<Instance> m_instances;
    std::vector<NearbyPeer> m_peers;
    bool m_bChanged = false;
    std::vector<NearbySend> m_sends;
};
