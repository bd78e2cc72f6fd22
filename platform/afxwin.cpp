// Windows and their objects: the links between them, message maps and dispatch; the
// application object and its message box.
#include "platform/afxwin.h"

#include "platform/afximpl.h"

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

void AfxHookWindowCreate(CWnd* pWnd)
{
    g_pWndInit = pWnd;
    if (!g_hHookCreate) g_hHookCreate = ::SetWindowsHookExA(WH_CBT, AfxCbtHook, NULL, ::GetCurrentThreadId());
}

void AfxUnhookWindowCreate()
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
    static const AFX_MSGMAP_ENTRY entries[] = { { 0, 0, 0, 0, AfxSig_end, (AFX_PMSG)0 } };
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
            if (nMessage == WM_COMMAND && (p->nCode != nCode || nID < p->nID || nID > p->nLastID)) continue;
            return p;
        }
    }
    return nullptr;
}

BOOL CCmdTarget::OnCmdMsg(UINT nID, UINT nCode)
{
    const AFX_MSGMAP_ENTRY* p = FindEntry(GetMessageMap(), WM_COMMAND, nCode, nID);
    if (!p) return FALSE;
    if (p->nSig == AfxSig_vw)
        (this->*reinterpret_cast<void (CCmdTarget::*)(UINT)>(p->pfn))(nID);
    else
        (this->*p->pfn)();
    return TRUE;
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
    static const AFX_MSGMAP_ENTRY entries[] = { { 0, 0, 0, 0, AfxSig_end, (AFX_PMSG)0 } };
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
    if (nFlags)
        ::SetWindowPos(
            hWnd, NULL, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE | nFlags);
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
        (this->*reinterpret_cast<void (CWnd::*)(CWnd*, CPoint)>(p->pfn))(
            FromHandle((HWND)wParam), CPoint(lParam));
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

// ---------------------------------------------------------------------------------------------
// A window's paint device context.

CPaintDC::CPaintDC(CWnd* pWnd) : m_hWnd(pWnd->m_hWnd) { Attach(::BeginPaint(m_hWnd, &m_ps)); }

CPaintDC::~CPaintDC()
{
    ::EndPaint(m_hWnd, &m_ps);
    Detach();
}
