/* Where the settings folder, the settings file and the game are. */
#ifndef SETUP_LOCATIONS_H
#define SETUP_LOCATIONS_H

#define WIN32_LEAN_AND_MEAN
#define STRICT
#include <windows.h>

#define PATH_BUFFER_SIZE 260
#define PRODUCT_FOLDER_NAME "Quorvane"
#define GAME_EXECUTABLE_NAME "game.exe"
#define SETTINGS_FILE_NAME "settings.ini"
#define ERROR_CAPTION "Error"

struct SetupLocations
{
    char baseFolder[PATH_BUFFER_SIZE];
    char configFolder[PATH_BUFFER_SIZE];
    char settingsFilePath[PATH_BUFFER_SIZE];
    char gameExecutablePath[PATH_BUFFER_SIZE];
    int useProductSubfolder;    /* 0 once baseFolder fell back to the setup's own folder */
};

extern SetupLocations g_locations;

/* Both are asked in UTF-16, so a folder named outside the ANSI code page comes back whole and can still be
   turned into a path the ANSI functions reach. */
/* Fills `folder` (PATH_BUFFER_SIZE characters) with the user's application-data folder; FALSE when there is none. */
typedef BOOL (*AppDataFolderFn)(WCHAR *folder);
/* Same shape as GetModuleFileNameW. */
typedef DWORD (WINAPI *ModuleFileNameFn)(HMODULE module, LPWSTR path, DWORD size);

BOOL QueryAppDataFolder(WCHAR *folder);

/* `wide` in code page `codePage`, into `path` (PATH_BUFFER_SIZE bytes); FALSE, with `path` empty, when a
   letter has no exact equivalent there: written as "?", or as a look-alike (a Polish L with stroke as a
   plain L), the path would name no folder, or somebody else's. ResolveLocations passes the ANSI code page. */
BOOL ExactPathInCodePage(UINT codePage, const WCHAR *wide, char *path);

/* FALSE after the start-up error box, owned by `owner`, has been shown. */
BOOL ResolveLocationsWith(HWND owner, AppDataFolderFn appDataFolder, ModuleFileNameFn moduleFileName);
BOOL ResolveLocations(HWND owner);

void EnsureConfigFolder(void);

#endif
