// Display scales: the main window follows WM_DPICHANGED (sent by Windows when the window moves
// to a monitor of another scale) in its size, fonts, controls, caption strip and corners, and
// comes back to 100 % unchanged; the port box shows the widest port at every scale; the lists'
// scrolling extents and the notification-area icon follow the scale.
// The tests run at 96 DPI; make screenshots shows the windows created at each scale.
#include "tests/win/test_util.h"

#include "call/LineList.h"
#include "ui/DisplayScale.h"
#include "ui/TrayIcon.h"

#include <cstdio>
#include <thread>

namespace {

// The window's rectangle at another scale, as Windows suggests it: same place, size scaled.
RECT Suggested(const RECT& rcAt96, UINT nDpi)
{
    return { rcAt96.left, rcAt96.top, rcAt96.left + ::MulDiv(rcAt96.right - rcAt96.left, (int)nDpi, 96),
        rcAt96.top + ::MulDiv(rcAt96.bottom - rcAt96.top, (int)nDpi, 96) };
}

// As Windows sends it: the new DPI in both words, and the suggested rectangle.
void MoveToScale(HWND hWnd, UINT nDpi, const RECT& rcAt96)
{
    RECT rc = Suggested(rcAt96, nDpi);
    ::SendMessageA(hWnd, WM_DPICHANGED, MAKEWPARAM(nDpi, nDpi), (LPARAM)&rc);
}

RECT ItemRect(HWND hDlg, int nID)
{
    RECT rc;
    ::GetWindowRect(::GetDlgItem(hDlg, nID), &rc);
    ::MapWindowPoints(NULL, hDlg, (POINT*)&rc, 2);
    return rc;
}

std::string Text(const RECT& rc)
{
    char buf[64];
    std::snprintf(buf, sizeof buf, "(%ld,%ld)-(%ld,%ld)", rc.left, rc.top, rc.right, rc.bottom);
    return buf;
}

RECT Scaled(const RECT& rc, UINT nDpi)
{
    auto s = [nDpi](LONG n) { return (LONG)::MulDiv(n, (int)nDpi, 96); };
    return { s(rc.left), s(rc.top), s(rc.right), s(rc.bottom) };
}

LONG FontHeight(HWND hWnd)
{
    LOGFONTA lf = {};
    ::GetObjectA((HGDIOBJ)::SendMessageA(hWnd, WM_GETFONT, 0, 0), sizeof lf, &lf);
    return lf.lfHeight;
}

int TextWidth(HWND hWnd, const char* pszText)
{
    HDC hdc = ::GetDC(hWnd);
    HGDIOBJ hOld = ::SelectObject(hdc, (HGDIOBJ)::SendMessageA(hWnd, WM_GETFONT, 0, 0));
    SIZE size = {};
    ::GetTextExtentPoint32A(hdc, pszText, lstrlenA(pszText), &size);
    ::SelectObject(hdc, hOld);
    ::ReleaseDC(hWnd, hdc);
    return size.cx;
}

// The text, and the caret after it, fit in the box's formatting rectangle (its client area
// less the margins) in the box's font.
::testing::AssertionResult ShowsWhole(HWND hEdit, const char* pszText)
{
    RECT rc;
    ::SendMessageA(hEdit, EM_GETRECT, 0, (LPARAM)&rc);
    const int nWidth = TextWidth(hEdit, pszText);
    if (nWidth + 1 <= rc.right - rc.left) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
        << "\"" << pszText << "\" is " << nWidth << " pixels wide, the box shows " << rc.right - rc.left;
}

// Runs fn on a thread whose windows live on a desktop of their own, so that nothing covers
// them while their pixels are read.
void OnOwnDesktop(const std::function<void()>& fn)
{
    std::thread worker([&] {
        char name[64];
        std::snprintf(name, sizeof name, "kelvaro-dpi-%lu", ::GetCurrentProcessId());
        HDESK hDesk = ::CreateDesktopA(name, NULL, NULL, 0, GENERIC_ALL, NULL);
        ASSERT_TRUE(hDesk && ::SetThreadDesktop(hDesk)) << "no desktop of our own: " << ::GetLastError();
        fn();
        ::CloseDesktop(hDesk);
    });
    worker.join();
}

bool IsBlack(COLORREF c) { return c == RGB(0, 0, 0); }

struct Scale {
    UINT nDpi;
    LONG lFontHeight; // of 9 points
    int nBand, nLine; // caption strip rows
    int nCorner; // radius of the rounded corners
};
const Scale kScales[] = { { 120, -15, 23, 1, 20 }, { 144, -18, 27, 2, 24 }, { 192, -24, 36, 2, 32 },
    { 96, -12, 18, 1, 16 } };

} // namespace

TEST(DisplayScale, MainWindowFollowsEachScaleAndComesBackUnchanged)
{
    OnOwnDesktop([] {
        CPhoneDlgInTempDir dlg(kPortZero);
        ASSERT_TRUE(dlg.Create());
        const HWND h = dlg.m_hWnd;
        dlg.SetItemText(IDC_EDIT_PORT, "65535");
        ASSERT_EQ(WindowDpi(h), 96u) << "the tests run at 100 %";
        RECT rcWindow;
        ::GetWindowRect(h, &rcWindow);
        const int ids[] = { IDC_EDIT_SEND, IDC_BTN_REGISTER, IDC_LIST_RECEIVE, IDC_BTN_HIDE, IDC_EDIT_PORT };
        std::vector<RECT> at96;
        for (int nID : ids) at96.push_back(ItemRect(h, nID));
        EXPECT_EQ(FontHeight(dlg.Item(IDC_EDIT_SEND)), -12);

        for (const Scale& s : kScales) {
            SCOPED_TRACE(std::to_string(s.nDpi) + " DPI");
            MoveToScale(h, s.nDpi, rcWindow);
            RECT rc;
            ::GetWindowRect(h, &rc);
            EXPECT_EQ(Text(rc), Text(Suggested(rcWindow, s.nDpi)))
                << "the window takes the suggested rectangle";
            for (size_t i = 0; i < at96.size(); ++i)
                EXPECT_EQ(Text(ItemRect(h, ids[i])), Text(Scaled(at96[i], s.nDpi))) << "control " << ids[i];
            EXPECT_EQ(FontHeight(dlg.Item(IDC_EDIT_SEND)), s.lFontHeight);
            EXPECT_TRUE(ShowsWhole(dlg.Item(IDC_EDIT_PORT), "65535"));

            // The strip: band, black line, body, a third of the way across.
            HDC hdc = ::GetDC(h);
            const int x = (rc.right - rc.left) / 3;
            EXPECT_FALSE(IsBlack(::GetPixel(hdc, x, s.nBand - 1))) << "band";
            EXPECT_TRUE(IsBlack(::GetPixel(hdc, x, s.nBand))) << "line";
            EXPECT_TRUE(IsBlack(::GetPixel(hdc, x, s.nBand + s.nLine - 1))) << "line";
            EXPECT_FALSE(IsBlack(::GetPixel(hdc, x, s.nBand + s.nLine))) << "body";
            ::ReleaseDC(h, hdc);

            // The corners: a point at a quarter of the radius from the corner is cut off, one at
            // half of it is inside.
            HRGN hRgn = ::CreateRectRgn(0, 0, 0, 0);
            ASSERT_NE(::GetWindowRgn(h, hRgn), ERROR);
            const int q = s.nCorner / 4, half = s.nCorner / 2;
            EXPECT_FALSE(::PtInRegion(hRgn, q, q)) << "at " << q;
            EXPECT_TRUE(::PtInRegion(hRgn, half, half)) << "at " << half;
            ::DeleteObject(hRgn);
        }
        dlg.Close();
    });
}

TEST(DisplayScale, ListExtentStillReachesTheLongestLine)
{
    CPhoneDlgInTempDir dlg(kPortZero);
    ASSERT_TRUE(dlg.Create());
    auto* pList = dynamic_cast<CListBox*>(CWnd::FromHandlePermanent(dlg.Item(IDC_LIST_RECEIVE)));
    ASSERT_NE(pList, nullptr);
    const char kLine[] = "長い行: The quick brown fox jumps over the lazy dog, 0123456789 あいうえお ｱｲｳｴｵ "
                         "WWWWWWWWWWiiiiiiiiii 漢字かな交じりの文章がもう少し続きます。";
    CTextMeasure measure;
    AddLines(*pList, { CString(kLine) }, measure);
    RECT rcWindow;
    ::GetWindowRect(dlg.m_hWnd, &rcWindow);
    for (UINT nDpi : { 144u, 192u, 120u }) {
        MoveToScale(dlg.m_hWnd, nDpi, rcWindow);
        const int nExtent = (int)::SendMessageA(pList->m_hWnd, LB_GETHORIZONTALEXTENT, 0, 0);
        EXPECT_GE(nExtent, TextWidth(pList->m_hWnd, kLine)) << nDpi << " DPI";
    }
    dlg.Close();
}

// Run as the program runs it: DoModal and its own message loop, the move to another monitor
// arriving in the middle of it.
TEST(DisplayScale, TheModalRunFollowsAMoveToAnotherScale)
{
    static struct {
        CPhoneDlgInTempDir* pDlg;
        RECT rcAt96, rcAfter;
        LONG lFont;
        bool bWhole;
    } run;
    CPhoneDlgInTempDir dlg(kPortZero);
    run = { &dlg, {}, {}, 0, false };
    UINT_PTR nMove = ::SetTimer(NULL, 0, 300, [](HWND, UINT, UINT_PTR nTimer, DWORD) {
        ::KillTimer(NULL, nTimer);
        HWND h = run.pDlg->m_hWnd;
        run.pDlg->SetItemText(IDC_EDIT_PORT, "65535");
        ::GetWindowRect(h, &run.rcAt96);
        MoveToScale(h, 144, run.rcAt96);
        ::GetWindowRect(h, &run.rcAfter);
        run.lFont = FontHeight(run.pDlg->Item(IDC_EDIT_ADDRESS));
        run.bWhole = ShowsWhole(run.pDlg->Item(IDC_EDIT_PORT), "65535");
        run.pDlg->PostMessage(WM_COMMAND, IDCANCEL);
    });
    UINT_PTR nStuck = ::SetTimer(NULL, 0, 8000, [](HWND, UINT, UINT_PTR nTimer, DWORD) {
        ::KillTimer(NULL, nTimer);
        run.pDlg->EndDialog(999);
    });
    EXPECT_EQ(dlg.DoModal(), IDCANCEL) << "999: the run was ended by the safety timer";
    ::KillTimer(NULL, nMove);
    ::KillTimer(NULL, nStuck);
    EXPECT_EQ(Text(run.rcAfter), Text(Suggested(run.rcAt96, 144)));
    EXPECT_EQ(run.lFont, -18);
    EXPECT_TRUE(run.bWhole) << "\"65535\" does not show whole at 144 DPI";
}

TEST(DisplayScale, TrayIconHasTheSmallIconSizeOfTheScale)
{
    for (auto [nDpi, nSize] : { std::make_pair(96u, 16), std::make_pair(120u, 20), std::make_pair(144u, 24),
             std::make_pair(192u, 32) })
        EXPECT_EQ(CTrayIcon::IconSize(nDpi), nSize) << nDpi << " DPI";

    static HICON s_hIcon;
    SetShellNotifyIconHook(
        [](DWORD, PNOTIFYICONDATAA pData) -> BOOL { return (s_hIcon = pData->hIcon) != NULL; });
    EXPECT_TRUE(CTrayIcon().AddResourceIcon(NULL, 1, WM_USER + 2, IDR_MAINFRAME, "Kelvaro"));
    SetShellNotifyIconHook(nullptr);
    ICONINFO info = {};
    ASSERT_TRUE(::GetIconInfo(s_hIcon, &info)) << "no icon was handed to the shell";
    BITMAP bm = {};
    ::GetObjectA(info.hbmColor, sizeof bm, &bm);
    EXPECT_EQ(bm.bmWidth, 16) << "the 16-pixel image at 96 DPI";
    ::DeleteObject(info.hbmColor);
    ::DeleteObject(info.hbmMask);
}
