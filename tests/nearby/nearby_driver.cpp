// Reads and drives the main windows of Kelvaro copies running in the same wineserver, for the
// nearby tests. One command per line on standard input, one answer line on standard output,
// texts in UTF-8 (read with the wide functions, which come back right across processes):
//   items NAME          the phonebook combo's items, tab-separated
//   select NAME INDEX   chooses a combo item as the user does; answers "ok"
//   fields NAME         the address, port and partner-name texts, tab-separated
//   enabled NAME ID     1 or 0: whether control ID is enabled
//   click NAME ID       clicks button ID; answers "ok"
//   command NAME ID     sends the menu command ID; answers "ok"
// NAME is the text of the window's own-name box; "none" answers when no such window is found.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

std::string Utf8(const std::wstring& w)
{
    if (w.empty()) return std::string();
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, w.data(), (int)w.size(), NULL, 0, NULL, NULL);
    std::string s((size_t)n, '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, w.data(), (int)w.size(), &s[0], n, NULL, NULL);
    return s;
}

std::wstring Text(HWND h)
{
    DWORD_PTR n = 0;
    if (!::SendMessageTimeoutW(h, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 2000, &n)) return L"";
    std::wstring w(n + 1, L'\0');
    ::SendMessageTimeoutW(h, WM_GETTEXT, n + 1, (LPARAM)&w[0], SMTO_ABORTIFHUNG, 2000, &n);
    w.resize(n);
    return w;
}

struct Search {
    std::string name;
    HWND found;
};

BOOL CALLBACK Visit(HWND h, LPARAM lParam)
{
    auto* s = (Search*)lParam;
    HWND hName = ::GetDlgItem(h, 1012);
    if (hName && ::GetDlgItem(h, 1015) && Utf8(Text(hName)) == s->name) {
        s->found = h;
        return FALSE;
    }
    return TRUE;
}

HWND Find(const std::string& name)
{
    Search s { name, NULL };
    ::EnumWindows(Visit, (LPARAM)&s);
    return s.found;
}

std::string Items(HWND hDlg)
{
    HWND hCombo = ::GetDlgItem(hDlg, 1015);
    const int n = (int)::SendMessageW(hCombo, CB_GETCOUNT, 0, 0);
    std::string out;
    for (int i = 0; i < n; ++i) {
        const int len = (int)::SendMessageW(hCombo, CB_GETLBTEXTLEN, i, 0);
        std::wstring w((size_t)(len > 0 ? len : 0) + 1, L'\0');
        ::SendMessageW(hCombo, CB_GETLBTEXT, i, (LPARAM)&w[0]);
        w.resize(wcslen(w.c_str()));
        out += (i ? "\t" : "") + Utf8(w);
    }
    return out;
}

std::string Run(const std::string& verb, HWND h, const std::string& arg)
{
    const int id = std::atoi(arg.c_str());
    if (verb == "items") return Items(h);
    if (verb == "fields")
        return Utf8(Text(::GetDlgItem(h, 1000))) + "\t" + Utf8(Text(::GetDlgItem(h, 1001))) + "\t" +
            Utf8(Text(::GetDlgItem(h, 1011)));
    if (verb == "enabled") return ::IsWindowEnabled(::GetDlgItem(h, id)) ? "1" : "0";
    if (verb == "select") {
        HWND hCombo = ::GetDlgItem(h, 1015);
        ::SendMessageW(hCombo, CB_SETCURSEL, id, 0);
        ::SendMessageW(h, WM_COMMAND, MAKEWPARAM(1015, CBN_SELCHANGE), (LPARAM)hCombo);
        return "ok";
    }
    if (verb == "click") {
        ::SendMessageW(::GetDlgItem(h, id), BM_CLICK, 0, 0);
        return "ok";
    }
    if (verb == "command") {
        ::SendMessageW(h, WM_COMMAND, MAKEWPARAM(id, 0), 0);
        return "ok";
    }
    return "unknown";
}

} // namespace

int main()
{
    char line[1024];
    while (std::fgets(line, sizeof line, stdin)) {
        std::string s(line);
        while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
        const size_t a = s.find(' '), b = s.find(' ', a == std::string::npos ? a : a + 1);
        const std::string verb = s.substr(0, a);
        const std::string name =
            a == std::string::npos ? "" : s.substr(a + 1, b == std::string::npos ? b : b - a - 1);
        const std::string arg = b == std::string::npos ? "" : s.substr(b + 1);
        HWND h = Find(name);
        std::printf("%s\n", h ? Run(verb, h, arg).c_str() : "none");
        std::fflush(stdout);
    }
    return 0;
}
