// Missed calls: callers the user never talked to, newest first, kept in a file beside the
// program so that they survive a restart.
#pragma once

#include "platform/afxwin.h"

#include <vector>

struct CMissedCall {
    enum Kind {
        Unanswered, // rang and ended before it was answered
        Busy, // turned away while another call was held
        DoNotDisturb, // turned away because the user does not want calls now
    };
    CString strTime; // "2026-05-14 12:00:01"
    CString strName; // empty when the caller was turned away before it said its name
    CString strAddress; // the caller's address, as text
    Kind kind = Unanswered;

    // What the list shows as the caller: the name, or the address when there is none.
    CString Caller() const { return strName.IsEmpty() ? strAddress : strName; }
};

// "2026-05-14 12:00:01" of the time.
CString MissedCallTime(const SYSTEMTIME& st);
// The kind as the list shows it: "不在", "話し中", "応答しない".
const char* MissedCallKindText(CMissedCall::Kind kind);

class CMissedCalls {
public:
    // The oldest are dropped beyond this many.
    static const int kMax = 100;

    void Add(const CMissedCall& call);
    void Clear() { m_calls.clear(); }
    int GetCount() const { return (int)m_calls.size(); }
    const CMissedCall& GetAt(int i) const { return m_calls[(size_t)i]; } // 0 is the newest

    // Reads the list; a missing file is an empty list, lines that cannot be read are skipped.
    void Load(const CString& strPath);
    // Writes the whole list: to a file beside it first, which then takes the old one's place,
    // so that a program killed meanwhile leaves the old list or the new one. FALSE with the
    // reason in the last-error value.
    BOOL Save(const CString& strPath) const;

private:
    std::vector<CMissedCall> m_calls;
};
