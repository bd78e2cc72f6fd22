// The ring of a call that comes in: the program's own short sound, kept in its resources.
#pragma once

#include "afxwin.h"

// Plays the ring once, without waiting for it to end.
void PlayRing();
// Stops a ring that is still playing.
void StopRing();

// PlaySoundA, replaceable by tests (which record what would have been played).
typedef BOOL(WINAPI* PFN_PLAY_SOUND)(LPCSTR pszSound, HMODULE hmod, DWORD fdwSound);
void SetPlaySoundHook(PFN_PLAY_SOUND pfn);
