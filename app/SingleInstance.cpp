#include "app/SingleInstance.h"

#include "app/LaunchRules.h"

namespace {

const char kTagProp[] = "Kelvaro.Instance";
// The tag of the name this process holds; 0 while it holds none.
uint32_t g_nTag = 0;

struct FindData {
    uint32_t nTag;
    HWND hFound;
};

BOOL CALLBACK FindTagged(HWND hWnd, LPARAM lParam)
{
    FindData* pData = (FindData*)lParam;
    DWORD dwPid = 0;
    ::GetWindowThreadProcessId(hWnd, &dwPid);
    if (dwPid != ::GetCurrentProcessId() && (uint32_t)(UINT_PTR)::GetPropA(hWnd, kTagProp) == pData->nTag) {
        pData->hFound = hWnd;
        return FALSE;
    }
    return TRUE;
}

} // namespace

std::wstring ModulePathW()
{
    for (DWORD size = MAX_PATH + 1; size <= 32768; size *= 2) {
        std::wstring path(size, L'\0');
        const DWORD got = ::GetModuleFileNameW(NULL, &path[0], size);
        if (got == 0) return std::wstring();
        if (got < size) {
            path.resize(got);
            // A start through a short (8.3) path names the same program.
            std::wstring strLong(32768, L'\0');
            const DWORD n = ::GetLongPathNameW(path.c_str(), &strLong[0], (DWORD)strLong.size());
            if (n > 0 && n < strLong.size()) {
                strLong.resize(n);
                return strLong;
            }
            return path;
        }
    }
    return std::wstring();
}

std::wstring FoldPath(const std::wstring& strPath)
{
    std::wstring folded = strPath;
    if (!folded.empty()) ::CharUpperBuffW(&folded[0], (DWORD)folded.size());
    return folded;
}

CSingleInstance::~CSingleInstance()
{
    if (m_hMutex) ::CloseHandle(m_hMutex);
}

bool CSingleInstance::Claim(const std::wstring& strName)
{
    HANDLE h = ::CreateMutexW(NULL, FALSE, strName.c_str());
    if (!h) return true;
    if (::GetLastError() == ERROR_ALREADY_EXISTS) {
        ::CloseHandle(h);
        return false;
    }
    m_hMutex = h;
    g_nTag = InstanceTag(strName);
    return true;
}

bool CSingleInstance::BringForwardRunning(const std::wstring& strName, DWORD dwWaitMs)
{
    FindData data = { InstanceTag(strName), NULL };
    const DWORD dwStart = ::GetTickCount();
    for (;;) {
        ::EnumWindows(FindTagged, (LPARAM)&data);
        if (data.hFound || ::GetTickCount() - dwStart >= dwWaitMs) break;
        ::Sleep(100);
    }
    if (!data.hFound) return false;
    DWORD dwPid = 0;
    ::GetWindowThreadProcessId(data.hFound, &dwPid);
    // This start came from the user: it may hand the foreground on to the running copy.
    ::AllowSetForegroundWindow(dwPid);
    ::PostMessageA(data.hFound, BringForwardMessage(), 0, 0);
    return true;
}

void CSingleInstance::MarkMainWindow(HWND hWnd)
{
    if (g_nTag) ::SetPropA(hWnd, kTagProp, (HANDLE)(UINT_PTR)g_nTag);
}

void CSingleInstance::UnmarkMainWindow(HWND hWnd) { ::RemovePropA(hWnd, kTagProp); }

UINT CSingleInstance::BringForwardMessage()
{
    static const UINT msg = ::RegisterWindowMessageA("Kelvaro.BringForward");
    return msg;
}
