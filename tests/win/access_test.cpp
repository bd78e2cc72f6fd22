// The main window for keyboard users and screen readers: where the focus goes when its control
// is disabled or the window comes back, the names readers hear, and what is announced.
#include "tests/win/test_util.h"

#include <oleacc.h>

namespace {

int FocusId() { return ::GetDlgCtrlID(::GetFocus()); }

// Events raised in this process while it lives, as (event, control id).
struct EventRecorder {
    static std::vector<std::pair<DWORD, int>>& Seen()
    {
        static std::vector<std::pair<DWORD, int>> seen;
        return seen;
    }
    EventRecorder()
    {
        Seen().clear();
        m_hHook = ::SetWinEventHook(EVENT_SYSTEM_ALERT, kEventLiveRegionChanged, NULL, Record,
            ::GetCurrentProcessId(), 0, WINEVENT_OUTOFCONTEXT);
    }
    ~EventRecorder() { ::UnhookWinEvent(m_hHook); }
    static void CALLBACK Record(HWINEVENTHOOK, DWORD dwEvent, HWND hWnd, LONG, LONG, DWORD, DWORD)
    {
        if (dwEvent == EVENT_SYSTEM_ALERT || dwEvent == EVENT_OBJECT_NAMECHANGE ||
            dwEvent == kEventLiveRegionChanged)
            Seen().emplace_back(dwEvent, ::GetDlgCtrlID(hWnd));
    }
    bool Has(DWORD dwEvent, int nID) const
    {
        for (auto& e : Seen())
            if (e.first == dwEvent && e.second == nID) return true;
        return false;
    }
    HWINEVENTHOOK m_hHook;
};

// The name a screen reader is given for the control.
std::string AccName(HWND hCtl)
{
    IAccessible* pAcc = nullptr;
    if (FAILED(::AccessibleObjectFromWindow(hCtl, OBJID_CLIENT, IID_IAccessible, (void**)&pAcc))) return "";
    VARIANT self = {};
    self.vt = VT_I4;
    self.lVal = CHILDID_SELF;
    BSTR bstr = nullptr;
    std::string name;
    if (pAcc->get_accName(self, &bstr) == S_OK && bstr) {
        char buf[256] = "";
        ::WideCharToMultiByte(CP_ACP, 0, bstr, -1, buf, sizeof buf, NULL, NULL);
        name = buf;
    }
    ::SysFreeString(bstr);
    pAcc->Release();
    return name;
}

} // namespace

class AccessFocus : public CCallFixture { };

TEST_F(AccessFocus, GoesOnWhenItsControlIsDisabledAndComesBackWithTheWindow)
{
    CModalCatcher catcher;
    Phone south("south");
    ASSERT_TRUE(south.created);
    CTestPhoneDlg& d = *south;
    ASSERT_EQ(::GetActiveWindow(), d.m_hWnd);

    CRawPeer caller;
    ASSERT_TRUE(CallsIn(caller, south));
    ::SetFocus(d.Item(IDC_BTN_ANSWER));
    d.Click(IDC_BTN_ANSWER); // Space on the button, as far as the window can tell
    ASSERT_TRUE(ReachesLook(d, kTalking));
    EXPECT_EQ(FocusId(), IDC_EDIT_SEND) << "after answering";

    ::SetFocus(d.Item(IDC_BTN_HANGUP));
    d.Click(IDC_BTN_HANGUP);
    ASSERT_TRUE(ReachesLook(d, kIdle));
    EXPECT_EQ(FocusId(), IDC_EDIT_ADDRESS) << "after hanging up";

    // Hidden and brought back: where it was; hidden with the hide button: the go-on control.
    ::SetFocus(d.Item(IDC_EDIT_PORT));
    d.Command(IDC_BTN_HIDE);
    d.Command(ID_RESTORE);
    EXPECT_EQ(FocusId(), IDC_EDIT_PORT) << "after hiding and restoring";
    d.Click(IDC_BTN_HIDE);
    d.Command(ID_RESTORE);
    EXPECT_EQ(FocusId(), IDC_EDIT_ADDRESS) << "after hiding with the hide button";

    // Another window active in between.
    ::SetFocus(d.Item(IDC_LIST_RECEIVE));
    HWND hOther =
        ::CreateWindowExA(0, "STATIC", "", WS_POPUP | WS_VISIBLE, 0, 0, 10, 10, NULL, NULL, NULL, NULL);
    ::SetActiveWindow(hOther);
    EXPECT_NE(::GetActiveWindow(), d.m_hWnd);
    ::SetActiveWindow(d.m_hWnd);
    EXPECT_EQ(FocusId(), IDC_LIST_RECEIVE) << "after another window was active";
    ::DestroyWindow(hOther);
    caller.Close();
    EXPECT_TRUE(EndsIdleAndClean(south, 1, catcher));
}

TEST(Accessibility, EveryControlHasANameItsReaderHears)
{
    CPhoneDlgInTempDir dlg(kPortZero);
    ASSERT_TRUE(dlg.Create());
    dlg.SetItemText(IDC_EDIT_ADDRESS, "192.0.2.1");
    // Names set through the property service are heard where the system's accessibility layer
    // reads them; where it does not (Wine), only labels and the controls' own texts are checked.
    IAccPropServices* pProps = nullptr;
    bool bServiceNames = false;
    if (SUCCEEDED(::CoCreateInstance(
            CLSID_AccPropServices, NULL, CLSCTX_INPROC_SERVER, IID_IAccPropServices, (void**)&pProps))) {
        bServiceNames = pProps->SetHwndPropStr(dlg.Item(IDC_CAPTION), OBJID_CLIENT, CHILDID_SELF,
                            PROPID_ACC_NAME, L"probe") == S_OK;
        pProps->Release();
    }
    // By label or own text: the address box (its label), the own name box (its label) and the
    // buttons with a word on them.
    const std::vector<std::pair<int, std::string>> byLabel = { { IDC_EDIT_ADDRESS, "IPｱﾄﾞﾚｽ(I)" },
        { IDC_EDIT_MYNAME, "自分の名前" }, { IDC_BTN_CALL, "かける" }, { IDC_BTN_REGISTER, "登録" },
        { IDC_CHK_MINSTART, "次回起動時にアイコン化(O)" }, { IDCANCEL, "OFF" } };
    for (auto& [nID, name] : byLabel) EXPECT_EQ(AccName(dlg.Item(nID)), name) << "control " << nID;
    std::string list;
    for (HWND h = ::GetWindow(dlg.m_hWnd, GW_CHILD); h; h = ::GetWindow(h, GW_HWNDNEXT)) {
        if (!(::GetWindowLongA(h, GWL_STYLE) & WS_TABSTOP) || !::IsWindowVisible(h)) continue;
        const std::string name = AccName(h);
        list += std::to_string(::GetDlgCtrlID(h)) + "=" + Quote(name) + " ";
        if (bServiceNames) {
            EXPECT_FALSE(name.empty()) << "control " << ::GetDlgCtrlID(h) << " has no name";
        }
    }
    std::printf("accessible names: %s%s\n", list.c_str(),
        bServiceNames ? "" : "(names from the property service are not read here)");
    if (bServiceNames) {
        EXPECT_EQ(AccName(dlg.Item(IDC_EDIT_PORT)), "ポート");
        EXPECT_EQ(AccName(dlg.Item(IDC_BTN_HIDE)), "アイコン化");
        EXPECT_EQ(AccName(dlg.Item(IDC_COMBO_PHONEBOOK)), "電話帳");
    }
    dlg.Close();
}

TEST(Accessibility, RingStatusPartnerAndLinesAreAnnounced)
{
    EventRecorder events;
    CModalCatcher catcher;
    Phone south("south");
    ASSERT_TRUE(south.created);
    CRawPeer caller;
    ASSERT_TRUE(CallsIn(caller, south));
    ASSERT_TRUE(caller.Send(CallerGreeting("north")));
    ASSERT_TRUE(PumpUntil([&] { return south->ItemText(IDC_STATIC_PARTNER) == "north"; }));
    PumpFor(50);
    EXPECT_TRUE(events.Has(EVENT_SYSTEM_ALERT, IDC_BTN_ANSWER)) << "the ring";
    EXPECT_TRUE(events.Has(EVENT_OBJECT_NAMECHANGE, IDC_STATIC_STATUS)) << "the status shown";
    EXPECT_TRUE(events.Has(EVENT_OBJECT_NAMECHANGE, IDC_STATIC_PARTNER)) << "the partner's name";

    south->Click(IDC_BTN_ANSWER);
    ASSERT_TRUE(ReachesLook(*south, kTalking));
    ASSERT_TRUE(caller.Send("Sこんにちは\r"));
    ASSERT_TRUE(ReceivesLines(south, 1));
    PumpFor(50);
    EXPECT_TRUE(events.Has(kEventLiveRegionChanged, IDC_LIST_RECEIVE)) << "a line while active";
    caller.Close();
}
