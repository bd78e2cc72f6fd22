#include "call/LineList.h"

#include <algorithm>

CTextMeasure::~CTextMeasure()
{
    if (!m_hdc) return;
    ::SelectObject(m_hdc, m_hOldFont);
    ::DeleteDC(m_hdc);
}

int CTextMeasure::Width(const CListBox& rList, const CString& strText)
{
    if (!m_hdc) m_hdc = ::CreateCompatibleDC(NULL);
    if (!m_hdc) return 0;
    HGDIOBJ hFont = (HGDIOBJ)rList.SendMessage(WM_GETFONT);
    if (hFont != m_hFont) {
        HGDIOBJ hOld = ::SelectObject(m_hdc, hFont ? hFont : ::GetStockObject(SYSTEM_FONT));
        if (!m_hOldFont) m_hOldFont = hOld;
        m_hFont = hFont;
    }
    SIZE size = {};
    ::GetTextExtentPoint32A(m_hdc, strText, strText.GetLength(), &size);
    return size.cx;
}

int AddLines(CListBox& rList, const std::vector<CString>& lines, CTextMeasure& rMeasure)
{
    if (lines.empty()) return -1;
    // Redrawing stays off while the list changes, so that it is invalidated once rather than for
    // every line added and again for the scrolling (each costs the window system more than the
    // line itself).
    rList.SendMessage(WM_SETREDRAW, FALSE);
    const bool bBatch = lines.size() > 8;
    if (bBatch) {
        size_t nBytes = 0;
        for (const CString& s : lines) nBytes += (size_t)s.GetLength() + 1;
        rList.SendMessage(LB_INITSTORAGE, (WPARAM)lines.size(), (LPARAM)nBytes);
    }
    const int nEdges = 2 * ::GetSystemMetrics(SM_CXEDGE);
    const int nOldExtent = (int)rList.SendMessage(LB_GETHORIZONTALEXTENT);
    int nExtent = nOldExtent;
    int nIndex = -1;
    for (const CString& s : lines) {
        nIndex = rList.AddString(s);
        nExtent = std::max(nExtent, rMeasure.Width(rList, s) + nEdges);
    }
    if (nExtent > nOldExtent) rList.SendMessage(LB_SETHORIZONTALEXTENT, (WPARAM)nExtent);
    if (nIndex >= 0) rList.SetTopIndex(nIndex);
    rList.SendMessage(WM_SETREDRAW, TRUE);
    ::InvalidateRect(rList.m_hWnd, NULL, TRUE);
    // A batch is painted now: during a flood the painting would otherwise wait behind it.
    if (bBatch) ::UpdateWindow(rList.m_hWnd);
    return nIndex;
}

void ClearLines(CListBox& rList)
{
    rList.ResetContent();
    rList.SendMessage(LB_SETHORIZONTALEXTENT, 0);
}
