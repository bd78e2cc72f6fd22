// The framework layer under Wine: message maps, data exchange and subclassing, modal runs,
// dialog colours, GDI wrappers and menus. Dialogs come from the program's own templates
// (137: name dialog, 100: version box), created modeless unless the modal run is the subject.
#include "tests/win/test_util.h"

#include "ui/Colors.h"

#include <string>
#include <vector>

namespace {

const UINT WM_TEST_PING = WM_USER + 21; // in both maps: the derived entry must win
const UINT WM_TEST_BASEONLY = WM_USER + 22; // only in the base map
const UINT WM_TEST_ARGS = WM_USER + 23; // wParam/lParam in, result out
const UINT WM_TEST_PROBE = WM_USER + 24; // in a subclassed button's own map
const UINT WM_TEST_OPENBOX = WM_USER + 25; // handler opens a message box
const UINT WM_TEST_POSTED = WM_USER + 26; // posted before the box opens
const UINT WM_TEST_INRUN = WM_USER + 27; // posted into a modal run

std::string Hex(LRESULT v)
{
    char buf[32];
    wsprintfA(buf, "0x%I64x", (unsigned long long)v);
    return buf;
}

std::string WindowText(HWND h)
{
    char buf[512] = "";
    ::GetWindowTextA(h, buf, sizeof buf);
    return buf;
}

// A visible message box or dialog of this thread other than the given window.
HWND FindOtherDialog(HWND hExcept)
{
    struct Ctx {
        HWND except;
        HWND found;
    } ctx = { hExcept, NULL };
    ::EnumThreadWindows(
        ::GetCurrentThreadId(),
        [](HWND h, LPARAM l) -> BOOL {
            Ctx* c = (Ctx*)l;
            char cls[32] = "";
            ::GetClassNameA(h, cls, sizeof cls);
            if (h != c->except && ::IsWindowVisible(h) && lstrcmpA(cls, "#32770") == 0) {
                c->found = h;
                return FALSE;
            }
            return TRUE;
        },
        (LPARAM)&ctx);
    return ctx.found;
}

// A 32-bit memory canvas to paint into and read pixels from.
class CCanvas {
public:
    CCanvas(int cx, int cy)
    {
        BITMAPINFO bmi = {};
        bmi.bmiHeader.biSize = sizeof bmi.bmiHeader;
        bmi.bmiHeader.biWidth = cx;
        bmi.bmiHeader.biHeight = -cy;
        bmi.bmiHeader.biPlanes = 1;
        bmi.bmiHeader.biBitCount = 32;
        void* bits = nullptr;
        m_hdc = ::CreateCompatibleDC(NULL);
        m_hbm = ::CreateDIBSection(m_hdc, &bmi, DIB_RGB_COLORS, &bits, NULL, 0);
        m_hOld = ::SelectObject(m_hdc, m_hbm);
        RECT rc = { 0, 0, cx, cy };
        ::FillRect(m_hdc, &rc, (HBRUSH)::GetStockObject(WHITE_BRUSH));
    }
    ~CCanvas()
    {
        ::SelectObject(m_hdc, m_hOld);
        ::DeleteObject(m_hbm);
        ::DeleteDC(m_hdc);
    }
    HDC Dc() const { return m_hdc; }
    COLORREF Pixel(int x, int y) const { return ::GetPixel(m_hdc, x, y); }

private:
    HDC m_hdc;
    HBITMAP m_hbm;
    HGDIOBJ m_hOld;
};

std::string Rgb(COLORREF c)
{
    char buf[40];
    wsprintfA(buf, "RGB(%d,%d,%d)", GetRValue(c), GetGValue(c), GetBValue(c));
    return buf;
}

// ---------------------------------------------------------------------------------------------
// Two dialogs on the name dialog's template, the second derived from the first, each with its
// own map; both record which handler ran.

class CBaseMapDlg : public CDialog {
public:
    CBaseMapDlg() : CDialog(IDD_NAME) { }
    ~CBaseMapDlg() override
    {
        if (m_hWnd) ::DestroyWindow(m_hWnd);
    }
    std::vector<std::string> calls;

    LRESULT OnPingBase(WPARAM, LPARAM)
    {
        calls.push_back("base ping");
        return 100;
    }
    LRESULT OnBaseOnly(WPARAM, LPARAM)
    {
        calls.push_back("base only");
        return 200;
    }
    void OnNameClickedBase() { calls.push_back("base clicked"); }
    void OnDestroy()
    {
        calls.push_back("base destroy");
        CDialog::OnDestroy();
    }

    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CBaseMapDlg, CDialog)
ON_MESSAGE(WM_TEST_PING, OnPingBase)
ON_MESSAGE(WM_TEST_BASEONLY, OnBaseOnly)
ON_BN_CLICKED(IDC_EDIT_MYNAME, OnNameClickedBase)
ON_WM_DESTROY()
END_MESSAGE_MAP()

class CDerivedMapDlg : public CBaseMapDlg {
public:
    WPARAM gotWParam = 0;
    LPARAM gotLParam = 0;

    LRESULT OnPingDerived(WPARAM, LPARAM)
    {
        calls.push_back("derived ping");
        return 111;
    }
    LRESULT OnArgs(WPARAM wParam, LPARAM lParam)
    {
        calls.push_back("args");
        gotWParam = wParam;
        gotLParam = lParam;
        return (LRESULT)(lParam ^ (LPARAM)wParam);
    }
    void OnNameClicked() { calls.push_back("clicked"); }
    void OnNameSelChange() { calls.push_back("selchange"); }
    void OnMenuCommand() { calls.push_back("menu"); }
    void OnOK() override { calls.push_back("OnOK"); }
    void OnCancel() override { calls.push_back("OnCancel"); }

    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CDerivedMapDlg, CBaseMapDlg)
ON_MESSAGE(WM_TEST_PING, OnPingDerived)
ON_MESSAGE(WM_TEST_ARGS, OnArgs)
ON_BN_CLICKED(IDC_EDIT_MYNAME, OnNameClicked)
ON_CBN_SELCHANGE(IDC_EDIT_MYNAME, OnNameSelChange)
ON_COMMAND(ID_RESTORE, OnMenuCommand)
END_MESSAGE_MAP()

std::string Calls(const std::vector<std::string>& v)
{
    std::string s;
    for (const auto& c : v) s += (s.empty() ? "" : ", ") + c;
    return "[" + s + "]";
}

} // namespace

TEST(PlatformMessageMap, LooksUpFromTheMostDerivedMapTowardsTheBase)
{
    CDerivedMapDlg dlg;
    ASSERT_TRUE(dlg.Create(IDD_NAME));

    LRESULT r = ::SendMessageA(dlg.m_hWnd, WM_TEST_PING, 0, 0);
    EXPECT_EQ(r, 111) << "the derived handler must answer a message both maps list; got " << r;
    EXPECT_EQ(Calls(dlg.calls), "[derived ping]");

    dlg.calls.clear();
    r = ::SendMessageA(dlg.m_hWnd, WM_TEST_BASEONLY, 0, 0);
    EXPECT_EQ(r, 200) << "an entry only in the base map must still run; got " << r;
    EXPECT_EQ(Calls(dlg.calls), "[base only]");

    // Not in any map: the window's own processing sets the text.
    dlg.calls.clear();
    ::SendMessageA(dlg.m_hWnd, WM_SETTEXT, 0, (LPARAM) "map test");
    EXPECT_EQ(WindowText(dlg.m_hWnd), "map test") << "an unmapped message must get default processing";
    EXPECT_EQ(Calls(dlg.calls), "[]");

    // A fixed-name handler listed in the base map runs for the derived object too.
    ::DestroyWindow(dlg.m_hWnd);
    EXPECT_EQ(Calls(dlg.calls), "[base destroy]");
    EXPECT_EQ(dlg.m_hWnd, (HWND)NULL) << "the object must be unlinked once its window is gone";
}

TEST(PlatformMessageMap, RoutesCommandsByNotificationCodeAndId)
{
    CDerivedMapDlg dlg;
    ASSERT_TRUE(dlg.Create(IDD_NAME));
    HWND hEdit = ::GetDlgItem(dlg.m_hWnd, IDC_EDIT_MYNAME);

    ::SendMessageA(dlg.m_hWnd, WM_COMMAND, MAKEWPARAM(IDC_EDIT_MYNAME, BN_CLICKED), (LPARAM)hEdit);
    ::SendMessageA(dlg.m_hWnd, WM_COMMAND, MAKEWPARAM(IDC_EDIT_MYNAME, CBN_SELCHANGE), (LPARAM)hEdit);
    // Same id, a code no map lists: no handler.
    ::SendMessageA(dlg.m_hWnd, WM_COMMAND, MAKEWPARAM(IDC_EDIT_MYNAME, EN_KILLFOCUS), (LPARAM)hEdit);
    // A menu command (code 0, no control).
    ::SendMessageA(dlg.m_hWnd, WM_COMMAND, MAKEWPARAM(ID_RESTORE, 0), 0);
    // A click on another id reaches no one of these handlers.
    ::SendMessageA(dlg.m_hWnd, WM_COMMAND, MAKEWPARAM(IDC_EDIT_MYNAME + 1, BN_CLICKED), 0);
    // The derived BN_CLICKED entry hides the base's entry for the same id and code.
    EXPECT_EQ(Calls(dlg.calls), "[clicked, selchange, menu]");
}

TEST(PlatformMessageMap, PrivateMessageHandlerGetsItsArgumentsAndReturnsItsResult)
{
    CDerivedMapDlg dlg;
    ASSERT_TRUE(dlg.Create(IDD_NAME));
    // Full pointer-sized values must survive on x64.
    const WPARAM w = (WPARAM)0x8765432112345678ULL;
    const LPARAM l = (LPARAM)0x00000ABC0000DEF0LL;
    LRESULT r = ::SendMessageA(dlg.m_hWnd, WM_TEST_ARGS, w, l);
    EXPECT_EQ(Hex((LRESULT)dlg.gotWParam), Hex((LRESULT)w));
    EXPECT_EQ(Hex(dlg.gotLParam), Hex(l));
    EXPECT_EQ(Hex(r), Hex((LRESULT)(l ^ (LPARAM)w))) << "SendMessage must return the handler's result";

    // The same through the message queue.
    dlg.calls.clear();
    ::PostMessageA(dlg.m_hWnd, WM_TEST_ARGS, 7, -9);
    EXPECT_TRUE(PumpUntil([&] { return !dlg.calls.empty(); }, 2000))
        << "posted private message never handled";
    EXPECT_EQ(dlg.gotWParam, (WPARAM)7);
    EXPECT_EQ(dlg.gotLParam, (LPARAM)-9);
}

TEST(PlatformMessageMap, OkAndCancelButtonsReachTheOverriddenHandlers)
{
    CDerivedMapDlg dlg;
    ASSERT_TRUE(dlg.Create(IDD_NAME));
    ::SendMessageA(::GetDlgItem(dlg.m_hWnd, IDOK), BM_CLICK, 0, 0);
    ::SendMessageA(::GetDlgItem(dlg.m_hWnd, IDCANCEL), BM_CLICK, 0, 0);
    // A command sent as the keyboard interface sends it.
    ::SendMessageA(dlg.m_hWnd, WM_COMMAND, IDCANCEL, 0);
    EXPECT_EQ(Calls(dlg.calls), "[OnOK, OnCancel, OnCancel]");
    EXPECT_FALSE(dlg.IsEnded()) << "the overrides do not end the dialog, so it must still run";
}

// ---------------------------------------------------------------------------------------------
// DDX_Control and owner draw.

namespace {

class CProbeButton : public CButton {
public:
    int nProbes = 0;
    std::vector<DRAWITEMSTRUCT> draws;

    void DrawItem(LPDRAWITEMSTRUCT p) override
    {
        draws.push_back(*p);
        ::FillRect(p->hDC, &p->rcItem, (HBRUSH)::GetStockObject(BLACK_BRUSH));
    }
    LRESULT OnProbe(WPARAM, LPARAM)
    {
        ++nProbes;
        return 77;
    }

    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CProbeButton, CButton)
ON_MESSAGE(WM_TEST_PROBE, OnProbe)
END_MESSAGE_MAP()

class CDdxDlg : public CDialog {
public:
    CDdxDlg() : CDialog(IDD_NAME) { }
    ~CDdxDlg() override
    {
        if (m_hWnd) ::DestroyWindow(m_hWnd);
    }
    CProbeButton m_btnOK;
    CProbeButton m_btnCancel;
    CString m_strName;

protected:
    void DoDataExchange(CDataExchange* pDX) override
    {
        DDX_Control(pDX, IDOK, m_btnOK);
        DDX_Control(pDX, IDCANCEL, m_btnCancel);
        DDX_Text(pDX, IDC_EDIT_MYNAME, m_strName);
    }
};

} // namespace

TEST(PlatformDdxControl, MemberButtonSeesItsControlsMessages)
{
    CDdxDlg dlg;
    ASSERT_TRUE(dlg.Create(IDD_NAME));
    HWND hOK = ::GetDlgItem(dlg.m_hWnd, IDOK);
    ASSERT_EQ(dlg.m_btnOK.m_hWnd, hOK) << "DDX_Control must link the member to control 1";
    EXPECT_EQ(CWnd::FromHandlePermanent(hOK), &dlg.m_btnOK);

    EXPECT_EQ(::SendMessageA(hOK, WM_TEST_PROBE, 0, 0), 77)
        << "the member's own map must see the control's messages";
    EXPECT_EQ(dlg.m_btnOK.nProbes, 1);
    EXPECT_EQ(dlg.m_btnCancel.nProbes, 0);
    // What the member does not map still reaches the button's own procedure.
    EXPECT_EQ(WindowText(hOK), "OK");
    ::SendMessageA(hOK, WM_SETTEXT, 0, (LPARAM) "Go");
    EXPECT_EQ(WindowText(hOK), "Go");
    // The button still tells its parent about clicks.
    ::SendMessageA(hOK, BM_CLICK, 0, 0);
    EXPECT_TRUE(dlg.IsEnded()) << "BM_CLICK on the subclassed OK button must still reach OnOK";
    EXPECT_EQ(dlg.GetEndResult(), IDOK);
}

TEST(PlatformDdxControl, OwnerDrawIsPassedBackToTheButtonObject)
{
    CDdxDlg dlg;
    ASSERT_TRUE(dlg.Create(IDD_NAME));
    HWND hOK = ::GetDlgItem(dlg.m_hWnd, IDOK);
    HWND hCancel = ::GetDlgItem(dlg.m_hWnd, IDCANCEL);

    // A real paint: the owner-drawn button asks its parent, which hands it to the object.
    ::ShowWindow(dlg.m_hWnd, SW_SHOWNOACTIVATE);
    ::RedrawWindow(hOK, NULL, NULL, RDW_INVALIDATE | RDW_UPDATENOW);
    ASSERT_FALSE(dlg.m_btnOK.draws.empty()) << "painting control 1 must call the member's DrawItem";
    const DRAWITEMSTRUCT& d = dlg.m_btnOK.draws.back();
    EXPECT_EQ(d.hwndItem, hOK);
    EXPECT_EQ(d.CtlID, (UINT)IDOK);
    EXPECT_EQ(d.CtlType, (UINT)ODT_BUTTON);
    EXPECT_NE(d.hDC, (HDC)NULL);
    for (const auto& x : dlg.m_btnCancel.draws)
        EXPECT_EQ(x.hwndItem, hCancel) << "the cancel button's object drew another control";

    // A request sent straight to the dialog: handled, TRUE, by the right object only.
    CCanvas canvas(40, 20);
    DRAWITEMSTRUCT dis = {};
    dis.CtlType = ODT_BUTTON;
    dis.CtlID = IDCANCEL;
    dis.itemAction = ODA_DRAWENTIRE;
    dis.hwndItem = hCancel;
    dis.hDC = canvas.Dc();
    dis.rcItem = { 0, 0, 40, 20 };
    size_t okBefore = dlg.m_btnOK.draws.size(), cancelBefore = dlg.m_btnCancel.draws.size();
    EXPECT_EQ(::SendMessageA(dlg.m_hWnd, WM_DRAWITEM, IDCANCEL, (LPARAM)&dis), TRUE);
    EXPECT_EQ(dlg.m_btnCancel.draws.size(), cancelBefore + 1);
    EXPECT_EQ(dlg.m_btnOK.draws.size(), okBefore);
    EXPECT_EQ(Rgb(canvas.Pixel(20, 10)), Rgb(RGB(0, 0, 0))) << "DrawItem must have drawn into the given DC";

    // A control no object is linked to is not passed anywhere.
    dis.hwndItem = ::GetDlgItem(dlg.m_hWnd, IDC_EDIT_MYNAME);
    ::SendMessageA(dlg.m_hWnd, WM_DRAWITEM, IDC_EDIT_MYNAME, (LPARAM)&dis);
    EXPECT_EQ(dlg.m_btnCancel.draws.size(), cancelBefore + 1);
    EXPECT_EQ(dlg.m_btnOK.draws.size(), okBefore);
}

TEST(PlatformDdxControl, AttachingTwiceIsHarmlessAndTheLinkEndsWithTheWindow)
{
    CDdxDlg dlg;
    ASSERT_TRUE(dlg.Create(IDD_NAME));
    HWND hOK = ::GetDlgItem(dlg.m_hWnd, IDOK);

    // A second exchange runs DDX_Control again; a second subclassing would chain the
    // framework's procedure to itself.
    dlg.UpdateData(FALSE);
    EXPECT_EQ(::SendMessageA(hOK, WM_TEST_PROBE, 0, 0), 77);
    EXPECT_EQ(dlg.m_btnOK.nProbes, 1) << "one message must reach the member exactly once";
    // Another object cannot take a control that is already linked.
    CProbeButton other;
    EXPECT_FALSE(other.SubclassWindow(hOK));
    EXPECT_EQ(CWnd::FromHandlePermanent(hOK), &dlg.m_btnOK);
    EXPECT_EQ(other.m_hWnd, (HWND)NULL);

    HWND hDlg = dlg.m_hWnd;
    ::DestroyWindow(hDlg);
    EXPECT_EQ(CWnd::FromHandlePermanent(hOK), nullptr)
        << "link to the control must be dropped at WM_NCDESTROY";
    EXPECT_EQ(CWnd::FromHandlePermanent(hDlg), nullptr)
        << "link to the dialog must be dropped at WM_NCDESTROY";
    EXPECT_EQ(dlg.m_btnOK.m_hWnd, (HWND)NULL);
    EXPECT_EQ(dlg.m_hWnd, (HWND)NULL);
}

TEST(PlatformDdxControl, ControlThatOutlivesItsObjectKeepsWorking)
{
    CDdxDlg dlg;
    ASSERT_TRUE(dlg.Create(IDD_NAME));
    HWND hEdit = ::GetDlgItem(dlg.m_hWnd, IDC_EDIT_MYNAME);
    {
        CProbeButton temp; // any CWnd will do
        ASSERT_TRUE(temp.SubclassWindow(hEdit));
        EXPECT_EQ(::SendMessageA(hEdit, WM_TEST_PROBE, 0, 0), 77);
    }
    EXPECT_EQ(CWnd::FromHandlePermanent(hEdit), nullptr);
    // The edit's own procedure is back: it works and nothing calls into the freed object.
    ::SetWindowTextA(hEdit, "after");
    EXPECT_EQ(WindowText(hEdit), "after");
    EXPECT_EQ(::SendMessageA(hEdit, WM_TEST_PROBE, 0, 0), 0);
}

// ---------------------------------------------------------------------------------------------
// DDX_Text

TEST(PlatformDdxText, EditGetsTheMemberAtInitAndTheMemberChangesOnlyOnOk)
{
    const CString original("山田 太郎");
    {
        CDdxDlg dlg;
        dlg.m_strName = original;
        ASSERT_TRUE(dlg.Create(IDD_NAME));
        HWND hEdit = ::GetDlgItem(dlg.m_hWnd, IDC_EDIT_MYNAME);
        EXPECT_EQ(WindowText(hEdit), original.str()) << "the edit must show the member's text at init";
        ::SetWindowTextA(hEdit, "鈴木");
        EXPECT_EQ(dlg.m_strName.str(), original.str()) << "typing must not change the member";
        ::SendMessageA(::GetDlgItem(dlg.m_hWnd, IDCANCEL), BM_CLICK, 0, 0);
        EXPECT_TRUE(dlg.IsEnded());
        EXPECT_EQ(dlg.GetEndResult(), IDCANCEL);
        EXPECT_EQ(dlg.m_strName.str(), original.str()) << "Cancel must leave the member as it was";
    }
    {
        CDdxDlg dlg;
        dlg.m_strName = original;
        ASSERT_TRUE(dlg.Create(IDD_NAME));
        ::SetWindowTextA(::GetDlgItem(dlg.m_hWnd, IDC_EDIT_MYNAME), "鈴木 花子");
        ::SendMessageA(::GetDlgItem(dlg.m_hWnd, IDOK), BM_CLICK, 0, 0);
        EXPECT_EQ(dlg.GetEndResult(), IDOK);
        EXPECT_EQ(dlg.m_strName.str(), std::string("鈴木 花子")) << "OK must copy the edit into the member";
    }
}

// ---------------------------------------------------------------------------------------------
// Modal loops

namespace {

class CBoxDlg : public CDialog {
public:
    CBoxDlg() : CDialog(IDD_NAME) { }
    ~CBoxDlg() override
    {
        if (m_hWnd) ::DestroyWindow(m_hWnd);
    }
    std::vector<std::string> events;
    bool bBoxOpenWhenPosted = false;
    size_t nBoxesAnsweredWhenPosted = 99;
    int nBoxResult = 0;

    LRESULT OnOpenBox(WPARAM, LPARAM)
    {
        PostMessage(WM_TEST_POSTED);
        events.push_back("box opens");
        nBoxResult = AfxMessageBox("テスト中です。");
        events.push_back("box closed");
        return 0;
    }
    LRESULT OnPosted(WPARAM, LPARAM)
    {
        events.push_back("posted");
        bBoxOpenWhenPosted = FindOtherDialog(m_hWnd) != NULL;
        nBoxesAnsweredWhenPosted = CModalCatcher::s_pActive ? CModalCatcher::s_pActive->boxes.size() : 99;
        return 0;
    }

    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CBoxDlg, CDialog)
ON_MESSAGE(WM_TEST_OPENBOX, OnOpenBox)
ON_MESSAGE(WM_TEST_POSTED, OnPosted)
END_MESSAGE_MAP()

} // namespace

TEST(PlatformModal, PostedMessageIsHandledWhileAMessageBoxIsOpen)
{
    CBoxDlg dlg;
    ASSERT_TRUE(dlg.Create(IDD_NAME));
    CModalCatcher catcher;
    dlg.PostMessage(WM_TEST_OPENBOX);
    ASSERT_TRUE(PumpUntil([&] { return dlg.events.size() >= 3; }, 5000))
        << "got " << dlg.events.size() << " events";
    EXPECT_EQ(Calls(dlg.events), "[box opens, posted, box closed]");
    EXPECT_TRUE(dlg.bBoxOpenWhenPosted) << "the posted message must run while the box is on screen";
    EXPECT_EQ(dlg.nBoxesAnsweredWhenPosted, 0u) << "the box was answered before the posted message ran";
    ASSERT_EQ(catcher.boxes.size(), 1u);
    EXPECT_EQ(catcher.boxes[0].strText, std::string("テスト中です。"));
    EXPECT_EQ(catcher.boxes[0].strCaption, "Kelvaro") << "the box's caption must be the application title";
    EXPECT_EQ(dlg.nBoxResult, IDOK);
}

namespace {

// Ends the modal run by itself after the given posted input; records the owner's state.
class CModalProbeDlg : public CDialog {
public:
    CModalProbeDlg(MSG endWith) : CDialog(IDD_NAME), m_end(endWith) { }
    HWND hOwnerSeen = NULL;
    int nOwnerEnabledDuringRun = -1;
    HWND hSelf = NULL;
    static HWND s_hRunning;

    BOOL OnInitDialog() override
    {
        CDialog::OnInitDialog();
        hSelf = s_hRunning = m_hWnd;
        PostMessage(WM_TEST_INRUN);
        HWND target = m_end.hwnd ? ::GetDlgItem(m_hWnd, (int)(INT_PTR)m_end.hwnd) : m_hWnd;
        ::PostMessageA(target, m_end.message, m_end.wParam, m_end.lParam);
        return TRUE;
    }
    LRESULT OnInRun(WPARAM, LPARAM)
    {
        hOwnerSeen = ::GetWindow(m_hWnd, GW_OWNER);
        nOwnerEnabledDuringRun = hOwnerSeen ? (::IsWindowEnabled(hOwnerSeen) ? 1 : 0) : -1;
        return 0;
    }

    DECLARE_MESSAGE_MAP()

private:
    MSG m_end; // hwnd holds a control id (0: the dialog itself)
};

HWND CModalProbeDlg::s_hRunning = NULL;

BEGIN_MESSAGE_MAP(CModalProbeDlg, CDialog)
ON_MESSAGE(WM_TEST_INRUN, OnInRun)
END_MESSAGE_MAP()

// A run that does not end by itself is ended with 999 after a while, so no test hangs.
void CALLBACK EndStuckDialog(HWND, UINT, UINT_PTR, DWORD)
{
    if (CModalProbeDlg::s_hRunning && ::IsWindow(CModalProbeDlg::s_hRunning))
        if (CDialog* pDlg = dynamic_cast<CDialog*>(CWnd::FromHandlePermanent(CModalProbeDlg::s_hRunning)))
            pDlg->EndDialog(999);
}

struct MainWindowScope {
    CDialog main { IDD_ABOUTBOX };
    CWnd* pSaved;
    MainWindowScope()
    {
        pSaved = AfxGetApp()->m_pMainWnd;
        main.Create(IDD_ABOUTBOX);
        AfxGetApp()->m_pMainWnd = &main;
    }
    ~MainWindowScope()
    {
        AfxGetApp()->m_pMainWnd = pSaved;
        if (main.m_hWnd) ::DestroyWindow(main.m_hWnd);
    }
};

INT_PTR RunModal(CModalProbeDlg& dlg)
{
    UINT_PTR timer = ::SetTimer(NULL, 0, 5000, EndStuckDialog);
    INT_PTR r = dlg.DoModal();
    ::KillTimer(NULL, timer);
    CModalProbeDlg::s_hRunning = NULL;
    return r;
}

MSG Input(int nCtlId, UINT message, WPARAM wParam, LPARAM lParam)
{
    MSG m = {};
    m.hwnd = (HWND)(INT_PTR)nCtlId;
    m.message = message;
    m.wParam = wParam;
    m.lParam = lParam;
    return m;
}

} // namespace

TEST(PlatformModal, DoModalReturnsTheCodeThatEndedTheRun)
{
    MainWindowScope scope;
    ASSERT_NE(scope.main.m_hWnd, (HWND)NULL);
    struct Case {
        const char* what;
        MSG input;
        INT_PTR expected;
    } cases[] = {
        { "posted IDOK", Input(0, WM_COMMAND, IDOK, 0), IDOK },
        { "posted IDCANCEL", Input(0, WM_COMMAND, IDCANCEL, 0), IDCANCEL },
        { "Escape in the edit", Input(IDC_EDIT_MYNAME, WM_KEYDOWN, VK_ESCAPE, 0x00010001), IDCANCEL },
        { "Enter in the edit", Input(IDC_EDIT_MYNAME, WM_KEYDOWN, VK_RETURN, 0x001C0001), IDOK },
    };
    for (const Case& c : cases) {
        CModalProbeDlg dlg(c.input);
        INT_PTR r = RunModal(dlg);
        EXPECT_EQ(r, c.expected) << c.what << " (999: the run did not end by itself)";
        EXPECT_EQ(dlg.hOwnerSeen, scope.main.m_hWnd)
            << c.what << ": without a parent the main window owns the dialog";
        EXPECT_EQ(dlg.nOwnerEnabledDuringRun, 0) << c.what << ": the owner must be disabled during the run";
        EXPECT_TRUE(::IsWindowEnabled(scope.main.m_hWnd))
            << c.what << ": the owner must be enabled again after";
        EXPECT_FALSE(::IsWindow(dlg.hSelf)) << c.what << ": the dialog window must be gone after DoModal";
        EXPECT_EQ(dlg.m_hWnd, (HWND)NULL) << c.what;
    }
}

// ---------------------------------------------------------------------------------------------
// Dialog colours (the test program sets the program's colours, as the application does).

namespace {

class CColorDlg : public CDialog {
public:
    explicit CColorDlg(UINT nID) : CDialog(nID) { }
    ~CColorDlg() override
    {
        if (m_hWnd) ::DestroyWindow(m_hWnd);
    }
};

COLORREF BrushColor(HBRUSH h, UINT* pStyle = nullptr)
{
    LOGBRUSH lb = {};
    if (!h || ::GetObjectA(h, sizeof lb, &lb) != sizeof lb) return CLR_INVALID;
    if (pStyle) *pStyle = lb.lbStyle;
    return lb.lbColor;
}

HWND FindChildByText(HWND hDlg, const char* text)
{
    for (HWND h = ::GetWindow(hDlg, GW_CHILD); h; h = ::GetWindow(h, GW_HWNDNEXT))
        if (WindowText(h) == text) return h;
    return NULL;
}

} // namespace

TEST(PlatformDialogColors, DialogAndStaticsAskForTheApplicationColours)
{
    CColorDlg dlg(IDD_NAME);
    ASSERT_TRUE(dlg.Create(IDD_NAME));
    CCanvas canvas(8, 8);
    HDC hdc = canvas.Dc();

    struct Case {
        const char* what;
        UINT msg;
        HWND hCtl;
    } cases[] = {
        { "WM_CTLCOLORDLG", WM_CTLCOLORDLG, dlg.m_hWnd },
        { "WM_CTLCOLORSTATIC from the label", WM_CTLCOLORSTATIC, FindChildByText(dlg.m_hWnd, "名前") },
        { "WM_CTLCOLORSTATIC from the caption static", WM_CTLCOLORSTATIC,
            ::GetDlgItem(dlg.m_hWnd, IDC_CAPTION) },
    };
    for (const Case& c : cases) {
        ASSERT_NE(c.hCtl, (HWND)NULL) << c.what;
        ::SetBkColor(hdc, RGB(1, 2, 3));
        ::SetTextColor(hdc, RGB(4, 5, 6));
        UINT style = 99;
        HBRUSH hbr = (HBRUSH)::SendMessageA(dlg.m_hWnd, c.msg, (WPARAM)hdc, (LPARAM)c.hCtl);
        EXPECT_EQ(Rgb(BrushColor(hbr, &style)), Rgb(kClrDialogBk)) << c.what << ": brush colour";
        EXPECT_EQ(style, (UINT)BS_SOLID) << c.what;
        EXPECT_EQ(Rgb(::GetBkColor(hdc)), Rgb(kClrDialogBk)) << c.what << ": DC background";
        EXPECT_EQ(Rgb(::GetTextColor(hdc)), Rgb(kClrDialogText)) << c.what << ": DC text";
    }

    // A disabled edit asks with WM_CTLCOLORSTATIC too; it keeps the system's look.
    HWND hEdit = ::GetDlgItem(dlg.m_hWnd, IDC_EDIT_MYNAME);
    ::EnableWindow(hEdit, FALSE);
    ::SetBkColor(hdc, RGB(1, 2, 3));
    HBRUSH hbr = (HBRUSH)::SendMessageA(dlg.m_hWnd, WM_CTLCOLORSTATIC, (WPARAM)hdc, (LPARAM)hEdit);
    EXPECT_NE(hbr, AfxGetApp()->GetDialogBkBrush()) << "a disabled edit must not get the dialog brush";
    EXPECT_NE(Rgb(BrushColor(hbr)), Rgb(kClrDialogBk));
    EXPECT_NE(Rgb(::GetBkColor(hdc)), Rgb(kClrDialogBk))
        << "a disabled edit's DC must not get the dialog colour";
}

TEST(PlatformDialogColors, BackgroundAndStaticsArePaintedInTheDialogColour)
{
    CColorDlg dlg(IDD_ABOUTBOX);
    ASSERT_TRUE(dlg.Create(IDD_ABOUTBOX));
    RECT rc;
    ::GetClientRect(dlg.m_hWnd, &rc);
    {
        CCanvas canvas(rc.right, rc.bottom);
        ::SendMessageA(dlg.m_hWnd, WM_ERASEBKGND, (WPARAM)canvas.Dc(), 0);
        EXPECT_EQ(Rgb(canvas.Pixel(rc.right - 2, rc.bottom - 2)), Rgb(kClrDialogBk)) << "dialog background";
        EXPECT_EQ(Rgb(canvas.Pixel(1, rc.bottom / 2)), Rgb(kClrDialogBk)) << "dialog background";
    }
    // A text static paints its whole rectangle; the right end of a short text is background.
    HWND hStatic = FindChildByText(dlg.m_hWnd, "文字で話すネットワーク電話");
    ASSERT_NE(hStatic, (HWND)NULL);
    RECT rs;
    ::GetClientRect(hStatic, &rs);
    CCanvas canvas(rs.right, rs.bottom);
    ::SendMessageA(hStatic, WM_PRINTCLIENT, (WPARAM)canvas.Dc(), PRF_CLIENT | PRF_ERASEBKGND);
    EXPECT_EQ(Rgb(canvas.Pixel(rs.right - 1, rs.bottom - 1)), Rgb(kClrDialogBk)) << "static background";
}

namespace {
class COwnColorDlg : public CColorDlg {
public:
    COwnColorDlg() : CColorDlg(IDD_NAME) { }
    CBrush m_brush { RGB(10, 20, 30) };
    LRESULT OnCtlColorStatic(WPARAM, LPARAM) { return (LRESULT)(HBRUSH)m_brush; }
    DECLARE_MESSAGE_MAP()
};
BEGIN_MESSAGE_MAP(COwnColorDlg, CColorDlg)
ON_MESSAGE(WM_CTLCOLORSTATIC, OnCtlColorStatic)
END_MESSAGE_MAP()
} // namespace

TEST(PlatformDialogColors, DialogsOwnHandlerComesBeforeTheApplicationColours)
{
    COwnColorDlg dlg;
    ASSERT_TRUE(dlg.Create(IDD_NAME));
    CCanvas canvas(8, 8);
    LRESULT r = ::SendMessageA(
        dlg.m_hWnd, WM_CTLCOLORSTATIC, (WPARAM)canvas.Dc(), (LPARAM)::GetDlgItem(dlg.m_hWnd, IDC_CAPTION));
    EXPECT_EQ((HBRUSH)r, (HBRUSH)dlg.m_brush);
}

// ---------------------------------------------------------------------------------------------
// GDI wrappers and menus

TEST(PlatformGdi, WrappersOwnTheirHandleUntilDetached)
{
    const int start = CGdiObject::LiveCount();
    HGDIOBJ hBrush;
    {
        CBrush brush(RGB(1, 2, 3));
        hBrush = brush.GetSafeHandle();
        EXPECT_EQ(::GetObjectType(hBrush), (DWORD)OBJ_BRUSH);
        EXPECT_EQ(CGdiObject::LiveCount(), start + 1);
    }
    EXPECT_EQ(::GetObjectType(hBrush), 0u) << "a brush must be deleted with its wrapper";
    EXPECT_EQ(CGdiObject::LiveCount(), start);

    HGDIOBJ hPen;
    {
        CPen pen(PS_SOLID, 1, RGB(9, 9, 9));
        hPen = pen.Detach();
        EXPECT_EQ(pen.GetSafeHandle(), (HGDIOBJ)NULL);
        EXPECT_EQ(CGdiObject::LiveCount(), start) << "a detached handle is no longer counted";
    }
    EXPECT_EQ(::GetObjectType(hPen), (DWORD)OBJ_PEN) << "a detached pen must survive its wrapper";
    ::DeleteObject(hPen);

    {
        CBrush brush;
        ASSERT_TRUE(brush.CreateSolidBrush(RGB(1, 1, 1)));
        HGDIOBJ hFirst = brush.GetSafeHandle();
        ASSERT_TRUE(brush.CreateSolidBrush(RGB(2, 2, 2)));
        EXPECT_EQ(::GetObjectType(hFirst), 0u) << "a replaced handle must be freed, not leaked";
        EXPECT_EQ(CGdiObject::LiveCount(), start + 1);
        HGDIOBJ hSecond = brush.GetSafeHandle();
        EXPECT_TRUE(brush.DeleteObject());
        EXPECT_EQ(::GetObjectType(hSecond), 0u);
        EXPECT_FALSE(brush.DeleteObject()) << "deleting twice must do nothing";
        EXPECT_EQ(CGdiObject::LiveCount(), start);
    }
    EXPECT_EQ(CGdiObject::LiveCount(), start);
}

TEST(PlatformGdi, CopyRgnMakesAnEqualButSeparateRegion)
{
    CRgn src;
    ASSERT_TRUE(src.CreateRoundRectRgn(0, 0, 120, 60, 20, 20));
    CRgn copy;
    EXPECT_NE(copy.CopyRgn(&src), ERROR);
    ASSERT_NE(copy.GetSafeHandle(), (HGDIOBJ)NULL);
    EXPECT_NE(copy.GetSafeHandle(), src.GetSafeHandle());
    EXPECT_TRUE(::EqualRgn(src, copy)) << "the copy must cover the same area";
    ::OffsetRgn(src, 5, 5);
    EXPECT_FALSE(::EqualRgn(src, copy)) << "changing the source must not change the copy";

    // Copying into an existing region keeps that region's handle.
    HGDIOBJ hKept = copy.GetSafeHandle();
    EXPECT_NE(copy.CopyRgn(&src), ERROR);
    EXPECT_EQ(copy.GetSafeHandle(), hKept);
    EXPECT_TRUE(::EqualRgn(src, copy));
}

TEST(PlatformMenu, LoadsTheTrayMenuAndFreesIt)
{
    HMENU hMenu;
    {
        CMenu menu;
        ASSERT_TRUE(menu.LoadMenu(IDR_MENU_TRAY));
        hMenu = menu.GetSafeHmenu();
        CMenu* pSub = menu.GetSubMenu(0);
        ASSERT_NE(pSub, nullptr);
        HMENU h = pSub->GetSafeHmenu();
        const UINT ids[] = { ID_RESTORE, 0, ID_MISSED_CALLS, ID_OPEN_LOG, ID_MESSAGES, ID_VERIFIED_CONTACTS,
            0, ID_DO_NOT_DISTURB, ID_AWAY, ID_LOG_ON, ID_SOUND_ON, ID_REQUIRE_SECURE, ID_NEARBY_ANNOUNCE,
            ID_START_WITH_WINDOWS, 0, ID_README, ID_HISTORY, ID_APP_ABOUT, 0, ID_APP_EXIT };
        const int nIds = (int)(sizeof ids / sizeof ids[0]);
        ASSERT_EQ(::GetMenuItemCount(h), nIds);
        for (int i = 0; i < nIds; ++i) EXPECT_EQ(::GetMenuItemID(h, i), ids[i]) << "item " << i;
        char text[64] = "";
        ::GetMenuStringA(h, 0, text, sizeof text, MF_BYPOSITION);
        EXPECT_EQ(std::string(text), std::string("元のサイズに戻す(&R)"));
        EXPECT_EQ(menu.GetSubMenu(5), nullptr) << "there is one popup only";
    }
    EXPECT_FALSE(::IsMenu(hMenu)) << "the loaded menu must be destroyed with its wrapper";
}

namespace {
struct MenuRun {
    static MenuRun* s_p;
    int ticks = 0;
    bool postedSeen = false;
    bool postedBeforeEnd = false;
};
MenuRun* MenuRun::s_p = nullptr;

class CMenuOwnerDlg : public CColorDlg {
public:
    CMenuOwnerDlg() : CColorDlg(IDD_NAME) { }
    LRESULT OnPosted(WPARAM, LPARAM)
    {
        if (MenuRun::s_p) MenuRun::s_p->postedSeen = true;
        return 0;
    }
    DECLARE_MESSAGE_MAP()
};
BEGIN_MESSAGE_MAP(CMenuOwnerDlg, CColorDlg)
ON_MESSAGE(WM_TEST_POSTED, OnPosted)
END_MESSAGE_MAP()

void CALLBACK EndMenuTimer(HWND, UINT, UINT_PTR, DWORD)
{
    MenuRun* p = MenuRun::s_p;
    if (!p) return;
    ++p->ticks;
    if (p->postedSeen || p->ticks > 20) {
        p->postedBeforeEnd = p->postedSeen;
        ::EndMenu();
    }
}
} // namespace

TEST(PlatformMenu, PopupMenuRunsPostedMessagesAndEndsOnEndMenu)
{
    CMenuOwnerDlg owner;
    ASSERT_TRUE(owner.Create(IDD_NAME));
    ::ShowWindow(owner.m_hWnd, SW_SHOWNOACTIVATE);
    CMenu menu;
    ASSERT_TRUE(menu.LoadMenu(IDR_MENU_TRAY));
    MenuRun run;
    MenuRun::s_p = &run;
    UINT_PTR timer = ::SetTimer(NULL, 0, 50, EndMenuTimer);
    owner.PostMessage(WM_TEST_POSTED);
    DWORD t0 = ::GetTickCount();
    BOOL r = menu.GetSubMenu(0)->TrackPopupMenu(TPM_RETURNCMD | TPM_RIGHTBUTTON, 10, 10, &owner);
    DWORD elapsed = ::GetTickCount() - t0;
    ::KillTimer(NULL, timer);
    MenuRun::s_p = nullptr;
    EXPECT_EQ(r, FALSE) << "a menu closed without a choice returns no command";
    EXPECT_GE(run.ticks, 1) << "the menu returned before the timer ended it";
    EXPECT_TRUE(run.postedBeforeEnd) << "a message posted before the menu opened must run while it is open";
    EXPECT_LT(elapsed, 5000u);
}
