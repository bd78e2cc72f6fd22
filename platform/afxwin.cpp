#include "afxwin.h"

#include <map>
#include <memory>

// ---------------------------------------------------------------------------------------------
// Window links and the current message.

namespace {

std::map<HWND, CWnd*>& PermanentMap()
{
    static std::map<HWND, CWnd*> map;
    return map;
}

// Wrappers for windows that no object is linked to (GetDlgItem on an unbound control).
std::map<HWND, std::unique_ptr<CWnd>>& TemporaryMap()
{
    static std::map<HWND, std::unique_ptr<CWnd>> map;
    return map;
}

// The message being dispatched, for Default(). Saved and restored around nested dispatch.
MSG g_msgCur;

// The dialog object waiting for its window to be created (see the CBT hook below).
CWnd* g_pWndInit = nullptr;
HHOOK g_hHookCreate = NULL;

CWinApp* g_pApp = nullptr;
int g_nLiveGdi = 0;

} // namespace

LRESULT CALLBACK AfxWndProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    CWnd* pWnd = CWnd::FromHandlePermanent(hWnd);
    if (!pWnd) return ::DefWindowProcA(hWnd, message, wParam, lParam);
    return pWnd->Dispatch(message, wParam, lParam);
}

// Only the dialog window itself is linked, not a helper window the system may create first.
static bool IsDialogClass(LPCSTR lpszClass)
{
    if (IS_INTRESOURCE(lpszClass)) return LOWORD((ULONG_PTR)lpszClass) == 0x8002; // WC_DIALOG
    return lstrcmpiA(lpszClass, "#32770") == 0;
}

// The dialog's window is linked to its object as soon as it is created, before WM_NCCREATE,
// so that the object sees every message, including the WM_SIZE sent during creation.
static LRESULT CALLBACK AfxCbtHook(int nCode, WPARAM wParam, LPARAM lParam)
{
    if (nCode == HCBT_CREATEWND && g_pWndInit && IsDialogClass(((CBT_CREATEWNDA*)lParam)->lpcs->lpszClass)) {
        CWnd* pWnd = g_pWndInit;
        g_pWndInit = nullptr;
        pWnd->SubclassWindow((HWND)wParam);
    }
    return ::CallNextHookEx(g_hHookCreate, nCode, wParam, lParam);
}

static void HookWindowCreate(CWnd* pWnd)
{
    g_pWndInit = pWnd;
    if (!g_hHookCreate)
        g_hHookCreate = ::SetWindowsHookExA(WH_CBT, AfxCbtHook, NULL, ::GetCurrentThreadId());
}

static void UnhookWindowCreate()
{
    g_pWndInit = nullptr;
    if (g_hHookCreate) {
        ::UnhookWindowsHookEx(g_hHookCreate);
        g_hHookCreate = NULL;
    }
}

// ---------------------------------------------------------------------------------------------
// CCmdTarget

const AFX_MSGMAP* CCmdTarget::GetThisMessageMap()
{
    static const AFX_MSGMAP_ENTRY entries[] = { { 0, 0, 0, AfxSig_end, (AFX_PMSG)0 } };
    static const AFX_MSGMAP map = { nullptr, &entries[0] };
    return &map;
}

const AFX_MSGMAP* CCmdTarget::GetMessageMap() const { return GetThisMessageMap(); }

const AFX_MSGMAP_ENTRY* CCmdTarget::FindEntry(const AFX_MSGMAP* pMap, UINT nMessage, UINT nCode, UINT nID)
{
    // Most derived map first, then each base map in turn.
    for (; pMap; pMap = pMap->pfnGetBaseMap ? pMap->pfnGetBaseMap() : nullptr) {
        for (const AFX_MSGMAP_ENTRY* p = pMap->lpEntries; p->nSig != AfxSig_end; ++p) {
            if (p->nMessage != nMessage) continue;
            if (nMessage == WM_COMMAND && (p->nCode != nCode || p->nID != nID)) continue;
            return p;
        }
    }
    return nullptr;
}

BOOL CCmdTarget::OnCmdMsg(UINT nID, UINT nCode)
{
    const AFX_MSGMAP_ENTRY* p = FindEntry(GetMessageMap(), WM_COMMAND, nCode, nID);
    if (!p) return FALSE;
    (this->*p->pfn)();
    return TRUE;
}

// ---------------------------------------------------------------------------------------------
// GDI

BOOL CGdiObject::Attach(HGDIOBJ hObject)
{
    if (!hObject) return FALSE;
    DeleteObject();
    m_hObject = hObject;
    ++g_nLiveGdi;
    return TRUE;
}

HGDIOBJ CGdiObject::Detach()
{
    HGDIOBJ h = m_hObject;
    if (h) --g_nLiveGdi;
    m_hObject = NULL;
    return h;
}

BOOL CGdiObject::DeleteObject()
{
    if (!m_hObject) return FALSE;
    return ::DeleteObject(Detach());
}

int CGdiObject::LiveCount() { return g_nLiveGdi; }

int CRgn::CopyRgn(const CRgn* pRgnSrc)
{
    if (!m_hObject && !CreateRectRgn(0, 0, 0, 0)) return ERROR;
    return ::CombineRgn((HRGN)m_hObject, (HRGN)pRgnSrc->m_hObject, NULL, RGN_COPY);
}

void CDC::FillSolidRect(LPCRECT lpRect, COLORREF cr)
{
    ::SetBkColor(m_hDC, cr);
    ::ExtTextOutA(m_hDC, 0, 0, ETO_OPAQUE, lpRect, NULL, 0, NULL);
}

CPaintDC::CPaintDC(CWnd* pWnd) : m_hWnd(pWnd->m_hWnd)
{
    Attach(::BeginPaint(m_hWnd, &m_ps));
}

CPaintDC::~CPaintDC()
{
    ::EndPaint(m_hWnd, &m_ps);
    Detach();
}

// ---------------------------------------------------------------------------------------------
// CMenu

CMenu::~CMenu()
{
    delete m_pSub;
    if (m_bOwner) DestroyMenu();
}

BOOL CMenu::LoadMenu(UINT nIDResource)
{
    DestroyMenu();
    m_hMenu = ::LoadMenuA(AfxGetResourceHandle(), MAKEINTRESOURCEA(nIDResource));
    return m_hMenu != NULL;
}

BOOL CMenu::DestroyMenu()
{
    if (!m_hMenu) return FALSE;
    BOOL ok = m_bOwner ? ::DestroyMenu(m_hMenu) : TRUE;
    m_hMenu = NULL;
    return ok;
}

CMenu* CMenu::GetSubMenu(int nPos)
{
    HMENU h = ::GetSubMenu(m_hMenu, nPos);
    if (!h) return nullptr;
    if (!m_pSub) {
        m_pSub = new CMenu;
        m_pSub->m_bOwner = false; // destroyed with its parent menu
    }
    m_pSub->m_hMenu = h;
    return m_pSub;
}

BOOL CMenu::TrackPopupMenu(UINT nFlags, int x, int y, CWnd* pWnd, LPCRECT lpRect)
{
    return ::TrackPopupMenu(m_hMenu, nFlags, x, y, 0, pWnd ? pWnd->m_hWnd : NULL, lpRect);
}

// ---------------------------------------------------------------------------------------------
// CWnd

CWnd::~CWnd()
{
    // A window that outlives its object must not call into freed memory.
    if (m_hWnd && FromHandlePermanent(m_hWnd) == this) {
        if (m_pfnSuper) ::SetWindowLongPtrA(m_hWnd, GWLP_WNDPROC, (LONG_PTR)m_pfnSuper);
        PermanentMap().erase(m_hWnd);
    }
}

const AFX_MSGMAP* CWnd::GetThisMessageMap()
{
    static const AFX_MSGMAP_ENTRY entries[] = { { 0, 0, 0, AfxSig_end, (AFX_PMSG)0 } };
    static const AFX_MSGMAP map = { &CCmdTarget::GetThisMessageMap, &entries[0] };
    return &map;
}

const AFX_MSGMAP* CWnd::GetMessageMap() const { return GetThisMessageMap(); }

CWnd* CWnd::FromHandlePermanent(HWND hWnd)
{
    auto& map = PermanentMap();
    auto it = map.find(hWnd);
    return it == map.end() ? nullptr : it->second;
}

CWnd* CWnd::FromHandle(HWND hWnd)
{
    if (!hWnd) return nullptr;
    if (CWnd* p = FromHandlePermanent(hWnd)) return p;
    auto& temps = TemporaryMap();
    // Drop wrappers of windows that are gone before the map grows.
    if (temps.size() > 64) {
        for (auto it = temps.begin(); it != temps.end();)
            it = ::IsWindow(it->first) ? std::next(it) : temps.erase(it);
    }
    std::unique_ptr<CWnd>& slot = temps[hWnd];
    if (!slot) {
        slot.reset(new CWnd);
        slot->m_hWnd = hWnd;
    }
    return slot.get();
}

BOOL CWnd::SubclassWindow(HWND hWnd)
{
    if (!hWnd || m_hWnd || FromHandlePermanent(hWnd)) return FALSE;
    TemporaryMap().erase(hWnd);
    m_hWnd = hWnd;
    PermanentMap()[hWnd] = this;
    m_pfnSuper = (WNDPROC)::SetWindowLongPtrA(hWnd, GWLP_WNDPROC, (LONG_PTR)AfxWndProc);
    return TRUE;
}

void CWnd::Unlink()
{
    PermanentMap().erase(m_hWnd);
    m_hWnd = NULL;
    m_pfnSuper = NULL;
}

CWnd* CWnd::GetDlgItem(int nID) const { return FromHandle(::GetDlgItem(m_hWnd, nID)); }

int CWnd::GetWindowText(CString& rString) const
{
    int n = ::GetWindowTextLengthA(m_hWnd);
    char* p = rString.GetBuffer(n + 1);
    int got = ::GetWindowTextA(m_hWnd, p, n + 1);
    rString.ReleaseBuffer(got);
    return got;
}

// Changes one of the window's style words; with flags, the frame is told of the change.
static BOOL ModifyStyleWord(HWND hWnd, int nIndex, DWORD dwRemove, DWORD dwAdd, UINT nFlags)
{
    LONG_PTR style = ::GetWindowLongPtrA(hWnd, nIndex);
    LONG_PTR next = (style & ~(LONG_PTR)dwRemove) | dwAdd;
    if (style == next) return FALSE;
    ::SetWindowLongPtrA(hWnd, nIndex, next);
    if (nFlags) ::SetWindowPos(hWnd, NULL, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE | nFlags);
    return TRUE;
}

BOOL CWnd::ModifyStyle(DWORD dwRemove, DWORD dwAdd, UINT nFlags)
{
    return ModifyStyleWord(m_hWnd, GWL_STYLE, dwRemove, dwAdd, nFlags);
}

BOOL CWnd::ModifyStyleEx(DWORD dwRemove, DWORD dwAdd, UINT nFlags)
{
    return ModifyStyleWord(m_hWnd, GWL_EXSTYLE, dwRemove, dwAdd, nFlags);
}

void CWnd::ClientToScreen(LPRECT lpRect) const
{
    ::ClientToScreen(m_hWnd, (LPPOINT)lpRect);
    ::ClientToScreen(m_hWnd, ((LPPOINT)lpRect) + 1);
}

void CWnd::ScreenToClient(LPRECT lpRect) const
{
    ::ScreenToClient(m_hWnd, (LPPOINT)lpRect);
    ::ScreenToClient(m_hWnd, ((LPPOINT)lpRect) + 1);
}

BOOL CWnd::DestroyWindow()
{
    if (!m_hWnd) return FALSE;
    return ::DestroyWindow(m_hWnd);
}

LRESULT CWnd::Dispatch(UINT message, WPARAM wParam, LPARAM lParam)
{
    MSG saved = g_msgCur;
    g_msgCur.hwnd = m_hWnd;
    g_msgCur.message = message;
    g_msgCur.wParam = wParam;
    g_msgCur.lParam = lParam;
    LRESULT result = WindowProc(message, wParam, lParam);
    g_msgCur = saved;
    if (message == WM_NCDESTROY) {
        // The window is gone: drop the link, so late lookups find nothing.
        Unlink();
        PostNcDestroy();
    }
    return result;
}

LRESULT CWnd::WindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    LRESULT result = 0;
    if (!OnWndMsg(message, wParam, lParam, &result)) result = DefWindowProc(message, wParam, lParam);
    return result;
}

LRESULT CWnd::DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    if (m_pfnSuper) return ::CallWindowProcA(m_pfnSuper, m_hWnd, message, wParam, lParam);
    return ::DefWindowProcA(m_hWnd, message, wParam, lParam);
}

LRESULT CWnd::Default() { return DefWindowProc(g_msgCur.message, g_msgCur.wParam, g_msgCur.lParam); }

BOOL CWnd::OnChildNotify(UINT, WPARAM, LPARAM, LRESULT*) { return FALSE; }

BOOL CWnd::OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult)
{
    if (message == WM_COMMAND) {
        UINT nID = LOWORD(wParam);
        UINT nCode = HIWORD(wParam);
        if (OnCmdMsg(nID, nCode)) {
            *pResult = 0;
            return TRUE;
        }
        // Commands the main window does not handle go on to the application object.
        CWinApp* pApp = AfxGetApp();
        if (pApp && pApp->m_pMainWnd == this && pApp->OnCmdMsg(nID, nCode)) {
            *pResult = 0;
            return TRUE;
        }
        return FALSE;
    }
    if (message == WM_DRAWITEM && lParam) {
        // Owner draw is the control's own business: pass the request back to its object.
        const DRAWITEMSTRUCT* pDis = (const DRAWITEMSTRUCT*)lParam;
        CWnd* pChild = FromHandlePermanent(pDis->hwndItem);
        if (pChild && pChild->OnChildNotify(message, wParam, lParam, pResult)) return TRUE;
    }
    const AFX_MSGMAP_ENTRY* pEntry = FindEntry(GetMessageMap(), message, 0, 0);
    if (!pEntry) return FALSE;
    return CallHandler(pEntry, wParam, lParam, pResult);
}

BOOL CWnd::CallHandler(const AFX_MSGMAP_ENTRY* p, WPARAM wParam, LPARAM lParam, LRESULT* pResult)
{
    *pResult = 0;
    switch (p->nSig) {
    case AfxSig_vv:
        (this->*p->pfn)();
        break;
    case AfxSig_lwl:
        *pResult = (this->*reinterpret_cast<LRESULT (CCmdTarget::*)(WPARAM, LPARAM)>(p->pfn))(wParam, lParam);
        break;
    case AfxSig_vwii:
        (this->*reinterpret_cast<void (CWnd::*)(UINT, int, int)>(p->pfn))(
            (UINT)wParam, (short)LOWORD(lParam), (short)HIWORD(lParam));
        break;
    case AfxSig_vwp:
        (this->*reinterpret_cast<void (CWnd::*)(UINT, CPoint)>(p->pfn))((UINT)wParam, CPoint(lParam));
        break;
    case AfxSig_vwWb:
        (this->*reinterpret_cast<void (CWnd::*)(UINT, CWnd*, BOOL)>(p->pfn))(
            LOWORD(wParam), FromHandle((HWND)lParam), HIWORD(wParam) != 0);
        break;
    case AfxSig_vwl:
        (this->*reinterpret_cast<void (CWnd::*)(UINT, LPARAM)>(p->pfn))((UINT)wParam, lParam);
        break;
    case AfxSig_vWp:
        (this->*reinterpret_cast<void (CWnd::*)(CWnd*, CPoint)>(p->pfn))(FromHandle((HWND)wParam), CPoint(lParam));
        break;
    case AfxSig_hv:
        *pResult = (LRESULT)(this->*reinterpret_cast<HCURSOR (CWnd::*)()>(p->pfn))();
        break;
    default:
        return FALSE;
    }
    return TRUE;
}

// ---------------------------------------------------------------------------------------------
// Controls

BOOL CButton::OnChildNotify(UINT message, WPARAM, LPARAM lParam, LRESULT* pResult)
{
    if (message != WM_DRAWITEM) return FALSE;
    DrawItem((LPDRAWITEMSTRUCT)lParam);
    *pResult = TRUE;
    return TRUE;
}

// Text of a list or combo item, asked for with the control's length and text messages.
static void GetItemText(const CWnd& wnd, UINT nLenMsg, UINT nTextMsg, int nIndex, CString& rString)
{
    int n = (int)wnd.SendMessage(nLenMsg, (WPARAM)nIndex);
    if (n < 0) {
        rString.Empty();
        return;
    }
    char* p = rString.GetBuffer(n + 1);
    int got = (int)wnd.SendMessage(nTextMsg, (WPARAM)nIndex, (LPARAM)p);
    rString.ReleaseBuffer(got < 0 ? 0 : got);
}

void CListBox::GetText(int nIndex, CString& rString) const
{
    GetItemText(*this, LB_GETTEXTLEN, LB_GETTEXT, nIndex, rString);
}

void CComboBox::GetLBText(int nIndex, CString& rString) const
{
    GetItemText(*this, CB_GETLBTEXTLEN, CB_GETLBTEXT, nIndex, rString);
}

// ---------------------------------------------------------------------------------------------
// Dialog data exchange

void DDX_Control(CDataExchange* pDX, int nIDC, CWnd& rControl)
{
    if (rControl.m_hWnd) return; // linked once, at the first exchange
    rControl.SubclassWindow(::GetDlgItem(pDX->m_pDlgWnd->m_hWnd, nIDC));
}

void DDX_Text(CDataExchange* pDX, int nIDC, CString& value)
{
    HWND hCtl = ::GetDlgItem(pDX->m_pDlgWnd->m_hWnd, nIDC);
    if (!hCtl) return;
    if (pDX->m_bSaveAndValidate) {
        CWnd::FromHandle(hCtl)->GetWindowText(value);
    } else {
        ::SetWindowTextA(hCtl, value);
    }
}

// ---------------------------------------------------------------------------------------------
// CDialog

BEGIN_MESSAGE_MAP(CDialog, CWnd)
    ON_COMMAND(IDOK, OnOK)
    ON_COMMAND(IDCANCEL, OnCancel)
END_MESSAGE_MAP()

CDialog::CDialog(UINT nIDTemplate, CWnd* pParentWnd) : m_nIDTemplate(nIDTemplate), m_pParentWnd(pParentWnd) {}

INT_PTR CALLBACK AfxDlgProc(HWND hWnd, UINT message, WPARAM, LPARAM)
{
    if (message == WM_INITDIALOG) {
        CDialog* pDlg = dynamic_cast<CDialog*>(CWnd::FromHandlePermanent(hWnd));
        if (pDlg) return pDlg->OnInitDialog();
    }
    return FALSE;
}

HWND CDialog::OwnerWindow() const
{
    if (m_pParentWnd) return m_pParentWnd->m_hWnd;
    // Without a parent, the application's main window owns the dialog.
    CWnd* pMain = AfxGetMainWnd();
    if (pMain && pMain != this && ::IsWindow(pMain->m_hWnd)) return pMain->m_hWnd;
    return NULL;
}

INT_PTR CDialog::DoModal()
{
    m_bModeless = false;
    m_bEnded = false;
    m_nEndResult = -1;
    HWND hOwner = OwnerWindow();
    HookWindowCreate(this);
    HWND hWnd = ::CreateDialogParamA(AfxGetResourceHandle(), MAKEINTRESOURCEA(m_nIDTemplate), hOwner, AfxDlgProc, 0);
    UnhookWindowCreate();
    if (!hWnd) return -1;

    // The owner takes no input while the dialog runs.
    const bool bOwnerWasEnabled = hOwner && ::IsWindowEnabled(hOwner);
    if (bOwnerWasEnabled) ::EnableWindow(hOwner, FALSE);
    RunModalLoop(hWnd);
    if (bOwnerWasEnabled) ::EnableWindow(hOwner, TRUE);
    if (::IsWindow(hWnd)) ::DestroyWindow(hWnd);
    return m_nEndResult;
}

// Dispatches messages until EndDialog. A dialog not yet on screen is shown when the queue
// first runs empty; one that was visible when the loop began and has been hidden since (by a
// command posted during initialisation, say) stays hidden. The system's own dialog loop shows
// it regardless, which is why the program runs its own.
void CDialog::RunModalLoop(HWND hWnd)
{
    bool bShowOnIdle = !::IsWindowVisible(hWnd);
    while (!m_bEnded && ::IsWindow(hWnd)) {
        MSG msg;
        if (!::PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE)) {
            if (bShowOnIdle) {
                bShowOnIdle = false;
                ::ShowWindow(hWnd, SW_SHOWNORMAL);
                continue;
            }
            ::WaitMessage();
            continue;
        }
        if (msg.message == WM_QUIT) {
            // Leave the quit for the loop outside.
            ::PostQuitMessage((int)msg.wParam);
            break;
        }
        if (!::IsDialogMessageA(hWnd, &msg)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageA(&msg);
        }
    }
}

BOOL CDialog::Create(UINT nIDTemplate, CWnd* pParentWnd)
{
    m_nIDTemplate = nIDTemplate;
    if (pParentWnd) m_pParentWnd = pParentWnd;
    m_bModeless = true;
    m_bEnded = false;
    HookWindowCreate(this);
    HWND hWnd = ::CreateDialogParamA(AfxGetResourceHandle(), MAKEINTRESOURCEA(m_nIDTemplate), OwnerWindow(),
                                     AfxDlgProc, 0);
    UnhookWindowCreate();
    return hWnd != NULL;
}

void CDialog::EndDialog(int nResult)
{
    m_bEnded = true;
    m_nEndResult = nResult;
    // A modeless dialog only hides (the caller destroys it); a modal run ends in its loop.
    if (m_bModeless) ::ShowWindow(m_hWnd, SW_HIDE);
}

BOOL CDialog::UpdateData(BOOL bSaveAndValidate)
{
    CDataExchange dx(this, bSaveAndValidate);
    DoDataExchange(&dx);
    return TRUE;
}

BOOL CDialog::OnInitDialog()
{
    UpdateData(FALSE);
    return TRUE;
}

void CDialog::OnOK()
{
    if (!UpdateData(TRUE)) return;
    EndDialog(IDOK);
}

void CDialog::OnCancel() { EndDialog(IDCANCEL); }

LRESULT CDialog::WindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORMSGBOX: {
        // The application's dialog colours: the dialog's own background, its statics and
        // check boxes. Disabled or read-only edits also ask with WM_CTLCOLORSTATIC; they keep
        // the system's look so that users can still tell them for edits.
        CWinApp* pApp = AfxGetApp();
        if (!pApp || !pApp->GetDialogBkBrush()) break;
        LRESULT mapped = 0;
        if (OnWndMsg(message, wParam, lParam, &mapped)) return mapped;
        if (message == WM_CTLCOLORSTATIC) {
            char cls[16] = "";
            ::GetClassNameA((HWND)lParam, cls, sizeof cls);
            if (lstrcmpiA(cls, "Edit") == 0) break;
        }
        HDC hdc = (HDC)wParam;
        ::SetBkColor(hdc, pApp->GetDialogBkColor());
        ::SetTextColor(hdc, pApp->GetDialogTextColor());
        return (LRESULT)pApp->GetDialogBkBrush();
    }
    default:
        break;
    }
    return CWnd::WindowProc(message, wParam, lParam);
}

// ---------------------------------------------------------------------------------------------
// CWinApp

BEGIN_MESSAGE_MAP(CWinApp, CCmdTarget)
END_MESSAGE_MAP()

CWinApp::CWinApp(const char* lpszAppName)
{
    if (lpszAppName) m_strAppName = lpszAppName;
    g_pApp = this;
}

CWinApp::~CWinApp()
{
    if (m_hDlgBkBrush) ::DeleteObject(m_hDlgBkBrush);
    if (g_pApp == this) g_pApp = nullptr;
}

void CWinApp::SetDialogBkColor(COLORREF clrCtlBk, COLORREF clrCtlText)
{
    if (m_hDlgBkBrush) ::DeleteObject(m_hDlgBkBrush);
    m_hDlgBkBrush = ::CreateSolidBrush(clrCtlBk);
    m_clrDlgBk = clrCtlBk;
    m_clrDlgText = clrCtlText;
}

int CWinApp::Run()
{
    MSG msg;
    while (::GetMessageA(&msg, NULL, 0, 0) > 0) {
        ::TranslateMessage(&msg);
        ::DispatchMessageA(&msg);
    }
    return ExitInstance();
}

CWinApp* AfxGetApp() { return g_pApp; }

CWnd* AfxGetMainWnd() { return g_pApp ? g_pApp->m_pMainWnd : nullptr; }

HINSTANCE AfxGetInstanceHandle()
{
    if (g_pApp && g_pApp->m_hInstance) return g_pApp->m_hInstance;
    return ::GetModuleHandleA(NULL);
}

HINSTANCE AfxGetResourceHandle() { return AfxGetInstanceHandle(); }

const char* AfxGetAppName()
{
    if (!g_pApp) return "";
    if (g_pApp->m_strAppName.IsEmpty()) g_pApp->m_strAppName.LoadString(AFX_IDS_APP_TITLE);
    g_pApp->m_pszAppName = g_pApp->m_strAppName;
    return g_pApp->m_pszAppName;
}

void AfxEnableControlContainer() {} // the program's dialogs hold only standard controls

int AfxWinMain(HINSTANCE hInstance, LPSTR, int)
{
    CWinApp* pApp = AfxGetApp();
    if (!pApp) return -1;
    pApp->m_hInstance = hInstance;
    AfxGetAppName();
    if (!pApp->InitInstance()) return pApp->ExitInstance();
    return pApp->Run();
}

// The main window owns the box (and takes no input meanwhile) while it is on screen; a hidden
// or closing main window does not.
static HWND MessageBoxOwner()
{
    CWnd* pMain = AfxGetMainWnd();
    if (pMain && pMain->m_hWnd && ::IsWindowVisible(pMain->m_hWnd)) return pMain->m_hWnd;
    return NULL;
}

int AfxMessageBox(const char* lpszText, UINT nType, UINT)
{
    return ::MessageBoxA(MessageBoxOwner(), lpszText, AfxGetAppName(), nType);
}

int AfxMessageBox(UINT nIDPrompt, UINT nType, UINT nIDHelp)
{
    CString text;
    text.LoadString(nIDPrompt);
    return AfxMessageBox(text, nType, nIDHelp);
}

// ---------------------------------------------------------------------------------------------
// CString's resource loading lives with the Win32 half of the layer.

int CString::LoadString(unsigned int nID)
{
    char buf[1024];
    int n = ::LoadStringA(AfxGetResourceHandle(), nID, buf, sizeof buf);
    *this = CString(buf, n > 0 ? n : 0);
    return n > 0;
}
