// The answering machine's options, kept in the settings file's section "Away": whether it answers
// every call at once ("On"), after how many seconds of ringing it answers otherwise
// ("AnswerAfter", 0 never) and the greeting it sends ("Text"). As with the notices, a key is
// there only while it differs from its default.
#pragma once

#include "platform/afxwin.h"

// The greeting when the user has set none.
inline constexpr char kDefaultAwayText[] = "ただいま留守にしています。メッセージをどうぞ。";

struct CAwayOptions {
    bool bOn = false;
    int nAnswerAfter = 0; // seconds; 0: never
    CString strText = kDefaultAwayText;
};

// The longest ring the machine waits for, in seconds, and the longest greeting, in bytes.
const int kMaxAnswerAfter = 3600;
const int kMaxAwayText = 1000;

CAwayOptions ReadAwayOptions(const CString& strIniPath);
void WriteAwayOptions(const CString& strIniPath, const CAwayOptions& options);
