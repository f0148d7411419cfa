/* The form's controls, laid out below the menu bar. */
#ifndef SETUP_FORM_H
#define SETUP_FORM_H

#define WIN32_LEAN_AND_MEAN
#define STRICT
#include <windows.h>

#define SLIDER_TICK_FREQUENCY 10

void CreateSettingsForm(HWND window);

#endif
