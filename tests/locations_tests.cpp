#include "locations/locations.h"
#include <shlobj.h>

#include <gtest/gtest.h>

#include "support.h"

namespace {

std::string Repeat(char c, size_t n)
{
    return std::string(n, c);
}

// An application-data folder of exactly `length` characters.
std::string AppDataOfLength(size_t length)
{
    std::string prefix = "C:\\";
    return prefix + Repeat('a', length - prefix.size());
}

struct LocationCase
{
    const char *name;
    std::string appData;        // empty: the platform has none
    std::string modulePath;
    DWORD moduleLength;         // what the platform claims; 0 means the path's own length
    std::string baseFolder, configFolder, settingsFilePath, gameExecutablePath;
    int useProductSubfolder;
};

const LocationCase kLocationCases[] =
{
    { "application-data folder", "C:\\Users\\player\\AppData\\Roaming", "D:\\Games\\X\\setup.exe", 0,
      "C:\\Users\\player\\AppData\\Roaming", "C:\\Users\\player\\AppData\\Roaming\\Quorvane",
      "C:\\Users\\player\\AppData\\Roaming\\Quorvane\\settings.ini", "D:\\Games\\X\\game.exe", 1 },
    { "no application-data folder", "", "D:\\Games\\X\\setup.exe", 0,
      "D:\\Games\\X", "D:\\Games\\X", "D:\\Games\\X\\settings.ini", "D:\\Games\\X\\game.exe", 0 },
    { "250 characters: folder fits, file does not", AppDataOfLength(250), "D:\\X\\setup.exe", 0,
      AppDataOfLength(250), AppDataOfLength(250) + "\\Quorvane", "", "D:\\X\\game.exe", 1 },
    // Not "\settings.ini" alone, which would be a file at the root of the current drive.
    { "251 characters: neither fits", AppDataOfLength(251), "D:\\X\\setup.exe", 0,
      AppDataOfLength(251), "", "", "D:\\X\\game.exe", 1 },
    { "237 characters: file is 259", AppDataOfLength(237), "D:\\X\\setup.exe", 0,
      AppDataOfLength(237), AppDataOfLength(237) + "\\Quorvane", AppDataOfLength(237) + "\\Quorvane\\settings.ini",
      "D:\\X\\game.exe", 1 },
    { "238 characters: file would be 260", AppDataOfLength(238), "D:\\X\\setup.exe", 0,
      AppDataOfLength(238), AppDataOfLength(238) + "\\Quorvane", "", "D:\\X\\game.exe", 1 },
    { "own path unavailable", "C:\\AppData", "", 0,
      "C:\\AppData", "C:\\AppData\\Quorvane", "C:\\AppData\\Quorvane\\settings.ini", "", 1 },
    { "own path cut short", "C:\\AppData", "D:\\" + Repeat('g', 300) + "\\setup.exe", 260,
      "C:\\AppData", "C:\\AppData\\Quorvane", "C:\\AppData\\Quorvane\\settings.ini", "", 1 },
    { "own folder too long for the game's name", "C:\\AppData", "D:\\" + Repeat('g', 249) + "\\s.exe", 0,
      "C:\\AppData", "C:\\AppData\\Quorvane", "C:\\AppData\\Quorvane\\settings.ini", "D:\\" + Repeat('g', 249), 1 },
    { "own path without a backslash", "", "setup.exe", 0,
      "setup.exe", "setup.exe", "setup.exe\\settings.ini", "setup.exe\\game.exe", 0 },
    { "only backslash at position 0", "", "\\setup.exe", 0,
      "\\setup.exe", "\\setup.exe", "\\setup.exe\\settings.ini", "\\setup.exe\\game.exe", 0 },
    { "fallback folder at 249 characters", "", AppDataOfLength(249) + "\\setup.exe", 0,
      AppDataOfLength(249), AppDataOfLength(249), "", AppDataOfLength(249) + "\\game.exe", 0 },
};

TEST(Locations, ResolvesEveryPathByTheLengthRule)
{
    for (const LocationCase &c : kLocationCases)
    {
        SCOPED_TRACE(c.name);
        g_fakeAppData = Wide(c.appData);
        SetFakeModulePath(c.modulePath);
        if (c.moduleLength)
            g_fakeModuleLength = c.moduleLength;
        memset(&g_locations, 'x', sizeof(g_locations));
        MessageBoxCloser closer;
        ASSERT_TRUE(ResolveLocationsWith(NULL, FakeAppDataFolder, FakeModuleFileName));
        EXPECT_TRUE(closer.seen.empty());
        EXPECT_EQ(c.baseFolder, g_locations.baseFolder);
        EXPECT_EQ(c.configFolder, g_locations.configFolder);
        EXPECT_EQ(c.settingsFilePath, g_locations.settingsFilePath);
        EXPECT_EQ(c.gameExecutablePath, g_locations.gameExecutablePath);
        EXPECT_EQ(c.useProductSubfolder, g_locations.useProductSubfolder);
    }
}

TEST(Locations, NoFolderAtAllShowsTheStartupError)
{
    for (DWORD claimed : { 0u, 260u, 300u })
    {
        SCOPED_TRACE(claimed);
        g_fakeAppData.clear();
        SetFakeModulePath("D:\\Games\\X\\setup.exe");
        g_fakeModuleLength = claimed;
        MessageBoxCloser closer;
        EXPECT_FALSE(ResolveLocationsWith(NULL, FakeAppDataFolder, FakeModuleFileName));
        ASSERT_EQ(1u, closer.seen.size());
        EXPECT_EQ("Error", closer.seen[0].caption);
        EXPECT_EQ("Unable to start setup!\nPlease verify your installation.", closer.seen[0].text);
        EXPECT_EQ(std::vector<std::string>{ "OK" }, closer.seen[0].buttons);
        EXPECT_TRUE(closer.seen[0].hasIcon);
    }
}

TEST(Locations, TheRealPlatformNamesTheApplicationDataFolder)
{
    char expected[MAX_PATH] = "";
    ASSERT_TRUE(SHGetSpecialFolderPathA(NULL, expected, CSIDL_APPDATA, FALSE));
    ASSERT_TRUE(ResolveLocations(NULL));
    EXPECT_STREQ(expected, g_locations.baseFolder);
    EXPECT_EQ(std::string(expected) + "\\Quorvane\\settings.ini", g_locations.settingsFilePath);
    char own[MAX_PATH];
    GetModuleFileNameA(NULL, own, MAX_PATH);
    std::string folder = own;
    folder.erase(folder.rfind('\\'));
    EXPECT_EQ(folder + "\\game.exe", g_locations.gameExecutablePath);
}

class ConfigFolder : public ::testing::Test
{
protected:
    void SetUp() override { base = MakeTempFolder("locations"); }
    void TearDown() override { RemoveTree(base); }
    std::string base;
};

TEST_F(ConfigFolder, IsCreatedOnceAndThenLeftAlone)
{
    g_fakeAppData = Wide(base);
    SetFakeModulePath("D:\\Games\\X\\setup.exe");
    ASSERT_TRUE(ResolveLocationsWith(NULL, FakeAppDataFolder, FakeModuleFileName));
    std::string folder = base + "\\Quorvane";
    EXPECT_FALSE(PathExists(folder));
    EnsureConfigFolder();
    EXPECT_TRUE(GetFileAttributesA(folder.c_str()) & FILE_ATTRIBUTE_DIRECTORY);

    WriteText(folder + "\\settings.ini", "[Sound]\r\nMASTER_VOLUME=5\r\n");
    EnsureConfigFolder();
    EXPECT_EQ("[Sound]\r\nMASTER_VOLUME=5\r\n", ReadText(folder + "\\settings.ini"));
}

TEST_F(ConfigFolder, OnlyTheLastLevelIsCreated)
{
    g_fakeAppData = Wide(base + "\\missing");
    SetFakeModulePath("D:\\Games\\X\\setup.exe");
    ASSERT_TRUE(ResolveLocationsWith(NULL, FakeAppDataFolder, FakeModuleFileName));
    EnsureConfigFolder();
    EXPECT_FALSE(PathExists(base + "\\missing"));
}

TEST_F(ConfigFolder, EmptyConfigFolderCreatesNothing)
{
    ZeroMemory(g_locations.configFolder, PATH_BUFFER_SIZE);
    char current[MAX_PATH];
    GetCurrentDirectoryA(MAX_PATH, current);
    SetCurrentDirectoryA(base.c_str());
    EnsureConfigFolder();
    SetCurrentDirectoryA(current);
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((base + "\\*").c_str(), &found);
    int entries = 0;
    if (search != INVALID_HANDLE_VALUE)
    {
        do
            entries++;
        while (FindNextFileA(search, &found));
        FindClose(search);
    }
    EXPECT_EQ(2, entries) << "only . and ..";
}

} // namespace

namespace {

// Names that code page 1252 cannot write.
const wchar_t kPiotr[] = L"\x041F\x0451\x0442\x0440";                 // Cyrillic
const wchar_t kLukasz[] = L"\x0141ukasz";                              // best-fit as "Lukasz"
const wchar_t kGames[] = L"\x0418\x0433\x0440\x044B";                  // Cyrillic
const wchar_t kPavel[] = L"\x041F\x0430\x0432\x0435\x043B";            // never created
const wchar_t kMyGames[] = L"\x041C\x043E\x0438 \x0438\x0433\x0440\x044B";  // never created

// The folders made for the test, each holding tag.txt and a game.exe whose text tells which folder it is.
const struct { const wchar_t *name; const char *tag; } kTaggedFolders[] =
{
    { L"Roaming", "roaming" }, { L"Games", "games" }, { kPiotr, "piotr" }, { kLukasz, "lukasz" },
    { L"Lukasz", "the other user's lukasz" }, { kGames, "cyrillic games" },
};

struct UnicodeCase
{
    const char *name;
    const wchar_t *appData;     // both folders lie under the test's own
    const wchar_t *ownFolder;   // holds the setup
    const char *baseIs;         // the tag of the folder baseFolder reaches
    int useProductSubfolder;
    const char *gameIs;         // the tag of the game.exe gameExecutablePath names; NULL for none
};

const UnicodeCase kUnicodeCases[] =
{
    { "application data in Cyrillic", kPiotr, L"Games", "piotr", 1, "games" },
    { "application data beside a look-alike", kLukasz, L"Games", "lukasz", 1, "games" },
    { "application data with no short form to be had", kPavel, L"Games", "games", 0, "games" },
    { "own folder in Cyrillic", L"Roaming", kGames, "roaming", 1, "cyrillic games" },
    { "own folder with no short form to be had", L"Roaming", kMyGames, "roaming", 1, NULL },
};

bool InAnsiCodePage(const wchar_t *name)
{
    char bytes[MAX_PATH];
    BOOL defaulted = FALSE;
    return WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, name, -1, bytes, MAX_PATH, NULL, &defaulted) > 0 &&
           !defaulted;
}

class FoldersOutsideTheCodePage : public ConfigFolder
{
};

// A folder the ANSI functions cannot name is reached through its short form; one with none counts as
// missing. A look-alike or a "?" would name somebody else's folder, or none.
TEST_F(FoldersOutsideTheCodePage, AreReachedByTheirShortFormsOrCountAsMissing)
{
    if (InAnsiCodePage(kPiotr) || InAnsiCodePage(kLukasz))
        GTEST_SKIP() << "code page " << GetACP() << " writes the names tried";
    std::wstring root = Wide(base);
    for (const auto &folder : kTaggedFolders)
    {
        std::wstring path = root + L"\\" + folder.name;
        ASSERT_TRUE(CreateDirectoryW(path.c_str(), NULL));
        WriteText(path + L"\\tag.txt", folder.tag);
        WriteText(path + L"\\game.exe", folder.tag);
    }

    for (const UnicodeCase &c : kUnicodeCases)
    {
        SCOPED_TRACE(c.name);
        g_fakeAppData = root + L"\\" + c.appData;
        SetFakeModulePath(root + L"\\" + c.ownFolder + L"\\setup.exe");
        MessageBoxCloser closer;
        ASSERT_TRUE(ResolveLocationsWith(NULL, FakeAppDataFolder, FakeModuleFileName));
        EXPECT_TRUE(closer.seen.empty());
        std::string baseFolder = g_locations.baseFolder;
        EXPECT_EQ(c.baseIs, ReadText(baseFolder + "\\tag.txt")) << "baseFolder " << baseFolder;
        EXPECT_EQ(c.useProductSubfolder, g_locations.useProductSubfolder);
        EXPECT_EQ(baseFolder + (c.useProductSubfolder ? "\\Quorvane" : ""), g_locations.configFolder);
        EXPECT_EQ(std::string(g_locations.configFolder) + "\\settings.ini", g_locations.settingsFilePath);
        if (c.gameIs)
            EXPECT_EQ(c.gameIs, ReadText(g_locations.gameExecutablePath)) << g_locations.gameExecutablePath;
        else
            EXPECT_STREQ("", g_locations.gameExecutablePath);
    }

    // Neither folder reachable is as if the platform had named neither.
    g_fakeAppData = root + L"\\" + kPavel;
    SetFakeModulePath(root + L"\\" + kMyGames + L"\\setup.exe");
    MessageBoxCloser closer;
    EXPECT_FALSE(ResolveLocationsWith(NULL, FakeAppDataFolder, FakeModuleFileName));
    EXPECT_EQ(1u, closer.seen.size()) << "the start-up error";
}

} // namespace

namespace {

// What a path becomes in a given code page: its exact bytes, or refused (and the buffer left empty).
struct ConversionCase
{
    const char *name;
    UINT codePage;
    std::wstring path;
    bool accepted;
    std::string bytes;
};

std::wstring Times(const wchar_t *letter, size_t n)
{
    std::wstring text;
    while (n-- > 0)
        text += letter;
    return text;
}

std::string Times(const char *bytes, size_t n)
{
    std::string text;
    while (n-- > 0)
        text += bytes;
    return text;
}

// 3 + 128 * 2 bytes and the terminator: the longest path of Cyrillic letters that fits.
const std::wstring kLongestCyrillic = L"C:\\" + Times(L"\x0416", 128);
const std::string kLongestCyrillicUtf8 = "C:\\" + Times("\xD0\x96", 128);

const ConversionCase kConversionCases[] =
{
    // Windows 10 and 11 offer UTF-8 as the ANSI code page: every letter is written, none refused.
    { "UTF-8: Cyrillic", CP_UTF8, L"C:\\Users\\\x041F\x0451\x0442\x0440", true,
      "C:\\Users\\\xD0\x9F\xD1\x91\xD1\x82\xD1\x80" },
    { "UTF-8: Polish", CP_UTF8, L"C:\\Users\\\x0141ukasz \x017A\x0107", true, "C:\\Users\\\xC5\x81ukasz \xC5\xBA\xC4\x87" },
    { "UTF-8: Japanese", CP_UTF8, L"D:\\\x30B2\x30FC\x30E0", true, "D:\\\xE3\x82\xB2\xE3\x83\xBC\xE3\x83\xA0" },
    { "UTF-8: a pair of surrogates", CP_UTF8, L"D:\\\xD83C\xDFAE", true, "D:\\\xF0\x9F\x8E\xAE" },
    { "UTF-8: plain letters", CP_UTF8, L"C:\\Games\\X", true, "C:\\Games\\X" },
    { "UTF-8: the longest that fits", CP_UTF8, kLongestCyrillic, true, kLongestCyrillicUtf8 },
    // Written as U+FFFD, it would name no folder.
    { "UTF-8: a lone high surrogate", CP_UTF8, L"C:\\a\xD800" L"b", false, "" },
    { "UTF-8: a lone low surrogate", CP_UTF8, L"C:\\a\xDC00", false, "" },
    { "UTF-8: one byte too long", CP_UTF8, kLongestCyrillic + L"a", false, "" },
    // A single-byte code page writes its own letters and refuses the others, look-alikes included.
    { "1252: its own letters", 1252, L"C:\\\x00C4rger \x00E9t\x00E9", true, "C:\\\xC4rger \xE9t\xE9" },
    { "1252: L with stroke", 1252, L"C:\\Users\\\x0141ukasz", false, "" },
    { "1252: Cyrillic", 1252, L"C:\\Users\\\x041F\x0451\x0442\x0440", false, "" },
};

// The conversion as Windows documents it, whose checks this platform partly skips: UTF-8 takes no flag
// but WC_ERR_INVALID_CHARS and neither default character nor the question whether one was used; no other
// code page of these takes WC_ERR_INVALID_CHARS.
extern "C" void *g_wideToMultiSlot __asm__("__imp__WideCharToMultiByte@32");
typedef int (WINAPI *WideToMultiFn)(UINT, DWORD, LPCWCH, int, LPSTR, int, LPCCH, LPBOOL);
WideToMultiFn g_realWideToMulti;

int WINAPI StrictWideToMulti(UINT codePage, DWORD flags, LPCWCH wide, int wideLength, LPSTR text, int size,
                             LPCCH defaultChar, LPBOOL usedDefault)
{
    bool utf8 = codePage == CP_UTF8;
    if (utf8 ? (flags & ~(DWORD)WC_ERR_INVALID_CHARS) != 0 : (flags & WC_ERR_INVALID_CHARS) != 0)
    {
        SetLastError(ERROR_INVALID_FLAGS);
        return 0;
    }
    if (utf8 && (defaultChar || usedDefault))
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    return g_realWideToMulti(codePage, flags, wide, wideLength, text, size, defaultChar, usedDefault);
}

TEST(Locations, PathsComeOutExactlyInTheCodePageOrNotAtAll)
{
    g_realWideToMulti = (WideToMultiFn)g_wideToMultiSlot;
    SlotSwap strict(&g_wideToMultiSlot, (void *)StrictWideToMulti);
    for (const ConversionCase &c : kConversionCases)
    {
        SCOPED_TRACE(c.name);
        char path[PATH_BUFFER_SIZE];
        memset(path, 'x', sizeof(path));
        EXPECT_EQ(c.accepted, ExactPathInCodePage(c.codePage, c.path.c_str(), path) != FALSE);
        std::string expected = c.bytes + std::string(PATH_BUFFER_SIZE - c.bytes.size(), '\0');
        EXPECT_EQ(expected, std::string(path, sizeof(path))) << "the path, then zeros to the end of the buffer";
    }
}

} // namespace
