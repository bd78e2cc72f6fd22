#include "app/NoticeSettings.h"

#include <cstdlib>
#include <cstring>

namespace {

const char kSection[] = "Notice";

// The options, in the order of CNoticeOptions' flags.
struct Option {
    const char* pszKey;
    bool bDefault;
};
const Option kOptions[] = { { "Log", true }, { "Sound", true }, { "DoNotDisturb", false },
    { "RequireSecure", false } };

// A key's value, or pszDefault when the key is missing.
CString Value(const char* pszKey, const char* pszDefault, const CString& strPath)
{
    char buf[64] = "";
    ::GetPrivateProfileStringA(kSection, pszKey, pszDefault, buf, sizeof buf, strPath);
    return CString(buf);
}

// Whether the file has the section, even empty.
bool HasSection(const CString& strPath)
{
    std::string names(4096, '\0');
    DWORD n = ::GetPrivateProfileSectionNamesA(&names[0], (DWORD)names.size(), strPath);
    for (size_t pos = 0; pos < n && names[pos];) {
        const size_t len = std::strlen(&names[pos]);
        if (lstrcmpiA(&names[pos], kSection) == 0) return true;
        pos += len + 1;
    }
    return false;
}

} // namespace

CNoticeOptions ReadNoticeOptions(const CString& strPath)
{
    CNoticeOptions options;
    bool* const flags[] = { &options.bLogOn, &options.bSoundOn, &options.bDoNotDisturb,
        &options.bRequireSecure };
    for (int i = 0; i < 4; ++i)
        *flags[i] = std::atoi(Value(kOptions[i].pszKey, kOptions[i].bDefault ? "1" : "0", strPath)) != 0;
    return options;
}

void WriteNoticeOptions(const CString& strPath, const CNoticeOptions& options)
{
    const bool flags[] = { options.bLogOn, options.bSoundOn, options.bDoNotDisturb, options.bRequireSecure };
    // Nothing at all is written for options at their defaults in a file without the section.
    bool bAnyKey = false;
    for (int i = 0; i < 4; ++i) {
        const Option& o = kOptions[i];
        const bool bValue = flags[i];
        if (bValue != o.bDefault) {
            ::WritePrivateProfileStringA(kSection, o.pszKey, bValue ? "1" : "0", strPath);
            bAnyKey = true;
        } else if (Value(o.pszKey, "\x01", strPath) != "\x01") {
            ::WritePrivateProfileStringA(kSection, o.pszKey, NULL, strPath);
        }
    }
    if (!bAnyKey && HasSection(strPath)) {
        // Only our keys belong there; a key someone else added keeps the section.
        char keys[8] = "";
        if (::GetPrivateProfileStringA(kSection, NULL, "", keys, sizeof keys, strPath) == 0)
            ::WritePrivateProfileStringA(kSection, NULL, NULL, strPath);
    }
}
