#include "ui/DisplayScale.h"

#include <cstring>

namespace {

HMODULE User32() { return ::GetModuleHandleA("user32.dll"); }

UINT ScreenDpi()
{
    HDC hdc = ::GetDC(NULL);
    const int n = hdc ? ::GetDeviceCaps(hdc, LOGPIXELSY) : 0;
    if (hdc) ::ReleaseDC(NULL, hdc);
    return n > 0 ? (UINT)n : 96;
}

bool IsClass(HWND hWnd, const char* pszClass)
{
    char cls[32] = "";
    ::GetClassNameA(hWnd, cls, sizeof cls);
    return lstrcmpiA(cls, pszClass) == 0;
}

LOGFONTA FontOf(HWND hWnd, bool* pbHasFont)
{
    LOGFONTA lf = {};
    HGDIOBJ hFont = (HGDIOBJ)::SendMessageA(hWnd, WM_GETFONT, 0, 0);
    *pbHasFont = hFont && ::GetObjectA(hFont, sizeof lf, &lf) == sizeof lf;
    return lf;
}

LOGFONTA ScaledFont(LOGFONTA lf, UINT nFrom, UINT nTo)
{
    lf.lfHeight = ::MulDiv(lf.lfHeight, (int)nTo, (int)nFrom);
    lf.lfWidth = ::MulDiv(lf.lfWidth, (int)nTo, (int)nFrom);
    return lf;
}

// A list's scrolling extent measured anew in its font: text widths do not grow exactly with
// the scale, so scaling the old extent could leave the end of the longest line out of reach.
// The extent is the widest line plus the list's two edges, as the lists set it.
void MeasureExtentAgain(HWND hList)
{
    HDC hdc = ::CreateCompatibleDC(NULL);
    if (!hdc) return;
    HGDIOBJ hOld = ::SelectObject(hdc, (HGDIOBJ)::SendMessageA(hList, WM_GETFONT, 0, 0));
    int nWidest = 0;
    std::vector<char> text;
    const int nCount = (int)::SendMessageA(hList, LB_GETCOUNT, 0, 0);
    for (int i = 0; i < nCount; ++i) {
        const int nLen = (int)::SendMessageA(hList, LB_GETTEXTLEN, (WPARAM)i, 0);
        if (nLen <= 0) continue;
        text.resize((size_t)nLen + 1);
        const int nGot = (int)::SendMessageA(hList, LB_GETTEXT, (WPARAM)i, (LPARAM)text.data());
        SIZE size = {};
        if (nGot > 0 && ::GetTextExtentPoint32A(hdc, text.data(), nGot, &size) && size.cx > nWidest)
            nWidest = size.cx;
    }
    ::SelectObject(hdc, hOld);
    ::DeleteDC(hdc);
    ::SendMessageA(hList, LB_SETHORIZONTALEXTENT, (WPARAM)(nWidest + 2 * ::GetSystemMetrics(SM_CXEDGE)), 0);
}

} // namespace

UINT WindowDpi(HWND hWnd)
{
    typedef UINT(WINAPI * PFN_GETDPIFORWINDOW)(HWND);
    static const auto pfn = (PFN_GETDPIFORWINDOW)::GetProcAddress(User32(), "GetDpiForWindow");
    if (pfn && hWnd) {
        const UINT n = pfn(hWnd);
        if (n) return n;
    }
    return ScreenDpi();
}

int ScaleToDpi(int n, UINT nDpi) { return ::MulDiv(n, (int)nDpi, 96); }

int SystemMetricForDpi(int nIndex, UINT nDpi)
{
    typedef int(WINAPI * PFN_GETSYSTEMMETRICSFORDPI)(int, UINT);
    static const auto pfn = (PFN_GETSYSTEMMETRICSFORDPI)::GetProcAddress(User32(), "GetSystemMetricsForDpi");
    if (pfn) return pfn(nIndex, nDpi);
    return ::MulDiv(::GetSystemMetrics(nIndex), (int)nDpi, (int)ScreenDpi());
}

// ---------------------------------------------------------------------------------------------

CDisplayScale::~CDisplayScale()
{
    for (auto& f : m_fonts) ::DeleteObject(f.second);
}

void CDisplayScale::Attach(HWND hDlg)
{
    m_hDlg = hDlg;
    m_nFirstDpi = m_nDpi = WindowDpi(hDlg);
    bool bFont = false;
    m_lfDialog = FontOf(hDlg, &bFont);
    if (!bFont) ::GetObjectA(::GetStockObject(DEFAULT_GUI_FONT), sizeof m_lfDialog, &m_lfDialog);

    m_items.clear();
    for (HWND h = ::GetWindow(hDlg, GW_CHILD); h; h = ::GetWindow(h, GW_HWNDNEXT)) {
        CItem item;
        item.hWnd = h;
        RECT rc;
        ::GetWindowRect(h, &rc);
        // A drop-down list's window is its closed field; its height as laid out includes the list.
        if (IsClass(h, "ComboBox")) ::SendMessageA(h, CB_GETDROPPEDCONTROLRECT, 0, (LPARAM)&rc);
        ::MapWindowPoints(NULL, hDlg, (POINT*)&rc, 2);
        item.rc = rc;
        item.lf = FontOf(h, &item.bFont);
        m_items.push_back(item);
    }

    // DIALOG_DPI_CHANGE_BEHAVIORS: DDC_DISABLE_ALL (1).
    typedef BOOL(WINAPI * PFN_SETDIALOGDPICHANGEBEHAVIOR)(HWND, int, int);
    static const auto pfn =
        (PFN_SETDIALOGDPICHANGEBEHAVIOR)::GetProcAddress(User32(), "SetDialogDpiChangeBehavior");
    if (pfn) pfn(hDlg, 1, 1);
}

LOGFONTA CDisplayScale::DialogFont() const { return ScaledFont(m_lfDialog, m_nFirstDpi, m_nDpi); }

HFONT CDisplayScale::Font(const LOGFONTA& lf)
{
    for (auto& f : m_fonts)
        if (std::memcmp(&f.first, &lf, sizeof lf) == 0) return f.second;
    HFONT hFont = ::CreateFontIndirectA(&lf);
    if (hFont) m_fonts.emplace_back(lf, hFont);
    return hFont;
}

void CDisplayScale::Change(UINT nDpi, const RECT& rcWindow)
{
    if (!m_hDlg || !nDpi) return;
    m_nDpi = nDpi;

    for (const CItem& item : m_items) {
        if (!::IsWindow(item.hWnd)) continue;
        if (item.bFont) {
            HFONT hFont = Font(ScaledFont(item.lf, m_nFirstDpi, nDpi));
            if (hFont) ::SendMessageA(item.hWnd, WM_SETFONT, (WPARAM)hFont, FALSE);
        }
        const int x = ::MulDiv(item.rc.left, (int)nDpi, (int)m_nFirstDpi);
        const int y = ::MulDiv(item.rc.top, (int)nDpi, (int)m_nFirstDpi);
        const int cx = ::MulDiv(item.rc.right, (int)nDpi, (int)m_nFirstDpi) - x;
        const int cy = ::MulDiv(item.rc.bottom, (int)nDpi, (int)m_nFirstDpi) - y;
        ::SetWindowPos(item.hWnd, NULL, x, y, cx, cy, SWP_NOZORDER | SWP_NOACTIVATE);
        if (IsClass(item.hWnd, "ListBox") && ::SendMessageA(item.hWnd, LB_GETHORIZONTALEXTENT, 0, 0) > 0)
            MeasureExtentAgain(item.hWnd);
    }
    // The window last: its size notification rebuilds the shape at the new scale.
    ::SetWindowPos(m_hDlg, NULL, rcWindow.left, rcWindow.top, rcWindow.right - rcWindow.left,
        rcWindow.bottom - rcWindow.top, SWP_NOZORDER | SWP_NOACTIVATE);
}

// ---------------------------------------------------------------------------------------------

static bool EditShowsWhole(HWND hEdit, const char* pszSample)
{
    RECT rc = {};
    ::SendMessageA(hEdit, EM_GETRECT, 0, (LPARAM)&rc);
    HDC hdc = ::GetDC(hEdit);
    if (!hdc) return false;
    HGDIOBJ hOld = ::SelectObject(hdc, (HGDIOBJ)::SendMessageA(hEdit, WM_GETFONT, 0, 0));
    SIZE size = {};
    ::GetTextExtentPoint32A(hdc, pszSample, lstrlenA(pszSample), &size);
    ::SelectObject(hdc, hOld);
    ::ReleaseDC(hEdit, hdc);
    // The caret stands after the last character; where it would leave the rectangle, the edit
    // scrolls the text and the first digit goes out of sight.
    return size.cx + 1 <= rc.right - rc.left;
}

bool FitEditFont(HWND hEdit, const char* pszSample, CDisplayScale& rScale)
{
    const LOGFONTA lfDialog = rScale.DialogFont();
    HFONT hFont = rScale.Font(lfDialog);
    ::SendMessageA(hEdit, WM_SETFONT, (WPARAM)hFont, FALSE);
    if (EditShowsWhole(hEdit, pszSample)) return true;

    // The same family without proportional spacing: "ＭＳ ゴシック" beside "ＭＳ Ｐゴシック".
    LOGFONTA lf = lfDialog;
    lstrcpynA(lf.lfFaceName, "ＭＳ ゴシック", LF_FACESIZE);
    lf.lfPitchAndFamily = FIXED_PITCH | FF_MODERN;
    const int nHeight = lf.lfHeight;
    for (int nStep = 0; nStep <= 4; ++nStep) {
        lf.lfHeight = nHeight < 0 ? ::MulDiv(nHeight, 16 - nStep, 16) : nHeight;
        hFont = rScale.Font(lf);
        ::SendMessageA(hEdit, WM_SETFONT, (WPARAM)hFont, FALSE);
        if (EditShowsWhole(hEdit, pszSample)) return true;
    }
    return false;
}
