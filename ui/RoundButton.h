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

private:
    void ApplyWindowShape();
};
