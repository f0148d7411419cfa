/* Starting the game beside the setup. */
#ifndef SETUP_LAUNCH_H
#define SETUP_LAUNCH_H

#define WIN32_LEAN_AND_MEAN
#define STRICT
#include <windows.h>

#define LAUNCH_IDLE_TIMEOUT_MS 10000
#define LAUNCH_ERROR_TEXT "Unable to launch the game!\nPlease verify your installation."

/* Reads the form, saves, then launches. */
void OnLaunchGameCommand(HWND window);
/* On success the quit message is posted; on failure the error is shown and the window comes back. */
void LaunchGame(HWND window);

#endif
