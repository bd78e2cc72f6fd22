#include "ui/ShapedDialog.h"

#include "ui/Contrast.h"
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
ON_MESSAGE(WM_DPICHANGED, OnDpiChanged)
ON_MESSAGE(WM_SETTINGCHANGE, OnContrastChange)
ON_MESSAGE(WM_SYSCOLORCHANGE, OnContrastChange)
END_MESSAGE_MAP()

namespace {
// Boxes too narrow for their widest text in the template's proportional font, with that text:
// they get a font in which it fits (see FitEditFont).
struct CNarrowBox {
    UINT nTemplate;
    int nID;
    const char* pszWidest;
};
const CNarrowBox kNarrowBoxes[] = { { IDD_KELVARO_DIALOG, IDC_EDIT_PORT, "65535" } };
} // namespace

CShapedDialog::CShapedDialog(UINT nIDTemplate, CWnd* pParentWnd)
    : CDialog(nIDTemplate, pParentWnd), m_bDragging(FALSE), m_bRgnSaved(false), m_bActive(1)
{
}

BOOL CShapedDialog::OnInitDialog()
{
    CDialog::OnInitDialog();
    m_scale.Attach(m_hWnd);
    ApplyScaleToControls();
    m_focus.Attach(m_hWnd, [this] { return GoOnControl(); });
    ReadHighContrast();
    ApplyDialogColours();
    return TRUE;
}

UINT CShapedDialog::Dpi() const
{
    // Before WM_INITDIALOG (the size notifications of the window's creation) the window's own.
    return m_scale.IsAttached() ? m_scale.Dpi() : WindowDpi(m_hWnd);
}

HFONT CShapedDialog::CaptionFont()
{
    LOGFONTA lf = m_scale.DialogFont();
    lf.lfWeight = FW_BOLD;
    return m_scale.Font(lf);
}

void CShapedDialog::ApplyScaleToControls()
{
    for (HWND h = ::GetWindow(m_hWnd, GW_CHILD); h; h = ::GetWindow(h, GW_HWNDNEXT))
        if (auto* pButton = dynamic_cast<CRoundButton*>(CWnd::FromHandlePermanent(h))) pButton->SetDpi(Dpi());
    for (const CNarrowBox& box : kNarrowBoxes)
        if (box.nTemplate == m_nIDTemplate)
            if (HWND hBox = ::GetDlgItem(m_hWnd, box.nID)) FitEditFont(hBox, box.pszWidest, m_scale);
}

LRESULT CShapedDialog::OnDpiChanged(WPARAM wParam, LPARAM lParam)
{
    const UINT nDpi = HIWORD(wParam);
    const RECT* pSuggested = (const RECT*)lParam;
    if (!nDpi || !pSuggested || !m_scale.IsAttached()) return 0;
    m_scale.Change(nDpi, *pSuggested);
    ApplyScaleToControls();
    OnScaleChanged();
    RedrawWindow(NULL, NULL, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    return 0;
}

void CShapedDialog::OnSize(UINT nType, int cx, int cy)
{
    CDialog::OnSize(nType, cx, cy);
    if (nType == SIZE_RESTORED) ApplyWindowShape();
}

void CShapedDialog::ApplyWindowShape()
{
    const int nCorner = ScaleToDpi(32, Dpi());
    ApplyShapeRegion(*this, { m_bRgnSaved, m_rgnSaved, m_rgnShape }, [nCorner](CRgn& rgn, const CRect& rc) {
        return rgn.CreateRoundRectRgn(rc.left, rc.top, rc.right, rc.bottom, nCorner, nCorner);
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

    const int nBand = CaptionHeight(), nLine = CaptionLine();
    CRect rc;
    GetClientRect(&rc);
    rc.bottom = nBand + nLine;

    const contrast::Frame colours = FrameColours();
    COLORREF clrText;
    if (m_bActive) {
        dc.FillSolidRect(&rc, colours.captionActive);
        clrText = colours.captionActiveText;
    } else {
        dc.FillSolidRect(&rc, colours.captionInactive);
        clrText = colours.captionInactiveText;
    }
    CRect rcLine(0, nBand, rc.right, nBand + nLine);
    dc.FillSolidRect(&rcLine, colours.captionLine);

    dc.SetBkMode(TRANSPARENT);
    dc.SetTextColor(clrText);
    HGDIOBJ hOldFont = dc.SelectObject(CaptionFont());
    dc.DrawText(strTitle, &rc, DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
    dc.SelectObject(hOldFont);
}

void CShapedDialog::OnActivate(UINT nState, CWnd*, BOOL)
{
    m_bActive = (int)nState;
    if (nState == WA_INACTIVE)
        m_focus.Deactivated();
    else
        m_focus.Activated();
    RedrawWindow(NULL, NULL, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
}

LRESULT CShapedDialog::OnContrastChange(WPARAM, LPARAM)
{
    // Either message may mean new colours even when the setting itself stayed.
    ReadHighContrast();
    ApplyDialogColours();
    RedrawWindow(NULL, NULL, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_FRAME);
    return Default();
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
