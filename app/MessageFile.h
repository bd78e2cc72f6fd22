// The answering machine's file "Messages.txt": Shift-JIS text, oldest message first, CRLF lines.
// Each message is a header line and then one line for each line the caller sent:
//
//   #<TAB>2026-12-08<TAB>10:15:03<TAB>name<TAB>address<TAB>plain|secure 123 456<TAB>new|read
//   <TAB>first line
//   <TAB>second line
//
// Name, address and lines stand escaped as in the conversation log, so none holds a tab or a
// line break. No Windows header here: the reader is tested and fuzzed on the host.
#pragma once

#include "platform/afxstr.h"

#include <string>
#include <vector>

struct CStoredMessage {
    CString strDate; // "2026-12-08"
    CString strTime; // "10:15:03"
    CString strName; // escaped, as in the file; empty when the caller never said it
    CString strAddress; // escaped
    CString strCode; // the code of an encrypted call ("123 456"); empty for a plain one
    bool bUnread = true;
    std::vector<CString> lines; // escaped
    // Lines after it that could not be read (damaged or half-written), each with its line end,
    // kept as they stand so that writing the file again loses nothing of them.
    std::string strDamaged;

    bool operator==(const CStoredMessage& o) const
    {
        return strDate == o.strDate && strTime == o.strTime && strName == o.strName &&
            strAddress == o.strAddress && strCode == o.strCode && bUnread == o.bUnread && lines == o.lines &&
            strDamaged == o.strDamaged;
    }
};

struct CMessageFile {
    std::string strLeading; // lines before the first message that could not be read, as they stand
    std::vector<CStoredMessage> messages; // oldest first
    int nDamagedLines = 0;
};

// Reads what the file holds: every message whose header is whole, with the whole lines after
// it. A line that cannot be read (a damaged header and the lines under it, a line cut short
// at the end) is kept aside, never taken for a line of another message.
CMessageFile ParseMessageFile(const std::string& bytes);

// The header line and a message line, each with its CRLF.
std::string FormatMessageHeader(const CStoredMessage& message);
std::string FormatMessageLine(const CString& strEscaped);
// The whole file: what ParseMessageFile read from it, written back the same.
std::string FormatMessageFile(const CMessageFile& file);
