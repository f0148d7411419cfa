/* Reading and writing settings.ini through the private-profile functions. */
#ifndef SETUP_FILE_H
#define SETUP_FILE_H

#define WIN32_LEAN_AND_MEAN
#define STRICT
#include <windows.h>

#include "settings/record.h"

/* Defaults for missing keys, values brought into range, resolution matched against g_catalogue. */
SetupSettings LoadSettings(void);

/* Writes 12 keys, or 16 when the catalogue is not empty, all at once: the file on disk is always either the
   old one or the complete new one. A settings file that other names lead to (a hard or symbolic link)
   keeps them: its bytes are rewritten in place. Another program's write to the file is never undone unless
   it lands in the instant before the new file replaces the old one. Returns 1, or 0 when the file could
   not be written (it is then left as it was) or there is no settings file. */
int SaveSettings(const SetupSettings *settings);

/* Same shape as GetFileAttributesA: what the save is told about the settings file's own name. */
typedef DWORD (WINAPI *FileAttributesFn)(LPCSTR path);
int SaveSettingsWith(const SetupSettings *settings, FileAttributesFn fileAttributes);

#define SAVE_FAILURE_FORMAT "Unable to save the settings to\n%s"
/* The settings path, then the path of the copy, which something else holds. */
#define SAVE_FAILURE_IN_THE_WAY_FORMAT "Unable to save the settings to\n%s\nbecause this is in the way:\n%s"
#define SAVE_FAILURE_NO_FOLDER_TEXT "Unable to save the settings:\nthere is no settings folder."
/* Room for any of the texts with any settings path. */
#define SAVE_FAILURE_TEXT_SIZE 640

/* Why the last save failed, in the words of the error box. */
void FormatSaveFailure(char *text);

#endif
