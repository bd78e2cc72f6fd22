// Long received lines can be scrolled to sideways, and a new call starts with narrow lists.
#include "tests/win/test_util.h"

namespace {

int Extent(const CTestPhoneDlg& dlg, int nID)
{
    return (int)::SendMessageA(dlg.Item(nID), LB_GETHORIZONTALEXTENT, 0, 0);
}

} // namespace

TEST(ReceivedLines, LongLineWidensTheScrollExtentAndHangUpResetsIt)
{
    CPhoneDlgInTempDir dlg("[Setting]\r\nPort=0\r\nName=south\r\n");
    ASSERT_TRUE(dlg.Create());
    CRawPeer peer;
    ASSERT_TRUE(peer.Connect(dlg.ListeningPort()));
    ASSERT_TRUE(PumpUntil([&] { return dlg.CallStands(); }));

    RECT rc;
    ::GetClientRect(dlg.Item(IDC_LIST_RECEIVE), &rc);
    const std::string shortLine = "Sshort\r";
    const std::string longLine = "S" + std::string(400, 'w') + "\r";
    peer.Send(shortLine);
    ASSERT_TRUE(PumpUntil([&] { return dlg.ListItems(IDC_LIST_RECEIVE).size() == 1; }));
    const int nShort = Extent(dlg, IDC_LIST_RECEIVE);
    EXPECT_LT(nShort, rc.right) << "a short line needs no scrolling";

    peer.Send(longLine);
    ASSERT_TRUE(PumpUntil([&] { return dlg.ListItems(IDC_LIST_RECEIVE).size() == 2; }));
    EXPECT_GT(Extent(dlg, IDC_LIST_RECEIVE), rc.right) << "a line wider than the list must be reachable";

    // A shorter line after it keeps the extent of the longest.
    const int nLong = Extent(dlg, IDC_LIST_RECEIVE);
    peer.Send(shortLine);
    ASSERT_TRUE(PumpUntil([&] { return dlg.ListItems(IDC_LIST_RECEIVE).size() == 3; }));
    EXPECT_EQ(Extent(dlg, IDC_LIST_RECEIVE), nLong);

    dlg.Click(IDC_BTN_HANGUP);
    EXPECT_TRUE(dlg.ListItems(IDC_LIST_RECEIVE).empty());
    EXPECT_EQ(Extent(dlg, IDC_LIST_RECEIVE), 0) << "the next call starts without the old extent";
    peer.Close();
    dlg.Close();
}

// A long flood keeps only the newest lines, in order and in view; the extent follows the widest
// line still listed.
TEST(ReceivedLines, AFloodKeepsTheNewestLinesInOrderAndInView)
{
    HWND hList = ::CreateWindowExA(0, "LISTBOX", "",
        WS_POPUP | WS_VSCROLL | WS_HSCROLL | LBS_NOTIFY | LBS_NOINTEGRALHEIGHT, 0, 0, 300, 150, NULL, NULL,
        NULL, NULL);
    ASSERT_TRUE(hList != NULL);
    CListBox list;
    ASSERT_TRUE(list.SubclassWindow(hList));
    CTextMeasure measure;
    const CString strLong(std::string(300, 'w').c_str());
    auto line = [](int n) {
        char sz[32];
        wsprintfA(sz, "line %05d", n);
        return CString(sz);
    };

    AddLines(list, { strLong }, measure);
    const int nLongExtent = (int)list.SendMessage(LB_GETHORIZONTALEXTENT);
    // Batches of the sizes a receive turn and typed lines give, 25,000 lines in all.
    const int sizes[] = { 700, 1, 2000, 3, 999 };
    int nSent = 1;
    for (int i = 0; nSent < 25000; ++i) {
        std::vector<CString> batch;
        for (int k = 0; k < sizes[i % 5] && nSent < 25000; ++k) batch.push_back(line(nSent++));
        AddLines(list, batch, measure);
        ASSERT_LE(list.GetCount(), 10000) << "after line " << nSent;
    }

    const int nCount = list.GetCount();
    ASSERT_EQ(nCount, 10000);
    CString strItem;
    for (int i = 0; i < nCount; ++i) {
        list.GetText(i, strItem);
        ASSERT_EQ(strItem.str(), line(25000 - nCount + i).str()) << "item " << i;
    }
    RECT rcClient, rcLast;
    ::GetClientRect(hList, &rcClient);
    list.SendMessage(LB_GETITEMRECT, (WPARAM)(nCount - 1), (LPARAM)&rcLast);
    EXPECT_TRUE(rcLast.top >= 0 && rcLast.bottom <= rcClient.bottom) << "the newest line is in view";

    const int nShortExtent = (int)list.SendMessage(LB_GETHORIZONTALEXTENT);
    EXPECT_GT(nShortExtent, 0);
    EXPECT_LT(nShortExtent, nLongExtent) << "the long line has left the list";
    AddLines(list, { strLong }, measure);
    EXPECT_EQ(list.SendMessage(LB_GETHORIZONTALEXTENT), nLongExtent);
    ::DestroyWindow(hList);
}
