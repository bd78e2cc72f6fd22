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
