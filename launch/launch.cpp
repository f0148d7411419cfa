#include "launch/launch.h"
#include <shellapi.h>

#include "form/binding.h"
#include "locations/locations.h"
#include "settings/file.h"
#include "settings/record.h"

/* The shell returns values up to 32 as error codes in hInstApp. */
#define SHELL_SUCCESS_THRESHOLD 32
#define GAME_NAME_SUFFIX "\\" GAME_EXECUTABLE_NAME
#define GAME_NAME_SUFFIX_LENGTH (sizeof(GAME_NAME_SUFFIX) - 1)

/* Set from a click until its launch has failed and the window is back; a launch that succeeded keeps it,
   the setup being on its way out. Commands queued behind the click, or dispatched while one of the
   launch's boxes is up, then do nothing. */
static BOOL g_launchUnderway;

/* After a failed save the game starts only when the player says so. */
static BOOL PlayerAcceptsUnsaved(HWND window)
{
    char text[SAVE_FAILURE_TEXT_SIZE + sizeof(LAUNCH_UNSAVED_QUESTION)];

    FormatSaveFailure(text);
    lstrcatA(text, LAUNCH_UNSAVED_QUESTION);
    return MessageBoxA(window, text, ERROR_CAPTION, MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2) == IDYES;
}

BOOL LaunchUnderway(void)
{
    return g_launchUnderway;
}

void OnLaunchGameCommand(HWND window)
{
    if (g_launchUnderway)
        return;
    g_launchUnderway = TRUE;
    ReadSettingsFromForm(window, &g_settings);
    g_launchUnderway = (SaveSettings(&g_settings) || PlayerAcceptsUnsaved(window)) && LaunchGame(window);
}

/* Only the game beside the setup is started: an empty path, or the bare folder kept when the game's name
   did not fit, would have the shell open a folder and call that a success. The name is the one appended
   to the setup's folder; a folder that happens to bear it is still a folder. */
static BOOL IsGamePath(const char *path)
{
    int length = lstrlenA(path);
    DWORD attributes;

    if (length <= (int)GAME_NAME_SUFFIX_LENGTH ||
        lstrcmpA(path + length - GAME_NAME_SUFFIX_LENGTH, GAME_NAME_SUFFIX) != 0)
        return FALSE;
    attributes = GetFileAttributesA(path);
    return attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

BOOL LaunchGame(HWND window)
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
    if (IsGamePath(request.lpFile) && ShellExecuteExA(&request) &&
        (INT_PTR)request.hInstApp > SHELL_SUCCESS_THRESHOLD)
    {
        WaitForInputIdle(request.hProcess, LAUNCH_IDLE_TIMEOUT_MS);
        CloseHandle(request.hProcess);
        PostQuitMessage(0);
        return TRUE;
    }
    MessageBoxA(window, LAUNCH_ERROR_TEXT, ERROR_CAPTION, MB_OK | MB_ICONERROR);
    ShowWindow(window, SW_SHOW);
    return FALSE;
}
