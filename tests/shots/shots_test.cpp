// Renders the program's windows on a real (virtual) display and saves each as a bitmap, for
// people to look at: the main window idle, calling, ringing and talking, with the keyboard
// focus on a button, the name dialog, the version box, the missed calls and the popup menu.
// Run by scripts/screenshots.sh under Xvfb once per display scale; the log lists each
// picture's size, so that the scales can be compared.
#include "tests/win/test_util.h"

#include "ui/AboutDlg.h"
#include "ui/Contrast.h"
#include "ui/MissedCallsDlg.h"
#include "phonebook/NameDlg.h"
#include "ui/DisplayScale.h"
#include "ui/Sound.h"

#include <cstdio>

namespace {

std::string g_outDir = ".\\";

// Copies what the screen shows in the rectangle into a 24-bit BMP file. A rectangle that is
// not wholly on the screen is refused: the display copies nothing of it, not even the part
// that is on screen, and the picture would come out black.
::testing::AssertionResult SaveScreenRect(const RECT& rc, const std::string& name)
{
    const int w = rc.right - rc.left, h = rc.bottom - rc.top;
    const RECT rcScreen = { 0, 0, ::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN) };
    if (rc.left < rcScreen.left || rc.top < rcScreen.top || rc.right > rcScreen.right ||
        rc.bottom > rcScreen.bottom || w <= 0 || h <= 0)
        return ::testing::AssertionFailure()
            << name << ": (" << rc.left << "," << rc.top << ")-(" << rc.right << "," << rc.bottom
            << ") is not within the screen " << rcScreen.right << "x" << rcScreen.bottom;
    HDC hScreen = ::GetDC(NULL);
    HDC hMem = ::CreateCompatibleDC(hScreen);
    BITMAPINFO bi = {};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = w;
    bi.bmiHeader.biHeight = h;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 24;
    bi.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP hBmp = ::CreateDIBSection(hScreen, &bi, DIB_RGB_COLORS, &bits, NULL, 0);
    HGDIOBJ old = ::SelectObject(hMem, hBmp);
    const BOOL bCopied = ::BitBlt(hMem, 0, 0, w, h, hScreen, rc.left, rc.top, SRCCOPY);
    ::GdiFlush();
    const DWORD stride = ((DWORD)w * 3 + 3) & ~3u;
    const DWORD size = stride * (DWORD)h;
    BITMAPFILEHEADER fh = {};
    fh.bfType = 0x4D42;
    fh.bfOffBits = sizeof fh + sizeof bi.bmiHeader;
    fh.bfSize = fh.bfOffBits + size;
    std::string data((const char*)&fh, sizeof fh);
    data.append((const char*)&bi.bmiHeader, sizeof bi.bmiHeader);
    data.append((const char*)bits, size);
    WriteFileBytes(g_outDir + name, data);
    ::SelectObject(hMem, old);
    ::DeleteObject(hBmp);
    ::DeleteDC(hMem);
    ::ReleaseDC(NULL, hScreen);
    if (!bCopied) return ::testing::AssertionFailure() << name << ": the screen could not be copied";
    std::printf("%s: %dx%d\n", name.c_str(), w, h);
    return ::testing::AssertionSuccess();
}

void SaveWindow(HWND hWnd, const std::string& name)
{
    ::SetWindowPos(hWnd, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_SHOWWINDOW);
    ::RedrawWindow(hWnd, NULL, NULL, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    PumpFor(400);
    RECT rc;
    ::GetWindowRect(hWnd, &rc);
    EXPECT_TRUE(SaveScreenRect(rc, name));
}

// Puts a window at (x, y) and returns where the next one may go to its right.
int PlaceAt(HWND hWnd, int x, int y)
{
    ::SetWindowPos(hWnd, NULL, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    RECT rc;
    ::GetWindowRect(hWnd, &rc);
    return rc.right + 10;
}

std::string IniWith(const CTempDir& dir, const char* name, const char* port)
{
    std::string path = dir.File("Kelvaro.ini");
    WriteFileBytes(path,
        std::string("[Setting]\r\nIP=127.0.0.1\r\nPort=") + port + "\r\nName=" + name +
            "\r\nMinStart=0\r\n[Address]\r\nMax=2\r\nName1=会社\r\nIP1=192.0.2.10\r\n"
            "Port1=32760\r\nName2=自宅\r\nIP2=192.0.2.20\r\nPort2=32760\r\n");
    return path;
}

// The text and the caret after it fit in the edit's formatting rectangle, in its font.
::testing::AssertionResult ShowsWhole(HWND hEdit, const char* pszText)
{
    RECT rc;
    ::SendMessageA(hEdit, EM_GETRECT, 0, (LPARAM)&rc);
    HDC hdc = ::GetDC(hEdit);
    HGDIOBJ hOld = ::SelectObject(hdc, (HGDIOBJ)::SendMessageA(hEdit, WM_GETFONT, 0, 0));
    SIZE size;
    ::GetTextExtentPoint32A(hdc, pszText, lstrlenA(pszText), &size);
    ::SelectObject(hdc, hOld);
    ::ReleaseDC(hEdit, hdc);
    if (size.cx + 1 <= rc.right - rc.left) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
        << "\"" << pszText << "\" is " << size.cx << " pixels wide, the box shows " << rc.right - rc.left;
}

void Type(CTestPhoneDlg& dlg, const char* text)
{
    dlg.SetItemText(IDC_EDIT_SEND, text);
    dlg.Command(IDOK);
}

} // namespace

TEST(Screenshots, MainWindowStates)
{
    CModalCatcher catcher;
    CTempDir dirA, dirB;
    CTestPhoneDlg north(IniWith(dirA, "北", "32761"));
    CTestPhoneDlg south(IniWith(dirB, "南", "32762"));
    ASSERT_TRUE(north.Create());
    ASSERT_TRUE(south.Create());
    // Side by side, however large the scale makes them.
    PlaceAt(south.m_hWnd, PlaceAt(north.m_hWnd, 10, 10), 10);
    // The widest port there is, whole in its box.
    north.SetItemText(IDC_EDIT_PORT, "65535");
    EXPECT_TRUE(ShowsWhole(north.Item(IDC_EDIT_PORT), "65535"));
    PumpFor(300);
    SaveWindow(north.m_hWnd, "main-idle.bmp");

    // The focus on "かける" as the keyboard leaves it, focus cues shown.
    ::SendMessageA(north.m_hWnd, WM_CHANGEUISTATE, MAKEWPARAM(UIS_CLEAR, UISF_HIDEFOCUS), 0);
    ::SetFocus(north.Item(IDC_BTN_CALL));
    SaveWindow(north.m_hWnd, "main-focus.bmp");

    char port[16];
    wsprintfA(port, "%u", south.ListeningPort());
    north.SetItemText(IDC_EDIT_ADDRESS, "127.0.0.1");
    north.SetItemText(IDC_EDIT_PORT, port);
    north.Click(IDC_BTN_CALL);
    ASSERT_TRUE(
        PumpUntil([&] { return south.Ringing() && north.CallStands() && !south.PartnerName().IsEmpty(); }));
    PumpFor(300);
    SaveWindow(north.m_hWnd, "main-calling.bmp");
    SaveWindow(south.m_hWnd, "main-ringing.bmp");

    south.Click(IDC_BTN_ANSWER);
    ASSERT_TRUE(PumpUntil([&] { return !north.Calling(); }));
    Type(north, "こんにちは、北です。");
    PumpFor(200);
    Type(south, "南です。よく聞こえます。");
    PumpFor(200);
    Type(north, "では、また後で。");
    ASSERT_TRUE(PumpUntil([&] { return south.ListItems(IDC_LIST_RECEIVE).size() == 2; }));
    SaveWindow(north.m_hWnd, "main-talking-caller.bmp");
    SaveWindow(south.m_hWnd, "main-talking-callee.bmp");
}

TEST(Screenshots, NameDialogAndVersionBox)
{
    CNameDlg name;
    ASSERT_TRUE(name.Create(IDD_NAME));
    ::SetWindowPos(name.m_hWnd, NULL, 40, 40, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    ::SetDlgItemTextA(name.m_hWnd, IDC_EDIT_MYNAME, "会社");
    SaveWindow(name.m_hWnd, "name-dialog.bmp");
    name.DestroyWindow();

    CAboutDlg about;
    ASSERT_TRUE(about.Create(IDD_ABOUTBOX));
    ::SetWindowPos(about.m_hWnd, NULL, 40, 40, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    SaveWindow(about.m_hWnd, "version-box.bmp");
    about.DestroyWindow();
}

// Three missed calls, as the program writes them.
const char kMissedCalls[] = "2026-05-14 18:42:07\tunanswered\t192.0.2.20\t自宅\r\n"
                            "2026-05-14 15:03:55\tbusy\t192.0.2.31\t\r\n"
                            "2026-05-14 09:12:30\tdnd\t2001:db8::7\t\r\n";

TEST(Screenshots, MissedCallsDialog)
{
    CTempDir dir;
    WriteFileBytes(dir.File("MissedCalls.txt"), kMissedCalls);
    CMissedCalls calls;
    calls.Load(dir.File("MissedCalls.txt").c_str());
    ASSERT_EQ(calls.GetCount(), 3);
    CMissedCallsDlg dlg(calls, true);
    ASSERT_TRUE(dlg.Create(IDD_MISSED_CALLS));
    ::SetWindowPos(dlg.m_hWnd, NULL, 40, 40, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    SaveWindow(dlg.m_hWnd, "missed-calls.bmp");
    dlg.DestroyWindow();
}

// Each window again after a move to a monitor of half as much again the scale (WM_DPICHANGED as
// Windows sends it), to compare with the pictures made at that scale from the start.
TEST(Screenshots, AfterAMoveToAnotherScale)
{
    CModalCatcher catcher; // message boxes only: the program's dialogs here are left open
    catcher.onDialog = [](CDialog*) {};
    CTempDir dir;
    WriteFileBytes(dir.File("MissedCalls.txt"), kMissedCalls);
    CMissedCalls calls;
    calls.Load(dir.File("MissedCalls.txt").c_str());
    CTestPhoneDlg main(IniWith(dir, "北", "0"));
    CAboutDlg about;
    CMissedCallsDlg missed(calls, true);
    ASSERT_TRUE(main.Create());
    ASSERT_TRUE(about.Create(IDD_ABOUTBOX));
    ASSERT_TRUE(missed.Create(IDD_MISSED_CALLS));
    main.SetItemText(IDC_EDIT_PORT, "65535");
    const std::pair<HWND, const char*> windows[] = { { main.m_hWnd, "main-rescaled.bmp" },
        { about.m_hWnd, "version-box-rescaled.bmp" }, { missed.m_hWnd, "missed-calls-rescaled.bmp" } };
    for (auto [hWnd, pszName] : windows) {
        const UINT nDpi = WindowDpi(hWnd) * 3 / 2;
        RECT rc;
        ::GetWindowRect(hWnd, &rc);
        RECT rcNew = { 10, 10, 10 + (rc.right - rc.left) * 3 / 2, 10 + (rc.bottom - rc.top) * 3 / 2 };
        ::SendMessageA(hWnd, WM_DPICHANGED, MAKEWPARAM(nDpi, nDpi), (LPARAM)&rcNew);
        SaveWindow(hWnd, pszName);
        ::ShowWindow(hWnd, SW_HIDE);
    }
    EXPECT_TRUE(ShowsWhole(main.Item(IDC_EDIT_PORT), "65535"));
    EXPECT_TRUE(NoBoxes(catcher));
    about.DestroyWindow();
    missed.DestroyWindow();
}

namespace {
HWND g_hMainForMenu;

void CALLBACK CaptureMenu(HWND, UINT, UINT_PTR id, DWORD)
{
    HWND hMenu = ::FindWindowA("#32768", NULL);
    if (!hMenu) return;
    ::KillTimer(NULL, id);
    RECT rcMain, rcMenu;
    ::GetWindowRect(g_hMainForMenu, &rcMain);
    ::GetWindowRect(hMenu, &rcMenu);
    RECT rc = rcMain;
    ::UnionRect(&rc, &rcMain, &rcMenu);
    EXPECT_TRUE(SaveScreenRect(rc, "popup-menu.bmp"));
    ::EndMenu();
}
} // namespace

TEST(Screenshots, PopupMenu)
{
    CTempDir dir;
    CTestPhoneDlg dlg(IniWith(dir, "北", "32761"));
    WriteFileBytes(dir.File("MissedCalls.txt"), kMissedCalls);
    ASSERT_TRUE(dlg.Create());
    dlg.Command(ID_DO_NOT_DISTURB);
    PlaceAt(dlg.m_hWnd, 10, 10);
    PumpFor(300);
    g_hMainForMenu = dlg.m_hWnd;
    RECT rc;
    ::GetWindowRect(dlg.m_hWnd, &rc);
    UINT_PTR timer = ::SetTimer(NULL, 0, 300, CaptureMenu);
    // A right click in the window asks for the context menu at the cursor.
    ::SendMessageA(dlg.m_hWnd, WM_CONTEXTMENU, (WPARAM)dlg.m_hWnd, MAKELPARAM(rc.left + 200, rc.top + 150));
    ::KillTimer(NULL, timer);
    EXPECT_TRUE(FileExists(g_outDir + "popup-menu.bmp"));
}

// With high contrast on and a black high-contrast palette: the main window with the focus on a
// button and two buttons disabled, and the version box. The system's colours are put back after.
TEST(Screenshots, HighContrast)
{
    const INT kinds[] = { COLOR_WINDOW, COLOR_WINDOWTEXT, COLOR_BTNFACE, COLOR_BTNTEXT, COLOR_HIGHLIGHT,
        COLOR_HIGHLIGHTTEXT, COLOR_GRAYTEXT, COLOR_ACTIVECAPTION, COLOR_INACTIVECAPTION, COLOR_CAPTIONTEXT,
        COLOR_INACTIVECAPTIONTEXT };
    const COLORREF black[] = { RGB(0, 0, 0), RGB(255, 255, 255), RGB(0, 0, 0), RGB(255, 255, 255),
        RGB(26, 235, 255), RGB(0, 0, 0), RGB(63, 242, 63), RGB(128, 0, 128), RGB(0, 128, 0),
        RGB(255, 255, 255), RGB(255, 255, 255) };
    const int n = (int)(sizeof kinds / sizeof kinds[0]);
    COLORREF before[sizeof kinds / sizeof kinds[0]];
    for (int i = 0; i < n; ++i) before[i] = ::GetSysColor(kinds[i]);
    ::SetSysColors(n, kinds, black);
    SetHighContrastHook([] { return true; });

    CTempDir dir;
    CTestPhoneDlg main(IniWith(dir, "北", "0"));
    ASSERT_TRUE(main.Create());
    PlaceAt(main.m_hWnd, 10, 10);
    ::SendMessageA(main.m_hWnd, WM_CHANGEUISTATE, MAKEWPARAM(UIS_CLEAR, UISF_HIDEFOCUS), 0);
    ::SetFocus(main.Item(IDC_BTN_CALL));
    SaveWindow(main.m_hWnd, "main-high-contrast.bmp");
    main.Close();

    CAboutDlg about;
    ASSERT_TRUE(about.Create(IDD_ABOUTBOX));
    ::SetWindowPos(about.m_hWnd, NULL, 40, 40, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    SaveWindow(about.m_hWnd, "version-box-high-contrast.bmp");
    about.DestroyWindow();

    SetHighContrastHook(nullptr);
    ::SetSysColors(n, kinds, before);
}

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    if (argc > 1) g_outDir = std::string(argv[1]) + "\\";
    HDC hScreen = ::GetDC(NULL);
    std::printf("screen %dx%d at %d DPI\n", ::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN),
        ::GetDeviceCaps(hScreen, LOGPIXELSY));
    ::ReleaseDC(NULL, hScreen);
    class CShotApp : public CWinApp { };
    static CShotApp app;
    app.m_hInstance = ::GetModuleHandleA(NULL);
    AfxSocketInit();
    app.SetDialogBkColor(kClrDialogBk, kClrDialogText);
    SetPlaySoundHook([](LPCSTR, HMODULE, DWORD) -> BOOL { return TRUE; }); // pictures only
    return RUN_ALL_TESTS();
}
