// The shaped frame and the round buttons as a user sees them, read back as pixels: the caption
// strip in both activation states, the black line, the body, the rounded region, moving the
// window by dragging, and the faces and rims of the buttons in each state.
#include "tests/win/test_util.h"

#include "ui/Colors.h"
#include "ui/Contrast.h"
#include "ui/RoundButton.h"

#include <algorithm>
#include <cstdio>
#include <thread>

namespace {

// Runs fn on a thread of its own whose windows live on a desktop of their own, so that no
// other program's window can cover them while their pixels are read.
void OnOwnDesktop(const std::function<void()>& fn)
{
    std::thread worker([&] {
        static int serial = 0;
        char name[64];
        std::snprintf(name, sizeof name, "kelvaro-frame-%lu-%d", ::GetCurrentProcessId(), ++serial);
        HDESK hDesk = ::CreateDesktopA(name, NULL, NULL, 0, GENERIC_ALL, NULL);
        ASSERT_NE(hDesk, (HDESK)NULL) << "CreateDesktop failed: " << ::GetLastError();
        ASSERT_TRUE(::SetThreadDesktop(hDesk)) << "SetThreadDesktop failed: " << ::GetLastError();
        fn();
        ::CloseDesktop(hDesk);
    });
    worker.join();
}

// A 32-bit top-down picture that can be drawn into and read back.
class CPicture {
public:
    CPicture(int cx, int cy, COLORREF clrFill) : m_cx(cx), m_cy(cy)
    {
        BITMAPINFO bi = {};
        bi.bmiHeader.biSize = sizeof bi.bmiHeader;
        bi.bmiHeader.biWidth = cx;
        bi.bmiHeader.biHeight = -cy;
        bi.bmiHeader.biPlanes = 1;
        bi.bmiHeader.biBitCount = 32;
        bi.bmiHeader.biCompression = BI_RGB;
        m_hDC = ::CreateCompatibleDC(NULL);
        m_hBmp = ::CreateDIBSection(m_hDC, &bi, DIB_RGB_COLORS, (void**)&m_pBits, NULL, 0);
        m_hOld = ::SelectObject(m_hDC, m_hBmp);
        Fill(0, 0, cx, cy, clrFill);
    }
    ~CPicture()
    {
        ::SelectObject(m_hDC, m_hOld);
        ::DeleteObject(m_hBmp);
        ::DeleteDC(m_hDC);
    }
    void Fill(int l, int t, int r, int b, COLORREF clr)
    {
        RECT rc = { l, t, r, b };
        HBRUSH h = ::CreateSolidBrush(clr);
        ::FillRect(m_hDC, &rc, h);
        ::DeleteObject(h);
    }
    COLORREF At(int x, int y) const
    {
        ::GdiFlush();
        DWORD v = m_pBits[y * m_cx + x];
        return RGB((v >> 16) & 0xFF, (v >> 8) & 0xFF, v & 0xFF);
    }
    HDC m_hDC;
    int m_cx, m_cy;

private:
    HBITMAP m_hBmp;
    HGDIOBJ m_hOld;
    DWORD* m_pBits = nullptr;
};

std::string Rgb(COLORREF c)
{
    char buf[32];
    std::snprintf(buf, sizeof buf, "RGB(%d,%d,%d)", GetRValue(c), GetGValue(c), GetBValue(c));
    return buf;
}

// The strip (rows 0 to 18) as the window shows it now.
void CaptureStrip(HWND hWnd, CPicture& pic)
{
    HDC hdc = ::GetDC(hWnd);
    ::BitBlt(pic.m_hDC, 0, 0, pic.m_cx, pic.m_cy, hdc, 0, 0, SRCCOPY);
    ::ReleaseDC(hWnd, hdc);
}

// The strip as it should look: band, black line and the title centred in the caption font.
void DrawExpectedStrip(CPicture& pic, COLORREF clrBand, COLORREF clrText, const char* pszTitle, HFONT hFont)
{
    ::SelectObject(pic.m_hDC, hFont);
    pic.Fill(0, 0, pic.m_cx, 19, clrBand);
    pic.Fill(0, 18, pic.m_cx, 19, RGB(0, 0, 0));
    ::SetBkMode(pic.m_hDC, TRANSPARENT);
    ::SetTextColor(pic.m_hDC, clrText);
    RECT rc = { 0, 0, pic.m_cx, 19 };
    ::DrawTextA(pic.m_hDC, pszTitle, -1, &rc, DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
}

// Pixels of the two strips that differ between x0 and x1 (the rounded corners and the hide
// button at the right end are left out by the caller's range).
int StripDifferences(const CPicture& a, const CPicture& b, int x0, int x1, std::string* pFirst)
{
    int n = 0;
    for (int y = 0; y < 19; ++y)
        for (int x = x0; x < x1; ++x)
            if (a.At(x, y) != b.At(x, y)) {
                if (!n && pFirst)
                    *pFirst = "at (" + std::to_string(x) + "," + std::to_string(y) + ") got " +
                        Rgb(a.At(x, y)) + ", expected " + Rgb(b.At(x, y));
                ++n;
            }
    return n;
}

void Repaint(HWND hWnd)
{
    ::RedrawWindow(hWnd, NULL, NULL, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW | RDW_ALLCHILDREN);
}

} // namespace

TEST(FramePixels, CaptionStripFollowsActivationAndTitle)
{
    OnOwnDesktop([] {
        CPhoneDlgInTempDir dlg(kPortZero);
        ASSERT_TRUE(dlg.Create());
        const HWND h = dlg.m_hWnd;
        Repaint(h);
        RECT rc;
        ::GetClientRect(h, &rc);
        const int W = rc.right, H = rc.bottom;
        // The hide button sits at the right end of the strip.
        RECT rcHide;
        ::GetWindowRect(dlg.Item(IDC_BTN_HIDE), &rcHide);
        ::MapWindowPoints(NULL, h, (POINT*)&rcHide, 2);
        const int x0 = 20, x1 = rcHide.left - 2;
        ASSERT_GT(x1, W / 2);

        CPicture got(W, 19, RGB(255, 0, 255)), want(W, 19, RGB(255, 0, 255));
        std::string first;

        struct Step {
            UINT nState;
            COLORREF clrBand, clrText;
        };
        const Step steps[] = { { WA_INACTIVE, RGB(0, 66, 21), RGB(255, 255, 255) },
            { WA_CLICKACTIVE, RGB(13, 249, 157), RGB(25, 39, 122) },
            { WA_INACTIVE, RGB(0, 66, 21), RGB(255, 255, 255) },
            { WA_ACTIVE, RGB(13, 249, 157), RGB(25, 39, 122) } };
        for (const Step& s : steps) {
            // Activation repaints at once: no further pumping is needed to see it.
            ::SendMessageA(h, WM_ACTIVATE, s.nState, 0);
            CaptureStrip(h, got);
            EXPECT_EQ(Rgb(got.At(x0, 5)), Rgb(s.clrBand)) << "state " << s.nState;
            EXPECT_EQ(Rgb(got.At(x1 - 1, 12)), Rgb(s.clrBand)) << "state " << s.nState;
            DrawExpectedStrip(want, s.clrBand, s.clrText, "Kelvaro", dlg.CaptionFont());
            EXPECT_EQ(StripDifferences(got, want, x0, x1, &first), 0)
                << "state " << s.nState << ": " << first;
        }

        // The black line runs under the strip across the whole width.
        HDC hdc = ::GetDC(h);
        for (int x : { 0, 1, W / 3, W / 2, x1 - 1 })
            EXPECT_EQ(Rgb(::GetPixel(hdc, x, 18)), Rgb(RGB(0, 0, 0))) << "line at x=" << x;
        EXPECT_NE(Rgb(::GetPixel(hdc, W / 2, 19)), Rgb(RGB(0, 0, 0))) << "the line is more than one row";
        // The body is pale mint.
        EXPECT_EQ(Rgb(::GetPixel(hdc, 100, 100)), Rgb(RGB(193, 255, 214)));
        EXPECT_EQ(Rgb(::GetPixel(hdc, W / 2, H - 6)), Rgb(RGB(193, 255, 214)));
        ::ReleaseDC(h, hdc);

        // The same comparison tells the titles apart.
        CPicture other(W, 19, RGB(255, 0, 255));
        DrawExpectedStrip(other, RGB(13, 249, 157), RGB(25, 39, 122), "<未定義>", dlg.CaptionFont());
        ASSERT_GT(StripDifferences(want, other, x0, x1, nullptr), 0);

        // Without control 1010 the strip still paints, titled "<未定義>".
        ::DestroyWindow(dlg.Item(IDC_CAPTION));
        ASSERT_EQ(dlg.Item(IDC_CAPTION), (HWND)NULL);
        Repaint(h);
        CaptureStrip(h, got);
        EXPECT_EQ(StripDifferences(got, other, x0, x1, &first), 0) << first;
        dlg.Close();
    });
}

TEST(FramePixels, RoundedRegionCutsTheCornersOnly)
{
    CPhoneDlgInTempDir dlg(kPortZero);
    ASSERT_TRUE(dlg.Create());
    RECT rc;
    ::GetWindowRect(dlg.m_hWnd, &rc);
    const int W = rc.right - rc.left, H = rc.bottom - rc.top;
    HRGN hRgn = ::CreateRectRgn(0, 0, 0, 0);
    ASSERT_NE(::GetWindowRgn(dlg.m_hWnd, hRgn), ERROR) << "the window has no region";
    for (POINT pt :
        { POINT { 0, 0 }, POINT { W - 1, 0 }, POINT { 0, H - 1 }, POINT { W - 1, H - 1 }, POINT { 2, 2 } })
        EXPECT_FALSE(::PtInRegion(hRgn, pt.x, pt.y))
            << "corner point (" << pt.x << "," << pt.y << ") is inside";
    for (POINT pt : { POINT { W / 2, H / 2 }, POINT { W / 2, 0 }, POINT { 0, H / 2 }, POINT { W - 2, H / 2 },
             POINT { W / 2, H - 2 }, POINT { 16, 16 } })
        EXPECT_TRUE(::PtInRegion(hRgn, pt.x, pt.y)) << "point (" << pt.x << "," << pt.y << ") is outside";
    ::DeleteObject(hRgn);
    dlg.Close();
}

TEST(FrameDrag, DraggingTheBodyMovesTheWindowByTheMouseDelta)
{
    CPhoneDlgInTempDir dlg(kPortZero);
    ASSERT_TRUE(dlg.Create());
    const HWND h = dlg.m_hWnd;
    ::SetWindowPos(h, NULL, 100, 80, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    auto pos = [h] {
        RECT rc;
        ::GetWindowRect(h, &rc);
        return std::make_pair((int)rc.left, (int)rc.top);
    };
    ::SendMessageA(h, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(100, 8));
    EXPECT_EQ(::GetCapture(), h);
    // Client points are relative to where the window is at each message.
    ::SendMessageA(h, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(130, 0));
    EXPECT_EQ(pos(), std::make_pair(130, 72));
    ::SendMessageA(h, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(95, 18));
    EXPECT_EQ(pos(), std::make_pair(125, 82));
    ::SendMessageA(h, WM_LBUTTONUP, 0, MAKELPARAM(110, 13));
    EXPECT_EQ(pos(), std::make_pair(135, 87));
    EXPECT_NE(::GetCapture(), h) << "the capture was kept after the release";
    ::SendMessageA(h, WM_MOUSEMOVE, 0, MAKELPARAM(200, 200));
    EXPECT_EQ(pos(), std::make_pair(135, 87)) << "moved after the drag ended";
    dlg.Close();
}

// ---------------------------------------------------------------------------------------------
// Round buttons, drawn through DrawItem into a picture of our own.

namespace {

const COLORREF kMarker = RGB(255, 0, 255);

class RoundButtonPixels : public ::testing::Test {
protected:
    RoundButtonPixels()
        : m_light(RGB(221, 255, 232)),
          m_medium(RGB(102, 255, 153)),
          m_dark(RGB(0, 66, 21)),
          m_pic(100, 60, kMarker)
    {
        m_button.SetBrushes(&m_light, &m_medium, &m_dark);
    }
    void Draw(UINT nState, UINT nType = ODT_BUTTON)
    {
        m_pic.Fill(0, 0, m_pic.m_cx, m_pic.m_cy, kMarker);
        DRAWITEMSTRUCT dis = {};
        dis.CtlType = nType;
        dis.itemAction = ODA_DRAWENTIRE;
        dis.itemState = nState;
        dis.hDC = m_pic.m_hDC;
        dis.rcItem = kItem;
        m_button.DrawItem(&dis);
    }
    // Colours met walking from outside the item inwards along a line, each change recorded once.
    std::vector<std::string> Walk(int x, int y, int dx, int dy, int nSteps) const
    {
        std::vector<std::string> seen;
        for (int i = 0; i < nSteps; ++i, x += dx, y += dy) {
            std::string c = Rgb(m_pic.At(x, y));
            if (seen.empty() || seen.back() != c) seen.push_back(c);
        }
        return seen;
    }
    std::string Face() const { return Rgb(m_pic.At(40, 24)); }

    static constexpr RECT kItem = { 10, 10, 74, 42 };
    CBrush m_light, m_medium, m_dark;
    CRoundButton m_button; // no window: no caption to draw over the face
    CPicture m_pic;
};
constexpr RECT RoundButtonPixels::kItem;

const std::string kLight = Rgb(RGB(221, 255, 232));
const std::string kMedium = Rgb(RGB(102, 255, 153));
const std::string kDark = Rgb(RGB(0, 66, 21));
const std::string kMark = Rgb(kMarker);

} // namespace

TEST_F(RoundButtonPixels, EachStateHasItsFaceAndRims)
{
    struct Case {
        const char* pszName;
        UINT nState;
        std::string face, inner, outer;
    };
    const Case cases[] = {
        { "normal", 0, kLight, kLight, kMedium },
        { "focused", ODS_FOCUS, kLight, kDark, kMedium },
        { "pressed", ODS_SELECTED, kMedium, kLight, kLight },
        { "disabled", ODS_DISABLED, kDark, kLight, kDark },
        { "pressed and disabled", ODS_SELECTED | ODS_DISABLED, kMedium, kLight, kLight },
        { "disabled and focused", ODS_DISABLED | ODS_FOCUS, kDark, kDark, kDark },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszName);
        Draw(c.nState);
        EXPECT_EQ(Face(), c.face);
        // From below the button up through its lower edge, and from the right leftwards:
        // marker, outer rim, inner rim, face. Equal neighbours merge, so compare the sequence
        // with repeats removed.
        std::vector<std::string> want = { kMark, c.outer, c.inner, c.face };
        want.erase(std::unique(want.begin(), want.end()), want.end());
        EXPECT_EQ(Walk(42, 50, 0, -1, 26), want) << "upwards at the bottom centre";
        EXPECT_EQ(Walk(85, 26, -1, 0, 45), want) << "leftwards at the right middle";
        // The corners of the item rectangle keep what was there.
        for (POINT pt :
            { POINT { 10, 10 }, POINT { 73, 10 }, POINT { 10, 41 }, POINT { 73, 41 }, POINT { 0, 0 } })
            EXPECT_EQ(Rgb(m_pic.At(pt.x, pt.y)), kMark) << "at (" << pt.x << "," << pt.y << ")";
    }
}

TEST_F(RoundButtonPixels, DrawingLeavesTheDeviceContextAsItWas)
{
    HDC hdc = m_pic.m_hDC;
    ::SetTextColor(hdc, RGB(1, 2, 3));
    ::SetBkMode(hdc, OPAQUE);
    HGDIOBJ hPen = ::GetCurrentObject(hdc, OBJ_PEN);
    HGDIOBJ hBrush = ::GetCurrentObject(hdc, OBJ_BRUSH);
    const int nLive = CGdiObject::LiveCount();
    Draw(ODS_SELECTED | ODS_FOCUS);
    EXPECT_EQ(::GetTextColor(hdc), RGB(1, 2, 3));
    EXPECT_EQ(::GetBkMode(hdc), OPAQUE);
    EXPECT_EQ(::GetCurrentObject(hdc, OBJ_PEN), hPen);
    EXPECT_EQ(::GetCurrentObject(hdc, OBJ_BRUSH), hBrush);
    EXPECT_EQ(CGdiObject::LiveCount(), nLive) << "the pen was not deleted";
}

TEST_F(RoundButtonPixels, OtherControlTypesDrawNothing)
{
    Draw(0, ODT_STATIC);
    for (int y = 0; y < m_pic.m_cy; y += 3)
        for (int x = 0; x < m_pic.m_cx; x += 3)
            ASSERT_EQ(Rgb(m_pic.At(x, y)), kMark) << "at (" << x << "," << y << ")";
}

TEST(RoundButtonWindows, ProgramButtonsShowTheirFaceOnTheBody)
{
    OnOwnDesktop([] {
        CPhoneDlgInTempDir dlg(kPortZero);
        ASSERT_TRUE(dlg.Create());
        Repaint(dlg.m_hWnd);
        const std::string body = Rgb(RGB(193, 255, 214));
        // "かける" is enabled (light face), "切る" disabled (dark face).
        for (auto [nID, face] :
            { std::make_pair(IDC_BTN_CALL, kLight), std::make_pair(IDC_BTN_HANGUP, kDark) }) {
            HWND hBtn = dlg.Item(nID);
            RECT rc;
            ::GetClientRect(hBtn, &rc);
            HDC hdc = ::GetDC(hBtn);
            // Left of the caption, on the face; the corners outside the ellipses show the body.
            EXPECT_EQ(Rgb(::GetPixel(hdc, rc.right / 8 + 2, rc.bottom / 2 - 2)), face) << "button " << nID;
            EXPECT_EQ(Rgb(::GetPixel(hdc, 0, 0)), body) << "button " << nID;
            EXPECT_EQ(Rgb(::GetPixel(hdc, rc.right - 1, rc.bottom - 1)), body) << "button " << nID;
            EXPECT_EQ(Rgb(::GetPixel(hdc, 0, rc.bottom - 1)), body) << "button " << nID;
            ::ReleaseDC(hBtn, hdc);
        }
        dlg.Close();
    });
}

// With high contrast the system's colours: the button's rim in the text colour round a face of
// the button colour, the focused face in the selection colour; the body and labels of the
// dialogs follow the setting when it changes, and the program's scheme comes back with it off.
TEST_F(RoundButtonPixels, HighContrastDrawsInTheSystemColours)
{
    SetHighContrastHook([] { return true; });
    const std::string text = Rgb(::GetSysColor(COLOR_WINDOWTEXT)), face = Rgb(::GetSysColor(COLOR_BTNFACE));
    const std::string focus = Rgb(::GetSysColor(COLOR_HIGHLIGHT));
    Draw(0);
    EXPECT_EQ(Face(), face);
    // Upwards from below: the rim, the inner rim, the face's outline, the face.
    EXPECT_EQ(Walk(42, 50, 0, -1, 26), (std::vector<std::string> { kMark, text, face, text, face }));
    Draw(ODS_FOCUS);
    EXPECT_EQ(Face(), focus);
    EXPECT_EQ(Walk(42, 50, 0, -1, 26), (std::vector<std::string> { kMark, text, focus, text, focus }));
    // The outline goes all round: also at the top, where the program's scheme shows the face.
    EXPECT_EQ(Walk(40, 4, 0, 1, 12), (std::vector<std::string> { kMark, text, focus }));
    SetHighContrastHook(nullptr);
}

TEST(HighContrast, DialogColoursFollowTheSettingWhenItChanges)
{
    CPhoneDlgInTempDir dlg(kPortZero);
    ASSERT_TRUE(dlg.Create());
    CWinApp* pApp = AfxGetApp();
    ASSERT_NE(pApp, nullptr);
    EXPECT_EQ(Rgb(pApp->GetDialogBkColor()), Rgb(RGB(193, 255, 214)));
    SetHighContrastHook([] { return true; });
    ::SendMessageA(dlg.m_hWnd, WM_SETTINGCHANGE, SPI_SETHIGHCONTRAST, 0);
    EXPECT_EQ(Rgb(pApp->GetDialogBkColor()), Rgb(::GetSysColor(COLOR_WINDOW)));
    EXPECT_EQ(Rgb(pApp->GetDialogTextColor()), Rgb(::GetSysColor(COLOR_WINDOWTEXT)));
    SetHighContrastHook([] { return false; });
    ::SendMessageA(dlg.m_hWnd, WM_SYSCOLORCHANGE, 0, 0);
    EXPECT_EQ(Rgb(pApp->GetDialogBkColor()), Rgb(RGB(193, 255, 214)));
    EXPECT_EQ(Rgb(pApp->GetDialogTextColor()), Rgb(RGB(0, 0, 0)));
    SetHighContrastHook(nullptr);
    dlg.Close();
}
