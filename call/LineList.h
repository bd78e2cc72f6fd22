// The send and receive lists: lines appended with the scrolling extent kept wide enough for the
// longest, the newest scrolled into view, and only the newest lines kept.
#pragma once

#include "platform/afxwin.h"

#include <cstdint>
#include <deque>
#include <vector>

// A list keeps this many of its newest lines. The older ones leave the top together, as many as
// an addition brings (a receive turn brings up to a few thousand during a flood).
inline constexpr int kListKeep = 10000;

// Measures text in a list's font on a memory device context made once: asking the window for
// its device context for every line costs more than listing the line. It also remembers, for
// each list it measures for, which listed lines are the widest, so that the extent can shrink
// when lines leave without measuring the rest again.
class CTextMeasure {
public:
    CTextMeasure() = default;
    ~CTextMeasure();
    CTextMeasure(const CTextMeasure&) = delete;
    CTextMeasure& operator=(const CTextMeasure&) = delete;

    // Width in pixels of the text in the list's font; 0 where it cannot be measured.
    int Width(const CListBox& rList, const CString& strText);

private:
    friend int AddLines(CListBox&, const std::vector<CString>&, CTextMeasure&);

    // The widths of one list's lines, oldest first, reduced to those that are wider than every
    // line after them: the first is the widest line listed. Each line is counted by its serial
    // number, which grows by one for every line added.
    struct ListWidths {
        HWND hWnd = NULL;
        int64_t nFirst = 0; // serial number of the list's top line
        int64_t nNext = 0; // serial number of the next line added
        std::deque<std::pair<int64_t, int>> widest; // serial number, width

        int Count() const { return (int)(nNext - nFirst); }
        void Push(int nWidth);
        void DropOldest(int nLines);
        int Widest() const { return widest.empty() ? 0 : widest.front().second; }
    };
    // The widths kept for a list, measured again from its items when the list was changed
    // other than by AddLines (emptied, or a new window).
    ListWidths& WidthsOf(CListBox& rList);

    HDC m_hdc = NULL;
    HGDIOBJ m_hFont = NULL; // the font selected into m_hdc
    HGDIOBJ m_hOldFont = NULL;
    std::vector<ListWidths> m_lists;
};

// Appends lines to a list and makes the newest the top one; the scrolling extent follows the
// longest line listed, so the horizontal scroll bar reaches its end. The list is redrawn once
// for all the lines, a batch of them at once. The list keeps its newest kListKeep lines; older
// ones leave before the new ones come. Returns the index of the last line, or -1.
int AddLines(CListBox& rList, const std::vector<CString>& lines, CTextMeasure& rMeasure);
// Empties a list and its scrolling extent.
void ClearLines(CListBox& rList);
