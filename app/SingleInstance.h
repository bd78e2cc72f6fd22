// One running copy per installed folder: a named mutex held for the program's life, and the
// way a second start hands over to the copy that runs already.
#pragma once

#include <windows.h>

#include <string>

// The running program's own path as Windows knows it (long form), and that path case-folded.
std::wstring ModulePathW();
std::wstring FoldPath(const std::wstring& strPath);

class CSingleInstance {
public:
    CSingleInstance() = default;
    ~CSingleInstance();
    CSingleInstance(const CSingleInstance&) = delete;
    CSingleInstance& operator=(const CSingleInstance&) = delete;

    // Takes the name for this process and marks main windows with its tag from then on. False
    // when another process holds it; true, without the guard, when the mutex cannot be made at
    // all (the program then runs as it did before).
    bool Claim(const std::wstring& strName);

    // The main window of the copy holding strName, asked to come to the front; waits up to
    // dwWaitMs for a copy still starting to open its window. False when none was found.
    static bool BringForwardRunning(const std::wstring& strName, DWORD dwWaitMs);

    // The main window carries the tag of the claimed name (nothing when none was claimed).
    static void MarkMainWindow(HWND hWnd);
    static void UnmarkMainWindow(HWND hWnd);
    // Posted to a marked window by a second start: come to the front, out of the tray.
    static UINT BringForwardMessage();

private:
    HANDLE m_hMutex = NULL;
};
