// The texts that tie one installed copy together without Windows: the switch that starts the
// program in the notification area, the name a running copy holds for its folder, and the value
// that starts it at logon.
#pragma once

#include <cstdint>
#include <string>

// The one switch of the program's own: started with it (at logon), the window stays hidden in
// the notification area until the user or a call brings it back.
extern const wchar_t kTraySwitch[];

// Whether a whole command line (the program's own name first, quoted or not) holds the tray
// switch, "/tray" or "-tray" in any case. Every other argument is ignored.
bool CommandLineAsksForTray(const std::wstring& strCommandLine);

// The name of the mutex a running copy holds for its folder: "Kelvaro " and the folder's full
// path, case-folded by the caller, with its separators turned into '/' (a kernel object name
// cannot hold '\') and none at the end. The installer builds the same name from its folder.
std::wstring InstanceName(const std::wstring& strFoldedFolder);

// A 32-bit tag of an instance name (FNV-1a over its UTF-16 units) put on the main window, so that
// a second start finds the window of the copy from its own folder only.
uint32_t InstanceTag(const std::wstring& strName);

// The value under the logon Run key that starts this program: its quoted path and the switch.
std::wstring RunValue(const std::wstring& strExePath);

// The program a Run value starts: the quoted part, or the text up to the first blank.
std::wstring RunValueProgram(const std::wstring& strValue);
