// The verified contacts: when each was verified, its name, where it was reached and the start of
// its fingerprint, with "確認を取り消す" to take a verification back (asked first).
#pragma once

#include "app/Trust.h"
#include "ui/RoundButton.h"
#include "ui/ShapedDialog.h"

class CVerifiedDlg : public CShapedDialog {
public:
    explicit CVerifiedDlg(CTrust& rTrust, CWnd* pParent = NULL);

    // One line of the list: date, name, address and port, fingerprint's first 16 characters.
    static CString RowText(const CVerifiedContact& contact);

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    BOOL OnInitDialog() override;
    void OnOK() override { }
    afx_msg void OnUnverify();
    afx_msg void OnDestroy();
    DECLARE_MESSAGE_MAP()

    void OnScaleChanged() override;
    void Fill();
    void SetTabStops();

    CTrust& m_rTrust;
    std::vector<std::string> m_fingerprints; // of the lines as shown
    CListBox m_lstContacts;
    CRoundButton m_btnUnverify;
    CRoundButton m_btnClose;
    CBrush m_brushMedium;
    CBrush m_brushLight;
    CBrush m_brushDark;
};
