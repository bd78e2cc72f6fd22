// The send and receive lists: lines appended with the scrolling extent kept wide enough for the
// longest, the newest scrolled into view.
#pragma once

#include "platform/afxwin.h"

#include <vector>

// Measures text in a list's font on a memory device context made once: asking the window for
// its device context for every line costs more than listing the line.
class CTextMeasure {
public:
    CTextMeasure() = default;
    ~CTextMeasure();
    CTextMeasure(const CTextMeasure&) = delete;
    CTextMeasure& operator=(const CTextMeasure&) = delete;

    // Width in pixels of the text in the list's font; 0 where it cannot be measured.
    int Width(const CListBox& rList, const CString& strText);

private:
    HDC m_hdc = NULL;
    HGDIOBJ m_hFont = NULL; // the font selected into m_hdc
    HGDIOBJ m_hOldFont = NULL;
};

// Appends lines to a list and makes the newest the top one; the scrolling extent is widened to
// the longest line, so the horizontal scroll bar reaches its end. The list is redrawn once for
// all the lines, a batch of them at once. Returns the index of the last line, or -1.
int AddLines(CListBox& rList, const std::vector<CString>& lines, CTextMeasure& rMeasure);
// Empties a list and its scrolling extent.
void ClearLines(CListBox& rList);
