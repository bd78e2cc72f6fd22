// The main window: the telephone itself. Its handlers are spread over the folders of the
// subsystems they belong to: call control in call/, the phonebook in phonebook/, the tray icon,
// menus and version box in ui/, start-up, settings and teardown here in app/.
#pragma once

#include "app/CallJournal.h"
#include "app/Paths.h"
#include "app/Trust.h"
#include "call/CallDriver.h"
#include "phonebook/Nearby.h"
#include "phonebook/PhonebookEntries.h"
#include "res/resource.h"
#include "ui/Accessibility.h"
#include "ui/Notifier.h"
#include "ui/RoundButton.h"
#include "ui/ShapedDialog.h"

#include <vector>

#define WM_TRAYNOTIFY (WM_USER + 2)

// The version box's item at the end of a window's system menu (ui/TrayMenu.cpp).
void AddSystemMenuItem(HWND hWnd);
// The box for a record the journal could not write: what, where and why (ui/Notices.cpp).
void ShowJournalFailure(const CJournalFailure& failure);

class CPhoneDlg : public CShapedDialog {
public:
    explicit CPhoneDlg(CWnd* pParent = NULL);
    ~CPhoneDlg() override;

    // Shows the text for an error code in the application's message box: the system's text,
    // or where the system has none, a text of our own with the number.
    static void ShowSystemError(DWORD dwError);

    // Started at logon: the window goes to the notification area without being shown first.
    void StartInTray() { m_bStartInTray = true; }

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    BOOL OnInitDialog() override;
    void OnOK() override;

    // Where the settings file is: "Kelvaro.ini" beside the executable, or in the user's
    // application data where the program's folder cannot be written (the first time there, the
    // user is told).
    virtual CSettingsPlace SettingsPlace() const;
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

    // Start-up, painting, teardown (app/).
    afx_msg void OnSysCommand(UINT nID, LPARAM lParam);
    afx_msg void OnPaint();
    afx_msg HCURSOR OnQueryDragIcon();
    afx_msg void OnDestroy();
    afx_msg void OnMinStart();

    // Call control (call/).
    afx_msg void OnCall();
    afx_msg void OnHangUp();
    afx_msg void OnAnswer();
    afx_msg LRESULT OnSockConnect(WPARAM wParam, LPARAM lParam);
    afx_msg LRESULT OnSockAccept(WPARAM wParam, LPARAM lParam);
    afx_msg LRESULT OnSockReceive(WPARAM wParam, LPARAM lParam);
    afx_msg LRESULT OnSockClose(WPARAM wParam, LPARAM lParam);
    afx_msg LRESULT OnSockSend(WPARAM wParam, LPARAM lParam);
    afx_msg LRESULT OnSockIgnore(WPARAM wParam, LPARAM lParam);
    afx_msg void OnVerify();
    afx_msg void OnVerifiedContacts(); // the list of verified contacts (ui/VerifiedDlg.cpp)

    // Phonebook (phonebook/).
    afx_msg void OnSelchangePhonebook();
    afx_msg void OnRegister();
    afx_msg void OnDelete();
    // A nearby partner's name already stored with another address or port: the user chooses
    // to replace it (true, name kept), keep both (true, rName set to a free "名前 (n)") or not
    // to register (false).
    bool AskNearbyName(CString& rName, const CString& strAddress, const CString& strPort);
    // Partners nearby: told this install's fingerprint and the port really listened on, their
    // items marked from the verified contacts.
    void StartNearby();

    // Version box and documents, tray icon and menus (ui/).
    afx_msg void OnVersion();
    afx_msg void OnAppAbout();
    afx_msg void OnHistory();
    afx_msg void OnReadme();
    afx_msg void OnContextMenu(CWnd* pWnd, CPoint point);
    afx_msg LRESULT OnTrayNotify(WPARAM wParam, LPARAM lParam);
    afx_msg void OnHide();
    afx_msg void OnRestore();
    // Start with Windows on or off (app/StartWithWindows.h), and a second start's request to come
    // to the front (app/SingleInstance.h).
    afx_msg void OnStartWithWindows();
    void BringForward();

    void OpenDocument(CString strTarget);

    // Keyboard and screen readers (ui/AccessControl.cpp): names, announcements, the popup menu
    // from the keyboard; where the focus goes on.
    void StartAccessibility();
    HWND GoOnControl() override;

    DECLARE_MESSAGE_MAP()

    // Settings file (app/Settings.cpp).
    void ReadSettings();
    void WriteSettings();
    // The answering machine's options and messages (ui/Messages.cpp).
    void ReadMachineSettings();
    void WriteMachineSettings();

    // Call control (call/CallControl.cpp): the call driver attached to the window and the
    // listening socket opened.
    void StartCalls();

    // Tray icon and system menu (ui/TrayMenu.cpp).
    void AddTrayIcon();

    // Notices, log and missed calls: the menu items and the window's activation (ui/Notices.cpp).
    afx_msg void OnActivate(UINT nState, CWnd* pWndOther, BOOL bMinimized);
    afx_msg LRESULT OnRingTimer(WPARAM wParam, LPARAM lParam);
    afx_msg void OnMissedCalls();
    // The answering machine: on/off, and its messages (ui/Messages.cpp).
    afx_msg void OnAway();
    afx_msg void OnMessages();
    // Calls the address back, as the missed calls and the messages offer.
    void CallBack(const CString& strAddress);
    afx_msg void OnOpenLog();
    // The on/off items: do-not-disturb, the log, the ring's sound, talking only encrypted,
    // announcing on the local network.
    afx_msg void OnSwitch(UINT nID);

    // Members, in declaration order.
    CButton m_chkMinStart;
    CRoundButton m_btnDelete;
    CRoundButton m_btnHide;
    CRoundButton m_btnRegister;
    CComboBox m_cmbPhonebook;
    CStatic m_stcStatus;
    CEdit m_edtMyName;
    CStatic m_stcPartnerName;
    CRoundButton m_btnOff;
    CRoundButton m_btnVersion;
    CRoundButton m_btnAnswer;
    CListBox m_lstSend;
    CListBox m_lstReceive;
    CRoundButton m_btnHangUp;
    CRoundButton m_btnCall;
    CRoundButton m_btnVerify; // shown while an encrypted call's identity waits to be verified
    CEdit m_edtSend;
    CEdit m_edtPort;
    CEdit m_edtAddress;
    bool m_bMinStart;
    HICON m_hIcon;
    bool m_bInTray;
    bool m_bStartInTray = false; // kept hidden from the start until restored
    CString m_strPartnerName;
    int m_nBookSel;
    CPhonebookEntries m_book;
    CString m_strMyName;
    CBrush m_brushMedium;
    CBrush m_brushLight;
    CBrush m_brushDark;
    CString m_strIniPath;
    CString m_strPort;
    CString m_strAddress;

    // Call control without I/O, and the driver that carries out its effects on the sockets and
    // controls.
    CCallCore m_core { WSAEWOULDBLOCK };
    CCallDriver m_calls { m_core };

    // What is kept of calls, and how the user learns of them.
    CCallJournal m_journal;
    CNotifier m_notifier { m_core };

    // Partners found on the local network, listed after the stored entries.
    CNearby m_nearby;

    // Screen readers; the icon's keyboard messages (NOTIFYICON_VERSION_4); how deep in
    // messages the window is (the focus is looked at when the outermost is through).
    CAccessibility m_access;
    bool m_bTrayKeys = false;
    int m_nMessageDepth = 0;

    // This copy's identity and the partners the user verified (app/Trust.h).
    CTrust m_trust;
};
