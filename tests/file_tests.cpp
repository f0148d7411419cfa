#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>

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

// The product's calls that the tests below make fail or misbehave (see SlotSwap).
extern "C" void *g_copyFileSlot __asm__("__imp__CopyFileA@12");
extern "C" void *g_writeProfileSlot __asm__("__imp__WritePrivateProfileStringA@16");
extern "C" void *g_moveFileSlot __asm__("__imp__MoveFileExA@12");
extern "C" void *g_getProcAddressSlot __asm__("__imp__GetProcAddress@8");
extern "C" void *g_diskFreeSlot __asm__("__imp__GetDiskFreeSpaceExA@16");

typedef BOOL (WINAPI *CopyFileFn)(LPCSTR, LPCSTR, BOOL);
typedef BOOL (WINAPI *WriteProfileFn)(LPCSTR, LPCSTR, LPCSTR, LPCSTR);
typedef BOOL (WINAPI *MoveFileFn)(LPCSTR, LPCSTR, DWORD);
typedef FARPROC (WINAPI *GetProcAddressFn)(HMODULE, LPCSTR);
typedef BOOL (WINAPI *SetFileInformationFn)(HANDLE, int, LPVOID, DWORD);

// What a test does just before the save's rename, by name or by handle: TRUE lets the rename go on,
// FALSE refuses it as a file someone has open does.
typedef BOOL (*BeforeRename)();

// The rename by handle, as the system offers it to the save.
enum HandleRename
{
    HANDLE_RENAME_REAL,
    HANDLE_RENAME_ABSENT,   // Windows XP has none
    HANDLE_RENAME_REFUSED   // a system that takes the record in no other form than by name
};

// What the stand-ins below see and do; reset by each test.
struct StandInState
{
    CopyFileFn copyFile;
    WriteProfileFn writeProfile;
    MoveFileFn moveFile;
    GetProcAddressFn getProcAddress;
    SetFileInformationFn setFileInformation;
    BeforeRename beforeRename;
    HandleRename handleRename;
    int moveCalls;          // renames by name asked for
    std::string settings;
    int calls;
    // Seen while the save ran, from the stand-in for the copy: another program's open for writing, its delete.
    DWORD writeOpenError;
    BOOL deleted;
    // Started by a stand-in, as another program at a chosen moment.
    Rival *rival;
    bool rivalStarted;
};
StandInState g_standIn;
// How long another program keeps the file open "for a moment".
const DWORD kBriefOpenMs = 150;

// A disk the copy has just filled: less free than any cluster.
BOOL WINAPI DiskNearlyFull(LPCSTR, PULARGE_INTEGER available, PULARGE_INTEGER total, PULARGE_INTEGER free)
{
    for (PULARGE_INTEGER size : { available, total, free })
    {
        if (size)
            size->QuadPart = 512;
    }
    return TRUE;
}

BOOL RenameCounted()
{
    g_standIn.calls++;
    return TRUE;
}

BOOL WINAPI MoveFileThroughStandIn(LPCSTR from, LPCSTR to, DWORD flags)
{
    g_standIn.moveCalls++;
    if (g_standIn.beforeRename && !g_standIn.beforeRename())
    {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    return g_standIn.moveFile(from, to, flags);
}

BOOL WINAPI SetFileInformationThroughStandIn(HANDLE file, int infoClass, LPVOID info, DWORD size)
{
    if (g_standIn.handleRename == HANDLE_RENAME_REFUSED)
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (g_standIn.beforeRename && !g_standIn.beforeRename())
    {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    return g_standIn.setFileInformation(file, infoClass, info, size);
}

FARPROC WINAPI GetProcAddressThroughStandIn(HMODULE module, LPCSTR name)
{
    FARPROC found = g_standIn.getProcAddress(module, name);
    if (!found || HIWORD(name) == 0 || lstrcmpA(name, "SetFileInformationByHandle") != 0)
        return found;
    if (g_standIn.handleRename == HANDLE_RENAME_ABSENT)
        return NULL;
    g_standIn.setFileInformation = (SetFileInformationFn)(void (*)(void))found;
    return (FARPROC)(void (*)(void))SetFileInformationThroughStandIn;
}

// Puts `beforeRename` in front of both ways the save renames, for as long as it lives.
class RenameStandIn
{
public:
    RenameStandIn(BeforeRename beforeRename, HandleRename handleRename = HANDLE_RENAME_REAL)
        : move(&g_moveFileSlot, (void *)MoveFileThroughStandIn),
          lookUp(&g_getProcAddressSlot, (void *)GetProcAddressThroughStandIn)
    {
        g_standIn.beforeRename = beforeRename;
        g_standIn.handleRename = handleRename;
    }
    ~RenameStandIn() { g_standIn.beforeRename = NULL; }

private:
    SlotSwap move;
    SlotSwap lookUp;
};

BOOL WINAPI CopyFails(LPCSTR, LPCSTR, BOOL)
{
    SetLastError(ERROR_LOCK_VIOLATION);
    return FALSE;
}

// The store refuses the third key; everything else reaches it.
BOOL WINAPI ThirdKeyRefused(LPCSTR section, LPCSTR key, LPCSTR value, LPCSTR path)
{
    if (key && lstrcmpA(key, "MUSIC_VOLUME") == 0)
    {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    return g_standIn.writeProfile(section, key, value, path);
}

// The copy as it is, then what another program tries on the settings file while the save holds it.
BOOL WINAPI CopyThenRivalWrites(LPCSTR from, LPCSTR to, BOOL failIfExists)
{
    BOOL copied = g_standIn.copyFile(from, to, failIfExists);
    HANDLE file = CreateFileA(g_standIn.settings.c_str(), GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL, OPEN_EXISTING, 0, NULL);
    g_standIn.writeOpenError = file == INVALID_HANDLE_VALUE ? GetLastError() : 0;
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
    g_standIn.deleted = DeleteFileA(g_standIn.settings.c_str());
    return copied;
}

// Another program writes a key of its own just as the save lets go of the file; the first rename is then
// refused, as while a reader has the file open. `g_standIn.calls` counts the renames asked for.
BOOL RivalWritesOnceBeforeTheRename()
{
    if (g_standIn.calls++ > 0)
        return TRUE;
    WritePrivateProfileStringA("Rival", "WROTE", "1", g_standIn.settings.c_str());
    return FALSE;
}

// The same program writing before every rename: the file never stays as the save copied it.
BOOL RivalWritesBeforeEveryRename()
{
    char key[32];
    wsprintfA(key, "WROTE_%d", ++g_standIn.calls);
    WritePrivateProfileStringA("Rival", key, "1", g_standIn.settings.c_str());
    return FALSE;
}

// Where there was no file, another program puts one in place just before the save's rename.
BOOL RivalCreatesTheFileBeforeTheRename()
{
    if (g_standIn.calls++ == 0)
        WritePrivateProfileStringA("Rival", "WROTE", "1", g_standIn.settings.c_str());
    return TRUE;
}

const SetupSettings kSaved = { 40, 30, 20, 10, RENDERER_GLIDE, DISPLAY_BORDERLESS, 3, 0, 1 };
const char kStoredText[] = "[Sound]\r\nMASTER_VOLUME=20\r\nVOICE_VOLUME=7\r\n[Keys]\r\nJUMP=Space\r\n";
const char *const kSavedKeys[] =
{
    "Sound/MASTER_VOLUME=40", "Sound/MASTER_ENABLED=1", "Sound/MUSIC_VOLUME=10", "Sound/MUSIC_ENABLED=1",
    "Sound/AMBIENT_VOLUME=20", "Sound/AMBIENT_ENABLED=1", "Sound/EFFECT_VOLUME=30", "Sound/EFFECT_ENABLED=1",
    "Rendering/RENDERING_BACKEND=1", "Rendering/SOFTWARE_CURSOR=0",
    "Display/DISPLAY_MODE=2", "Display/DISPLAY_WIDTH=1152", "Display/DISPLAY_HEIGHT=864",
    "Display/DISPLAY_BITDEPTH=0", "Display/DISPLAY_REFRESH_RATE=0", "Display/DISPLAY_VSYNC=1",
};

bool HasKey(const std::vector<std::string> &keys, const std::string &key)
{
    return std::find(keys.begin(), keys.end(), key) != keys.end();
}

// The saved record, and every key of `foreign`, are in the file.
void ExpectSavedWith(const std::string &path, const std::vector<std::string> &foreign)
{
    std::vector<std::string> keys = IniKeys(path);
    for (const char *key : kSavedKeys)
        EXPECT_TRUE(HasKey(keys, key)) << key << " missing from\n" << ReadText(path);
    for (const std::string &key : foreign)
        EXPECT_TRUE(HasKey(keys, key)) << key << " lost from\n" << ReadText(path);
}

BY_HANDLE_FILE_INFORMATION FileInformation(const std::string &path)
{
    BY_HANDLE_FILE_INFORMATION info = {};
    HANDLE file = CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                              OPEN_EXISTING, 0, NULL);
    if (file != INVALID_HANDLE_VALUE)
    {
        GetFileInformationByHandle(file, &info);
        CloseHandle(file);
    }
    return info;
}

// The save against the other programs that use the settings file at the same time, and against the
// platform calls that can fail under it.
class SaveGuards : public SettingsFile
{
protected:
    void SetUp() override
    {
        SettingsFile::SetUp();
        temp = folder + "\\settings.tmp";
        g_standIn = StandInState();
        g_standIn.copyFile = (CopyFileFn)g_copyFileSlot;
        g_standIn.writeProfile = (WriteProfileFn)g_writeProfileSlot;
        g_standIn.moveFile = (MoveFileFn)g_moveFileSlot;
        g_standIn.getProcAddress = (GetProcAddressFn)g_getProcAddressSlot;
        g_standIn.settings = path;
    }
    void TearDown() override
    {
        rival.Kill();
        SetFileAttributesA(temp.c_str(), FILE_ATTRIBUTE_NORMAL);
        SettingsFile::TearDown();
    }

    std::string temp;
    Rival rival;
};

const std::vector<std::string> kStoredForeign = { "Sound/VOICE_VOLUME=7", "Keys/JUMP=Space" };

// Just as the save puts its copy in place, another program opens the file to read it for a moment.
BOOL ReaderOpensBeforeTheRename()
{
    if (g_standIn.calls++ == 0)
        g_standIn.rivalStarted = g_standIn.rival->StartHold(g_standIn.settings, "read", "read", kBriefOpenMs);
    return TRUE;
}

// Another program that has the file open for a moment is waited for: a reader while the copy goes in
// place, a writer or a reader that shares nothing as the save starts.
TEST_F(SaveGuards, BriefOpenByAnotherProgramIsWaitedFor)
{
    const struct { const char *name; const char *access; const char *share; bool atTheRename; } cases[] =
    {
        { "reader during the rename", "read", "read", true },
        { "writer as the save starts", "write", "all", false },
        { "sole reader as the save starts", "read", "none", false },
    };
    for (const auto &c : cases)
    {
        SCOPED_TRACE(c.name);
        WriteText(path, kStoredText);
        g_standIn.calls = 0;
        g_standIn.rival = &rival;
        g_standIn.rivalStarted = false;
        if (c.atTheRename)
        {
            RenameStandIn standIn(ReaderOpensBeforeTheRename);
            EXPECT_EQ(1, SaveSettings(&kSaved));
            EXPECT_TRUE(g_standIn.rivalStarted) << "the other program did not start";
        }
        else
        {
            ASSERT_TRUE(rival.StartHold(path, c.access, c.share, kBriefOpenMs));
            EXPECT_EQ(1, SaveSettings(&kSaved));
        }
        ExpectSavedWith(path, kStoredForeign);
        EXPECT_FALSE(PathExists(temp));
        DWORD code = 1;
        EXPECT_TRUE(rival.Finish(&code));
        EXPECT_EQ(0u, code) << "the other program could not open the file";
    }
}

// The copy is renamed by the handle opened before the hold went, leaving another program no time to write
// unseen. Where the system has no rename by handle (Windows XP), or takes the record in no form but by
// name, the copy is renamed by name.
TEST_F(SaveGuards, CopyIsRenamedByHandleOrElseByName)
{
    const struct { const char *name; HandleRename handleRename; int renamesByName; } cases[] =
    {
        { "by handle", HANDLE_RENAME_REAL, 0 },
        { "no rename by handle", HANDLE_RENAME_ABSENT, 1 },
        { "the record refused", HANDLE_RENAME_REFUSED, 1 },
    };
    for (const auto &c : cases)
    {
        SCOPED_TRACE(c.name);
        WriteText(path, kStoredText);
        g_standIn.moveCalls = 0;
        {
            RenameStandIn standIn(NULL, c.handleRename);
            EXPECT_EQ(1, SaveSettings(&kSaved));
        }
        EXPECT_EQ(c.renamesByName, g_standIn.moveCalls);
        ExpectSavedWith(path, kStoredForeign);
        EXPECT_FALSE(PathExists(temp));
    }
}

// A program that keeps the file open for writing, with every kind of sharing, fails the save: what it
// goes on writing must land in the settings file, not in one the save has replaced.
TEST_F(SaveGuards, WriterKeepingTheFileOpenFailsTheSave)
{
    WriteText(path, kStoredText);
    HANDLE writer = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                NULL, OPEN_EXISTING, 0, NULL);
    ASSERT_NE(INVALID_HANDLE_VALUE, writer);
    {
        RenameStandIn standIn(RenameCounted);
        EXPECT_EQ(0, SaveSettings(&kSaved));
    }
    EXPECT_EQ(0, g_standIn.calls) << "a save that could not hold the file tried to put a copy in place";
    const char line[] = "[Late]\r\nWRITTEN=1\r\n";
    DWORD written = 0;
    SetFilePointer(writer, 0, NULL, FILE_END);
    EXPECT_TRUE(WriteFile(writer, line, sizeof(line) - 1, &written, NULL));
    CloseHandle(writer);
    EXPECT_EQ(std::string(kStoredText) + line, ReadText(path));
    EXPECT_FALSE(PathExists(temp));
}

// While the save holds the file, another program can neither write it nor delete it: either would be
// undone by the copy put in place.
TEST_F(SaveGuards, HeldFileCanBeNeitherWrittenNorDeleted)
{
    WriteText(path, kStoredText);
    {
        SlotSwap swap(&g_copyFileSlot, (void *)CopyThenRivalWrites);
        EXPECT_EQ(1, SaveSettings(&kSaved));
    }
    EXPECT_EQ((DWORD)ERROR_SHARING_VIOLATION, g_standIn.writeOpenError) << "another program opened it for writing";
    EXPECT_FALSE(g_standIn.deleted) << "another program deleted it";
    ExpectSavedWith(path, kStoredForeign);
}

// A copy that failed, a key the store refused, or a disk found full after the keys fails the save and
// leaves the file as it was: the keys must never go into an empty or cut-short copy that then replaces it.
TEST_F(SaveGuards, FailedCopyOrRefusedKeyFailsTheSave)
{
    const struct { const char *name; void **slot; void *standIn; } cases[] =
    {
        { "copy fails (a byte-range lock on Windows)", &g_copyFileSlot, (void *)CopyFails },
        { "the store refuses a key", &g_writeProfileSlot, (void *)ThirdKeyRefused },
        // The store reports success for a write cut short by a full disk; the room left shows it.
        { "the disk is full after the keys", &g_diskFreeSlot, (void *)DiskNearlyFull },
    };
    for (const auto &c : cases)
    {
        SCOPED_TRACE(c.name);
        WriteText(path, kStoredText);
        int saved;
        {
            SlotSwap swap(c.slot, c.standIn);
            saved = SaveSettings(&kSaved);
        }
        EXPECT_EQ(0, saved);
        EXPECT_EQ(kStoredText, ReadText(path));
        EXPECT_FALSE(PathExists(temp)) << "the copy was left behind";
        char text[SAVE_FAILURE_TEXT_SIZE];
        FormatSaveFailure(text);
        EXPECT_EQ("Unable to save the settings to\n" + path, std::string(text));
    }
}

// A file changed by another program after it was copied is copied again: the change is kept.
TEST_F(SaveGuards, FileChangedBeforeTheRenameIsCopiedAgain)
{
    WriteText(path, kStoredText);
    {
        RenameStandIn standIn(RivalWritesOnceBeforeTheRename);
        EXPECT_EQ(1, SaveSettings(&kSaved));
    }
    std::vector<std::string> foreign = kStoredForeign;
    foreign.push_back("Rival/WROTE=1");
    ExpectSavedWith(path, foreign);
    EXPECT_FALSE(PathExists(temp));
}

// A file that keeps changing fails the save, after a few attempts, with every change kept.
TEST_F(SaveGuards, FileThatKeepsChangingFailsTheSave)
{
    WriteText(path, kStoredText);
    int saved;
    {
        RenameStandIn standIn(RivalWritesBeforeEveryRename);
        saved = SaveSettings(&kSaved);
    }
    EXPECT_EQ(0, saved);
    EXPECT_GT(g_standIn.calls, 1) << "the save did not try again";
    EXPECT_LE(g_standIn.calls, 10) << "the save went on trying";
    std::vector<std::string> keys = IniKeys(path);
    for (int call = 1; call <= g_standIn.calls; call++)
        EXPECT_TRUE(HasKey(keys, "Rival/WROTE_" + std::to_string(call) + "=1")) << "write " << call << " lost";
    EXPECT_TRUE(HasKey(keys, "Sound/MASTER_VOLUME=20")) << ReadText(path);
    EXPECT_FALSE(PathExists(temp));
}

// With no file when the save began, a file that appeared meanwhile is not replaced: the save starts again
// from it.
TEST_F(SaveGuards, FileThatAppearedIsNotReplaced)
{
    {
        RenameStandIn standIn(RivalCreatesTheFileBeforeTheRename);
        EXPECT_EQ(1, SaveSettings(&kSaved));
    }
    ExpectSavedWith(path, { "Rival/WROTE=1" });
    EXPECT_FALSE(PathExists(temp));
}

// A copy left by a crash goes before the keys are written, also when there is no settings file yet:
// none of its bytes reach the new file.
TEST_F(SaveGuards, CopyLeftByACrashNeverReachesANewFile)
{
    WriteText(temp, "[Sound]\r\nMASTER_VOLUME=99\r\n[Crash]\r\nGARBAGE=1\r\nHALF_WRIT");
    SetFileAttributesA(temp.c_str(), FILE_ATTRIBUTE_READONLY);
    ASSERT_EQ(1, SaveSettings(&kSaved));
    std::vector<std::string> expected(kSavedKeys, kSavedKeys + sizeof(kSavedKeys) / sizeof(kSavedKeys[0]));
    EXPECT_EQ(expected, IniKeys(path)) << ReadText(path);
    EXPECT_FALSE(PathExists(temp));
}

// A copy of the setup killed while saving leaves the save lock abandoned; later saves go ahead.
TEST_F(SaveGuards, LockOfAKilledCopyDoesNotBlockTheSave)
{
    WriteText(path, kStoredText);
    ASSERT_TRUE(rival.StartLock());
    // Another copy waiting for its turn keeps the lock in being while the first is killed.
    HANDLE waiting = CreateMutexA(NULL, FALSE, "QuorvaneSetupSave");
    ASSERT_TRUE(waiting != NULL);
    rival.Kill();
    EXPECT_EQ(1, SaveSettings(&kSaved));
    CloseHandle(waiting);
    ExpectSavedWith(path, kStoredForeign);
}

// Something under the copy's name that cannot be removed blocks every save: the box says what it is.
TEST_F(SaveGuards, FolderNamedLikeTheCopyIsNamedInTheBox)
{
    WriteText(path, kStoredText);
    ASSERT_TRUE(CreateDirectoryA(temp.c_str(), NULL));
    EXPECT_EQ(0, SaveSettings(&kSaved));
    char text[SAVE_FAILURE_TEXT_SIZE];
    FormatSaveFailure(text);
    EXPECT_EQ("Unable to save the settings to\n" + path + "\nbecause this is in the way:\n" + temp, std::string(text));
    EXPECT_EQ(kStoredText, ReadText(path));
    EXPECT_TRUE(PathExists(temp));
    RemoveDirectoryA(temp.c_str());

    // Once it has gone, the save works, and another failure gets the usual text.
    EXPECT_EQ(1, SaveSettings(&kSaved));
    {
        SlotSwap swap(&g_copyFileSlot, (void *)CopyFails);
        EXPECT_EQ(0, SaveSettings(&kSaved));
    }
    FormatSaveFailure(text);
    EXPECT_EQ("Unable to save the settings to\n" + path, std::string(text));
}

DWORD WINAPI ReportedAsSymbolicLink(LPCSTR path)
{
    DWORD attributes = GetFileAttributesA(path);
    return attributes == INVALID_FILE_ATTRIBUTES ? attributes : attributes | FILE_ATTRIBUTE_REPARSE_POINT;
}

// A settings file that other names lead to stays one file: every name shows the new settings.
TEST_F(SaveGuards, LinkedFileKeepsItsLinks)
{
    std::string other = folder + "\\linked.ini";
    WriteText(path, kStoredText);
    ASSERT_TRUE(CreateHardLinkA(other.c_str(), path.c_str(), NULL));
    ASSERT_EQ(2u, FileInformation(path).nNumberOfLinks) << "the platform does not count hard links";
    EXPECT_EQ(1, SaveSettings(&kSaved));
    EXPECT_EQ(2u, FileInformation(path).nNumberOfLinks) << "the link was broken";
    ExpectSavedWith(path, kStoredForeign);
    EXPECT_EQ(ReadText(path), ReadText(other));
    EXPECT_FALSE(PathExists(temp));
    DeleteFileA(other.c_str());

    // A symbolic link, as the platform reports one: the file it leads to is written, not replaced. A plain
    // file is replaced.
    for (bool symbolic : { false, true })
    {
        SCOPED_TRACE(symbolic ? "reported as a symbolic link" : "plain file");
        WriteText(path, kStoredText);
        BY_HANDLE_FILE_INFORMATION before = FileInformation(path);
        EXPECT_EQ(1, SaveSettingsWith(&kSaved, symbolic ? ReportedAsSymbolicLink : GetFileAttributesA));
        BY_HANDLE_FILE_INFORMATION after = FileInformation(path);
        EXPECT_EQ(symbolic, before.nFileIndexLow == after.nFileIndexLow && before.nFileIndexHigh == after.nFileIndexHigh);
        ExpectSavedWith(path, kStoredForeign);
        EXPECT_FALSE(PathExists(temp));
    }
}

const int kMeasuredSaves = 40;

// Saves `count` times, each with another master volume, a moment apart; how many failed with the box.
int SavesFailedOf(int count)
{
    int failed = 0;
    for (int save = 0; save < count; save++)
    {
        SetupSettings settings = kSaved;
        settings.masterVolume = save;
        failed += SaveSettings(&settings) == 0;
        Sleep(10);
    }
    return failed;
}

// Another program appending a line every millisecond while the setup saves 40 times. The save never
// replaces a write it saw, and the platform replaces no file that is open, so only a write that opens,
// lands and closes between the release of the hold and the rename can be lost. Renamed by name, the
// program, kept waiting by the hold, got one in every save (7 percent of its writes here); renamed by the
// handle opened before, none.
TEST_F(SaveGuards, AppendingProgramLosesAlmostNothing)
{
    WriteText(path, kStoredText);
    ASSERT_TRUE(rival.StartLoop("append", path));
    int failed = SavesFailedOf(kMeasuredSaves);
    DWORD appended = 0;
    ASSERT_TRUE(rival.Finish(&appended));
    std::string text = ReadText(path);
    DWORD lost = 0;
    for (DWORD line = 1; line <= appended; line++)
    {
        char key[32];
        wsprintfA(key, "QV_APPEND_%06lu=1\r\n", line);
        lost += text.find(key) == std::string::npos;
    }
    printf("%d saves (%d failed with the box); %lu appends succeeded, %lu of them lost\n", kMeasuredSaves, failed,
           appended, lost);
    EXPECT_GT(appended, 0u);
    EXPECT_LE(lost * 200, appended) << "more than half a percent of the writes lost";
}

// Another program replacing the file by delete-then-rename while the setup saves 40 times: a save that
// finds no file never puts its own over the one that came meanwhile.
TEST_F(SaveGuards, ReplacingProgramLosesNothing)
{
    WriteText(path, kStoredText);
    ASSERT_TRUE(rival.StartLoop("replace", path));
    int failed = SavesFailedOf(kMeasuredSaves);
    DWORD code = 0;
    ASSERT_TRUE(rival.Finish(&code));
    DeleteFileA((path + ".rival").c_str());
    DWORD lost = code / 65536, rounds = code % 65536;
    printf("%d saves (%d failed with the box); %lu files put in place by the other program, %lu replaced unseen\n",
           kMeasuredSaves, failed, rounds, lost);
    EXPECT_GT(rounds, 0u);
    EXPECT_EQ(0u, lost) << "files of the other program replaced by a save that never saw them";
}

} // namespace
