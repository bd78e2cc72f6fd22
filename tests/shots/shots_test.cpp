// Renders the program's windows on a real (virtual) display and saves each as a bitmap, for
// people to look at: the main window idle, calling, ringing and talking, the name dialog, the
// version box, the missed calls and the popup menu. Run by scripts/screenshots.sh under Xvfb.
#include "tests/win/test_util.h"

#include "ui/AboutDlg.h"
#include "ui/MissedCallsDlg.h"
#include "phonebook/NameDlg.h"
#include "ui/Sound.h"

#include <cstdio>

namespace {

std::string g_outDir = ".\\";

// Copies what the screen shows in the rectangle into a 24-bit BMP file.
bool SaveScreenRect(const RECT& rc, const std::string& name)
{
    const int w = rc.right - rc.left, h = rc.bottom - rc.top;
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
    ::BitBlt(hMem, 0, 0, w, h, hScreen, rc.left, rc.top, SRCCOPY);
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
    return true;
}

void SaveWindow(HWND hWnd, const std::string& name)
{
    ::SetWindowPos(hWnd, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_SHOWWINDOW);
    ::RedrawWindow(hWnd, NULL, NULL, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    PumpFor(400);
    RECT rc;
    ::GetWindowRect(hWnd, &rc);
    SaveScreenRect(rc, name);
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
    ::SetWindowPos(north.m_hWnd, NULL, 10, 10, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    ::SetWindowPos(south.m_hWnd, NULL, 620, 10, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    PumpFor(300);
    SaveWindow(north.m_hWnd, "main-idle.bmp");

    char port[16];
    wsprintfA(port, "%u", south.ListeningPort());
    north.SetItemText(IDC_EDIT_ADDRESS, "127.0.0.1");
    north.SetItemText(IDC_EDIT_PORT, port);
    north.Click(IDC_BTN_CALL);
    ASSERT_TRUE(
        PumpUntil([&] { return south.Ringing() && north.OutConnected() && !south.PartnerName().IsEmpty(); }));
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
    SaveScreenRect(rc, "popup-menu.bmp");
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
    ::SetWindowPos(dlg.m_hWnd, NULL, 10, 10, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
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

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    if (argc > 1) g_outDir = std::string(argv[1]) + "\\";
    class CShotApp : public CWinApp { };
    static CShotApp app;
    app.m_hInstance = ::GetModuleHandleA(NULL);
    AfxSocketInit();
    app.SetDialogBkColor(kClrDialogBk, kClrDialogText);
    SetPlaySoundHook([](LPCSTR, HMODULE, DWORD) -> BOOL { return TRUE; }); // pictures only
    return RUN_ALL_TESTS();
}
