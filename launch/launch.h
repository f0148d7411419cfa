/* Starting the game beside the setup. */
#ifndef SETUP_LAUNCH_H
#define SETUP_LAUNCH_H

#define WIN32_LEAN_AND_MEAN
#define STRICT
#include <windows.h>

#define LAUNCH_IDLE_TIMEOUT_MS 10000
#define LAUNCH_ERROR_TEXT "Unable to launch the game!\nPlease verify your installation."
/* Follows the save failure's own text when the settings could not be saved. */
#define LAUNCH_UNSAVED_QUESTION "\n\nStart the game with the settings already on file?"

/* Reads the form, saves, then launches; when the save failed, only if the player agrees. Does nothing
   while an earlier launch is under way or after one succeeded. */
void OnLaunchGameCommand(HWND window);
/* From a click until its launch has failed and the window is back, or for good once one succeeded. */
BOOL LaunchUnderway(void);
/* On success the quit message is posted and TRUE returned; on failure the error is shown and the window
   comes back. */
BOOL LaunchGame(HWND window);

#endif
