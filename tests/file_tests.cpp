#include <gtest/gtest.h>

#include <algorithm>

#include "locations/locations.h"
#include "settings/catalogue.h"
#include "settings/file.h"
#include "support.h"

namespace {

const std::vector<Resolution> kFiveModes =
{
    { 800, 600, 32, 60 }, { 640, 480, 32, 60 }, { 1024, 768, 32, 60 }, { 1152, 864, 32, 60 }, { 1280, 1024, 32, 60 },
};

class SettingsFile : public ::testing::Test
{
protected:
    void SetUp() override
    {
        folder = MakeTempFolder("settings");
        path = folder + "\\settings.ini";
        UseSettingsFile(path);
        UseCatalogue(kFiveModes);
    }
    void TearDown() override { RemoveTree(folder); }

    std::string folder, path;
};

void ExpectRecord(const SetupSettings &expected, const SetupSettings &got)
{
    EXPECT_EQ(expected.masterVolume, got.masterVolume);
    EXPECT_EQ(expected.effectVolume, got.effectVolume);
    EXPECT_EQ(expected.ambientVolume, got.ambientVolume);
    EXPECT_EQ(expected.musicVolume, got.musicVolume);
    EXPECT_EQ(expected.renderer, got.renderer);
    EXPECT_EQ(expected.displayMode, got.displayMode);
    EXPECT_EQ(expected.resolutionIndex, got.resolutionIndex);
    EXPECT_EQ(expected.softwareCursor, got.softwareCursor);
    EXPECT_EQ(expected.vsync, got.vsync);
}

TEST_F(SettingsFile, NoFileLoadsTheDefaults)
{
    SetupSettings defaults = { 50, 100, 100, 100, RENDERER_OPENGL, DISPLAY_FULLSCREEN, 1, 1, 0 };
    SetupSettings loaded = LoadSettings();
    ExpectRecord(defaults, loaded);
    ExpectRecord(defaults, g_settings);
    EXPECT_FALSE(PathExists(path)) << "loading must not create the file";

    // Without 640 x 480 on offer the default resolution is the last entry.
    UseCatalogue({ { 800, 600, 32, 60 }, { 1024, 768, 32, 60 }, { 1280, 720, 32, 60 } });
    EXPECT_EQ(2, LoadSettings().resolutionIndex);
    UseCatalogue({});
    EXPECT_EQ(0, LoadSettings().resolutionIndex);
}

struct ClampCase
{
    const char *section;
    const char *key;
    const char *stored;
    int SetupSettings::*field;
    int expected;
};

const ClampCase kClampCases[] =
{
    { "Sound", "MASTER_VOLUME", "150", &SetupSettings::masterVolume, 100 },
    { "Sound", "MASTER_VOLUME", "100", &SetupSettings::masterVolume, 100 },
    { "Sound", "MASTER_VOLUME", "0", &SetupSettings::masterVolume, 0 },
    { "Sound", "MUSIC_VOLUME", "-20", &SetupSettings::musicVolume, 0 },
    { "Sound", "AMBIENT_VOLUME", "37", &SetupSettings::ambientVolume, 37 },
    { "Sound", "EFFECT_VOLUME", "101", &SetupSettings::effectVolume, 100 },
    { "Rendering", "RENDERING_BACKEND", "7", &SetupSettings::renderer, 2 },
    { "Rendering", "RENDERING_BACKEND", "1", &SetupSettings::renderer, 1 },
    { "Rendering", "RENDERING_BACKEND", "-5", &SetupSettings::renderer, 0 },
    { "Rendering", "SOFTWARE_CURSOR", "5", &SetupSettings::softwareCursor, 1 },
    { "Rendering", "SOFTWARE_CURSOR", "0", &SetupSettings::softwareCursor, 0 },
    { "Rendering", "SOFTWARE_CURSOR", "-1", &SetupSettings::softwareCursor, 1 },
    { "Display", "DISPLAY_MODE", "-1", &SetupSettings::displayMode, 0 },
    { "Display", "DISPLAY_MODE", "2", &SetupSettings::displayMode, 2 },
    { "Display", "DISPLAY_MODE", "3", &SetupSettings::displayMode, 2 },
    { "Display", "DISPLAY_VSYNC", "9", &SetupSettings::vsync, 1 },
    { "Display", "DISPLAY_VSYNC", "0", &SetupSettings::vsync, 0 },
    // A key in the wrong section is not that key.
    { "Sound", "DISPLAY_VSYNC", "1", &SetupSettings::vsync, 0 },
};

TEST_F(SettingsFile, StoredValuesAreBroughtIntoRange)
{
    for (const ClampCase &c : kClampCases)
    {
        SCOPED_TRACE(std::string(c.section) + "/" + c.key + "=" + c.stored);
        DeleteFileA(path.c_str());
        WritePrivateProfileStringA(c.section, c.key, c.stored, path.c_str());
        EXPECT_EQ(c.expected, LoadSettings().*c.field);
    }
}

TEST_F(SettingsFile, StoredResolutionIsFoundOrTheLastEntryIsUsed)
{
    WritePrivateProfileStringA("Display", "DISPLAY_WIDTH", "1280", path.c_str());
    WritePrivateProfileStringA("Display", "DISPLAY_HEIGHT", "1024", path.c_str());
    EXPECT_EQ(4, LoadSettings().resolutionIndex);

    WritePrivateProfileStringA("Display", "DISPLAY_WIDTH", "800", path.c_str());
    WritePrivateProfileStringA("Display", "DISPLAY_HEIGHT", "600", path.c_str());
    EXPECT_EQ(0, LoadSettings().resolutionIndex);

    UseCatalogue({ { 800, 600, 32, 60 }, { 640, 480, 32, 60 }, { 1024, 768, 32, 60 } });
    WritePrivateProfileStringA("Display", "DISPLAY_WIDTH", "1280", path.c_str());
    WritePrivateProfileStringA("Display", "DISPLAY_HEIGHT", "1024", path.c_str());
    EXPECT_EQ(2, LoadSettings().resolutionIndex);
}

TEST_F(SettingsFile, SaveWritesEveryKeyInOrder)
{
    SetupSettings settings = { 40, 30, 20, 10, RENDERER_GLIDE, DISPLAY_BORDERLESS, 3, 0, 1 };
    ASSERT_EQ(1, SaveSettings(&settings));
    const std::vector<std::string> expected =
    {
        "Sound/MASTER_VOLUME=40", "Sound/MASTER_ENABLED=1", "Sound/MUSIC_VOLUME=10", "Sound/MUSIC_ENABLED=1",
        "Sound/AMBIENT_VOLUME=20", "Sound/AMBIENT_ENABLED=1", "Sound/EFFECT_VOLUME=30", "Sound/EFFECT_ENABLED=1",
        "Rendering/RENDERING_BACKEND=1", "Rendering/SOFTWARE_CURSOR=0",
        "Display/DISPLAY_MODE=2", "Display/DISPLAY_WIDTH=1152", "Display/DISPLAY_HEIGHT=864",
        "Display/DISPLAY_BITDEPTH=0", "Display/DISPLAY_REFRESH_RATE=0", "Display/DISPLAY_VSYNC=1",
    };
    EXPECT_EQ(expected, IniKeys(path));

    // What was saved loads back as the same record.
    SetupSettings loaded = LoadSettings();
    ExpectRecord(settings, loaded);
}

TEST_F(SettingsFile, EnabledKeysFollowTheirVolumes)
{
    const struct { int master, effect, ambient, music; const char *enabled; } cases[] =
    {
        { 0, 1, 100, 50, "0 1 1 1" },
        { 1, 0, 0, 0, "1 0 0 0" },
        { 100, 100, 0, 0, "1 1 0 0" },
    };
    for (const auto &c : cases)
    {
        SetupSettings settings = { c.master, c.effect, c.ambient, c.music, 0, 0, 0, 0, 0 };
        SaveSettings(&settings);
        char got[32];
        wsprintfA(got, "%d %d %d %d", GetPrivateProfileIntA("Sound", "MASTER_ENABLED", -1, path.c_str()),
                  GetPrivateProfileIntA("Sound", "EFFECT_ENABLED", -1, path.c_str()),
                  GetPrivateProfileIntA("Sound", "AMBIENT_ENABLED", -1, path.c_str()),
                  GetPrivateProfileIntA("Sound", "MUSIC_ENABLED", -1, path.c_str()));
        EXPECT_STREQ(c.enabled, got);
    }
}

TEST_F(SettingsFile, EmptyCatalogueWritesTwelveKeysAndKeepsTheStoredResolution)
{
    WriteText(path, "[Display]\r\nDISPLAY_WIDTH=1920\r\nDISPLAY_HEIGHT=1200\r\n"
                    "DISPLAY_BITDEPTH=32\r\nDISPLAY_REFRESH_RATE=144\r\n");
    UseCatalogue({});
    SetupSettings settings = { 50, 100, 100, 100, 0, 1, 0, 1, 0 };
    ASSERT_EQ(1, SaveSettings(&settings));
    std::vector<std::string> keys = IniKeys(path);
    EXPECT_EQ(16u, keys.size());
    EXPECT_EQ(1920u, GetPrivateProfileIntA("Display", "DISPLAY_WIDTH", 0, path.c_str()));
    EXPECT_EQ(1200u, GetPrivateProfileIntA("Display", "DISPLAY_HEIGHT", 0, path.c_str()));
    EXPECT_EQ(32u, GetPrivateProfileIntA("Display", "DISPLAY_BITDEPTH", 0, path.c_str()));
    EXPECT_EQ(144u, GetPrivateProfileIntA("Display", "DISPLAY_REFRESH_RATE", 0, path.c_str()));

    // A fresh file gets only the twelve keys that need no resolution.
    DeleteFileA(path.c_str());
    SaveSettings(&settings);
    keys = IniKeys(path);
    EXPECT_EQ(12u, keys.size());
    for (const std::string &key : keys)
        EXPECT_EQ(std::string::npos, key.find("DISPLAY_WIDTH")) << key;
}

TEST_F(SettingsFile, ForeignSectionsAndKeysSurviveASave)
{
    WriteText(path, "[Network]\r\nHOST=example\r\nPORT=6112\r\n"
                    "[Sound]\r\nMASTER_VOLUME=10\r\nVOICE_VOLUME=77\r\n"
                    "[Display]\r\nGAMMA=12\r\n"
                    "[Keys]\r\nJUMP=Space\r\n");
    SetupSettings settings = { 90, 80, 70, 60, 2, 0, 2, 1, 1 };
    SaveSettings(&settings);
    std::vector<std::string> keys = IniKeys(path);
    for (const char *foreign : { "Network/HOST=example", "Network/PORT=6112", "Sound/VOICE_VOLUME=77",
                                 "Display/GAMMA=12", "Keys/JUMP=Space" })
        EXPECT_NE(keys.end(), std::find(keys.begin(), keys.end(), foreign)) << foreign;
    EXPECT_EQ(90u, GetPrivateProfileIntA("Sound", "MASTER_VOLUME", 0, path.c_str()));
    EXPECT_EQ(1024u, GetPrivateProfileIntA("Display", "DISPLAY_WIDTH", 0, path.c_str()));
    EXPECT_EQ(5u + 16u, keys.size());
}

TEST_F(SettingsFile, SoftwareCursorOfFiveIsWrittenBackAsOne)
{
    WritePrivateProfileStringA("Rendering", "SOFTWARE_CURSOR", "5", path.c_str());
    SetupSettings loaded = LoadSettings();
    SaveSettings(&loaded);
    EXPECT_EQ(1u, GetPrivateProfileIntA("Rendering", "SOFTWARE_CURSOR", 0, path.c_str()));
}

TEST_F(SettingsFile, NoRecordWritesNothing)
{
    EXPECT_EQ(0, SaveSettings(NULL));
    EXPECT_FALSE(PathExists(path));
}

TEST_F(SettingsFile, ResolutionIndexOutsideTheCatalogueLeavesTheStoredResolution)
{
    WriteText(path, "[Display]\r\nDISPLAY_WIDTH=1920\r\nDISPLAY_HEIGHT=1200\r\n");
    for (int index : { -1, 5, 1000000 })
    {
        SetupSettings settings = { 50, 100, 100, 100, 0, 1, index, 1, 0 };
        EXPECT_EQ(1, SaveSettings(&settings));
        EXPECT_EQ(1920u, GetPrivateProfileIntA("Display", "DISPLAY_WIDTH", 0, path.c_str()));
        EXPECT_EQ(1200u, GetPrivateProfileIntA("Display", "DISPLAY_HEIGHT", 0, path.c_str()));
    }
}

// With no settings path at all, nothing may reach the private-profile functions, which would take an
// empty name as some file in the Windows folder.
TEST_F(SettingsFile, EmptyPathLoadsDefaultsAndSavesNothing)
{
    char windows[MAX_PATH];
    GetWindowsDirectoryA(windows, MAX_PATH);
    std::string winIni = std::string(windows) + "\\win.ini";
    std::string before = ReadText(winIni);
    WIN32_FILE_ATTRIBUTE_DATA folderBefore = {}, folderAfter = {};
    GetFileAttributesExA(windows, GetFileExInfoStandard, &folderBefore);

    UseSettingsFile("");
    SetupSettings defaults = { 50, 100, 100, 100, RENDERER_OPENGL, DISPLAY_FULLSCREEN, 1, 1, 0 };
    SetupSettings loaded = LoadSettings();
    ExpectRecord(defaults, loaded);
    SetupSettings settings = { 1, 2, 3, 4, 2, 2, 4, 0, 1 };
    EXPECT_EQ(0, SaveSettings(&settings));

    EXPECT_EQ(before, ReadText(winIni));
    GetFileAttributesExA(windows, GetFileExInfoStandard, &folderAfter);
    EXPECT_EQ(0, CompareFileTime(&folderBefore.ftLastWriteTime, &folderAfter.ftLastWriteTime));
    EXPECT_FALSE(PathExists(std::string(windows) + "\\settings.ini"));
}

enum Obstacle
{
    HELD_OPEN,          // another program keeps the file open
    FILE_IS_A_FOLDER,
    FOLDER_MISSING
};

// A save that cannot write reports it, leaves the file exactly as it was, and leaves no copy behind.
TEST_F(SettingsFile, FailedSaveReportsItAndLeavesTheFileAsItWas)
{
    const char stored[] = "[Sound]\r\nMASTER_VOLUME=20\r\n[Keys]\r\nJUMP=Space\r\n";
    const struct { const char *name; Obstacle obstacle; } cases[] =
    {
        { "held open", HELD_OPEN }, { "settings.ini is a folder", FILE_IS_A_FOLDER }, { "no folder", FOLDER_MISSING },
    };
    SetupSettings settings = { 40, 30, 20, 10, RENDERER_GLIDE, DISPLAY_BORDERLESS, 3, 0, 1 };
    for (const auto &c : cases)
    {
        SCOPED_TRACE(c.name);
        std::string place = folder + "\\" + c.name;
        std::string file = place + "\\settings.ini";
        HANDLE holder = INVALID_HANDLE_VALUE;
        if (c.obstacle != FOLDER_MISSING)
            CreateDirectoryA(place.c_str(), NULL);
        if (c.obstacle == FILE_IS_A_FOLDER)
            CreateDirectoryA(file.c_str(), NULL);
        if (c.obstacle == HELD_OPEN)
        {
            WriteText(file, stored);
            holder = CreateFileA(file.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
        }
        UseSettingsFile(file);
        EXPECT_EQ(0, SaveSettings(&settings));
        if (holder != INVALID_HANDLE_VALUE)
            CloseHandle(holder);
        if (c.obstacle == HELD_OPEN)
        {
            EXPECT_EQ(stored, ReadText(file));
        }
        EXPECT_FALSE(PathExists(place + "\\settings.tmp")) << "the copy was left behind";
    }
}

// A copy left behind by a crash is never read as settings, and the next save replaces it.
TEST_F(SettingsFile, CopyLeftByACrashIsNeverReadAndGoesWithTheNextSave)
{
    std::string copy = folder + "\\settings.tmp";
    WriteText(path, "[Sound]\r\nMASTER_VOLUME=20\r\n");
    WriteText(copy, "[Sound]\r\nMASTER_VOLUME=99\r\nHALF_WRIT");
    SetFileAttributesA(copy.c_str(), FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ(20, LoadSettings().masterVolume);
    SetupSettings settings = { 40, 30, 20, 10, RENDERER_GLIDE, DISPLAY_BORDERLESS, 3, 0, 1 };
    ASSERT_EQ(1, SaveSettings(&settings));
    EXPECT_FALSE(PathExists(copy));
    EXPECT_EQ(16u, IniKeys(path).size());
    EXPECT_EQ(40u, GetPrivateProfileIntA("Sound", "MASTER_VOLUME", 0, path.c_str()));
}

} // namespace
