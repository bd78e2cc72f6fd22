// Files of the settings folder read and written whole.
#pragma once

#include "platform/afxwin.h"

#include <string>

// Writes text to strPath + ".new", flushed to the disk, which then replaces strPath: a program
// killed meanwhile leaves the old file or the new one, never half of one. FALSE with the
// system's error in the last-error value.
BOOL WriteFileWhole(const CString& strPath, const std::string& text);
// The whole file; false when it cannot be opened or read.
bool ReadFileWhole(const CString& strPath, std::string* pText);
