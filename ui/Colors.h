// The program's colour scheme.
#pragma once

#include "platform/afxwin.h"

const COLORREF kClrCaptionActive = RGB(13, 249, 157); // bright green
const COLORREF kClrCaptionInactive = RGB(0, 66, 21); // dark green
const COLORREF kClrBrushLight = RGB(221, 255, 232); // light green
const COLORREF kClrBrushMedium = RGB(102, 255, 153); // medium green
const COLORREF kClrBrushDark = RGB(0, 66, 21); // dark green
const COLORREF kClrTextDarkBlue = RGB(25, 39, 122);
const COLORREF kClrTextWhite = RGB(255, 255, 255);
const COLORREF kClrCaptionLine = RGB(0, 0, 0);
const COLORREF kClrDialogBk = RGB(193, 255, 214); // pale mint
const COLORREF kClrDialogText = RGB(0, 0, 0);
