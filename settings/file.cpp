#include "settings/file.h"
#include "settings/catalogue.h"
#include "locations/locations.h"

#define NUMBER_BUFFER_SIZE 16
#define LABEL_BUFFER_SIZE 32

#define SAVE_LOCK_NAME "QuorvaneSetupSave"
#define SAVE_LOCK_TIMEOUT_MS 5000
#define SAVE_TRIES 20
#define SAVE_RETRY_DELAY_MS 25
/* Times a save starts again from a file that another program changed under it. */
#define SAVE_ATTEMPTS 4
#define COPY_BUFFER_SIZE 4096
#define SETTINGS_EXTENSION ".ini"
#define SETTINGS_EXTENSION_LENGTH 4
#define TEMP_EXTENSION ".tmp"
/* More than the cluster of any disk formatted the usual way. */
#define MIN_FREE_BYTES (64u * 1024)

/* How a key's value comes from the record when saving, and is brought into range when loading. */
enum KeyRule
{
    RULE_VOLUME,    /* clamped to 0..100 */
    RULE_ENABLED,   /* written only: 1 when the volume it follows is non-zero */
    RULE_KIND,      /* clamped to 0..2 */
    RULE_FLAG,      /* any non-zero value reads as 1 */
    RULE_WIDTH,     /* the catalogue entry's width; read into a local */
    RULE_HEIGHT,    /* the catalogue entry's height; read into a local */
    RULE_ZERO       /* written only, always 0 */
};

struct SettingsKey
{
    const char *section;
    const char *name;
    KeyRule rule;
    int SetupSettings::*field;
    int defaultValue;
};

/* In the order the keys are written. Reads have no side effects, so loading walks the same rows. */
static const SettingsKey kSettingsKeys[] =
{
    { "Sound",     "MASTER_VOLUME",        RULE_VOLUME,  &SetupSettings::masterVolume,   50 },
    { "Sound",     "MASTER_ENABLED",       RULE_ENABLED, &SetupSettings::masterVolume,   0 },
    { "Sound",     "MUSIC_VOLUME",         RULE_VOLUME,  &SetupSettings::musicVolume,    100 },
    { "Sound",     "MUSIC_ENABLED",        RULE_ENABLED, &SetupSettings::musicVolume,    0 },
    { "Sound",     "AMBIENT_VOLUME",       RULE_VOLUME,  &SetupSettings::ambientVolume,  100 },
    { "Sound",     "AMBIENT_ENABLED",      RULE_ENABLED, &SetupSettings::ambientVolume,  0 },
    { "Sound",     "EFFECT_VOLUME",        RULE_VOLUME,  &SetupSettings::effectVolume,   100 },
    { "Sound",     "EFFECT_ENABLED",       RULE_ENABLED, &SetupSettings::effectVolume,   0 },
    { "Rendering", "RENDERING_BACKEND",    RULE_KIND,    &SetupSettings::renderer,       RENDERER_OPENGL },
    { "Rendering", "SOFTWARE_CURSOR",      RULE_FLAG,    &SetupSettings::softwareCursor, 1 },
    { "Display",   "DISPLAY_MODE",         RULE_KIND,    &SetupSettings::displayMode,    DISPLAY_FULLSCREEN },
    { "Display",   "DISPLAY_WIDTH",        RULE_WIDTH,   NULL,                           640 },
    { "Display",   "DISPLAY_HEIGHT",       RULE_HEIGHT,  NULL,                           480 },
    { "Display",   "DISPLAY_BITDEPTH",     RULE_ZERO,    NULL,                           0 },
    { "Display",   "DISPLAY_REFRESH_RATE", RULE_ZERO,    NULL,                           0 },
    { "Display",   "DISPLAY_VSYNC",        RULE_FLAG,    &SetupSettings::vsync,          0 },
};

#define KEY_COUNT (sizeof(kSettingsKeys) / sizeof(kSettingsKeys[0]))

/* An empty path must never reach the private-profile functions: they would look it up in the Windows folder. */
static BOOL HasSettingsFile(void)
{
    return g_locations.settingsFilePath[0] != '\0';
}

SetupSettings LoadSettings(void)
{
    char label[LABEL_BUFFER_SIZE];
    int width = 0, height = 0, found;
    unsigned i;

    ZeroMemory(&g_settings, sizeof(g_settings));
    for (i = 0; i < KEY_COUNT; i++)
    {
        const SettingsKey *key = &kSettingsKeys[i];
        int value;

        if (key->rule == RULE_ENABLED || key->rule == RULE_ZERO)
            continue;
        value = key->defaultValue;
        if (HasSettingsFile())
            value = (int)GetPrivateProfileIntA(key->section, key->name, key->defaultValue,
                                               g_locations.settingsFilePath);
        switch (key->rule)
        {
        case RULE_VOLUME: g_settings.*key->field = ClampToRange(value, VOLUME_MIN, VOLUME_MAX); break;
        case RULE_KIND:   g_settings.*key->field = ClampToRange(value, 0, 2); break;
        case RULE_FLAG:   g_settings.*key->field = value != 0; break;
        case RULE_WIDTH:  width = value; break;
        case RULE_HEIGHT: height = value; break;
        default: break;
        }
    }

    wsprintfA(label, "%d x %d", width, height);
    g_settings.resolutionIndex = g_catalogue.count > 0 ? g_catalogue.count - 1 : 0;
    found = FindResolutionLabel(label);
    if (found >= 0)
        g_settings.resolutionIndex = found;
    return g_settings;
}

static int KeyValue(const SettingsKey *key, const SetupSettings *settings)
{
    switch (key->rule)
    {
    case RULE_ENABLED: return settings->*key->field != 0;
    case RULE_WIDTH:   return (int)g_catalogue.modes[settings->resolutionIndex].dmPelsWidth;
    case RULE_HEIGHT:  return (int)g_catalogue.modes[settings->resolutionIndex].dmPelsHeight;
    case RULE_ZERO:    return 0;
    default:           return settings->*key->field;
    }
}

/* Writes the keys into the file at `path`; FALSE as soon as the store refuses one. */
static BOOL WriteKeys(const SetupSettings *settings, const char *path)
{
    char text[NUMBER_BUFFER_SIZE];
    BOOL haveResolution;
    unsigned i;

    /* Callers read the form first, so the index is in range; a stray one must still not read past the catalogue. */
    haveResolution = settings->resolutionIndex >= 0 && settings->resolutionIndex < g_catalogue.count;
    for (i = 0; i < KEY_COUNT; i++)
    {
        const SettingsKey *key = &kSettingsKeys[i];
        BOOL needsResolution = key->rule == RULE_WIDTH || key->rule == RULE_HEIGHT || key->rule == RULE_ZERO;

        /* Without a resolution to store, the one in the file is left as it was. */
        if (needsResolution && !haveResolution)
            continue;
        wsprintfA(text, "%d", KeyValue(key, settings));
        if (!WritePrivateProfileStringA(key->section, key->name, text, path))
            return FALSE;
    }
    return TRUE;
}

static void RemoveTemp(const char *temp)
{
    SetFileAttributesA(temp, FILE_ATTRIBUTE_NORMAL);
    DeleteFileA(temp);
}

/* The store does not check its own writes: on a full disk it leaves the file cut short and still reports
   success. A write that ran out of room leaves less free than the cluster it needed, so a disk found that
   full afterwards fails the save, whatever the store said. */
static BOOL RoomLeftOnDisk(void)
{
    ULARGE_INTEGER available;

    return GetDiskFreeSpaceExA(g_locations.configFolder, &available, NULL, NULL) &&
           available.QuadPart >= MIN_FREE_BYTES;
}

/* Another program's brief open of the file (a reader, or its own write) makes a hold or a replacement fail
   for a moment; a program that keeps it open makes the save fail. TRUE, after a short pause, when the
   failure just met is such a conflict and `*tries` leaves room for another; the error is kept otherwise.
   One count serves the whole save, so its pauses add up to SAVE_TRIES at most. */
static BOOL PausedForBriefConflict(int *tries)
{
    DWORD error = GetLastError();

    if (++*tries >= SAVE_TRIES || (error != ERROR_SHARING_VIOLATION && error != ERROR_ACCESS_DENIED))
        return FALSE;
    Sleep(SAVE_RETRY_DELAY_MS);
    SetLastError(error);
    return TRUE;
}

/* Open for reading, sharing only reading: while the copy is made and written, no other program can
   rewrite, rename or delete the file and then have its change silently replaced; its own attempt fails
   instead. A linked file is opened for writing too, since its new content goes into it. */
static HANDLE HoldSettingsFile(const char *path, DWORD access, DWORD share, int *tries)
{
    HANDLE file;

    for (;;)
    {
        file = CreateFileA(path, access, share, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
        if (file != INVALID_HANDLE_VALUE || !PausedForBriefConflict(tries))
            return file;
    }
}

/* Size, last write and identity: what any write, truncation or replacement of the file changes. */
static BOOL SameFile(HANDLE file, const BY_HANDLE_FILE_INFORMATION *before)
{
    BY_HANDLE_FILE_INFORMATION now;

    return GetFileInformationByHandle(file, &now) &&
           now.dwVolumeSerialNumber == before->dwVolumeSerialNumber &&
           now.nFileIndexHigh == before->nFileIndexHigh && now.nFileIndexLow == before->nFileIndexLow &&
           now.nFileSizeHigh == before->nFileSizeHigh && now.nFileSizeLow == before->nFileSizeLow &&
           CompareFileTime(&now.ftLastWriteTime, &before->ftLastWriteTime) == 0;
}

/* How one attempt at a save ended. */
enum SaveOutcome
{
    SAVE_DONE,
    SAVE_FAILED,
    SAVE_FILE_CHANGED   /* another program changed the file after it was copied: start again from it */
};

/* Why the last save failed, for the error box. */
enum SaveFailure
{
    FAILURE_WRITE,
    FAILURE_TEMP_IN_THE_WAY
};

static SaveFailure g_saveFailure;

/* The settings file as the save found it. */
struct HeldFile
{
    HANDLE handle;                      /* INVALID_HANDLE_VALUE when there was no file */
    BY_HANDLE_FILE_INFORMATION info;
    BOOL linked;                        /* other names lead to the same bytes */
};

/* SetFileInformationByHandle's FileRenameInfo class and its record, with room for the longest name. */
#define FILE_RENAME_INFO_CLASS 3
struct RenameRecord
{
    DWORD replaceIfExists;
    HANDLE rootDirectory;
    DWORD fileNameLength;   /* in bytes, without the terminator */
    WCHAR fileName[PATH_BUFFER_SIZE];
};

typedef BOOL (WINAPI *SetFileInformationFn)(HANDLE file, int infoClass, LPVOID info, DWORD size);

/* The copy, opened for its rename before the hold goes: all that is then left between the release and the
   replacement is the one request that renames it, where a rename by name still has to find and open the
   copy, long enough for another program to open, write and close the file unseen. Windows XP renames by
   name only: `copy` stays INVALID_HANDLE_VALUE there. */
struct CopyRename
{
    HANDLE copy;
    SetFileInformationFn setInformation;
    RenameRecord record;
};

static void PrepareRename(CopyRename *rename, const char *temp, const char *path)
{
    rename->copy = INVALID_HANDLE_VALUE;
    rename->setInformation = (SetFileInformationFn)(void (*)(void))GetProcAddress(GetModuleHandleA("kernel32.dll"),
                                                                               "SetFileInformationByHandle");
    ZeroMemory(&rename->record, sizeof(rename->record));
    rename->record.replaceIfExists = TRUE;
    if (!rename->setInformation ||
        !MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, path, -1, rename->record.fileName, PATH_BUFFER_SIZE))
        return;
    rename->record.fileNameLength = (DWORD)lstrlenW(rename->record.fileName) * sizeof(WCHAR);
    rename->copy = CreateFileA(temp, DELETE | SYNCHRONIZE, FILE_SHARE_READ | FILE_SHARE_DELETE, NULL, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, NULL);
}

static void EndRename(CopyRename *rename)
{
    if (rename->copy != INVALID_HANDLE_VALUE)
        CloseHandle(rename->copy);
    rename->copy = INVALID_HANDLE_VALUE;
}

/* The copy replaces the file. A system that takes the rename by handle in no other way than by name
   (refusing the record, say) gets the rename by name; a file that someone has open refuses both. */
static BOOL ReplaceWithCopy(CopyRename *rename, const char *temp, const char *path)
{
    if (rename->copy != INVALID_HANDLE_VALUE)
    {
        if (rename->setInformation(rename->copy, FILE_RENAME_INFO_CLASS, &rename->record, sizeof(rename->record)))
            return TRUE;
        if (GetLastError() == ERROR_SHARING_VIOLATION || GetLastError() == ERROR_ACCESS_DENIED)
            return FALSE;
        EndRename(rename);
    }
    return MoveFileExA(temp, path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
}

/* One rename: whoever reads the file finds the old one or the new one, never a mixture. Windows replaces
   no file that is open, so the hold must go first, and the rename can undo a write it did not see in the
   instant between the release and the rename itself: the look comes last, on the hold, the copy is
   renamed by the handle opened before, and every pause comes before the file is held again. Where there
   was no file, the rename replaces none that has appeared since. */
static SaveOutcome PutInPlace(HeldFile *held, const char *temp, const char *path, int *tries)
{
    CopyRename rename;
    SaveOutcome outcome;

    if (held->handle == INVALID_HANDLE_VALUE)
    {
        if (MoveFileExA(temp, path, MOVEFILE_WRITE_THROUGH))
            return SAVE_DONE;
        if (GetLastError() == ERROR_ALREADY_EXISTS || GetLastError() == ERROR_FILE_EXISTS)
            return SAVE_FILE_CHANGED;
        return SAVE_FAILED;
    }
    PrepareRename(&rename, temp, path);
    for (;;)
    {
        if (!SameFile(held->handle, &held->info))
        {
            outcome = SAVE_FILE_CHANGED;
            break;
        }
        CloseHandle(held->handle);
        held->handle = INVALID_HANDLE_VALUE;
        if (ReplaceWithCopy(&rename, temp, path))
        {
            outcome = SAVE_DONE;
            break;
        }
        outcome = SAVE_FAILED;
        if (!PausedForBriefConflict(tries))
            break;
        held->handle = HoldSettingsFile(path, GENERIC_READ, FILE_SHARE_READ, tries);
        if (held->handle == INVALID_HANDLE_VALUE)
        {
            if (GetLastError() == ERROR_FILE_NOT_FOUND)
                outcome = SAVE_FILE_CHANGED;
            break;
        }
    }
    EndRename(&rename);
    return outcome;
}

/* A rename would put a file of its own in place of the link, and the other names would keep the old
   settings: the copy's bytes go into the linked file instead. Held alone meanwhile, so no reader sees it
   half written; a crash in the middle can leave it so, the complete new settings then being in the copy. */
static SaveOutcome WriteOver(HeldFile *held, const char *temp, const char *path, int *tries)
{
    char buffer[COPY_BUFFER_SIZE];
    HANDLE target, source;
    DWORD got, written;
    BOOL ok;

    /* The hold shares no writing, not even with another handle of this process. */
    CloseHandle(held->handle);
    held->handle = INVALID_HANDLE_VALUE;
    target = HoldSettingsFile(path, GENERIC_READ | GENERIC_WRITE, 0, tries);
    if (target == INVALID_HANDLE_VALUE)
        return GetLastError() == ERROR_FILE_NOT_FOUND ? SAVE_FILE_CHANGED : SAVE_FAILED;
    if (!SameFile(target, &held->info))
    {
        CloseHandle(target);
        return SAVE_FILE_CHANGED;
    }
    source = CreateFileA(temp, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    ok = source != INVALID_HANDLE_VALUE;
    while (ok)
    {
        ok = ReadFile(source, buffer, sizeof(buffer), &got, NULL);
        if (!ok || got == 0)
            break;
        ok = WriteFile(target, buffer, got, &written, NULL) && written == got;
    }
    ok = ok && SetEndOfFile(target) && FlushFileBuffers(target);
    if (source != INVALID_HANDLE_VALUE)
        CloseHandle(source);
    CloseHandle(target);
    if (ok)
        RemoveTemp(temp);
    return ok ? SAVE_DONE : SAVE_FAILED;
}

/* The copy's bytes reach the disk before the rename does: a power cut must not leave a settings file that
   the rename made but whose bytes were never written. */
static BOOL FlushToDisk(const char *path)
{
    HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    BOOL flushed;

    if (file == INVALID_HANDLE_VALUE)
        return FALSE;
    flushed = FlushFileBuffers(file);
    CloseHandle(file);
    return flushed;
}

/* The copy sits beside the settings file, named like it but for the extension: it fits wherever the file
   does, is never read as settings, and a crash leaves at most this one file, which the next save replaces. */
static BOOL MakeTempPath(char *temp)
{
    int stem = lstrlenA(g_locations.settingsFilePath) - SETTINGS_EXTENSION_LENGTH;

    if (stem <= 0 || lstrcmpA(g_locations.settingsFilePath + stem, SETTINGS_EXTENSION) != 0)
        return FALSE;
    lstrcpynA(temp, g_locations.settingsFilePath, stem + 1);
    lstrcatA(temp, TEMP_EXTENSION);
    return TRUE;
}

/* What a crash left under the copy's name goes first: its bytes must never reach the settings. Something
   that cannot go (a folder, a file another program keeps open) blocks every save, so the box names it. */
static BOOL ClearTemp(const char *temp)
{
    /* Nearly always nothing is there, and one look says so: a name that is not found costs a search. */
    if (!DeleteFileA(temp) && (GetLastError() == ERROR_FILE_NOT_FOUND || GetLastError() == ERROR_PATH_NOT_FOUND))
        return TRUE;
    RemoveTemp(temp);
    if (GetFileAttributesA(temp) == INVALID_FILE_ATTRIBUTES)
        return TRUE;
    g_saveFailure = FAILURE_TEMP_IN_THE_WAY;
    return FALSE;
}

/* One attempt: hold the file, copy it, write the keys into the copy, and put the copy in place. On any
   failure the copy goes and the file stays as it was. */
static SaveOutcome SaveOnce(const SetupSettings *settings, const char *temp, FileAttributesFn fileAttributes)
{
    const char *path = g_locations.settingsFilePath;
    HeldFile held;
    SaveOutcome outcome;
    DWORD attributes;
    int tries = 0;
    BOOL written;

    held.handle = HoldSettingsFile(path, GENERIC_READ, FILE_SHARE_READ, &tries);
    held.linked = FALSE;
    if (held.handle == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_NOT_FOUND)
        return SAVE_FAILED;
    if (held.handle != INVALID_HANDLE_VALUE)
    {
        if (!GetFileInformationByHandle(held.handle, &held.info))
        {
            CloseHandle(held.handle);
            return SAVE_FAILED;
        }
        attributes = fileAttributes(path);
        held.linked = held.info.nNumberOfLinks > 1 ||
                      (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0);
    }
    written = ClearTemp(temp);
    written = written && (held.handle == INVALID_HANDLE_VALUE || CopyFileA(path, temp, FALSE)) &&
              WriteKeys(settings, temp);
    /* Makes the store write out what it may still hold of the copy, and drop it. */
    WritePrivateProfileStringA(NULL, NULL, NULL, temp);
    written = written && RoomLeftOnDisk() && FlushToDisk(temp);
    outcome = SAVE_FAILED;
    if (written)
        outcome = held.linked ? WriteOver(&held, temp, path, &tries) : PutInPlace(&held, temp, path, &tries);
    if (held.handle != INVALID_HANDLE_VALUE)
        CloseHandle(held.handle);
    if (outcome != SAVE_DONE && g_saveFailure != FAILURE_TEMP_IN_THE_WAY)
        RemoveTemp(temp);
    return outcome;
}

/* A file that another program changed under the save is copied again, a few times at most: one that
   keeps changing fails the save rather than lose the other program's writes. */
static BOOL SaveThroughCopy(const SetupSettings *settings, const char *temp, FileAttributesFn fileAttributes)
{
    SaveOutcome outcome = SAVE_FILE_CHANGED;
    int attempt;

    for (attempt = 0; attempt < SAVE_ATTEMPTS && outcome == SAVE_FILE_CHANGED; attempt++)
        outcome = SaveOnce(settings, temp, fileAttributes);
    return outcome == SAVE_DONE;
}

int SaveSettingsWith(const SetupSettings *settings, FileAttributesFn fileAttributes)
{
    char temp[PATH_BUFFER_SIZE];
    HANDLE lock;
    DWORD waited;
    BOOL saved = FALSE;

    g_saveFailure = FAILURE_WRITE;
    if (!settings || !HasSettingsFile() || !MakeTempPath(temp))
        return 0;
    /* Copies of the setup take turns, since they share the one temporary file. A copy that was killed
       while saving leaves the lock abandoned, which is as good as free. */
    lock = CreateMutexA(NULL, FALSE, SAVE_LOCK_NAME);
    if (!lock)
        return 0;
    waited = WaitForSingleObject(lock, SAVE_LOCK_TIMEOUT_MS);
    if (waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED)
    {
        saved = SaveThroughCopy(settings, temp, fileAttributes);
        ReleaseMutex(lock);
    }
    CloseHandle(lock);
    return saved;
}

int SaveSettings(const SetupSettings *settings)
{
    return SaveSettingsWith(settings, GetFileAttributesA);
}

void FormatSaveFailure(char *text)
{
    char temp[PATH_BUFFER_SIZE];

    if (g_saveFailure == FAILURE_TEMP_IN_THE_WAY && HasSettingsFile() && MakeTempPath(temp))
        wsprintfA(text, SAVE_FAILURE_IN_THE_WAY_FORMAT, g_locations.settingsFilePath, temp);
    else if (HasSettingsFile())
        wsprintfA(text, SAVE_FAILURE_FORMAT, g_locations.settingsFilePath);
    else
        lstrcpynA(text, SAVE_FAILURE_NO_FOLDER_TEXT, SAVE_FAILURE_TEXT_SIZE);
}
