#include "app/MessageStore.h"
#include "app/FileText.h"

#include <algorithm>

namespace {

bool EndsWhole(const std::string& bytes)
{
    return bytes.empty() || (bytes.size() >= 2 && bytes.compare(bytes.size() - 2, 2, "\r\n") == 0);
}

} // namespace

void CMessageStore::Load(const CString& strPath)
{
    m_strPath = strPath;
    m_bTaking = false;
    std::string bytes;
    ReadFileWhole(strPath, &bytes);
    m_file = ParseMessageFile(bytes);
    m_bEndsWhole = EndsWhole(bytes);
}

int CMessageStore::UnreadCount() const
{
    return (int)std::count_if(
        m_file.messages.begin(), m_file.messages.end(), [](const CStoredMessage& m) { return m.bUnread; });
}

BOOL CMessageStore::Append(const std::string& bytes)
{
    HANDLE h = ::CreateFileA(
        m_strPath, FILE_APPEND_DATA, FILE_SHARE_READ, NULL, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (h == INVALID_HANDLE_VALUE) return FALSE;
    // A half-written last line (a program killed in the middle of a write) is ended first, so
    // that the new line is a line of its own.
    const std::string text = m_bEndsWhole ? bytes : "\r\n" + bytes;
    DWORD written = 0;
    const BOOL bWritten =
        ::WriteFile(h, text.data(), (DWORD)text.size(), &written, NULL) && written == text.size();
    const DWORD dwError = ::GetLastError();
    ::CloseHandle(h);
    if (bWritten) m_bEndsWhole = true;
    ::SetLastError(bWritten ? 0 : dwError ? dwError : (DWORD)ERROR_DISK_FULL);
    return bWritten;
}

BOOL CMessageStore::Rewrite()
{
    const std::string text = FormatMessageFile(m_file);
    if (!WriteFileWhole(m_strPath, text)) return FALSE;
    m_bEndsWhole = EndsWhole(text);
    return TRUE;
}

BOOL CMessageStore::Begin(const CStoredMessage& header)
{
    m_bTaking = true;
    std::vector<CStoredMessage>& all = m_file.messages;
    BOOL bTrimmed = TRUE;
    if ((int)all.size() >= kMax) {
        // The oldest go; the file is written anew without them before the new one is added.
        all.erase(all.begin(), all.begin() + (all.size() - (size_t)(kMax - 1)));
        bTrimmed = Rewrite();
    }
    CStoredMessage m = header;
    m.lines.clear();
    m.strDamaged.clear();
    all.push_back(m);
    // Lines are written only under their own header: after a failed write they are kept in
    // memory, and the next change the user makes writes the file whole.
    m_bWriting = bTrimmed && Append(FormatMessageHeader(m));
    return m_bWriting;
}

BOOL CMessageStore::AddLine(const CString& strEscaped)
{
    if (!m_bTaking || m_file.messages.empty()) return TRUE;
    m_file.messages.back().lines.push_back(strEscaped);
    if (!m_bWriting) return TRUE;
    m_bWriting = Append(FormatMessageLine(strEscaped));
    return m_bWriting;
}

BOOL CMessageStore::MarkRead(int i)
{
    if (i < 0 || i >= GetCount() || !GetAt(i).bUnread) return TRUE;
    m_file.messages[Index(i)].bUnread = false;
    return Rewrite();
}

BOOL CMessageStore::Remove(int i)
{
    if (i < 0 || i >= GetCount()) return TRUE;
    // The message being taken is the newest: it ends here, its further lines are not kept.
    if (i == 0) m_bTaking = false;
    std::vector<CStoredMessage>& all = m_file.messages;
    const size_t at = Index(i); // counted from the oldest
    // What could not be read stays in the file, behind the message before it.
    const std::string strDamaged = all[at].strDamaged;
    all.erase(all.begin() + (std::ptrdiff_t)at);
    if (at == 0)
        m_file.strLeading += strDamaged;
    else
        all[at - 1].strDamaged += strDamaged;
    return Rewrite();
}
