// Where the settings file is kept: beside the program while its folder can be written, else in
// the user's application data folder, set up there once.
#include "tests/win/test_util.h"

#include "app/Paths.h"

#include <algorithm>

namespace {

// The names in a folder (path with its trailing backslash), sorted, without "." and "..".
std::vector<std::string> Names(const std::string& strFolder)
{
    std::vector<std::string> names;
    WIN32_FIND_DATAA fd;
    HANDLE h = ::FindFirstFileA((strFolder + "*").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) return names;
    do {
        const std::string name = fd.cFileName;
        if (name != "." && name != "..") names.push_back(name);
    } while (::FindNextFileA(h, &fd));
    ::FindClose(h);
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace

TEST(SettingsPlace, AWritableProgramFolderKeepsEverythingBesideTheProgram)
{
    for (const bool bOldFile : { true, false }) {
        SCOPED_TRACE(bOldFile ? "with a settings file" : "without one");
        CTempDir program, appData;
        if (bOldFile) WriteFileBytes(program.File("Kelvaro.ini"), "[Setting]\r\nName=old\r\n");
        const CSettingsPlace place = ChooseSettingsPlace(program.Path().c_str(), appData.Path().c_str());
        EXPECT_EQ(place.strPath.str(), program.File("Kelvaro.ini"));
        EXPECT_FALSE(place.bFirstTime);
        // The probe leaves nothing behind, and nothing is made for the user.
        EXPECT_EQ(Names(program.Path()),
            bOldFile ? std::vector<std::string> { "Kelvaro.ini" } : std::vector<std::string> {});
        EXPECT_EQ(Names(appData.Path()), std::vector<std::string> {});
    }
}

// Running as root under Wine, neither the read-only attribute nor the folder's permissions stop
// a write; a folder below a regular file cannot be written (or made) by anyone.
TEST(SettingsPlace, AnUnwritableProgramFolderMovesTheSettingsToTheUserOnce)
{
    CTempDir base, appData;
    WriteFileBytes(base.File("plain"), "a file, not a folder");
    const std::string strProgram = base.File("plain\\Kelvaro\\");
    const std::string strMoved = appData.File("Kelvaro\\Kelvaro.ini");

    const CSettingsPlace first = ChooseSettingsPlace(strProgram.c_str(), appData.Path().c_str());
    EXPECT_EQ(first.strPath.str(), strMoved);
    EXPECT_TRUE(first.bFirstTime);
    EXPECT_TRUE(FileExists(strMoved)) << "the move is done once, even before the first write";

    const CSettingsPlace second = ChooseSettingsPlace(strProgram.c_str(), appData.Path().c_str());
    EXPECT_EQ(second.strPath.str(), strMoved);
    EXPECT_FALSE(second.bFirstTime);
}

TEST(SettingsPlace, TheOldFileIsCopiedToTheUserOnlyTheFirstTime)
{
    CTempDir program, appData;
    const std::string strOld = program.File("Kelvaro.ini");
    const std::string strMoved = appData.File("Kelvaro\\Kelvaro.ini");
    WriteFileBytes(strOld, "[Setting]\r\nName=old\r\n");
    ::SetFileAttributesA(strOld.c_str(), FILE_ATTRIBUTE_READONLY);

    const CSettingsPlace first = PerUserSettingsPlace(program.Path().c_str(), appData.Path().c_str());
    EXPECT_EQ(first.strPath.str(), strMoved);
    EXPECT_TRUE(first.bFirstTime);
    EXPECT_EQ(ReadFileBytes(strMoved), "[Setting]\r\nName=old\r\n");
    EXPECT_EQ(::GetFileAttributesA(strMoved.c_str()) & FILE_ATTRIBUTE_READONLY, 0u) << "the copy is writable";

    // From then on the user's file is used as it is.
    ::SetFileAttributesA(strOld.c_str(), FILE_ATTRIBUTE_NORMAL);
    WriteFileBytes(strOld, "[Setting]\r\nName=changed\r\n");
    const CSettingsPlace second = PerUserSettingsPlace(program.Path().c_str(), appData.Path().c_str());
    EXPECT_EQ(second.strPath.str(), strMoved);
    EXPECT_FALSE(second.bFirstTime);
    EXPECT_EQ(ReadFileBytes(strMoved), "[Setting]\r\nName=old\r\n");
}
