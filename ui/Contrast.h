// High contrast: whether the system asks for it (read at start and again when the system's
// settings or colours change) and the colours the frame and the round buttons draw in
// accordingly.
#pragma once

#include "platform/afxwin.h"
#include "ui/ContrastScheme.h"

// As last read from the system.
bool HighContrastOn();
// Reads the setting again; true when it changed.
bool ReadHighContrast();
// Replaces the system's answer (tests: Wine does not offer the setting); null for the system's.
void SetHighContrastHook(bool (*pfn)());

contrast::Frame FrameColours();
contrast::Button ButtonColours(bool bPressed, bool bDisabled, bool bFocused);

// The application's dialog colours (body and labels of every dialog) follow the setting; the
// program's own are left alone while it is off and has never been on.
void ApplyDialogColours();
