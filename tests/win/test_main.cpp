// Entry point of the Windows tests: an application object with the program's dialog colours
// and Windows Sockets started, as the program itself has them.
#include <gtest/gtest.h>

#include "ui/Colors.h"
#include "ui/Sound.h"
#include "platform/afxsock.h"

namespace {
class CTestApp : public CWinApp { };
CTestApp theTestApp;
} // namespace

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    theTestApp.m_hInstance = ::GetModuleHandleA(NULL);
    if (!AfxSocketInit()) {
        fprintf(stderr, "Windows Sockets could not be started\n");
        return 2;
    }
    theTestApp.SetDialogBkColor(kClrDialogBk, kClrDialogText);
    // Calls ring in many tests: keep them quiet (the ring's own tests record it).
    SetPlaySoundHook([](LPCSTR, HMODULE, DWORD) -> BOOL { return TRUE; });
    return RUN_ALL_TESTS();
}
