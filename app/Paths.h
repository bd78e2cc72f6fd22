// Paths of the files beside the executable.
#pragma once

#include "platform/afxstr.h"

// Drive and directory of a path or URL, with the trailing separator: "E:\Tools\Phone\" of
// "E:\Tools\Phone\Kelvaro.exe", "http://host/dir/" of "http://host/dir/", "" of "mailto:a@b".
// Double-byte characters are stepped over whole, so a trail byte 0x5C is never a separator.
CString PathFolder(const CString& strPath);

// Folder of the running executable.
CString ModuleFolder();
