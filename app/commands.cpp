#include "app/commands.h"
#include <shellapi.h>

#include "form/binding.h"
#include "launch/launch.h"
#include "locations/locations.h"
#include "resources/resource.h"
#include "resources/version.h"
#include "settings/file.h"
#include "settings/record.h"

#define ABOUT_TEXT "Quorvane Setup " SETUP_VERSION_TEXT "\nCopyright (C) 2026 Quorvane. All rights reserved."

static void OnConfigFolderCommand(HWND window)
{
    ShellExecuteA(window, "open", g_locations.configFolder, NULL, NULL, SW_SHOWNORMAL);
}

/* Set while a Save runs and while its error box is up. Saves queued behind it (while it waited for
   another copy's save, say) are then dispatched by the box's own loop: they do nothing, rather than each
   wait as long again and stack a box on the last. A launch saves for itself, so neither command starts
   while the other is under way. */
static BOOL g_saveUnderway;

static void OnSaveCommand(HWND window)
{
    char text[SAVE_FAILURE_TEXT_SIZE];

    if (g_saveUnderway || LaunchUnderway())
        return;
    g_saveUnderway = TRUE;
    ReadSettingsFromForm(window, &g_settings);
    if (!SaveSettings(&g_settings))
    {
        FormatSaveFailure(text);
        MessageBoxA(window, text, ERROR_CAPTION, MB_OK | MB_ICONERROR);
    }
    g_saveUnderway = FALSE;
}

static void OnLaunchCommand(HWND window)
{
    if (!g_saveUnderway)
        OnLaunchGameCommand(window);
}

static void OnResetCommand(HWND window)
{
    ResetSettings(&g_settings);
    ApplySettingsToForm(window, &g_settings);
}

static void OnQuitCommand(HWND window)
{
    PostMessageA(window, WM_CLOSE, 0, 0);
}

static void OnAboutCommand(HWND window)
{
    MessageBoxA(window, ABOUT_TEXT, ABOUT_CAPTION, MB_OK | MB_ICONINFORMATION);
}

struct CommandRow
{
    WORD id;
    BOOL clickOnly;     /* the button's other notifications are not commands */
    void (*handler)(HWND window);
};

static const CommandRow kCommands[] =
{
    { IDC_LAUNCH_GAME,   TRUE,  OnLaunchCommand },
    { IDM_CONFIG_FOLDER, FALSE, OnConfigFolderCommand },
    { IDM_SAVE,          FALSE, OnSaveCommand },
    { IDM_RESET,         FALSE, OnResetCommand },
    { IDM_QUIT,          FALSE, OnQuitCommand },
    { IDM_ABOUT,         FALSE, OnAboutCommand },
};

LRESULT DispatchCommand(HWND window, WPARAM wParam, LPARAM lParam)
{
    WORD id = LOWORD(wParam);
    WORD code = HIWORD(wParam);
    unsigned i;

    for (i = 0; i < sizeof(kCommands) / sizeof(kCommands[0]); i++)
    {
        if (kCommands[i].id != id)
            continue;
        if (kCommands[i].clickOnly && code != BN_CLICKED)
            break;
        kCommands[i].handler(window);
        return 0;
    }
    return DefWindowProcA(window, WM_COMMAND, wParam, lParam);
}
