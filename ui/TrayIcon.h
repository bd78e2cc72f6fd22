// The notification-area icon: one call to add it, one to remove it.
#pragma once

#include "platform/afxwin.h"

#include <shellapi.h>

class CTrayIcon {
public:
    virtual ~CTrayIcon() { }

    // The tip is cut to what the record holds (63 bytes) without splitting a double-byte
    // character.
    BOOL AddIcon(HWND hWnd, UINT uID, UINT uCallbackMessage, HICON hIcon, CString strTip);
    // As AddIcon, with the image of the icon resource nIDIcon in the size the notification area
    // shows at the window's display scale (IconSize), loaded once per size and kept.
    BOOL AddResourceIcon(HWND hWnd, UINT uID, UINT uCallbackMessage, UINT nIDIcon, CString strTip);
    BOOL DeleteIcon(HWND hWnd, UINT uID);
    // Asks the shell for the icon's keyboard messages (NOTIFYICON_VERSION_4): NIN_SELECT and
    // NIN_KEYSELECT, WM_CONTEXTMENU, with the event in the low word of the callback's lParam,
    // the icon in the high word and the anchor in wParam. False where the shell has no such
    // version: then the callback's lParam is the mouse message alone.
    BOOL SetVersion4(HWND hWnd, UINT uID);
    // A new tip for the icon, cut as in AddIcon.
    BOOL ModifyTip(HWND hWnd, UINT uID, CString strTip);
    // A balloon from the icon: title cut to 63 bytes, text to 255, neither splitting a
    // double-byte character. bSilent asks the shell not to sound it.
    BOOL ShowBalloon(HWND hWnd, UINT uID, CString strTitle, CString strText, bool bSilent);

    // Width and height of a notification-area icon at the DPI: the small-icon size (16 at 96).
    static int IconSize(UINT nDpi);
};

// Copies at most nMax bytes of the text and a terminating zero into the buffer (nMax + 1
// bytes), cut before a double-byte character that would not fit whole.
void CopyCut(char* pBuffer, int nMax, const CString& strText);

// Shell_NotifyIconA, replaceable by tests (which have no notification area).
typedef BOOL(WINAPI* PFN_SHELL_NOTIFYICON)(DWORD dwMessage, PNOTIFYICONDATAA lpData);
void SetShellNotifyIconHook(PFN_SHELL_NOTIFYICON pfn);
