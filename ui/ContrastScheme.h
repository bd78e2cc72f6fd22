// Which colours the frame, the labels and the round buttons draw in: the program's own scheme,
// or with high contrast on, the system's colours. No Windows header: the choice is tested on
// the host; the system's colours come in through a lookup by their COLOR_ index.
#pragma once

#include <cstdint>
#include <functional>

namespace contrast {

// A colour as COLORREF holds it: red in the low byte, then green, then blue.
using Colour = std::uint32_t;
constexpr Colour Rgb(unsigned r, unsigned g, unsigned b) { return r | (g << 8) | (b << 16); }

// The system colours used, by their COLOR_ indexes.
enum SysColour : int {
    kSysActiveCaption = 2,
    kSysInactiveCaption = 3,
    kSysWindow = 5,
    kSysWindowText = 8,
    kSysCaptionText = 9,
    kSysHighlight = 13,
    kSysHighlightText = 14,
    kSysBtnFace = 15,
    kSysGrayText = 17,
    kSysBtnText = 18,
    kSysInactiveCaptionText = 19,
};
using SysLookup = std::function<Colour(int nIndex)>;

// The program's own scheme.
constexpr Colour kCaptionActive = Rgb(13, 249, 157); // bright green
constexpr Colour kCaptionInactive = Rgb(0, 66, 21); // dark green
constexpr Colour kBrushLight = Rgb(221, 255, 232); // light green
constexpr Colour kBrushMedium = Rgb(102, 255, 153); // medium green
constexpr Colour kBrushDark = Rgb(0, 66, 21); // dark green
constexpr Colour kTextDarkBlue = Rgb(25, 39, 122);
constexpr Colour kTextWhite = Rgb(255, 255, 255);
constexpr Colour kCaptionLine = Rgb(0, 0, 0);
constexpr Colour kDialogBk = Rgb(193, 255, 214); // pale mint
constexpr Colour kDialogText = Rgb(0, 0, 0);

// The dialog's body, its labels and its caption strip.
struct Frame {
    Colour dialogBk, dialogText;
    Colour captionActive, captionActiveText;
    Colour captionInactive, captionInactiveText;
    Colour captionLine;
    bool operator==(const Frame& o) const
    {
        return dialogBk == o.dialogBk && dialogText == o.dialogText && captionActive == o.captionActive &&
            captionActiveText == o.captionActiveText && captionInactive == o.captionInactive &&
            captionInactiveText == o.captionInactiveText && captionLine == o.captionLine;
    }
};

inline Frame FrameColours(bool bHighContrast, const SysLookup& sys)
{
    if (!bHighContrast)
        return { kDialogBk, kDialogText, kCaptionActive, kTextDarkBlue, kCaptionInactive, kTextWhite,
            kCaptionLine };
    return { sys(kSysWindow), sys(kSysWindowText), sys(kSysActiveCaption), sys(kSysCaptionText),
        sys(kSysInactiveCaption), sys(kSysInactiveCaptionText), sys(kSysWindowText) };
}

// A round button's three ellipses, outside in, and its caption.
struct Button {
    Colour outer, inner, face, text;
    bool operator==(const Button& o) const
    {
        return outer == o.outer && inner == o.inner && face == o.face && text == o.text;
    }
};

inline Button ButtonColours(
    bool bHighContrast, const SysLookup& sys, bool bPressed, bool bDisabled, bool bFocused)
{
    if (!bHighContrast) {
        const Colour inner = bFocused ? kBrushDark : kBrushLight;
        if (bPressed) return { kBrushLight, inner, kBrushMedium, kTextWhite };
        if (bDisabled) return { kBrushDark, inner, kBrushDark, kTextWhite };
        return { kBrushMedium, inner, kBrushLight, kTextDarkBlue };
    }
    // High contrast: a rim in the text colour round a face of the button colour; the focused
    // button's face takes the selection colours, so the focus shows at a glance; pressed, the
    // face is inverted.
    const Colour rim = sys(kSysWindowText);
    if (bPressed) return { rim, rim, sys(kSysWindowText), sys(kSysWindow) };
    if (bDisabled) return { sys(kSysGrayText), sys(kSysBtnFace), sys(kSysBtnFace), sys(kSysGrayText) };
    if (bFocused) return { rim, sys(kSysHighlight), sys(kSysHighlight), sys(kSysHighlightText) };
    return { rim, sys(kSysBtnFace), sys(kSysBtnFace), sys(kSysBtnText) };
}

} // namespace contrast
