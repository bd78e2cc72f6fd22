#include "call/VerifiedContacts.h"

namespace {

const char kHeader[] = "Kelvaro verified contacts 1";

std::string Escape(const std::string& s)
{
    std::string out;
    for (char c : s) {
        switch (c) {
        case '\\':
            out += "\\\\";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\n':
            out += "\\n";
            break;
        default:
            out += c;
        }
    }
    return out;
}

// The text again; false for a lone backslash or an unknown escape.
bool Unescape(const std::string& s, std::string* pOut)
{
    pOut->clear();
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] != '\\') {
            *pOut += s[i];
            continue;
        }
        if (++i == s.size()) return false;
        const char c = s[i];
        if (c == '\\')
            *pOut += '\\';
        else if (c == 't')
            *pOut += '\t';
        else if (c == 'r')
            *pOut += '\r';
        else if (c == 'n')
            *pOut += '\n';
        else
            return false;
    }
    return true;
}

std::vector<std::string> Split(const std::string& line)
{
    std::vector<std::string> fields;
    size_t pos = 0;
    for (;;) {
        const size_t tab = line.find('\t', pos);
        fields.push_back(line.substr(pos, tab == std::string::npos ? std::string::npos : tab - pos));
        if (tab == std::string::npos) return fields;
        pos = tab + 1;
    }
}

bool IsDigits(const std::string& s, size_t nMax)
{
    if (s.size() > nMax) return false;
    for (char c : s)
        if (c < '0' || c > '9') return false;
    return true;
}

// Host names are the same in any case of ASCII letters.
bool SameAddress(const std::string& a, const std::string& b)
{
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        const char x = a[i] >= 'A' && a[i] <= 'Z' ? (char)(a[i] + 32) : a[i];
        const char y = b[i] >= 'A' && b[i] <= 'Z' ? (char)(b[i] + 32) : b[i];
        if (x != y) return false;
    }
    return true;
}

} // namespace

bool CVerifiedContacts::IsFingerprint(const std::string& s)
{
    if (s.size() != 64) return false;
    for (char c : s)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
    return true;
}

bool CVerifiedContacts::IsVerifiedFingerprint(const std::string& strFingerprint) const
{
    for (const CVerifiedContact& c : m_contacts)
        if (c.strFingerprint == strFingerprint) return true;
    return false;
}

bool CVerifiedContacts::HasVerifiedName(const CString& strName) const
{
    for (const CVerifiedContact& c : m_contacts)
        if (c.strName == strName) return true;
    return false;
}

bool CVerifiedContacts::HasVerifiedPlace(const CString& strAddress, const CString& strPort) const
{
    if (strPort.IsEmpty()) return false;
    for (const CVerifiedContact& c : m_contacts)
        if (c.strPort == strPort && SameAddress(c.strAddress.str(), strAddress.str())) return true;
    return false;
}

CVerifiedContacts::Trust CVerifiedContacts::Classify(
    const std::string& strFingerprint, const CString& strName) const
{
    if (!strFingerprint.empty() && IsVerifiedFingerprint(strFingerprint)) return Trust::Verified;
    return HasVerifiedName(strName) ? Trust::OtherKey : Trust::Plain;
}

bool CVerifiedContacts::Add(const CVerifiedContact& contact)
{
    if (!IsFingerprint(contact.strFingerprint)) return false;
    Remove(contact.strFingerprint);
    m_contacts.push_back(contact);
    return true;
}

bool CVerifiedContacts::Remove(const std::string& strFingerprint)
{
    for (auto it = m_contacts.begin(); it != m_contacts.end(); ++it) {
        if (it->strFingerprint == strFingerprint) {
            m_contacts.erase(it);
            return true;
        }
    }
    return false;
}

std::string CVerifiedContacts::Format() const
{
    std::string text = std::string(kHeader) + "\r\n";
    for (const CVerifiedContact& c : m_contacts) {
        text += c.strFingerprint + '\t' + Escape(c.strWhen.str()) + '\t' + Escape(c.strPort.str()) + '\t' +
            Escape(c.strAddress.str()) + '\t' + Escape(c.strName.str()) + "\r\n";
    }
    return text;
}

void CVerifiedContacts::Parse(const std::string& text)
{
    m_contacts.clear();
    size_t pos = text.find('\n');
    if (pos == std::string::npos) return;
    std::string header = text.substr(0, pos);
    if (!header.empty() && header.back() == '\r') header.pop_back();
    if (header != kHeader) return;
    ++pos;
    // Only lines with their line end count: a write cut short loses its last line, not its sense.
    for (size_t end; (end = text.find('\n', pos)) != std::string::npos; pos = end + 1) {
        std::string line = text.substr(pos, end - pos);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const std::vector<std::string> f = Split(line);
        CVerifiedContact c;
        std::string when, port, address, name;
        if (f.size() != 5 || !IsFingerprint(f[0]) || !Unescape(f[1], &when) || !Unescape(f[2], &port) ||
            !Unescape(f[3], &address) || !Unescape(f[4], &name) || !IsDigits(port, 5))
            continue;
        c.strFingerprint = f[0];
        c.strWhen = CString(when);
        c.strPort = CString(port);
        c.strAddress = CString(address);
        c.strName = CString(name);
        Add(c);
    }
}
