#include "ui/Sound.h"

#include "res/resource.h"

#include <mmsystem.h>

namespace {
PFN_PLAY_SOUND g_pfnPlaySound = nullptr;

BOOL Play(LPCSTR pszSound, HMODULE hmod, DWORD fdwSound)
{
    return g_pfnPlaySound ? g_pfnPlaySound(pszSound, hmod, fdwSound) : ::PlaySoundA(pszSound, hmod, fdwSound);
}
} // namespace

PFN_PLAY_SOUND SetPlaySoundHook(PFN_PLAY_SOUND pfn)
{
    PFN_PLAY_SOUND pfnOld = g_pfnPlaySound;
    g_pfnPlaySound = pfn;
    return pfnOld;
}

// Without a sound device (or with the resource missing) nothing is heard and nothing else
// happens: SND_NODEFAULT keeps the system from playing its default beep instead.
void PlayRing()
{
    Play(MAKEINTRESOURCEA(IDR_RING), AfxGetResourceHandle(), SND_RESOURCE | SND_ASYNC | SND_NODEFAULT);
}

void StopRing() { Play(NULL, NULL, 0); }
