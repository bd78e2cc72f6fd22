// The text of a nearby item. Names are handled as UTF-8 here, as they come from the network;
// the window converts them to its code page afterwards.
#include "phonebook/NearbyLabel.h"

#include <algorithm>
#include <vector>

namespace {

const uint32_t kReplacement = 0xFFFD;

// The code points of s; a byte that does not start a valid sequence stands for U+FFFD.
std::vector<uint32_t> Decode(const std::string& s)
{
    std::vector<uint32_t> out;
    for (size_t i = 0; i < s.size();) {
        const unsigned char c = (unsigned char)s[i];
        size_t n = c < 0x80      ? 1
            : (c & 0xE0) == 0xC0 ? 2
            : (c & 0xF0) == 0xE0 ? 3
            : (c & 0xF8) == 0xF0 ? 4
                                 : 0;
        uint32_t cp = n == 1 ? c : n == 2 ? c & 0x1F : n == 3 ? c & 0x0F : c & 0x07;
        bool bOk = n != 0 && i + n <= s.size();
        for (size_t k = 1; bOk && k < n; ++k) {
            const unsigned char t = (unsigned char)s[i + k];
            bOk = (t & 0xC0) == 0x80;
            cp = cp << 6 | (t & 0x3F);
        }
        static const uint32_t kMin[] = { 0, 0, 0x80, 0x800, 0x10000 };
        if (bOk && (cp < kMin[n] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))) bOk = false;
        out.push_back(bOk ? cp : kReplacement);
        i += bOk ? n : 1;
    }
    return out;
}

std::string Encode(const std::vector<uint32_t>& cps)
{
    std::string s;
    for (uint32_t cp : cps) {
        if (cp < 0x80) {
            s += (char)cp;
        } else if (cp < 0x800) {
            s += (char)(0xC0 | cp >> 6);
            s += (char)(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            s += (char)(0xE0 | cp >> 12);
            s += (char)(0x80 | (cp >> 6 & 0x3F));
            s += (char)(0x80 | (cp & 0x3F));
        } else {
            s += (char)(0xF0 | cp >> 18);
            s += (char)(0x80 | (cp >> 12 & 0x3F));
            s += (char)(0x80 | (cp >> 6 & 0x3F));
            s += (char)(0x80 | (cp & 0x3F));
        }
    }
    return s;
}

bool IsSpace(uint32_t cp)
{
    return cp == ' ' || (cp >= 0x09 && cp <= 0x0D) || cp == 0x85 || cp == 0xA0 || cp == 0x1680 ||
        (cp >= 0x2000 && cp <= 0x200A) || cp == 0x2028 || cp == 0x2029 || cp == 0x202F || cp == 0x205F ||
        cp == 0x3000;
}

// Characters that draw nothing or reorder the text around them.
bool IsHidden(uint32_t cp)
{
    return cp < 0x20 || (cp >= 0x7F && cp <= 0x9F) || cp == 0xAD || (cp >= 0x200B && cp <= 0x200F) ||
        (cp >= 0x202A && cp <= 0x202E) || (cp >= 0x2060 && cp <= 0x206F) || cp == 0xFEFF ||
        (cp >= 0xFFF9 && cp <= 0xFFFB) || (cp >= 0xE0000 && cp <= 0xE007F);
}

const uint32_t kEllipsis = 0x2026;

} // namespace

std::string CleanNearbyName(const std::string& utf8)
{
    std::vector<uint32_t> out;
    for (uint32_t cp : Decode(utf8)) {
        if (IsSpace(cp)) {
            if (!out.empty() && out.back() != ' ') out.push_back(' ');
            continue;
        }
        out.push_back(IsHidden(cp) ? kReplacement : cp);
    }
    if (!out.empty() && out.back() == ' ') out.pop_back();
    // A name of nothing but characters that could not be shown is no name.
    if (std::all_of(out.begin(), out.end(), [](uint32_t cp) { return cp == kReplacement || cp == ' '; }))
        return std::string();
    if (out.size() > kMaxNearbyChars) {
        out.resize(kMaxNearbyChars - 1);
        if (out.back() == ' ') out.pop_back();
        out.push_back(kEllipsis);
    }
    return Encode(out);
}

std::string FitNearbyName(const std::string& utf8, const std::function<bool(const std::string&)>& fits)
{
    if (fits(utf8)) return utf8;
    std::vector<uint32_t> cps = Decode(utf8);
    if (!cps.empty() && cps.back() == kEllipsis) cps.pop_back();
    while (cps.size() > 1) {
        cps.pop_back();
        if (cps.back() == ' ') continue;
        std::vector<uint32_t> cut = cps;
        cut.push_back(kEllipsis);
        if (fits(Encode(cut))) return Encode(cut);
    }
    cps.push_back(kEllipsis);
    return Encode(cps);
}

CString NearbyLabel(const CString& strName, NearbyMark mark, bool bMoved)
{
    CString s = strName + " (近く";
    if (mark == NearbyMark::Verified) s += "・確認済み";
    if (mark == NearbyMark::OtherKey) s += "・別の鍵";
    if (bMoved) s += "・変更あり";
    return s + ")";
}
