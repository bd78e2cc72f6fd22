// How a partner found nearby is shown in the phonebook's combo box: its announced name cleaned
// of what could hide or fake text, cut to fit, and always followed by the nearby mark.
#pragma once

#include "platform/afxstr.h"

#include <functional>
#include <string>

// What the mark says besides "近く": nothing, that the fingerprint is a verified contact's, or
// that the name is a verified contact's but the key is another.
enum class NearbyMark { Plain, Verified, OtherKey };

// An instance name (UTF-8) made fit to show: control characters, NUL, bytes that are not UTF-8
// and invisible format characters become U+FFFD, white space of any kind becomes one space
// (runs collapsed, none at the ends), and more than kMaxNearbyChars characters end in "…".
// Empty when nothing else is left: such a name is not listed.
const size_t kMaxNearbyChars = 32;
std::string CleanNearbyName(const std::string& utf8);

// The cleaned name cut (ending in "…") until fits() accepts it; at least one character stays.
std::string FitNearbyName(const std::string& utf8, const std::function<bool(const std::string&)>& fits);

// "名前 (近く)", "名前 (近く・確認済み)" or "名前 (近く・別の鍵)"; with bMoved, "・変更あり" before
// the closing parenthesis.
CString NearbyLabel(const CString& strName, NearbyMark mark, bool bMoved);
