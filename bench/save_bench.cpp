/* SaveSettings against the 16 direct writes it replaces: the same keys written with
   WritePrivateProfileStringA in a loop straight into the settings file, which also holds 5,000 keys of
   other sections. SaveSettings writes them into a copy and puts the copy in place. Before every run the file is put back byte for byte, so each run starts alike.
   Usage: bench_save.exe [RUNS [FOLDER]]   (FOLDER: where the file lives; the temporary folder by default)
   Two cases: every value differs from the file's (each write changes the file), and every value
   already there (each write is a no-op for the platform). */
#include "bench_common.h"
#include <stdio.h>
#include <string.h>

#include "locations/locations.h"
#include "settings/catalogue.h"
#include "settings/file.h"
#include "settings/record.h"

#define FOREIGN_SECTIONS 50
#define FOREIGN_KEYS_PER_SECTION 100
#define FILE_BUFFER_SIZE (1024 * 1024)

struct KeyWrite
{
    const char *section;
    const char *name;
    const char *oldValue;    /* in the file before the save: differs from every new value */
    const char *newValue;    /* what SaveSettings writes for kRecord */
};

/* The record saved, and the writes it turns into, in the order SaveSettings makes them. */
static const SetupSettings kRecord = { 80, 70, 0, 60, RENDERER_DIRECT3D, DISPLAY_WINDOWED, 2, 0, 1 };

static const KeyWrite kWrites[] =
{
    { "Sound",     "MASTER_VOLUME",        "11", "80" },
    { "Sound",     "MASTER_ENABLED",       "0",  "1" },
    { "Sound",     "MUSIC_VOLUME",         "12", "60" },
    { "Sound",     "MUSIC_ENABLED",        "0",  "1" },
    { "Sound",     "AMBIENT_VOLUME",       "13", "0" },
    { "Sound",     "AMBIENT_ENABLED",      "1",  "0" },
    { "Sound",     "EFFECT_VOLUME",        "14", "70" },
    { "Sound",     "EFFECT_ENABLED",       "0",  "1" },
    { "Rendering", "RENDERING_BACKEND",    "1",  "2" },
    { "Rendering", "SOFTWARE_CURSOR",      "1",  "0" },
    { "Display",   "DISPLAY_MODE",         "1",  "0" },
    { "Display",   "DISPLAY_WIDTH",        "640", "1024" },
    { "Display",   "DISPLAY_HEIGHT",       "480", "768" },
    { "Display",   "DISPLAY_BITDEPTH",     "32", "0" },
    { "Display",   "DISPLAY_REFRESH_RATE", "60", "0" },
    { "Display",   "DISPLAY_VSYNC",        "0",  "1" },
};

#define WRITE_COUNT (sizeof(kWrites) / sizeof(kWrites[0]))

struct FakeMode
{
    DWORD width;
    DWORD height;
};

/* Entry 2 is the 1024 x 768 that kRecord selects. */
static const FakeMode kFakeModes[] =
{
    { 640, 480 }, { 800, 600 }, { 1024, 768 }, { 1280, 1024 }, { 1920, 1080 },
};

static BOOL WINAPI FakeEnumDisplaySettings(LPCSTR device, DWORD index, DEVMODEA *mode)
{
    (void)device;
    if (index >= sizeof(kFakeModes) / sizeof(kFakeModes[0]))
        return FALSE;
    mode->dmPelsWidth = kFakeModes[index].width;
    mode->dmPelsHeight = kFakeModes[index].height;
    mode->dmBitsPerPel = 32;
    mode->dmDisplayFrequency = 60;
    mode->dmFields = DM_PELSWIDTH | DM_PELSHEIGHT | DM_BITSPERPEL | DM_DISPLAYFREQUENCY;
    return TRUE;
}

static int AppendText(char *buffer, int length, const char *text)
{
    int size = lstrlenA(text);

    if (length + size >= FILE_BUFFER_SIZE)
        return length;
    CopyMemory(buffer + length, text, size);
    return length + size;
}

static int AppendForeignSections(char *buffer, int length, int first, int count)
{
    char line[64];
    int section, key;

    for (section = first; section < first + count; section++)
    {
        wsprintfA(line, "[Mod%02d]\r\n", section);
        length = AppendText(buffer, length, line);
        for (key = 0; key < FOREIGN_KEYS_PER_SECTION; key++)
        {
            wsprintfA(line, "MOD%02d_KEY_%03d=%d\r\n", section, key, section * 1000 + key);
            length = AppendText(buffer, length, line);
        }
    }
    return length;
}

/* Half the foreign sections, the setup's three with the values given, then the other half. */
static int BuildSettingsText(char *buffer, BOOL newValues)
{
    const char *section = "";
    char line[64];
    int length = 0;
    unsigned i;

    length = AppendForeignSections(buffer, length, 0, FOREIGN_SECTIONS / 2);
    for (i = 0; i < WRITE_COUNT; i++)
    {
        if (lstrcmpA(section, kWrites[i].section) != 0)
        {
            section = kWrites[i].section;
            wsprintfA(line, "[%s]\r\n", section);
            length = AppendText(buffer, length, line);
        }
        wsprintfA(line, "%s=%s\r\n", kWrites[i].name, newValues ? kWrites[i].newValue : kWrites[i].oldValue);
        length = AppendText(buffer, length, line);
    }
    return AppendForeignSections(buffer, length, FOREIGN_SECTIONS / 2, FOREIGN_SECTIONS - FOREIGN_SECTIONS / 2);
}

static BOOL WriteWholeFile(const char *path, const char *data, int length)
{
    HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    DWORD written = 0;
    BOOL ok;

    if (file == INVALID_HANDLE_VALUE)
        return FALSE;
    ok = WriteFile(file, data, (DWORD)length, &written, NULL) && written == (DWORD)length;
    CloseHandle(file);
    return ok;
}

/* The file's bytes, or -1. */
static int ReadWholeFile(const char *path, char *data)
{
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    DWORD got = 0;

    if (file == INVALID_HANDLE_VALUE)
        return -1;
    if (!ReadFile(file, data, FILE_BUFFER_SIZE, &got, NULL))
        got = 0;
    CloseHandle(file);
    return (int)got;
}

static void SaveThroughSetup(void)
{
    SaveSettings(&kRecord);
}

static void SaveDirectly(void)
{
    unsigned i;

    for (i = 0; i < WRITE_COUNT; i++)
        WritePrivateProfileStringA(kWrites[i].section, kWrites[i].name, kWrites[i].newValue,
                                   g_locations.settingsFilePath);
}

typedef void (*SaveFn)(void);

/* Puts the file back, then times one save. */
static double TimeSave(SaveFn save, const char *initial, int length)
{
    double started;

    WriteWholeFile(g_locations.settingsFilePath, initial, length);
    started = BenchNowMs();
    save();
    return BenchNowMs() - started;
}

/* Both ways must leave the same bytes behind, or they are not doing the same work. */
static BOOL SameResult(const char *initial, int length, char *first, char *second)
{
    int firstLength, secondLength;

    TimeSave(SaveThroughSetup, initial, length);
    firstLength = ReadWholeFile(g_locations.settingsFilePath, first);
    TimeSave(SaveDirectly, initial, length);
    secondLength = ReadWholeFile(g_locations.settingsFilePath, second);
    return firstLength > 0 && firstLength == secondLength && memcmp(first, second, firstLength) == 0;
}

static void RunCase(const char *name, BOOL newValuesInFile, int runs, char *initial, char *first, char *second)
{
    static double setupMs[BENCH_MAX_RUNS], directMs[BENCH_MAX_RUNS];
    int length = BuildSettingsText(initial, newValuesInFile);
    BOOL same = SameResult(initial, length, first, second);
    double setupMedian, directMedian;
    int run;

    /* The two take turns, and swap who goes first every run. */
    for (run = 0; run < runs; run++)
    {
        if (run % 2 == 0)
        {
            setupMs[run] = TimeSave(SaveThroughSetup, initial, length);
            directMs[run] = TimeSave(SaveDirectly, initial, length);
        }
        else
        {
            directMs[run] = TimeSave(SaveDirectly, initial, length);
            setupMs[run] = TimeSave(SaveThroughSetup, initial, length);
        }
    }
    setupMedian = BenchMedian(setupMs, runs);
    directMedian = BenchMedian(directMs, runs);

    printf("# save %-9s file %d bytes; SaveSettings ms: min %.3f median %.3f max %.3f; "
           "direct ms: min %.3f median %.3f max %.3f; same bytes written: %s\n",
           name, length, setupMs[0], setupMedian, setupMs[runs - 1],
           directMs[0], directMedian, directMs[runs - 1], same ? "yes" : "NO");
    printf("save_ms_%s setup %.4f\n", name, setupMedian);
    printf("save_ms_%s direct %.4f\n", name, directMedian);
    printf("save_same_%s %d\n", name, same ? 1 : 0);
}

int main(int argc, char **argv)
{
    char folder[MAX_PATH];
    char *initial, *first, *second;
    HANDLE heap = GetProcessHeap();
    int runs = BenchRunCount(argc, argv, 1, 21);

    if (argc > 2)
        lstrcpynA(folder, argv[2], MAX_PATH - 32);
    else
        GetTempPathA(MAX_PATH, folder);
    if (folder[0] && folder[lstrlenA(folder) - 1] != '\\')
        lstrcatA(folder, "\\");
    wsprintfA(folder + lstrlenA(folder), "qvbench-save-%lu", GetCurrentProcessId());
    CreateDirectoryA(folder, NULL);
    lstrcpyA(g_locations.configFolder, folder);
    wsprintfA(g_locations.settingsFilePath, "%s\\settings.ini", folder);

    BuildDisplayModeCatalogueWith(FakeEnumDisplaySettings);
    initial = (char *)HeapAlloc(heap, 0, FILE_BUFFER_SIZE);
    first = (char *)HeapAlloc(heap, 0, FILE_BUFFER_SIZE);
    second = (char *)HeapAlloc(heap, 0, FILE_BUFFER_SIZE);
    if (!initial || !first || !second || g_catalogue.count != 5)
    {
        fprintf(stderr, "bench_save: could not set up\n");
        return 1;
    }

    printf("runs %d\n", runs);
    RunCase("changed", FALSE, runs, initial, first, second);
    RunCase("unchanged", TRUE, runs, initial, first, second);

    DeleteFileA(g_locations.settingsFilePath);
    RemoveDirectoryA(folder);
    return 0;
}
