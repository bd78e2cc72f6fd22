#include "app/FileText.h"

bool ReadFileWhole(const CString& strPath, std::string* pText)
{
    pText->clear();
    // Another program may hold the file open, even for writing.
    HANDLE h = ::CreateFileA(
        strPath, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING, 0, NULL);
    if (h == INVALID_HANDLE_VALUE) return false;
    char buf[4096];
    DWORD got = 0;
    bool bOk = true;
    while ((bOk = ::ReadFile(h, buf, sizeof buf, &got, NULL) != FALSE) && got) pText->append(buf, got);
    ::CloseHandle(h);
    return bOk;
}

BOOL WriteFileWhole(const CString& strPath, const std::string& text)
{
    const CString strTemp = strPath + ".new";
    HANDLE h = ::CreateFileA(strTemp, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (h == INVALID_HANDLE_VALUE) return FALSE;
    DWORD written = 0;
    // On the disk before it takes the old file's place: a crash right after loses nothing.
    const BOOL bWritten = ::WriteFile(h, text.data(), (DWORD)text.size(), &written, NULL) &&
        written == text.size() && ::FlushFileBuffers(h);
    const DWORD dwError = ::GetLastError();
    ::CloseHandle(h);
    if (bWritten && ::MoveFileExA(strTemp, strPath, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return TRUE;
    const DWORD dwFailure = bWritten ? ::GetLastError() : (dwError ? dwError : (DWORD)ERROR_DISK_FULL);
    ::DeleteFileA(strTemp);
    ::SetLastError(dwFailure);
    return FALSE;
}
