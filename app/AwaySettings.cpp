#include "app/AwaySettings.h"

#include <cstdlib>

namespace {

const char kSection[] = "Away";
const char kMissing[] = "\x01";

CString Value(const char* pszKey, const char* pszDefault, const CString& strPath)
{
    char buf[kMaxAwayText + 2] = "";
    ::GetPrivateProfileStringA(kSection, pszKey, pszDefault, buf, sizeof buf, strPath);
    return CString(buf);
}

// Writes the key while the value differs from the default, removes it otherwise.
void Keep(const char* pszKey, const CString& strValue, const CString& strDefault, const CString& strPath)
{
    if (strValue != strDefault)
        ::WritePrivateProfileStringA(kSection, pszKey, strValue, strPath);
    else if (Value(pszKey, kMissing, strPath) != kMissing)
        ::WritePrivateProfileStringA(kSection, pszKey, NULL, strPath);
}

} // namespace

CAwayOptions ReadAwayOptions(const CString& strPath)
{
    CAwayOptions options;
    options.bOn = std::atoi(Value("On", "0", strPath)) != 0;
    // Out of range: never below 0, at most an hour.
    const long n = std::atol(Value("AnswerAfter", "0", strPath));
    options.nAnswerAfter = n < 0 ? 0 : n > kMaxAnswerAfter ? kMaxAnswerAfter : (int)n;
    // Cut to the bound on a character's edge (a lead byte is never left without its trail byte).
    const CString strText = Value("Text", kDefaultAwayText, strPath);
    int nLen = 0;
    while (nLen < strText.GetLength()) {
        const int nStep = ::IsDBCSLeadByte((BYTE)strText[nLen]) ? 2 : 1;
        if (nLen + nStep > kMaxAwayText) break;
        nLen += nStep;
    }
    options.strText = strText.Left(nLen);
    return options;
}

void WriteAwayOptions(const CString& strPath, const CAwayOptions& options)
{
    CString strAfter;
    strAfter.Format("%d", options.nAnswerAfter);
    Keep("On", options.bOn ? "1" : "0", "0", strPath);
    Keep("AnswerAfter", strAfter, "0", strPath);
    Keep("Text", options.strText, kDefaultAwayText, strPath);
    // The section goes with its last key.
    char keys[8] = "";
    if (::GetPrivateProfileStringA(kSection, NULL, "", keys, sizeof keys, strPath) == 0)
        ::WritePrivateProfileStringA(kSection, NULL, NULL, strPath);
}
