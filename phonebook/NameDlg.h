// Small dialog that asks for the name of a phonebook entry.
#pragma once

#include "ui/RoundButton.h"
#include "ui/ShapedDialog.h"

class CNameDlg : public CShapedDialog {
public:
    explicit CNameDlg(CWnd* pParent = NULL);

    CString m_strName; // the name typed, after IDOK

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    BOOL OnInitDialog() override;
    afx_msg void OnDestroy();
    DECLARE_MESSAGE_MAP()

    CRoundButton m_btnCancel;
    CRoundButton m_btnOK;
    CBrush m_brushMedium;
    CBrush m_brushLight;
    CBrush m_brushDark;
};
