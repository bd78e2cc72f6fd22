// The colours of the frame and the round buttons: the program's own scheme, and the system's
// colours with high contrast on.
#include "ui/ContrastScheme.h"

#include <gtest/gtest.h>

using namespace contrast;

namespace {
// A system palette in which every colour used is told apart by its index.
Colour Sys(int nIndex) { return Rgb(nIndex, 100 + nIndex, 200); }
Colour S(SysColour c) { return Rgb(c, 100 + c, 200); }
} // namespace

TEST(ContrastScheme, FrameColours)
{
    EXPECT_TRUE(FrameColours(false, Sys) ==
        (Frame { Rgb(193, 255, 214), Rgb(0, 0, 0), Rgb(13, 249, 157), Rgb(25, 39, 122), Rgb(0, 66, 21),
            Rgb(255, 255, 255), Rgb(0, 0, 0) }));
    EXPECT_TRUE(FrameColours(true, Sys) ==
        (Frame { S(kSysWindow), S(kSysWindowText), S(kSysActiveCaption), S(kSysCaptionText),
            S(kSysInactiveCaption), S(kSysInactiveCaptionText), S(kSysWindowText) }));
}

TEST(ContrastScheme, ButtonColoursInEachState)
{
    const Colour light = Rgb(221, 255, 232), medium = Rgb(102, 255, 153), dark = Rgb(0, 66, 21);
    const Colour blue = Rgb(25, 39, 122), white = Rgb(255, 255, 255);
    struct Case {
        const char* pszName;
        bool bHighContrast, bPressed, bDisabled, bFocused;
        Button want; // outer, inner, face, text
    } const cases[] = {
        { "normal", false, false, false, false, { medium, light, light, blue } },
        { "focused", false, false, false, true, { medium, dark, light, blue } },
        { "pressed", false, true, false, false, { light, light, medium, white } },
        { "disabled", false, false, true, false, { dark, light, dark, white } },
        { "pressed and disabled", false, true, true, false, { light, light, medium, white } },
        { "disabled and focused", false, false, true, true, { dark, dark, dark, white } },
        { "high contrast", true, false, false, false,
            { S(kSysWindowText), S(kSysBtnFace), S(kSysBtnFace), S(kSysBtnText) } },
        { "high contrast, focused", true, false, false, true,
            { S(kSysWindowText), S(kSysHighlight), S(kSysHighlight), S(kSysHighlightText) } },
        { "high contrast, pressed", true, true, false, true,
            { S(kSysWindowText), S(kSysWindowText), S(kSysWindowText), S(kSysWindow) } },
        { "high contrast, disabled", true, false, true, false,
            { S(kSysGrayText), S(kSysBtnFace), S(kSysBtnFace), S(kSysGrayText) } },
    };
    for (const Case& c : cases) {
        const Button got = ButtonColours(c.bHighContrast, Sys, c.bPressed, c.bDisabled, c.bFocused);
        EXPECT_TRUE(got == c.want) << c.pszName << ": got outer " << std::hex << got.outer << " inner "
                                   << got.inner << " face " << got.face << " text " << got.text;
    }
}
