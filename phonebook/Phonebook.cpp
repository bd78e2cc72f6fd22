// The phonebook: named (address, port) entries chosen from the combo box, registered and
// deleted. Changes stay in memory; the settings file takes them when the window closes.
#include "phonebook/NameDlg.h"
#include "app/PhoneDlg.h"

#include <cstdlib>

void CPhoneDlg::OnSelchangePhonebook()
{
    m_nearby.DropLeft();
    const int nOld = m_nBookSel;
    m_nBookSel = m_cmbPhonebook.GetCurSel();
    if (m_nBookSel == CB_ERR) m_nBookSel = 0;

    if (m_nBookSel == 0) {
        // Manual entry: the saved manual address and port come back.
        m_edtAddress.EnableWindow(TRUE);
        m_edtPort.EnableWindow(TRUE);
        m_stcPartnerName.SetWindowText("");
        m_edtAddress.SetWindowText(m_strAddress);
        m_edtPort.SetWindowText(m_strPort);
        return;
    }
    if (nOld == 0) {
        m_edtAddress.GetWindowText(m_strAddress);
        m_edtPort.GetWindowText(m_strPort);
    }
    m_edtAddress.EnableWindow(FALSE);
    m_edtPort.EnableWindow(FALSE);
    CString strName, strAddress, strPort;
    if (m_nearby.PeerAt(m_nBookSel, strName, strAddress, strPort)) {
        m_nearby.Chosen(m_nBookSel);
        m_stcPartnerName.SetWindowText(strName);
        m_edtAddress.SetWindowText(strAddress);
        m_edtPort.SetWindowText(strPort);
        return;
    }
    const CPhonebookEntry* pEntry = m_book.At(m_nBookSel - 1);
    if (!pEntry) return;
    m_stcPartnerName.SetWindowText(pEntry->strName);
    m_edtAddress.SetWindowText(pEntry->strAddress);
    m_edtPort.SetWindowText(pEntry->strPort);
}

void CPhoneDlg::OnRegister()
{
    CString strName = m_strPartnerName;
    CString strAddress, strPort;
    m_edtAddress.GetWindowText(strAddress);
    m_edtPort.GetWindowText(strPort);
    if (strAddress.IsEmpty() || strPort.IsEmpty()) return;

    // A nearby partner is stored under the name it announced. Anyone on the network can claim
    // a name, so one already stored is never replaced without asking.
    CString strUnused;
    if (strName.IsEmpty() && m_nearby.PeerAt(m_nBookSel, strName, strUnused, strUnused)) {
        if (!AskNearbyName(strName, strAddress, strPort)) return;
    }
    if (strName.IsEmpty()) {
        CNameDlg dlg;
        if (dlg.DoModal() != IDOK) return;
        strName = dlg.m_strName;
    }

    // The same name (byte for byte) updates that entry in place.
    if (m_book.Register({ strName, strAddress, strPort })) m_nearby.InsertStored(m_cmbPhonebook, strName);
}

bool CPhoneDlg::AskNearbyName(CString& rName, const CString& strAddress, const CString& strPort)
{
    const std::vector<CPhonebookEntry>& entries = m_book.All();
    auto taken = [&](const CString& strName) {
        for (const CPhonebookEntry& e : entries)
            if (e.strName == strName) return &e;
        return (const CPhonebookEntry*)nullptr;
    };
    const CPhonebookEntry* pStored = taken(rName);
    if (!pStored || (pStored->strAddress == strAddress && pStored->strPort == strPort)) return true;
    CString strOther;
    for (int n = 2; n < 1000 && (strOther.IsEmpty() || taken(strOther)); ++n)
        strOther.Format("%s (%d)", (const char*)rName, n);
    CString strText;
    strText.Format("「%s」は電話帳に登録済みです (%s : %s)。\n"
                   "近くの一覧の名前は、ネットワーク上のだれでも名乗れます。\n\n"
                   "はい: 登録済みの宛先を %s : %s に置き換えます\n"
                   "いいえ: 「%s」として両方を残します\n"
                   "キャンセル: 何も変えません",
        (const char*)rName, (const char*)pStored->strAddress, (const char*)pStored->strPort,
        (const char*)strAddress, (const char*)strPort, (const char*)strOther);
    switch (AfxMessageBox(strText, MB_YESNOCANCEL | MB_ICONQUESTION | MB_DEFBUTTON3)) {
    case IDYES:
        return true;
    case IDNO:
        rName = strOther;
        return true;
    default:
        return false;
    }
}

void CPhoneDlg::OnDelete()
{
    if (m_nBookSel == 0 || m_nearby.IsNearby(m_nBookSel)) return;
    if (!m_book.RemoveAt(m_nBookSel - 1)) return;
    m_cmbPhonebook.DeleteString((UINT)m_nBookSel);

    if (m_cmbPhonebook.SetCurSel(m_nBookSel) == CB_ERR) {
        --m_nBookSel;
        m_cmbPhonebook.SetCurSel(m_nBookSel);
    }
    // What the window shows follows the new selection: the next (or previous) entry, or the
    // manual values when none is left. m_nBookSel already names it, so nothing is saved again.
    OnSelchangePhonebook();
}

void CPhoneDlg::StartNearby()
{
    m_nearby.SetFingerprint(m_trust.Identity().Fingerprint());
    // Only a verified contact's fingerprint makes an item look verified; its name with another
    // fingerprint is marked as another key.
    m_nearby.SetClassifier([this](const CString& strName, const std::string& strFingerprint) {
        switch (m_trust.Contacts().Classify(strFingerprint, strName)) {
        case CVerifiedContacts::Trust::Verified:
            return NearbyMark::Verified;
        case CVerifiedContacts::Trust::OtherKey:
            return NearbyMark::OtherKey;
        default:
            return NearbyMark::Plain;
        }
    });
    // The port really listened on: the system's choice when the settings say "0".
    const UINT nListening = m_calls.ListeningPort();
    m_nearby.Start(
        m_cmbPhonebook, &m_nBookSel, m_strMyName, nListening ? nListening : (UINT)std::atoi(m_strPort));
}
