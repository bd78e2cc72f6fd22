// The conversation log, missed calls, do-not-disturb, the icon's balloons and tip, and the ring,
// seen through the files the program leaves and the notification area, shell and sound hooks.
#include "app/Paths.h"
#include "tests/win/test_util.h"

#include "ui/Documents.h"
#include "ui/Sound.h"
#include "ui/TrayIcon.h"

#include <mmsystem.h>

#include <algorithm>
#include <memory>

namespace {

// What reached the notification area, the shell and the sound player.
std::vector<NOTIFYICONDATAA> g_balloons;
std::string g_tip;
std::vector<std::string> g_opened;
struct Sound {
    bool bStop;
    DWORD fdwSound;
    bool bHasRing; // the module handed over holds the ring resource that was asked for
};
std::vector<Sound> g_sounds;

struct Hooks {
    Hooks()
    {
        g_balloons.clear(), g_tip = "Kelvaro", g_opened.clear(), g_sounds.clear();
        SetShellNotifyIconHook([](DWORD, PNOTIFYICONDATAA p) -> BOOL {
            if (p->uFlags & NIF_INFO) g_balloons.push_back(*p);
            if (p->uFlags & NIF_TIP) g_tip = p->szTip;
            return TRUE;
        });
        SetShellExecuteHook([](HWND, LPCSTR, LPCSTR pszFile, LPCSTR, LPCSTR, INT) {
            g_opened.push_back(pszFile);
            return (HINSTANCE)33;
        });
        pfnQuiet = SetPlaySoundHook([](LPCSTR pszSound, HMODULE hmod, DWORD fdw) -> BOOL {
            g_sounds.push_back(
                { !pszSound, fdw, pszSound && hmod && ::FindResourceA(hmod, pszSound, "WAVE") });
            return TRUE;
        });
    }
    ~Hooks() { SetShellNotifyIconHook(nullptr), SetShellExecuteHook(nullptr), SetPlaySoundHook(pfnQuiet); }
    PFN_PLAY_SOUND pfnQuiet;
    static int Rings()
    {
        return (int)std::count_if(g_sounds.begin(), g_sounds.end(), [](const Sound& s) { return !s.bStop; });
    }
};

// The main window with its notice state readable; its files are beside its settings file.
class CNoticeDlg : public CTestPhoneDlg {
public:
    using CTestPhoneDlg::CTestPhoneDlg;
    std::string Folder() const { return PathFolder(SettingsPlace().strPath).str(); }
    std::string TodaysLog() const
    {
        SYSTEMTIME st;
        ::GetLocalTime(&st);
        char name[32];
        std::snprintf(name, sizeof name, "log\\%04u-%02u-%02u.txt", st.wYear, st.wMonth, st.wDay);
        return Folder() + name;
    }
    int MissedCount() { return m_journal.Missed().GetCount(); }
    const CMissedCall& Missed(int i) { return m_journal.Missed().GetAt(i); }
    // Lines listed from the incoming call, as one read lists them.
    void LinesArrive(const std::vector<CString>& lines)
    {
        m_notifier.LinesReceived(lines, m_journal.PartnerOf(CallConn::In));
    }
    // Whether the popup menu shows the item checked, and its text.
    bool Checked(UINT nID, std::string* pText = nullptr)
    {
        CMenu menu;
        menu.LoadMenu(IDR_MENU_TRAY);
        HMENU h = menu.GetSubMenu(0)->m_hMenu;
        m_notifier.PrepareMenu(h, m_journal.Missed().GetCount(), m_journal.LogOn());
        char text[64] = "";
        ::GetMenuStringA(h, nID, text, sizeof text, MF_BYCOMMAND);
        if (pText) *pText = text;
        return (::GetMenuState(h, nID, MF_BYCOMMAND) & MF_CHECKED) != 0;
    }
    // Today's records without their "HH:MM:SS " (checked here).
    std::vector<std::string> Records() const
    {
        const std::string text = ReadFileBytes(TodaysLog());
        std::vector<std::string> out;
        for (size_t pos = 0, end; (end = text.find("\r\n", pos)) != std::string::npos; pos = end + 2) {
            std::string rec = text.substr(pos, end - pos);
            const bool bGood = rec.size() > 9 && rec[2] == ':' && rec[5] == ':' && rec[8] == ' ' &&
                rec.find_first_of("\r\n") == std::string::npos;
            out.push_back(bGood ? rec.substr(9) : "BAD RECORD: " + rec);
        }
        return out;
    }
};

// A window on its own settings file in a fresh folder, which it can be opened on again.
struct Window {
    explicit Window(const std::string& strIni = "", const char* pszName = "南")
    {
        WriteFileBytes(dir.File("Kelvaro.ini"), std::string(kPortZero) + "Name=" + pszName + "\r\n" + strIni);
        Open();
    }
    void Open() { dlg.reset(new CNoticeDlg(dir.File("Kelvaro.ini"))), created = dlg->Create() != FALSE; }
    ~Window()
    {
        if (dlg) dlg->Close();
    }
    CNoticeDlg* operator->() { return dlg.get(); }
    CTempDir dir;
    std::unique_ptr<CNoticeDlg> dlg;
    bool created = false;
};

// A socket bound to a free port of 127.0.0.1, listening or not (calls to it are then refused).
UINT Bind(SOCKET s, bool bListen)
{
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int len = sizeof a;
    ::bind(s, (sockaddr*)&a, sizeof a);
    if (bListen) ::listen(s, 5);
    ::getsockname(s, (sockaddr*)&a, &len);
    return ntohs(a.sin_port);
}

// A raw peer on 127.0.0.1 that pumps the window's messages while it waits.
using Peer = CRawPeer;

// The peer calls the window and says its name; true once the window rings with it.
bool RingsFrom(Window& w, Peer& peer, const std::string& name)
{
    if (!peer.Connect(w->ListeningPort())) return false;
    if (!name.empty()) peer.Send("i1" + name + "\rI" + name);
    return PumpUntil([&] { return w->Ringing() && (name.empty() || w->PartnerName() == name.c_str()); });
}

bool ListsLines(Window& w, size_t n)
{
    return PumpUntil([&] { return w->ListItems(IDC_LIST_RECEIVE).size() == n; });
}

// A window "南" with the hooks in place and modal boxes recorded.
class Notice : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(w.created); }
    Hooks hooks;
    CModalCatcher catcher;
    Window w;
};

} // namespace

TEST(LogText, EscapesWhatWouldBreakALineAndReadsItBack)
{
    const struct {
        std::string in, out;
    } cases[] = {
        { "plain 電話 ｶﾅ", "plain 電話 ｶﾅ" }, { "a\tb\nc\rd", "a\\tb\\nc\\rd" },
        { std::string("x\x01\x7F\x80\xA0\xFF", 6), "x\\x01\\x7F\\x80\\xA0\\xFF" },
        { "\x82", "\\x82" }, // lead byte at the end
        { "\x82 x\x82\x0A", "\\x82 x\\x82\\n" }, // lead byte before a byte that is no trail byte
        { "ソ表\\", "ソ表\\\\" }, // trail byte 0x5C stays, a backslash doubles
    };
    for (const auto& c : cases) {
        EXPECT_EQ(EscapeLineText(c.in.c_str()).str(), c.out);
        EXPECT_EQ(UnescapeLineText(c.out.c_str()).str(), c.in);
    }
}

TEST_F(Notice, IncomingCallIsLoggedAsItHappensOneRecordALine)
{
    w->Command(ID_OPEN_LOG);
    ASSERT_EQ(catcher.boxes.size(), 1u) << "no log yet";
    EXPECT_EQ(catcher.boxes[0].strText, "今日の会話の記録はまだありません。");
    Peer peer;
    ASSERT_TRUE(RingsFrom(w, peer, "北"));
    w->Click(IDC_BTN_ANSWER);
    peer.Send("Shello\rSa\tb\nc\rS\x82\rS\x82 x\rSソ\r");
    ASSERT_TRUE(ListsLines(w, 5));
    EXPECT_EQ(w->Records().back(), "受信 ソ") << "not in the file while the call stands";
    w->SetItemText(IDC_EDIT_SEND, "はい");
    w->Command(IDOK);
    peer.Send("S\r");
    ASSERT_TRUE(ListsLines(w, 6));
    peer.Close();
    ASSERT_TRUE(PumpUntil([&] { return !w->CallStands(); }));
    EXPECT_EQ(w->Records(),
        (std::vector<std::string> { "着信 127.0.0.1", "相手 北 (127.0.0.1)", "暗号化なし", "応答しました",
            "受信 hello", "受信 a\\tb\\nc", "受信 \\x82", "受信 \\x82 x", "受信 ソ", "送信 はい", "受信 ",
            "終了 (相手が切りました)" }));
    EXPECT_EQ(catcher.boxes.size(), 1u);
    w->Command(ID_OPEN_LOG);
    EXPECT_EQ(g_opened, std::vector<std::string> { w->TodaysLog() });
}

TEST_F(Notice, OutgoingCallsFailedBusyAndHungUpAreLogged)
{
    Window busy("", "西");
    ASSERT_TRUE(busy.created);
    busy->Command(ID_DO_NOT_DISTURB);
    SOCKET dead = ::socket(AF_INET, SOCK_STREAM, 0);
    const std::string deadPort = std::to_string(Bind(dead, false)),
                      port = std::to_string(busy->ListeningPort());
    w->SetItemText(IDC_EDIT_ADDRESS, "127.0.0.1");
    w->SetItemText(IDC_EDIT_PORT, deadPort.c_str());
    w->Click(IDC_BTN_CALL);
    ASSERT_TRUE(PumpUntil([&] { return !w->Calling(); }));
    ::closesocket(dead);
    w->SetItemText(IDC_EDIT_PORT, port.c_str());
    w->Click(IDC_BTN_CALL);
    ASSERT_TRUE(PumpUntil([&] { return w->CallStands() && !w->Calling(); }));
    w->Click(IDC_BTN_HANGUP);

    std::vector<std::string> rec = w->Records();
    ASSERT_EQ(rec.size(), 7u) << ::testing::PrintToString(rec);
    EXPECT_TRUE(rec[1].rfind("失敗 ", 0) == 0 && rec[1].size() > 5) << "no reason: " << rec[1];
    rec[1] = "失敗 ";
    EXPECT_EQ(rec,
        (std::vector<std::string> { "発信 127.0.0.1 ポート " + deadPort, "失敗 ",
            "発信 127.0.0.1 ポート " + port, "呼び出し 127.0.0.1", "暗号化なし", "話し中 127.0.0.1",
            "終了 (自分が切りました)" }));
    EXPECT_EQ(catcher.boxes.size(), 1u) << "only the refused call's error text";
}

TEST_F(Notice, FailedLogWriteShowsOneTextPerCallAndTheCallGoesOn)
{
    WriteFileBytes(w->Folder() + "log", "a file where the folder should be");
    for (size_t nCall = 1; nCall <= 2; ++nCall) {
        Peer peer;
        ASSERT_TRUE(RingsFrom(w, peer, "北"));
        w->Click(IDC_BTN_ANSWER);
        peer.Send("Sone\r");
        ASSERT_TRUE(ListsLines(w, 1));
        peer.Send("Stwo\r");
        ASSERT_TRUE(ListsLines(w, 2)) << "the call stopped";
        w->Click(IDC_BTN_HANGUP);
        ASSERT_EQ(catcher.boxes.size(), nCall) << "one text per call";
        EXPECT_EQ(catcher.boxes.back().strText.rfind("会話の記録を書き込めませんでした。", 0), 0u);
    }
}

// Each option's menu item is checked as it stands; the option is saved in a section of its own
// at the end of the file only while it differs from the default, and read back at the next start.
TEST(NoticeOptions, MenuItemsToggleAndAreSavedOnlyAwayFromTheDefault)
{
    const struct {
        UINT nID;
        const char* pszKey;
        bool bDefault;
    } options[] = { { ID_LOG_ON, "Log=0", true }, { ID_SOUND_ON, "Sound=0", true },
        { ID_DO_NOT_DISTURB, "DoNotDisturb=1", false } };
    Hooks hooks;
    for (const auto& o : options) {
        Window w;
        ASSERT_TRUE(w.created);
        const std::string ini = w.dir.File("Kelvaro.ini");
        EXPECT_EQ(w->Checked(o.nID), o.bDefault) << o.pszKey;
        w->Command(o.nID);
        EXPECT_EQ(w->Checked(o.nID), !o.bDefault) << o.pszKey;
        w->Close();
        const std::string with = ReadFileBytes(ini);
        w.Open();
        EXPECT_EQ(w->Checked(o.nID), !o.bDefault) << o.pszKey << " was not read back";
        w->Command(o.nID);
        w->Close();
        EXPECT_EQ(ReadFileBytes(ini) + "[Notice]\r\n" + o.pszKey + "\r\n", with);
    }
}

// Callers turned away by do-not-disturb, callers who rang out and busy callers are missed; a
// call the user refused or answered is not. The list survives a restart; menu and tip count it.
TEST_F(Notice, MissedCallsWhatCountsAndThatTheySurviveARestart)
{
    w->Command(ID_DO_NOT_DISTURB);
    EXPECT_EQ(g_tip, "Kelvaro - 応答しない");
    {
        // Turned away exactly as a third caller is, before any greeting.
        Peer unwelcome;
        ASSERT_TRUE(unwelcome.Connect(w->ListeningPort()));
        EXPECT_EQ(unwelcome.ReadFor(300), "B南\r");
        EXPECT_FALSE(w->Ringing());
        EXPECT_EQ(g_tip, "Kelvaro - 応答しない - 不在着信 (1)");
    }
    w->Command(ID_DO_NOT_DISTURB);
    {
        Peer rangOut;
        ASSERT_TRUE(RingsFrom(w, rangOut, "北"));
    }
    ASSERT_TRUE(PumpUntil([&] { return !w->CallStands(); }));
    {
        Peer refused;
        ASSERT_TRUE(RingsFrom(w, refused, "東"));
        w->Click(IDC_BTN_HANGUP);
    }
    Peer answered, busy;
    ASSERT_TRUE(RingsFrom(w, answered, "西"));
    w->Click(IDC_BTN_ANSWER);
    ASSERT_TRUE(busy.Connect(w->ListeningPort()));
    ASSERT_TRUE(PumpUntil([&] { return w->MissedCount() == 3; }));
    answered.Close();
    ASSERT_TRUE(PumpUntil([&] { return !w->CallStands(); }));
    PumpFor(100);
    w->Close();
    w.Open();
    ASSERT_EQ(w->MissedCount(), 3);
    const CMissedCall::Kind kinds[] = { CMissedCall::Busy, CMissedCall::Unanswered,
        CMissedCall::DoNotDisturb };
    const char* const callers[] = { "127.0.0.1", "北", "127.0.0.1" }; // busy callers never say their name
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(w->Missed(i).kind, kinds[i]) << i;
        EXPECT_EQ(w->Missed(i).Caller(), callers[i]) << i;
        EXPECT_EQ(w->Missed(i).strAddress, "127.0.0.1") << i;
    }
    std::string text;
    w->Checked(ID_MISSED_CALLS, &text);
    EXPECT_EQ(text, "不在着信 (3)(&C)");
    EXPECT_EQ(g_tip, "Kelvaro - 不在着信 (3)");
    EXPECT_TRUE(catcher.boxes.empty());
}

TEST(MissedCallsDialog, ListsNewestFirstCallsBackAndClears)
{
    Hooks hooks;
    CModalCatcher catcher;
    SOCKET listener = ::socket(AF_INET, SOCK_STREAM, 0);
    const std::string port = std::to_string(Bind(listener, true));
    // The phonebook knows 127.0.0.1 at the listener's port; the other caller is not in it.
    Window w("[Address]\r\nMax=1\r\nName1=家\r\nIP1=127.0.0.1\r\nPort1=" + port + "\r\n");
    WriteFileBytes(w.dir.File("MissedCalls.txt"),
        "2026-05-14 12:05:00\tbusy\t127.0.0.1\t\r\n"
        "2026-05-14 09:30:00\tunanswered\t::1\t北\\tの間\r\n");
    w.Open();
    w->ChooseEntry(1);
    // Runs the dialog and does in it what fn does.
    auto inDialog = [&](const std::function<void(HWND)>& fn) {
        catcher.onDialog = [&](CDialog* pDlg) { fn(pDlg->m_hWnd); };
        w->Command(ID_MISSED_CALLS);
    };
    std::vector<std::string> rows;
    inDialog([&](HWND h) {
        char row[256];
        for (int i = 0; ::SendDlgItemMessageA(h, IDC_LIST_MISSED, LB_GETTEXT, (WPARAM)i, (LPARAM)row) > 0;
             ++i)
            rows.push_back(row);
        ::SendDlgItemMessageA(h, IDC_BTN_CALLBACK, BM_CLICK, 0, 0);
    });
    EXPECT_EQ(rows,
        (std::vector<std::string> {
            "05/14 12:05\t127.0.0.1\t127.0.0.1\t話し中", "05/14 09:30\t北\\tの間\t::1\t不在" }));
    EXPECT_EQ(w->ComboSel(), 0) << "calling back types the address in";
    EXPECT_EQ(w->ItemText(IDC_EDIT_PORT), port) << "the phonebook's port";
    EXPECT_TRUE(PumpUntil([&] { return w->CallStands(); })) << "the call back did not reach the caller";
    w->Click(IDC_BTN_HANGUP);

    inDialog([](HWND h) {
        ::SendDlgItemMessageA(h, IDC_LIST_MISSED, LB_SETCURSEL, 1, 0);
        ::SendDlgItemMessageA(h, IDC_BTN_CALLBACK, BM_CLICK, 0, 0);
    });
    EXPECT_EQ(w->ItemText(IDC_EDIT_ADDRESS) + " " + w->ItemText(IDC_EDIT_PORT), "::1 32760")
        << "default port";
    w->Click(IDC_BTN_HANGUP);

    bool bEmptied = false;
    inDialog([&](HWND h) {
        ::SendDlgItemMessageA(h, IDC_BTN_CLEAR, BM_CLICK, 0, 0);
        bEmptied = !::IsWindowEnabled(::GetDlgItem(h, IDC_BTN_CALLBACK)) &&
            ::SendDlgItemMessageA(h, IDC_LIST_MISSED, LB_GETCOUNT, 0, 0) == 0;
        ::PostMessageA(h, WM_COMMAND, IDCANCEL, 0);
    });
    EXPECT_TRUE(bEmptied);
    EXPECT_EQ(w->MissedCount(), 0);
    EXPECT_EQ(ReadFileBytes(w->Folder() + "MissedCalls.txt"), "");
    EXPECT_EQ(g_tip, "Kelvaro");
    ::closesocket(listener);
}

TEST_F(Notice, LinesWhileTheUserDoesNotLookRaiseOneBalloonPerReadAndCountUnread)
{
    Peer peer;
    ASSERT_TRUE(RingsFrom(w, peer, "北"));
    w->Click(IDC_BTN_ANSWER);
    ::SendMessageA(w->m_hWnd, WM_ACTIVATE, WA_ACTIVE, 0);
    w->LinesArrive({ "seen" });
    EXPECT_TRUE(g_balloons.empty()) << "the user looks at the window";

    w->Click(IDC_BTN_HIDE);
    std::string longLine;
    while (longLine.size() < 300) longLine += "電話";
    w->LinesArrive({ "one", "two", longLine.c_str() });
    w->LinesArrive(std::vector<CString>(500, CString("flood")));
    ASSERT_EQ(g_balloons.size(), 2u) << "one balloon per read";
    EXPECT_EQ(g_balloons[0].cbSize, (DWORD)NOTIFYICONDATAA_V2_SIZE);
    EXPECT_EQ(g_balloons[0].hWnd, w->m_hWnd);
    EXPECT_STREQ(g_balloons[0].szInfoTitle, "北");
    EXPECT_EQ(std::string(g_balloons[0].szInfo), longLine.substr(0, 254))
        << "whole characters within 255 bytes";
    EXPECT_STREQ(g_balloons[1].szInfo, "flood");
    EXPECT_EQ(g_tip, "Kelvaro - 未読 (503)");

    // Shown and active again: nothing is unread. Another window in front: not looked at.
    w->Command(ID_RESTORE);
    ::SendMessageA(w->m_hWnd, WM_ACTIVATE, WA_ACTIVE, 0);
    EXPECT_EQ(g_tip, "Kelvaro");
    ::SendMessageA(w->m_hWnd, WM_ACTIVATE, WA_INACTIVE, 0);
    w->Command(ID_SOUND_ON);
    w->LinesArrive({ "" });
    ASSERT_EQ(g_balloons.size(), 3u);
    EXPECT_STREQ(g_balloons[2].szInfo, " ") << "an empty line still shows a balloon";
    EXPECT_TRUE(g_balloons[2].dwInfoFlags & NIIF_NOSOUND) << "sounds are off";
    EXPECT_EQ(g_tip, "Kelvaro - 未読 (1)");
}

// The ring plays at once and every two seconds while the call rings, and ends with the ringing
// however it ends; with sounds off there is none.
TEST_F(Notice, RingPlaysWhileRingingAndStopsWithIt)
{
    const std::function<void(Peer&)> ends[] = {
        [&](Peer&) { w->Click(IDC_BTN_ANSWER); },
        [&](Peer&) { w->Click(IDC_BTN_HANGUP); },
        [&](Peer& p) { p.Close(), PumpUntil([&] { return !w->Ringing(); }); },
        [&](Peer&) { w->Command(ID_SOUND_ON); },
    };
    for (const auto& end : ends) {
        Peer peer;
        g_sounds.clear();
        ASSERT_TRUE(RingsFrom(w, peer, "北"));
        ASSERT_EQ(Hooks::Rings(), 1);
        EXPECT_EQ(g_sounds[0].fdwSound, (DWORD)(SND_RESOURCE | SND_ASYNC | SND_NODEFAULT));
        EXPECT_TRUE(g_sounds[0].bHasRing) << "the ring resource is not in the module handed over";
        if (&end == &ends[0]) {
            PumpFor(2300);
            EXPECT_EQ(Hooks::Rings(), 2) << "every two seconds";
        }
        end(peer);
        EXPECT_TRUE(g_sounds.back().bStop);
        if (&end == &ends[0]) {
            PumpFor(2300);
            EXPECT_EQ(Hooks::Rings(), 2) << "rang on after the answer";
        }
        w->Click(IDC_BTN_HANGUP);
    }
    // Sounds are off now (the last case): a call rings silently.
    g_sounds.clear();
    Peer peer;
    ASSERT_TRUE(RingsFrom(w, peer, "北"));
    EXPECT_EQ(Hooks::Rings(), 0);
}

// While two plain calls are open, the log says which call each received line came through.
TEST_F(Notice, WithTwoCallsOpenEachReceivedLineNamesItsCall)
{
    CRawListener listener;
    w->SetItemText(IDC_EDIT_ADDRESS, "127.0.0.1");
    w->SetItemText(IDC_EDIT_PORT, std::to_string(listener.Port()).c_str());
    w->Click(IDC_BTN_CALL);
    auto callee = listener.Accept();
    ASSERT_TRUE(callee);
    ASSERT_TRUE(callee->Send("a1西\rA西C\r"));
    ASSERT_TRUE(PumpUntil([&] { return w->CallStands() && !w->Calling(); }));
    Peer caller;
    ASSERT_TRUE(RingsFrom(w, caller, "北"));
    w->Click(IDC_BTN_ANSWER);
    callee->Send("Sout\r");
    ASSERT_TRUE(ListsLines(w, 1));
    caller.Send("Sin\r");
    ASSERT_TRUE(ListsLines(w, 2));
    caller.Close();
    ASSERT_TRUE(PumpUntil(
        [&] { return !w->IsEnabled(IDC_BTN_ANSWER) && w->ListItems(IDC_LIST_RECEIVE).size() == 2; }));
    callee->Send("Sonly\r");
    ASSERT_TRUE(ListsLines(w, 3));
    const std::vector<std::string> records = w->Records();
    const std::vector<std::string> received = [&] {
        std::vector<std::string> r;
        for (const std::string& s : records)
            if (s.rfind("受信", 0) == 0) r.push_back(s);
        return r;
    }();
    EXPECT_EQ(received,
        (std::vector<std::string> { "受信 (かけた通話) out", "受信 (受けた通話) in", "受信 only" }));
}
