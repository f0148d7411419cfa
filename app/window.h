/* The entry function, the main window and its start-up sequence. */
#ifndef SETUP_WINDOW_H
#define SETUP_WINDOW_H

#define WIN32_LEAN_AND_MEAN
#define STRICT
#include <windows.h>

#include "locations/locations.h"
#include "resources/resource.h"
#include "settings/catalogue.h"

#define SETUP_WINDOW_CLASS "QVSetupWindowClass"
#define SETUP_WINDOW_TITLE "Quorvane Setup"
#define SETUP_WINDOW_STYLE (WS_CAPTION | WS_SYSMENU)
#define CLIENT_WIDTH 500
#define CLIENT_HEIGHT 280

/* What start-up asks of the platform; tests hand in their own answers. */
struct StartupQueries
{
    AppDataFolderFn appDataFolder;
    ModuleFileNameFn moduleFileName;
    EnumDisplaySettingsFn enumDisplaySettings;
};

/* The loader calls start-up makes before any library but kernel32 is bound. Tests hand in their own to
   stand for an older system, where kernel32 lacks the newer loader functions. */
typedef FARPROC (WINAPI *GetProcAddressFn)(HMODULE module, LPCSTR name);
typedef BOOL (WINAPI *SetDllDirectoryFn)(LPCSTR folder);
typedef UINT (WINAPI *GetSystemDirectoryFn)(LPSTR folder, UINT size);
typedef HMODULE (WINAPI *LoadLibraryExFn)(LPCSTR name, HANDLE file, DWORD flags);

struct LoaderCalls
{
    GetProcAddressFn getProcAddress;
    SetDllDirectoryFn setDllDirectory;
    GetSystemDirectoryFn getSystemDirectory;
    LoadLibraryExFn loadLibraryEx;
};

/* Same shape as SetDefaultDllDirectories, which kernel32 has from Windows 8 (or 7 with KB2533623) on. */
typedef BOOL (WINAPI *SetDefaultDllDirectoriesFn)(DWORD directoryFlags);
#define SET_DEFAULT_DLL_DIRECTORIES_NAME "SetDefaultDllDirectories"
#define COMMON_CONTROLS_LIBRARY "comctl32.dll"

/* Everything before the window class: libraries only from the system folder, the common controls with
   their slider, COM for the shell. FALSE after an error box naming what is missing. */
BOOL PrepareStartupWith(const LoaderCalls *loader);
BOOL PrepareStartup(void);

BOOL RegisterSetupClass(HINSTANCE instance);
int SetupWinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int showCommand);
LRESULT CALLBACK SetupWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT OnCreateWith(HWND window, const StartupQueries *queries);
LRESULT OnCreate(HWND window);
void BuildMenuBar(HWND window);

#endif
