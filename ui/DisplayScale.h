// The display scale of a dialog (96 DPI is 100 %) and following a change of it: Windows sends
// WM_DPICHANGED when the window moves to a monitor of another scale. Controls and fonts are
// scaled from what the dialog had when it was created, never from the last step, so that moving
// back and forth between monitors does not drift.
#pragma once

#include "platform/afxwin.h"

#include <vector>

#ifndef WM_DPICHANGED
#define WM_DPICHANGED 0x02E0
#endif

// The DPI of a window: GetDpiForWindow where the system has it (Windows 10 1607 and later; it
// is looked up at run time because Windows 7 lacks it), else the screen's LOGPIXELSY.
UINT WindowDpi(HWND hWnd);
// A length in pixels at 96 DPI, at the given DPI (rounded to the nearest pixel).
int ScaleToDpi(int n, UINT nDpi);
// A system metric (SM_CXSMICON, ...) at the given DPI: GetSystemMetricsForDpi where the system
// has it, else the system's value scaled from the screen's DPI.
int SystemMetricForDpi(int nIndex, UINT nDpi);

class CDisplayScale {
public:
    CDisplayScale() = default;
    ~CDisplayScale();
    CDisplayScale(const CDisplayScale&) = delete;
    CDisplayScale& operator=(const CDisplayScale&) = delete;

    // At WM_INITDIALOG: the dialog's DPI, and the place and font of each of its controls. Also
    // turns off the system's own rescaling of dialogs (Windows 10 1703 and later), which would
    // size the window by the font rather than by the DPI and fight the layout made here.
    void Attach(HWND hDlg);
    bool IsAttached() const { return m_hDlg != NULL; }
    UINT Dpi() const { return m_nDpi; }
    int Scale(int n) const { return ScaleToDpi(n, m_nDpi); }

    // The dialog now shows at nDpi: each control gets its font and its place scaled from the
    // dialog's first layout, lists with a scrolling extent have it measured again in their new
    // font, and the window takes rcWindow (screen coordinates, as WM_DPICHANGED suggests it).
    void Change(UINT nDpi, const RECT& rcWindow);

    // The dialog's font at the current scale.
    LOGFONTA DialogFont() const;
    // A font made from the description, kept until this object goes; the same description gives
    // the same font. Controls may hold it as long as the dialog lives.
    HFONT Font(const LOGFONTA& lf);

private:
    struct CItem {
        HWND hWnd;
        CRect rc; // client coordinates of the dialog, at m_nFirstDpi; combo boxes dropped down
        LOGFONTA lf; // the control's font at m_nFirstDpi
        bool bFont;
    };
    HWND m_hDlg = NULL;
    UINT m_nFirstDpi = 96;
    UINT m_nDpi = 96;
    LOGFONTA m_lfDialog = {};
    std::vector<CItem> m_items;
    std::vector<std::pair<LOGFONTA, HFONT>> m_fonts;
};

// Gives an edit a font in which the sample (its widest expected text), with the caret after
// it, fits in the edit's formatting rectangle (its client area less the margins): the dialog
// font at the current scale if it fits, else the fixed-pitch face of the same family (whose
// digits are half the em wide), stepping down in size until it fits. True when it fits.
bool FitEditFont(HWND hEdit, const char* pszSample, CDisplayScale& rScale);
