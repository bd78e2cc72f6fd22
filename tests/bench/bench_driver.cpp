// The receive benchmark's driver: starts Kelvaro and the naive window under the same
// wineserver, floods both from raw TCP peers on 127.0.0.1, and measures from this separate
// process what a user would feel: how long a flood takes to be listed (checked item by item),
// how fast the window answers meanwhile, how soon one line is listed, how long start-up takes
// and what memory the listed lines cost. Prints one table; exit code 0 when every goal is met,
// 1 when one is missed, 2 when the measurement itself failed.
//   bench_driver.exe KELVARO_EXE KELVARO_PORT NAIVE_EXE NAIVE_PORT [name=value ...]
// Kelvaro runs in its own folder, which holds a Kelvaro.ini with the port given.
#include <winsock2.h>
#include <windows.h>
#include <psapi.h>

#include "call/SecureChannel.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace {

const int kListId = 1009; // the receive list, in both windows
const DWORD kAskLimitMs = 1000; // a probe not answered by then counts as a miss
const double kStartLimit = 30.0; // seconds for a program to open its port
const double kSettleLimit = 30.0; // seconds for a window to clear its list after a call ends
const int kKelvaroKeeps = 10000; // the newest lines Kelvaro's lists keep

struct Options {
    int lines = 5000;
    int bigLines = 100000;
    int repeats = 3; // small floods per program; the median counts
    // Seconds allowed for each flood; a flood cut short is reported with the time extrapolated
    // from its rate until then (for Kelvaro, a missed goal as well). The floods get less when
    // the run would otherwise take longer than `budget` seconds.
    double floodLimit = 45;
    double bigLimit = 120;
    double naiveBigLimit = 100;
    double budget = 500;
    int latencyLines = 20;
    int startups = 3;
    int probeGapMs = 10;
    int secureLines = 100000; // the encrypted flood (0: none)
    double secureLimit = 60;
    // The long flood, sent to Kelvaro alone after the rest, on a window started for it; its time
    // limit comes on top of the budget.
    int millionLines = 1000000;
    double millionLimit = 150;
};

double Now()
{
    static LARGE_INTEGER freq = [] {
        LARGE_INTEGER f;
        ::QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER t;
    ::QueryPerformanceCounter(&t);
    return (double)t.QuadPart / (double)freq.QuadPart;
}

// When the measuring should be over (see Options::budget); reading items back may go on a
// little past it.
double g_deadline = 1e300;
const double kCheckGrace = 45;
double Left() { return g_deadline - Now(); }

double Median(std::vector<double> v)
{
    if (v.empty()) return -1;
    std::sort(v.begin(), v.end());
    size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// Nearest-rank percentile.
double Percentile(std::vector<double> v, double p)
{
    if (v.empty()) return -1;
    std::sort(v.begin(), v.end());
    size_t rank = (size_t)std::max(1.0, std::ceil(p / 100.0 * (double)v.size()));
    return v[std::min(rank, v.size()) - 1];
}

[[noreturn]] void Fail(const std::string& what)
{
    std::fprintf(stderr, "bench: %s\n", what.c_str());
    std::fflush(stderr);
    std::exit(2);
}

// A message sent to another process's window, with a time limit; false when not answered.
bool Ask(HWND h, UINT msg, WPARAM w, LPARAM l, LRESULT* result = nullptr, DWORD limitMs = kAskLimitMs)
{
    DWORD_PTR r = 0;
    if (!::SendMessageTimeoutW(h, msg, w, l, SMTO_NORMAL, limitMs, &r)) return false;
    if (result) *result = (LRESULT)r;
    return true;
}

int ListCount(HWND list, DWORD limitMs = kAskLimitMs)
{
    LRESULT n = -1;
    return Ask(list, LB_GETCOUNT, 0, 0, &n, limitMs) ? (int)n : -1;
}

// One item of the list, read with the wide messages (they are converted right across
// processes; the ANSI ones are not). One round trip for the usual short item; a longer one
// is measured first.
bool ListItem(HWND list, int i, std::wstring& text)
{
    const size_t kShort = 1024;
    text.assign(kShort, L'\0');
    LRESULT got = 0;
    if (!Ask(list, LB_GETTEXT, (WPARAM)i, (LPARAM)&text[0], &got, 5000) || got < 0) return false;
    if ((size_t)got < kShort - 1) {
        text.resize((size_t)got);
        return true;
    }
    LRESULT len = 0;
    if (!Ask(list, LB_GETTEXTLEN, (WPARAM)i, 0, &len, 5000) || len < 0) return false;
    text.assign((size_t)len + 1, L'\0');
    if (!Ask(list, LB_GETTEXT, (WPARAM)i, (LPARAM)&text[0], &got, 5000) || got < 0) return false;
    text.resize((size_t)got);
    return true;
}

std::string Narrow(const std::wstring& w, UINT cp)
{
    int n = ::WideCharToMultiByte(cp, 0, w.data(), (int)w.size(), NULL, 0, NULL, NULL);
    std::string s((size_t)n, '\0');
    ::WideCharToMultiByte(cp, 0, w.data(), (int)w.size(), &s[0], n, NULL, NULL);
    return s;
}

// The text of line i of a flood: numbered, of varying length, every seventh one Japanese.
std::wstring LineText(const wchar_t* tag, int i)
{
    wchar_t head[64];
    std::swprintf(head, 64, L"%ls %06d ", tag, i);
    std::wstring t = head;
    if (i % 7 == 3) t += L"日本語の行です。";
    static const wchar_t filler[] = L"the quick brown fox jumps over the lazy dog 0123456789";
    t.append(filler, (size_t)((i * 13) % 50));
    return t;
}

// ---------------------------------------------------------------------------------------------
// Connections

SOCKET Connect(int port)
{
    SOCKET s = ::socket(AF_INET, SOCK_STREAM, 0);
    if (s == INVALID_SOCKET) return s;
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_port = htons((u_short)port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(s, (sockaddr*)&a, sizeof a) != 0) {
        ::closesocket(s);
        return INVALID_SOCKET;
    }
    BOOL on = TRUE;
    ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, (const char*)&on, sizeof on);
    // A fixed send buffer keeps what is still on its way small when a flood is cut short.
    int sndbuf = 64 * 1024;
    ::setsockopt(s, SOL_SOCKET, SO_SNDBUF, (const char*)&sndbuf, sizeof sndbuf);
    u_long nb = 1;
    ::ioctlsocket(s, FIONBIO, &nb);
    return s;
}

// Sends everything unless stopped or past the deadline; what the window sends back (its
// greeting) is read and dropped on the way.
bool SendAll(
    SOCKET s, const std::string& bytes, const std::atomic<bool>* stop = nullptr, double deadline = 1e300)
{
    size_t done = 0;
    char sink[4096];
    while (done < bytes.size()) {
        if ((stop && *stop) || Now() > deadline) return false;
        int n = ::send(s, bytes.data() + done, (int)std::min<size_t>(bytes.size() - done, 64 * 1024), 0);
        if (n > 0) {
            done += (size_t)n;
            continue;
        }
        if (::WSAGetLastError() != WSAEWOULDBLOCK) return false;
        while (::recv(s, sink, sizeof sink, 0) > 0) { }
        fd_set w;
        FD_ZERO(&w);
        FD_SET(s, &w);
        timeval tv = { 0, 50000 };
        ::select(0, NULL, &w, NULL, &tv);
    }
    return true;
}

// An orderly close: what came back is read first, so the close is not a reset.
void CloseConnection(SOCKET& s)
{
    if (s == INVALID_SOCKET) return;
    char sink[4096];
    while (::recv(s, sink, sizeof sink, 0) > 0) { }
    ::shutdown(s, SD_SEND);
    ::closesocket(s);
    s = INVALID_SOCKET;
}

// ---------------------------------------------------------------------------------------------
// The programs

struct Target {
    const char* label;
    std::wstring exe, args, dir;
    int port = 0;
    int keeps = 0; // the newest lines its list keeps; 0: all
    PROCESS_INFORMATION pi = {};
    HWND wnd = NULL, list = NULL;
    SOCKET conn = INVALID_SOCKET;
};

struct FindData {
    DWORD pid;
    HWND found;
};

BOOL CALLBACK FindMainWindow(HWND h, LPARAM l)
{
    FindData* d = (FindData*)l;
    DWORD pid = 0;
    ::GetWindowThreadProcessId(h, &pid);
    if (pid == d->pid && ::IsWindowVisible(h) && ::GetDlgItem(h, kListId)) {
        d->found = h;
        return FALSE;
    }
    return TRUE;
}

// Starts the program and connects to it as soon as its port accepts; the seconds that took.
double Start(Target& t)
{
    std::wstring cmd = L"\"" + t.exe + L"\"" + (t.args.empty() ? L"" : L" " + t.args);
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    const double t0 = Now();
    if (!::CreateProcessW(t.exe.c_str(), &cmd[0], NULL, NULL, FALSE, 0, NULL, t.dir.c_str(), &si, &t.pi))
        Fail(std::string("cannot start ") + t.label + ", error " + std::to_string(::GetLastError()));
    double took = -1;
    while (Now() - t0 < kStartLimit) {
        t.conn = Connect(t.port);
        if (t.conn != INVALID_SOCKET) {
            took = Now() - t0;
            break;
        }
        if (::WaitForSingleObject(t.pi.hProcess, 0) == WAIT_OBJECT_0)
            Fail(std::string(t.label) + " ended at start-up");
        ::Sleep(2);
    }
    if (took < 0) Fail(std::string(t.label) + " did not open port " + std::to_string(t.port));
    FindData d = { t.pi.dwProcessId, NULL };
    for (double w0 = Now(); !d.found && Now() - w0 < kStartLimit; ::Sleep(10))
        ::EnumWindows(FindMainWindow, (LPARAM)&d);
    if (!d.found) Fail(std::string("no window with a receive list found for ") + t.label);
    t.wnd = d.found;
    t.list = ::GetDlgItem(t.wnd, kListId);
    return took;
}

// Puts the window at the left edge, or right of another one, so that on a real display
// neither covers the other.
void PlaceBeside(const Target& t, const Target* left)
{
    int x = 0;
    RECT r;
    if (left && ::GetWindowRect(left->wnd, &r)) x = r.right + 8;
    ::SetWindowPos(t.wnd, NULL, x, 0, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void Stop(Target& t)
{
    CloseConnection(t.conn);
    if (!t.pi.hProcess) return;
    if (t.wnd) ::PostMessageW(t.wnd, WM_CLOSE, 0, 0);
    if (::WaitForSingleObject(t.pi.hProcess, 5000) != WAIT_OBJECT_0) {
        ::TerminateProcess(t.pi.hProcess, 1);
        ::WaitForSingleObject(t.pi.hProcess, 5000);
    }
    ::CloseHandle(t.pi.hProcess);
    ::CloseHandle(t.pi.hThread);
    t.pi = PROCESS_INFORMATION();
    t.wnd = t.list = NULL;
}

// Ends the call (closes the connection; with a reset when lines are still waiting unread, so
// the window need not list them first), waits for the window to clear its list, and calls
// again: the next measurement starts on an empty list.
void NewCall(Target& t, bool reset)
{
    if (reset && t.conn != INVALID_SOCKET) {
        linger l = { 1, 0 };
        ::setsockopt(t.conn, SOL_SOCKET, SO_LINGER, (const char*)&l, sizeof l);
        ::closesocket(t.conn);
        t.conn = INVALID_SOCKET;
    }
    CloseConnection(t.conn);
    const double t0 = Now();
    while (ListCount(t.list) != 0) {
        if (Now() - t0 > kSettleLimit)
            Fail(std::string(t.label) + " did not clear its list after the call ended");
        ::Sleep(10);
    }
    ::Sleep(100);
    t.conn = Connect(t.port);
    if (t.conn == INVALID_SOCKET) Fail(std::string("cannot call ") + t.label + " again");
}

// Under Wine the counters of another process come from its /proc status: the working set is
// VmRSS (its peak VmHWM), the commit charge (PagefileUsage) the process's private memory.
struct Memory {
    double peakWorkingSet = -1, workingSet = -1, commit = -1; // MiB
};

Memory MemoryOf(const Target& t)
{
    PROCESS_MEMORY_COUNTERS_EX pmc = {};
    pmc.cb = sizeof pmc;
    Memory m;
    if (::GetProcessMemoryInfo(t.pi.hProcess, (PROCESS_MEMORY_COUNTERS*)&pmc, sizeof pmc)) {
        m.peakWorkingSet = pmc.PeakWorkingSetSize / 1048576.0;
        m.workingSet = pmc.WorkingSetSize / 1048576.0;
        m.commit = pmc.PagefileUsage / 1048576.0;
    }
    return m;
}

// ---------------------------------------------------------------------------------------------
// Measurements

// Compares the list's items from `base` on with the texts sent from `first` on, every `step`th
// one and the last; -1 when all match, else the index (from base) of the first that does not. Stops
// early, with `complete` false, when the run's time is up.
int FirstMismatch(const Target& t, int base, const std::vector<std::wstring>& texts, int count, int step,
    bool& complete, int first = 0)
{
    std::wstring item;
    complete = false;
    auto differs = [&](int i) {
        return !ListItem(t.list, base + i, item) || item != texts[(size_t)(first + i)];
    };
    for (int i = 0; i < count; i += step) {
        if (differs(i)) return i;
        if (Left() < -kCheckGrace) return -1;
    }
    if (count > 0 && differs(count - 1)) return count - 1;
    complete = true;
    return -1;
}

// How many lines of a flood (numbered from 0, see LineText) are listed, from the number of
// the list's last item; -1 when that is not a line of this flood.
int ListedByLastItem(const Target& t, int count, const wchar_t* tag)
{
    std::wstring item;
    if (count <= 0 || !ListItem(t.list, count - 1, item)) return -1;
    const std::wstring head = std::wstring(tag) + L" ";
    if (item.compare(0, head.size(), head) != 0) return -1;
    return std::wcstol(item.c_str() + head.size(), nullptr, 10) + 1;
}

struct Flood {
    int lines = 0;
    int listed = 0; // lines listed when the clock stopped
    int held = 0; // lines in the list at the end (a flood cut short goes on a little)
    double seconds = -1; // until all were listed, or the time limit
    bool whole = false; // all listed within the limit
    int mismatch = -1; // first item that differs from what was sent (-1: none)
    int checkStep = 1; // every item read back, or every so many
    bool checked = false; // the items were all read back (no time-out)
    std::vector<double> answers; // probe round trips, seconds; misses as the limit
    int misses = 0;
    double peakWorkingSet = -1; // MiB, the most seen while the lines were on their way
};

// Sends n lines at once and polls until the list holds them all; meanwhile another thread
// sends the window a message every few milliseconds and times its answer. The items are then
// read back, every one or (checkStep) a sample. With a channel, each line goes as its frame.
Flood FloodLines(Target& t, int n, const wchar_t* tag, double limit, const Options& o, int checkStep = 1,
    CSecureChannel* seal = nullptr)
{
    Flood f;
    f.lines = n;
    f.checkStep = checkStep;
    std::vector<std::wstring> texts;
    std::string bytes;
    texts.reserve((size_t)n);
    for (int i = 0; i < n; ++i) {
        texts.push_back(LineText(tag, i));
        const std::string message = "S" + Narrow(texts.back(), 932) + "\r";
        bytes += seal ? seal->Seal(message) : message;
    }
    const int base = ListCount(t.list, 5000);
    if (base < 0) Fail(std::string(t.label) + " does not answer before the flood");

    std::atomic<bool> stop(false);
    std::thread prober([&] {
        while (!stop) {
            const double a = Now();
            if (Ask(t.wnd, WM_GETTEXTLENGTH, 0, 0)) {
                f.answers.push_back(Now() - a);
            } else {
                f.answers.push_back(kAskLimitMs / 1000.0);
                ++f.misses;
            }
            ::Sleep((DWORD)o.probeGapMs);
        }
    });
    const double t0 = Now();
    std::thread sender([&] { SendAll(t.conn, bytes, &stop, t0 + limit); });
    int count = base;
    // A list that keeps only the newest lines has them all once its last item is the last line.
    const int whole = t.keeps > 0 ? std::min(n, t.keeps) : n;
    for (;;) {
        ::Sleep(20);
        int c = ListCount(t.list);
        if (c >= 0) count = c;
        f.peakWorkingSet = std::max(f.peakWorkingSet, MemoryOf(t).workingSet);
        if (count - base >= whole && (whole == n || ListedByLastItem(t, count, tag) == n)) {
            f.seconds = Now() - t0;
            f.whole = true;
            break;
        }
        if (Now() - t0 > limit) {
            f.seconds = Now() - t0;
            break;
        }
    }
    stop = true;
    prober.join();
    sender.join();
    f.listed = std::min(count - base, n);
    if (t.keeps > 0) f.listed = std::max(ListedByLastItem(t, count, tag), 0);
    if (!f.whole) {
        // Lines already on their way are still being listed: let the window list them (for a
        // while) so that reading the items back does not wait behind them.
        const double t1 = Now();
        int last = -2;
        while (Now() - t1 < std::min(30.0, std::max(Left(), 0.0))) {
            int c = ListCount(t.list);
            if (c == last) break;
            last = c;
            ::Sleep(300);
        }
        if (last >= 0) count = last;
    }
    f.held = std::min(count - base, n);
    // The items held are the last lines listed: all of them, or the newest the list keeps.
    const int listedNow = t.keeps > 0 ? std::max(ListedByLastItem(t, count, tag), 0) : f.held;
    f.mismatch = FirstMismatch(t, base, texts, f.held, checkStep, f.checked, std::max(listedNow - f.held, 0));
    if (count - base > n) f.mismatch = n; // more items than lines sent
    return f;
}

// Median time from sending one line when idle until the list holds it.
double LineLatency(Target& t, const Options& o, bool& allListed)
{
    std::vector<double> lat;
    std::vector<std::wstring> texts;
    allListed = true;
    const int base = ListCount(t.list, 5000);
    for (int i = 0; i < o.latencyLines; ++i) {
        ::Sleep(30);
        const int before = ListCount(t.list, 5000);
        texts.push_back(LineText(L"one", i));
        const std::string line = "S" + Narrow(texts.back(), 932) + "\r";
        const double t0 = Now();
        if (!SendAll(t.conn, line)) Fail(std::string("cannot send to ") + t.label);
        bool listed = false;
        while (Now() - t0 < 5.0) {
            if (ListCount(t.list) > before) {
                listed = true;
                break;
            }
        }
        if (!listed) allListed = false;
        lat.push_back(Now() - t0);
    }
    bool complete = false;
    if (FirstMismatch(t, base, texts, (int)texts.size(), 1, complete) >= 0 || !complete) allListed = false;
    return Median(lat);
}

// The long flood on a window started for it: memory is measured from its idle working set, and
// the list is to hold the newest lines only. Runs past the budget, within its own limit.
Flood MillionFlood(Target& t, const Options& o, Memory& idle)
{
    Start(t);
    PlaceBeside(t, nullptr);
    ::Sleep(1000);
    idle = MemoryOf(t);
    g_deadline = Now() + o.millionLimit + 60;
    Flood f = FloodLines(t, o.millionLines, L"million", o.millionLimit, o);
    // The process's own peak since it started, which no sampling can miss.
    f.peakWorkingSet = std::max(f.peakWorkingSet, MemoryOf(t).peakWorkingSet);
    Stop(t);
    return f;
}

// ---------------------------------------------------------------------------------------------
// The table

// The floods of one size sent to one program.
struct Floods {
    std::vector<Flood> runs;

    bool Whole() const
    {
        for (const Flood& f : runs)
            if (!f.whole) return false;
        return !runs.empty();
    }
    int Mismatch() const
    {
        for (const Flood& f : runs)
            if (f.mismatch >= 0) return f.mismatch;
        return -1;
    }
    bool Checked() const
    {
        for (const Flood& f : runs)
            if (!f.checked) return false;
        return true;
    }
    // The median time; a flood cut short by its time limit counts with the time extrapolated
    // from its rate until then.
    double Seconds() const
    {
        std::vector<double> v;
        for (const Flood& f : runs)
            v.push_back(f.whole ? f.seconds : f.listed > 0 ? f.seconds * f.lines / f.listed : 1e9);
        return Median(v);
    }
    void AddAnswers(std::vector<double>& all, int& misses) const
    {
        for (const Flood& f : runs) {
            all.insert(all.end(), f.answers.begin(), f.answers.end());
            misses += f.misses;
        }
    }
};

struct Results {
    std::vector<double> startup;
    double latency = -1;
    bool latencyListed = false;
    Floods small, big;
    Memory idle, after;
    Flood million; // Kelvaro only
    Memory millionIdle;
};

std::string Fmt(const char* f, double v)
{
    char b[64];
    std::snprintf(b, sizeof b, f, v);
    return b;
}

std::string Thousands(int n)
{
    std::string s = std::to_string(n);
    for (int i = (int)s.size() - 3; i > 0; i -= 3) s.insert((size_t)i, ",");
    return s;
}

struct Row {
    std::string figure, kelvaro, naive, ratio, goal, verdict;
};

void PrintTable(const std::vector<Row>& rows, const std::vector<std::string>& notes)
{
    const char* head[6] = { "figure", "Kelvaro", "naive", "Kelvaro/naive", "goal", "met" };
    size_t w[6];
    for (int c = 0; c < 6; ++c) w[c] = std::string(head[c]).size();
    auto cells = [](const Row& r) {
        return std::vector<std::string> { r.figure, r.kelvaro, r.naive, r.ratio, r.goal, r.verdict };
    };
    for (const Row& r : rows) {
        auto v = cells(r);
        for (int c = 0; c < 6; ++c) w[c] = std::max(w[c], v[(size_t)c].size());
    }
    auto line = [&](const std::vector<std::string>& v) {
        std::string s = "|";
        for (int c = 0; c < 6; ++c)
            s += " " + v[(size_t)c] + std::string(w[c] - v[(size_t)c].size(), ' ') + " |";
        std::printf("%s\n", s.c_str());
    };
    line({ head[0], head[1], head[2], head[3], head[4], head[5] });
    std::string sep = "|";
    for (int c = 0; c < 6; ++c) sep += std::string(w[c] + 2, '-') + "|";
    std::printf("%s\n", sep.c_str());
    for (const Row& r : rows) line(cells(r));
    for (const std::string& n : notes) std::printf("%s\n", n.c_str());
}

// The long flood's rows: time until its last line is listed with the newest held whole and in
// order, the memory it took, and the answer time meanwhile.
void MillionRows(const Flood& f, const Memory& idle, std::vector<Row>& rows,
    const std::function<std::string(bool)>& verdict)
{
    const int keeps = kKelvaroKeeps;
    const bool held = f.held == std::min(f.lines, keeps);
    Row r;
    r.figure = Thousands(f.lines) + " lines sent at once: time until the last is listed";
    r.kelvaro = f.whole ? Fmt("%.2f s", f.seconds)
                        : "~" + Fmt("%.0f s", f.listed > 0 ? f.seconds * f.lines / f.listed : 1e9) + "*";
    r.kelvaro += ", " + Thousands(f.held) + " held";
    if (f.mismatch >= 0)
        r.kelvaro += " (item " + std::to_string(f.mismatch) + " wrong)";
    else if (!f.checked)
        r.kelvaro += " (not all read back in time)";
    r.naive = "-";
    r.ratio = "-";
    r.goal = "the newest " + Thousands(keeps) + " held, in order";
    r.verdict = verdict(f.whole && held && f.mismatch < 0 && f.checked);
    rows.push_back(r);
    const double growth = f.peakWorkingSet - idle.workingSet;
    rows.push_back({ "  peak working set during it, growth over the idle window",
        Fmt("%.1f", f.peakWorkingSet) + Fmt(" (+%.1f) MiB", growth), "-", "-", "<= +20 MiB",
        verdict(idle.workingSet > 0 && growth <= 20) });
    const double p99 = Percentile(f.answers, 99);
    rows.push_back({ "  answer time during it, p99 (misses)",
        Fmt("%.1f ms", p99 * 1000) + " (" + std::to_string(f.misses) + ")", "-", "-", "<= 50 ms, none missed",
        verdict(!f.answers.empty() && p99 <= 0.050 && f.misses == 0) });
}

// The table's rows from both programs' results; `allMet` ends false when a goal is missed.
std::vector<Row> Rows(
    const Results& K, const Results& N, const Options& o, std::vector<std::string>& notes, bool& allMet)
{
    std::vector<Row> rows;
    auto verdict = [&](bool met) {
        allMet = allMet && met;
        return std::string(met ? "yes" : "NO");
    };
    auto ratio = [](double kv, double nv) {
        return (kv >= 0 && nv > 0) ? Fmt("%.2f", kv / nv) : std::string("-");
    };
    auto cell = [](const Floods& f) {
        return f.Whole() ? Fmt("%.2f s", f.Seconds()) : "~" + Fmt("%.0f s", f.Seconds()) + "*";
    };

    for (const Floods* pair : { &K.small, &K.big }) {
        const bool small = pair == &K.small;
        const Floods& fk = *pair;
        const Floods& fn = small ? N.small : N.big;
        if (fk.runs.empty()) continue;
        Row r;
        r.figure = Thousands(fk.runs[0].lines) + " lines sent at once: time until listed" +
            (fk.runs.size() > 1 ? ", median of " + std::to_string(fk.runs.size()) : "");
        r.kelvaro = cell(fk);
        r.naive = cell(fn);
        r.ratio = ratio(fk.Seconds(), fn.Seconds());
        r.goal = "<= 0.10, whole, in order";
        r.verdict =
            verdict(fk.Whole() && fk.Mismatch() < 0 && fk.Checked() && fk.Seconds() <= fn.Seconds() / 10);
        if (fk.Mismatch() >= 0)
            r.kelvaro += " (item " + std::to_string(fk.Mismatch()) + " wrong)";
        else if (!fk.Checked())
            r.kelvaro += " (not all read back in time)";
        if (fn.Mismatch() < 0 && !fn.Checked()) r.naive += " (not all read back in time)";
        rows.push_back(r);
        for (const Floods* f : { &fk, &fn })
            for (const Flood& run : f->runs)
                if (!run.whole)
                    notes.push_back("* " + std::string(f == &fk ? "Kelvaro" : "naive") + ": " +
                        Thousands(run.listed) + " of " + Thousands(run.lines) + " lines listed in the " +
                        Fmt("%.0f s", run.seconds) + " allowed" +
                        (run.mismatch < 0 && run.checked ? ", in order" : "") +
                        "; its time is extrapolated at that rate.");
    }

    std::vector<double> ka, na;
    int kMiss = 0, nMiss = 0;
    K.small.AddAnswers(ka, kMiss);
    K.big.AddAnswers(ka, kMiss);
    N.small.AddAnswers(na, nMiss);
    N.big.AddAnswers(na, nMiss);
    rows.push_back({ "answer time during the floods, median", Fmt("%.1f ms", Median(ka) * 1000),
        Fmt("%.1f ms", Median(na) * 1000), ratio(Median(ka), Median(na)), "", "" });
    const double kp = Percentile(ka, 99), np = Percentile(na, 99);
    rows.push_back({ "answer time during the floods, p99", Fmt("%.1f ms", kp * 1000),
        Fmt("%.1f ms", np * 1000), ratio(kp, np), "<= 50 ms", verdict(!ka.empty() && kp <= 0.050) });
    rows.push_back({ "  probes (misses: no answer in " + std::to_string(kAskLimitMs) + " ms)",
        std::to_string(ka.size()) + " (" + std::to_string(kMiss) + ")",
        std::to_string(na.size()) + " (" + std::to_string(nMiss) + ")", "", "", "" });

    rows.push_back({ "one line until listed, median of " + std::to_string(o.latencyLines),
        Fmt("%.2f ms", K.latency * 1000) + (K.latencyListed ? "" : " (lost)"),
        Fmt("%.2f ms", N.latency * 1000), ratio(K.latency, N.latency), "<= naive",
        verdict(K.latencyListed && K.latency <= N.latency) });
    rows.push_back({ "start-up until the port accepts, median of " + std::to_string(o.startups),
        Fmt("%.0f ms", Median(K.startup) * 1000), Fmt("%.0f ms", Median(N.startup) * 1000),
        ratio(Median(K.startup), Median(N.startup)), "reported", "" });

    if (K.million.lines > 0) {
        MillionRows(K.million, K.millionIdle, rows, verdict);
        notes.push_back("Kelvaro's lists keep the newest " + Thousands(kKelvaroKeeps) +
            " lines: of a longer flood, those are read back once its last line is listed.");
    }

    if (K.big.runs.empty()) return rows;
    const Flood& bk = K.big.runs[0];
    const Flood& bn = N.big.runs[0];
    rows.push_back({ "peak working set after the " + Thousands(o.bigLines) + " lines" +
            (bk.whole && bn.whole ? "" : "**"),
        Fmt("%.1f MiB", K.after.peakWorkingSet), Fmt("%.1f MiB", N.after.peakWorkingSet),
        ratio(K.after.peakWorkingSet, N.after.peakWorkingSet), "reported", "" });
    const double kg = K.after.peakWorkingSet - K.idle.workingSet,
                 ng = N.after.peakWorkingSet - N.idle.workingSet;
    const double kper = bk.held > 0 ? kg * 1000 / bk.held : -1, nper = bn.held > 0 ? ng * 1000 / bn.held : -1;
    rows.push_back({ "  growth over the idle window before that flood", Fmt("%.1f MiB", kg),
        Fmt("%.1f MiB", ng), ratio(kg, ng), "reported", "" });
    rows.push_back({ "  the same per 1,000 lines listed", Fmt("%.0f KiB", kper * 1024),
        Fmt("%.0f KiB", nper * 1024), ratio(kper, nper), "reported", "" });
    rows.push_back({ "  commit charge after it (growth over idle)",
        Fmt("%.1f", K.after.commit) + Fmt(" (+%.1f) MiB", K.after.commit - K.idle.commit),
        Fmt("%.1f", N.after.commit) + Fmt(" (+%.1f) MiB", N.after.commit - N.idle.commit),
        ratio(K.after.commit, N.after.commit), "reported", "" });
    if (!bk.whole || !bn.whole)
        notes.push_back("** the big flood was cut short: read after the " + Thousands(bk.held) +
            " (Kelvaro) and " + Thousands(bn.held) + " (naive) lines listed in the end.");
    notes.push_back(
        "Every item listed is read back and compared with what was sent, except the naive window's of "
        "the big flood: every " +
        std::to_string(bn.checkStep) + "th and the last.");
    return rows;
}

// ---------------------------------------------------------------------------------------------
// The encrypted flood: the driver calls as a secure caller does (greeting, then the commitment
// line), completes the agreement with the window's answer line, reveals its key and floods
// sealed frames.

const double kOfferLimit = 5.0; // seconds for the callee greeting, then for the answer line

// Reads from the connection until `done` holds for what came, within `limit` seconds.
bool ReadUntil(SOCKET s, std::string& buf, double limit, const std::function<bool(const std::string&)>& done)
{
    const double t0 = Now();
    char chunk[4096];
    while (!done(buf)) {
        if (Now() - t0 > limit) return false;
        const int n = ::recv(s, chunk, sizeof chunk, 0);
        if (n > 0) {
            buf.append(chunk, (size_t)n);
            continue;
        }
        if (n == 0 || ::WSAGetLastError() != WSAEWOULDBLOCK) return false;
        fd_set r;
        FD_ZERO(&r);
        FD_SET(s, &r);
        timeval tv = { 0, 20000 };
        ::select(0, &r, NULL, NULL, &tv);
    }
    return true;
}

enum SecureOutcome { SecureAnswered, SecureNoAnswer, SecureBadAnswer };

// On the connection just made: reads the callee greeting, sends the caller greeting and the
// commitment line, completes the agreement with the answer line and sends the reveal line.
SecureOutcome SecureCall(Target& t, CSecureChannel& channel)
{
    std::string in;
    size_t greetingSize = 0; // "a1" name CR "A" name: the long form gives the short one's length
    auto greeted = [&](const std::string& b) {
        const size_t cr = b.find('\r');
        if (cr == std::string::npos || cr < 2) return false;
        greetingSize = 2 * cr;
        return b.size() >= greetingSize;
    };
    if (!ReadUntil(t.conn, in, kOfferLimit, greeted) || in.compare(0, 2, "a1") != 0) return SecureNoAnswer;
    const std::string calleeGreeting = in.substr(0, greetingSize);
    in.erase(0, greetingSize);
    const std::string callerGreeting = "i1bench\rIbench";
    if (!channel.Start(CSecureChannel::Caller)) Fail("the cryptography library does not start");
    if (!SendAll(t.conn, callerGreeting + channel.CommitLine()))
        Fail(std::string("cannot send to ") + t.label);
    auto line = [](const std::string& b) { return b.find('\r') != std::string::npos; };
    if (!ReadUntil(t.conn, in, kOfferLimit, line)) return SecureNoAnswer;
    const std::string answer = in.substr(0, in.find('\r'));
    if (!channel.Complete(answer, callerGreeting, calleeGreeting)) return SecureBadAnswer;
    if (!SendAll(t.conn, channel.KeyLine())) Fail(std::string("cannot send to ") + t.label);
    return SecureAnswered;
}

struct SecureFlood {
    SecureOutcome outcome = SecureNoAnswer;
    Flood flood;
};

// The encrypted flood's rows, beside Kelvaro's plain flood of the same size when there is one.
void AddSecureRows(const SecureFlood& sf, const Results& K, const Options& o, std::vector<Row>& rows,
    std::vector<std::string>& notes, bool& allMet)
{
    const std::string figure = Thousands(o.secureLines) + " encrypted lines sent at once: time until listed";
    const std::string goal = "<= 1.5 x plain, whole, in order";
    if (sf.outcome != SecureAnswered) {
        const bool bad = sf.outcome == SecureBadAnswer;
        rows.push_back({ figure, bad ? "malformed answer" : "n/a", "-", "-", goal, bad ? "NO" : "n/a" });
        notes.push_back(bad ? "Kelvaro's answer to the offer did not complete the agreement."
                            : "Kelvaro did not answer the offer within 5 s: it talks plain.");
        allMet = allMet && !bad;
        return;
    }
    const Flood& f = sf.flood;
    const bool samePlain = !K.big.runs.empty() && K.big.runs[0].lines == f.lines && K.big.Whole();
    const double plain = samePlain ? K.big.Seconds() : -1;
    const bool met = f.whole && f.mismatch < 0 && f.checked && plain > 0 && f.seconds <= 1.5 * plain;
    allMet = allMet && met;
    std::string cell = f.whole ? Fmt("%.2f s", f.seconds) : Fmt("%.0f s (cut short)", f.seconds);
    if (plain > 0) cell += Fmt(" (%.2f x plain)", f.seconds / plain);
    if (f.mismatch >= 0)
        cell += " (item " + std::to_string(f.mismatch) + " wrong)";
    else if (!f.checked)
        cell += " (not all read back in time)";
    rows.push_back({ figure, cell, "-", "-", goal, met ? "yes" : "NO" });
    const double p99 = Percentile(f.answers, 99);
    rows.push_back({ "answer time during the encrypted flood, median / p99",
        Fmt("%.1f", Median(f.answers) * 1000) + Fmt(" / %.1f ms", p99 * 1000), "-", "-", "p99 <= 50 ms",
        p99 >= 0 && p99 <= 0.050 ? "yes" : "NO" });
    allMet = allMet && p99 >= 0 && p99 <= 0.050;
}

bool ParseOption(Options& o, const char* arg)
{
    std::string a = arg;
    size_t eq = a.find('=');
    if (eq == std::string::npos) return false;
    std::string k = a.substr(0, eq);
    double v = std::atof(a.c_str() + eq + 1);
    if (k == "lines")
        o.lines = (int)v;
    else if (k == "big")
        o.bigLines = (int)v;
    else if (k == "repeats")
        o.repeats = std::max(1, (int)v);
    else if (k == "flood-limit")
        o.floodLimit = v;
    else if (k == "big-limit")
        o.bigLimit = v;
    else if (k == "naive-big-limit")
        o.naiveBigLimit = v;
    else if (k == "budget")
        o.budget = v;
    else if (k == "latency-lines")
        o.latencyLines = std::max(1, (int)v);
    else if (k == "startups")
        o.startups = std::max(1, (int)v);
    else if (k == "secure-lines")
        o.secureLines = (int)v;
    else if (k == "secure-limit")
        o.secureLimit = v;
    else if (k == "million")
        o.millionLines = (int)v;
    else if (k == "million-limit")
        o.millionLimit = v;
    else
        return false;
    return true;
}

std::wstring Wide(const char* s)
{
    int n = ::MultiByteToWideChar(CP_UTF8, 0, s, -1, NULL, 0);
    std::wstring w((size_t)std::max(n - 1, 0), L'\0');
    if (n > 1) ::MultiByteToWideChar(CP_UTF8, 0, s, -1, &w[0], n);
    return w;
}

std::wstring FolderOf(const std::wstring& path)
{
    size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? L"." : path.substr(0, slash);
}

void Progress(const char* fmt, const char* label, double v = 0)
{
    std::fprintf(stderr, fmt, label, v);
    std::fflush(stderr);
}

} // namespace

int main(int argc, char** argv)
{
    const double tStart = Now();
    Options o;
    if (argc < 5) {
        std::fprintf(
            stderr, "usage: bench_driver KELVARO_EXE KELVARO_PORT NAIVE_EXE NAIVE_PORT [name=value ...]\n");
        return 2;
    }
    for (int i = 5; i < argc; ++i)
        if (!ParseOption(o, argv[i])) Fail(std::string("unknown option ") + argv[i]);
    WSADATA wsa;
    if (::WSAStartup(MAKEWORD(2, 2), &wsa) != 0) Fail("no Winsock");
    g_deadline = tStart + o.budget;

    Target k, nv;
    k.label = "Kelvaro";
    k.exe = Wide(argv[1]);
    k.dir = FolderOf(k.exe);
    k.port = std::atoi(argv[2]);
    k.keeps = kKelvaroKeeps;
    nv.label = "naive";
    nv.exe = Wide(argv[3]);
    nv.dir = FolderOf(nv.exe);
    nv.port = std::atoi(argv[4]);
    nv.args = std::to_wstring(nv.port);
    Target* both[2] = { &k, &nv };
    Results res[2];

    // Start-up: each program started and stopped in turn.
    for (int r = 0; r < o.startups; ++r)
        for (int i = 0; i < 2; ++i) {
            res[i].startup.push_back(Start(*both[i]));
            Stop(*both[i]);
        }
    Progress("bench: start-up measured%s\n", "");

    // Both windows stay up from here on; the measurements alternate between them, each flood
    // on a new call (an empty list).
    for (Target* t : both) Start(*t);
    PlaceBeside(k, nullptr);
    PlaceBeside(nv, &k);
    for (int i = 0; i < 2; ++i) {
        res[i].latency = LineLatency(*both[i], o, res[i].latencyListed);
        Progress("bench: %s one-line latency %.1f ms\n", both[i]->label, res[i].latency * 1000);
    }
    // The small floods share what is left of the budget beyond what the big ones may need.
    const double bigShare = o.bigLines > 0 ? o.bigLimit + o.naiveBigLimit + 100 : 0;
    for (int r = 0; r < o.repeats; ++r)
        for (int i = 0; i < 2; ++i) {
            std::vector<Flood>& runs = res[i].small.runs;
            NewCall(*both[i], !runs.empty() && !runs.back().whole);
            const int floodsLeft = 2 * (o.repeats - r) - i;
            const double limit = std::min(o.floodLimit, (Left() - bigShare) / floodsLeft);
            runs.push_back(FloodLines(*both[i], o.lines, L"small", std::max(limit, 10.0), o));
            Progress("bench: %s small flood %.2f s\n", both[i]->label, runs.back().seconds);
        }
    for (int i = 0; i < 2 && o.bigLines > 0; ++i) {
        NewCall(*both[i], !res[i].small.runs.back().whole);
        res[i].idle = MemoryOf(*both[i]);
        // What is left of the budget, less time for reading Kelvaro's items back, is shared
        // between the two big floods in the ratio of their limits.
        const double left = Left() - (i == 0 ? 90 : 20);
        const double limit = i == 0 ? std::min(o.bigLimit, left * o.bigLimit / (o.bigLimit + o.naiveBigLimit))
                                    : std::min(o.naiveBigLimit, left);
        // Kelvaro's items are all read back; the naive window's, a baseline, in a sample, to
        // keep the run short.
        res[i].big.runs.push_back(
            FloodLines(*both[i], o.bigLines, L"big", std::max(limit, 15.0), o, i == 0 ? 1 : 97));
        res[i].after = MemoryOf(*both[i]);
        Progress("bench: %s big flood %.2f s\n", both[i]->label, res[i].big.runs.back().seconds);
    }
    // The encrypted flood, last, with time of its own: the figures above are as they were.
    SecureFlood secure;
    CSecureChannel channel;
    if (o.secureLines > 0) {
        g_deadline = std::max(g_deadline, Now() + o.secureLimit + 60);
        const Floods& before = res[0].big.runs.empty() ? res[0].small : res[0].big;
        NewCall(k, !before.runs.back().whole);
        secure.outcome = SecureCall(k, channel);
        if (secure.outcome == SecureAnswered)
            secure.flood = FloodLines(k, o.secureLines, L"sealed", o.secureLimit, o, 1, &channel);
        if (secure.outcome == SecureAnswered)
            Progress("bench: %s encrypted flood %.2f s\n", k.label, secure.flood.seconds);
        else
            Progress("bench: %s did not answer the offer\n", k.label);
    }
    channel.Wipe();
    for (Target* t : both) Stop(*t);
    if (o.millionLines > 0) {
        res[0].million = MillionFlood(k, o, res[0].millionIdle);
        Progress("bench: %s long flood %.2f s\n", k.label, res[0].million.seconds);
    }

    const Results& K = res[0];
    const Results& N = res[1];
    if (N.small.Mismatch() >= 0 || N.big.Mismatch() >= 0 || !N.latencyListed)
        Fail("the naive window lost or reordered lines: the measurement is void");
    std::vector<std::string> notes;
    bool allMet = true;
    std::vector<Row> rows = Rows(K, N, o, notes, allMet);
    if (o.secureLines > 0) AddSecureRows(secure, K, o, rows, notes, allMet);
    PrintTable(rows, notes);
    std::printf("%s\n", allMet ? "bench: every goal met" : "bench: a goal was missed");
    std::fflush(stdout);
    ::WSACleanup();
    return allMet ? 0 : 1;
}
