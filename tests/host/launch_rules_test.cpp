// The tray switch on the command line, the name a running copy holds for its folder (the
// installer builds the same one), and the Run value that starts the program at logon.
#include "app/LaunchRules.h"

#include <gtest/gtest.h>

TEST(LaunchRules, TraySwitchIsFoundOnlyAfterTheProgramName)
{
    const struct {
        const wchar_t* pszLine;
        bool bTray;
    } cases[] = {
        { L"\"C:\\Program Files\\Kelvaro\\Kelvaro.exe\"", false },
        { L"\"C:\\Program Files\\Kelvaro\\Kelvaro.exe\" /tray", true },
        { L"Kelvaro.exe   /TRAY", true },
        { L"Kelvaro.exe -Tray", true },
        { L"Kelvaro.exe other \"/tray\"", true },
        { L"Kelvaro.exe /trays", false },
        { L"Kelvaro.exe tray", false },
        { L"\"C:\\x /tray\\Kelvaro.exe\"", false }, // inside the quoted program name
        { L"/tray", false }, // the program's own name
        { L"", false },
    };
    for (const auto& c : cases) EXPECT_EQ(CommandLineAsksForTray(c.pszLine), c.bTray) << c.pszLine;
}

TEST(LaunchRules, InstanceNameHasNoBackslashAndNoSeparatorAtTheEnd)
{
    EXPECT_EQ(InstanceName(L"C:\\USERS\\A\\APPDATA\\LOCAL\\PROGRAMS\\KELVARO\\"),
        L"Kelvaro C:/USERS/A/APPDATA/LOCAL/PROGRAMS/KELVARO");
    EXPECT_EQ(InstanceName(L"C:\\TOOLS\\KELVARO"), L"Kelvaro C:/TOOLS/KELVARO");
    EXPECT_EQ(InstanceName(L"\\\\SERVER\\SHARE\\K\\\\"), L"Kelvaro //SERVER/SHARE/K");
}

TEST(LaunchRules, RunValueQuotesThePathAndAddsTheSwitch)
{
    EXPECT_EQ(RunValue(L"C:\\My Apps\\Kelvaro.exe"), L"\"C:\\My Apps\\Kelvaro.exe\" /tray");
}

TEST(LaunchRules, ProgramOfARunValue)
{
    const struct {
        const wchar_t* pszValue;
        const wchar_t* pszProgram;
    } cases[] = {
        { L"\"C:\\My Apps\\Kelvaro.exe\" /tray", L"C:\\My Apps\\Kelvaro.exe" },
        { L"  \"C:\\My Apps\\Kelvaro.exe\"", L"C:\\My Apps\\Kelvaro.exe" },
        { L"C:\\Tools\\Kelvaro.exe /tray", L"C:\\Tools\\Kelvaro.exe" },
        { L"\"C:\\Tools\\Kelvaro.exe", L"C:\\Tools\\Kelvaro.exe" }, // no closing quote
        { L"", L"" },
    };
    for (const auto& c : cases) EXPECT_EQ(RunValueProgram(c.pszValue), c.pszProgram) << c.pszValue;
}
