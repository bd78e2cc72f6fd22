#include "ui/Accessibility.h"

#include <commctrl.h>
#include <initguid.h>
#include <oleacc.h>

#include <algorithm>
#include <map>
#include <string>

namespace {
// The live-region setting of the property service (not in every SDK's headers): 1 is polite.
DEFINE_GUID(kLiveSettingProperty, 0xc12bcd8e, 0x2a8e, 0x4950, 0x8a, 0xe7, 0x36, 0x25, 0x11, 0x1d, 0x58, 0xeb);
const int kLivePolite = 1;

std::wstring Wide(const CString& str)
{
    const int n = ::MultiByteToWideChar(CP_ACP, 0, str.GetString(), str.GetLength(), NULL, 0);
    std::wstring w((size_t)n, L'\0');
    ::MultiByteToWideChar(CP_ACP, 0, str.GetString(), str.GetLength(), &w[0], n);
    return w;
}

CString TextOf(HWND hCtl)
{
    char buf[512] = "";
    ::GetWindowTextA(hCtl, buf, sizeof buf);
    return buf;
}

// Each control's own window procedure, kept while the context keys are taken in front of it.
// Kept here, not as a window property: under Wine every property look-up goes to its server,
// and one for each message of the receive list made a flood of lines ten times slower.
std::map<HWND, WNDPROC> g_ownProcs;
bool g_bF10Taken = false; // the key-up of a Shift+F10 that opened the menu is not passed on

LRESULT CALLBACK ContextKeysProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    const auto it = g_ownProcs.find(hWnd);
    if (it == g_ownProcs.end()) return ::DefWindowProcA(hWnd, message, wParam, lParam);
    const WNDPROC pfnOwn = it->second;
    // The shift key is asked about only for F10: under Wine each question goes to its server.
    if ((message == WM_SYSKEYDOWN && wParam == VK_F10 && (::GetKeyState(VK_SHIFT) & 0x8000) != 0) ||
        (message == WM_KEYDOWN && wParam == VK_APPS)) {
        g_bF10Taken = wParam == VK_F10;
        ::SendMessageA(::GetParent(hWnd), WM_CONTEXTMENU, (WPARAM)hWnd, MAKELPARAM(-1, -1));
        return 0;
    }
    if ((message == WM_KEYUP && wParam == VK_APPS) ||
        (message == WM_SYSKEYUP && wParam == VK_F10 && g_bF10Taken)) {
        g_bF10Taken = false;
        return 0;
    }
    if (message == WM_NCDESTROY) {
        ::SetWindowLongPtrA(hWnd, GWLP_WNDPROC, (LONG_PTR)pfnOwn);
        g_ownProcs.erase(it);
    }
    return ::CallWindowProcA(pfnOwn, hWnd, message, wParam, lParam);
}
} // namespace

CAccessibility::~CAccessibility() { Detach(); }

void CAccessibility::Attach(
    HWND hDlg, const std::vector<Named>& names, const std::vector<Watched>& watched, int nLinesID)
{
    m_hDlg = hDlg;
    const HRESULT hrCom = ::CoInitializeEx(NULL, COINIT_APARTMENTTHREADED);
    m_bComStarted = SUCCEEDED(hrCom);
    if (FAILED(::CoCreateInstance(
            CLSID_AccPropServices, NULL, CLSCTX_INPROC_SERVER, IID_IAccPropServices, (void**)&m_pProps)))
        m_pProps = nullptr;
    m_bNamesGiven = m_pProps != nullptr;
    for (const Named& n : names)
        if (HWND hCtl = ::GetDlgItem(hDlg, n.nID)) m_bNamesGiven = SetName(hCtl, n.pszName) && m_bNamesGiven;
    for (const Watched& w : watched)
        if (HWND hCtl = ::GetDlgItem(hDlg, w.nID)) {
            m_displays.push_back({ hCtl, w.pszLabel, TextOf(hCtl), ::IsWindowVisible(hCtl) != FALSE });
            if (w.pszLabel) SetName(hCtl, CString(w.pszLabel) + " " + m_displays.back().strShown);
        }
    m_hLines = ::GetDlgItem(hDlg, nLinesID);
    if (m_pProps && m_hLines) {
        VARIANT var = {};
        var.vt = VT_I4;
        var.lVal = kLivePolite;
        m_pProps->SetHwndProp(m_hLines, OBJID_CLIENT, CHILDID_SELF, kLiveSettingProperty, var);
    }
}

bool CAccessibility::SetName(HWND hCtl, const CString& strName)
{
    if (!m_pProps) return false;
    const std::wstring w = Wide(strName);
    if (FAILED(m_pProps->SetHwndPropStr(hCtl, OBJID_CLIENT, CHILDID_SELF, PROPID_ACC_NAME, w.c_str())))
        return false;
    if (std::find(m_named.begin(), m_named.end(), hCtl) == m_named.end()) m_named.push_back(hCtl);
    return true;
}

void CAccessibility::Detach()
{
    if (m_pProps) {
        MSAAPROPID props[] = { PROPID_ACC_NAME, kLiveSettingProperty };
        for (HWND hCtl : m_named) m_pProps->ClearHwndProps(hCtl, OBJID_CLIENT, CHILDID_SELF, props, 1);
        if (m_hLines) m_pProps->ClearHwndProps(m_hLines, OBJID_CLIENT, CHILDID_SELF, props, 2);
        m_pProps->Release();
        m_pProps = nullptr;
    }
    m_named.clear();
    m_displays.clear();
    m_hLines = NULL;
    if (m_bComStarted) ::CoUninitialize();
    m_bComStarted = false;
}

void CAccessibility::Poll()
{
    for (Display& d : m_displays) {
        const bool bVisible = ::IsWindowVisible(d.hCtl) != FALSE;
        const CString strText = TextOf(d.hCtl);
        if (bVisible == d.bVisible && strText == d.strShown) continue;
        d.bVisible = bVisible;
        d.strShown = strText;
        if (d.pszLabel) SetName(d.hCtl, CString(d.pszLabel) + " " + strText);
        // A display that went away has nothing to say; one shown or changed is read again.
        if (bVisible) ::NotifyWinEvent(EVENT_OBJECT_NAMECHANGE, d.hCtl, OBJID_CLIENT, CHILDID_SELF);
    }
}

void CAccessibility::LinesArrived(const CString& strNewest)
{
    if (!m_hLines) return;
    CString strLabel = "受信";
    SetName(m_hLines, strLabel + " " + strNewest);
    ::NotifyWinEvent(kEventLiveRegionChanged, m_hLines, OBJID_CLIENT, CHILDID_SELF);
}

void CAccessibility::Alert(HWND hCtl)
{
    if (hCtl) ::NotifyWinEvent(EVENT_SYSTEM_ALERT, hCtl, OBJID_CLIENT, CHILDID_SELF);
}

void CAccessibility::AddContextKeys(HWND hCtl)
{
    if (!hCtl || g_ownProcs.count(hCtl)) return;
    // An ANSI subclass, as the framework's own, so that the ANSI list boxes' messages are not
    // put through Unicode and back.
    g_ownProcs[hCtl] = (WNDPROC)::GetWindowLongPtrA(hCtl, GWLP_WNDPROC);
    ::SetWindowLongPtrA(hCtl, GWLP_WNDPROC, (LONG_PTR)ContextKeysProc);
}
