#include "ui/Contrast.h"

namespace {
bool (*g_pfnHook)() = nullptr;
bool g_bRead = false;
bool g_bOn = false;
bool g_bEverOn = false;

bool SystemHighContrast()
{
    if (g_pfnHook) return g_pfnHook();
    HIGHCONTRASTA hc = {};
    hc.cbSize = sizeof hc;
    return ::SystemParametersInfoA(SPI_GETHIGHCONTRAST, sizeof hc, &hc, 0) &&
        (hc.dwFlags & HCF_HIGHCONTRASTON);
}

contrast::Colour SysColour(int nIndex) { return (contrast::Colour)::GetSysColor(nIndex); }
} // namespace

static_assert(contrast::kSysWindow == COLOR_WINDOW && contrast::kSysWindowText == COLOR_WINDOWTEXT &&
        contrast::kSysBtnFace == COLOR_BTNFACE && contrast::kSysBtnText == COLOR_BTNTEXT &&
        contrast::kSysHighlight == COLOR_HIGHLIGHT && contrast::kSysHighlightText == COLOR_HIGHLIGHTTEXT &&
        contrast::kSysGrayText == COLOR_GRAYTEXT && contrast::kSysActiveCaption == COLOR_ACTIVECAPTION &&
        contrast::kSysInactiveCaption == COLOR_INACTIVECAPTION &&
        contrast::kSysCaptionText == COLOR_CAPTIONTEXT &&
        contrast::kSysInactiveCaptionText == COLOR_INACTIVECAPTIONTEXT,
    "the scheme's indexes are the system's");

bool HighContrastOn()
{
    if (!g_bRead) ReadHighContrast();
    return g_bOn;
}

bool ReadHighContrast()
{
    const bool bWas = g_bOn;
    g_bOn = SystemHighContrast();
    g_bRead = true;
    g_bEverOn = g_bEverOn || g_bOn;
    return g_bOn != bWas;
}

void SetHighContrastHook(bool (*pfn)())
{
    g_pfnHook = pfn;
    ReadHighContrast();
}

contrast::Frame FrameColours() { return contrast::FrameColours(HighContrastOn(), SysColour); }

contrast::Button ButtonColours(bool bPressed, bool bDisabled, bool bFocused)
{
    return contrast::ButtonColours(HighContrastOn(), SysColour, bPressed, bDisabled, bFocused);
}

void ApplyDialogColours()
{
    CWinApp* pApp = AfxGetApp();
    if (!pApp || !pApp->GetDialogBkBrush() || !(HighContrastOn() || g_bEverOn)) return;
    const contrast::Frame frame = FrameColours();
    pApp->SetDialogBkColor(frame.dialogBk, frame.dialogText);
}
