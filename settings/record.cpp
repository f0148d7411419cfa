#include "settings/record.h"
#include "settings/catalogue.h"

SetupSettings g_settings;

int ClampToRange(int value, int low, int high)
{
    if (value >= high)
        return high;
    if (value < low)
        return low;
    return value;
}

void ResetSettings(SetupSettings *settings)
{
    int index;

    if (!settings)
        return;
    settings->masterVolume = 50;
    settings->effectVolume = VOLUME_MAX;
    settings->ambientVolume = VOLUME_MAX;
    settings->musicVolume = VOLUME_MAX;
    settings->renderer = RENDERER_OPENGL;
    settings->displayMode = DISPLAY_FULLSCREEN;
    settings->resolutionIndex = 0;
    index = FindResolutionLabel(RESET_RESOLUTION_LABEL);
    if (index >= 0)
        settings->resolutionIndex = index;
    settings->softwareCursor = 1;
    settings->vsync = 0;
}
