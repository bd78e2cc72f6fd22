// Long received lines can be scrolled to sideways, and a new call starts with narrow lists.
#include "tests/win/test_util.h"

namespace {

SOCKET ConnectTo(UINT port)
{
    SOCKET s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr = {};
    addr.sin_family = AF_INET;
    addr.sin_port = htons((u_short)port);
    addr.sin_addr.s_addr = ::inet_addr("127.0.0.1");
    if (::connect(s, (sockaddr*)&addr, sizeof addr) == SOCKET_ERROR) {
        ::closesocket(s);
        return INVALID_SOCKET;
    }
    return s;
}

int Extent(const CTestPhoneDlg& dlg, int nID)
{
    return (int)::SendMessageA(dlg.Item(nID), LB_GETHORIZONTALEXTENT, 0, 0);
}

} // namespace

TEST(ReceivedLines, LongLineWidensTheScrollExtentAndHangUpResetsIt)
{
    CPhoneDlgInTempDir dlg("[Setting]\r\nPort=0\r\nName=south\r\n");
    ASSERT_TRUE(dlg.Create());
    SOCKET peer = ConnectTo(dlg.ListeningPort());
    ASSERT_NE(peer, INVALID_SOCKET);
    ASSERT_TRUE(PumpUntil([&] { return dlg.InConnected(); }));

    RECT rc;
    ::GetClientRect(dlg.Item(IDC_LIST_RECEIVE), &rc);
    const std::string shortLine = "Sshort\r";
    const std::string longLine = "S" + std::string(400, 'w') + "\r";
    ::send(peer, shortLine.data(), (int)shortLine.size(), 0);
    ASSERT_TRUE(PumpUntil([&] { return dlg.ListItems(IDC_LIST_RECEIVE).size() == 1; }));
    const int nShort = Extent(dlg, IDC_LIST_RECEIVE);
    EXPECT_LT(nShort, rc.right) << "a short line needs no scrolling";

    ::send(peer, longLine.data(), (int)longLine.size(), 0);
    ASSERT_TRUE(PumpUntil([&] { return dlg.ListItems(IDC_LIST_RECEIVE).size() == 2; }));
    EXPECT_GT(Extent(dlg, IDC_LIST_RECEIVE), rc.right) << "a line wider than the list must be reachable";

    // A shorter line after it keeps the extent of the longest.
    const int nLong = Extent(dlg, IDC_LIST_RECEIVE);
    ::send(peer, shortLine.data(), (int)shortLine.size(), 0);
    ASSERT_TRUE(PumpUntil([&] { return dlg.ListItems(IDC_LIST_RECEIVE).size() == 3; }));
    EXPECT_EQ(Extent(dlg, IDC_LIST_RECEIVE), nLong);

    dlg.Click(IDC_BTN_HANGUP);
    EXPECT_TRUE(dlg.ListItems(IDC_LIST_RECEIVE).empty());
    EXPECT_EQ(Extent(dlg, IDC_LIST_RECEIVE), 0) << "the next call starts without the old extent";
    ::closesocket(peer);
    dlg.Close();
}
