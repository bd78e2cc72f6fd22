#include "app/Paths.h"

#include <windows.h>

CString PathFolder(const CString& strPath)
{
    const int n = strPath.GetLength();
    int nDrive = (n >= 2 && strPath[1] == ':' && !::IsDBCSLeadByte((BYTE)strPath[0])) ? 2 : 0;
    int nEnd = nDrive; // one past the last separator
    for (int i = nDrive; i < n; ++i) {
        BYTE ch = (BYTE)strPath[i];
        if (::IsDBCSLeadByte(ch) && i + 1 < n) {
            ++i;
            continue;
        }
        if (ch == '\\' || ch == '/') nEnd = i + 1;
    }
    return strPath.Left(nEnd);
}

CString ModuleFolder()
{
    // Grow the buffer until the whole path fits.
    for (DWORD size = MAX_PATH + 1; size <= 32768; size *= 2) {
        CString path;
        DWORD got = ::GetModuleFileNameA(NULL, path.GetBuffer((int)size), size);
        if (got == 0) return CString();
        if (got < size) {
            path.ReleaseBuffer((int)got);
            return PathFolder(path);
        }
    }
    return CString();
}
