#include "ui/ShapedDialog.h"

#include "ui/RoundButton.h"
#include "ui/WindowShape.h"

BEGIN_MESSAGE_MAP(CShapedDialog, CDialog)
ON_WM_SIZE()
ON_WM_DESTROY()
ON_WM_LBUTTONDOWN()
ON_WM_LBUTTONUP()
ON_WM_MOUSEMOVE()
ON_WM_PAINT()
ON_WM_ACTIVATE()
END_MESSAGE_MAP()

CShapedDialog::CShapedDialog(UINT nIDTemplate, CWnd* pParentWnd)
    : CDialog(nIDTemplate, pParentWnd),
      m_bDragging(FALSE),
      m_bRgnSaved(false),
      m_bActive(1),
      m_clrInactive(kClrCaptionInactive),
      m_clrActive(kClrCaptionActive)
{
}

void CShapedDialog::SetCaptionColors(COLORREF clrActive, COLORREF clrInactive)
{
    m_clrActive = clrActive;
    m_clrInactive = clrInactive;
}

BOOL CShapedDialog::OnInitDialog()
{
    CDialog::OnInitDialog();
    return TRUE;
}

void CShapedDialog::OnSize(UINT nType, int cx, int cy)
{
    CDialog::OnSize(nType, cx, cy);
    if (nType == SIZE_RESTORED) ApplyWindowShape();
}

void CShapedDialog::ApplyWindowShape()
{
    ApplyShapeRegion(*this, { m_bRgnSaved, m_rgnSaved, m_rgnShape }, [](CRgn& rgn, const CRect& rc) {
        return rgn.CreateRoundRectRgn(rc.left, rc.top, rc.right, rc.bottom, 32, 32);
    });
}

void CShapedDialog::OnDestroy()
{
    RestorePreShapeRegion(*this, { m_bRgnSaved, m_rgnSaved, m_rgnShape });
    CWnd::OnDestroy();
}

void CShapedDialog::OnLButtonDown(UINT nFlags, CPoint point)
{
    m_bDragging = TRUE;
    ::SetCapture(m_hWnd);
    ClientToScreen(&point);
    m_ptLast = point;
    CDialog::OnLButtonDown(nFlags, point);
}

void CShapedDialog::MoveBy(CPoint ptScreen)
{
    CRect rc;
    GetWindowRect(&rc);
    rc.OffsetRect(ptScreen - m_ptLast);
    SetWindowPos(NULL, rc.left, rc.top, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    m_ptLast = ptScreen;
}

void CShapedDialog::OnMouseMove(UINT nFlags, CPoint point)
{
    if (m_bDragging) {
        CPoint pt = point;
        ClientToScreen(&pt);
        MoveBy(pt);
    }
    CDialog::OnMouseMove(nFlags, point);
}

void CShapedDialog::OnLButtonUp(UINT nFlags, CPoint point)
{
    if (m_bDragging) {
        CPoint pt = point;
        ClientToScreen(&pt);
        MoveBy(pt);
        ::ReleaseCapture();
        m_bDragging = FALSE;
    }
    CDialog::OnLButtonUp(nFlags, point);
}

void CShapedDialog::OnPaint()
{
    CPaintDC dc(this);

    CString strTitle = "<未定義>";
    if (CWnd* pCaption = GetDlgItem(IDC_CAPTION)) pCaption->GetWindowText(strTitle);

    CRect rc;
    GetClientRect(&rc);
    rc.bottom = kCaptionHeight + 1;

    COLORREF clrText;
    if (m_bActive) {
        dc.FillSolidRect(&rc, m_clrActive);
        clrText = kClrTextDarkBlue;
    } else {
        dc.FillSolidRect(&rc, m_clrInactive);
        clrText = kClrTextWhite;
    }
    CRect rcLine(0, kCaptionHeight, rc.right, kCaptionHeight + 1);
    dc.FillSolidRect(&rcLine, kClrCaptionLine);

    dc.SetBkMode(TRANSPARENT);
    dc.SetTextColor(clrText);
    dc.DrawText(strTitle, &rc, DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
}

void CShapedDialog::OnActivate(UINT nState, CWnd*, BOOL)
{
    m_bActive = (int)nState;
    RedrawWindow(NULL, NULL, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
}

void CShapedDialog::CreateButtonBrushes(
    CBrush& rLight, CBrush& rMedium, CBrush& rDark, std::initializer_list<CRoundButton*> buttons)
{
    rLight.CreateSolidBrush(kClrBrushLight);
    rMedium.CreateSolidBrush(kClrBrushMedium);
    rDark.CreateSolidBrush(kClrBrushDark);
    for (CRoundButton* pButton : buttons) pButton->SetBrushes(&rLight, &rMedium, &rDark);
}

void CShapedDialog::DeleteButtonBrushes(CBrush& rLight, CBrush& rMedium, CBrush& rDark)
{
    rLight.DeleteObject();
    rMedium.DeleteObject();
    rDark.DeleteObject();
}
