/* Reading and writing settings.ini through the private-profile functions. */
#ifndef SETUP_FILE_H
#define SETUP_FILE_H

#include "settings/record.h"

/* Defaults for missing keys, values brought into range, resolution matched against g_catalogue. */
SetupSettings LoadSettings(void);

/* Writes 12 keys, or 16 when the catalogue is not empty. Returns 1, or 0 when nothing was written. */
int SaveSettings(const SetupSettings *settings);

#endif
