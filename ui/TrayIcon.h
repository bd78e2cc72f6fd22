// The notification-area icon: one call to add it, one to remove it.
#pragma once

#include "afxwin.h"

#include <shellapi.h>

class CTrayIcon {
public:
    virtual ~CTrayIcon() {}

    // The tip is cut to what the record holds (63 bytes) without splitting a double-byte
    // character.
    BOOL AddIcon(HWND hWnd, UINT uID, UINT uCallbackMessage, HICON hIcon, CString strTip);
    BOOL DeleteIcon(HWND hWnd, UINT uID);
};

// Shell_NotifyIconA, replaceable by tests (which have no notification area).
typedef BOOL(WINAPI* PFN_SHELL_NOTIFYICON)(DWORD dwMessage, PNOTIFYICONDATAA lpData);
void SetShellNotifyIconHook(PFN_SHELL_NOTIFYICON pfn);
