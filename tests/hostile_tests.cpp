// Hostile settings files and folders. Whatever the setup finds, its window comes up, every field of the
// record is in range, the form shows the record, and a Save leaves every line it does not own as it was.
#include "app/window.h"
#include <commctrl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "form/binding.h"
#include "locations/locations.h"
#include "resources/resource.h"
#include "settings/catalogue.h"
#include "settings/file.h"
#include "settings/record.h"
#include "support.h"

namespace {

const std::vector<Resolution> kFiveModes =
{
    { 800, 600, 32, 60 }, { 640, 480, 32, 60 }, { 1024, 768, 32, 60 }, { 1152, 864, 32, 60 }, { 1280, 1024, 32, 60 },
};

// What a first start loads with kFiveModes, where "640 x 480" is entry 1.
const SetupSettings kDefaults = { 50, 100, 100, 100, RENDERER_OPENGL, DISPLAY_FULLSCREEN, 1, 1, 0 };

// ---------------------------------------------------------------------------------------------------------
// The real main window, created in this process with the test's answers for what the platform reports.

HWND OpenSetupWindow(const std::string &appData, const std::vector<Resolution> &modes)
{
    g_fakeModes = modes;
    g_fakeFailingIndex = -1;
    g_fakeAppData = Wide(appData);
    SetFakeModulePath("C:\\Games\\Quorvane\\setup.exe");
    return CreateSetupWindow();
}

void Save(HWND window)
{
    EXPECT_EQ(0, SendMessageA(window, WM_COMMAND, MAKEWPARAM(IDM_SAVE, 0), 0));
}

// ---------------------------------------------------------------------------------------------------------
// The record and the form.

std::string Describe(const SetupSettings &s)
{
    char text[160];
    wsprintfA(text, "{ %d, %d, %d, %d, renderer %d, mode %d, resolution %d, cursor %d, vsync %d }", s.masterVolume,
              s.effectVolume, s.ambientVolume, s.musicVolume, s.renderer, s.displayMode, s.resolutionIndex,
              s.softwareCursor, s.vsync);
    return text;
}

bool SameRecord(const SetupSettings &a, const SetupSettings &b)
{
    return Describe(a) == Describe(b);
}

void ExpectInRange(const SetupSettings &s)
{
    SCOPED_TRACE(Describe(s));
    for (int volume : { s.masterVolume, s.effectVolume, s.ambientVolume, s.musicVolume })
    {
        EXPECT_GE(volume, 0);
        EXPECT_LE(volume, 100);
    }
    for (int kind : { s.renderer, s.displayMode })
    {
        EXPECT_GE(kind, 0);
        EXPECT_LE(kind, 2);
    }
    if (g_catalogue.count > 0)
    {
        EXPECT_GE(s.resolutionIndex, 0);
        EXPECT_LT(s.resolutionIndex, g_catalogue.count);
    }
    else
    {
        EXPECT_EQ(0, s.resolutionIndex);
    }
    for (int flag : { s.softwareCursor, s.vsync })
        EXPECT_TRUE(flag == 0 || flag == 1) << flag;
}

// Start-up loads the record and then shows it, which repairs a resolution outside the list; loading again
// tells what loading alone gave.
void ExpectLoadedInRange(const SetupSettings &shown)
{
    SetupSettings loaded = LoadSettings();
    g_settings = shown;
    ExpectInRange(loaded);
    ExpectInRange(shown);
    EXPECT_TRUE(SameRecord(loaded, shown)) << "the form had to repair " << Describe(loaded);
}

// Reads every control back by its identifier.
void ExpectFormShows(HWND window, const SetupSettings &s)
{
    SCOPED_TRACE(Describe(s));
    const struct { int id; int value; } sliders[] =
    {
        { IDC_MASTER_VOLUME, s.masterVolume }, { IDC_EFFECT_VOLUME, s.effectVolume },
        { IDC_AMBIENT_VOLUME, s.ambientVolume }, { IDC_MUSIC_VOLUME, s.musicVolume },
    };
    for (const auto &slider : sliders)
        EXPECT_EQ(slider.value, SendDlgItemMessageA(window, slider.id, TBM_GETPOS, 0, 0)) << "slider " << slider.id;

    const struct { int first; int chosen; } groups[] =
    {
        { IDC_RENDERER_OPENGL, s.renderer }, { IDC_MODE_WINDOWED, s.displayMode },
    };
    for (const auto &group : groups)
        for (int offset = 0; offset < 3; offset++)
            EXPECT_EQ(offset == group.chosen ? BST_CHECKED : BST_UNCHECKED,
                      (int)IsDlgButtonChecked(window, group.first + offset)) << "radio button " << group.first + offset;

    EXPECT_EQ(g_catalogue.count, SendDlgItemMessageA(window, IDC_RESOLUTION, CB_GETCOUNT, 0, 0));
    EXPECT_EQ(g_catalogue.count > 0 ? s.resolutionIndex : CB_ERR,
              SendDlgItemMessageA(window, IDC_RESOLUTION, CB_GETCURSEL, 0, 0));

    EXPECT_EQ(s.softwareCursor ? BST_CHECKED : BST_UNCHECKED, (int)IsDlgButtonChecked(window, IDC_SOFTWARE_CURSOR));
    EXPECT_EQ(s.vsync ? BST_CHECKED : BST_UNCHECKED, (int)IsDlgButtonChecked(window, IDC_VSYNC));
}

// ---------------------------------------------------------------------------------------------------------
// Files as the private-profile store sees them.

// Where the copies below go; each test has its own.
std::string g_copies;

// A copy under a name the store has never seen. The store keeps files it has read or written in memory,
// so only a fresh name makes it read what is really on disk.
std::string FreshCopy(const std::string &path)
{
    static unsigned serial;
    char name[32];
    wsprintfA(name, "\\copy-%u.ini", ++serial);
    std::string copy = g_copies + name;
    CopyFileA(path.c_str(), copy.c_str(), FALSE);
    SetFileAttributesA(copy.c_str(), FILE_ATTRIBUTE_NORMAL);
    return copy;
}

std::string Utf16ToUtf8(const std::string &bytes, bool bigEndian)
{
    std::wstring wide(bytes.size() / 2, L'\0');
    for (size_t i = 0; i < wide.size(); i++)
    {
        unsigned char a = bytes[2 * i], b = bytes[2 * i + 1];
        wide[i] = bigEndian ? (wchar_t)(a << 8 | b) : (wchar_t)(b << 8 | a);
    }
    int length = WideCharToMultiByte(CP_UTF8, 0, wide.data(), (int)wide.size(), NULL, 0, NULL, NULL);
    std::string text(length, '\0');
    if (length > 0)
        WideCharToMultiByte(CP_UTF8, 0, wide.data(), (int)wide.size(), &text[0], length, NULL, NULL);
    return text;
}

// The store keeps a file in the encoding its byte-order mark names; lines compare as UTF-8 or ANSI bytes.
std::string DecodedText(const std::string &path)
{
    std::string raw = ReadText(path);
    if (raw.compare(0, 3, "\xEF\xBB\xBF") == 0)
        return raw.substr(3);
    if (raw.compare(0, 2, "\xFF\xFE") == 0)
        return Utf16ToUtf8(raw.substr(2), false);
    if (raw.compare(0, 2, "\xFE\xFF") == 0)
        return Utf16ToUtf8(raw.substr(2), true);
    return raw;
}

struct OwnedKey
{
    const char *section;
    const char *key;
    bool resolution;    // written only when the catalogue is not empty
};

const OwnedKey kOwnedKeys[] =
{
    { "Sound", "MASTER_VOLUME", false }, { "Sound", "MASTER_ENABLED", false },
    { "Sound", "MUSIC_VOLUME", false }, { "Sound", "MUSIC_ENABLED", false },
    { "Sound", "AMBIENT_VOLUME", false }, { "Sound", "AMBIENT_ENABLED", false },
    { "Sound", "EFFECT_VOLUME", false }, { "Sound", "EFFECT_ENABLED", false },
    { "Rendering", "RENDERING_BACKEND", false }, { "Rendering", "SOFTWARE_CURSOR", false },
    { "Display", "DISPLAY_MODE", false }, { "Display", "DISPLAY_WIDTH", true }, { "Display", "DISPLAY_HEIGHT", true },
    { "Display", "DISPLAY_BITDEPTH", true }, { "Display", "DISPLAY_REFRESH_RATE", true },
    { "Display", "DISPLAY_VSYNC", false },
};

// The store matches names without regard to case, but only ASCII letters can spell the setup's names;
// lstrcmpiA would also ignore characters such as the soft hyphen, which the store does not.
bool SameName(const std::string &a, const char *b)
{
    size_t i = 0;
    for (; i < a.size() && b[i]; i++)
    {
        char x = a[i], y = b[i];
        if (x >= 'a' && x <= 'z') x -= 32;
        if (y >= 'a' && y <= 'z') y -= 32;
        if (x != y)
            return false;
    }
    return i == a.size() && !b[i];
}

bool IsOwnedSection(const std::string &section)
{
    return SameName(section, "Sound") || SameName(section, "Rendering") || SameName(section, "Display");
}

bool IsOwnedKey(const std::string &section, const std::string &key, bool resolutionWritten)
{
    for (const OwnedKey &owned : kOwnedKeys)
        if (SameName(section, owned.section) && SameName(key, owned.key) && (resolutionWritten || !owned.resolution))
            return true;
    return false;
}

// Every line of a file the store keeps that the setup does not own: the headers of other sections, and
// "section/line" for each line that is not one of the keys the setup writes, in file order. The store
// writes CR LF after every line and leaves no CR or LF inside one; a line that starts with '[' and holds a
// ']' is a header, named by what lies between them.
std::vector<std::string> ForeignLines(const std::string &path, bool resolutionWritten)
{
    std::vector<std::string> lines;
    std::string text = DecodedText(path), section;
    size_t start = 0;
    while (start < text.size())
    {
        size_t end = text.find("\r\n", start);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(start, end - start);
        start = end + 2;
        // Blank lines are neither sections nor keys; the store drops them when it reads a file.
        if (line.empty())
            continue;
        size_t close = line.find(']');
        if (line[0] == '[' && close != std::string::npos)
        {
            section = line.substr(1, close - 1);
            if (!IsOwnedSection(section))
                lines.push_back(line);
            continue;
        }
        if (!IsOwnedKey(section, line.substr(0, line.find('=')), resolutionWritten))
            lines.push_back(section + "/" + line);
    }
    return lines;
}

// A copy of the file as the store keeps it: blank lines dropped, spaces around '=' gone, text after a NUL
// lost, and so on. The setup only ever writes through the store, so this is what "as it was" can mean.
// A write makes the store rewrite the file, but only a write that changes something; and it trims what a
// NUL left at the end of a line only when it reads its own output again. So the copy goes round until its
// lines no longer change.
std::string StoreKept(const std::string &path)
{
    std::string kept = path;
    std::vector<std::string> lines;
    for (int pass = 1; pass <= 5; pass++)
    {
        std::string again = FreshCopy(kept);
        WritePrivateProfileStringA("Sound", "MASTER_VOLUME", pass % 2 ? "pass-1" : "pass-2", again.c_str());
        std::vector<std::string> againLines = ForeignLines(again, false);
        if (pass > 1 && againLines == lines)
            return again;
        kept = again;
        lines = againLines;
    }
    ADD_FAILURE() << "the store never settles on one form of " << path;
    return kept;
}

std::string Shorten(const std::string &line)
{
    return line.size() > 120 ? line.substr(0, 120) + "... (" + std::to_string(line.size()) + " bytes)" : line;
}

// Line by line, so that a difference in a file of a megabyte is reported as one line.
void ExpectSameLines(const std::vector<std::string> &expected, const std::vector<std::string> &got)
{
    size_t i = 0;
    while (i < expected.size() && i < got.size() && expected[i] == got[i])
        i++;
    if (i == expected.size() && i == got.size())
        return;
    ADD_FAILURE() << "foreign lines differ at line " << i << " of " << expected.size() << " expected, "
                  << got.size() << " found\n  expected: " << (i < expected.size() ? Shorten(expected[i]) : "(end)")
                  << "\n  found:    " << (i < got.size() ? Shorten(got[i]) : "(end)");
}

// What a fresh start would load from the file on disk, read through a fresh copy.
SetupSettings LoadFromDisk(const std::string &path)
{
    std::string copy = FreshCopy(path);
    char previous[PATH_BUFFER_SIZE];
    lstrcpynA(previous, g_locations.settingsFilePath, PATH_BUFFER_SIZE);
    SetupSettings held = g_settings;
    UseSettingsFile(copy);
    SetupSettings loaded = LoadSettings();
    UseSettingsFile(previous);
    g_settings = held;

    const struct { const char *key; int volume; } enabled[] =
    {
        { "MASTER_ENABLED", loaded.masterVolume }, { "MUSIC_ENABLED", loaded.musicVolume },
        { "AMBIENT_ENABLED", loaded.ambientVolume }, { "EFFECT_ENABLED", loaded.effectVolume },
    };
    for (const auto &e : enabled)
        EXPECT_EQ(e.volume != 0 ? 1 : 0, (int)GetPrivateProfileIntA("Sound", e.key, -1, copy.c_str())) << e.key;
    return loaded;
}

// After a Save: the file holds the record, and every line the setup does not own is as the store kept it.
void ExpectSavedOver(const std::string &before, const std::string &path, const SetupSettings &saved)
{
    bool resolutionWritten = g_catalogue.count > 0;
    ExpectSameLines(ForeignLines(before, resolutionWritten), ForeignLines(StoreKept(path), resolutionWritten));
    SetupSettings loaded = LoadFromDisk(path);
    EXPECT_TRUE(SameRecord(saved, loaded)) << "saved " << Describe(saved) << "\nloads back as " << Describe(loaded);
}

// Starts the setup, checks the record and the form, saves and checks the file; `settings` is where the
// settings file is (already written by the caller). Returns the record shown.
SetupSettings LoadShowSave(const std::string &appData, const std::string &settings,
                           const std::vector<Resolution> &modes = kFiveModes)
{
    std::string before = StoreKept(settings);
    MessageBoxCloser closer;
    HWND window = OpenSetupWindow(appData, modes);
    EXPECT_TRUE(window != NULL) << "the window did not come up";
    if (!window)
        return SetupSettings();
    EXPECT_EQ(settings, g_locations.settingsFilePath);
    SetupSettings shown = g_settings;
    ExpectLoadedInRange(shown);
    ExpectFormShows(window, shown);

    Save(window);
    EXPECT_TRUE(SameRecord(shown, g_settings)) << "the form read back " << Describe(g_settings);
    ExpectSavedOver(before, settings, g_settings);
    EXPECT_TRUE(closer.seen.empty()) << closer.seen[0].text;
    CloseSetupWindow(window);
    return shown;
}

struct FileCase
{
    const char *name;
    std::string content;
    const SetupSettings *expected;  // when the outcome does not depend on how the store reads odd text
};

class HostileFolder : public ::testing::Test
{
protected:
    void SetUp() override
    {
        root = MakeTempFolder("hostile");
        g_copies = MakeTempFolder("hostile-copies");
    }
    // Also after a failed assertion: a file still held open could not be removed with its folder.
    void TearDown() override
    {
        if (holder != INVALID_HANDLE_VALUE)
            CloseHandle(holder);
        holder = INVALID_HANDLE_VALUE;
        RemoveTree(g_copies);
        RemoveTree(root);
    }

    // A fresh application-data folder whose settings folder holds `content` as settings.ini.
    std::string AppDataWith(const std::string &content)
    {
        static unsigned serial;
        std::string appData = root + "\\appdata-" + std::to_string(++serial);
        CreateDirectoryA(appData.c_str(), NULL);
        CreateDirectoryA((appData + "\\Quorvane").c_str(), NULL);
        WriteText(appData + "\\Quorvane\\settings.ini", content);
        return appData;
    }

    template <size_t N>
    void CheckFiles(const FileCase (&cases)[N])
    {
        for (const FileCase &c : cases)
        {
            SCOPED_TRACE(c.name);
            std::string appData = AppDataWith(c.content);
            SetupSettings shown = LoadShowSave(appData, appData + "\\Quorvane\\settings.ini");
            if (c.expected)
            {
                EXPECT_TRUE(SameRecord(*c.expected, shown)) << Describe(shown);
            }
        }
    }

    std::string root;
    // Another program's handle on a file of the test.
    HANDLE holder = INVALID_HANDLE_VALUE;
};

// ---------------------------------------------------------------------------------------------------------
// Ingredients of hostile files.

const char kNulText[] = "[Net\0work]\r\nHO\0ST=a\0b\r\n[Sound]\r\nMASTER_VOLUME=2\0" "0\r\nVOICE\0=1\r\n\0\0\0\r\n";

std::string Bytes(const char *text, size_t length)
{
    return std::string(text, length);
}

std::string RandomBytes(unsigned seed, size_t length)
{
    std::mt19937 random(seed);
    std::string bytes(length, '\0');
    for (char &c : bytes)
        c = (char)(random() & 0xFF);
    return bytes;
}

// `text` in UTF-16 LE behind its byte-order mark; its bytes are taken in the ANSI code page.
std::string Utf16File(const std::string &text, const std::wstring &more = L"")
{
    std::wstring wide(text.size(), L'\0');
    int length = text.empty() ? 0 : MultiByteToWideChar(CP_ACP, 0, text.data(), (int)text.size(), &wide[0],
                                                         (int)wide.size());
    wide.resize(length);
    wide += more;
    std::string bytes = "\xFF\xFE";
    for (wchar_t c : wide)
    {
        bytes += (char)(c & 0xFF);
        bytes += (char)(c >> 8);
    }
    return bytes;
}

// About a mebibyte of other programs' sections, with the setup's own sections somewhere in the middle.
std::string MebibyteOfForeignSections()
{
    std::string text;
    char line[96];
    for (int section = 0; text.size() < (1u << 20); section++)
    {
        wsprintfA(line, "[Foreign%05d]\r\n", section);
        text += line;
        for (int key = 0; key < 24; key++)
        {
            wsprintfA(line, "KEY_%02d=value %d of section %d\r\n", key, key, section);
            text += line;
        }
        if (section == 500)
            text += "[Sound]\r\nMASTER_VOLUME=77\r\nVOICE_VOLUME=3\r\n[Display]\r\nDISPLAY_MODE=2\r\n";
    }
    return text;
}

const std::string k64KiB(64 * 1024, 'x');
const std::string k64KiBDigits(64 * 1024, '9');

const FileCase kMalformedFiles[] =
{
    { "empty", "", &kDefaults },
    { "binary junk", RandomBytes(1, 4096), NULL },
    { "junk around a section", RandomBytes(2, 700) + "\r\n[Sound]\r\nMASTER_VOLUME=20\r\n" + RandomBytes(3, 700), NULL },
    { "NUL bytes in names and values", Bytes(kNulText, sizeof(kNulText) - 1), NULL },
    { "only NUL bytes", std::string(300, '\0'), &kDefaults },
    { "UTF-16 LE with a byte-order mark",
      Utf16File("[Sound]\r\nMASTER_VOLUME=20\r\nVOICE_VOLUME=7\r\n[Gr\xFC\xDF" "e]\r\nWORT=\xE9t\xE9\r\n",
                L"[\x0416\x4E2D]\r\nKEY=\x0416\r\n"), NULL },
    { "UTF-8 byte-order mark", "\xEF\xBB\xBF[Sound]\r\nMASTER_VOLUME=20\r\n[Keys]\r\nJUMP=Space\r\n", NULL },
    { "LF only, CR only, no last line break",
      "[Keys]\nJUMP=Space\n[Sound]\rMASTER_VOLUME=20\rVOICE=1\n\r[Net]\nHOST=x", NULL },
    { "spaces, tabs, comments and blank lines",
      "; comment\r\n\r\n\r\n  [Keys]  \r\n  JUMP  =  Space  \r\n\tnoequals\r\n# hash\r\n=\r\n==\r\n[Sound] after\r\n"
      " MASTER_VOLUME = 20 \r\n\x1a\r\n", NULL },
    { "malformed headers", "[Sound\r\nMASTER_VOLUME=5\r\nSound]\r\n[[Sound]]\r\nMASTER_VOLUME=6\r\n[]\r\nK=v\r\n[\r\n",
      &kDefaults },
    { "a mebibyte of foreign sections", MebibyteOfForeignSections(), NULL },
    { "64 KiB foreign value", "[Keys]\r\nMACRO=" + k64KiB + "\r\n[Sound]\r\nMASTER_VOLUME=20\r\n", NULL },
    { "64 KiB owned value", "[Sound]\r\nMASTER_VOLUME=" + k64KiBDigits + "\r\nMUSIC_VOLUME=-" + k64KiBDigits + "\r\n",
      NULL },
    { "64 KiB key name", "[Sound]\r\n" + k64KiB + "=1\r\nMASTER_VOLUME=20\r\n", NULL },
    { "64 KiB section name", "[" + k64KiB + "]\r\nK=v\r\n[Sound]\r\nMASTER_VOLUME=20\r\n", NULL },
    { "64 KiB line without a break", k64KiB, &kDefaults },
};

TEST_F(HostileFolder, MalformedFilesLoadInRangeAndKeepForeignLines)
{
    CheckFiles(kMalformedFiles);
}

const SetupSettings kSoundTen = { 10, 100, 100, 100, RENDERER_OPENGL, DISPLAY_FULLSCREEN, 1, 1, 0 };

const FileCase kMisplacedKeys[] =
{
    { "missing sections", "[Network]\r\nHOST=example\r\nPORT=6112\r\n", &kDefaults },
    { "keys in the wrong sections",
      "[Display]\r\nMASTER_VOLUME=10\r\nRENDERING_BACKEND=2\r\n[Sound]\r\nDISPLAY_MODE=0\r\nSOFTWARE_CURSOR=0\r\n"
      "[Rendering]\r\nDISPLAY_VSYNC=1\r\nMUSIC_VOLUME=5\r\nDISPLAY_WIDTH=1280\r\n[Keys]\r\nMASTER_VOLUME=1\r\n",
      &kDefaults },
    { "keys repeated", "[Sound]\r\nMASTER_VOLUME=10\r\nVOICE=1\r\nMASTER_VOLUME=90\r\nVOICE=2\r\n", &kSoundTen },
    { "sections repeated",
      "[Sound]\r\nVOICE=1\r\n[Display]\r\nGAMMA=2\r\n[Sound]\r\nMASTER_VOLUME=10\r\nVOICE=3\r\n[Display]\r\nGAMMA=4\r\n",
      NULL },
    { "names in other cases", "[SOUND]\r\nmaster_volume=10\r\n[sound]\r\nVoice=1\r\n", &kSoundTen },
    { "names with spaces inside the brackets", "[ Sound ]\r\nMASTER_VOLUME=10\r\n[Sound ]\r\nMASTER_VOLUME=11\r\n",
      NULL },
};

TEST_F(HostileFolder, MisplacedRepeatedAndMissingKeysLeaveForeignLinesAlone)
{
    CheckFiles(kMisplacedKeys);
}

// Signs, spaces, prefixes, leading zeros and numbers beyond 32 bits: what they read as is the store's
// business, but whatever it gives is brought into range, and other programs' keys keep their text.
const char *const kOddNumbers[] =
{
    "+50", "-0", " 50", "5 0", "0x40", "0X40", "007", "4294967296", "99999999999", "-2147483649", "2147483647",
    "2147483648", "-2147483648", "-1", "101", "1e3", "50abc", "-", "", "   ",
};

int Clamped(int value, int low, int high)
{
    return value < low ? low : value > high ? high : value;
}

TEST_F(HostileFolder, OddNumbersAreBroughtIntoRange)
{
    for (const char *number : kOddNumbers)
    {
        SCOPED_TRACE(std::string("\"") + number + "\"");
        std::string n = number;
        std::string appData = AppDataWith(
            "[Sound]\r\nMASTER_VOLUME=" + n + "\r\nMUSIC_VOLUME=" + n + "\r\nAMBIENT_VOLUME=" + n +
            "\r\nEFFECT_VOLUME=" + n + "\r\nVOICE_VOLUME=" + n + "\r\n[Rendering]\r\nRENDERING_BACKEND=" + n +
            "\r\nSOFTWARE_CURSOR=" + n + "\r\n[Display]\r\nDISPLAY_MODE=" + n + "\r\nDISPLAY_WIDTH=" + n +
            "\r\nDISPLAY_HEIGHT=" + n + "\r\nDISPLAY_VSYNC=" + n + "\r\nGAMMA=" + n + "\r\n");
        std::string settings = appData + "\\Quorvane\\settings.ini";
        std::string copy = FreshCopy(settings);
        auto stored = [&](const char *section, const char *key, int fallback) {
            return (int)GetPrivateProfileIntA(section, key, fallback, copy.c_str());
        };
        SetupSettings shown = LoadShowSave(appData, settings);
        EXPECT_EQ(Clamped(stored("Sound", "MASTER_VOLUME", 50), 0, 100), shown.masterVolume);
        EXPECT_EQ(Clamped(stored("Sound", "MUSIC_VOLUME", 100), 0, 100), shown.musicVolume);
        EXPECT_EQ(Clamped(stored("Rendering", "RENDERING_BACKEND", 0), 0, 2), shown.renderer);
        EXPECT_EQ(Clamped(stored("Display", "DISPLAY_MODE", 1), 0, 2), shown.displayMode);
        EXPECT_EQ(stored("Rendering", "SOFTWARE_CURSOR", 1) != 0 ? 1 : 0, shown.softwareCursor);
        EXPECT_EQ(stored("Display", "DISPLAY_VSYNC", 0) != 0 ? 1 : 0, shown.vsync);
    }
}

// Tells whether the platform lets this process write the file; Wine run by root ignores the read-only
// attribute, as root ignores the permissions it stands for.
bool PlatformWouldWrite(const std::string &path)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING, 0,
                              NULL);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    CloseHandle(file);
    return true;
}

const char kPlainFile[] = "[Sound]\r\nMASTER_VOLUME=20\r\nVOICE_VOLUME=7\r\n[Keys]\r\nJUMP=Space\r\n";
const char kNoFolderText[] = "Unable to save the settings:\nthere is no settings folder.";

std::string SaveErrorText(const std::string &settings)
{
    return "Unable to save the settings to\n" + settings;
}

// Every one of `saves` saves that could not write said so in one error box with `text`.
void ExpectSaveErrors(const std::vector<SeenBox> &seen, size_t saves, const std::string &text)
{
    EXPECT_EQ(saves, seen.size()) << "error boxes";
    for (const SeenBox &box : seen)
    {
        EXPECT_EQ("Error", box.caption);
        EXPECT_EQ(text, box.text);
        EXPECT_EQ(std::vector<std::string>(1, "OK"), box.buttons);
        EXPECT_TRUE(box.hasIcon);
    }
}
const SetupSettings kPlainFileLoads = { 20, 100, 100, 100, RENDERER_OPENGL, DISPLAY_FULLSCREEN, 1, 1, 0 };

// The setup gets on with a file it may not write: each Save says that it failed, Reset goes on working
// and the file is left alone.
TEST_F(HostileFolder, UnwritableFileIsLeftAsItWas)
{
    for (bool locked : { false, true })
    {
        SCOPED_TRACE(locked ? "held open by another program" : "read-only");
        std::string appData = AppDataWith(kPlainFile);
        std::string settings = appData + "\\Quorvane\\settings.ini";
        std::string before = StoreKept(settings);
        if (locked)
            holder = CreateFileA(settings.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
        else
            SetFileAttributesA(settings.c_str(), FILE_ATTRIBUTE_READONLY);
        bool writable = PlatformWouldWrite(settings);
        ASSERT_TRUE(!locked || !writable) << "the platform let the file be written while it was held open";

        MessageBoxCloser closer;
        HWND window = OpenSetupWindow(appData, kFiveModes);
        ASSERT_TRUE(window != NULL);
        EXPECT_TRUE(SameRecord(kPlainFileLoads, g_settings)) << Describe(g_settings);
        ExpectFormShows(window, g_settings);
        SendDlgItemMessageA(window, IDC_MASTER_VOLUME, TBM_SETPOS, TRUE, 90);
        Save(window);
        SetupSettings saved = g_settings;
        EXPECT_EQ(90, saved.masterVolume);
        EXPECT_EQ(0, SendMessageA(window, WM_COMMAND, MAKEWPARAM(IDM_RESET, 0), 0));
        Save(window);
        EXPECT_TRUE(IsWindow(window));
        ExpectInRange(g_settings);
        ExpectFormShows(window, g_settings);
        printf("%s: the platform would %swrite the file; %u error boxes\n", locked ? "held open" : "read-only",
               writable ? "" : "not ", (unsigned)closer.seen.size());
        if (writable)
            EXPECT_TRUE(closer.seen.empty());
        else
            ExpectSaveErrors(closer.seen, 2, SaveErrorText(settings));
        CloseSetupWindow(window);

        if (holder != INVALID_HANDLE_VALUE)
            CloseHandle(holder);
        holder = INVALID_HANDLE_VALUE;
        if (writable)
        {
            ExpectSavedOver(before, settings, g_settings);
        }
        else
        {
            EXPECT_EQ(kPlainFile, ReadText(settings));
        }
    }
}

// Names, sizes and write times of everything below `folder`.
std::vector<std::string> Tree(const std::string &folder)
{
    std::vector<std::string> entries;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return entries;
    do
    {
        std::string name = found.cFileName;
        if (name == "." || name == "..")
            continue;
        char line[64];
        wsprintfA(line, " (%lu bytes, %08lx%08lx, attributes %lx)", found.nFileSizeLow,
                  found.ftLastWriteTime.dwHighDateTime, found.ftLastWriteTime.dwLowDateTime, found.dwFileAttributes);
        bool isFolder = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        entries.push_back(folder + "\\" + name + (isFolder ? "\\" : line));
        if (isFolder)
            for (const std::string &inner : Tree(folder + "\\" + name))
                entries.push_back(inner);
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return entries;
}

// Where the settings file should be, something else already is: a folder named settings.ini, or a file
// named like the settings folder. The setup starts with the defaults; its Save changes nothing and says so.
TEST_F(HostileFolder, SettingsPathTakenByAFolderOrAFile)
{
    for (bool folderAsFile : { true, false })
    {
        SCOPED_TRACE(folderAsFile ? "settings.ini is a folder" : "Quorvane is a file");
        std::string appData = root + (folderAsFile ? "\\ini-is-folder" : "\\quorvane-is-file");
        CreateDirectoryA(appData.c_str(), NULL);
        if (folderAsFile)
        {
            CreateDirectoryA((appData + "\\Quorvane").c_str(), NULL);
            CreateDirectoryA((appData + "\\Quorvane\\settings.ini").c_str(), NULL);
            WriteText(appData + "\\Quorvane\\settings.ini\\inside.txt", kPlainFile);
        }
        else
            WriteText(appData + "\\Quorvane", kPlainFile);
        std::vector<std::string> before = Tree(appData);

        MessageBoxCloser closer;
        HWND window = OpenSetupWindow(appData, kFiveModes);
        ASSERT_TRUE(window != NULL);
        EXPECT_EQ(appData + "\\Quorvane\\settings.ini", g_locations.settingsFilePath);
        EXPECT_TRUE(SameRecord(kDefaults, g_settings)) << Describe(g_settings);
        ExpectFormShows(window, g_settings);
        SendDlgItemMessageA(window, IDC_VSYNC, BM_SETCHECK, BST_CHECKED, 0);
        Save(window);
        Save(window);
        EXPECT_EQ(1, g_settings.vsync);
        EXPECT_TRUE(IsWindow(window));
        ExpectSaveErrors(closer.seen, 2, SaveErrorText(g_locations.settingsFilePath));
        CloseSetupWindow(window);

        ExpectSameLines(before, Tree(appData));
        EXPECT_EQ(kPlainFile, ReadText(appData + (folderAsFile ? "\\Quorvane\\settings.ini\\inside.txt" : "\\Quorvane")));
    }
}

// ---------------------------------------------------------------------------------------------------------
// A seeded corpus of random files built from the same ingredients, run through one window per display.

unsigned Below(std::mt19937 &random, unsigned n)
{
    return random() % n;
}

template <size_t N>
const char *Pick(std::mt19937 &random, const char *const (&names)[N])
{
    return names[Below(random, N)];
}

std::string AnyCase(std::mt19937 &random, const char *name)
{
    std::string text = name;
    unsigned choice = Below(random, 4);
    for (char &c : text)
    {
        if (choice == 0 && c >= 'A' && c <= 'Z')
            c += 32;
        else if (choice == 1 && c >= 'a' && c <= 'z')
            c -= 32;
    }
    return text;
}

const char *const kOwnedSections[] = { "Sound", "Rendering", "Display" };
const char *const kForeignSections[] =
{
    "Network", "Keys", "Sound2", "Sound ", " Display", "Render ing", "", "Quorvane", "Dis\xADplay", "Sou\xF1" "d",
};
const char *const kMalformedHeaders[] = { "[Sound", "Sound]", "[[Sound]]", "[]]", "[", "]", "[Display]]]", "[Rendering] x=1" };
const char *const kWords[] =
{
    "HOST", "JUMP", "VOICE_VOLUME", "GAMMA", "name with spaces", "\xE9t\xE9", "=", "==", ";", "[x", "x]", "MASTER_VOLUMES",
};
const char *const kResolutionNumbers[] = { "640", "480", "800", "600", "1024", "768", "1280", "0" };

std::string RandomNumber(std::mt19937 &random)
{
    switch (Below(random, 4))
    {
    case 0:  return Pick(random, kOddNumbers);
    case 1:  return Pick(random, kResolutionNumbers);
    case 2:  return std::to_string((int)random());
    default: return std::to_string((long long)random() * (long long)random() * (Below(random, 2) ? 1 : -1));
    }
}

std::string RandomLine(std::mt19937 &random)
{
    std::string pad = Below(random, 4) == 0 ? std::string(Below(random, 3) + 1, Below(random, 2) ? ' ' : '\t') : "";
    switch (Below(random, 12))
    {
    case 0:
    case 1:
        return pad + "[" + AnyCase(random, Pick(random, kOwnedSections)) + "]" + (Below(random, 5) ? "" : " tail");
    case 2:
        return std::string("[") + Pick(random, kForeignSections) + "]";
    case 3:
        return Pick(random, kMalformedHeaders);
    case 4:
    case 5:
    case 6:
        return pad + AnyCase(random, kOwnedKeys[Below(random, 16)].key) + pad + "=" + pad + RandomNumber(random);
    case 7:
    case 8:
        return pad + Pick(random, kWords) + "=" + (Below(random, 2) ? RandomNumber(random) : Pick(random, kWords));
    case 9:
        return Below(random, 2) ? "; comment " + RandomNumber(random) : pad;
    case 10:
        return RandomBytes(random(), Below(random, 40) + 1);
    default:
        return Below(random, 8) ? Pick(random, kWords) : std::string(Below(random, 8192) + 1, 'x');
    }
}

std::string RandomFile(std::mt19937 &random)
{
    const char *const breaks[] = { "\r\n", "\n", "\r", "\n\r" };
    unsigned style = Below(random, 5);     // 4: any break on any line
    unsigned lines = Below(random, 40);
    std::string text;
    for (unsigned i = 0; i < lines; i++)
    {
        text += RandomLine(random);
        if (i + 1 < lines || Below(random, 2))
            text += breaks[style < 4 ? style : Below(random, 4)];
    }
    switch (Below(random, 10))
    {
    case 0:  return Utf16File(text);
    case 1:  return "\xEF\xBB\xBF" + text;
    default: return text;
    }
}

std::string Escaped(const std::string &bytes)
{
    std::string text;
    for (size_t i = 0; i < bytes.size() && i < 2000; i++)
    {
        unsigned char c = bytes[i];
        char hex[8];
        wsprintfA(hex, "\\x%02x", c);
        text += c >= 32 && c < 127 && c != '\\' ? std::string(1, (char)c) : std::string(hex);
    }
    return text;
}

class HostileCorpus : public HostileFolder
{
};

TEST_F(HostileCorpus, RandomFilesLoadShowAndSaveInRange)
{
    std::mt19937 random(20260117);
    const std::vector<Resolution> displays[] = { kFiveModes, {}, { { 1024, 768, 32, 60 } } };
    int file = 0;
    for (const std::vector<Resolution> &modes : displays)
    {
        MessageBoxCloser closer;
        HWND window = OpenSetupWindow(AppDataWith(""), modes);
        ASSERT_TRUE(window != NULL);
        for (int i = 0; i < 100 && !HasFailure(); i++)
        {
            std::string content = RandomFile(random);
            // A new name for every file: the store might otherwise take a rewrite within its clock's
            // resolution for the file it already holds.
            std::string path = root + "\\corpus-" + std::to_string(++file) + ".ini";
            SCOPED_TRACE("corpus file " + std::to_string(file) + " of seed 20260117: \"" + Escaped(content) + "\"");
            WriteText(path, content);
            std::string before = StoreKept(path);
            UseSettingsFile(path);
            SetupSettings loaded = LoadSettings();
            ExpectInRange(loaded);
            ApplySettingsToForm(window, &g_settings);
            SetupSettings shown = g_settings;
            EXPECT_TRUE(SameRecord(loaded, shown)) << "the form had to repair " << Describe(loaded);
            ExpectFormShows(window, shown);
            Save(window);
            EXPECT_TRUE(SameRecord(shown, g_settings)) << "the form read back " << Describe(g_settings);
            ExpectSavedOver(before, path, g_settings);
        }
        EXPECT_TRUE(closer.seen.empty());
        CloseSetupWindow(window);
    }
}

// ---------------------------------------------------------------------------------------------------------
// Application-data folders: long, with spaces, with letters of the ANSI code page.

// Creates folders below `base` down to a path of exactly `length` bytes. Each name is whole copies of
// `unit` followed by 'd's, so no name ends in a space and no character of the code page is split.
std::string DeepFolder(const std::string &base, size_t length, const std::string &unit = "d")
{
    std::string path = base;
    CreateDirectoryA(base.c_str(), NULL);
    while (path.size() < length)
    {
        size_t room = length - path.size() - 1, take = room < 100 ? room : 100;
        if (room - take == 1)
            take--;
        std::string name;
        while (name.size() + unit.size() < take)
            name += unit;
        name += std::string(take - name.size(), 'd');
        path += "\\" + name;
        CreateDirectoryA(path.c_str(), NULL);
    }
    return path;
}

bool IsFolder(const std::string &path)
{
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// Letters beyond ASCII that the ANSI code page holds, spelt in it.
std::string AnsiLetters()
{
    const wchar_t candidates[] = { 0x00E9, 0x00FC, 0x00DF, 0x00C5, 0x00F1, 0x20AC, 0x0160, 0x0416, 0x03A9, 0x3042 };
    std::string letters;
    for (wchar_t c : candidates)
    {
        char bytes[8];
        wchar_t back[2];
        int length = WideCharToMultiByte(CP_ACP, 0, &c, 1, bytes, sizeof(bytes), NULL, NULL);
        if (length > 0 && MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, bytes, length, back, 2) == 1 && back[0] == c)
            letters.append(bytes, length);
    }
    return letters;
}

// What the setup must not touch when it has no settings file of its own: the Windows folder, where the
// store looks for a file named without a folder, and the root of the current drive.
struct ElsewhereState
{
    std::string winIni;
    std::vector<std::string> windowsFolder;

    static std::string WindowsFolder()
    {
        char folder[MAX_PATH];
        GetWindowsDirectoryA(folder, MAX_PATH);
        return folder;
    }
    static ElsewhereState Now()
    {
        ElsewhereState state;
        state.winIni = ReadText(WindowsFolder() + "\\win.ini");
        WIN32_FIND_DATAA found;
        HANDLE search = FindFirstFileA((WindowsFolder() + "\\*").c_str(), &found);
        if (search != INVALID_HANDLE_VALUE)
        {
            do
                state.windowsFolder.push_back(found.cFileName);
            while (FindNextFileA(search, &found));
            FindClose(search);
        }
        return state;
    }
};

void ExpectNothingWrittenElsewhere(const ElsewhereState &before)
{
    ElsewhereState after = ElsewhereState::Now();
    EXPECT_EQ(before.winIni, after.winIni);
    ExpectSameLines(before.windowsFolder, after.windowsFolder);
    EXPECT_FALSE(PathExists(ElsewhereState::WindowsFolder() + "\\settings.ini"));
}

enum SettingsPlace
{
    IN_SETTINGS_FOLDER,
    NO_SETTINGS_FILE
};

struct LengthCase
{
    size_t length;          // of the application-data folder
    bool folderFits;        // the folder with "\Quorvane" stays below 260
    SettingsPlace place;
};

// The settings file fits while the application-data folder has at most 237 characters (folder 246, file
// 259); the settings folder while it has at most 250 (259).
const LengthCase kLengthCases[] =
{
    { 236, true, IN_SETTINGS_FOLDER }, { 237, true, IN_SETTINGS_FOLDER }, { 238, true, NO_SETTINGS_FILE },
    { 245, true, NO_SETTINGS_FILE }, { 246, true, NO_SETTINGS_FILE }, { 247, true, NO_SETTINGS_FILE },
    { 248, true, NO_SETTINGS_FILE }, { 249, true, NO_SETTINGS_FILE }, { 250, true, NO_SETTINGS_FILE },
    { 251, false, NO_SETTINGS_FILE }, { 252, false, NO_SETTINGS_FILE },
};

class HostileAppDataFolder : public HostileFolder
{
protected:
    void SetUp() override
    {
        HostileFolder::SetUp();
        GetCurrentDirectoryA(MAX_PATH, previousDirectory);
        // A settings path without a folder is taken from the current drive's root: keep that drive ours.
        current = root + "\\current";
        CreateDirectoryA(current.c_str(), NULL);
        SetCurrentDirectoryA(current.c_str());
    }
    // A settings.ini the test put at the drive's root goes also when the test fails half-way: left there,
    // it would stop this test in every later run.
    void TearDown() override
    {
        if (!driveRootFile.empty())
            DeleteFileA(driveRootFile.c_str());
        SetCurrentDirectoryA(previousDirectory);
        HostileFolder::TearDown();
    }

    char previousDirectory[MAX_PATH];
    std::string current;
    std::string driveRootFile;      // set once this test may write it
};

TEST_F(HostileAppDataFolder, LengthsEachSideOfBothLimits)
{
    char rootFile[MAX_PATH];
    GetFullPathNameA("\\settings.ini", MAX_PATH, rootFile, NULL);
    ASSERT_FALSE(PathExists(rootFile)) << rootFile << " is in the way: this test writes and removes it";
    driveRootFile = rootFile;

    for (const LengthCase &c : kLengthCases)
    {
        SCOPED_TRACE("application-data folder of " + std::to_string(c.length) + " characters");
        std::string appData = DeepFolder(root + "\\length-" + std::to_string(c.length), c.length);
        ASSERT_EQ(c.length, appData.size());
        ASSERT_TRUE(IsFolder(appData));
        std::string folder = appData + "\\Quorvane";
        ElsewhereState elsewhere = ElsewhereState::Now();

        if (c.place == IN_SETTINGS_FOLDER)
        {
            CreateDirectoryA(folder.c_str(), NULL);
            WriteText(folder + "\\settings.ini", kPlainFile);
            EXPECT_TRUE(SameRecord(kPlainFileLoads, LoadShowSave(appData, folder + "\\settings.ini")));
        }
        else
        {
            // A settings.ini at the current drive's root is somebody else's: never read, never written.
            WriteText(driveRootFile, kPlainFile);
            std::vector<std::string> tree = Tree(root);
            MessageBoxCloser closer;
            HWND window = OpenSetupWindow(appData, kFiveModes);
            ASSERT_TRUE(window != NULL);
            EXPECT_STREQ("", g_locations.settingsFilePath);
            EXPECT_TRUE(SameRecord(kDefaults, g_settings)) << Describe(g_settings);
            ExpectFormShows(window, g_settings);
            Save(window);
            ExpectSaveErrors(closer.seen, 1, kNoFolderText);
            CloseSetupWindow(window);

            // Only the settings folder is new, where it fits, and it is empty.
            if (c.folderFits)
                tree.push_back(folder + "\\");
            std::vector<std::string> after = Tree(root);
            std::sort(tree.begin(), tree.end());
            std::sort(after.begin(), after.end());
            ExpectSameLines(tree, after);
            EXPECT_EQ(kPlainFile, ReadText(driveRootFile));
            DeleteFileA(driveRootFile.c_str());
        }
        EXPECT_EQ(c.folderFits, IsFolder(folder));
        ExpectNothingWrittenElsewhere(elsewhere);
    }
}

TEST_F(HostileAppDataFolder, SpacesAndLettersOfTheAnsiCodePage)
{
    std::string letters = AnsiLetters();
    ASSERT_FALSE(letters.empty()) << "code page " << GetACP() << " offers none of the letters tried";
    const struct { const char *name; std::string appData; } cases[] =
    {
        { "spaces", root + "\\Documents and Settings\\ Player  One\\Application Data" },
        { "letters", root + "\\" + letters + "\\Dat" + letters },
        { "both, at the longest path that still holds the file",
          DeepFolder(root + "\\" + letters + " x", 237, letters + " x") },
    };
    for (const auto &c : cases)
    {
        SCOPED_TRACE(c.name);
        for (size_t end = c.appData.find('\\', root.size() + 1); end != std::string::npos;
             end = c.appData.find('\\', end + 1))
            CreateDirectoryA(c.appData.substr(0, end).c_str(), NULL);
        CreateDirectoryA(c.appData.c_str(), NULL);
        CreateDirectoryA((c.appData + "\\Quorvane").c_str(), NULL);
        std::string settings = c.appData + "\\Quorvane\\settings.ini";
        WriteText(settings, std::string(kPlainFile) + "[" + letters + "]\r\nNAME=" + letters + " " + letters + "\r\n");
        ASSERT_TRUE(PathExists(settings)) << settings;
        ElsewhereState elsewhere = ElsewhereState::Now();

        EXPECT_TRUE(SameRecord(kPlainFileLoads, LoadShowSave(c.appData, settings)));
        std::vector<std::string> foreign = ForeignLines(settings, true);
        EXPECT_NE(foreign.end(), std::find(foreign.begin(), foreign.end(), letters + "/NAME=" + letters + " " + letters));
        ExpectNothingWrittenElsewhere(elsewhere);
    }
}

} // namespace
