// The ring of a call that comes in: the program's own short sound, kept in its resources.
#pragma once

#include "platform/afxwin.h"

// Plays the ring once, without waiting for it to end.
void PlayRing();
// Stops a ring that is still playing.
void StopRing();

// PlaySoundA, replaceable by tests (which record what would have been played, or keep quiet).
// Returns the hook it replaces.
typedef BOOL(WINAPI* PFN_PLAY_SOUND)(LPCSTR pszSound, HMODULE hmod, DWORD fdwSound);
PFN_PLAY_SOUND SetPlaySoundHook(PFN_PLAY_SOUND pfn);
