// A clickable text (a static with SS_NOTIFY) that the keyboard reaches as well: with the
// focus it shows a dotted rectangle round its text, and Enter or the space bar opens it as a
// click does, by STN_CLICKED to its dialog.
#pragma once

#include "platform/afxwin.h"

class CLinkStatic : public CStatic {
protected:
    afx_msg LRESULT OnGetDlgCode(WPARAM wParam, LPARAM lParam);
    afx_msg LRESULT OnKeyDown(WPARAM wParam, LPARAM lParam);
    afx_msg LRESULT OnFocusChanged(WPARAM wParam, LPARAM lParam);
    afx_msg void OnPaint();
    DECLARE_MESSAGE_MAP()
};
