// GDI wrappers: pens, brushes, regions and device contexts over their handles. They know
// nothing of windows; afxwin.h builds on them.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include "platform/afxstr.h"

// ---------------------------------------------------------------------------------------------
// GDI objects: own their handle until DeleteObject or Detach.

class CGdiObject {
public:
    CGdiObject() : m_hObject(NULL) { }
    virtual ~CGdiObject() { DeleteObject(); }
    CGdiObject(const CGdiObject&) = delete;
    CGdiObject& operator=(const CGdiObject&) = delete;

    HGDIOBJ GetSafeHandle() const { return m_hObject; }
    BOOL Attach(HGDIOBJ hObject);
    HGDIOBJ Detach();
    BOOL DeleteObject();

    // Handles currently owned by wrappers in this process: a leak shows as a growing count.
    static int LiveCount();

    HGDIOBJ m_hObject;
};

class CPen : public CGdiObject {
public:
    CPen() { }
    CPen(int nPenStyle, int nWidth, COLORREF crColor) { CreatePen(nPenStyle, nWidth, crColor); }
    BOOL CreatePen(int nPenStyle, int nWidth, COLORREF crColor)
    {
        return Attach(::CreatePen(nPenStyle, nWidth, crColor));
    }
    operator HPEN() const { return (HPEN)m_hObject; }
};

class CBrush : public CGdiObject {
public:
    CBrush() { }
    explicit CBrush(COLORREF crColor) { CreateSolidBrush(crColor); }
    BOOL CreateSolidBrush(COLORREF crColor) { return Attach(::CreateSolidBrush(crColor)); }
    operator HBRUSH() const { return (HBRUSH)m_hObject; }
};

class CRgn : public CGdiObject {
public:
    BOOL CreateRectRgn(int x1, int y1, int x2, int y2) { return Attach(::CreateRectRgn(x1, y1, x2, y2)); }
    BOOL CreateRoundRectRgn(int x1, int y1, int x2, int y2, int x3, int y3)
    {
        return Attach(::CreateRoundRectRgn(x1, y1, x2, y2, x3, y3));
    }
    BOOL CreateEllipticRgnIndirect(LPCRECT lpRect) { return Attach(::CreateEllipticRgnIndirect(lpRect)); }
    // Makes this region a copy of another (creating it when needed).
    int CopyRgn(const CRgn* pRgnSrc);
    operator HRGN() const { return (HRGN)m_hObject; }
};

class CDC {
public:
    CDC() : m_hDC(NULL) { }
    virtual ~CDC() { }
    CDC(const CDC&) = delete;
    CDC& operator=(const CDC&) = delete;

    BOOL Attach(HDC hDC)
    {
        m_hDC = hDC;
        return hDC != NULL;
    }
    HDC Detach()
    {
        HDC h = m_hDC;
        m_hDC = NULL;
        return h;
    }
    HDC GetSafeHdc() const { return m_hDC; }
    operator HDC() const { return m_hDC; }

    HGDIOBJ SelectObject(CGdiObject* pObject) { return ::SelectObject(m_hDC, pObject->m_hObject); }
    HGDIOBJ SelectObject(HGDIOBJ hObject) { return ::SelectObject(m_hDC, hObject); }
    int SetBkMode(int nMode) { return ::SetBkMode(m_hDC, nMode); }
    int GetBkMode() const { return ::GetBkMode(m_hDC); }
    COLORREF SetTextColor(COLORREF cr) { return ::SetTextColor(m_hDC, cr); }
    COLORREF GetTextColor() const { return ::GetTextColor(m_hDC); }
    void FillSolidRect(LPCRECT lpRect, COLORREF cr);
    int DrawText(const CString& str, LPRECT lpRect, UINT nFormat)
    {
        return ::DrawTextA(m_hDC, str, str.GetLength(), lpRect, nFormat);
    }
    BOOL Ellipse(LPCRECT lpRect)
    {
        return ::Ellipse(m_hDC, lpRect->left, lpRect->top, lpRect->right, lpRect->bottom);
    }

    HDC m_hDC;
};
