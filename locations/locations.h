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

/* Fills `folder` (PATH_BUFFER_SIZE bytes) with the user's application-data folder; FALSE when there is none. */
typedef BOOL (*AppDataFolderFn)(char *folder);
/* Same shape as GetModuleFileNameA. */
typedef DWORD (WINAPI *ModuleFileNameFn)(HMODULE module, LPSTR path, DWORD size);

BOOL QueryAppDataFolder(char *folder);

/* FALSE after the start-up error box, owned by `owner`, has been shown. */
BOOL ResolveLocationsWith(HWND owner, AppDataFolderFn appDataFolder, ModuleFileNameFn moduleFileName);
BOOL ResolveLocations(HWND owner);

void EnsureConfigFolder(void);

#endif
