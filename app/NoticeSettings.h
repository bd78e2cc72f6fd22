// The options of the log, the ring and do-not-disturb, kept in the settings file's section
// "Notice". A key is there only while its option differs from the default, and the section only
// while it holds a key, so a file of a user who never changed them keeps exactly its old lines.
#pragma once

#include "platform/afxwin.h"

struct CNoticeOptions {
    bool bLogOn = true;
    bool bSoundOn = true;
    bool bDoNotDisturb = false;
    bool bRequireSecure = false; // talk only in encrypted calls
};

CNoticeOptions ReadNoticeOptions(const CString& strIniPath);
void WriteNoticeOptions(const CString& strIniPath, const CNoticeOptions& options);
