// The messages callers left on the answering machine, kept in "Messages.txt" beside the settings
// file (format in app/MessageFile.h). A message being taken is written through line by line, so
// a program killed meanwhile keeps every line already listed; changes made by the user (read,
// deleted) write the whole file anew beside it first, which then takes the old one's place.
#pragma once

#include "app/MessageFile.h"
#include "platform/afxwin.h"

class CMessageStore {
public:
    // The oldest are dropped beyond this many, when a new message starts.
    static const int kMax = 500;

    // Reads the file; a missing file is an empty list. What cannot be read is kept as it stands.
    void Load(const CString& strPath);
    const CString& Path() const { return m_strPath; }

    int GetCount() const { return (int)m_file.messages.size(); }
    // 0 is the newest.
    const CStoredMessage& GetAt(int i) const { return m_file.messages[Index(i)]; }
    int UnreadCount() const;
    // Whether the file had lines that could not be read.
    bool Damaged() const { return m_file.nDamagedLines > 0; }

    // A message starts: its header is written (after the oldest beyond the bound are dropped).
    // Then its lines, each written as it comes. FALSE with the reason in the last-error value;
    // the message is still kept in memory.
    BOOL Begin(const CStoredMessage& header);
    BOOL AddLine(const CString& strEscaped);
    bool Taking() const { return m_bTaking; }
    void Finish() { m_bTaking = false; }

    // The user's changes, written at once.
    BOOL MarkRead(int i);
    BOOL Remove(int i);

private:
    size_t Index(int i) const { return m_file.messages.size() - 1 - (size_t)i; }
    BOOL Append(const std::string& bytes);
    BOOL Rewrite();

    CString m_strPath;
    CMessageFile m_file;
    bool m_bTaking = false; // the newest message is still being taken
    bool m_bWriting = false; // and its lines are written through to the file
    bool m_bEndsWhole = true; // the file ends with a whole line
};
