// The Windows side of finding partners nearby: one UDP socket per family on port 5353, shared
// with the system's own responder, joined to the multicast DNS group on every interface that is
// up and can multicast (loopback only where it is the only one). Socket events and the one
// timer for the core's next deadline come to a message-only window of its own, so nothing
// runs between them.
#include "phonebook/Nearby.h"

#include <iphlpapi.h>

#include <cstring>
#include <random>

namespace {

const UINT WM_NEARBY_SOCKET = WM_APP + 40;
const UINT_PTR kTimerId = 1;
const char kWindowClass[] = "KelvaroNearby";
const char kSection[] = "Nearby";
const u_short kPort = 5353;
const int kReadsPerEvent = 32; // a flood cannot hold the window: the rest comes with the next event

uint64_t Now() { return ::GetTickCount64(); }

// ANSI (the system's code page) to UTF-8, as DNS-SD names are sent, and back; what the code page
// cannot show becomes its default character.
std::string Convert(const char* psz, int nLength, UINT nFrom, UINT nTo)
{
    const int nWide = ::MultiByteToWideChar(nFrom, 0, psz, nLength, NULL, 0);
    if (nWide <= 0) return std::string();
    std::wstring wide((size_t)nWide, L'\0');
    ::MultiByteToWideChar(nFrom, 0, psz, nLength, &wide[0], nWide);
    const int nOut = ::WideCharToMultiByte(nTo, 0, wide.data(), nWide, NULL, 0, NULL, NULL);
    if (nOut <= 0) return std::string();
    std::string out((size_t)nOut, '\0');
    ::WideCharToMultiByte(nTo, 0, wide.data(), nWide, &out[0], nOut, NULL, NULL);
    return out;
}

std::string ToUtf8(const CString& s) { return Convert(s, s.GetLength(), CP_ACP, CP_UTF8); }

CString FromUtf8(const std::string& s)
{
    return CString(Convert(s.data(), (int)s.size(), CP_UTF8, CP_ACP).c_str());
}

// This PC's name as a host label: the letters, digits and hyphens of the computer name; when
// others were left out (a name in kana or kanji), a hash of the whole name keeps it apart from
// other PCs. The host name is probed as well, and numbered when it is taken all the same.
std::string HostLabel()
{
    wchar_t sz[MAX_COMPUTERNAME_LENGTH + 1] = L"";
    DWORD n = MAX_COMPUTERNAME_LENGTH + 1;
    std::string label;
    uint32_t hash = 2166136261u;
    bool bDropped = false;
    if (::GetComputerNameW(sz, &n))
        for (DWORD i = 0; i < n; ++i) {
            hash = (hash ^ (uint32_t)sz[i]) * 16777619u;
            const bool bKept = sz[i] < 0x80 && (isalnum((int)sz[i]) || sz[i] == L'-') && label.size() < 30;
            if (bKept) label += (char)sz[i];
            bDropped = bDropped || !bKept;
        }
    if (bDropped || label.empty()) {
        char hex[12];
        std::snprintf(hex, sizeof hex, "%s%08x", label.empty() ? "" : "-", (unsigned)hash);
        label += hex;
    }
    return label + "-kelvaro";
}

std::string RawAddress(const SOCKADDR* pAddr)
{
    if (pAddr->sa_family == AF_INET)
        return std::string(reinterpret_cast<const char*>(&((const SOCKADDR_IN*)pAddr)->sin_addr), 4);
    if (pAddr->sa_family == AF_INET6)
        return std::string(reinterpret_cast<const char*>(&((const SOCKADDR_IN6*)pAddr)->sin6_addr), 16);
    return std::string();
}

CString AddressText(const std::string& raw)
{
    char sz[INET6_ADDRSTRLEN] = "";
    if (!::inet_ntop(raw.size() == 4 ? AF_INET : AF_INET6, raw.data(), sz, sizeof sz)) return CString();
    return CString(sz);
}

// The interfaces that are up and can multicast, with their addresses; loopback only when there
// is no other.
std::vector<NearbyInterface> FindInterfaces()
{
    ULONG nSize = 16 * 1024;
    std::vector<char> buffer;
    ULONG rc = ERROR_BUFFER_OVERFLOW;
    for (int tries = 0; tries < 3 && rc == ERROR_BUFFER_OVERFLOW; ++tries) {
        buffer.resize(nSize);
        rc = ::GetAdaptersAddresses(AF_UNSPEC,
            GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER, NULL,
            (IP_ADAPTER_ADDRESSES*)buffer.data(), &nSize);
    }
    std::vector<NearbyInterface> found, loopback;
    for (auto* p = rc == NO_ERROR ? (IP_ADAPTER_ADDRESSES*)buffer.data() : nullptr; p; p = p->Next) {
        if (p->OperStatus != IfOperStatusUp || (p->Flags & IP_ADAPTER_NO_MULTICAST)) continue;
        NearbyInterface iface;
        iface.id = (int)(p->IfIndex ? p->IfIndex : p->Ipv6IfIndex);
        for (auto* a = p->FirstUnicastAddress; a; a = a->Next) {
            const std::string raw = RawAddress(a->Address.lpSockaddr);
            if (raw.size() == 4 && iface.v4.empty()) iface.v4 = raw;
            if (raw.size() == 16 && iface.v6.size() < 4) iface.v6.push_back(raw);
        }
        if (iface.v4.empty() && iface.v6.empty()) continue;
        (p->IfType == IF_TYPE_SOFTWARE_LOOPBACK ? loopback : found).push_back(iface);
    }
    return found.empty() ? loopback : found;
}

SOCKET OpenSocket(int family)
{
    SOCKET s = ::socket(family, SOCK_DGRAM, IPPROTO_UDP);
    if (s == INVALID_SOCKET) return s;
    // Shared with the system's responder and with other copies on this PC.
    BOOL bOn = TRUE;
    DWORD dwOn = 1, dwHops = 255;
    ::setsockopt(s, SOL_SOCKET, SO_REUSEADDR, (const char*)&bOn, sizeof bOn);
    SOCKADDR_STORAGE addr = {};
    int nLen;
    if (family == AF_INET) {
        auto* p = (SOCKADDR_IN*)&addr;
        p->sin_family = AF_INET;
        p->sin_port = ::htons(kPort);
        nLen = sizeof(SOCKADDR_IN);
        ::setsockopt(s, IPPROTO_IP, IP_MULTICAST_TTL, (const char*)&dwHops, sizeof dwHops);
        ::setsockopt(s, IPPROTO_IP, IP_MULTICAST_LOOP, (const char*)&dwOn, sizeof dwOn);
    } else {
        auto* p = (SOCKADDR_IN6*)&addr;
        p->sin6_family = AF_INET6;
        p->sin6_port = ::htons(kPort);
        nLen = sizeof(SOCKADDR_IN6);
        ::setsockopt(s, IPPROTO_IPV6, IPV6_V6ONLY, (const char*)&dwOn, sizeof dwOn);
        ::setsockopt(s, IPPROTO_IPV6, IPV6_MULTICAST_HOPS, (const char*)&dwHops, sizeof dwHops);
        ::setsockopt(s, IPPROTO_IPV6, IPV6_MULTICAST_LOOP, (const char*)&dwOn, sizeof dwOn);
    }
    if (::bind(s, (SOCKADDR*)&addr, nLen) != 0) {
        ::closesocket(s);
        return INVALID_SOCKET;
    }
    return s;
}

// Joins the group on the interface; false when the interface cannot have it.
bool Join(SOCKET s, const NearbyInterface& iface, int family)
{
    if (family == 4) {
        ip_mreq m = {};
        m.imr_multiaddr.s_addr = ::htonl(0xE00000FB); // 224.0.0.251
        std::memcpy(&m.imr_interface, iface.v4.data(), 4);
        return ::setsockopt(s, IPPROTO_IP, IP_ADD_MEMBERSHIP, (const char*)&m, sizeof m) == 0;
    }
    ipv6_mreq m = {};
    m.ipv6mr_multiaddr.s6_addr[0] = 0xFF;
    m.ipv6mr_multiaddr.s6_addr[1] = 0x02;
    m.ipv6mr_multiaddr.s6_addr[15] = 0xFB; // ff02::fb
    m.ipv6mr_interface = (ULONG)iface.id;
    return ::setsockopt(s, IPPROTO_IPV6, IPV6_ADD_MEMBERSHIP, (const char*)&m, sizeof m) == 0;
}

} // namespace

CNearby::CNearby() { }

CNearby::~CNearby() { Stop(); }

void CNearby::LoadSetting(const CString& strIniPath)
{
    m_bAnnounce = ::GetPrivateProfileIntA(kSection, "Announce", 0, strIniPath) != 0;
    m_bBrowse = ::GetPrivateProfileIntA(kSection, "Browse", 1, strIniPath) != 0;
}

void CNearby::SaveSetting(const CString& strIniPath) const
{
    // Off, the default, is written only over a key that is there already.
    char sz[4] = "";
    if (m_bAnnounce || ::GetPrivateProfileStringA(kSection, "Announce", "", sz, sizeof sz, strIniPath) > 0)
        ::WritePrivateProfileStringA(kSection, "Announce", m_bAnnounce ? "1" : "0", strIniPath);
}

LRESULT CALLBACK CNearby::WndProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* pThis = (CNearby*)::GetWindowLongPtrA(hWnd, GWLP_USERDATA);
    if (pThis && pThis->m_pCore && message == WM_NEARBY_SOCKET) {
        if (WSAGETSELECTEVENT(lParam) == FD_READ) pThis->OnReadable((SOCKET)wParam);
        return 0;
    }
    if (pThis && pThis->m_pCore && message == WM_TIMER && wParam == kTimerId) {
        ::KillTimer(hWnd, kTimerId);
        pThis->m_pCore->OnTimer(Now());
        pThis->Flush();
        return 0;
    }
    return ::DefWindowProcA(hWnd, message, wParam, lParam);
}

bool CNearby::OpenSockets()
{
    m_interfaces = FindInterfaces();
    for (int family : { 4, 6 }) {
        SOCKET& s = family == 4 ? m_sock4 : m_sock6;
        s = OpenSocket(family == 4 ? AF_INET : AF_INET6);
        bool bJoined = false;
        for (NearbyInterface& iface : m_interfaces) {
            const bool bHas = family == 4 ? !iface.v4.empty() : !iface.v6.empty();
            if (!bHas) continue;
            // An interface that cannot join this family's group is not announced on it.
            if (s != INVALID_SOCKET && Join(s, iface, family))
                bJoined = true;
            else if (family == 4)
                iface.v4.clear();
            else
                iface.v6.clear();
        }
        if (s != INVALID_SOCKET &&
            (!bJoined || ::WSAAsyncSelect(s, m_hWnd, WM_NEARBY_SOCKET, FD_READ) != 0)) {
            ::closesocket(s);
            s = INVALID_SOCKET;
        }
    }
    return m_sock4 != INVALID_SOCKET || m_sock6 != INVALID_SOCKET;
}

void CNearby::CloseSockets()
{
    for (SOCKET* p : { &m_sock4, &m_sock6 }) {
        if (*p != INVALID_SOCKET) ::closesocket(*p);
        *p = INVALID_SOCKET;
    }
}

void CNearby::Start(CComboBox& rCombo, int* pnSel, const CString& strMyName, UINT nPort)
{
    m_pCombo = &rCombo;
    m_pnSel = pnSel;
    m_nPort = nPort;
    if (m_pCore || !m_bBrowse) return;
    WNDCLASSA wc = {};
    wc.lpfnWndProc = WndProc;
    wc.hInstance = ::GetModuleHandleA(NULL);
    wc.lpszClassName = kWindowClass;
    ::RegisterClassA(&wc); // fails harmlessly when a second window registered it already
    m_hWnd = ::CreateWindowExA(0, kWindowClass, "", 0, 0, 0, 0, 0, HWND_MESSAGE, NULL, wc.hInstance, NULL);
    if (!m_hWnd) return;
    ::SetWindowLongPtrA(m_hWnd, GWLP_USERDATA, (LONG_PTR)this);
    // No interface that can multicast: nobody is found, and nothing is said about it.
    if (!OpenSockets()) return;
    m_pCore.reset(new CNearbyCore(HostLabel()));
    m_pCore->SetInterfaces(m_interfaces);
    LARGE_INTEGER counter = {};
    ::QueryPerformanceCounter(&counter);
    auto random = std::make_shared<std::minstd_rand>(
        (unsigned)(counter.QuadPart ^ ::GetCurrentProcessId() ^ (::GetTickCount64() << 7)));
    m_pCore->SetRandom([random] { return (uint32_t)(*random)(); });
    const uint64_t now = Now();
    m_pCore->SetFingerprint(m_strFingerprint, now);
    m_pCore->SetService(ToUtf8(strMyName), (uint16_t)nPort, now);
    m_pCore->Start(now);
    m_pCore->SetAnnounce(m_bAnnounce, now);
    Flush();
}

void CNearby::Stop()
{
    if (m_pCore) {
        m_pCore->Stop();
        Flush();
    }
    m_pCore.reset();
    CloseSockets();
    if (m_hWnd) ::DestroyWindow(m_hWnd);
    m_hWnd = NULL;
    m_pCombo = nullptr;
}

void CNearby::SetAnnounce(bool bOn, const CString& strMyName)
{
    m_bAnnounce = bOn;
    if (!m_pCore) return;
    const uint64_t now = Now();
    if (bOn) m_pCore->SetService(ToUtf8(strMyName), (uint16_t)m_nPort, now);
    m_pCore->SetAnnounce(bOn, now);
    Flush();
}

void CNearby::SetFingerprint(const std::string& strFingerprint)
{
    m_strFingerprint = strFingerprint;
    if (!m_pCore) return;
    m_pCore->SetFingerprint(strFingerprint, Now());
    Flush();
}

void CNearby::SetClassifier(Classifier classifier)
{
    m_classifier = std::move(classifier);
    Relabel();
}

void CNearby::Relabel()
{
    if (m_pCore) ShowPeers(m_pCore->Peers());
}

void CNearby::OnReadable(SOCKET s)
{
    if (s != m_sock4 && s != m_sock6) return; // a socket closed meanwhile
    static char buffer[kDnsMaxPacket];
    for (int i = 0; i < kReadsPerEvent; ++i) {
        SOCKADDR_STORAGE from = {};
        int nFrom = sizeof from;
        const int n = ::recvfrom(s, buffer, sizeof buffer, 0, (SOCKADDR*)&from, &nFrom);
        if (n == SOCKET_ERROR && ::WSAGetLastError() == WSAEMSGSIZE) continue;
        if (n == SOCKET_ERROR) break;
        const u_short port = ::ntohs(((SOCKADDR_IN*)&from)->sin_port); // same place in both families
        m_pCore->OnPacket((const uint8_t*)buffer, (size_t)n, -1, RawAddress((SOCKADDR*)&from), port, Now());
    }
    Flush();
}

// One packet: to the group on the interface it is for, or to the one address it answers.
void CNearby::SendOne(const NearbySend& send)
{
    const SOCKET s = send.family == 4 ? m_sock4 : m_sock6;
    if (s == INVALID_SOCKET) return;
    SOCKADDR_STORAGE to = {};
    int nTo;
    if (send.family == 4) {
        auto* p = (SOCKADDR_IN*)&to;
        p->sin_family = AF_INET;
        p->sin_port = ::htons(send.port);
        p->sin_addr.s_addr = ::htonl(0xE00000FB);
        if (send.address.size() == 4) std::memcpy(&p->sin_addr, send.address.data(), 4);
        nTo = sizeof *p;
        for (const NearbyInterface& iface : m_interfaces)
            if (iface.id == send.iface && !iface.v4.empty() && send.address.empty())
                ::setsockopt(s, IPPROTO_IP, IP_MULTICAST_IF, iface.v4.data(), 4);
    } else {
        auto* p = (SOCKADDR_IN6*)&to;
        p->sin6_family = AF_INET6;
        p->sin6_port = ::htons(send.port);
        p->sin6_addr.s6_addr[0] = 0xFF;
        p->sin6_addr.s6_addr[1] = 0x02;
        p->sin6_addr.s6_addr[15] = 0xFB;
        if (send.address.size() == 16) std::memcpy(&p->sin6_addr, send.address.data(), 16);
        p->sin6_scope_id = (ULONG)send.iface;
        nTo = sizeof *p;
        DWORD dwIndex = (DWORD)send.iface;
        if (send.address.empty())
            ::setsockopt(s, IPPROTO_IPV6, IPV6_MULTICAST_IF, (const char*)&dwIndex, sizeof dwIndex);
    }
    ::sendto(s, (const char*)send.bytes.data(), (int)send.bytes.size(), 0, (SOCKADDR*)&to, nTo);
}

// Sends what the core has to send, shows a changed list and sets the timer for its next
// deadline (none: no timer at all).
void CNearby::Flush()
{
    for (const NearbySend& send : m_pCore->TakeSends()) SendOne(send);
    if (m_pCore->TakePeersChanged()) ShowPeers(m_pCore->Peers());
    if (!m_hWnd) return;
    const uint64_t deadline = m_pCore->NextDeadline(), now = Now();
    if (deadline == CNearbyCore::kNever) {
        ::KillTimer(m_hWnd, kTimerId);
        return;
    }
    const uint64_t wait = deadline > now ? deadline - now : 0;
    ::SetTimer(m_hWnd, kTimerId, (UINT)(wait < 1 ? 1 : wait > 0x7FFFFFFF ? 0x7FFFFFFF : wait), NULL);
}

int CNearby::FirstIndex() const { return m_pCombo ? m_pCombo->GetCount() - (int)m_shown.size() : 0; }

bool CNearby::IsNearby(int nIndex) const
{
    return m_pCombo && !m_shown.empty() && nIndex >= FirstIndex() && nIndex < m_pCombo->GetCount();
}

bool CNearby::PeerAt(int nIndex, CString& rName, CString& rAddress, CString& rPort) const
{
    if (!IsNearby(nIndex)) return false;
    const Shown& shown = m_shown[(size_t)(nIndex - FirstIndex())];
    rName = shown.strName;
    rAddress = shown.strAddress;
    rPort = shown.strPort;
    return true;
}

// Removes a nearby item; the chosen item stays chosen, wherever it moves to.
void CNearby::RemoveItem(int nShown)
{
    const int nIndex = FirstIndex() + nShown, nSel = m_pCombo->GetCurSel();
    m_pCombo->DeleteString((UINT)nIndex);
    m_shown.erase(m_shown.begin() + nShown);
    if (nSel > nIndex) {
        m_pCombo->SetCurSel(nSel - 1);
        if (m_pnSel && *m_pnSel == nSel) *m_pnSel = nSel - 1;
    } else if (nSel >= 0) {
        m_pCombo->SetCurSel(nSel);
    }
}

void CNearby::InsertStored(CComboBox& rCombo, const CString& strName)
{
    if (&rCombo != m_pCombo || m_shown.empty()) {
        rCombo.AddString(strName);
        return;
    }
    const int nIndex = FirstIndex(), nSel = rCombo.GetCurSel();
    rCombo.SendMessage(CB_INSERTSTRING, (WPARAM)nIndex, (LPARAM)(const char*)strName);
    if (nSel >= nIndex) {
        rCombo.SetCurSel(nSel + 1);
        if (m_pnSel && *m_pnSel == nSel) *m_pnSel = nSel + 1;
    } else if (nSel >= 0) {
        rCombo.SetCurSel(nSel);
    }
}

void CNearby::DropLeft()
{
    if (!m_pCombo) return;
    const int nSel = m_pCombo->GetCurSel();
    for (int i = (int)m_shown.size() - 1; i >= 0; --i)
        if (m_shown[(size_t)i].bLeft && FirstIndex() + i != nSel) RemoveItem(i);
}

void CNearby::Chosen(int nIndex)
{
    if (!IsNearby(nIndex)) return;
    Shown& shown = m_shown[(size_t)(nIndex - FirstIndex())];
    if (!shown.bMoved) return;
    if (m_pCore) {
        m_pCore->Acknowledge(shown.label);
        Flush();
    } else {
        shown.bMoved = false;
        SetItem(nIndex - FirstIndex(), ItemText(shown, std::string()));
    }
}

void CNearby::ShowFound(const std::vector<NearbyPeer>& peers) { ShowPeers(peers); }

// The name as items show it and the phonebook takes it: cleaned, in the code page.
CString CNearby::ShownName(const std::string& utf8) const { return FromUtf8(CleanNearbyName(utf8)); }

// The item: the name cut until the whole text, mark included, fits the closed box; the open
// list is made wide enough for the longest item.
CString CNearby::ItemText(const Shown& shown, const std::string& fingerprint) const
{
    const NearbyMark mark = m_classifier ? m_classifier(shown.strName, fingerprint) : NearbyMark::Plain;
    if (!m_pCombo || !m_pCombo->m_hWnd) return NearbyLabel(shown.strName, mark, shown.bMoved);
    const HWND hCombo = m_pCombo->m_hWnd;
    RECT rc = {};
    ::GetClientRect(hCombo, &rc);
    const int nRoom = rc.right - rc.left - ::GetSystemMetrics(SM_CXVSCROLL) - 6;
    HDC hDC = ::GetDC(hCombo);
    HGDIOBJ hOld = ::SelectObject(hDC, (HFONT)::SendMessageA(hCombo, WM_GETFONT, 0, 0));
    auto width = [&](const CString& strText) {
        SIZE size = {};
        ::GetTextExtentPoint32A(hDC, strText, strText.GetLength(), &size);
        return (int)size.cx;
    };
    const std::string fitted = FitNearbyName(ToUtf8(shown.strName), [&](const std::string& candidate) {
        return width(NearbyLabel(FromUtf8(candidate), mark, shown.bMoved)) <= nRoom;
    });
    const CString strItem = NearbyLabel(FromUtf8(fitted), mark, shown.bMoved);
    const int nWide =
        width(NearbyLabel(shown.strName, mark, shown.bMoved)) + ::GetSystemMetrics(SM_CXVSCROLL) + 8;
    if (nWide > (int)::SendMessageA(hCombo, CB_GETDROPPEDWIDTH, 0, 0))
        ::SendMessageA(hCombo, CB_SETDROPPEDWIDTH, (WPARAM)std::min(nWide, 600), 0);
    ::SelectObject(hDC, hOld);
    ::ReleaseDC(hCombo, hDC);
    return strItem;
}

// Puts new text on an item; the selection stays where it was.
void CNearby::SetItem(int nShown, const CString& strItem)
{
    Shown& shown = m_shown[(size_t)nShown];
    if (shown.strItem == strItem) return;
    shown.strItem = strItem;
    const int nIndex = FirstIndex() + nShown, nSel = m_pCombo->GetCurSel();
    m_pCombo->DeleteString((UINT)nIndex);
    m_pCombo->SendMessage(CB_INSERTSTRING, (WPARAM)nIndex, (LPARAM)(const char*)strItem);
    if (nSel >= 0) m_pCombo->SetCurSel(nSel);
}

// Brings the combo's nearby items in line with the peers: those that left go (but the chosen
// one, until it is no longer chosen), new ones are added at the end, the others keep their place
// and take the peer's current address, port and mark. A name that cleans to nothing is left out.
void CNearby::ShowPeers(const std::vector<NearbyPeer>& peers)
{
    if (!m_pCombo) return;
    std::vector<bool> bSeen(peers.size(), false);
    const int nSel = m_pCombo->GetCurSel();
    for (int i = (int)m_shown.size() - 1; i >= 0; --i) {
        Shown& shown = m_shown[(size_t)i];
        size_t k = 0;
        while (k < peers.size() && peers[k].name != shown.label) ++k;
        if (k < peers.size()) {
            bSeen[k] = true;
            shown.bLeft = false;
            shown.strAddress = AddressText(peers[k].addresses[0]);
            shown.strPort.Format("%u", (unsigned)peers[k].port);
            shown.bMoved = peers[k].bMoved;
            SetItem(i, ItemText(shown, peers[k].fingerprint));
        } else if (FirstIndex() + i == nSel) {
            shown.bLeft = true;
        } else {
            RemoveItem(i);
        }
    }
    for (size_t k = 0; k < peers.size(); ++k) {
        if (bSeen[k] || peers[k].addresses.empty()) continue;
        Shown shown;
        shown.label = peers[k].name;
        shown.strName = ShownName(peers[k].name);
        if (shown.strName.IsEmpty()) continue;
        shown.strAddress = AddressText(peers[k].addresses[0]);
        shown.strPort.Format("%u", (unsigned)peers[k].port);
        shown.bMoved = peers[k].bMoved;
        shown.strItem = ItemText(shown, peers[k].fingerprint);
        m_pCombo->AddString(shown.strItem);
        m_shown.push_back(shown);
    }
}
