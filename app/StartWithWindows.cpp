#include "app/StartWithWindows.h"

#include "app/LaunchRules.h"
#include "app/SingleInstance.h"

const wchar_t kRunKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";

namespace {
const wchar_t kValueName[] = L"Kelvaro";
const wchar_t* g_pszDefaultKey = kRunKey;
} // namespace

CStartWithWindows::CStartWithWindows(std::wstring strExePath, const wchar_t* pszKey)
    : m_strExePath(strExePath.empty() ? ModulePathW() : strExePath),
      m_strKey(pszKey ? pszKey : g_pszDefaultKey)
{
}

void CStartWithWindows::SetDefaultKey(const wchar_t* pszKey) { g_pszDefaultKey = pszKey ? pszKey : kRunKey; }

bool CStartWithWindows::IsOn() const
{
    HKEY hKey = NULL;
    if (::RegOpenKeyExW(HKEY_CURRENT_USER, m_strKey.c_str(), 0, KEY_QUERY_VALUE, &hKey) != ERROR_SUCCESS)
        return false;
    std::wstring value(1024, L'\0');
    DWORD dwType = 0;
    DWORD cb = (DWORD)(value.size() * sizeof(wchar_t));
    LONG r = ::RegQueryValueExW(hKey, kValueName, NULL, &dwType, (BYTE*)&value[0], &cb);
    if (r == ERROR_MORE_DATA) {
        value.assign(cb / sizeof(wchar_t) + 1, L'\0');
        cb = (DWORD)(value.size() * sizeof(wchar_t));
        r = ::RegQueryValueExW(hKey, kValueName, NULL, &dwType, (BYTE*)&value[0], &cb);
    }
    ::RegCloseKey(hKey);
    if (r != ERROR_SUCCESS || (dwType != REG_SZ && dwType != REG_EXPAND_SZ)) return false;
    value.resize(cb / sizeof(wchar_t));
    while (!value.empty() && value.back() == L'\0') value.pop_back();
    return !m_strExePath.empty() && FoldPath(RunValueProgram(value)) == FoldPath(m_strExePath);
}

DWORD CStartWithWindows::Set(bool bOn) const
{
    HKEY hKey = NULL;
    LONG r = bOn
        ? ::RegCreateKeyExW(HKEY_CURRENT_USER, m_strKey.c_str(), 0, NULL, 0, KEY_SET_VALUE, NULL, &hKey, NULL)
        : ::RegOpenKeyExW(HKEY_CURRENT_USER, m_strKey.c_str(), 0, KEY_SET_VALUE, &hKey);
    if (r != ERROR_SUCCESS) return (!bOn && r == ERROR_FILE_NOT_FOUND) ? 0 : (DWORD)r;
    if (bOn) {
        const std::wstring value = RunValue(m_strExePath);
        r = ::RegSetValueExW(hKey, kValueName, 0, REG_SZ, (const BYTE*)value.c_str(),
            (DWORD)((value.size() + 1) * sizeof(wchar_t)));
    } else {
        r = ::RegDeleteValueW(hKey, kValueName);
        if (r == ERROR_FILE_NOT_FOUND) r = ERROR_SUCCESS;
    }
    ::RegCloseKey(hKey);
    return (DWORD)r;
}
