// The nearby item of the popup menu and its setting. (Finding partners needs multicast, which is
// tested only inside a network namespace of its own: scripts/nearby_test.sh.)
#include "tests/win/test_util.h"

TEST(NearbyTest, AnnounceIsOffByDefaultAndTheMenuItemTogglesWhatIsSaved)
{
    const struct {
        const char* ini;
        int commands;
        const char* saved;
    } cases[] = {
        // The tests' own "Browse=0" keeps the window off multicast; off, Announce is not written.
        { "", 0, "[Nearby]\r\nBrowse=0\r\n" },
        { "", 1, "[Nearby]\r\nBrowse=0\r\nAnnounce=1\r\n" },
        { "[Nearby]\r\nAnnounce=1\r\n", 1, "[Nearby]\r\nAnnounce=0\r\nBrowse=0\r\n" },
        { "[Nearby]\r\nAnnounce=1\r\n", 2, "[Nearby]\r\nAnnounce=1\r\nBrowse=0\r\n" },
    };
    for (const auto& c : cases) {
        CTempDir dir;
        WriteFileBytes(dir.File("Kelvaro.ini"), std::string(kPortZero) + c.ini);
        CTestPhoneDlg dlg(dir.File("Kelvaro.ini"));
        ASSERT_TRUE(dlg.Create());
        for (int i = 0; i < c.commands; ++i) dlg.Command(ID_NEARBY_ANNOUNCE);
        EXPECT_EQ(std::vector<std::string> { "IPアドレス指定" }, dlg.ComboItems())
            << "nobody found off the network";
        dlg.Close();
        const std::string text = ReadFileBytes(dir.File("Kelvaro.ini"));
        const size_t start = text.find("[Nearby]");
        const std::string section =
            start == std::string::npos ? "" : text.substr(start, text.find('[', start + 1) - start);
        EXPECT_EQ(c.saved, section) << c.ini << " and " << c.commands << " commands";
    }
}

namespace {

class CNearbyTestDlg : public CTestPhoneDlg {
public:
    using CTestPhoneDlg::CTestPhoneDlg;
    CNearby& Nearby() { return m_nearby; }
};

} // namespace

TEST(NearbyTest, ItemsShowACleanedNameTheMarkTheClassifierGivesAndAMoveUntilChosen)
{
    CTempDir dir;
    WriteFileBytes(dir.File("Kelvaro.ini"), kPortZero);
    CNearbyTestDlg dlg(dir.File("Kelvaro.ini"));
    ASSERT_TRUE(dlg.Create());
    std::vector<std::string> fingerprints;
    dlg.Nearby().SetClassifier([&](const CString& strName, const std::string& fp) {
        fingerprints.push_back(fp);
        if (fp == std::string(64, 'a')) return NearbyMark::Verified;
        return strName == "山田" ? NearbyMark::OtherKey : NearbyMark::Plain;
    });
    std::vector<NearbyPeer> peers(5);
    const std::string names[] = { "\xe4\xbd\x90\xe8\x97\xa4\t\t  \xe3\x81\x95\xe3\x82\x93", "",
        "\xe5\xb1\xb1\xe7\x94\xb0", "\xe9\x88\xb4\xe6\x9c\xa8", [] {
            std::string s;
            for (int i = 0; i < 21; ++i) s += "\xe5\x90\x8d"; // 名
            return s;
        }() };
    for (size_t i = 0; i < peers.size(); ++i) {
        peers[i].name = names[i];
        peers[i].port = (uint16_t)(1000 + i);
        peers[i].addresses.push_back(std::string("\x0a\0\0\x01", 4));
    }
    peers[0].fingerprint = std::string(64, 'a');
    peers[1].name = std::string("\0", 1) + " ";
    peers[3].bMoved = true;
    dlg.Nearby().ShowFound(peers);
    const std::vector<std::string> items = dlg.ComboItems();
    ASSERT_EQ(5u, items.size()) << "the name of nothing but NUL and a space is not listed: "
                                << ::testing::PrintToString(items);
    EXPECT_EQ("佐藤 さん (近く・確認済み)", items[1]);
    EXPECT_EQ("山田 (近く・別の鍵)", items[2]);
    EXPECT_EQ("鈴木 (近く・変更あり)", items[3]);
    const std::string longItem = items[4];
    ASSERT_GT(longItem.size(), 8u);
    EXPECT_EQ(" (近く)", longItem.substr(longItem.size() - std::string(" (近く)").size()));
    EXPECT_NE(std::string::npos, longItem.find("…")) << longItem << ": cut to fit the box";
    EXPECT_EQ(std::string(64, 'a'), fingerprints.front());

    // The whole item fits the closed box.
    HWND hCombo = dlg.Item(IDC_COMBO_PHONEBOOK);
    RECT rc = {};
    ::GetClientRect(hCombo, &rc);
    HDC hDC = ::GetDC(hCombo);
    HGDIOBJ hOld = ::SelectObject(hDC, (HFONT)::SendMessageA(hCombo, WM_GETFONT, 0, 0));
    SIZE size = {};
    ::GetTextExtentPoint32A(hDC, longItem.c_str(), (int)longItem.size(), &size);
    ::SelectObject(hDC, hOld);
    ::ReleaseDC(hCombo, hDC);
    EXPECT_LT(size.cx, rc.right - ::GetSystemMetrics(SM_CXVSCROLL));
    EXPECT_GE((int)::SendMessageA(hCombo, CB_GETDROPPEDWIDTH, 0, 0), size.cx) << "the open list is as wide";

    // Choosing the moved entry takes its mark away; it stays chosen.
    dlg.ChooseEntry(3);
    EXPECT_EQ("鈴木 (近く)", dlg.ComboItems()[3]);
    EXPECT_EQ(3, dlg.ComboSel());
    dlg.Close();
}
