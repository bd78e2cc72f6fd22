// Shared helpers of the Windows tests: bounded message pumping, answering modal boxes, a main
// window whose settings file and internals tests can reach, and temporary folders.
#pragma once

#include <gtest/gtest.h>

#include "PhoneDlg.h"
#include "afxsock.h"

#include <functional>
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
    explicit CTestPhoneDlg(const std::string& strIniPath) : m_strTestIniPath(strIniPath.c_str()) {}
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

    CString SettingsPath() const override { return m_strTestIniPath; }

    // Internals for checks.
    bool InTray() const { return m_bInTray; }
    bool Ringing() const { return m_bRinging; }
    bool Calling() const { return m_bCalling; }
    bool InConnected() const { return m_bInConnected; }
    bool OutConnected() const { return m_bOutConnected; }
    bool MinStart() const { return m_bMinStart; }
    int BookSel() const { return m_nBookSel; }
    const CString& PartnerName() const { return m_strPartnerName; }
    CCallSocket* InSocket() const { return m_pInSocket; }
    CCallSocket* BusySocket() const { return m_pBusySocket; }
    const CStringList& Names() const { return m_listNames; }
    const CStringList& Addresses() const { return m_listAddresses; }
    const CStringList& Ports() const { return m_listPorts; }

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
std::vector<std::string> ToVector(const CStringList& list);

// ---------------------------------------------------------------------------------------------
// IPv6

// Why the IPv6 loopback (::1) cannot be used on this machine; empty when it can.
const std::string& NoIPv6Loopback();
#define SKIP_WITHOUT_IPV6()                                                                        \
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
