// Shared helpers of the Windows tests: bounded message pumping, answering modal boxes, a main
// window whose settings file and internals tests can reach, and temporary folders.
#pragma once

#include <gtest/gtest.h>

#include "tests/call_looks.h"
#include "app/PhoneDlg.h"
#include "platform/afxsock.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

// Dispatches messages until cond() holds or the time is up; returns cond().
bool PumpUntil(const std::function<bool()>& cond, DWORD dwTimeoutMs = 5000);
// Dispatches messages for the given time.
void PumpFor(DWORD dwMs);

// While it lives, every message box raised on this thread is recorded (text and caption, as
// the ANSI bytes the program used) and answered with OK. Dialogs of the program's own (the
// name dialog, the version box) are passed to onDialog, which may fill and end them; without
// one they are cancelled. Works inside any modal loop, through a thread timer.
class CModalCatcher {
public:
    CModalCatcher();
    ~CModalCatcher();

    struct Box {
        std::string strText;
        std::string strCaption;
        HWND hOwner;
    };
    std::vector<Box> boxes;
    std::function<void(CDialog* pDlg)> onDialog;
    std::vector<UINT> dialogTemplates; // template ids of the program's dialogs seen

    static CModalCatcher* s_pActive;
    void Poll();

private:
    UINT_PTR m_nTimer;
    std::vector<HWND> m_handled;
};

// A fresh folder under the temporary directory, removed with its files on destruction.
class CTempDir {
public:
    CTempDir();
    ~CTempDir();
    std::string Path() const { return m_path; } // with a trailing backslash
    std::string File(const char* name) const { return m_path + name; }

private:
    std::string m_path;
};

// Writes a text file (bytes as given).
void WriteFileBytes(const std::string& path, const std::string& bytes);
// Reads a whole file; empty when missing.
std::string ReadFileBytes(const std::string& path);
bool FileExists(const std::string& path);

// The main window with its settings file in a folder of the test's choosing and its internals
// readable. Create() makes it modeless; Close() ends it as "OFF" would and destroys it.
class CTestPhoneDlg : public CPhoneDlg {
public:
    // Outside a network namespace of its own no test may send multicast: unless the settings say
    // otherwise, the window is set not to look for partners nearby, as a user turns it off.
    explicit CTestPhoneDlg(const std::string& strIniPath);
    ~CTestPhoneDlg() override;

    BOOL Create() { return CDialog::Create(IDD_KELVARO_DIALOG); }
    // Presses "OFF" and destroys the window (OnDestroy writes the settings).
    void Close();

    HWND Item(int nID) const { return ::GetDlgItem(m_hWnd, nID); }
    std::string ItemText(int nID) const;
    void SetItemText(int nID, const char* pszText) { ::SetWindowTextA(Item(nID), pszText); }
    bool IsEnabled(int nID) const { return ::IsWindowEnabled(Item(nID)) != FALSE; }
    bool IsVisible(int nID) const { return (::GetWindowLongA(Item(nID), GWL_STYLE) & WS_VISIBLE) != 0; }
    // A click as the user makes it: BM_CLICK on the control.
    void Click(int nID) { ::SendMessageA(Item(nID), BM_CLICK, 0, 0); }
    // A command as a menu or accelerator sends it.
    void Command(UINT nID) { ::SendMessageA(m_hWnd, WM_COMMAND, MAKEWPARAM(nID, 0), 0); }
    std::vector<std::string> ListItems(int nID) const;
    std::vector<std::string> ComboItems() const;
    int ComboSel() const { return (int)::SendMessageA(Item(IDC_COMBO_PHONEBOOK), CB_GETCURSEL, 0, 0); }
    // Chooses a combo item as the user does: selection, then CBN_SELCHANGE to the window.
    void ChooseEntry(int nIndex);
    // The port the listening socket is bound to (0 when it is not open).
    UINT ListeningPort();

    CSettingsPlace SettingsPlace() const override { return { m_strTestIniPath }; }

    // Internals for checks.
    bool InTray() const { return m_bInTray; }
    // Where the calls stand, as the user sees it: "受ける" is on exactly while a call rings;
    // "呼び出し中" with "受ける" off is a call placed and not yet answered; "かける" is off while a
    // call stands.
    bool Ringing() const { return IsEnabled(IDC_BTN_ANSWER); }
    bool Calling() const
    {
        return IsVisible(IDC_STATIC_STATUS) && ItemText(IDC_STATIC_STATUS) == "呼び出し中" && !Ringing();
    }
    bool CallStands() const { return !IsEnabled(IDC_BTN_CALL); }
    bool MinStart() const { return m_bMinStart; }
    int BookSel() const { return m_nBookSel; }
    const CString& PartnerName() const { return m_strPartnerName; }
    CCallSocket* InSocket() { return m_calls.SocketOf(CallConn::In); }
    CCallSocket* BusySocket() { return m_calls.SocketOf(CallConn::Busy); }
    // One field of every phonebook entry, in order.
    std::vector<std::string> Book(CString CPhonebookEntry::*pField) const;

private:
    CString m_strTestIniPath;
};

// The settings text that makes the listening socket take a free port.
const char kPortZero[] = "[Setting]\r\nPort=0\r\n";

// A fresh folder with a settings file "Kelvaro.ini" holding the given text.
class CIniFolder {
public:
    explicit CIniFolder(const std::string& strIniText) : m_ini(m_dir.File("Kelvaro.ini"))
    {
        WriteFileBytes(m_ini, strIniText);
    }
    const std::string& IniFile() const { return m_ini; }

private:
    CTempDir m_dir;
    std::string m_ini;
};

// The main window on a settings file of its own written from the given text; the folder goes
// after the window. Create() still makes the window, as for CTestPhoneDlg.
class CPhoneDlgInTempDir : private CIniFolder, public CTestPhoneDlg {
public:
    explicit CPhoneDlgInTempDir(const std::string& strIniText)
        : CIniFolder(strIniText), CTestPhoneDlg(CIniFolder::IniFile())
    {
    }
    using CIniFolder::IniFile;
};

// Shift-JIS bytes of a UTF-8 literal written in a test (the test sources are compiled with
// the same character-set options as the program, so plain literals are Shift-JIS already).

// ---------------------------------------------------------------------------------------------
// IPv6

// Why the IPv6 loopback (::1) cannot be used on this machine; empty when it can.
const std::string& NoIPv6Loopback();
#define SKIP_WITHOUT_IPV6()                                                                                  \
    if (!NoIPv6Loopback().empty()) GTEST_SKIP() << "no IPv6 loopback here: " << NoIPv6Loopback()

// The loopback address of the family (127.0.0.1 or ::1) with the port.
SOCKADDR_STORAGE Loopback(int nFamily, UINT nPort = 0);
int AddressLength(const SOCKADDR_STORAGE& rAddress);

// While it lives, host names are looked up as Windows looks up "localhost": ::1, then
// 127.0.0.1; other names are not found. With bHold, each look-up waits until Release (at most
// 10 s), so that a test can act while one is under way.
class CLocalhostLookup {
public:
    explicit CLocalhostLookup(bool bHold = false);
    ~CLocalhostLookup();
    void Release();
};

// ---------------------------------------------------------------------------------------------
// Calls: main windows and raw peers talking over 127.0.0.1.

const char kCR = '\r';

// One copy of the program: its own folder, settings file (free port, own name) and window.
struct Phone {
    CTempDir dir;
    std::unique_ptr<CTestPhoneDlg> dlg;
    std::string name;
    bool created = false;

    explicit Phone(const std::string& strName);
    ~Phone();
    CTestPhoneDlg* operator->() { return dlg.get(); }
    CTestPhoneDlg& operator*() { return *dlg; }
};

// What the user sees of the call: the three buttons and the status display.
std::string LookOf(CTestPhoneDlg& d);

// Bytes in double quotes, CR as \r and the rest outside printable ASCII as \xNN.
std::string Quote(const std::string& bytes);
std::string Joined(const std::vector<std::string>& items);
// The texts of the message boxes caught so far.
std::string Boxes(const CModalCatcher& c);
// No message box came up; the message lists those that did.
::testing::AssertionResult NoBoxes(const CModalCatcher& c);
inline std::string PortText(UINT port) { return std::to_string(port); }

// Points `from` at a port and presses "かける".
void Dial(Phone& from, UINT nPort, const char* pszHost = "127.0.0.1");
// Points `from` at `to` and presses "かける".
inline void Dial(Phone& from, Phone& to, const char* pszHost = "127.0.0.1")
{
    Dial(from, to->ListeningPort(), pszHost);
}
// A loopback port of the family where nothing listens: bound once by the system's choice, then
// released.
UINT DeadPort(int nFamily = AF_INET);

// A TCP peer that is not the program: sends and reads raw bytes, pumping the window's messages
// while it waits, so the window in the same thread keeps running.
class CRawPeer {
public:
    CRawPeer() = default;
    explicit CRawPeer(SOCKET s) : m_s(s) { NonBlocking(); }
    ~CRawPeer() { Close(); }
    CRawPeer(const CRawPeer&) = delete;
    CRawPeer& operator=(const CRawPeer&) = delete;

    // Connects to the port on the loopback address of the family (127.0.0.1 or ::1); a receive
    // buffer size other than 0 is set first.
    bool Connect(UINT port, int nReceiveBuffer = 0, int nFamily = AF_INET);
    // Sends all bytes, pumping while the socket's buffer is full. False on error or time-out.
    bool Send(const std::string& bytes, DWORD dwTimeoutMs = 20000);
    // Collects what arrives until `n` bytes are there, the peer closes or the time is up.
    std::string Read(size_t n, DWORD dwTimeoutMs = 5000);
    // Everything that arrives within the time.
    std::string ReadFor(DWORD dwMs);
    // True when the other side has closed the connection within the time.
    bool WaitClosed(DWORD dwTimeoutMs = 5000);
    // Ends the connection with a reset instead of an orderly close.
    void Reset();
    void Close();
    bool IsOpen() const { return m_s != INVALID_SOCKET; }

private:
    void NonBlocking();
    void Drain();

    SOCKET m_s = INVALID_SOCKET;
    std::string m_in;
    bool m_bClosed = false;
};

// A raw listening peer on 127.0.0.1 for the window to call.
class CRawListener {
public:
    CRawListener();
    ~CRawListener() { ::closesocket(m_s); }
    UINT Port() const { return m_port; }
    // The next connection, or null when none came in time.
    std::unique_ptr<CRawPeer> Accept(DWORD dwTimeoutMs = 5000);

private:
    SOCKET m_s;
    UINT m_port = 0;
};

inline std::string CalleeGreeting(const std::string& name) { return "a1" + name + kCR + "A" + name; }
inline std::string CallerGreeting(const std::string& name) { return "i1" + name + kCR + "I" + name; }

// Waits until the window shows the look; the message says what it showed instead.
::testing::AssertionResult ReachesLook(CTestPhoneDlg& d, const std::string& look, DWORD dwMs = 5000);
// Waits until the window's receive list holds n lines; the message shows what it holds.
::testing::AssertionResult ReceivesLines(Phone& p, size_t n);
// A raw caller connects to the window's listening port and the window rings.
::testing::AssertionResult CallsIn(CRawPeer& caller, Phone& callee);

// Tests of calls: the sockets open at the start are counted, so that each test can check it
// left none behind.
class CCallFixture : public ::testing::Test {
protected:
    void SetUp() override { m_nSocketsAtStart = CAsyncSocket::LiveCount(); }

    // North calls south; both sides pumped until the greetings are through. Stops at the first
    // step that does not come.
    static ::testing::AssertionResult Connect(Phone& north, Phone& south, const char* pszHost = "127.0.0.1");
    // As Connect, then the callee answers.
    static ::testing::AssertionResult Talk(Phone& north, Phone& south, const char* pszHost = "127.0.0.1");
    // Types a line and presses Enter.
    static void Say(Phone& p, const char* text)
    {
        p->SetItemText(IDC_EDIT_SEND, text);
        p->Command(IDOK);
    }
    // Every socket opened during the test, besides the listening ones, is closed again.
    ::testing::AssertionResult NoSocketLeft(int nListening, DWORD dwMs = 3000);
    // How a test ends after the last call: the window is idle again (the rest is not checked
    // when it never gets there), only the listening sockets are open, and no box came up.
    ::testing::AssertionResult EndsIdleAndClean(Phone& p, int nListening, const CModalCatcher& catcher);
    // A call that fails: once it is idle again, exactly one box with the text, and no socket left
    // but the listener.
    ::testing::AssertionResult FailsWithText(
        Phone& p, const CModalCatcher& catcher, const std::string& strText, DWORD dwTimeoutMs = 10000);

    int m_nSocketsAtStart = 0;
};
