#include "app/Paths.h"

#include <windows.h>
#include <shlobj.h>

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

namespace {

const char kSettingsName[] = "Kelvaro.ini";

CString WithSeparator(const CString& strFolder)
{
    if (strFolder.IsEmpty() || PathFolder(strFolder).GetLength() == strFolder.GetLength()) return strFolder;
    return strFolder + "\\";
}

bool FileExists(const CString& strPath)
{
    const DWORD dwAttr = ::GetFileAttributesA(strPath);
    return dwAttr != INVALID_FILE_ATTRIBUTES && !(dwAttr & FILE_ATTRIBUTE_DIRECTORY);
}

} // namespace

bool CanKeepSettingsIn(const CString& strFolder)
{
    const CString strDir = WithSeparator(strFolder);
    const DWORD dwShare = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    // Opened for writing as it is, not truncated.
    HANDLE h = ::CreateFileA(
        strDir + kSettingsName, GENERIC_WRITE, dwShare, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (h != INVALID_HANDLE_VALUE) {
        ::CloseHandle(h);
        return true;
    }
    // No file, or one that cannot be written: a new file in the folder would do.
    CString strProbe;
    strProbe.Format("%sKelvaro-%lu-%lu.tmp", strDir.GetString(), ::GetCurrentProcessId(), ::GetTickCount());
    h = ::CreateFileA(strProbe, GENERIC_WRITE, 0, NULL, CREATE_NEW,
        FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE, NULL);
    if (h == INVALID_HANDLE_VALUE) return false;
    ::CloseHandle(h);
    return true;
}

CSettingsPlace PerUserSettingsPlace(const CString& strProgramFolder, const CString& strAppData)
{
    CSettingsPlace place;
    if (strAppData.IsEmpty()) return place;
    const CString strDir = WithSeparator(strAppData) + "Kelvaro\\";
    ::CreateDirectoryA(strDir, NULL);
    const CString strPath = strDir + kSettingsName;
    if (FileExists(strPath)) {
        place.strPath = strPath;
        return place;
    }
    // The first time: the old settings come along, or an empty file marks the move as done.
    const CString strOld = WithSeparator(strProgramFolder) + kSettingsName;
    bool bMade = FileExists(strOld) && ::CopyFileA(strOld, strPath, TRUE);
    if (!bMade) {
        HANDLE h = ::CreateFileA(strPath, GENERIC_WRITE, 0, NULL, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, NULL);
        bMade = h != INVALID_HANDLE_VALUE;
        if (bMade) ::CloseHandle(h);
    }
    if (!bMade) return place;
    // A copy of a read-only file is read-only too; this one is ours to write.
    const DWORD dwAttr = ::GetFileAttributesA(strPath);
    if (dwAttr != INVALID_FILE_ATTRIBUTES && (dwAttr & FILE_ATTRIBUTE_READONLY))
        ::SetFileAttributesA(strPath, (dwAttr & ~FILE_ATTRIBUTE_READONLY) | FILE_ATTRIBUTE_NORMAL);
    place.strPath = strPath;
    place.bFirstTime = true;
    return place;
}

CSettingsPlace ChooseSettingsPlace(const CString& strProgramFolder, const CString& strAppData)
{
    if (!CanKeepSettingsIn(strProgramFolder)) {
        CSettingsPlace place = PerUserSettingsPlace(strProgramFolder, strAppData);
        if (!place.strPath.IsEmpty()) return place;
    }
    CSettingsPlace place;
    place.strPath = WithSeparator(strProgramFolder) + kSettingsName;
    return place;
}

const CSettingsPlace& ProgramSettingsPlace()
{
    static const CSettingsPlace place = [] {
        char szAppData[MAX_PATH] = "";
        if (FAILED(::SHGetFolderPathA(
                NULL, CSIDL_APPDATA | CSIDL_FLAG_CREATE, NULL, SHGFP_TYPE_CURRENT, szAppData)))
            szAppData[0] = '\0';
        return ChooseSettingsPlace(ModuleFolder(), szAppData);
    }();
    return place;
}
