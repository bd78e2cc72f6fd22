#include "ui/RoundButton.h"

#include "ui/Contrast.h"
#include "ui/DisplayScale.h"
#include "ui/WindowShape.h"

#include <algorithm>

BEGIN_MESSAGE_MAP(CRoundButton, CButton)
ON_WM_SIZE()
ON_WM_DESTROY()
END_MESSAGE_MAP()

CRoundButton::CRoundButton()
    : m_bRgnSaved(false), m_pBrushLight(nullptr), m_pBrushMedium(nullptr), m_pBrushDark(nullptr)
{
}

void CRoundButton::SetBrushes(CBrush* pBrushLight, CBrush* pBrushMedium, CBrush* pBrushDark)
{
    m_pBrushLight = pBrushLight;
    m_pBrushMedium = pBrushMedium;
    m_pBrushDark = pBrushDark;
}

static HGDIOBJ BrushHandle(CBrush* pBrush)
{
    // Before the dialog lends its brushes, draw with the stock brush rather than nothing.
    return pBrush && pBrush->m_hObject ? pBrush->m_hObject : ::GetStockObject(WHITE_BRUSH);
}

void CRoundButton::DrawItem(LPDRAWITEMSTRUCT lpDis)
{
    if (lpDis->CtlType != ODT_BUTTON) return;

    CDC dc;
    dc.Attach(lpDis->hDC);
    CRect rc;
    ::CopyRect(&rc, &lpDis->rcItem);

    int nOldBkMode = ::GetBkMode(dc);
    COLORREF clrOldText = ::GetTextColor(dc);
    dc.SetBkMode(TRANSPARENT);

    CPen pen(PS_NULL, 0, RGB(0, 0, 0));
    HGDIOBJ hOldPen = dc.SelectObject(&pen);

    const UINT state = lpDis->itemState;
    // Each rim is a pixel wide at 96 DPI and grows with the scale.
    const int nRim = std::max(1, ScaleToDpi(1, m_nDpi));
    const bool bPressed = (state & ODS_SELECTED) != 0;
    const bool bDisabled = (state & ODS_DISABLED) != 0;

    const bool bFocused = (state & ODS_FOCUS) != 0;
    // With high contrast the system's colours, through the context's own brush; otherwise
    // the dialog's brushes of the program's scheme.
    const bool bHighContrast = HighContrastOn();
    const contrast::Button colours = ButtonColours(bPressed, bDisabled, bFocused);
    auto brush = [&](CBrush* pLent, COLORREF clr) -> HGDIOBJ {
        if (!bHighContrast) return BrushHandle(pLent);
        ::SetDCBrushColor(dc, clr);
        return ::GetStockObject(DC_BRUSH);
    };
    dc.SetTextColor(colours.text);

    // Outer rim.
    CBrush* pOuter = bPressed ? m_pBrushLight : (bDisabled ? m_pBrushDark : m_pBrushMedium);
    HGDIOBJ hOldBrush = dc.SelectObject(brush(pOuter, colours.outer));
    dc.Ellipse(&rc);

    // Inner rim: dark while the button has the focus.
    ::OffsetRect(&rc, -nRim, -nRim);
    dc.SelectObject(brush(bFocused ? m_pBrushDark : m_pBrushLight, colours.inner));
    dc.Ellipse(&rc);

    // Face. With high contrast it is outlined all round in the rim's colour: the face may be
    // the colour of the body.
    ::OffsetRect(&rc, -nRim, -nRim);
    dc.SelectObject(
        brush(bPressed ? m_pBrushMedium : (bDisabled ? m_pBrushDark : m_pBrushLight), colours.face));
    CPen penOutline;
    if (bHighContrast && penOutline.CreatePen(PS_INSIDEFRAME, nRim, colours.outer))
        dc.SelectObject(&penOutline);
    dc.Ellipse(&rc);
    dc.SelectObject(&pen);

    CString strText;
    GetWindowText(strText);
    dc.DrawText(strText, &rc, DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOCLIP | DT_NOPREFIX);
    if ((state & ODS_FOCUS) && !(state & ODS_NOFOCUSRECT) && !strText.IsEmpty())
        DrawFocus(dc, rc, strText, nRim);

    dc.SelectObject(hOldBrush);
    dc.SetTextColor(clrOldText);
    dc.SelectObject(hOldPen);
    dc.SetBkMode(nOldBkMode);
    dc.Detach();
}

// The dotted focus rectangle, one rim's width round the caption centred on the face.
void CRoundButton::DrawFocus(CDC& dc, const CRect& rcFace, const CString& strText, int nGap)
{
    CRect rcText;
    dc.DrawText(strText, &rcText, DT_CALCRECT | DT_SINGLELINE | DT_NOPREFIX);
    const int x = rcFace.left + (rcFace.Width() - rcText.Width()) / 2;
    const int y = rcFace.top + (rcFace.Height() - rcText.Height()) / 2;
    CRect rcFocus(x - 2 * nGap, y - nGap, x + rcText.Width() + 2 * nGap, y + rcText.Height() + nGap);
    ::DrawFocusRect(dc, &rcFocus);
}

void CRoundButton::OnSize(UINT nType, int cx, int cy)
{
    CButton::OnSize(nType, cx, cy);
    if (nType == SIZE_RESTORED) ApplyWindowShape();
}

void CRoundButton::ApplyWindowShape()
{
    ApplyShapeRegion(*this, { m_bRgnSaved, m_rgnSaved, m_rgnShape },
        [](CRgn& rgn, const CRect& rc) { return rgn.CreateEllipticRgnIndirect(&rc); });
}

void CRoundButton::OnDestroy()
{
    RestorePreShapeRegion(*this, { m_bRgnSaved, m_rgnSaved, m_rgnShape });
    CButton::OnDestroy();
}
