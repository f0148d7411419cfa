/* Copying a settings record to the form and back. */
#ifndef SETUP_BINDING_H
#define SETUP_BINDING_H

#define WIN32_LEAN_AND_MEAN
#define STRICT
#include <windows.h>

#include "settings/record.h"

/* Repairs an out-of-range resolutionIndex to 0 before selecting it. */
void ApplySettingsToForm(HWND window, SetupSettings *settings);
void ReadSettingsFromForm(HWND window, SetupSettings *settings);

#endif
