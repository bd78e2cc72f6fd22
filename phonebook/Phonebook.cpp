// The phonebook: named (address, port) entries chosen from the combo box, registered and
// deleted. Changes stay in memory; the settings file takes them when the window closes.
#include "phonebook/NameDlg.h"
#include "app/PhoneDlg.h"

void CPhoneDlg::OnSelchangePhonebook()
{
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

    if (strName.IsEmpty()) {
        CNameDlg dlg;
        if (dlg.DoModal() != IDOK) return;
        strName = dlg.m_strName;
    }

    // The same name (byte for byte) updates that entry in place.
    if (m_book.Register({ strName, strAddress, strPort })) m_cmbPhonebook.AddString(strName);
}

void CPhoneDlg::OnDelete()
{
    if (m_nBookSel == 0) return;
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
