// DNS message reader and writer for multicast DNS. The reader checks every length against the
// packet and only follows compression pointers that point back, so a packet can neither make it
// read outside the buffer nor loop.
#include "phonebook/DnsMessage.h"

#include <map>

namespace {

const uint16_t kClassIn = 1;
const size_t kMaxName = 255; // bytes of a name on the wire, with its length bytes and root

char Fold(char c) { return (c >= 'A' && c <= 'Z') ? (char)(c - 'A' + 'a') : c; }

class Reader {
public:
    Reader(const uint8_t* p, size_t n) : m_p(p), m_n(n) { }

    bool U8(uint8_t& v)
    {
        if (m_pos + 1 > m_n) return false;
        v = m_p[m_pos++];
        return true;
    }
    bool U16(uint16_t& v)
    {
        if (m_pos + 2 > m_n) return false;
        v = (uint16_t)(m_p[m_pos] << 8 | m_p[m_pos + 1]);
        m_pos += 2;
        return true;
    }
    bool U32(uint32_t& v)
    {
        uint16_t hi, lo;
        if (!U16(hi) || !U16(lo)) return false;
        v = (uint32_t)hi << 16 | lo;
        return true;
    }
    bool Bytes(size_t k, std::string& s)
    {
        if (k > m_n - m_pos) return false;
        s.assign(reinterpret_cast<const char*>(m_p + m_pos), k);
        m_pos += k;
        return true;
    }
    // A name at the current position. Each pointer must point before the start of the labels
    // read since the last jump, so the walk ends within the packet's length.
    bool Name(DnsName& name)
    {
        name.clear();
        size_t pos = m_pos, limit = m_pos, wire = 1;
        bool bJumped = false;
        for (;;) {
            if (pos >= m_n) return false;
            const uint8_t len = m_p[pos];
            if (len == 0) {
                if (!bJumped) m_pos = pos + 1;
                return true;
            }
            if ((len & 0xC0) == 0xC0) {
                if (pos + 1 >= m_n) return false;
                const size_t target = (size_t)(len & 0x3F) << 8 | m_p[pos + 1];
                if (target >= limit) return false;
                if (!bJumped) m_pos = pos + 2;
                bJumped = true;
                pos = limit = target;
                continue;
            }
            if (len & 0xC0) return false;
            wire += 1 + len;
            if (wire > kMaxName || pos + 1 + len > m_n) return false;
            name.emplace_back(reinterpret_cast<const char*>(m_p + pos + 1), len);
            pos += 1 + len;
        }
    }
    size_t Pos() const { return m_pos; }
    void Seek(size_t pos) { m_pos = pos; }
    size_t Size() const { return m_n; }

private:
    const uint8_t* m_p;
    size_t m_n;
    size_t m_pos = 0;
};

bool ReadRecordData(Reader& in, DnsRecord& r, size_t end)
{
    switch (r.type) {
    case kDnsPtr:
        return in.Name(r.target) && in.Pos() <= end;
    case kDnsSrv: {
        uint16_t priority, weight;
        return in.U16(priority) && in.U16(weight) && in.U16(r.port) && in.Name(r.target) && in.Pos() <= end;
    }
    case kDnsTxt:
        while (in.Pos() < end) {
            uint8_t len;
            std::string s;
            if (!in.U8(len) || in.Pos() + len > end || !in.Bytes(len, s)) return false;
            r.txt.push_back(s);
        }
        return true;
    case kDnsA:
    case kDnsAaaa:
        return end - in.Pos() == (r.type == kDnsA ? 4u : 16u) && in.Bytes(end - in.Pos(), r.address);
    default:
        return true;
    }
}

// One record; false when malformed. rbKeep is false for a class other than IN.
bool ReadRecord(Reader& in, DnsRecord& r, bool& rbKeep)
{
    uint16_t cls, len;
    if (!in.Name(r.name) || !in.U16(r.type) || !in.U16(cls) || !in.U32(r.ttl) || !in.U16(len)) return false;
    if (len > in.Size() - in.Pos()) return false;
    const size_t end = in.Pos() + len;
    r.bCacheFlush = (cls & 0x8000) != 0;
    rbKeep = (cls & 0x7FFF) == kClassIn;
    const bool bKnown =
        r.type == kDnsPtr || r.type == kDnsSrv || r.type == kDnsTxt || r.type == kDnsA || r.type == kDnsAaaa;
    if (rbKeep && !bKnown) return in.Bytes(len, r.rdata);
    if (rbKeep && !ReadRecordData(in, r, end)) return false;
    in.Seek(end);
    if (rbKeep) r.rdata = DnsRecordData(r);
    return true;
}

bool ReadSection(Reader& in, uint16_t count, std::vector<DnsRecord>& out)
{
    for (uint16_t i = 0; i < count; ++i) {
        DnsRecord r;
        bool bKeep = false;
        if (!ReadRecord(in, r, bKeep)) return false;
        if (bKeep) out.push_back(std::move(r));
    }
    return true;
}

class Writer {
public:
    explicit Writer(bool bCompress = false) : m_bCompress(bCompress) { }
    void U8(uint8_t v) { m_out.push_back(v); }
    void U16(uint16_t v)
    {
        U8((uint8_t)(v >> 8));
        U8((uint8_t)v);
    }
    void U32(uint32_t v)
    {
        U16((uint16_t)(v >> 16));
        U16((uint16_t)v);
    }
    void Bytes(const std::string& s) { m_out.insert(m_out.end(), s.begin(), s.end()); }
    // A name; when compressing, its longest ending already written becomes a pointer to it.
    void Name(const DnsName& name)
    {
        size_t wire = 1;
        for (const std::string& label : name) {
            wire += 1 + label.size();
            if (label.empty() || label.size() > 63 || wire > kMaxName) m_bBad = true;
        }
        for (size_t i = 0; i < name.size(); ++i) {
            const std::string key = Key(name, i);
            if (m_bCompress) {
                auto it = m_written.find(key);
                if (it != m_written.end()) {
                    U16((uint16_t)(0xC000 | it->second));
                    return;
                }
                if (m_out.size() < 0x4000) m_written.emplace(key, (uint16_t)m_out.size());
            }
            U8((uint8_t)name[i].size());
            Bytes(name[i]);
        }
        U8(0);
    }
    void Record(const DnsRecord& r)
    {
        Name(r.name);
        U16(r.type);
        U16((uint16_t)(kClassIn | (r.bCacheFlush ? 0x8000 : 0)));
        U32(r.ttl);
        if (m_bCompress && (r.type == kDnsPtr || r.type == kDnsSrv)) {
            const size_t at = m_out.size();
            U16(0);
            if (r.type == kDnsSrv) {
                U16(0);
                U16(0);
                U16(r.port);
            }
            Name(r.target);
            const size_t len = m_out.size() - at - 2;
            m_out[at] = (uint8_t)(len >> 8);
            m_out[at + 1] = (uint8_t)len;
            return;
        }
        const std::string data = DnsRecordData(r);
        if (data.size() > 0xFFFF) m_bBad = true;
        U16((uint16_t)data.size());
        Bytes(data);
    }
    std::vector<uint8_t> m_out;
    bool m_bBad = false;

private:
    // The labels from index i on, letters folded, each with its length before it.
    static std::string Key(const DnsName& name, size_t i)
    {
        std::string key;
        for (; i < name.size(); ++i) {
            key += (char)name[i].size();
            for (char c : name[i]) key += Fold(c);
        }
        return key;
    }
    bool m_bCompress;
    std::map<std::string, uint16_t> m_written;
};

} // namespace

bool DnsNameEqual(const DnsName& a, const DnsName& b)
{
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (a[i].size() != b[i].size()) return false;
        for (size_t k = 0; k < a[i].size(); ++k)
            if (Fold(a[i][k]) != Fold(b[i][k])) return false;
    }
    return true;
}

std::string DnsNameText(const DnsName& name)
{
    std::string s;
    for (const std::string& label : name) {
        for (char c : label) {
            if (c == '.' || c == '\\') s += '\\';
            s += c;
        }
        s += '.';
    }
    return s.empty() ? "." : s;
}

std::string DnsRecordData(const DnsRecord& r)
{
    Writer w;
    switch (r.type) {
    case kDnsPtr:
        w.Name(r.target);
        break;
    case kDnsSrv:
        w.U16(0);
        w.U16(0);
        w.U16(r.port);
        w.Name(r.target);
        break;
    case kDnsTxt:
        for (const std::string& s : r.txt) {
            w.U8((uint8_t)(s.size() > 255 ? 255 : s.size()));
            w.Bytes(s.substr(0, 255));
        }
        if (r.txt.empty()) w.U8(0);
        break;
    case kDnsA:
    case kDnsAaaa:
        w.Bytes(r.address);
        break;
    default:
        return r.rdata;
    }
    return std::string(w.m_out.begin(), w.m_out.end());
}

bool ReadDnsMessage(const uint8_t* pData, size_t nSize, DnsMessage& m)
{
    m = DnsMessage();
    if (nSize > kDnsMaxPacket) return false;
    Reader in(pData, nSize);
    uint16_t qd, an, ns, ar;
    if (!in.U16(m.id) || !in.U16(m.flags) || !in.U16(qd) || !in.U16(an) || !in.U16(ns) || !in.U16(ar))
        return false;
    for (uint16_t i = 0; i < qd; ++i) {
        DnsQuestion q;
        uint16_t cls;
        if (!in.Name(q.name) || !in.U16(q.type) || !in.U16(cls)) return false;
        q.bUnicastResponse = (cls & 0x8000) != 0;
        if ((cls & 0x7FFF) == kClassIn || (cls & 0x7FFF) == 255) m.questions.push_back(q);
    }
    return ReadSection(in, an, m.answers) && ReadSection(in, ns, m.authorities) &&
        ReadSection(in, ar, m.additionals);
}

std::vector<uint8_t> WriteDnsMessage(const DnsMessage& m)
{
    Writer w(true);
    w.U16(m.id);
    w.U16(m.flags);
    w.U16((uint16_t)m.questions.size());
    w.U16((uint16_t)m.answers.size());
    w.U16((uint16_t)m.authorities.size());
    w.U16((uint16_t)m.additionals.size());
    for (const DnsQuestion& q : m.questions) {
        w.Name(q.name);
        w.U16(q.type);
        w.U16((uint16_t)(kClassIn | (q.bUnicastResponse ? 0x8000 : 0)));
    }
    for (const auto* section : { &m.answers, &m.authorities, &m.additionals })
        for (const DnsRecord& r : *section) w.Record(r);
    if (w.m_bBad || w.m_out.size() > kDnsMaxPacket) return std::vector<uint8_t>();
    return w.m_out;
}
