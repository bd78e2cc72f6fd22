#include "app/PhoneDlg.h"

#include "app/SingleInstance.h"
#include "ui/TrayIcon.h"

#include <cstdlib>

static_assert(ID_NEARBY_ANNOUNCE - ID_DO_NOT_DISTURB == 4, "the on/off items are one range of ids");

BEGIN_MESSAGE_MAP(CPhoneDlg, CShapedDialog)
ON_WM_SYSCOMMAND()
ON_WM_PAINT()
ON_WM_QUERYDRAGICON()
ON_BN_CLICKED(IDC_BTN_CALL, OnCall)
ON_BN_CLICKED(IDC_BTN_HANGUP, OnHangUp)
ON_BN_CLICKED(IDC_BTN_VERSION, OnVersion)
ON_WM_DESTROY()
ON_BN_CLICKED(IDC_BTN_ANSWER, OnAnswer)
ON_WM_CONTEXTMENU()
ON_COMMAND(ID_APP_ABOUT, OnAppAbout)
ON_COMMAND(ID_HISTORY, OnHistory)
ON_COMMAND(ID_README, OnReadme)
ON_COMMAND(ID_APP_EXIT, OnCancel)
ON_CBN_SELCHANGE(IDC_COMBO_PHONEBOOK, OnSelchangePhonebook)
ON_BN_CLICKED(IDC_BTN_REGISTER, OnRegister)
ON_BN_CLICKED(IDC_BTN_HIDE, OnHide)
ON_COMMAND(ID_RESTORE, OnRestore)
ON_BN_CLICKED(IDC_BTN_DELETE, OnDelete)
ON_BN_CLICKED(IDC_CHK_MINSTART, OnMinStart)
ON_MESSAGE(WM_SOCK_CONNECT, OnSockConnect)
ON_MESSAGE(WM_SOCK_ACCEPT, OnSockAccept)
ON_MESSAGE(WM_SOCK_RECEIVE, OnSockReceive)
ON_MESSAGE(WM_SOCK_SEND, OnSockSend)
ON_MESSAGE(WM_SOCK_CLOSE, OnSockClose)
ON_MESSAGE(WM_SOCK_OOB, OnSockIgnore)
ON_MESSAGE(WM_TRAYNOTIFY, OnTrayNotify)
// Notices: log, missed calls, do-not-disturb, ring, unread lines (ui/Notices.cpp).
ON_WM_ACTIVATE()
ON_MESSAGE(WM_TIMER, OnRingTimer)
ON_COMMAND(ID_MISSED_CALLS, OnMissedCalls)
ON_COMMAND(ID_OPEN_LOG, OnOpenLog)
ON_COMMAND(ID_AWAY, OnAway)
ON_COMMAND(ID_MESSAGES, OnMessages)
ON_COMMAND_RANGE(ID_DO_NOT_DISTURB, ID_NEARBY_ANNOUNCE, OnSwitch) // the five on/off items
ON_COMMAND(ID_START_WITH_WINDOWS, OnStartWithWindows)
ON_BN_CLICKED(IDC_BTN_VERIFY, OnVerify)
ON_COMMAND(ID_VERIFIED_CONTACTS, OnVerifiedContacts)
END_MESSAGE_MAP()

CPhoneDlg::CPhoneDlg(CWnd* pParent)
    : CShapedDialog(IDD_KELVARO_DIALOG, pParent),
      m_bMinStart(false),
      m_hIcon(NULL),
      m_bInTray(false),
      m_nBookSel(0)
{
    m_hIcon = ::LoadIconA(AfxGetResourceHandle(), MAKEINTRESOURCEA(IDR_MAINFRAME));
}

CPhoneDlg::~CPhoneDlg() = default;

void CPhoneDlg::DoDataExchange(CDataExchange* pDX)
{
    CShapedDialog::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_CHK_MINSTART, m_chkMinStart);
    DDX_Control(pDX, IDC_BTN_DELETE, m_btnDelete);
    DDX_Control(pDX, IDC_BTN_HIDE, m_btnHide);
    DDX_Control(pDX, IDC_BTN_REGISTER, m_btnRegister);
    DDX_Control(pDX, IDC_COMBO_PHONEBOOK, m_cmbPhonebook);
    DDX_Control(pDX, IDC_STATIC_STATUS, m_stcStatus);
    DDX_Control(pDX, IDC_EDIT_MYNAME, m_edtMyName);
    DDX_Control(pDX, IDC_STATIC_PARTNER, m_stcPartnerName);
    DDX_Control(pDX, IDCANCEL, m_btnOff);
    DDX_Control(pDX, IDC_BTN_VERSION, m_btnVersion);
    DDX_Control(pDX, IDC_BTN_ANSWER, m_btnAnswer);
    DDX_Control(pDX, IDC_LIST_SEND, m_lstSend);
    DDX_Control(pDX, IDC_LIST_RECEIVE, m_lstReceive);
    DDX_Control(pDX, IDC_BTN_HANGUP, m_btnHangUp);
    DDX_Control(pDX, IDC_BTN_CALL, m_btnCall);
    DDX_Control(pDX, IDC_BTN_VERIFY, m_btnVerify);
    DDX_Control(pDX, IDC_EDIT_SEND, m_edtSend);
    DDX_Control(pDX, IDC_EDIT_PORT, m_edtPort);
    DDX_Control(pDX, IDC_EDIT_ADDRESS, m_edtAddress);
}

BOOL CPhoneDlg::OnInitDialog()
{
    CShapedDialog::OnInitDialog();

    AddSystemMenuItem(m_hWnd);

    SetIcon(m_hIcon, TRUE);
    SetIcon(m_hIcon, FALSE);

    // No taskbar button: the notification-area icon is the way back to a hidden window.
    ModifyStyleEx(WS_EX_APPWINDOW, 0);

    CString strTitle;
    strTitle.LoadString(AFX_IDS_APP_TITLE);
    SetWindowText(strTitle);

    AddTrayIcon();
    CSingleInstance::MarkMainWindow(m_hWnd);

    CreateButtonBrushes(m_brushLight, m_brushMedium, m_brushDark,
        { &m_btnAnswer, &m_btnCall, &m_btnHangUp, &m_btnVersion, &m_btnOff, &m_btnRegister, &m_btnHide,
            &m_btnDelete, &m_btnVerify });

    m_journal.SetFailureHandler(ShowJournalFailure);
    ReadSettings();

    m_edtAddress.EnableWindow(TRUE);
    m_edtPort.EnableWindow(TRUE);
    m_btnCall.EnableWindow(TRUE);
    m_btnHangUp.EnableWindow(FALSE);
    m_btnAnswer.EnableWindow(FALSE);

    m_edtAddress.SetWindowText(m_strAddress);
    m_edtPort.SetWindowText(m_strPort);
    m_edtMyName.SetWindowText(m_strMyName);
    m_stcPartnerName.SetWindowText("");
    m_stcStatus.ShowWindow(SW_HIDE);

    StartCalls();
    StartNearby();
    StartAccessibility();
    // The window opens ready for an address, not on the hide button that comes first in the
    // tab order: FALSE tells the dialog that the focus is set.
    ::SetFocus(m_edtAddress.m_hWnd);
    return FALSE;
}

void CPhoneDlg::OnPaint()
{
    if (::IsIconic(m_hWnd)) {
        CPaintDC dc(this);
        SendMessage(WM_ICONERASEBKGND, (WPARAM)dc.GetSafeHdc(), 0);
        int cxIcon = ::GetSystemMetrics(SM_CXICON);
        int cyIcon = ::GetSystemMetrics(SM_CYICON);
        CRect rc;
        GetClientRect(&rc);
        int x = (rc.Width() - cxIcon + 1) / 2;
        int y = (rc.Height() - cyIcon + 1) / 2;
        ::DrawIcon(dc, x, y, m_hIcon);
    } else {
        CShapedDialog::OnPaint();
    }
}

HCURSOR CPhoneDlg::OnQueryDragIcon() { return (HCURSOR)m_hIcon; }

void CPhoneDlg::OnMinStart() { m_bMinStart = m_chkMinStart.GetCheck() != 0; }

void CPhoneDlg::OnDestroy()
{
    m_edtAddress.GetWindowText(m_strAddress);
    m_edtPort.GetWindowText(m_strPort);
    m_edtMyName.GetWindowText(m_strMyName);
    m_nearby.Stop(); // the goodbye, while the window is still there

    CTrayIcon().DeleteIcon(m_hWnd, CNotifier::kTrayIconId);
    CSingleInstance::UnmarkMainWindow(m_hWnd);

    DeleteButtonBrushes(m_brushLight, m_brushMedium, m_brushDark);
    m_access.Detach();

    CShapedDialog::OnDestroy();

    m_calls.SayGoodbye();
    m_calls.Detach();

    WriteSettings();
    m_notifier.SetRinging(false);
    m_journal.EndAll();
}
