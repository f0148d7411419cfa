#include "launch/launch.h"
#include <shellapi.h>

#include "form/binding.h"
#include "locations/locations.h"
#include "settings/file.h"
#include "settings/record.h"

/* The shell returns values up to 32 as error codes in hInstApp. */
#define SHELL_SUCCESS_THRESHOLD 32

void OnLaunchGameCommand(HWND window)
{
    ReadSettingsFromForm(window, &g_settings);
    SaveSettings(&g_settings);
    LaunchGame(window);
}

void LaunchGame(HWND window)
{
    SHELLEXECUTEINFOA request;

    ZeroMemory(&request, sizeof(request));
    request.cbSize = sizeof(request);
    request.fMask = SEE_MASK_NOCLOSEPROCESS;
    request.hwnd = window;
    request.lpVerb = "open";
    request.lpFile = g_locations.gameExecutablePath;
    request.nShow = SW_SHOWNORMAL;

    /* Hidden first, so the game never starts behind a window that still takes clicks. */
    ShowWindow(window, SW_HIDE);
    /* An empty path would have the shell open the current folder and call that a success. */
    if (request.lpFile[0] != '\0' && ShellExecuteExA(&request) &&
        (INT_PTR)request.hInstApp > SHELL_SUCCESS_THRESHOLD)
    {
        WaitForInputIdle(request.hProcess, LAUNCH_IDLE_TIMEOUT_MS);
        CloseHandle(request.hProcess);
        PostQuitMessage(0);
        return;
    }
    MessageBoxA(window, LAUNCH_ERROR_TEXT, ERROR_CAPTION, MB_OK | MB_ICONERROR);
    ShowWindow(window, SW_SHOW);
}
