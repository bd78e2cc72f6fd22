// Paths of the program's folder and of the files it keeps.
#pragma once

#include "platform/afxstr.h"

// Drive and directory of a path or URL, with the trailing separator: "E:\Tools\Phone\" of
// "E:\Tools\Phone\Kelvaro.exe", "http://host/dir/" of "http://host/dir/", "" of "mailto:a@b".
// Double-byte characters are stepped over whole, so a trail byte 0x5C is never a separator.
CString PathFolder(const CString& strPath);

// Folder of the running executable.
CString ModuleFolder();

// Where the settings file lives, and with it the conversation log and the missed calls.
struct CSettingsPlace {
    CString strPath; // full path of "Kelvaro.ini"
    bool bFirstTime = false; // just set up in the per-user folder: the user is to be told once
};

// Whether the settings can be kept in a folder: its "Kelvaro.ini" opens for writing, or, failing
// that, a new file can be made there (a probe, deleted again at once).
bool CanKeepSettingsIn(const CString& strFolder);

// The per-user place "Kelvaro\" in the application data folder strAppData, created when
// missing. The first time (no settings file there yet) the program folder's settings file is
// copied there, or an empty one made, and bFirstTime is set. Empty strPath when it cannot be
// set up.
CSettingsPlace PerUserSettingsPlace(const CString& strProgramFolder, const CString& strAppData);

// Beside the program when the settings can be kept in its folder, as always; otherwise in the
// per-user place (and beside the program again when that cannot be set up either).
CSettingsPlace ChooseSettingsPlace(const CString& strProgramFolder, const CString& strAppData);

// The running program's choice: its own folder and the user's application data folder
// (%APPDATA%). Decided on the first call and kept for the run.
const CSettingsPlace& ProgramSettingsPlace();
