#include "ui/TrayIcon.h"

#include "ui/DisplayScale.h"

#include <shellapi.h>

#include <cstring>
#include <map>
#include <utility>

namespace {
PFN_SHELL_NOTIFYICON g_pfnShellNotifyIcon = nullptr;

// The first version of the record, which the tip goes in, holds 64 bytes of tip.
const int kMaxTip = 63;

BOOL NotifyIcon(DWORD dwMessage, NOTIFYICONDATAA* pData)
{
    return g_pfnShellNotifyIcon ? g_pfnShellNotifyIcon(dwMessage, pData)
                                : ::Shell_NotifyIconA(dwMessage, pData);
}

// A zeroed record of the given size (version) naming the icon.
NOTIFYICONDATAA Record(DWORD cbSize, HWND hWnd, UINT uID, UINT uFlags)
{
    NOTIFYICONDATAA nid;
    std::memset(&nid, 0, sizeof nid);
    nid.cbSize = cbSize;
    nid.hWnd = hWnd;
    nid.uID = uID;
    nid.uFlags = uFlags;
    return nid;
}
} // namespace

void SetShellNotifyIconHook(PFN_SHELL_NOTIFYICON pfn) { g_pfnShellNotifyIcon = pfn; }

BOOL CTrayIcon::AddIcon(HWND hWnd, UINT uID, UINT uCallbackMessage, HICON hIcon, CString strTip)
{
    // The first version of the record.
    // The standard tip also under the keyboard version, which would otherwise leave it out.
    NOTIFYICONDATAA nid =
        Record(NOTIFYICONDATAA_V1_SIZE, hWnd, uID, NIF_MESSAGE | NIF_ICON | NIF_TIP | NIF_SHOWTIP);
    nid.uCallbackMessage = uCallbackMessage;
    nid.hIcon = hIcon;

    CopyCut(nid.szTip, kMaxTip, strTip);
    return NotifyIcon(NIM_ADD, &nid);
}

int CTrayIcon::IconSize(UINT nDpi) { return SystemMetricForDpi(SM_CXSMICON, nDpi); }

BOOL CTrayIcon::AddResourceIcon(HWND hWnd, UINT uID, UINT uCallbackMessage, UINT nIDIcon, CString strTip)
{
    // The shell shows the icon for as long as it is there, so each image stays loaded; there is
    // one per size the program meets, a handful at most.
    static std::map<std::pair<UINT, int>, HICON> icons;
    const int nSize = IconSize(WindowDpi(hWnd));
    HICON& rIcon = icons[{ nIDIcon, nSize }];
    if (!rIcon)
        rIcon = (HICON)::LoadImageA(
            AfxGetResourceHandle(), MAKEINTRESOURCEA(nIDIcon), IMAGE_ICON, nSize, nSize, LR_DEFAULTCOLOR);
    return AddIcon(hWnd, uID, uCallbackMessage, rIcon, strTip);
}

void CopyCut(char* pBuffer, int nMax, const CString& strText)
{
    int nLen = 0;
    while (nLen < strText.GetLength()) {
        int nChar = (::IsDBCSLeadByte((BYTE)strText[nLen]) && nLen + 1 < strText.GetLength()) ? 2 : 1;
        if (nLen + nChar > nMax) break;
        nLen += nChar;
    }
    std::memcpy(pBuffer, strText.GetString(), (size_t)nLen);
    pBuffer[nLen] = '\0';
}

BOOL CTrayIcon::ModifyTip(HWND hWnd, UINT uID, CString strTip)
{
    NOTIFYICONDATAA nid = Record(NOTIFYICONDATAA_V1_SIZE, hWnd, uID, NIF_TIP | NIF_SHOWTIP);
    CopyCut(nid.szTip, kMaxTip, strTip);
    return NotifyIcon(NIM_MODIFY, &nid);
}

BOOL CTrayIcon::ShowBalloon(HWND hWnd, UINT uID, CString strTitle, CString strText, bool bSilent)
{
    // The first version of the record that has balloons.
    NOTIFYICONDATAA nid = Record(NOTIFYICONDATAA_V2_SIZE, hWnd, uID, NIF_INFO);
    CopyCut(nid.szInfoTitle, (int)sizeof nid.szInfoTitle - 1, strTitle);
    CopyCut(nid.szInfo, (int)sizeof nid.szInfo - 1, strText);
    nid.uTimeout = 10000; // honoured by older shells; newer ones take the system's setting
    nid.dwInfoFlags = NIIF_INFO | (bSilent ? NIIF_NOSOUND : 0);
    return NotifyIcon(NIM_MODIFY, &nid);
}

BOOL CTrayIcon::SetVersion4(HWND hWnd, UINT uID)
{
    NOTIFYICONDATAA nid = Record(NOTIFYICONDATAA_V3_SIZE, hWnd, uID, 0);
    nid.uVersion = NOTIFYICON_VERSION_4;
    return NotifyIcon(NIM_SETVERSION, &nid);
}

BOOL CTrayIcon::DeleteIcon(HWND hWnd, UINT uID)
{
    NOTIFYICONDATAA nid = Record(NOTIFYICONDATAA_V1_SIZE, hWnd, uID, 0);
    return NotifyIcon(NIM_DELETE, &nid);
}
