// The answering machine's messages: the list newest first (unread mark, time, name, address,
// encryption and the number of lines), the selected message's lines below, "かけ直す" (call the
// caller back) and "削除" (delete the selected message). Selecting a message marks it read.
#pragma once

#include "app/MessageStore.h"
#include "ui/RoundButton.h"
#include "ui/ShapedDialog.h"

class CMessagesDlg : public CShapedDialog {
public:
    // bCanCall: whether a call can be placed now (no call stands); "かけ直す" is off otherwise.
    CMessagesDlg(CMessageStore& rStore, bool bCanCall, CWnd* pParent = NULL);

    CString m_strCallBack; // after IDOK: the address to call back
    bool m_bChanged = false; // a message was read or deleted
    BOOL m_bWriteFailed = FALSE; // and the file could not be written (the last-error value says why)

    // One line of the list, apart by tabs: "●" for unread, time, caller, address, encryption,
    // lines.
    static CString RowText(const CStoredMessage& message);

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    BOOL OnInitDialog() override;
    // Enter calls the selected caller back, as "かけ直す" does.
    void OnOK() override;
    afx_msg void OnSelChange();
    afx_msg void OnCallBack();
    afx_msg void OnDeleteMessage();
    afx_msg void OnDestroy();
    DECLARE_MESSAGE_MAP()

    void OnScaleChanged() override;
    void FillList(int nSel);
    void ShowSelected();
    void EnableButtons();
    void SetTabStops();
    void Wrote(BOOL bOk);

    // The store's index of a row: messages taken while the dialog is open come before the rows.
    int Stored(int nRow) const { return nRow + m_rStore.GetCount() - m_nShown; }

    CMessageStore& m_rStore;
    int m_nShown = 0; // messages in the store when the list was filled
    bool m_bCanCall;
    CListBox m_lstMessages;
    CListBox m_lstLines;
    CStatic m_stcNote;
    CRoundButton m_btnCallBack;
    CRoundButton m_btnDelete;
    CRoundButton m_btnClose;
    CBrush m_brushMedium;
    CBrush m_brushLight;
    CBrush m_brushDark;
};
