#include "app/LaunchRules.h"

const wchar_t kTraySwitch[] = L"/tray";

namespace {

bool IsBlank(wchar_t ch) { return ch == L' ' || ch == L'\t'; }

wchar_t AsciiLower(wchar_t ch) { return (ch >= L'A' && ch <= L'Z') ? (wchar_t)(ch - L'A' + L'a') : ch; }

// The argument at i (quotes dropped), i moved past it.
std::wstring NextArgument(const std::wstring& s, size_t& i)
{
    while (i < s.size() && IsBlank(s[i])) ++i;
    std::wstring arg;
    bool bQuoted = false;
    for (; i < s.size(); ++i) {
        if (s[i] == L'"') {
            bQuoted = !bQuoted;
        } else if (!bQuoted && IsBlank(s[i])) {
            break;
        } else {
            arg += s[i];
        }
    }
    return arg;
}

} // namespace

bool CommandLineAsksForTray(const std::wstring& strCommandLine)
{
    size_t i = 0;
    NextArgument(strCommandLine, i); // the program's own name
    while (i < strCommandLine.size()) {
        std::wstring arg = NextArgument(strCommandLine, i);
        for (wchar_t& ch : arg) ch = AsciiLower(ch);
        if (arg == L"/tray" || arg == L"-tray") return true;
    }
    return false;
}

std::wstring InstanceName(const std::wstring& strFoldedFolder)
{
    std::wstring folder = strFoldedFolder;
    while (!folder.empty() && (folder.back() == L'\\' || folder.back() == L'/')) folder.pop_back();
    for (wchar_t& ch : folder) {
        if (ch == L'\\') ch = L'/';
    }
    return L"Kelvaro " + folder;
}

uint32_t InstanceTag(const std::wstring& strName)
{
    uint32_t h = 2166136261u;
    for (wchar_t ch : strName) {
        h ^= (uint32_t)ch & 0xFFFFu;
        h *= 16777619u;
    }
    return h;
}

std::wstring RunValue(const std::wstring& strExePath) { return L"\"" + strExePath + L"\" " + kTraySwitch; }

std::wstring RunValueProgram(const std::wstring& strValue)
{
    size_t i = 0;
    while (i < strValue.size() && IsBlank(strValue[i])) ++i;
    if (i < strValue.size() && strValue[i] == L'"') {
        const size_t end = strValue.find(L'"', i + 1);
        return strValue.substr(i + 1, end == std::wstring::npos ? std::wstring::npos : end - i - 1);
    }
    size_t end = i;
    while (end < strValue.size() && !IsBlank(strValue[end])) ++end;
    return strValue.substr(i, end - i);
}
