/* The distinct screen resolutions of the primary display, in first-seen order. */
#ifndef SETUP_CATALOGUE_H
#define SETUP_CATALOGUE_H

#define WIN32_LEAN_AND_MEAN
#define STRICT
#include <windows.h>

/* Two parallel arrays: labels[i] ("640 x 480") names the resolution of modes[i]. */
struct DisplayModeCatalogue
{
    char **labels;
    DEVMODEA *modes;
    int count;
};

/* Built once at start-up, never freed. */
extern DisplayModeCatalogue g_catalogue;

/* Same shape as EnumDisplaySettingsA, so tests can stand in for the display driver. */
typedef BOOL (WINAPI *EnumDisplaySettingsFn)(LPCSTR device, DWORD mode, DEVMODEA *devMode);

void BuildDisplayModeCatalogueWith(EnumDisplaySettingsFn enumerate);
void BuildDisplayModeCatalogue(void);

/* Index of the first entry labelled exactly `label`, or -1. */
int FindResolutionLabel(const char *label);

#endif
