// Base of every dialog of the program: a caption strip painted across the top (the title is the
// text of the hidden static 1010), a window region with rounded corners, and moving the window
// by dragging its client area.
#pragma once

#include "platform/afxwin.h"
#include "ui/Colors.h"
#include "ui/DisplayScale.h"
#include "ui/FocusKeeper.h"
#include "res/resource.h"

#include <initializer_list>

class CRoundButton;

class CShapedDialog : public CDialog {
public:
    CShapedDialog(UINT nIDTemplate, CWnd* pParentWnd);

    // Height of the coloured band at 96 DPI; the black line lies just under it.
    static const int kCaptionHeight = 18;

    // The display scale the dialog shows at (96 DPI is 100 %): the window's own when it is
    // created, then as WM_DPICHANGED reports it.
    UINT Dpi() const;
    // The coloured band and the line under it, in pixels at the dialog's scale.
    int CaptionHeight() const { return ScaleToDpi(kCaptionHeight, Dpi()); }
    int CaptionLine() const { return ScaleToDpi(1, Dpi()); }
    // The caption's font: the dialog font's face, bold, at the dialog's scale.
    HFONT CaptionFont();

protected:
    BOOL OnInitDialog() override;

    afx_msg void OnSize(UINT nType, int cx, int cy);
    afx_msg void OnDestroy();
    afx_msg void OnLButtonDown(UINT nFlags, CPoint point);
    afx_msg void OnLButtonUp(UINT nFlags, CPoint point);
    afx_msg void OnMouseMove(UINT nFlags, CPoint point);
    afx_msg void OnPaint();
    afx_msg void OnActivate(UINT nState, CWnd* pWndOther, BOOL bMinimized);
    // The window moved to a monitor of another scale: it takes the suggested rectangle, its
    // fonts and controls are scaled, and the shape is rebuilt.
    afx_msg LRESULT OnDpiChanged(WPARAM wParam, LPARAM lParam);

    // Called after the dialog has followed a new display scale, for what a dialog sized
    // itself in its OnInitDialog. The frame's own part is done by then.
    virtual void OnScaleChanged() { }

    // High contrast turned on or off, or the system's colours changed: the dialog colours are
    // chosen again and everything is repainted.
    afx_msg LRESULT OnContrastChange(WPARAM wParam, LPARAM lParam);

    // The control the user goes on with when the focus has nowhere better to be: the first
    // one Tab reaches, unless a dialog knows better.
    virtual HWND GoOnControl() { return ::GetNextDlgTabItem(m_hWnd, NULL, FALSE); }

    DECLARE_MESSAGE_MAP()

    // The dialog's three button brushes (light, medium, dark of the colour scheme), created
    // in OnInitDialog and lent in that order to each round button; deleted at WM_DESTROY.
    static void CreateButtonBrushes(
        CBrush& rLight, CBrush& rMedium, CBrush& rDark, std::initializer_list<CRoundButton*> buttons);
    static void DeleteButtonBrushes(CBrush& rLight, CBrush& rMedium, CBrush& rDark);

    BOOL m_bDragging;
    CPoint m_ptLast;
    bool m_bRgnSaved;
    CRgn m_rgnSaved;
    CRgn m_rgnShape;
    int m_bActive;

    // Fonts, controls' places and the scale.
    CDisplayScale m_scale;

    // The keyboard focus, kept across activation and moved on from disabled controls.
    CFocusKeeper m_focus;

private:
    void ApplyWindowShape();
    void MoveBy(CPoint ptScreen);
    // What the frame sets up for the scale it shows at: round buttons' rims, boxes' fonts.
    void ApplyScaleToControls();
};
