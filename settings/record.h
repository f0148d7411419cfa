/* The settings the setup edits, held in one record. */
#ifndef SETUP_RECORD_H
#define SETUP_RECORD_H

enum RendererKind
{
    RENDERER_OPENGL = 0,
    RENDERER_GLIDE = 1,
    RENDERER_DIRECT3D = 2
};

enum DisplayModeKind
{
    DISPLAY_WINDOWED = 0,
    DISPLAY_FULLSCREEN = 1,
    DISPLAY_BORDERLESS = 2
};

#define VOLUME_MIN 0
#define VOLUME_MAX 100

struct SetupSettings
{
    int masterVolume;
    int effectVolume;
    int ambientVolume;
    int musicVolume;
    int renderer;           /* RendererKind */
    int displayMode;        /* DisplayModeKind */
    int resolutionIndex;    /* into g_catalogue */
    int softwareCursor;     /* 0 or 1 */
    int vsync;              /* 0 or 1 */
};

extern SetupSettings g_settings;

/* The label Reset prefers when the display offers it. */
#define RESET_RESOLUTION_LABEL "640 x 480"

void ResetSettings(SetupSettings *settings);

/* `value` brought into low..high: what comes from outside the record is held to its valid range. */
int ClampToRange(int value, int low, int high);

#endif
