// The main window right after start: every control idle, no taskbar button, the extra
// system-menu item, Enter that never closes it, and a start on a port that is taken.
#include "call/ErrorText.h"
#include "tests/win/test_util.h"

#include "phonebook/NameDlg.h"

TEST(MainWindowIdle, EveryControlIsInItsIdleState)
{
    CModalCatcher catcher;
    CPhoneDlgInTempDir dlg("[Setting]\r\nIP=127.0.0.1\r\nPort=0\r\nName=Taro\r\n"
                           "[Address]\r\nMax=1\r\nName1=Office\r\nIP1=127.0.0.2\r\nPort1=4000\r\n");
    ASSERT_TRUE(dlg.Create());

    EXPECT_TRUE(dlg.IsEnabled(IDC_EDIT_ADDRESS));
    EXPECT_EQ(dlg.ItemText(IDC_EDIT_ADDRESS), "127.0.0.1");
    EXPECT_TRUE(dlg.IsEnabled(IDC_EDIT_PORT));
    EXPECT_EQ(dlg.ItemText(IDC_EDIT_PORT), "0");
    EXPECT_EQ(dlg.ItemText(IDC_EDIT_MYNAME), "Taro");
    EXPECT_TRUE(dlg.IsEnabled(IDC_BTN_CALL));
    EXPECT_FALSE(dlg.IsEnabled(IDC_BTN_HANGUP));
    EXPECT_FALSE(dlg.IsEnabled(IDC_BTN_ANSWER));
    EXPECT_EQ(dlg.ItemText(IDC_STATIC_PARTNER), "");
    EXPECT_FALSE(dlg.IsVisible(IDC_STATIC_STATUS));
    EXPECT_EQ(dlg.ComboItems(), (std::vector<std::string> { "IPアドレス指定", "Office" }));
    EXPECT_EQ(dlg.ComboSel(), 0);
    EXPECT_EQ(dlg.BookSel(), 0);
    EXPECT_EQ(::SendMessageA(dlg.Item(IDC_CHK_MINSTART), BM_GETCHECK, 0, 0), BST_UNCHECKED);
    EXPECT_EQ(dlg.ItemText(IDC_EDIT_SEND), "");
    EXPECT_TRUE(dlg.ListItems(IDC_LIST_SEND).empty());
    EXPECT_TRUE(dlg.ListItems(IDC_LIST_RECEIVE).empty());
    for (int nID : { IDCANCEL, IDC_BTN_VERSION, IDC_BTN_REGISTER, IDC_BTN_DELETE, IDC_BTN_HIDE })
        EXPECT_TRUE(dlg.IsEnabled(nID)) << "control " << nID << " should be enabled";

    EXPECT_TRUE(dlg.IsWindowVisible());
    EXPECT_FALSE(dlg.InTray());
    EXPECT_EQ(LookOf(dlg), kIdle);
    EXPECT_EQ(dlg.InSocket(), nullptr);
    EXPECT_NE(dlg.ListeningPort(), 0u) << "not listening";
    EXPECT_TRUE(catcher.boxes.empty()) << "first box: " << catcher.boxes[0].strText;

    // No taskbar button: the notification-area icon is the way back.
    const LONG exStyle = ::GetWindowLongA(dlg.m_hWnd, GWL_EXSTYLE);
    EXPECT_EQ(exStyle & WS_EX_APPWINDOW, 0) << std::hex << exStyle;
    EXPECT_NE(exStyle & WS_EX_TOOLWINDOW, 0) << std::hex << exStyle;

    char title[64] = "";
    ::GetWindowTextA(dlg.m_hWnd, title, sizeof title);
    EXPECT_STREQ(title, "Kelvaro");
    EXPECT_NE(::SendMessageA(dlg.m_hWnd, WM_GETICON, ICON_BIG, 0), 0);
    EXPECT_NE(::SendMessageA(dlg.m_hWnd, WM_GETICON, ICON_SMALL, 0), 0);
    dlg.Close();
}

TEST(MainWindowIdle, SystemMenuEndsWithTheVersionItem)
{
    CPhoneDlgInTempDir dlg(kPortZero);
    ASSERT_TRUE(dlg.Create());
    HMENU hSys = ::GetSystemMenu(dlg.m_hWnd, FALSE);
    if (!hSys) {
        // Wine gives a window without WS_SYSMENU no system menu; the item then has no place.
        dlg.Close();
        GTEST_SKIP() << "this platform gives the window no system menu";
    }
    const int n = ::GetMenuItemCount(hSys);
    ASSERT_GE(n, 2);
    EXPECT_EQ(::GetMenuItemID(hSys, n - 1), (UINT)IDM_ABOUTBOX);
    char text[64] = "";
    ::GetMenuStringA(hSys, IDM_ABOUTBOX, text, sizeof text, MF_BYCOMMAND);
    EXPECT_STREQ(text, "ﾊﾞｰｼﾞｮﾝ情報(&A)...");
    EXPECT_NE(::GetMenuState(hSys, n - 2, MF_BYPOSITION) & MF_SEPARATOR, 0u)
        << "no separator before the item";
    dlg.Close();
}

TEST(MainWindowIdle, EnterWhileIdleNeverClosesAndSendsNothing)
{
    CModalCatcher catcher;
    CPhoneDlgInTempDir dlg(kPortZero);
    ASSERT_TRUE(dlg.Create());
    dlg.SetItemText(IDC_EDIT_SEND, "hello");
    dlg.Command(IDOK);
    // The Enter key in an edit reaches the same command through the hidden default button.
    for (int nID : { IDC_EDIT_ADDRESS, IDC_EDIT_PORT, IDC_EDIT_MYNAME, IDC_EDIT_SEND }) {
        MSG msg = { dlg.Item(nID), WM_KEYDOWN, VK_RETURN, 0x001C0001, 0, { 0, 0 } };
        ::IsDialogMessageA(dlg.m_hWnd, &msg);
    }
    PumpFor(50);
    EXPECT_FALSE(dlg.IsEnded()) << "Enter ended the window with " << dlg.GetEndResult();
    EXPECT_TRUE(dlg.IsWindowVisible());
    EXPECT_EQ(dlg.ItemText(IDC_EDIT_SEND), "hello") << "the line was taken as sent";
    EXPECT_TRUE(dlg.ListItems(IDC_LIST_SEND).empty());
    EXPECT_TRUE(catcher.boxes.empty()) << "first box: " << catcher.boxes[0].strText;
    EXPECT_TRUE(dlg.IsEnabled(IDC_BTN_CALL));
    dlg.Close();
}

TEST(MainWindowIdle, PortTakenIsToldOnceAndTheWindowStillWorks)
{
    // Hold a port the way another program would.
    SOCKET s = ::socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_NE(s, INVALID_SOCKET);
    sockaddr_in addr = {};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_ANY);
    ASSERT_EQ(::bind(s, (sockaddr*)&addr, sizeof addr), 0);
    ASSERT_EQ(::listen(s, 1), 0);
    int len = sizeof addr;
    ::getsockname(s, (sockaddr*)&addr, &len);
    const unsigned nPort = ntohs(addr.sin_port);

    CModalCatcher catcher;
    CPhoneDlgInTempDir dlg("[Setting]\r\nPort=" + std::to_string(nPort) + "\r\n");
    ASSERT_TRUE(dlg.Create());
    PumpFor(100);
    EXPECT_EQ(dlg.ListeningPort(), 0u);
    // Wine has no system text for "address in use": the program's own text, with the number.
    ASSERT_EQ(catcher.boxes.size(), 1u);
    EXPECT_EQ(catcher.boxes[0].strText,
        "このポートはほかのプログラムが使っています。ここへ電話をかけることはできません。（エラー番号 "
        "10048）");
    EXPECT_EQ(catcher.boxes[0].strCaption, "Kelvaro");
    // Still a working window: it shows the file's values and closes writing them.
    EXPECT_TRUE(dlg.IsWindowVisible());
    EXPECT_EQ(dlg.ItemText(IDC_EDIT_PORT), std::to_string(nPort));
    EXPECT_TRUE(dlg.IsEnabled(IDC_BTN_CALL));
    dlg.SetItemText(IDC_EDIT_MYNAME, "StillHere");
    dlg.Close();
    ::closesocket(s);
    EXPECT_NE(ReadFileBytes(dlg.IniFile()).find("Name=StillHere\r\n"), std::string::npos);
}

TEST(MainWindowIdle, LeavesNoDrawingObjectsBehind)
{
    const int nBefore = CGdiObject::LiveCount();
    {
        CPhoneDlgInTempDir dlg(kPortZero);
        ASSERT_TRUE(dlg.Create());
        ::RedrawWindow(dlg.m_hWnd, NULL, NULL, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW | RDW_ALLCHILDREN);
        ::SendMessageA(dlg.m_hWnd, WM_ACTIVATE, WA_INACTIVE, 0);
        EXPECT_GT(CGdiObject::LiveCount(), nBefore) << "the brushes should be alive while the window is";
        dlg.Close();
    }
    EXPECT_EQ(CGdiObject::LiveCount(), nBefore);
    {
        CNameDlg name;
        ASSERT_TRUE(name.Create(IDD_NAME));
        ::ShowWindow(name.m_hWnd, SW_SHOW);
        ::RedrawWindow(name.m_hWnd, NULL, NULL, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW | RDW_ALLCHILDREN);
        ::DestroyWindow(name.m_hWnd);
    }
    EXPECT_EQ(CGdiObject::LiveCount(), nBefore);
}

TEST(MainWindowIdle, EveryNetworkErrorAUserMeetsHasATextWithItsNumber)
{
    const DWORD codes[] = { 10048, 10049, 10050, 10051, 10053, 10054, 10060, 10061, 10064, 10065, 11001,
        11002, 11004 };
    for (DWORD code : codes) {
        const std::string text = ErrorText(code).str();
        EXPECT_GT(text.size(), 8u) << code << ": \"" << text << "\"";
        EXPECT_NE(text.rfind("エラー番号", 0), 0u) << code << " has only the bare number: " << text;
    }
    EXPECT_EQ(ErrorText(123456).str(), "エラー番号 123456");
}
