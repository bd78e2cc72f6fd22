// Region bookkeeping shared by the shaped dialog frame and the round button: capture the
// window's pre-shape region once, apply a new shape, and put the pre-shape region back.
#pragma once

#include "platform/afxwin.h"

#include <functional>

struct CShapeRegions {
    bool& bRgnSaved;
    CRgn& rgnSaved;
    CRgn& rgnShape;
};

// Re-applies the pre-shape region (or captures it the first time), then gives the window the
// shape that makeShape builds on its rectangle (0, 0, width, height) and repaints it.
void ApplyShapeRegion(
    CWnd& wnd, CShapeRegions regions, const std::function<BOOL(CRgn&, const CRect&)>& makeShape);

// At WM_DESTROY: the pre-shape region becomes the window region again, without redrawing.
void RestorePreShapeRegion(CWnd& wnd, CShapeRegions regions);
