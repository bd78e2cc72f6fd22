// The text shown for an error code: the system's own, or where the system has none, a text of
// the program's with the number.
#pragma once

#include "platform/afxwin.h"

CString ErrorText(DWORD dwError);
