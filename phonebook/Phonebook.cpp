// The phonebook: named (address, port) entries chosen from the combo box, registered and
// deleted. Changes stay in memory; the settings file takes them when the window closes.
#include "phonebook/NameDlg.h"
#include "app/PhoneDlg.h"

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
        m_stcPartnerName.SetWindowText(strName);
        m_edtAddress.SetWindowText(strAddress);
        m_edtPort.SetWindowText(strPort);
        return;
    }
    POSITION posName = m_listNames.FindIndex(m_nBookSel - 1);
    POSITION posIP = m_listAddresses.FindIndex(m_nBookSel - 1);
    POSITION posPort = m_listPorts.FindIndex(m_nBookSel - 1);
    if (!posName || !posIP || !posPort) return;
    m_stcPartnerName.SetWindowText(m_listNames.GetAt(posName));
    m_edtAddress.SetWindowText(m_listAddresses.GetAt(posIP));
    m_edtPort.SetWindowText(m_listPorts.GetAt(posPort));
}

void CPhoneDlg::OnRegister()
{
    CString strName = m_strPartnerName;
    CString strAddress, strPort;
    m_edtAddress.GetWindowText(strAddress);
    m_edtPort.GetWindowText(strPort);
    if (strAddress.IsEmpty() || strPort.IsEmpty()) return;

    // A nearby partner is stored under the name it announced.
    CString strUnused;
    if (strName.IsEmpty()) m_nearby.PeerAt(m_nBookSel, strName, strUnused, strUnused);
    if (strName.IsEmpty()) {
        CNameDlg dlg;
        if (dlg.DoModal() != IDOK) return;
        strName = dlg.m_strName;
    }

    // The same name (byte for byte) updates that entry in place.
    POSITION posName = m_listNames.GetHeadPosition();
    POSITION posIP = m_listAddresses.GetHeadPosition();
    POSITION posPort = m_listPorts.GetHeadPosition();
    while (posName && posIP && posPort) {
        if (m_listNames.GetAt(posName) == strName) {
            m_listAddresses.SetAt(posIP, strAddress);
            m_listPorts.SetAt(posPort, strPort);
            return;
        }
        m_listNames.GetNext(posName);
        m_listAddresses.GetNext(posIP);
        m_listPorts.GetNext(posPort);
    }
    m_listNames.AddTail(strName);
    m_listAddresses.AddTail(strAddress);
    m_listPorts.AddTail(strPort);
    m_nearby.InsertStored(m_cmbPhonebook, strName);
}

void CPhoneDlg::OnNearbyAnnounce()
{
    CString strMyName;
    m_edtMyName.GetWindowText(strMyName);
    m_nearby.SetAnnounce(!m_nearby.Announce(), strMyName);
}

void CPhoneDlg::OnDelete()
{
    if (m_nBookSel == 0 || m_nearby.IsNearby(m_nBookSel)) return;
    POSITION posName = m_listNames.FindIndex(m_nBookSel - 1);
    POSITION posIP = m_listAddresses.FindIndex(m_nBookSel - 1);
    POSITION posPort = m_listPorts.FindIndex(m_nBookSel - 1);
    if (!posName || !posIP || !posPort) return;
    m_listNames.RemoveAt(posName);
    m_listAddresses.RemoveAt(posIP);
    m_listPorts.RemoveAt(posPort);
    m_cmbPhonebook.DeleteString((UINT)m_nBookSel);

    if (m_cmbPhonebook.SetCurSel(m_nBookSel) == CB_ERR) {
        --m_nBookSel;
        m_cmbPhonebook.SetCurSel(m_nBookSel);
    }
    // What the window shows follows the new selection: the next (or previous) entry, or the
    // manual values when none is left. m_nBookSel already names it, so nothing is saved again.
    OnSelchangePhonebook();
}
