#include "tests/win/test_util.h"

#include <algorithm>
#include <sstream>

bool PumpUntil(const std::function<bool()>& cond, DWORD dwTimeoutMs)
{
    const DWORD start = ::GetTickCount();
    while (!cond()) {
        if (::GetTickCount() - start > dwTimeoutMs) return cond();
        MSG msg;
        bool any = false;
        while (::PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE)) {
            any = true;
            ::TranslateMessage(&msg);
            ::DispatchMessageA(&msg);
            if (cond()) return true;
        }
        if (!any) ::MsgWaitForMultipleObjects(0, NULL, FALSE, 10, QS_ALLINPUT);
    }
    return true;
}

void PumpFor(DWORD dwMs)
{
    PumpUntil([] { return false; }, dwMs);
}

// ---------------------------------------------------------------------------------------------

CModalCatcher* CModalCatcher::s_pActive = nullptr;

static void CALLBACK CatcherTimer(HWND, UINT, UINT_PTR, DWORD)
{
    if (CModalCatcher::s_pActive) CModalCatcher::s_pActive->Poll();
}

CModalCatcher::CModalCatcher()
{
    s_pActive = this;
    m_nTimer = ::SetTimer(NULL, 0, 20, CatcherTimer);
}

CModalCatcher::~CModalCatcher()
{
    ::KillTimer(NULL, m_nTimer);
    if (s_pActive == this) s_pActive = nullptr;
}

static BOOL CALLBACK CollectWindow(HWND hWnd, LPARAM lParam)
{
    ((std::vector<HWND>*)lParam)->push_back(hWnd);
    return TRUE;
}

void CModalCatcher::Poll()
{
    std::vector<HWND> windows;
    ::EnumThreadWindows(::GetCurrentThreadId(), CollectWindow, (LPARAM)&windows);
    for (HWND h : windows) {
        if (!::IsWindowVisible(h)) continue;
        if (std::find(m_handled.begin(), m_handled.end(), h) != m_handled.end()) continue;
        char cls[32] = "";
        ::GetClassNameA(h, cls, sizeof cls);
        if (lstrcmpA(cls, "#32770") != 0) continue;
        CWnd* pWnd = CWnd::FromHandlePermanent(h);
        if (pWnd) {
            CDialog* pDlg = dynamic_cast<CDialog*>(pWnd);
            // Only modal dialogs of the program (they disable their owner) are answered.
            if (!pDlg || dynamic_cast<CPhoneDlg*>(pDlg)) continue;
            m_handled.push_back(h);
            if (onDialog)
                onDialog(pDlg);
            else
                ::PostMessageA(h, WM_COMMAND, IDCANCEL, 0);
            continue;
        }
        // A message box: its text is the static with id 0xFFFF.
        m_handled.push_back(h);
        Box box;
        char text[2048] = "";
        ::GetDlgItemTextA(h, 0xFFFF, text, sizeof text);
        box.strText = text;
        char caption[256] = "";
        ::GetWindowTextA(h, caption, sizeof caption);
        box.strCaption = caption;
        box.hOwner = ::GetWindow(h, GW_OWNER);
        boxes.push_back(box);
        ::PostMessageA(h, WM_COMMAND, nBoxAnswer, 0);
    }
}

// ---------------------------------------------------------------------------------------------

CTempDir::CTempDir()
{
    char base[MAX_PATH] = "";
    ::GetTempPathA(sizeof base, base);
    static int serial = 0;
    for (;;) {
        char name[MAX_PATH];
        wsprintfA(name, "%skelvaro-test-%lu-%d\\", base, ::GetCurrentProcessId(), ++serial);
        if (::CreateDirectoryA(name, NULL)) {
            m_path = name;
            return;
        }
    }
}

// Removes a folder (path with its trailing backslash) with everything in it.
static void RemoveTree(const std::string& path)
{
    WIN32_FIND_DATAA fd;
    HANDLE h = ::FindFirstFileA((path + "*").c_str(), &fd);
    if (h != INVALID_HANDLE_VALUE) {
        do {
            std::string f = path + fd.cFileName;
            if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
                ::SetFileAttributesA(f.c_str(), FILE_ATTRIBUTE_NORMAL);
                ::DeleteFileA(f.c_str());
            } else if (lstrcmpA(fd.cFileName, ".") != 0 && lstrcmpA(fd.cFileName, "..") != 0) {
                RemoveTree(f + "\\"); // the conversation log's folder
            }
        } while (::FindNextFileA(h, &fd));
        ::FindClose(h);
    }
    ::SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    ::RemoveDirectoryA(path.c_str());
}

CTempDir::~CTempDir() { RemoveTree(m_path); }

void WriteFileBytes(const std::string& path, const std::string& bytes)
{
    HANDLE h =
        ::CreateFileA(path.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    ASSERT_NE(h, INVALID_HANDLE_VALUE) << "cannot write " << path;
    DWORD written = 0;
    ::WriteFile(h, bytes.data(), (DWORD)bytes.size(), &written, NULL);
    ::CloseHandle(h);
}

std::string ReadFileBytes(const std::string& path)
{
    // As an editor reads it, also while the program holds it open for appending (the log).
    HANDLE h = ::CreateFileA(
        path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING, 0, NULL);
    if (h == INVALID_HANDLE_VALUE) return std::string();
    std::string out;
    char buf[4096];
    DWORD got = 0;
    while (::ReadFile(h, buf, sizeof buf, &got, NULL) && got) out.append(buf, got);
    ::CloseHandle(h);
    return out;
}

bool FileExists(const std::string& path)
{
    return ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// ---------------------------------------------------------------------------------------------

CTestPhoneDlg::CTestPhoneDlg(const std::string& strIniPath) : m_strTestIniPath(strIniPath.c_str())
{
    if ((int)::GetPrivateProfileIntA("Nearby", "Browse", -1, strIniPath.c_str()) == -1)
        ::WritePrivateProfileStringA("Nearby", "Browse", "0", strIniPath.c_str());
}

CTestPhoneDlg::~CTestPhoneDlg()
{
    if (m_hWnd) ::DestroyWindow(m_hWnd);
}

void CTestPhoneDlg::Close()
{
    if (!m_hWnd) return;
    Click(IDCANCEL);
    if (m_hWnd) ::DestroyWindow(m_hWnd);
}

std::string CTestPhoneDlg::ItemText(int nID) const
{
    std::string s((size_t)::GetWindowTextLengthA(Item(nID)) + 1, '\0');
    s.resize((size_t)::GetWindowTextA(Item(nID), &s[0], (int)s.size()));
    return s;
}

std::vector<std::string> CTestPhoneDlg::ListItems(int nID) const
{
    std::vector<std::string> out;
    HWND h = Item(nID);
    int n = (int)::SendMessageA(h, LB_GETCOUNT, 0, 0);
    for (int i = 0; i < n; ++i) {
        int len = (int)::SendMessageA(h, LB_GETTEXTLEN, (WPARAM)i, 0);
        std::string s((size_t)(len > 0 ? len : 0) + 1, '\0');
        int got = (int)::SendMessageA(h, LB_GETTEXT, (WPARAM)i, (LPARAM)&s[0]);
        s.resize((size_t)(got > 0 ? got : 0));
        out.push_back(s);
    }
    return out;
}

std::vector<std::string> CTestPhoneDlg::ComboItems() const
{
    std::vector<std::string> out;
    HWND h = Item(IDC_COMBO_PHONEBOOK);
    int n = (int)::SendMessageA(h, CB_GETCOUNT, 0, 0);
    for (int i = 0; i < n; ++i) {
        int len = (int)::SendMessageA(h, CB_GETLBTEXTLEN, (WPARAM)i, 0);
        std::string s((size_t)(len > 0 ? len : 0) + 1, '\0');
        int got = (int)::SendMessageA(h, CB_GETLBTEXT, (WPARAM)i, (LPARAM)&s[0]);
        s.resize((size_t)(got > 0 ? got : 0));
        out.push_back(s);
    }
    return out;
}

void CTestPhoneDlg::ChooseEntry(int nIndex)
{
    ::SendMessageA(Item(IDC_COMBO_PHONEBOOK), CB_SETCURSEL, (WPARAM)nIndex, 0);
    ::SendMessageA(m_hWnd, WM_COMMAND, MAKEWPARAM(IDC_COMBO_PHONEBOOK, CBN_SELCHANGE),
        (LPARAM)Item(IDC_COMBO_PHONEBOOK));
}

UINT CTestPhoneDlg::ListeningPort() { return m_calls.ListeningPort(); }

std::vector<std::string> CTestPhoneDlg::Book(CString CPhonebookEntry::*pField) const
{
    std::vector<std::string> out;
    for (const CPhonebookEntry& entry : m_book.All()) out.push_back((entry.*pField).str());
    return out;
}

// ---------------------------------------------------------------------------------------------

Phone::Phone(const std::string& strName) : name(strName)
{
    WriteFileBytes(
        dir.File("Kelvaro.ini"), "[Setting]\r\nIP=127.0.0.1\r\nPort=0\r\nName=" + strName + "\r\n");
    dlg.reset(new CTestPhoneDlg(dir.File("Kelvaro.ini")));
    created = dlg->Create() != FALSE;
}

Phone::~Phone()
{
    if (dlg) dlg->Close();
}

static std::string StatusName(const std::string& text)
{
    if (text == "呼び出し中") return "calling";
    if (text == "話し中") return "busy";
    if (text == "留守録中") return "away";
    return "other(" + text + ")";
}

std::string LookOf(CTestPhoneDlg& d)
{
    std::string s = "call:";
    s += d.IsEnabled(IDC_BTN_CALL) ? "on" : "off";
    s += " hangup:";
    s += d.IsEnabled(IDC_BTN_HANGUP) ? "on" : "off";
    s += " answer:";
    s += d.IsEnabled(IDC_BTN_ANSWER) ? "on" : "off";
    s += " status:";
    s += d.IsVisible(IDC_STATIC_STATUS) ? StatusName(d.ItemText(IDC_STATIC_STATUS)) : "hidden";
    return s;
}

std::string Quote(const std::string& bytes)
{
    std::ostringstream o;
    o << '"';
    for (unsigned char c : bytes) {
        if (c == '\r')
            o << "\\r";
        else if (c >= 0x20 && c < 0x7F && c != '"' && c != '\\')
            o << c;
        else {
            static const char hex[] = "0123456789abcdef";
            o << "\\x" << hex[c >> 4] << hex[c & 15];
        }
    }
    o << '"';
    return o.str();
}

std::string Joined(const std::vector<std::string>& items)
{
    std::string s = "[";
    for (size_t i = 0; i < items.size(); ++i) s += (i ? ", " : "") + Quote(items[i]);
    return s + "]";
}

std::string Boxes(const CModalCatcher& c)
{
    std::vector<std::string> texts;
    for (const auto& b : c.boxes) texts.push_back(b.strText);
    return Joined(texts);
}

::testing::AssertionResult NoBoxes(const CModalCatcher& c)
{
    if (c.boxes.empty()) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "unexpected message boxes " << Boxes(c);
}

void Dial(Phone& from, UINT nPort, const char* pszHost)
{
    from->SetItemText(IDC_EDIT_ADDRESS, pszHost);
    from->SetItemText(IDC_EDIT_PORT, PortText(nPort).c_str());
    from->Click(IDC_BTN_CALL);
}

UINT DeadPort(int nFamily)
{
    SOCKET s = ::socket(nFamily, SOCK_STREAM, 0);
    SOCKADDR_STORAGE a = Loopback(nFamily);
    ::bind(s, (sockaddr*)&a, AddressLength(a));
    int len = sizeof a;
    ::getsockname(s, (sockaddr*)&a, &len);
    ::closesocket(s);
    return ntohs(((sockaddr_in&)a).sin_port); // the port is at the same place in both families
}

// ---------------------------------------------------------------------------------------------

bool CRawPeer::Connect(UINT port, int nReceiveBuffer, int nFamily)
{
    m_s = ::socket(nFamily, SOCK_STREAM, 0);
    if (nReceiveBuffer)
        ::setsockopt(m_s, SOL_SOCKET, SO_RCVBUF, (const char*)&nReceiveBuffer, sizeof nReceiveBuffer);
    SOCKADDR_STORAGE a = Loopback(nFamily, port);
    if (::connect(m_s, (sockaddr*)&a, AddressLength(a)) == SOCKET_ERROR) return false;
    NonBlocking();
    return true;
}

bool CRawPeer::Send(const std::string& bytes, DWORD dwTimeoutMs)
{
    size_t done = 0;
    bool failed = false;
    PumpUntil(
        [&] {
            while (done < bytes.size()) {
                int chunk = (int)std::min<size_t>(bytes.size() - done, 64 * 1024);
                int n = ::send(m_s, bytes.data() + done, chunk, 0);
                if (n == SOCKET_ERROR) {
                    if (::WSAGetLastError() != WSAEWOULDBLOCK) failed = true;
                    return failed;
                }
                done += (size_t)n;
            }
            return true;
        },
        dwTimeoutMs);
    return !failed && done == bytes.size();
}

std::string CRawPeer::Read(size_t n, DWORD dwTimeoutMs)
{
    PumpUntil(
        [&] {
            Drain();
            return m_in.size() >= n || m_bClosed;
        },
        dwTimeoutMs);
    std::string out = m_in.substr(0, std::min(n, m_in.size()));
    m_in.erase(0, out.size());
    return out;
}

std::string CRawPeer::ReadFor(DWORD dwMs)
{
    PumpUntil(
        [&] {
            Drain();
            return m_bClosed;
        },
        dwMs);
    Drain();
    std::string out;
    out.swap(m_in);
    return out;
}

bool CRawPeer::WaitClosed(DWORD dwTimeoutMs)
{
    PumpUntil(
        [&] {
            Drain();
            return m_bClosed;
        },
        dwTimeoutMs);
    return m_bClosed;
}

void CRawPeer::Reset()
{
    if (m_s == INVALID_SOCKET) return;
    linger l = { 1, 0 };
    ::setsockopt(m_s, SOL_SOCKET, SO_LINGER, (const char*)&l, sizeof l);
    Close();
}

void CRawPeer::Close()
{
    if (m_s != INVALID_SOCKET) ::closesocket(m_s);
    m_s = INVALID_SOCKET;
}

void CRawPeer::NonBlocking()
{
    u_long on = 1;
    ::ioctlsocket(m_s, FIONBIO, &on);
}

void CRawPeer::Drain()
{
    char buf[4096];
    for (;;) {
        int n = ::recv(m_s, buf, sizeof buf, 0);
        if (n > 0) {
            m_in.append(buf, (size_t)n);
            continue;
        }
        if (n == 0 || ::WSAGetLastError() != WSAEWOULDBLOCK) m_bClosed = true;
        return;
    }
}

CRawListener::CRawListener()
{
    m_s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(m_s, (sockaddr*)&a, sizeof a);
    ::listen(m_s, 5);
    u_long on = 1;
    ::ioctlsocket(m_s, FIONBIO, &on);
    int len = sizeof a;
    ::getsockname(m_s, (sockaddr*)&a, &len);
    m_port = ntohs(a.sin_port);
}

std::unique_ptr<CRawPeer> CRawListener::Accept(DWORD dwTimeoutMs)
{
    SOCKET c = INVALID_SOCKET;
    PumpUntil(
        [&] {
            c = ::accept(m_s, NULL, NULL);
            return c != INVALID_SOCKET;
        },
        dwTimeoutMs);
    if (c == INVALID_SOCKET) return nullptr;
    return std::unique_ptr<CRawPeer>(new CRawPeer(c));
}

// ---------------------------------------------------------------------------------------------

::testing::AssertionResult ReachesLook(CTestPhoneDlg& d, const std::string& look, DWORD dwMs)
{
    if (PumpUntil([&] { return LookOf(d) == look; }, dwMs)) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "look is \"" << LookOf(d) << "\", expected \"" << look << "\"";
}

::testing::AssertionResult ReceivesLines(Phone& p, size_t n)
{
    if (PumpUntil([&] { return p->ListItems(IDC_LIST_RECEIVE).size() == n; }))
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
        << "received " << Joined(p->ListItems(IDC_LIST_RECEIVE)) << ", expected " << n << " lines";
}

::testing::AssertionResult CallsIn(CRawPeer& caller, Phone& callee)
{
    if (!caller.Connect(callee->ListeningPort()))
        return ::testing::AssertionFailure()
            << "no connection to port " << callee->ListeningPort() << ", error " << ::WSAGetLastError();
    return ReachesLook(*callee, kRinging);
}

::testing::AssertionResult CCallFixture::Connect(Phone& north, Phone& south, const char* pszHost)
{
    Dial(north, south, pszHost);
    if (::testing::AssertionResult r = ReachesLook(*north, kCalling); !r) return r;
    if (::testing::AssertionResult r = ReachesLook(*south, kRinging); !r) return r;
    const bool bNamesShown = PumpUntil([&] {
        return north->ItemText(IDC_STATIC_PARTNER) == south.name &&
            south->ItemText(IDC_STATIC_PARTNER) == north.name;
    });
    // The caller's commitment comes right behind its greeting; the callee answers it while ringing
    // and the caller's reveal follows.
    PumpUntil([&] { return south->ItemText(IDC_STATIC_SECURE) != "暗号化なし"; }, 1000);
    if (bNamesShown) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
        << "partner names: caller shows " << Quote(north->ItemText(IDC_STATIC_PARTNER)) << ", callee shows "
        << Quote(south->ItemText(IDC_STATIC_PARTNER));
}

::testing::AssertionResult CCallFixture::Talk(Phone& north, Phone& south, const char* pszHost)
{
    if (::testing::AssertionResult r = Connect(north, south, pszHost); !r) return r;
    south->Click(IDC_BTN_ANSWER);
    if (::testing::AssertionResult r = ReachesLook(*south, kTalking); !r) return r;
    return ReachesLook(*north, kTalking);
}

::testing::AssertionResult CCallFixture::NoSocketLeft(int nListening, DWORD dwMs)
{
    const int expected = m_nSocketsAtStart + nListening;
    if (PumpUntil([&] { return CAsyncSocket::LiveCount() == expected; }, dwMs))
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << CAsyncSocket::LiveCount() << " sockets open, expected "
                                         << expected << " (" << nListening << " listening)";
}

::testing::AssertionResult CCallFixture::FailsWithText(
    Phone& p, const CModalCatcher& catcher, const std::string& strText, DWORD dwTimeoutMs)
{
    if (!PumpUntil([&] { return !catcher.boxes.empty() && LookOf(*p) == kIdle; }, dwTimeoutMs))
        return ::testing::AssertionFailure() << "look " << LookOf(*p) << ", boxes " << Boxes(catcher);
    PumpFor(300);
    if (catcher.boxes.size() != 1 || catcher.boxes[0].strText != strText ||
        catcher.boxes[0].strCaption != "Kelvaro")
        return ::testing::AssertionFailure()
            << "boxes " << Boxes(catcher) << ", expected one with " << Quote(strText);
    return NoSocketLeft(1);
}

::testing::AssertionResult CCallFixture::EndsIdleAndClean(
    Phone& p, int nListening, const CModalCatcher& catcher)
{
    ::testing::AssertionResult idle = ReachesLook(*p, kIdle);
    if (!idle) return idle;
    ::testing::AssertionResult sockets = NoSocketLeft(nListening);
    ::testing::AssertionResult boxes = NoBoxes(catcher);
    if (sockets && boxes) return ::testing::AssertionSuccess();
    ::testing::AssertionResult failure = ::testing::AssertionFailure();
    if (!sockets) failure << sockets.message() << (boxes ? "" : "; ");
    if (!boxes) failure << boxes.message();
    return failure;
}

// ---------------------------------------------------------------------------------------------

SOCKADDR_STORAGE Loopback(int nFamily, UINT nPort)
{
    SOCKADDR_STORAGE ss = {};
    if (nFamily == AF_INET6) {
        sockaddr_in6& a = (sockaddr_in6&)ss;
        a.sin6_family = AF_INET6;
        a.sin6_addr = in6addr_loopback;
        a.sin6_port = htons((u_short)nPort);
    } else {
        sockaddr_in& a = (sockaddr_in&)ss;
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons((u_short)nPort);
    }
    return ss;
}

int AddressLength(const SOCKADDR_STORAGE& rAddress)
{
    return rAddress.ss_family == AF_INET6 ? (int)sizeof(sockaddr_in6) : (int)sizeof(sockaddr_in);
}

const std::string& NoIPv6Loopback()
{
    static const std::string reason = [] {
        SOCKADDR_STORAGE a = Loopback(AF_INET6);
        int len = sizeof a;
        SOCKET l = ::socket(AF_INET6, SOCK_STREAM, 0), c = ::socket(AF_INET6, SOCK_STREAM, 0);
        const bool ok = l != INVALID_SOCKET && !::bind(l, (sockaddr*)&a, AddressLength(a)) &&
            !::listen(l, 1) && !::getsockname(l, (sockaddr*)&a, &len) &&
            !::connect(c, (sockaddr*)&a, AddressLength(a));
        const std::string why =
            ok ? "" : "cannot listen on ::1 and connect to it, error " + std::to_string(::WSAGetLastError());
        ::closesocket(c);
        ::closesocket(l);
        return why;
    }();
    return reason;
}

namespace {
HANDLE LookupGate()
{
    static HANDLE h = ::CreateEventA(NULL, TRUE, TRUE, NULL);
    return h;
}

int LocalhostAsWindows(const char* pszHost, std::vector<SOCKADDR_STORAGE>& rAddresses)
{
    ::WaitForSingleObject(LookupGate(), 10000);
    if (lstrcmpiA(pszHost, "localhost") != 0) return WSAHOST_NOT_FOUND;
    rAddresses = { Loopback(AF_INET6), Loopback(AF_INET) };
    return 0;
}
} // namespace

CLocalhostLookup::CLocalhostLookup(bool bHold)
{
    if (bHold)
        ::ResetEvent(LookupGate());
    else
        ::SetEvent(LookupGate());
    CAsyncSocket::SetHostLookup(LocalhostAsWindows);
}

CLocalhostLookup::~CLocalhostLookup()
{
    Release();
    CAsyncSocket::SetHostLookup(nullptr);
}

void CLocalhostLookup::Release() { ::SetEvent(LookupGate()); }
