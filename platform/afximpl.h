// What the framework's own source files share with each other; not for the program.
#pragma once

#include "platform/afxwin.h"

// Links the next dialog window created on this thread to its object, from its very first
// message on; the hook is removed again once the window exists.
void AfxHookWindowCreate(CWnd* pWnd);
void AfxUnhookWindowCreate();
