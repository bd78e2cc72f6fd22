// The version box: name and version, links to the home page and mail, and the two documents.
#pragma once

#include "ui/LinkStatic.h"
#include "ui/RoundButton.h"
#include "ui/ShapedDialog.h"

class CAboutDlg : public CShapedDialog {
public:
    CAboutDlg();
    ~CAboutDlg() override;

    static const char kHomePageUrl[];
    static const char kMailUrl[];

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    BOOL OnInitDialog() override;
    afx_msg void OnHistory();
    afx_msg void OnReadme();
    afx_msg void OnMail();
    afx_msg void OnHomePage();
    afx_msg void OnDestroy();
    DECLARE_MESSAGE_MAP()

    void OpenDocument(CString strTarget);
    // The application icon in the size of the box's scale, after a move to another one.
    void OnScaleChanged() override;

    CRoundButton m_btnOK;
    CRoundButton m_btnHistory;
    CRoundButton m_btnReadme;
    CLinkStatic m_stcHomePage; // tab stops that open their link with Enter or the space bar
    CLinkStatic m_stcMail;
    HICON m_hIcon = NULL; // the icon loaded for another scale than the box's first
    CBrush m_brushMedium;
    CBrush m_brushLight;
    CBrush m_brushDark;
};
