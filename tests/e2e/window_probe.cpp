// What the installer's end-to-end test cannot see from Linux: the main windows of running
// copies (marked by the program for its folder), in the test's own Wine prefix.
//   window_probe list         one line per main window: "visible" or "hidden"
//   window_probe command ID   sends the menu command ID to the one main window; exit code 0
//                             once it has been handled
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

BOOL CALLBACK Collect(HWND hWnd, LPARAM lParam)
{
    if (::GetPropA(hWnd, "Kelvaro.Instance")) ((std::vector<HWND>*)lParam)->push_back(hWnd);
    return TRUE;
}

} // namespace

int main(int argc, char** argv)
{
    std::vector<HWND> windows;
    ::EnumWindows(Collect, (LPARAM)&windows);
    if (argc == 2 && !strcmp(argv[1], "list")) {
        for (HWND hWnd : windows) std::printf("%s\n", ::IsWindowVisible(hWnd) ? "visible" : "hidden");
        return 0;
    }
    if (argc == 3 && !strcmp(argv[1], "command")) {
        if (windows.size() != 1) {
            std::fprintf(stderr, "window_probe: %u main windows, not one\n", (unsigned)windows.size());
            return 2;
        }
        DWORD_PTR result = 0;
        return ::SendMessageTimeoutA(windows[0], WM_COMMAND, MAKEWPARAM(std::atoi(argv[2]), 0), 0,
                   SMTO_ABORTIFHUNG, 10000, &result)
            ? 0
            : 3;
    }
    std::fprintf(stderr, "usage: window_probe list | command ID\n");
    return 1;
}
