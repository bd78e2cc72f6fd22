// Kelvaro's small window framework: the application object, windows and dialogs with message
// maps, data exchange, the standard controls, a window's paint device context and menus. Thin
// classes over Win32, built on the GDI wrappers of afxgdi.h; the program includes this, and
// nothing here knows the program.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <winsock2.h>
#include <windows.h>

#include "platform/afxgdi.h"
#include "platform/afxstr.h"

#define afx_msg

#ifndef AFX_IDS_APP_TITLE
#define AFX_IDS_APP_TITLE 0xE000
#endif

class CCmdTarget;
class CWnd;
class CDialog;
class CWinApp;
class CDataExchange;

// ---------------------------------------------------------------------------------------------
// Message maps: a static table per class, chained to the base class's table.

typedef void (CCmdTarget::*AFX_PMSG)();

enum AfxSig : UINT {
    AfxSig_end = 0,
    AfxSig_vv, // void ()
    AfxSig_vw, // void (UINT)                    a command of a range, with its id
    AfxSig_lwl, // LRESULT (WPARAM, LPARAM)
    AfxSig_vwii, // void (UINT, int, int)          WM_SIZE
    AfxSig_vwp, // void (UINT, CPoint)            mouse messages
    AfxSig_vwWb, // void (UINT, CWnd*, BOOL)       WM_ACTIVATE
    AfxSig_vwl, // void (UINT, LPARAM)            WM_SYSCOMMAND
    AfxSig_vWp, // void (CWnd*, CPoint)           WM_CONTEXTMENU
    AfxSig_hv, // HCURSOR ()                     WM_QUERYDRAGICON
};

struct AFX_MSGMAP_ENTRY {
    UINT nMessage;
    UINT nCode; // notification code for WM_COMMAND
    UINT nID; // control or command id for WM_COMMAND
    UINT nLastID; // the last id of a range of commands (ON_COMMAND_RANGE); nID otherwise
    UINT nSig;
    AFX_PMSG pfn;
};

struct AFX_MSGMAP {
    const AFX_MSGMAP* (*pfnGetBaseMap)();
    const AFX_MSGMAP_ENTRY* lpEntries;
};

#define DECLARE_MESSAGE_MAP()                                                                                \
protected:                                                                                                   \
    static const AFX_MSGMAP* GetThisMessageMap();                                                            \
    virtual const AFX_MSGMAP* GetMessageMap() const override;

#define BEGIN_MESSAGE_MAP(theClass, baseClass)                                                               \
    const AFX_MSGMAP* theClass::GetMessageMap() const { return GetThisMessageMap(); }                        \
    const AFX_MSGMAP* theClass::GetThisMessageMap()                                                          \
    {                                                                                                        \
        typedef theClass ThisClass;                                                                          \
        typedef baseClass TheBaseClass;                                                                      \
        static const AFX_MSGMAP_ENTRY _messageEntries[] = {

#define END_MESSAGE_MAP()                                                                                    \
    {                                                                                                        \
        0, 0, 0, 0, AfxSig_end, (AFX_PMSG)0                                                                  \
    }                                                                                                        \
    }                                                                                                        \
    ;                                                                                                        \
    static const AFX_MSGMAP messageMap = { &TheBaseClass::GetThisMessageMap, &_messageEntries[0] };          \
    return &messageMap;                                                                                      \
    }

#define AFX_VV(fn) static_cast<AFX_PMSG>(static_cast<void (CCmdTarget::*)()>(&ThisClass::fn))
#define AFX_SIG(type, fn) reinterpret_cast<AFX_PMSG>(static_cast<type>(&ThisClass::fn))

#define ON_COMMAND(id, fn) { WM_COMMAND, 0, (UINT)(id), (UINT)(id), AfxSig_vv, AFX_VV(fn) },
// One handler for a range of commands; it is given the command's id.
#define ON_COMMAND_RANGE(id, idLast, fn)                                                                     \
    { WM_COMMAND, 0, (UINT)(id), (UINT)(idLast), AfxSig_vw, AFX_SIG(void(CCmdTarget::*)(UINT), fn) },
#define ON_BN_CLICKED(id, fn) { WM_COMMAND, BN_CLICKED, (UINT)(id), (UINT)(id), AfxSig_vv, AFX_VV(fn) },
#define ON_CBN_SELCHANGE(id, fn) { WM_COMMAND, CBN_SELCHANGE, (UINT)(id), (UINT)(id), AfxSig_vv, AFX_VV(fn) },
#define ON_STN_CLICKED(id, fn) { WM_COMMAND, STN_CLICKED, (UINT)(id), (UINT)(id), AfxSig_vv, AFX_VV(fn) },
#define ON_MESSAGE(msg, fn)                                                                                  \
    { (UINT)(msg), 0, 0, 0, AfxSig_lwl, AFX_SIG(LRESULT(CCmdTarget::*)(WPARAM, LPARAM), fn) },
#define ON_WM_PAINT() { WM_PAINT, 0, 0, 0, AfxSig_vv, AFX_SIG(void(CWnd::*)(), OnPaint) },
#define ON_WM_DESTROY() { WM_DESTROY, 0, 0, 0, AfxSig_vv, AFX_SIG(void(CWnd::*)(), OnDestroy) },
#define ON_WM_SIZE() { WM_SIZE, 0, 0, 0, AfxSig_vwii, AFX_SIG(void(CWnd::*)(UINT, int, int), OnSize) },
#define ON_WM_LBUTTONDOWN()                                                                                  \
    { WM_LBUTTONDOWN, 0, 0, 0, AfxSig_vwp, AFX_SIG(void(CWnd::*)(UINT, CPoint), OnLButtonDown) },
#define ON_WM_LBUTTONUP()                                                                                    \
    { WM_LBUTTONUP, 0, 0, 0, AfxSig_vwp, AFX_SIG(void(CWnd::*)(UINT, CPoint), OnLButtonUp) },
#define ON_WM_MOUSEMOVE()                                                                                    \
    { WM_MOUSEMOVE, 0, 0, 0, AfxSig_vwp, AFX_SIG(void(CWnd::*)(UINT, CPoint), OnMouseMove) },
#define ON_WM_ACTIVATE()                                                                                     \
    { WM_ACTIVATE, 0, 0, 0, AfxSig_vwWb, AFX_SIG(void(CWnd::*)(UINT, CWnd*, BOOL), OnActivate) },
#define ON_WM_SYSCOMMAND()                                                                                   \
    { WM_SYSCOMMAND, 0, 0, 0, AfxSig_vwl, AFX_SIG(void(CWnd::*)(UINT, LPARAM), OnSysCommand) },
#define ON_WM_CONTEXTMENU()                                                                                  \
    { WM_CONTEXTMENU, 0, 0, 0, AfxSig_vWp, AFX_SIG(void(CWnd::*)(CWnd*, CPoint), OnContextMenu) },
#define ON_WM_QUERYDRAGICON()                                                                                \
    { WM_QUERYDRAGICON, 0, 0, 0, AfxSig_hv, AFX_SIG(HCURSOR(CWnd::*)(), OnQueryDragIcon) },

// ---------------------------------------------------------------------------------------------
// Points and rectangles.

class CPoint : public POINT {
public:
    CPoint()
    {
        x = 0;
        y = 0;
    }
    CPoint(int initX, int initY)
    {
        x = initX;
        y = initY;
    }
    CPoint(POINT pt)
    {
        x = pt.x;
        y = pt.y;
    }
    // A point packed into an LPARAM as mouse messages carry it (signed coordinates).
    explicit CPoint(LPARAM lParam)
    {
        x = (short)LOWORD(lParam);
        y = (short)HIWORD(lParam);
    }
    CPoint operator-(const POINT& o) const { return CPoint(x - o.x, y - o.y); }
    CPoint operator+(const POINT& o) const { return CPoint(x + o.x, y + o.y); }
    bool operator==(const POINT& o) const { return x == o.x && y == o.y; }
    bool operator!=(const POINT& o) const { return !(*this == o); }
};

class CRect : public RECT {
public:
    CRect() { left = top = right = bottom = 0; }
    CRect(int l, int t, int r, int b)
    {
        left = l;
        top = t;
        right = r;
        bottom = b;
    }
    CRect(const RECT& rc)
    {
        left = rc.left;
        top = rc.top;
        right = rc.right;
        bottom = rc.bottom;
    }
    int Width() const { return right - left; }
    int Height() const { return bottom - top; }
    CPoint TopLeft() const { return CPoint(left, top); }
    void OffsetRect(int dx, int dy) { ::OffsetRect(this, dx, dy); }
    void OffsetRect(POINT pt) { ::OffsetRect(this, pt.x, pt.y); }
    operator LPRECT() { return this; }
    operator LPCRECT() const { return this; }
};

// ---------------------------------------------------------------------------------------------

class CCmdTarget {
public:
    virtual ~CCmdTarget() { }

    // Looks a command up in this object's map chain and runs the handler; TRUE when handled.
    BOOL OnCmdMsg(UINT nID, UINT nCode);

protected:
    static const AFX_MSGMAP* GetThisMessageMap();
    virtual const AFX_MSGMAP* GetMessageMap() const;

    static const AFX_MSGMAP_ENTRY* FindEntry(const AFX_MSGMAP* pMap, UINT nMessage, UINT nCode, UINT nID);
    friend class CWnd;
};

// ---------------------------------------------------------------------------------------------
// Menus.

class CMenu {
public:
    CMenu() : m_hMenu(NULL), m_bOwner(true) { }
    ~CMenu();
    CMenu(const CMenu&) = delete;
    CMenu& operator=(const CMenu&) = delete;

    BOOL LoadMenu(UINT nIDResource);
    BOOL DestroyMenu();
    HMENU GetSafeHmenu() const { return m_hMenu; }
    // A sub-menu owned by this menu; the returned object is valid while this one lives.
    CMenu* GetSubMenu(int nPos);
    UINT EnableMenuItem(UINT nIDEnableItem, UINT nEnable)
    {
        return ::EnableMenuItem(m_hMenu, nIDEnableItem, nEnable);
    }
    BOOL TrackPopupMenu(UINT nFlags, int x, int y, CWnd* pWnd, LPCRECT lpRect = NULL);

    HMENU m_hMenu;

private:
    bool m_bOwner;
    CMenu* m_pSub = nullptr; // one cached sub-menu wrapper (the program asks for one at a time)
};

// ---------------------------------------------------------------------------------------------
// Windows.

class CWnd : public CCmdTarget {
public:
    CWnd() : m_hWnd(NULL), m_pfnSuper(NULL) { }
    ~CWnd() override;
    CWnd(const CWnd&) = delete;
    CWnd& operator=(const CWnd&) = delete;

    HWND m_hWnd;
    HWND GetSafeHwnd() const { return m_hWnd; }
    operator HWND() const { return m_hWnd; }

    // Links this object to an existing window and routes its messages through this object's map.
    BOOL SubclassWindow(HWND hWnd);
    // The object linked to a window, or NULL.
    static CWnd* FromHandlePermanent(HWND hWnd);
    // The linked object, or a temporary wrapper that stays valid while the window lives.
    static CWnd* FromHandle(HWND hWnd);

    CWnd* GetDlgItem(int nID) const;
    void SetWindowText(const char* lpszString) { ::SetWindowTextA(m_hWnd, lpszString); }
    int GetWindowText(CString& rString) const;
    BOOL EnableWindow(BOOL bEnable = TRUE) { return ::EnableWindow(m_hWnd, bEnable); }
    BOOL IsWindowEnabled() const { return ::IsWindowEnabled(m_hWnd); }
    BOOL ShowWindow(int nCmdShow) { return ::ShowWindow(m_hWnd, nCmdShow); }
    BOOL IsWindowVisible() const { return ::IsWindowVisible(m_hWnd); }
    BOOL ModifyStyle(DWORD dwRemove, DWORD dwAdd, UINT nFlags = 0);
    BOOL ModifyStyleEx(DWORD dwRemove, DWORD dwAdd, UINT nFlags = 0);
    LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const
    {
        return ::SendMessageA(m_hWnd, message, wParam, lParam);
    }
    BOOL PostMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const
    {
        return ::PostMessageA(m_hWnd, message, wParam, lParam);
    }
    void GetClientRect(LPRECT lpRect) const { ::GetClientRect(m_hWnd, lpRect); }
    void GetWindowRect(LPRECT lpRect) const { ::GetWindowRect(m_hWnd, lpRect); }
    void ClientToScreen(LPPOINT lpPoint) const { ::ClientToScreen(m_hWnd, lpPoint); }
    void ClientToScreen(LPRECT lpRect) const;
    void ScreenToClient(LPPOINT lpPoint) const { ::ScreenToClient(m_hWnd, lpPoint); }
    void ScreenToClient(LPRECT lpRect) const;
    BOOL SetWindowPos(const CWnd* pWndInsertAfter, int x, int y, int cx, int cy, UINT nFlags)
    {
        return ::SetWindowPos(m_hWnd, pWndInsertAfter ? pWndInsertAfter->m_hWnd : NULL, x, y, cx, cy, nFlags);
    }
    BOOL RedrawWindow(LPCRECT lpRectUpdate = NULL, HRGN hrgnUpdate = NULL,
        UINT flags = RDW_INVALIDATE | RDW_UPDATENOW | RDW_ERASE)
    {
        return ::RedrawWindow(m_hWnd, lpRectUpdate, hrgnUpdate, flags);
    }
    HICON SetIcon(HICON hIcon, BOOL bBigIcon)
    {
        return (HICON)SendMessage(WM_SETICON, bBigIcon ? ICON_BIG : ICON_SMALL, (LPARAM)hIcon);
    }
    BOOL SetForegroundWindow() { return ::SetForegroundWindow(m_hWnd); }
    virtual BOOL DestroyWindow();

protected:
    // Message dispatch. WindowProc runs the map lookup; what the map does not handle goes to
    // DefWindowProc, the window's original procedure.
    virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);
    virtual BOOL OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult);
    virtual LRESULT DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam);
    // Messages a parent passes back to its child control (WM_DRAWITEM); TRUE when handled.
    virtual BOOL OnChildNotify(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult);
    // Default processing of the message being handled now.
    LRESULT Default();
    // Called after the window is gone and the link is dropped.
    virtual void PostNcDestroy() { }

    static const AFX_MSGMAP* GetThisMessageMap();
    const AFX_MSGMAP* GetMessageMap() const override;

public:
    // Standard handlers; each gives the message its default processing.
    afx_msg void OnPaint() { Default(); }
    afx_msg void OnDestroy() { Default(); }
    afx_msg void OnSize(UINT, int, int) { Default(); }
    afx_msg void OnLButtonDown(UINT, CPoint) { Default(); }
    afx_msg void OnLButtonUp(UINT, CPoint) { Default(); }
    afx_msg void OnMouseMove(UINT, CPoint) { Default(); }
    afx_msg void OnActivate(UINT, CWnd*, BOOL) { Default(); }
    afx_msg void OnSysCommand(UINT, LPARAM) { Default(); }
    afx_msg void OnContextMenu(CWnd*, CPoint) { Default(); }
    afx_msg HCURSOR OnQueryDragIcon() { return (HCURSOR)Default(); }

private:
    friend LRESULT CALLBACK AfxWndProc(HWND, UINT, WPARAM, LPARAM);
    friend class CDialog;
    LRESULT Dispatch(UINT message, WPARAM wParam, LPARAM lParam);
    void Unlink();
    BOOL CallHandler(const AFX_MSGMAP_ENTRY* pEntry, WPARAM wParam, LPARAM lParam, LRESULT* pResult);

    WNDPROC m_pfnSuper;
};

// The device context of a window's WM_PAINT, between BeginPaint and EndPaint.
class CPaintDC : public CDC {
public:
    explicit CPaintDC(CWnd* pWnd);
    ~CPaintDC() override;
    PAINTSTRUCT m_ps;

private:
    HWND m_hWnd;
};

// Controls: thin wrappers; DDX_Control links them to the dialog's child windows.

class CButton : public CWnd {
public:
    int GetCheck() const { return (int)SendMessage(BM_GETCHECK); }
    void SetCheck(int nCheck) { SendMessage(BM_SETCHECK, (WPARAM)nCheck); }
    // Draws an owner-drawn button; the parent's WM_DRAWITEM is passed back here.
    virtual void DrawItem(LPDRAWITEMSTRUCT) { }

protected:
    BOOL OnChildNotify(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult) override;
};

class CEdit : public CWnd { };
class CStatic : public CWnd { };

class CListBox : public CWnd {
public:
    int AddString(const char* lpszItem) { return (int)SendMessage(LB_ADDSTRING, 0, (LPARAM)lpszItem); }
    int DeleteString(UINT nIndex) { return (int)SendMessage(LB_DELETESTRING, nIndex); }
    int GetCount() const { return (int)SendMessage(LB_GETCOUNT); }
    void ResetContent() { SendMessage(LB_RESETCONTENT); }
    int SetTopIndex(int nIndex) { return (int)SendMessage(LB_SETTOPINDEX, (WPARAM)nIndex); }
    int GetTopIndex() const { return (int)SendMessage(LB_GETTOPINDEX); }
    void GetText(int nIndex, CString& rString) const;
};

class CComboBox : public CWnd {
public:
    int AddString(const char* lpszString) { return (int)SendMessage(CB_ADDSTRING, 0, (LPARAM)lpszString); }
    int DeleteString(UINT nIndex) { return (int)SendMessage(CB_DELETESTRING, nIndex); }
    int GetCount() const { return (int)SendMessage(CB_GETCOUNT); }
    int GetCurSel() const { return (int)SendMessage(CB_GETCURSEL); }
    int SetCurSel(int nSelect) { return (int)SendMessage(CB_SETCURSEL, (WPARAM)nSelect); }
    void ResetContent() { SendMessage(CB_RESETCONTENT); }
    void GetLBText(int nIndex, CString& rString) const;
};

// ---------------------------------------------------------------------------------------------
// Dialogs.

class CDataExchange {
public:
    CDataExchange(CWnd* pDlgWnd, BOOL bSaveAndValidate)
        : m_bSaveAndValidate(bSaveAndValidate), m_pDlgWnd(pDlgWnd)
    {
    }
    BOOL m_bSaveAndValidate; // TRUE: controls to members (OK); FALSE: members to controls (init)
    CWnd* m_pDlgWnd;
};

// Links a member to the dialog's control (once) and subclasses it.
void DDX_Control(CDataExchange* pDX, int nIDC, CWnd& rControl);
// Moves an edit's text: into the control at initialisation, back into the member on OK.
void DDX_Text(CDataExchange* pDX, int nIDC, CString& value);

class CDialog : public CWnd {
public:
    CDialog(UINT nIDTemplate, CWnd* pParentWnd = NULL);

    // Runs the dialog modally from its template; returns the end code (IDOK, IDCANCEL, ...)
    // or -1 when the window could not be created. The owner is disabled meanwhile.
    virtual INT_PTR DoModal();
    // Creates the dialog modeless (used by tests); EndDialog then only hides it and records
    // the end code, and the caller destroys the window.
    BOOL Create(UINT nIDTemplate, CWnd* pParentWnd = NULL);
    void EndDialog(int nResult);
    bool IsEnded() const { return m_bEnded; }
    int GetEndResult() const { return m_nEndResult; }

    BOOL UpdateData(BOOL bSaveAndValidate = TRUE);

    virtual BOOL OnInitDialog();
    virtual void OnOK();
    virtual void OnCancel();

protected:
    virtual void DoDataExchange(CDataExchange*) { }
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

    UINT m_nIDTemplate;
    CWnd* m_pParentWnd;

    DECLARE_MESSAGE_MAP()

private:
    friend INT_PTR CALLBACK AfxDlgProc(HWND, UINT, WPARAM, LPARAM);
    HWND OwnerWindow() const;
    void RunModalLoop(HWND hWnd);
    bool m_bModeless = false;
    bool m_bEnded = false;
    int m_nEndResult = 0;
};

// ---------------------------------------------------------------------------------------------
// The application object.

class CWinApp : public CCmdTarget {
public:
    explicit CWinApp(const char* lpszAppName = NULL);
    ~CWinApp() override;

    virtual BOOL InitInstance() { return TRUE; }
    virtual int ExitInstance() { return 0; }
    virtual int Run();

    // Background and text colours of every dialog and of its statics and check boxes.
    void SetDialogBkColor(COLORREF clrCtlBk = RGB(192, 192, 192), COLORREF clrCtlText = RGB(0, 0, 0));
    HBRUSH GetDialogBkBrush() const { return m_hDlgBkBrush; }
    COLORREF GetDialogBkColor() const { return m_clrDlgBk; }
    COLORREF GetDialogTextColor() const { return m_clrDlgText; }

    CWnd* m_pMainWnd = nullptr;
    CString m_strAppName;
    const char* m_pszAppName = nullptr;
    HINSTANCE m_hInstance = NULL;

    DECLARE_MESSAGE_MAP()

private:
    HBRUSH m_hDlgBkBrush = NULL;
    COLORREF m_clrDlgBk = RGB(192, 192, 192);
    COLORREF m_clrDlgText = RGB(0, 0, 0);
};

CWinApp* AfxGetApp();
CWnd* AfxGetMainWnd();
HINSTANCE AfxGetInstanceHandle();
HINSTANCE AfxGetResourceHandle();
const char* AfxGetAppName();
// Starts the application object: name from string 57344, InitInstance, then Run or ExitInstance.
int AfxWinMain(HINSTANCE hInstance, LPSTR lpCmdLine, int nCmdShow);

// Message box owned by the main window, captioned with the application's name.
int AfxMessageBox(const char* lpszText, UINT nType = MB_OK, UINT nIDHelp = 0);
int AfxMessageBox(UINT nIDPrompt, UINT nType = MB_OK, UINT nIDHelp = (UINT)-1);
