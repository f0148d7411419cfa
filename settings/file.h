/* Reading and writing settings.ini through the private-profile functions. */
#ifndef SETUP_FILE_H
#define SETUP_FILE_H

#include "settings/record.h"

/* Defaults for missing keys, values brought into range, resolution matched against g_catalogue. */
SetupSettings LoadSettings(void);

/* Writes 12 keys, or 16 when the catalogue is not empty, all at once: the file on disk is always either the
   old one or the complete new one. Returns 1, or 0 when the file could not be written (it is then left as
   it was) or there is no settings file. */
int SaveSettings(const SetupSettings *settings);

#define SAVE_FAILURE_FORMAT "Unable to save the settings to\n%s"
#define SAVE_FAILURE_NO_FOLDER_TEXT "Unable to save the settings:\nthere is no settings folder."
/* Room for either text with any settings path. */
#define SAVE_FAILURE_TEXT_SIZE 512

/* Why the last save failed, in the words of the error box. */
void FormatSaveFailure(char *text);

#endif
