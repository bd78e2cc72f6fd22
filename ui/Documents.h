// Opening documents and links through the shell, and the paths of the two documents.
#pragma once

#include "platform/afxwin.h"

// The target with the default verb, owned by hWnd, in the target's own folder; nothing when the
// window is gone. The result is not examined.
void OpenDocumentFrom(HWND hWnd, const CString& strTarget);

// "history.txt" or "readme.txt" beside the executable (format "%shistory.txt").
CString DocumentPath(const char* pszFormat);

const char kHistoryFormat[] = "%shistory.txt";
const char kReadmeFormat[] = "%sreadme.txt";

// ShellExecuteA, replaceable by tests so that nothing is launched.
typedef HINSTANCE(WINAPI* PFN_SHELL_EXECUTE)(HWND, LPCSTR, LPCSTR, LPCSTR, LPCSTR, INT);
void SetShellExecuteHook(PFN_SHELL_EXECUTE pfn);
