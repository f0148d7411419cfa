// The real setup.exe with the user's application-data folder named outside the ANSI code page, pointed
// there through the value the shell reads: the settings go to that folder and come back from it after a
// restart, and a folder whose name merely looks alike is never touched. The setup runs from a copy in a
// folder of the test's own: when it falls back to its own folder, the file it writes there goes with the
// test instead of staying beside the test programs, where every later run would find it.
#include <gtest/gtest.h>

#include "driver.h"
#include "resources/resource.h"

using namespace driver;

namespace {

const DWORD kExitTimeoutMs = 15000;
const DWORD kCommandTimeoutMs = 10000;

// What another user with a look-alike name keeps in that folder.
const char kOtherUsersFile[] = "[Sound]\r\nMASTER_VOLUME=7\r\n";

struct Profile
{
    const char *name;
    const wchar_t *user;        // the profile's folder name, which code page 1252 cannot write
    const wchar_t *lookAlike;   // a profile whose name the code page would write in its place; NULL for none
};

const Profile kProfiles[] =
{
    { "Cyrillic", L"\x041F\x0451\x0442\x0440", NULL },
    { "LWithStroke", L"\x0141ukasz", L"Lukasz" },
};

void PrintTo(const Profile &profile, std::ostream *out)
{
    *out << profile.name;
}

// Every folder from `root` (which exists) down to `path`.
bool CreateFolders(const std::wstring &root, const std::wstring &path)
{
    for (size_t end = path.find(L'\\', root.size() + 1);; end = path.find(L'\\', end + 1))
    {
        std::wstring folder = path.substr(0, end);
        if (!CreateDirectoryW(folder.c_str(), NULL) && GetLastError() != ERROR_ALREADY_EXISTS)
            return false;
        if (end == std::wstring::npos)
            return true;
    }
}

class RedirectedAppData : public EndToEndTest, public ::testing::WithParamInterface<Profile>
{
};

TEST_P(RedirectedAppData, SettingsLiveInTheNamedFolderOnly)
{
    const Profile &profile = GetParam();
    std::wstring root = Wide(TempFolder("qv-profiles"));
    std::wstring appData = root + L"\\" + profile.user + L"\\AppData\\Roaming";
    std::wstring settings = appData + L"\\Quorvane\\settings.ini";
    ASSERT_TRUE(CreateFolders(root, appData));
    std::wstring otherUsersFile;
    if (profile.lookAlike)
    {
        std::wstring otherUsersFolder = root + L"\\" + profile.lookAlike + L"\\AppData\\Roaming\\Quorvane";
        ASSERT_TRUE(CreateFolders(root, otherUsersFolder));
        otherUsersFile = otherUsersFolder + L"\\settings.ini";
        WriteText(otherUsersFile, kOtherUsersFile);
    }
    std::string install = TempFolder("qv-profile-setup");
    std::string copy = install + "\\setup.exe";
    ASSERT_TRUE(CopyProgram(BuiltSetup(), copy)) << "could not copy " << BuiltSetup();
    ASSERT_TRUE(RedirectAppData(appData));

    ASSERT_TRUE(StartSetup(copy));
    EXPECT_EQ(50, window.SliderPosition(IDC_MASTER_VOLUME)) << "the first start shows the reset values";
    window.SetSliderPosition(IDC_MASTER_VOLUME, 23);
    window.PostCommand(IDM_SAVE);
    EXPECT_TRUE(WaitUntil([&]() { return ReadText(settings).find("MASTER_VOLUME=23\r\n") != std::string::npos; },
                          kCommandTimeoutMs))
        << "Save wrote no MASTER_VOLUME=23 into the profile's settings file; it holds:\n" << ReadText(settings);
    window.Close();
    ASSERT_TRUE(SetupExitsWithZero(kExitTimeoutMs));

    ASSERT_TRUE(StartSetup(copy));
    EXPECT_EQ(23, window.SliderPosition(IDC_MASTER_VOLUME)) << "after a restart";
    window.Close();
    EXPECT_TRUE(SetupExitsWithZero(kExitTimeoutMs));

    if (profile.lookAlike)
    {
        EXPECT_EQ(kOtherUsersFile, ReadText(otherUsersFile)) << "the other user's settings changed";
    }
    EXPECT_FALSE(PathExists(install + "\\settings.ini")) << "the settings went beside the setup";
}

INSTANTIATE_TEST_SUITE_P(Profiles, RedirectedAppData, ::testing::ValuesIn(kProfiles),
                         [](const ::testing::TestParamInfo<Profile> &info) { return std::string(info.param.name); });

}  // namespace
