// "Nearby": the partners found on the local network, listed at the end of the phonebook's combo
// box, and this PC announced under the user's own name when the user turns it on. The Windows
// side of CNearbyCore: the multicast DNS sockets, the timer, and the text in the ANSI code page.
#pragma once

#include "phonebook/NearbyCore.h"
#include "phonebook/NearbyLabel.h"
#include "platform/afxsock.h"

#include <functional>
#include <memory>

class CNearby {
public:
    CNearby();
    ~CNearby();
    CNearby(const CNearby&) = delete;
    CNearby& operator=(const CNearby&) = delete;

    // [Nearby] Announce=1 turns announcing on; Browse=0 keeps the program off multicast DNS.
    void LoadSetting(const CString& strIniPath);
    void SaveSetting(const CString& strIniPath) const;

    // Starts looking (and announcing when the setting says so) for the window's combo box;
    // *pnSel is the window's idea of the selected item, kept in step when items move.
    void Start(CComboBox& rCombo, int* pnSel, const CString& strMyName, UINT nPort);
    // The goodbye when announcing; sockets closed. Nothing is shown or sent afterwards.
    void Stop();

    bool Announce() const { return m_bAnnounce; }
    // Turns announcing on (under this name) or off (with the goodbye at once).
    void SetAnnounce(bool bOn, const CString& strMyName);

    // This install's identity fingerprint (64 lowercase hex digits), announced as "fp"; empty:
    // none.
    void SetFingerprint(const std::string& strFingerprint);
    // Decides each item's mark from its shown name and the peer's fingerprint (empty when it
    // sent none); without one every item is plain.
    typedef std::function<NearbyMark(const CString& strName, const std::string& strFingerprint)> Classifier;
    void SetClassifier(Classifier classifier);
    // The verified contacts changed: every item's mark is decided again.
    void Relabel();

    // Whether a combo index is a nearby peer, and its name, address (IPv4 first) and port.
    bool IsNearby(int nIndex) const;
    bool PeerAt(int nIndex, CString& rName, CString& rAddress, CString& rPort) const;
    // Adds a stored entry's name to the combo, before the nearby ones.
    void InsertStored(CComboBox& rCombo, const CString& strName);
    // Drops an item kept only because it was chosen when its peer left, now it is not chosen.
    void DropLeft();
    // The user chose the item: a mark saying its address or port changed goes.
    void Chosen(int nIndex);

    // For the Windows tests: shows these peers as if they had been found.
    void ShowFound(const std::vector<NearbyPeer>& peers);

private:
    struct Shown {
        std::string label;
        CString strName, strAddress, strPort, strItem;
        bool bLeft = false;
        bool bMoved = false;
    };
    static LRESULT CALLBACK WndProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);
    bool OpenSockets();
    void CloseSockets();
    void OnReadable(SOCKET s);
    void Flush();
    void SendOne(const NearbySend& send);
    void ShowPeers(const std::vector<NearbyPeer>& peers);
    CString ItemText(const Shown& shown, const std::string& fingerprint) const;
    CString ShownName(const std::string& utf8) const;
    void SetItem(int nShown, const CString& strItem);
    void RemoveItem(int nShown);
    int FirstIndex() const;

    std::unique_ptr<CNearbyCore> m_pCore;
    HWND m_hWnd = NULL;
    SOCKET m_sock4 = INVALID_SOCKET, m_sock6 = INVALID_SOCKET;
    std::vector<NearbyInterface> m_interfaces;
    CComboBox* m_pCombo = nullptr;
    int* m_pnSel = nullptr;
    std::vector<Shown> m_shown;
    UINT m_nPort = 0;
    bool m_bAnnounce = false;
    bool m_bBrowse = true;
    std::string m_strFingerprint;
    Classifier m_classifier;
};
