// Starting at logon: the value "Kelvaro" under the user's Run key, holding this program's quoted
// path and the tray switch.
#pragma once

#include <windows.h>

#include <string>

extern const wchar_t kRunKey[];

class CStartWithWindows {
public:
    // strExePath: the program to start (this one's path by default); pszKey: the key under
    // HKEY_CURRENT_USER (the default key when null).
    explicit CStartWithWindows(std::wstring strExePath = std::wstring(), const wchar_t* pszKey = nullptr);

    // The key used when none is given: the Run key, or one of the tests' own (null: the Run key
    // again), so that tests never start anything at logon.
    static void SetDefaultKey(const wchar_t* pszKey);

    // Whether the value is there and starts this very program (not a copy elsewhere).
    bool IsOn() const;
    // Writes or removes the value; 0, or the system's error code. Removing a missing value is
    // no error.
    DWORD Set(bool bOn) const;

private:
    std::wstring m_strExePath;
    std::wstring m_strKey;
};
