// The missed-calls dialog: the calls newest first, with "かけ直す" (call the selected caller
// back) and "消去" (clear the list).
#pragma once

#include "app/MissedCalls.h"
#include "ui/RoundButton.h"
#include "ui/ShapedDialog.h"

class CMissedCallsDlg : public CShapedDialog {
public:
    // bCanCall: whether a call can be placed now (no call stands); "かけ直す" is off otherwise.
    CMissedCallsDlg(CMissedCalls& rCalls, bool bCanCall, CWnd* pParent = NULL);

    CString m_strCallBack; // after IDOK: the address to call back
    bool m_bCleared = false;

    // One line of the list: time, caller, address and kind, apart by tabs.
    static CString RowText(const CMissedCall& call);

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    BOOL OnInitDialog() override;
    // Enter calls the selected caller back, as "かけ直す" does.
    void OnOK() override;
    afx_msg void OnCallBack();
    afx_msg void OnClear();
    afx_msg void OnDestroy();
    DECLARE_MESSAGE_MAP()

    void OnScaleChanged() override;
    void EnableButtons();
    void SetTabStops();

    CMissedCalls& m_rCalls;
    bool m_bCanCall;
    // The addresses of the lines as shown: a caller turned away while the dialog is open
    // joins the list behind it without shifting what the lines stand for.
    std::vector<CString> m_addresses;
    CListBox m_lstCalls;
    CRoundButton m_btnCallBack;
    CRoundButton m_btnClear;
    CRoundButton m_btnClose;
    CBrush m_brushMedium;
    CBrush m_brushLight;
    CBrush m_brushDark;
};
