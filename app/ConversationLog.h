// The conversation log: a folder "log" beside the program with one Shift-JIS text file a day
// ("2026-05-14.txt"), one record a CRLF line. Records are handed to the system as they happen,
// so a program that is killed loses none of them.
#pragma once

#include "platform/afxwin.h"

// A text as it may stand in one line of a Shift-JIS file: double-byte characters stay whole;
// a backslash is doubled; CR, LF and tab become \r, \n and \t; other control characters,
// bytes that are not Shift-JIS and a lead byte without its trail byte become \xHH.
CString EscapeLineText(const CString& strText);
// The text again, from what EscapeLineText made of it.
CString UnescapeLineText(const CString& strEscaped);

// "HH:MM:SS " of the time, the start of every record.
CString RecordTime(const SYSTEMTIME& st);

class CConversationLog {
public:
    CConversationLog() { }
    ~CConversationLog() { Close(); }
    CConversationLog(const CConversationLog&) = delete;
    CConversationLog& operator=(const CConversationLog&) = delete;

    // The folder of the day files, with its trailing separator. Closes an open file.
    void SetFolder(const CString& strFolder);
    const CString& Folder() const { return m_strFolder; }
    // The file of the day of st.
    CString PathFor(const SYSTEMTIME& st) const;

    // Appends the records (each ending in CRLF) to the file of st's day with one write,
    // creating the folder and the file as needed; the file stays open for the next records.
    // FALSE with the reason in the last-error value.
    BOOL Append(const SYSTEMTIME& st, const CString& strRecords);
    void Close();

private:
    CString m_strFolder;
    HANDLE m_hFile = INVALID_HANDLE_VALUE;
    DWORD m_dwDay = 0; // year * 10000 + month * 100 + day of the open file
};
