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
static void CutAtLastBackslash(char *path)
{
    int i;

    for (i = lstrlenA(path); i >= 1; i--)
    {
        if (path[i] == '\\')
        {
            path[i] = '\0';
            return;
        }
    }
}

/* The setup's own folder; FALSE (and `folder` empty) when its path is unavailable or cut short. */
static BOOL GetOwnFolder(char *folder, ModuleFileNameFn moduleFileName)
{
    DWORD length;

    ZeroMemory(folder, PATH_BUFFER_SIZE);
    length = moduleFileName(NULL, folder, PATH_BUFFER_SIZE);
    if (length == 0 || length >= PATH_BUFFER_SIZE)
    {
        ZeroMemory(folder, PATH_BUFFER_SIZE);
        return FALSE;
    }
    CutAtLastBackslash(folder);
    return TRUE;
}

BOOL QueryAppDataFolder(char *folder)
{
    LPITEMIDLIST items;
    BOOL converted;

    if (FAILED(SHGetSpecialFolderLocation(NULL, CSIDL_APPDATA, &items)))
        return FALSE;
    converted = SHGetPathFromIDListA(items, folder);
    CoTaskMemFree(items);
    return converted;
}

BOOL ResolveLocationsWith(HWND owner, AppDataFolderFn appDataFolder, ModuleFileNameFn moduleFileName)
{
    SetupLocations *at = &g_locations;

    at->useProductSubfolder = 1;
    ZeroMemory(at->baseFolder, PATH_BUFFER_SIZE);
    if (!appDataFolder(at->baseFolder))
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
    return ResolveLocationsWith(owner, QueryAppDataFolder, GetModuleFileNameA);
}

void EnsureConfigFolder(void)
{
    if (lstrcmpA(g_locations.configFolder, "") != 0 &&
        GetFileAttributesA(g_locations.configFolder) == INVALID_FILE_ATTRIBUTES)
        CreateDirectoryA(g_locations.configFolder, NULL);
}
