// The answering machine between two windows (an encrypted call), its file, tip and menu item,
// and the messages dialog run as the menu runs it.
#include "tests/call_looks.h"
#include "tests/win/test_util.h"

#include "ui/TrayIcon.h"

#include <map>
#include <regex>

namespace {

// Each window's tip and balloon titles, as they reached the notification area.
std::map<HWND, std::string> g_tips;
std::map<HWND, std::vector<std::string>> g_balloons;

struct TipHook {
    TipHook()
    {
        g_tips.clear(), g_balloons.clear();
        SetShellNotifyIconHook([](DWORD, PNOTIFYICONDATAA p) -> BOOL {
            if (p->uFlags & NIF_TIP) g_tips[p->hWnd] = p->szTip;
            if (p->uFlags & NIF_INFO) g_balloons[p->hWnd].push_back(p->szInfoTitle);
            return TRUE;
        });
    }
    ~TipHook() { SetShellNotifyIconHook(nullptr); }
};

// The window opened again on its settings file with these lines added.
void Reopen(Phone& p, const std::string& strExtra)
{
    p.dlg->Close();
    WriteFileBytes(p.dir.File("Kelvaro.ini"),
        "[Setting]\r\nIP=127.0.0.1\r\nPort=0\r\nName=" + p.name + "\r\n" + strExtra);
    p.dlg.reset(new CTestPhoneDlg(p.dir.File("Kelvaro.ini")));
    p.created = p.dlg->Create() != FALSE;
}

class AnsweringMachine : public CCallFixture { };

TEST_F(AnsweringMachine, AnEncryptedCallerLeavesAMessageAndTheTipTellsOfIt)
{
    TipHook hook;
    CModalCatcher catcher;
    Phone north("北"), south("南");
    Reopen(south, "[Away]\r\nOn=1\r\nText=留守です\r\n");
    ASSERT_TRUE(north.created && south.created);
    Dial(north, south);
    ASSERT_TRUE(ReceivesLines(north, 1));
    EXPECT_EQ(Joined(north->ListItems(IDC_LIST_RECEIVE)), Joined({ "留守です" }));
    EXPECT_EQ(LookOf(*north), kTalking);
    EXPECT_EQ(LookOf(*south), kAway);
    const std::string code = south->ItemText(IDC_STATIC_SECURE);
    ASSERT_TRUE(std::regex_match(code, std::regex("暗号化 [0-9]{3} [0-9]{3}"))) << Quote(code);
    EXPECT_EQ(north->ItemText(IDC_STATIC_SECURE), code);

    Say(north, "one");
    Say(north, "two");
    ASSERT_TRUE(ReceivesLines(south, 2));
    north->Click(IDC_BTN_HANGUP);
    ASSERT_TRUE(ReachesLook(*south, kIdle));
    EXPECT_TRUE(std::regex_match(ReadFileBytes(south.dir.File("Messages.txt")),
        std::regex("#\t[0-9-]{10}\t[0-9:]{8}\t北\t127\\.0\\.0\\.1\tsecure " + code.substr(7) +
            "\tnew\r\n\tone\r\n\ttwo\r\n")))
        << Quote(ReadFileBytes(south.dir.File("Messages.txt")));
    EXPECT_EQ(g_tips[south->m_hWnd], "Kelvaro - 留守録 1件");
    EXPECT_EQ(g_balloons[south->m_hWnd], std::vector<std::string> { "留守録 1件" }) << "no balloon per line";
    EXPECT_EQ(ReadFileBytes(south.dir.File("MissedCalls.txt")), "") << "a message is no missed call";
    EXPECT_TRUE(NoBoxes(catcher));
}

TEST_F(AnsweringMachine, TypingTakesTheCallOver)
{
    CModalCatcher catcher;
    Phone north("北"), south("南");
    Reopen(south, "[Away]\r\nOn=1\r\n");
    ASSERT_TRUE(north.created && south.created);
    Dial(north, south);
    ASSERT_TRUE(ReachesLook(*south, kAway));
    ASSERT_TRUE(ReceivesLines(north, 1)) << "the greeting, once the keys are agreed";
    Say(south, "います");
    EXPECT_EQ(LookOf(*south), kTalking);
    ASSERT_TRUE(ReceivesLines(north, 2));
    north->Click(IDC_BTN_HANGUP);
    ASSERT_TRUE(ReachesLook(*south, kIdle));
    EXPECT_EQ(ReadFileBytes(south.dir.File("Messages.txt")), "") << "the user talked: no message";
}

// The dialog as the menu runs it: newest first, unread marked until selected, the lines below,
// delete, call back; and the on/off item kept in the settings file.
TEST(MessagesDialog, ListsMarksReadDeletesAndCallsBack)
{
    TipHook hook;
    CModalCatcher catcher;
    Phone p("南");
    Reopen(p, "");
    const std::string older = "#\t2026-12-07\t09:00:00\t\t::1\tplain\tnew\r\n\tfirst\r\n";
    const std::string newer =
        "#\t2026-12-08\t10:15:03\t北\t127.0.0.1\tsecure 123 456\tnew\r\n\ta\\tb\r\n\tc\r\n";
    WriteFileBytes(p.dir.File("Messages.txt"), older + newer + "damaged\r\n");
    Reopen(p, "");
    EXPECT_EQ(g_tips[p->m_hWnd], "Kelvaro - 留守録 2件");
    std::vector<std::string> rows, lines;
    catcher.onDialog = [&](CDialog* pDlg) {
        HWND h = pDlg->m_hWnd;
        char text[256];
        for (int i = 0; ::SendDlgItemMessageA(h, IDC_LIST_MESSAGES, LB_GETTEXT, (WPARAM)i, (LPARAM)text) > 0;
             ++i)
            rows.push_back(text);
        for (int i = 0;
             ::SendDlgItemMessageA(h, IDC_LIST_MESSAGE_LINES, LB_GETTEXT, (WPARAM)i, (LPARAM)text) > 0; ++i)
            lines.push_back(text);
        ::GetDlgItemTextA(h, IDC_STATIC_MESSAGES_NOTE, text, sizeof text);
        rows.push_back(text);
        ::SendDlgItemMessageA(h, IDC_BTN_MSG_DELETE, BM_CLICK, 0, 0);
        ::SendDlgItemMessageA(h, IDC_BTN_MSG_CALLBACK, BM_CLICK, 0, 0);
    };
    p->Command(ID_MESSAGES);
    EXPECT_EQ(rows,
        (std::vector<std::string> { "\t12/08 10:15\t北\t127.0.0.1\t暗号化 123 456\t2行",
            "●\t12/07 09:00\t::1\t::1\t暗号化なし\t1行", "読めない行は表示せずに残しています。" }));
    EXPECT_EQ(lines, (std::vector<std::string> { "a\\tb", "c" }));
    // The newer went, the damaged line stays behind the older, which is now read and called back.
    EXPECT_EQ(ReadFileBytes(p.dir.File("Messages.txt")),
        "#\t2026-12-07\t09:00:00\t\t::1\tplain\tread\r\n\tfirst\r\ndamaged\r\n");
    EXPECT_EQ(p->ItemText(IDC_EDIT_ADDRESS) + " " + p->ItemText(IDC_EDIT_PORT), "::1 32760");
    p->Click(IDC_BTN_HANGUP);
    EXPECT_EQ(g_tips[p->m_hWnd], "Kelvaro");

    p->Command(ID_AWAY);
    p.dlg->Close();
    EXPECT_NE(ReadFileBytes(p.dir.File("Kelvaro.ini")).find("[Away]\r\nOn=1\r\n"), std::string::npos);
    p.dlg.reset();
    EXPECT_TRUE(NoBoxes(catcher));
}

} // namespace
