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

void CTextMeasure::ListWidths::Push(int nWidth)
{
    // A line no wider than this newer one can never be the widest again: it leaves before it.
    while (!widest.empty() && widest.back().second <= nWidth) widest.pop_back();
    widest.emplace_back(nNext++, nWidth);
}

void CTextMeasure::ListWidths::DropOldest(int nLines)
{
    nFirst += nLines;
    while (!widest.empty() && widest.front().first < nFirst) widest.pop_front();
}

CTextMeasure::ListWidths& CTextMeasure::WidthsOf(CListBox& rList)
{
    auto it = std::find_if(
        m_lists.begin(), m_lists.end(), [&](const ListWidths& w) { return w.hWnd == rList.m_hWnd; });
    if (it == m_lists.end()) {
        m_lists.erase(std::remove_if(m_lists.begin(), m_lists.end(),
                          [](const ListWidths& w) { return !::IsWindow(w.hWnd); }),
            m_lists.end());
        m_lists.emplace_back();
        it = m_lists.end() - 1;
        it->hWnd = rList.m_hWnd;
    }
    const int nCount = rList.GetCount();
    if (it->Count() != nCount) {
        // Emptied (the usual case) or changed elsewhere: start again from what it holds.
        it->DropOldest(it->Count());
        CString strItem;
        for (int i = 0; i < nCount; ++i) {
            rList.GetText(i, strItem);
            it->Push(Width(rList, strItem));
        }
    }
    return *it;
}

int AddLines(CListBox& rList, const std::vector<CString>& lines, CTextMeasure& rMeasure)
{
    if (lines.empty()) return -1;
    CTextMeasure::ListWidths& widths = rMeasure.WidthsOf(rList);
    // Lines beyond what the list keeps would leave again at once: only the newest are listed.
    const size_t nSkip = lines.size() > (size_t)kListKeep ? lines.size() - kListKeep : 0;
    const int nNew = (int)(lines.size() - nSkip);
    // Redrawing stays off while the list changes, so that it is invalidated once rather than for
    // every line added or removed and again for the scrolling (each costs the window system more
    // than the line itself).
    rList.SendMessage(WM_SETREDRAW, FALSE);
    const int nCount = widths.Count();
    if (nCount + nNew > kListKeep) {
        const int nDrop = std::min(nCount, nCount + nNew - kListKeep);
        if (nDrop == nCount)
            rList.ResetContent();
        else
            for (int i = 0; i < nDrop; ++i) rList.DeleteString(0);
        widths.DropOldest(nDrop);
    }
    const bool bBatch = nNew > 8;
    if (bBatch) {
        size_t nBytes = 0;
        for (size_t i = nSkip; i < lines.size(); ++i) nBytes += (size_t)lines[i].GetLength() + 1;
        rList.SendMessage(LB_INITSTORAGE, (WPARAM)nNew, (LPARAM)nBytes);
    }
    int nIndex = -1;
    for (size_t i = nSkip; i < lines.size(); ++i) {
        const int n = rList.AddString(lines[i]);
        if (n < 0) continue; // out of memory: the line is not listed
        nIndex = n;
        widths.Push(rMeasure.Width(rList, lines[i]));
    }
    const int nEdges = 2 * ::GetSystemMetrics(SM_CXEDGE);
    const int nExtent = widths.Count() > 0 ? widths.Widest() + nEdges : 0;
    if (nExtent != (int)rList.SendMessage(LB_GETHORIZONTALEXTENT))
        rList.SendMessage(LB_SETHORIZONTALEXTENT, (WPARAM)nExtent);
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
