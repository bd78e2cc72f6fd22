#include "TrayIcon.h"

#include <shellapi.h>

#include <cstring>

namespace {
PFN_SHELL_NOTIFYICON g_pfnShellNotifyIcon = nullptr;

BOOL NotifyIcon(DWORD dwMessage, NOTIFYICONDATAA* pData)
{
    return g_pfnShellNotifyIcon ? g_pfnShellNotifyIcon(dwMessage, pData) : ::Shell_NotifyIconA(dwMessage, pData);
}
} // namespace

void SetShellNotifyIconHook(PFN_SHELL_NOTIFYICON pfn) { g_pfnShellNotifyIcon = pfn; }

BOOL CTrayIcon::AddIcon(HWND hWnd, UINT uID, UINT uCallbackMessage, HICON hIcon, CString strTip)
{
    NOTIFYICONDATAA nid;
    std::memset(&nid, 0, sizeof nid);
    nid.cbSize = NOTIFYICONDATAA_V1_SIZE; // the first version of the record
    nid.hWnd = hWnd;
    nid.uID = uID;
    nid.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    nid.uCallbackMessage = uCallbackMessage;
    nid.hIcon = hIcon;

    const int nMax = 63;
    int nLen = 0;
    while (nLen < strTip.GetLength()) {
        int nChar = (::IsDBCSLeadByte((BYTE)strTip[nLen]) && nLen + 1 < strTip.GetLength()) ? 2 : 1;
        if (nLen + nChar > nMax) break;
        nLen += nChar;
    }
    std::memcpy(nid.szTip, strTip.GetString(), (size_t)nLen);
    nid.szTip[nLen] = '\0';
    return NotifyIcon(NIM_ADD, &nid);
}

BOOL CTrayIcon::DeleteIcon(HWND hWnd, UINT uID)
{
    NOTIFYICONDATAA nid;
    std::memset(&nid, 0, sizeof nid);
    nid.cbSize = NOTIFYICONDATAA_V1_SIZE;
    nid.hWnd = hWnd;
    nid.uID = uID;
    nid.uFlags = 0;
    return NotifyIcon(NIM_DELETE, &nid);
}
