// The conversation log, missed calls, do-not-disturb, the icon's balloons and tip, and the ring,
// seen through the files the program leaves and the notification area, shell and sound hooks.
#include "test_util.h"

#include "Documents.h"
#include "MissedCallsDlg.h"
#include "Sound.h"
#include "TrayIcon.h"

#include <mmsystem.h>

#include <algorithm>
#include <memory>

namespace {

// What reached the notification area, the shell and the sound player.
std::vector<std::pair<DWORD, NOTIFYICONDATAA>> g_icon;
std::vector<std::string> g_opened;
struct Sound {
    bool bStop;
    DWORD fdwSound;
    bool bHasRing; // the module handed over holds the ring resource that was asked for
};
std::vector<Sound> g_sounds;

BOOL WINAPI RecordIcon(DWORD dwMessage, PNOTIFYICONDATAA p)
{
    g_icon.push_back({ dwMessage, *p });
    return TRUE;
}
HINSTANCE WINAPI RecordShell(HWND, LPCSTR, LPCSTR pszFile, LPCSTR, LPCSTR, INT)
{
    g_opened.push_back(pszFile);
    return (HINSTANCE)33;
}
BOOL WINAPI RecordSound(LPCSTR pszSound, HMODULE hmod, DWORD fdwSound)
{
    g_sounds.push_back({ pszSound == NULL, fdwSound,
                         pszSound && hmod && ::FindResourceA(hmod, pszSound, "WAVE") != NULL });
    return TRUE;
}

struct Hooks {
    Hooks()
    {
        g_icon.clear(), g_opened.clear(), g_sounds.clear();
        SetShellNotifyIconHook(RecordIcon);
        SetShellExecuteHook(RecordShell);
        SetPlaySoundHook(RecordSound);
    }
    ~Hooks()
    {
        SetShellNotifyIconHook(nullptr);
        SetShellExecuteHook(nullptr);
        SetPlaySoundHook(nullptr);
    }
    static std::vector<NOTIFYICONDATAA> Balloons()
    {
        std::vector<NOTIFYICONDATAA> out;
        for (auto& c : g_icon)
            if (c.first == NIM_MODIFY && (c.second.uFlags & NIF_INFO)) out.push_back(c.second);
        return out;
    }
    static std::string Tip()
    {
        for (auto it = g_icon.rbegin(); it != g_icon.rend(); ++it)
            if (it->second.uFlags & NIF_TIP) return it->second.szTip;
        return "";
    }
    static int Rings() { return (int)std::count_if(g_sounds.begin(), g_sounds.end(), [](const Sound& s) { return !s.bStop; }); }
};

// The main window with its notice state readable; its files are beside its settings file.
class CNoticeDlg : public CTestPhoneDlg {
public:
    using CTestPhoneDlg::CTestPhoneDlg;
    std::string Folder() const { return DataFolder().str(); }
    int MissedCount() const { return m_missed.GetCount(); }
    const CMissedCall& Missed(int i) const { return m_missed.GetAt(i); }
    int Unread() const { return m_nUnread; }
    void Prepare(HMENU h) { PrepareNoticeItems(h); }
    // The records of every day file, each without its "HH:MM:SS " (checked here).
    std::vector<std::string> Records() const
    {
        std::vector<std::string> out;
        WIN32_FIND_DATAA fd;
        HANDLE h = ::FindFirstFileA((Folder() + "log\\*.txt").c_str(), &fd);
        if (h == INVALID_HANDLE_VALUE) return out;
        std::string text;
        do {
            // As an editor reads it, while the program may hold it open for appending.
            HANDLE hFile = ::CreateFileA((Folder() + "log\\" + fd.cFileName).c_str(), GENERIC_READ,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING, 0, NULL);
            char buf[4096];
            DWORD got = 0;
            while (hFile != INVALID_HANDLE_VALUE && ::ReadFile(hFile, buf, sizeof buf, &got, NULL) && got)
                text.append(buf, got);
            if (hFile != INVALID_HANDLE_VALUE) ::CloseHandle(hFile);
        } while (::FindNextFileA(h, &fd));
        ::FindClose(h);
        for (size_t pos = 0, end; (end = text.find("\r\n", pos)) != std::string::npos; pos = end + 2) {
            std::string rec = text.substr(pos, end - pos);
            const bool bTimed = rec.size() > 9 && rec[2] == ':' && rec[5] == ':' && rec[8] == ' ';
            const bool bOneLine = rec.find_first_of("\r\n") == std::string::npos;
            out.push_back(bTimed && bOneLine ? rec.substr(9) : "BAD RECORD: " + rec);
        }
        return out;
    }
};

// A window on its own settings file in a fresh folder.
struct Window {
    explicit Window(const std::string& strIni = "", const char* pszName = "南")
    {
        WriteFileBytes(dir.File("Kelvaro.ini"), std::string(kPortZero) + "Name=" + pszName + "\r\n" + strIni);
        Open();
    }
    void Open()
    {
        dlg.reset(new CNoticeDlg(dir.File("Kelvaro.ini")));
        created = dlg->Create() != FALSE;
    }
    ~Window() { if (dlg) dlg->Close(); }
    CNoticeDlg* operator->() { return dlg.get(); }
    CTempDir dir;
    std::unique_ptr<CNoticeDlg> dlg;
    bool created = false;
};

// A raw peer on 127.0.0.1 that pumps the window's messages while it waits.
struct Peer {
    SOCKET s = ::socket(AF_INET, SOCK_STREAM, 0);
    ~Peer() { ::closesocket(s); }
    bool Connect(UINT nPort)
    {
        sockaddr_in a = {};
        a.sin_family = AF_INET;
        a.sin_port = htons((u_short)nPort);
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        u_long on = 1;
        return ::connect(s, (sockaddr*)&a, sizeof a) == 0 && ::ioctlsocket(s, FIONBIO, &on) == 0;
    }
    void Send(const std::string& b) { ::send(s, b.data(), (int)b.size(), 0); }
    std::string ReadFor(DWORD dwMs)
    {
        std::string in;
        PumpUntil([&] {
            char buf[512];
            int n;
            while ((n = ::recv(s, buf, sizeof buf, 0)) > 0) in.append(buf, (size_t)n);
            return false;
        }, dwMs);
        return in;
    }
};

// Sends a raw call in that says its name; true once the window rings with it.
bool RingsFrom(Window& w, Peer& peer, const std::string& name)
{
    if (!peer.Connect(w->ListeningPort())) return false;
    if (!name.empty()) peer.Send("i1" + name + "\rI" + name);
    return PumpUntil([&] { return w->Ringing() && (name.empty() || w->PartnerName() == name.c_str()); });
}

bool Contains(const std::vector<std::string>& v, const std::string& s) { return std::find(v.begin(), v.end(), s) != v.end(); }

} // namespace

TEST(ConversationLog, EscapesWhatWouldBreakALineAndReadsItBack)
{
    const struct { std::string in, out; } cases[] = {
        { "plain 電話 ｶﾅ", "plain 電話 ｶﾅ" },
        { "a\tb\nc\rd", "a\\tb\\nc\\rd" },
        { std::string("x\x01\x7F\x80\xA0\xFF", 6), "x\\x01\\x7F\\x80\\xA0\\xFF" },
        { "\x82", "\\x82" },                              // lead byte at the end
        { "\x82 x\x82\x0A", "\\x82 x\\x82\\n" },          // lead byte before a byte that is no trail
        { "ソ表\\", "ソ表\\\\" },                          // trail byte 0x5C stays, a backslash doubles
    };
    for (const auto& c : cases) {
        EXPECT_EQ(EscapeLineText(c.in.c_str()).str(), c.out);
        EXPECT_EQ(UnescapeLineText(c.out.c_str()).str(), c.in);
    }
}

TEST(ConversationLog, IncomingCallIsWrittenAsItHappensOneRecordALine)
{
    Hooks hooks;
    CModalCatcher catcher;
    Window w;
    ASSERT_TRUE(w.created);
    Peer peer;
    ASSERT_TRUE(RingsFrom(w, peer, "北"));
    w->Click(IDC_BTN_ANSWER);
    peer.Send("Shello\rSa\tb\nc\rS\x82\rS\x82 x\rSソ\r");
    ASSERT_TRUE(PumpUntil([&] { return w->ListItems(IDC_LIST_RECEIVE).size() == 5; }));
    // Already in the file while the call stands.
    EXPECT_TRUE(Contains(w->Records(), "受信 ソ"));
    w->SetItemText(IDC_EDIT_SEND, "はい");
    w->Command(IDOK);
    peer.Send("S\r");
    ASSERT_TRUE(PumpUntil([&] { return w->ListItems(IDC_LIST_RECEIVE).size() == 6; }));
    ::closesocket(peer.s);
    peer.s = INVALID_SOCKET;
    ASSERT_TRUE(PumpUntil([&] { return !w->InConnected(); }));
    const std::vector<std::string> expected = { "着信 127.0.0.1", "相手 北 (127.0.0.1)", "応答しました", "受信 hello",
                                                "受信 a\\tb\\nc", "受信 \\x82", "受信 \\x82 x", "受信 ソ", "送信 はい",
                                                "受信 ", "終了 (相手が切りました)" };
    EXPECT_EQ(w->Records(), expected);
    EXPECT_TRUE(catcher.boxes.empty());
}

TEST(ConversationLog, OutgoingCallsFailedBusyAndHungUp)
{
    Hooks hooks;
    CModalCatcher catcher;
    Window w;
    ASSERT_TRUE(w.created);
    // Nobody listens: the system's reason is logged.
    SOCKET dead = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int len = sizeof a;
    ::bind(dead, (sockaddr*)&a, sizeof a);
    ::getsockname(dead, (sockaddr*)&a, &len);
    const std::string deadPort = std::to_string(ntohs(a.sin_port));
    w->SetItemText(IDC_EDIT_ADDRESS, "127.0.0.1");
    w->SetItemText(IDC_EDIT_PORT, deadPort.c_str());
    w->Click(IDC_BTN_CALL);
    ASSERT_TRUE(PumpUntil([&] { return !w->Calling(); }));
    ::closesocket(dead);

    // A partner that is busy, then hung up on.
    Window busy("", "西");
    ASSERT_TRUE(busy.created);
    busy->SetItemText(IDC_EDIT_ADDRESS, "127.0.0.1");
    const std::string port = std::to_string(busy->ListeningPort());
    busy->Command(ID_DO_NOT_DISTURB);
    w->SetItemText(IDC_EDIT_PORT, port.c_str());
    w->Click(IDC_BTN_CALL);
    ASSERT_TRUE(PumpUntil([&] { return w->OutConnected() && !w->Calling(); }));
    w->Click(IDC_BTN_HANGUP);

    std::vector<std::string> rec = w->Records();
    ASSERT_EQ(rec.size(), 6u) << ::testing::PrintToString(rec);
    EXPECT_EQ(rec[1].rfind("失敗 ", 0), 0u) << rec[1];
    EXPECT_GT(rec[1].size(), 5u) << "the reason is missing";
    rec[1] = "失敗 ";
    EXPECT_EQ(rec, (std::vector<std::string>{ "発信 127.0.0.1 ポート " + deadPort, "失敗 ", "発信 127.0.0.1 ポート " + port,
                                              "呼び出し 127.0.0.1", "話し中 127.0.0.1", "終了 (自分が切りました)" }));
    ASSERT_EQ(catcher.boxes.size(), 1u) << "the refused call's error text";
}

TEST(ConversationLog, FailedWriteShowsOneTextPerCallAndTheCallGoesOn)
{
    Hooks hooks;
    CModalCatcher catcher;
    Window w;
    ASSERT_TRUE(w.created);
    WriteFileBytes(w->Folder() + "log", "a file where the folder should be");
    for (int nCall = 1; nCall <= 2; ++nCall) {
        Peer peer;
        ASSERT_TRUE(RingsFrom(w, peer, "北"));
        w->Click(IDC_BTN_ANSWER);
        peer.Send("Sone\r");
        ASSERT_TRUE(PumpUntil([&] { return w->ListItems(IDC_LIST_RECEIVE).size() == 1; }));
        peer.Send("Stwo\r");
        ASSERT_TRUE(PumpUntil([&] { return w->ListItems(IDC_LIST_RECEIVE).size() == 2; })) << "the call stopped";
        EXPECT_TRUE(w->InConnected());
        w->Click(IDC_BTN_HANGUP);
        ASSERT_EQ(catcher.boxes.size(), (size_t)nCall) << "one text per call";
        EXPECT_EQ(catcher.boxes.back().strText.rfind("会話の記録を書き込めませんでした。", 0), 0u);
    }
}

TEST(ConversationLog, OpensTodaysLogWhenThereIsOne)
{
    Hooks hooks;
    CModalCatcher catcher;
    Window w;
    ASSERT_TRUE(w.created);
    w->Command(ID_OPEN_LOG);
    EXPECT_TRUE(g_opened.empty());
    ASSERT_EQ(catcher.boxes.size(), 1u);
    EXPECT_EQ(catcher.boxes[0].strText, "今日の会話の記録はまだありません。");
    Peer peer;
    ASSERT_TRUE(RingsFrom(w, peer, ""));
    w->Command(ID_OPEN_LOG);
    SYSTEMTIME st;
    ::GetLocalTime(&st);
    char name[32];
    wsprintfA(name, "log\\%04u-%02u-%02u.txt", st.wYear, st.wMonth, st.wDay);
    EXPECT_EQ(g_opened, std::vector<std::string>{ w->Folder() + name });
}

// Each option's menu item: checked as it stands, saved in its own section only while it
// differs from the default, and read back at the next start.
TEST(NoticeOptions, MenuItemsToggleAndAreSavedOnlyAwayFromTheDefault)
{
    const struct { UINT nID; const char* pszKey; bool bDefault; } options[] = {
        { ID_LOG_ON, "Log=0", true }, { ID_SOUND_ON, "Sound=0", true }, { ID_DO_NOT_DISTURB, "DoNotDisturb=1", false } };
    Hooks hooks;
    for (const auto& o : options) {
        Window w;
        ASSERT_TRUE(w.created);
        const std::string ini = w.dir.File("Kelvaro.ini");
        auto checked = [&] {
            CMenu menu;
            menu.LoadMenu(IDR_MENU_TRAY);
            w->Prepare(menu.GetSubMenu(0)->m_hMenu);
            return (::GetMenuState(menu.GetSubMenu(0)->m_hMenu, o.nID, MF_BYCOMMAND) & MF_CHECKED) != 0;
        };
        EXPECT_EQ(checked(), o.bDefault) << o.pszKey;
        w->Command(o.nID);
        EXPECT_EQ(checked(), !o.bDefault) << o.pszKey;
        w->Close();
        const std::string before = ReadFileBytes(ini);
        EXPECT_NE(before.find(std::string("[Notice]\r\n") + o.pszKey + "\r\n"), std::string::npos) << before;
        w.Open();
        EXPECT_EQ(checked(), !o.bDefault) << o.pszKey << " was not read back";
        w->Command(o.nID);
        w->Close();
        const std::string after = ReadFileBytes(ini);
        EXPECT_EQ(after.find("Notice"), std::string::npos) << "set back, the section goes: " << after;
    }
}

TEST(DoNotDisturb, CallerHearsBusyAndIsAMissedCallAndTheTipSaysSo)
{
    Hooks hooks;
    CModalCatcher catcher;
    Window w("[Notice]\r\nDoNotDisturb=1\r\n");
    ASSERT_TRUE(w.created);
    EXPECT_EQ(Hooks::Tip(), "Kelvaro - 応答しない");
    Peer peer;
    ASSERT_TRUE(peer.Connect(w->ListeningPort()));
    EXPECT_EQ(peer.ReadFor(500), "B南\r");
    EXPECT_FALSE(w->Ringing());
    EXPECT_TRUE(w->IsEnabled(IDC_BTN_CALL)) << "the window stays idle";
    EXPECT_EQ(Hooks::Rings(), 0);
    ASSERT_EQ(w->MissedCount(), 1);
    EXPECT_EQ(w->Missed(0).kind, CMissedCall::DoNotDisturb);
    EXPECT_EQ(w->Missed(0).strAddress, "127.0.0.1");
    EXPECT_EQ(Hooks::Tip(), "Kelvaro - 応答しない - 不在着信 (1)");
    EXPECT_TRUE(catcher.boxes.empty());
}

// Callers who rang out and busy callers are missed; a call the user refused or answered is not.
// The list survives a restart, and the menu and tip count it.
TEST(MissedCalls, WhatCountsAndThatItSurvivesARestart)
{
    Hooks hooks;
    CModalCatcher catcher;
    Window w;
    ASSERT_TRUE(w.created);
    {
        Peer rangOut;
        ASSERT_TRUE(RingsFrom(w, rangOut, "北"));
    }
    ASSERT_TRUE(PumpUntil([&] { return !w->InConnected(); }));
    {
        Peer refused;
        ASSERT_TRUE(RingsFrom(w, refused, "東"));
        w->Click(IDC_BTN_HANGUP);
    }
    Peer answered, busy;
    ASSERT_TRUE(RingsFrom(w, answered, "西"));
    w->Click(IDC_BTN_ANSWER);
    ASSERT_TRUE(busy.Connect(w->ListeningPort()));
    ASSERT_TRUE(PumpUntil([&] { return w->MissedCount() == 2; }));
    ::closesocket(answered.s);
    answered.s = INVALID_SOCKET;
    ASSERT_TRUE(PumpUntil([&] { return !w->InConnected(); }));
    PumpFor(100);
    ASSERT_EQ(w->MissedCount(), 2);
    EXPECT_EQ(w->Missed(0).kind, CMissedCall::Busy);
    EXPECT_EQ(w->Missed(0).Caller(), "127.0.0.1") << "a busy caller never says its name";
    EXPECT_EQ(w->Missed(1).kind, CMissedCall::Unanswered);
    EXPECT_EQ(w->Missed(1).strName, "北");
    EXPECT_EQ(Hooks::Tip(), "Kelvaro - 不在着信 (2)");

    w->Close();
    w.Open();
    ASSERT_EQ(w->MissedCount(), 2);
    EXPECT_EQ(w->Missed(1).strName, "北");
    EXPECT_EQ(w->Missed(0).strTime.GetLength(), 19);
    CMenu menu;
    menu.LoadMenu(IDR_MENU_TRAY);
    w->Prepare(menu.GetSubMenu(0)->m_hMenu);
    char text[64] = "";
    ::GetMenuStringA(menu.GetSubMenu(0)->m_hMenu, ID_MISSED_CALLS, text, sizeof text, MF_BYCOMMAND);
    EXPECT_STREQ(text, "不在着信 (2)");
    EXPECT_EQ(Hooks::Tip(), "Kelvaro - 不在着信 (2)");
    EXPECT_TRUE(catcher.boxes.empty());
}

TEST(MissedCalls, DialogListsNewestFirstCallsBackAndClears)
{
    Hooks hooks;
    CModalCatcher catcher;
    UINT nPort = 0;
    SOCKET listener = ::socket(AF_INET, SOCK_STREAM, 0);
    {
        sockaddr_in a = {};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        int len = sizeof a;
        ::bind(listener, (sockaddr*)&a, sizeof a);
        ::listen(listener, 5);
        ::getsockname(listener, (sockaddr*)&a, &len);
        nPort = ntohs(a.sin_port);
    }
    // The phonebook knows 127.0.0.1 at the listener's port; the other caller is not in it.
    Window w("[Address]\r\nMax=1\r\nName1=家\r\nIP1=127.0.0.1\r\nPort1=" + std::to_string(nPort) + "\r\n");
    ASSERT_TRUE(w.created);
    w->Close();
    WriteFileBytes(w->Folder() + "MissedCalls.txt", "2026-05-14 12:05:00\tbusy\t127.0.0.1\t\r\n"
                                                     "2026-05-14 09:30:00\tunanswered\t::1\t北\\tの間\r\n");
    w.Open();
    w->ChooseEntry(1);
    std::vector<std::string> rows;
    catcher.onDialog = [&](CDialog* pDlg) {
        HWND hList = ::GetDlgItem(pDlg->m_hWnd, IDC_LIST_MISSED);
        for (int i = 0; i < (int)::SendMessageA(hList, LB_GETCOUNT, 0, 0); ++i) {
            char row[256] = "";
            ::SendMessageA(hList, LB_GETTEXT, (WPARAM)i, (LPARAM)row);
            rows.push_back(row);
        }
        ::SendMessageA(::GetDlgItem(pDlg->m_hWnd, IDC_BTN_CALLBACK), BM_CLICK, 0, 0);
    };
    w->Command(ID_MISSED_CALLS);
    EXPECT_EQ(rows, (std::vector<std::string>{ "05/14 12:05\t127.0.0.1\t127.0.0.1\t話し中",
                                               "05/14 09:30\t北\\tの間\t::1\t不在" }));
    EXPECT_EQ(w->ComboSel(), 0) << "calling back types the address in";
    EXPECT_EQ(w->ItemText(IDC_EDIT_ADDRESS), "127.0.0.1");
    EXPECT_EQ(w->ItemText(IDC_EDIT_PORT), std::to_string(nPort)) << "the phonebook's port";
    EXPECT_TRUE(PumpUntil([&] { return w->OutConnected(); })) << "the call back did not reach the caller";
    w->Click(IDC_BTN_HANGUP);

    // The second caller is not in the phonebook: the default port. Then the list is cleared.
    catcher.onDialog = [&](CDialog* pDlg) {
        ::SendMessageA(::GetDlgItem(pDlg->m_hWnd, IDC_LIST_MISSED), LB_SETCURSEL, 1, 0);
        ::SendMessageA(::GetDlgItem(pDlg->m_hWnd, IDC_BTN_CALLBACK), BM_CLICK, 0, 0);
    };
    w->Command(ID_MISSED_CALLS);
    EXPECT_EQ(w->ItemText(IDC_EDIT_ADDRESS), "::1");
    EXPECT_EQ(w->ItemText(IDC_EDIT_PORT), "32760");
    w->Click(IDC_BTN_HANGUP);
    bool bButtonsOff = false;
    catcher.onDialog = [&](CDialog* pDlg) {
        ::SendMessageA(::GetDlgItem(pDlg->m_hWnd, IDC_BTN_CLEAR), BM_CLICK, 0, 0);
        bButtonsOff = !::IsWindowEnabled(::GetDlgItem(pDlg->m_hWnd, IDC_BTN_CALLBACK)) &&
                      !::IsWindowEnabled(::GetDlgItem(pDlg->m_hWnd, IDC_BTN_CLEAR)) &&
                      ::SendMessageA(::GetDlgItem(pDlg->m_hWnd, IDC_LIST_MISSED), LB_GETCOUNT, 0, 0) == 0;
        ::PostMessageA(pDlg->m_hWnd, WM_COMMAND, IDCANCEL, 0);
    };
    w->Command(ID_MISSED_CALLS);
    EXPECT_TRUE(bButtonsOff);
    EXPECT_EQ(w->MissedCount(), 0);
    EXPECT_EQ(ReadFileBytes(w->Folder() + "MissedCalls.txt"), "");
    EXPECT_EQ(Hooks::Tip(), "Kelvaro");
    ::closesocket(listener);
}

TEST(Notices, LinesWhileTheUserDoesNotLookRaiseOneBalloonPerReadAndCountUnread)
{
    Hooks hooks;
    CModalCatcher catcher;
    Window w;
    ASSERT_TRUE(w.created);
    Peer peer;
    ASSERT_TRUE(RingsFrom(w, peer, "北"));
    w->Click(IDC_BTN_ANSWER);
    ::SendMessageA(w->m_hWnd, WM_ACTIVATE, WA_ACTIVE, 0);
    w->OnLinesReceived({ "seen" });
    EXPECT_TRUE(Hooks::Balloons().empty()) << "the user looks at the window";

    w->Click(IDC_BTN_HIDE);
    std::string longLine;
    while (longLine.size() < 300) longLine += "電話";
    w->OnLinesReceived({ "one", "two", longLine.c_str() });
    w->OnLinesReceived(std::vector<CString>(500, CString("flood")));
    std::vector<NOTIFYICONDATAA> b = Hooks::Balloons();
    ASSERT_EQ(b.size(), 2u) << "one balloon per read";
    EXPECT_EQ(b[0].cbSize, (DWORD)NOTIFYICONDATAA_V2_SIZE);
    EXPECT_EQ(b[0].hWnd, w->m_hWnd);
    EXPECT_STREQ(b[0].szInfoTitle, "北");
    EXPECT_EQ(std::string(b[0].szInfo), longLine.substr(0, 254)) << "cut whole characters within 255 bytes";
    EXPECT_STREQ(b[1].szInfo, "flood");
    EXPECT_EQ(w->Unread(), 503);
    EXPECT_EQ(Hooks::Tip(), "Kelvaro - 未読 (503)");

    // Shown and active again: nothing is unread.
    w->Command(ID_RESTORE);
    ::SendMessageA(w->m_hWnd, WM_ACTIVATE, WA_ACTIVE, 0);
    EXPECT_EQ(w->Unread(), 0);
    EXPECT_EQ(Hooks::Tip(), "Kelvaro");
    // Another window in front: not looked at.
    ::SendMessageA(w->m_hWnd, WM_ACTIVATE, WA_INACTIVE, 0);
    w->Command(ID_SOUND_ON);
    w->OnLinesReceived({ "" });
    b = Hooks::Balloons();
    ASSERT_EQ(b.size(), 3u);
    EXPECT_STREQ(b[2].szInfo, " ") << "an empty line still shows a balloon";
    EXPECT_TRUE(b[2].dwInfoFlags & NIIF_NOSOUND) << "sounds are off";
}

// The ring plays at once and every two seconds while the call rings, and ends with the ringing
// however it ends; with sounds off there is none.
TEST(Ring, PlaysWhileRingingAndStopsWithIt)
{
    Hooks hooks;
    CModalCatcher catcher;
    Window w;
    ASSERT_TRUE(w.created);
    {
        Peer peer;
        ASSERT_TRUE(RingsFrom(w, peer, "北"));
        ASSERT_EQ(Hooks::Rings(), 1);
        EXPECT_EQ(g_sounds[0].fdwSound, (DWORD)(SND_RESOURCE | SND_ASYNC | SND_NODEFAULT));
        EXPECT_TRUE(g_sounds[0].bHasRing) << "the ring resource is not in the module handed over";
        PumpFor(2300);
        EXPECT_EQ(Hooks::Rings(), 2);
        w->Click(IDC_BTN_ANSWER);
        EXPECT_TRUE(g_sounds.back().bStop);
        PumpFor(2300);
        EXPECT_EQ(Hooks::Rings(), 2) << "rang on after the answer";
        w->Click(IDC_BTN_HANGUP);
    }
    const std::function<void(Window&, Peer&)> ends[] = {
        [](Window& w, Peer&) { w->Click(IDC_BTN_HANGUP); },
        [](Window& w, Peer& p) { ::closesocket(p.s), p.s = INVALID_SOCKET; PumpUntil([&] { return !w->Ringing(); }); },
        [](Window& w, Peer&) { w->Command(ID_SOUND_ON); },
    };
    for (const auto& end : ends) {
        Peer peer;
        g_sounds.clear();
        ASSERT_TRUE(RingsFrom(w, peer, "北"));
        end(w, peer);
        ASSERT_FALSE(g_sounds.empty());
        EXPECT_TRUE(g_sounds.back().bStop);
        w->Click(IDC_BTN_HANGUP);
    }
    // Sounds are off now (the last case): a call rings silently.
    g_sounds.clear();
    Peer peer;
    ASSERT_TRUE(RingsFrom(w, peer, "北"));
    EXPECT_EQ(Hooks::Rings(), 0);
}
