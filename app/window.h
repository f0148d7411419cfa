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

BOOL RegisterSetupClass(HINSTANCE instance);
int SetupWinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int showCommand);
LRESULT CALLBACK SetupWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT OnCreateWith(HWND window, const StartupQueries *queries);
LRESULT OnCreate(HWND window);
void BuildMenuBar(HWND window);

#endif
