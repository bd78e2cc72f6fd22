// DNS messages as multicast DNS uses them: a bounded reader that never trusts the packet, and a
// writer. Names are lists of labels (raw bytes, UTF-8 for service instances), compared with
// ASCII letters folded as DNS does.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

typedef std::vector<std::string> DnsName;

enum DnsType : uint16_t {
    kDnsA = 1,
    kDnsPtr = 12,
    kDnsTxt = 16,
    kDnsAaaa = 28,
    kDnsSrv = 33,
    kDnsAny = 255,
};

// The largest packet read or written (multicast DNS allows up to 9000 bytes).
const size_t kDnsMaxPacket = 9000;

struct DnsQuestion {
    DnsName name;
    uint16_t type = 0;
    bool bUnicastResponse = false; // the top bit of the class
};

struct DnsRecord {
    DnsName name;
    uint16_t type = 0;
    bool bCacheFlush = false; // the top bit of the class
    uint32_t ttl = 0;
    DnsName target; // PTR: the instance; SRV: the host
    uint16_t port = 0; // SRV
    std::vector<std::string> txt; // TXT strings
    std::string address; // A: 4 bytes, AAAA: 16 bytes
    std::string rdata; // the record data as sent, with names written out uncompressed
};

struct DnsMessage {
    uint16_t id = 0;
    uint16_t flags = 0; // 0x8400 for a response
    std::vector<DnsQuestion> questions;
    std::vector<DnsRecord> answers;
    std::vector<DnsRecord> authorities;
    std::vector<DnsRecord> additionals;
    bool IsResponse() const { return (flags & 0x8000) != 0; }
    // More known answers follow in the next packets (the TC bit of a query).
    bool IsTruncated() const { return (flags & 0x0200) != 0; }
    // A standard query or response: opcode and response code zero.
    bool IsStandard() const { return (flags & 0x780F) == 0; }
};

const uint16_t kDnsFlagsResponse = 0x8400; // a response, authoritative
const uint16_t kDnsFlagTruncated = 0x0200;

// Names equal but for the case of ASCII letters.
bool DnsNameEqual(const DnsName& a, const DnsName& b);
// "label.label." with dots and backslashes inside labels escaped, for logs and tests.
std::string DnsNameText(const DnsName& name);

// Reads a packet of at most kDnsMaxPacket bytes. False for anything malformed: truncation,
// counts beyond the packet, pointers that do not point back, names over 255 bytes. Classes
// other than IN are skipped; record types not listed above keep only their raw data.
bool ReadDnsMessage(const uint8_t* pData, size_t nSize, DnsMessage& rMessage);

// Writes the message (class IN); rdata of records is built from their fields. Names, in the
// record data of PTR and SRV records too, are compressed against those written before them.
// Empty when the result would exceed kDnsMaxPacket or a name or label is too long.
std::vector<uint8_t> WriteDnsMessage(const DnsMessage& message);

// The record data of a record as WriteDnsMessage writes it (names uncompressed).
std::string DnsRecordData(const DnsRecord& record);
