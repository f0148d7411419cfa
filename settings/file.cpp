#include "settings/file.h"
#include "settings/catalogue.h"
#include "locations/locations.h"

#define NUMBER_BUFFER_SIZE 16
#define LABEL_BUFFER_SIZE 32

/* How a key's value comes from the record when saving, and is brought into range when loading. */
enum KeyRule
{
    RULE_VOLUME,    /* clamped to 0..100 */
    RULE_ENABLED,   /* written only: 1 when the volume it follows is non-zero */
    RULE_KIND,      /* clamped to 0..2 */
    RULE_FLAG,      /* any non-zero value reads as 1 */
    RULE_WIDTH,     /* the catalogue entry's width; read into a local */
    RULE_HEIGHT,    /* the catalogue entry's height; read into a local */
    RULE_ZERO       /* written only, always 0 */
};

struct SettingsKey
{
    const char *section;
    const char *name;
    KeyRule rule;
    int SetupSettings::*field;
    int defaultValue;
};

/* In the order the keys are written. Reads have no side effects, so loading walks the same rows. */
static const SettingsKey kSettingsKeys[] =
{
    { "Sound",     "MASTER_VOLUME",        RULE_VOLUME,  &SetupSettings::masterVolume,   50 },
    { "Sound",     "MASTER_ENABLED",       RULE_ENABLED, &SetupSettings::masterVolume,   0 },
    { "Sound",     "MUSIC_VOLUME",         RULE_VOLUME,  &SetupSettings::musicVolume,    100 },
    { "Sound",     "MUSIC_ENABLED",        RULE_ENABLED, &SetupSettings::musicVolume,    0 },
    { "Sound",     "AMBIENT_VOLUME",       RULE_VOLUME,  &SetupSettings::ambientVolume,  100 },
    { "Sound",     "AMBIENT_ENABLED",      RULE_ENABLED, &SetupSettings::ambientVolume,  0 },
    { "Sound",     "EFFECT_VOLUME",        RULE_VOLUME,  &SetupSettings::effectVolume,   100 },
    { "Sound",     "EFFECT_ENABLED",       RULE_ENABLED, &SetupSettings::effectVolume,   0 },
    { "Rendering", "RENDERING_BACKEND",    RULE_KIND,    &SetupSettings::renderer,       RENDERER_OPENGL },
    { "Rendering", "SOFTWARE_CURSOR",      RULE_FLAG,    &SetupSettings::softwareCursor, 1 },
    { "Display",   "DISPLAY_MODE",         RULE_KIND,    &SetupSettings::displayMode,    DISPLAY_FULLSCREEN },
    { "Display",   "DISPLAY_WIDTH",        RULE_WIDTH,   NULL,                           640 },
    { "Display",   "DISPLAY_HEIGHT",       RULE_HEIGHT,  NULL,                           480 },
    { "Display",   "DISPLAY_BITDEPTH",     RULE_ZERO,    NULL,                           0 },
    { "Display",   "DISPLAY_REFRESH_RATE", RULE_ZERO,    NULL,                           0 },
    { "Display",   "DISPLAY_VSYNC",        RULE_FLAG,    &SetupSettings::vsync,          0 },
};

#define KEY_COUNT (sizeof(kSettingsKeys) / sizeof(kSettingsKeys[0]))

static int Clamp(int value, int low, int high)
{
    if (value >= high)
        return high;
    if (value < low)
        return low;
    return value;
}

/* An empty path must never reach the private-profile functions: they would look it up in the Windows folder. */
static BOOL HasSettingsFile(void)
{
    return g_locations.settingsFilePath[0] != '\0';
}

SetupSettings LoadSettings(void)
{
    char label[LABEL_BUFFER_SIZE];
    int width = 0, height = 0, found;
    unsigned i;

    ZeroMemory(&g_settings, sizeof(g_settings));
    for (i = 0; i < KEY_COUNT; i++)
    {
        const SettingsKey *key = &kSettingsKeys[i];
        int value;

        if (key->rule == RULE_ENABLED || key->rule == RULE_ZERO)
            continue;
        value = key->defaultValue;
        if (HasSettingsFile())
            value = (int)GetPrivateProfileIntA(key->section, key->name, key->defaultValue,
                                               g_locations.settingsFilePath);
        switch (key->rule)
        {
        case RULE_VOLUME: g_settings.*key->field = Clamp(value, VOLUME_MIN, VOLUME_MAX); break;
        case RULE_KIND:   g_settings.*key->field = Clamp(value, 0, 2); break;
        case RULE_FLAG:   g_settings.*key->field = value != 0; break;
        case RULE_WIDTH:  width = value; break;
        case RULE_HEIGHT: height = value; break;
        default: break;
        }
    }

    wsprintfA(label, "%d x %d", width, height);
    g_settings.resolutionIndex = g_catalogue.count > 0 ? g_catalogue.count - 1 : 0;
    found = FindResolutionLabel(label);
    if (found >= 0)
        g_settings.resolutionIndex = found;
    return g_settings;
}

static int KeyValue(const SettingsKey *key, const SetupSettings *settings)
{
    switch (key->rule)
    {
    case RULE_ENABLED: return settings->*key->field != 0;
    case RULE_WIDTH:   return (int)g_catalogue.modes[settings->resolutionIndex].dmPelsWidth;
    case RULE_HEIGHT:  return (int)g_catalogue.modes[settings->resolutionIndex].dmPelsHeight;
    case RULE_ZERO:    return 0;
    default:           return settings->*key->field;
    }
}

int SaveSettings(const SetupSettings *settings)
{
    char text[NUMBER_BUFFER_SIZE];
    BOOL haveResolution;
    unsigned i;

    if (!settings || !HasSettingsFile())
        return 0;
    /* Callers read the form first, so the index is in range; a stray one must still not read past the catalogue. */
    haveResolution = settings->resolutionIndex >= 0 && settings->resolutionIndex < g_catalogue.count;
    for (i = 0; i < KEY_COUNT; i++)
    {
        const SettingsKey *key = &kSettingsKeys[i];
        BOOL needsResolution = key->rule == RULE_WIDTH || key->rule == RULE_HEIGHT || key->rule == RULE_ZERO;

        /* Without a resolution to store, the one in the file is left as it was. */
        if (needsResolution && !haveResolution)
            continue;
        wsprintfA(text, "%d", KeyValue(key, settings));
        WritePrivateProfileStringA(key->section, key->name, text, g_locations.settingsFilePath);
    }
    return 1;
}
