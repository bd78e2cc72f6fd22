#include "app/MessageFile.h"
#include "app/TabFields.h"

namespace {

const char kSecure[] = "secure ";

// Digits where pattern has '9', the pattern's own byte elsewhere.
bool Matches(const std::string& s, const char* pszPattern)
{
    size_t i = 0;
    for (; pszPattern[i]; ++i) {
        if (i >= s.size()) return false;
        const bool bDigit = s[i] >= '0' && s[i] <= '9';
        if (pszPattern[i] == '9' ? !bDigit : s[i] != pszPattern[i]) return false;
    }
    return i == s.size();
}

// A line of the file never holds a lone CR or LF: escaped texts have none.
bool HasBreak(const std::string& line) { return line.find_first_of("\r\n") != std::string::npos; }

bool ParseHeader(const std::string& line, CStoredMessage* pMessage)
{
    const std::vector<std::string> f = TabFields(line);
    if (f.size() != 7 || f[0] != "#" || !Matches(f[1], "9999-99-99") || !Matches(f[2], "99:99:99"))
        return false;
    CStoredMessage m;
    if (f[5] == "plain") {
    } else if (f[5].compare(0, sizeof kSecure - 1, kSecure) == 0 && f[5].size() > sizeof kSecure - 1) {
        m.strCode = CString(f[5].substr(sizeof kSecure - 1));
    } else {
        return false;
    }
    if (f[6] != "new" && f[6] != "read") return false;
    m.strDate = CString(f[1]);
    m.strTime = CString(f[2]);
    m.strName = CString(f[3]);
    m.strAddress = CString(f[4]);
    m.bUnread = f[6] == "new";
    *pMessage = m;
    return true;
}

} // namespace

CMessageFile ParseMessageFile(const std::string& bytes)
{
    CMessageFile file;
    // Whether lines go to the last message read: not before the first, nor after a damaged header.
    bool bInMessage = false;
    for (size_t pos = 0; pos < bytes.size();) {
        size_t end = bytes.find("\r\n", pos);
        const bool bWhole = end != std::string::npos;
        if (!bWhole) end = bytes.size();
        const std::string line = bytes.substr(pos, end - pos);
        pos = bWhole ? end + 2 : end;

        CStoredMessage header;
        if (bWhole && !HasBreak(line) && ParseHeader(line, &header)) {
            file.messages.push_back(header);
            bInMessage = true;
            continue;
        }
        // A message line is a tab and an escaped text: no tab or line break of its own.
        if (bWhole && bInMessage && !line.empty() && line[0] == '\t' &&
            line.find_first_of("\r\n\t", 1) == std::string::npos) {
            file.messages.back().lines.push_back(CString(line.substr(1)));
            continue;
        }
        // Damaged: kept aside as it stands, with every line after it up to the next whole header,
        // so that the message is read as far as it is whole and written back in its order; lines
        // under a header that cannot be read are never shown as another caller's.
        bInMessage = false;
        ++file.nDamagedLines;
        std::string& rKeep = file.messages.empty() ? file.strLeading : file.messages.back().strDamaged;
        rKeep += line + (bWhole ? "\r\n" : "");
    }
    return file;
}

std::string FormatMessageHeader(const CStoredMessage& m)
{
    return "#\t" + m.strDate.str() + '\t' + m.strTime.str() + '\t' + m.strName.str() + '\t' +
        m.strAddress.str() + '\t' + (m.strCode.IsEmpty() ? std::string("plain") : kSecure + m.strCode.str()) +
        '\t' + (m.bUnread ? "new" : "read") + "\r\n";
}

std::string FormatMessageLine(const CString& strEscaped) { return '\t' + strEscaped.str() + "\r\n"; }

std::string FormatMessageFile(const CMessageFile& file)
{
    std::string out = file.strLeading;
    // A half-written last line is ended, so that nothing written after it joins it.
    const auto endLine = [&out] {
        if (!out.empty() && (out.size() < 2 || out.compare(out.size() - 2, 2, "\r\n") != 0)) out += "\r\n";
    };
    for (const CStoredMessage& m : file.messages) {
        endLine();
        out += FormatMessageHeader(m);
        for (const CString& line : m.lines) out += FormatMessageLine(line);
        out += m.strDamaged;
    }
    return out;
}
