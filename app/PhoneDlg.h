// The main window: the telephone itself. Its handlers are spread over the folders of the
// subsystems they belong to: call control in call/, the phonebook in phonebook/, the tray icon,
// menus and version box in ui/, start-up, settings and teardown here in app/.
#pragma once

#include "call/CallSocket.h"
#include "call/Connection.h"
#include "call/LineList.h"
#include "app/ConversationLog.h"
#include "app/MissedCalls.h"
#include "ui/RoundButton.h"
#include "ui/ShapedDialog.h"
#include "res/resource.h"

#include <vector>

#define WM_TRAYNOTIFY (WM_USER + 2)

// The address and port a call goes to, and the port listened on, when none is given.
inline constexpr char kDefaultAddress[] = "localhost";
inline constexpr char kDefaultPort[] = "32760";

class CPhoneDlg : public CShapedDialog {
public:
    explicit CPhoneDlg(CWnd* pParent = NULL);
    ~CPhoneDlg() override;

    // Shows the text for an error code in the application's message box: the system's text,
    // or where the system has none, a text of our own with the number.
    static void ShowSystemError(DWORD dwError);
    static CString ErrorText(DWORD dwError);

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    BOOL OnInitDialog() override;
    void OnOK() override;
    void OnCancel() override;

    // Full path of the settings file: "Kelvaro.ini" beside the executable.
    virtual CString SettingsPath() const;
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

    // Phonebook (phonebook/).
    afx_msg void OnSelchangePhonebook();
    afx_msg void OnRegister();
    afx_msg void OnDelete();

    // Version box and documents, tray icon and menus (ui/).
    afx_msg void OnVersion();
    afx_msg void OnAppAbout();
    afx_msg void OnHistory();
    afx_msg void OnReadme();
    afx_msg void OnContextMenu(CWnd* pWnd, CPoint point);
    afx_msg LRESULT OnTrayNotify(WPARAM wParam, LPARAM lParam);
    afx_msg LRESULT OnTaskbarCreated(WPARAM wParam, LPARAM lParam);
    afx_msg void OnHide();
    afx_msg void OnRestore();

    void OpenDocument(CString strTarget);

    DECLARE_MESSAGE_MAP()

    // Settings file (app/Settings.cpp).
    void ReadSettings();
    void WriteSettings();

    // Call control helpers (call/CallControl.cpp).
    void OpenListeningSocket();
    void EndOutgoingCall();
    void EndIncomingCall();
    void ShowLookAfterCallEnded();
    void DeleteSocket(CCallSocket*& rpSocket);
    void DiscardSocketMessages(const CCallSocket* pSocket);
    void ApplyLine(const CLineMessage& msg, CCallSocket& rFrom);
    CConnection* ConnectionOf(const CCallSocket* pSocket);
    int SendOn(CCallSocket& rSocket, const CString& strMessage);
    static void ReportSendError(int nError);
    void ReceiveTurn(CCallSocket& rSocket, CConnection& rConn);
    void ListReceived(std::vector<CString>& batch);
    void ScheduleReceive(CCallSocket* pSocket, bool bByTimer);
    static void CALLBACK ReceiveTimerProc(HWND hWnd, UINT, UINT_PTR nTimer, DWORD);
    void EndCallOn(const CCallSocket* pSocket);
    void AddTrayIcon();
    void RemoveTrayIcon();
    void AddSystemMenuItem();

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
    CEdit m_edtSend;
    CEdit m_edtPort;
    CEdit m_edtAddress;
    bool m_bMinStart;
    HICON m_hIcon;
    bool m_bInTray;
    CString m_strPartnerName;
    int m_nBookSel;
    CStringList m_listNames;
    CStringList m_listAddresses;
    CStringList m_listPorts;
    CString m_strMyName;
    CBrush m_brushMedium;
    CBrush m_brushLight;
    CBrush m_brushDark;
    bool m_bRinging;
    bool m_bCalling;
    CString m_strIniPath;
    CString m_strPort;
    CString m_strAddress;
    bool m_bInConnected;
    bool m_bOutConnected;
    CCallSocket m_sockListen;
    CCallSocket m_sockCall;
    CCallSocket* m_pInSocket;
    CCallSocket* m_pBusySocket;

    // The outgoing call's partner reported busy ("話し中" is its look).
    bool m_bTurnedAway = false;

    // Reading and sending state of each call's connection.
    CConnection m_connIn;
    CConnection m_connOut;
    std::vector<char> m_receiveBuffer;
    CTextMeasure m_measure; // widths of listed lines

    // ---------------------------------------------------------------------------------------
    // Conversation log, missed calls, notices and do-not-disturb. Call control reports its
    // events through the On... hooks (call/CallRecords.cpp); the options are kept in the
    // settings file's own section (app/NoticeSettings.cpp); the menu items, the dialog, the
    // icon's tip and balloons and the ring live in ui/Notices.cpp.
public:
    // The text lines of one read, in order, after they have been listed: one log write, and
    // while the user does not look, one balloon with the newest line.
    void OnLinesReceived(const std::vector<CString>& lines);
    // A typed line that went out and was listed.
    void OnLineSent(const CString& strText);

protected:
    void OnCallPlaced(const CString& strAddress, const CString& strPort);
    void OnCallConnected();
    void OnCallFailed(DWORD dwError);
    void OnIncomingCall();
    void OnCallerTurnedAway();
    void OnPartnerNamed(const CCallSocket& rFrom, const CString& strName);
    void OnPartnerAnswered(const CCallSocket& rFrom);
    void OnPartnerBusy(const CCallSocket& rFrom);
    void OnCallAnswered();
    void OnHangUpPressed();
    void OnCallEndedByPartner(bool bIncoming);
    void OnProgramEnding();

    // What one side of the conversation is, as far as the log knows.
    struct CCallRecord {
        bool bOpen = false; // started in the log and not yet ended there
        CString strAddress;
        CString strName;
    };
    // Writes records (each "HH:MM:SS " + text + CRLF) of now in one write, when logging is on.
    void WriteLog(const std::vector<CString>& texts);
    void WriteLog(const CString& strText) { WriteLog(std::vector<CString> { strText }); }
    void EndCallRecord(CCallRecord& rRecord, const char* pszHow);
    void AddMissedCall(CMissedCall::Kind kind, const CString& strName, const CString& strAddress);
    void SaveMissedCalls();
    CString PartnerAddress(CCallSocket* pSocket) const;

    // Options: read after the settings, written after them (app/NoticeSettings.cpp).
    void ReadNoticeSettings();
    void WriteNoticeSettings();
    // Folder of the settings file, which is the program's folder: the log and the
    // missed-calls file are kept there too.
    CString DataFolder() const;
    CString MissedCallsPath() const;

    // ui/Notices.cpp
    afx_msg void OnActivate(UINT nState, CWnd* pWndOther, BOOL bMinimized);
    afx_msg LRESULT OnRingTimer(WPARAM wParam, LPARAM lParam);
    afx_msg void OnMissedCalls();
    afx_msg void OnOpenLog();
    afx_msg void OnDoNotDisturb();
    afx_msg void OnLogOn();
    afx_msg void OnSoundOn();
    void PrepareNoticeItems(HMENU hPopup);
    void CallBack(const CString& strAddress);
    bool UserSeesWindow() const;
    void MarkLinesRead();
    CString TrayTip() const;
    void UpdateTrayTip();
    void StartRinging();
    void StopRinging();

    CConversationLog m_log;
    CMissedCalls m_missed;
    CCallRecord m_recIn; // the incoming call
    CCallRecord m_recOut; // the outgoing call
    bool m_bLogOn = true;
    bool m_bSoundOn = true;
    bool m_bDoNotDisturb = false;
    bool m_bLogErrorShown = false; // a failed log write has been reported for this call
    bool m_bMissedErrorShown = false; // a failed write of the missed calls has been reported
    bool m_bRingTimer = false;
    int m_nUnread = 0; // lines received while the user did not look
    CString m_strTipShown; // the icon's tip as last set
};
