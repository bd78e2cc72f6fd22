#include "app/ConversationLog.h"

namespace {

// Shift-JIS (code page 932) byte classes, fixed here because the log is Shift-JIS whatever
// code page the system runs in.
bool IsLeadByte(BYTE c) { return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC); }
bool IsTrailByte(BYTE c) { return c >= 0x40 && c <= 0xFC && c != 0x7F; }
// Single bytes that stand for no character: control characters, DEL, 0x80, 0xA0, 0xFD-0xFF.
bool IsUnprintable(BYTE c) { return c < 0x20 || c == 0x7F || c == 0x80 || c == 0xA0 || c >= 0xFD; }

const char kHex[] = "0123456789ABCDEF";

// The bytes written as a backslash and a letter, both ways.
const struct {
    char chByte;
    char chLetter;
} kEscapes[] = { { '\\', '\\' }, { '\r', 'r' }, { '\n', 'n' }, { '\t', 't' } };

int HexValue(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// Appends the escape of a single byte that is not text as it stands; false for one that is.
bool AppendEscape(std::string& out, BYTE c)
{
    for (const auto& e : kEscapes) {
        if (e.chByte == (char)c) {
            out += '\\';
            out += e.chLetter;
            return true;
        }
    }
    if (!IsUnprintable(c) && !IsLeadByte(c)) return false;
    // A lead byte without its trail byte, or a byte that is no character.
    out += "\\x";
    out += kHex[c >> 4];
    out += kHex[c & 15];
    return true;
}

} // namespace

CString EscapeLineText(const CString& strText)
{
    const std::string& in = strText.str();
    std::string out;
    out.reserve(in.size() + 8);
    for (size_t i = 0; i < in.size(); ++i) {
        const BYTE c = (BYTE)in[i];
        if (IsLeadByte(c) && i + 1 < in.size() && IsTrailByte((BYTE)in[i + 1])) {
            out += in[i];
            out += in[++i];
        } else if (!AppendEscape(out, c)) {
            out += in[i];
        }
    }
    return CString(out);
}

CString UnescapeLineText(const CString& strEscaped)
{
    const std::string& in = strEscaped.str();
    std::string out;
    out.reserve(in.size());
    for (size_t i = 0; i < in.size(); ++i) {
        const BYTE c = (BYTE)in[i];
        if (IsLeadByte(c) && i + 1 < in.size()) {
            out += in[i];
            out += in[++i];
            continue;
        }
        if (c != '\\' || i + 1 >= in.size()) {
            out += in[i];
            continue;
        }
        const char e = in[++i];
        if (e == 'x' && i + 2 < in.size() && HexValue(in[i + 1]) >= 0 && HexValue(in[i + 2]) >= 0) {
            out += (char)(HexValue(in[i + 1]) * 16 + HexValue(in[i + 2]));
            i += 2;
            continue;
        }
        char chByte = e; // anything unknown: the character itself
        for (const auto& esc : kEscapes)
            if (esc.chLetter == e) chByte = esc.chByte;
        out += chByte;
    }
    return CString(out);
}

CString RecordTime(const SYSTEMTIME& st)
{
    CString s;
    s.Format("%02u:%02u:%02u ", st.wHour, st.wMinute, st.wSecond);
    return s;
}

void CConversationLog::SetFolder(const CString& strFolder)
{
    Close();
    m_strFolder = strFolder;
}

CString CConversationLog::PathFor(const SYSTEMTIME& st) const
{
    CString s;
    s.Format("%s%04u-%02u-%02u.txt", m_strFolder.GetString(), st.wYear, st.wMonth, st.wDay);
    return s;
}

BOOL CConversationLog::Append(const SYSTEMTIME& st, const CString& strRecords)
{
    const DWORD dwDay = st.wYear * 10000u + st.wMonth * 100u + st.wDay;
    if (m_hFile != INVALID_HANDLE_VALUE && dwDay != m_dwDay) Close();
    if (m_hFile == INVALID_HANDLE_VALUE) {
        if (!::CreateDirectoryA(m_strFolder, NULL) && ::GetLastError() != ERROR_ALREADY_EXISTS) return FALSE;
        // Appending only: every write lands at the end, even with a second copy of the
        // program writing the same day. Others may read it meanwhile (an editor), not delete it.
        m_hFile = ::CreateFileA(PathFor(st), FILE_APPEND_DATA | SYNCHRONIZE,
            FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
        if (m_hFile == INVALID_HANDLE_VALUE) return FALSE;
        m_dwDay = dwDay;
    }
    DWORD dwWritten = 0;
    const DWORD dwSize = (DWORD)strRecords.GetLength();
    const BOOL bWritten = ::WriteFile(m_hFile, strRecords.GetString(), dwSize, &dwWritten, NULL);
    if (bWritten && dwWritten == dwSize) return TRUE;
    const DWORD dwError = bWritten ? (DWORD)ERROR_DISK_FULL : ::GetLastError();
    // Opened again at the next record: the medium may be back by then.
    Close();
    ::SetLastError(dwError ? dwError : (DWORD)ERROR_WRITE_FAULT);
    return FALSE;
}

void CConversationLog::Close()
{
    if (m_hFile != INVALID_HANDLE_VALUE) ::CloseHandle(m_hFile);
    m_hFile = INVALID_HANDLE_VALUE;
    m_dwDay = 0;
}
