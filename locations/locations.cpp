#include "locations/locations.h"
#include <shellapi.h>
#include <shlobj.h>

#define STARTUP_ERROR_TEXT "Unable to start setup!\nPlease verify your installation."

SetupLocations g_locations = { "", "", "", "", 1 };

/* Appends only while the result stays below PATH_BUFFER_SIZE characters; FALSE leaves `path` as it was. */
static BOOL AppendIfFits(char *path, const char *suffix)
{
    if (lstrlenA(path) + lstrlenA(suffix) >= PATH_BUFFER_SIZE)
        return FALSE;
    lstrcatA(path, suffix);
    return TRUE;
}

/* Position 0 is never cut, so a bare "\name" keeps its backslash. */
static void CutAtLastBackslash(WCHAR *path)
{
    int i;

    for (i = lstrlenW(path); i >= 1; i--)
    {
        if (path[i] == L'\\')
        {
            path[i] = L'\0';
            return;
        }
    }
}

BOOL ExactPathInCodePage(UINT codePage, const WCHAR *wide, char *path)
{
    /* UTF-8 writes every letter and refuses both the best-fit flag and the used-default question; what it
       cannot write is a lone surrogate, which WC_ERR_INVALID_CHARS turns into a failure instead of U+FFFD.
       That flag is unknown before Vista, but the UTF-8 ANSI code page exists only from Windows 10 1903
       on, so it is passed for that code page alone and never reaches XP. */
    BOOL utf8 = codePage == CP_UTF8;
    BOOL defaulted = FALSE;

    ZeroMemory(path, PATH_BUFFER_SIZE);
    if (WideCharToMultiByte(codePage, utf8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS, wide, -1, path,
                            PATH_BUFFER_SIZE, NULL, utf8 ? NULL : &defaulted) > 0 && !defaulted)
        return TRUE;
    ZeroMemory(path, PATH_BUFFER_SIZE);
    return FALSE;
}

static BOOL ExactAnsiPath(const WCHAR *wide, char *path)
{
    return ExactPathInCodePage(GetACP(), wide, path);
}

/* A path the ANSI functions reach: as named, else its short form, which the system writes in plain letters.
   FALSE, with `path` empty, when neither can be had (the volume keeps no short names, or the folder is gone). */
static BOOL ToAnsiPath(const WCHAR *wide, char *path)
{
    WCHAR shortForm[PATH_BUFFER_SIZE];
    DWORD length;

    if (ExactAnsiPath(wide, path))
        return TRUE;
    length = GetShortPathNameW(wide, shortForm, PATH_BUFFER_SIZE);
    return length > 0 && length < PATH_BUFFER_SIZE && ExactAnsiPath(shortForm, path);
}

/* The setup's own folder; FALSE (and `folder` empty) when its path is unavailable, cut short, or out of
   reach of the ANSI functions. */
static BOOL GetOwnFolder(char *folder, ModuleFileNameFn moduleFileName)
{
    WCHAR path[PATH_BUFFER_SIZE];
    DWORD length;

    ZeroMemory(folder, PATH_BUFFER_SIZE);
    ZeroMemory(path, sizeof(path));
    length = moduleFileName(NULL, path, PATH_BUFFER_SIZE);
    if (length == 0 || length >= PATH_BUFFER_SIZE)
        return FALSE;
    CutAtLastBackslash(path);
    return ToAnsiPath(path, folder);
}

BOOL QueryAppDataFolder(WCHAR *folder)
{
    LPITEMIDLIST items;
    BOOL converted;

    if (FAILED(SHGetSpecialFolderLocation(NULL, CSIDL_APPDATA, &items)))
        return FALSE;
    converted = SHGetPathFromIDListW(items, folder);
    CoTaskMemFree(items);
    return converted;
}

BOOL ResolveLocationsWith(HWND owner, AppDataFolderFn appDataFolder, ModuleFileNameFn moduleFileName)
{
    SetupLocations *at = &g_locations;
    WCHAR appData[PATH_BUFFER_SIZE];

    at->useProductSubfolder = 1;
    ZeroMemory(appData, sizeof(appData));
    /* A folder the ANSI functions cannot reach counts as none: the settings then go beside the setup. */
    if (!appDataFolder(appData) || !ToAnsiPath(appData, at->baseFolder))
    {
        if (!GetOwnFolder(at->baseFolder, moduleFileName))
        {
            MessageBoxA(owner, STARTUP_ERROR_TEXT, ERROR_CAPTION, MB_OK | MB_ICONERROR);
            return FALSE;
        }
        at->useProductSubfolder = 0;
    }

    ZeroMemory(at->configFolder, PATH_BUFFER_SIZE);
    lstrcpynA(at->configFolder, at->baseFolder, PATH_BUFFER_SIZE);
    if (at->useProductSubfolder && !AppendIfFits(at->configFolder, "\\" PRODUCT_FOLDER_NAME))
        ZeroMemory(at->configFolder, PATH_BUFFER_SIZE);

    /* Without a folder, "\settings.ini" would name a file at the root of whatever drive is current,
       perhaps another program's: then there is no settings file at all. */
    ZeroMemory(at->settingsFilePath, PATH_BUFFER_SIZE);
    lstrcpynA(at->settingsFilePath, at->configFolder, PATH_BUFFER_SIZE);
    if (at->configFolder[0] == '\0' || !AppendIfFits(at->settingsFilePath, "\\" SETTINGS_FILE_NAME))
        ZeroMemory(at->settingsFilePath, PATH_BUFFER_SIZE);

    /* A path the platform cut short stays empty rather than naming some other program. */
    if (GetOwnFolder(at->gameExecutablePath, moduleFileName))
        AppendIfFits(at->gameExecutablePath, "\\" GAME_EXECUTABLE_NAME);
    return TRUE;
}

BOOL ResolveLocations(HWND owner)
{
    return ResolveLocationsWith(owner, QueryAppDataFolder, GetModuleFileNameW);
}

void EnsureConfigFolder(void)
{
    if (lstrcmpA(g_locations.configFolder, "") != 0 &&
        GetFileAttributesA(g_locations.configFolder) == INVALID_FILE_ATTRIBUTES)
        CreateDirectoryA(g_locations.configFolder, NULL);
}
