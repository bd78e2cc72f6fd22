#include "ui/WindowShape.h"

// The window system owns every region it is handed, so the saved region itself is never
// given away: the window gets a fresh copy.
static void SetCopyOfSavedRegion(CWnd& wnd, const CRgn& rgnSaved, BOOL bRedraw)
{
    CRgn copy;
    copy.CopyRgn(&rgnSaved);
    if (::SetWindowRgn(wnd.m_hWnd, (HRGN)copy.m_hObject, bRedraw)) copy.Detach();
}

void ApplyShapeRegion(CWnd& wnd, CShapeRegions r, const std::function<BOOL(CRgn&, const CRect&)>& makeShape)
{
    if (r.bRgnSaved) {
        SetCopyOfSavedRegion(wnd, r.rgnSaved, TRUE);
        wnd.RedrawWindow(NULL, NULL, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
    } else {
        r.rgnSaved.CreateRectRgn(0, 0, 0, 0);
        ::GetWindowRgn(wnd.m_hWnd, (HRGN)r.rgnSaved.m_hObject);
        r.bRgnSaved = true;
    }

    CRect rc;
    wnd.GetWindowRect(&rc);
    wnd.ScreenToClient(&rc);

    // A shape handed over earlier belongs to the window system and was let go then; one still
    // held here was never handed over.
    r.rgnShape.DeleteObject();
    if (!makeShape(r.rgnShape, rc)) return;
    if (::SetWindowRgn(wnd.m_hWnd, (HRGN)r.rgnShape.m_hObject, TRUE)) r.rgnShape.Detach();
    wnd.RedrawWindow(NULL, NULL, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
}

void RestorePreShapeRegion(CWnd& wnd, CShapeRegions r)
{
    if (!r.bRgnSaved) return;
    SetCopyOfSavedRegion(wnd, r.rgnSaved, FALSE);
    r.rgnShape.DeleteObject();
    r.bRgnSaved = false;
}
