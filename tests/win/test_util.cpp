#include "test_util.h"

#include <algorithm>

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
            if (onDialog) onDialog(pDlg);
            else ::PostMessageA(h, WM_COMMAND, IDCANCEL, 0);
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
        ::PostMessageA(h, WM_COMMAND, IDOK, 0);
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
    HANDLE h = ::CreateFileA(path.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    ASSERT_NE(h, INVALID_HANDLE_VALUE) << "cannot write " << path;
    DWORD written = 0;
    ::WriteFile(h, bytes.data(), (DWORD)bytes.size(), &written, NULL);
    ::CloseHandle(h);
}

std::string ReadFileBytes(const std::string& path)
{
    // As an editor reads it, also while the program holds it open for appending (the log).
    HANDLE h = ::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING, 0,
                             NULL);
    if (h == INVALID_HANDLE_VALUE) return std::string();
    std::string out;
    char buf[4096];
    DWORD got = 0;
    while (::ReadFile(h, buf, sizeof buf, &got, NULL) && got) out.append(buf, got);
    ::CloseHandle(h);
    return out;
}

bool FileExists(const std::string& path) { return ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// ---------------------------------------------------------------------------------------------

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
    char buf[4096] = "";
    ::GetWindowTextA(Item(nID), buf, sizeof buf);
    return buf;
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

UINT CTestPhoneDlg::ListeningPort()
{
    CString addr;
    UINT port = 0;
    if (m_sockListen.m_hSocket == INVALID_SOCKET || !m_sockListen.GetSockName(addr, port)) return 0;
    return port;
}

std::vector<std::string> ToVector(const CStringList& list)
{
    std::vector<std::string> out;
    POSITION pos = list.GetHeadPosition();
    while (pos) out.push_back(list.GetNext(pos).str());
    return out;
}
