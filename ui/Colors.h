// The program's colour scheme (see ui/ContrastScheme.h, which also gives the high-contrast one).
#pragma once

#include "platform/afxwin.h"
#include "ui/ContrastScheme.h"

const COLORREF kClrCaptionActive = contrast::kCaptionActive; // bright green
const COLORREF kClrCaptionInactive = contrast::kCaptionInactive; // dark green
const COLORREF kClrBrushLight = contrast::kBrushLight; // light green
const COLORREF kClrBrushMedium = contrast::kBrushMedium; // medium green
const COLORREF kClrBrushDark = contrast::kBrushDark; // dark green
const COLORREF kClrTextDarkBlue = contrast::kTextDarkBlue;
const COLORREF kClrTextWhite = contrast::kTextWhite;
const COLORREF kClrCaptionLine = contrast::kCaptionLine;
const COLORREF kClrDialogBk = contrast::kDialogBk; // pale mint
const COLORREF kClrDialogText = contrast::kDialogText;
