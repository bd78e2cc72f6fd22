// Owner-drawn push button drawn as an elliptic face with a two-tone rim along its lower-right
// edge, in three brushes lent by its dialog; its window gets an elliptic region.
#pragma once

#include "platform/afxwin.h"
#include "ui/Colors.h"

class CRoundButton : public CButton {
public:
    CRoundButton();

    // Light (normal face), medium (pressed face, normal rim), dark (disabled, focus rim).
    // The dialog keeps ownership.
    void SetBrushes(CBrush* pBrushLight, CBrush* pBrushMedium, CBrush* pBrushDark);
    // The display scale the rims are drawn for (96 DPI, one pixel each, until set).
    void SetDpi(UINT nDpi) { m_nDpi = nDpi; }
    // Draws the face, the rims and the caption; with the keyboard focus, a dotted rectangle
    // round the caption as well, unless the window hides focus cues (ODS_NOFOCUSRECT: until
    // the keyboard is used).
    void DrawItem(LPDRAWITEMSTRUCT lpDrawItemStruct) override;

protected:
    afx_msg void OnSize(UINT nType, int cx, int cy);
    afx_msg void OnDestroy();
    DECLARE_MESSAGE_MAP()

    bool m_bRgnSaved;
    CRgn m_rgnSaved;
    CRgn m_rgnShape;
    CBrush* m_pBrushLight;
    CBrush* m_pBrushMedium;
    CBrush* m_pBrushDark;
    UINT m_nDpi = 96;

private:
    void ApplyWindowShape();
    static void DrawFocus(CDC& dc, const CRect& rcFace, const CString& strText, int nGap);
};
