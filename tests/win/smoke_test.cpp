#include "tests/win/test_util.h"

TEST(MainWindowSmoke, StartsIdleAndClosesWritingSettings)
{
    CTempDir dir;
    CTestPhoneDlg dlg(dir.File("Kelvaro.ini"));
    ASSERT_TRUE(dlg.Create());
    EXPECT_EQ(dlg.ItemText(IDC_EDIT_ADDRESS), "localhost");
    EXPECT_TRUE(dlg.IsEnabled(IDC_BTN_CALL));
    EXPECT_FALSE(dlg.IsEnabled(IDC_BTN_HANGUP));
    dlg.Close();
    EXPECT_TRUE(FileExists(dir.File("Kelvaro.ini")));
}
