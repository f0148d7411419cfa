#include "form/form.h"
#include <commctrl.h>

#include "resources/resource.h"
#include "settings/catalogue.h"
#include "settings/record.h"

enum ControlKind
{
    KIND_GROUP,
    KIND_LABEL,
    KIND_SLIDER,
    KIND_FIRST_RADIO,
    KIND_RADIO,
    KIND_LIST,
    KIND_CHECK,
    KIND_DEFAULT_BUTTON
};

struct KindStyle
{
    const char *windowClass;
    DWORD style;
    DWORD exStyle;
};

/* Indexed by ControlKind. */
static const KindStyle kKindStyles[] =
{
    { "BUTTON",         WS_CHILD | WS_VISIBLE | BS_GROUPBOX, 0 },
    { "STATIC",         WS_CHILD | WS_VISIBLE, 0 },
    { TRACKBAR_CLASSA,  WS_CHILD | WS_VISIBLE | WS_TABSTOP | TBS_AUTOTICKS, 0 },
    { "BUTTON",         WS_CHILD | WS_VISIBLE | WS_GROUP | WS_TABSTOP | BS_AUTORADIOBUTTON, 0 },
    { "BUTTON",         WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_AUTORADIOBUTTON, 0 },
    { "COMBOBOX",       WS_CHILD | WS_VISIBLE | WS_VSCROLL | WS_TABSTOP | CBS_HASSTRINGS | CBS_DROPDOWNLIST,
                        WS_EX_CLIENTEDGE },
    { "BUTTON",         WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_AUTOCHECKBOX, 0 },
    { "BUTTON",         WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON, 0 },
};

/* One coordinate: (whole * W-or-H + columns * col + offset) / divisor, truncated toward zero. */
struct Measure
{
    int whole;
    int columns;
    int offset;
    int divisor;
};

#define FIXED(n)        { 0, 0, (n), 1 }
#define WHOLE(n)        { 1, 0, (n), 1 }
#define COLS(k, n)      { 0, (k), (n), 1 }
#define CENTRED(width)  { 1, 0, -(width), 2 }

struct FormRow
{
    ControlKind kind;
    const char *text;
    int id;
    Measure x, y, width, height;
};

/* In creation order, which is also the z-order. */
static const FormRow kFormRows[] =
{
    { KIND_GROUP,       "Audio Volume",    0,                     FIXED(10),   FIXED(10),  WHOLE(-20),  FIXED(112) },
    { KIND_LABEL,       "Master:",         0,                     FIXED(20),   FIXED(30),  FIXED(80),   FIXED(20) },
    { KIND_SLIDER,      "",                IDC_MASTER_VOLUME,     FIXED(100),  FIXED(28),  WHOLE(-120), FIXED(20) },
    { KIND_LABEL,       "Effect:",         0,                     FIXED(20),   FIXED(52),  FIXED(80),   FIXED(20) },
    { KIND_SLIDER,      "",                IDC_EFFECT_VOLUME,     FIXED(100),  FIXED(50),  WHOLE(-120), FIXED(20) },
    { KIND_LABEL,       "Ambient:",        0,                     FIXED(20),   FIXED(74),  FIXED(80),   FIXED(20) },
    { KIND_SLIDER,      "",                IDC_AMBIENT_VOLUME,    FIXED(100),  FIXED(72),  WHOLE(-120), FIXED(20) },
    { KIND_LABEL,       "Music:",          0,                     FIXED(20),   FIXED(96),  FIXED(80),   FIXED(20) },
    { KIND_SLIDER,      "",                IDC_MUSIC_VOLUME,      FIXED(100),  FIXED(94),  WHOLE(-120), FIXED(20) },
    { KIND_GROUP,       "Renderer",        0,                     FIXED(10),   FIXED(130), COLS(1, 0),  FIXED(80) },
    { KIND_FIRST_RADIO, "OpenGL",          IDC_RENDERER_OPENGL,   FIXED(20),   FIXED(150), COLS(1, -20), FIXED(18) },
    { KIND_RADIO,       "Glide",           IDC_RENDERER_GLIDE,    FIXED(20),   FIXED(168), COLS(1, -20), FIXED(18) },
    { KIND_RADIO,       "Direct3D",        IDC_RENDERER_DIRECT3D, FIXED(20),   FIXED(186), COLS(1, -20), FIXED(18) },
    { KIND_GROUP,       "Mode",            0,                     COLS(1, 18), FIXED(130), COLS(1, 0),  FIXED(80) },
    { KIND_FIRST_RADIO, "Windowed",        IDC_MODE_WINDOWED,     COLS(1, 28), FIXED(150), COLS(1, -20), FIXED(18) },
    { KIND_RADIO,       "Fullscreen",      IDC_MODE_FULLSCREEN,   COLS(1, 28), FIXED(168), COLS(1, -20), FIXED(18) },
    { KIND_RADIO,       "Borderless",      IDC_MODE_BORDERLESS,   COLS(1, 28), FIXED(186), COLS(1, -20), FIXED(18) },
    { KIND_GROUP,       "Display",         0,                     COLS(2, 26), FIXED(130), COLS(1, 0),  FIXED(100) },
    { KIND_LABEL,       "Resolution:",     0,                     COLS(2, 36), FIXED(150), COLS(1, -20), FIXED(16) },
    { KIND_LIST,        "",                IDC_RESOLUTION,        COLS(2, 36), FIXED(166), COLS(1, -20), FIXED(100) },
    { KIND_CHECK,       "Software cursor", IDC_SOFTWARE_CURSOR,   COLS(2, 36), FIXED(188), COLS(1, -20), FIXED(16) },
    { KIND_CHECK,       "VSync",           IDC_VSYNC,             COLS(2, 36), FIXED(206), COLS(1, -20), FIXED(16) },
    { KIND_DEFAULT_BUTTON, "Launch Game",  IDC_LAUNCH_GAME,       CENTRED(120), WHOLE(-34), FIXED(120), FIXED(24) },
};

/* Three equal columns with 10-pixel margins and 8-pixel gaps. */
#define COLUMN_SPARE 36
#define COLUMN_COUNT 3

static int Resolve(const Measure *measure, int whole, int column)
{
    return (measure->whole * whole + measure->columns * column + measure->offset) / measure->divisor;
}

static void SetUpControl(HWND control, ControlKind kind)
{
    int i;

    switch (kind)
    {
    case KIND_SLIDER:
        SendMessageA(control, TBM_SETRANGE, TRUE, MAKELPARAM(VOLUME_MIN, VOLUME_MAX));
        SendMessageA(control, TBM_SETTICFREQ, SLIDER_TICK_FREQUENCY, 0);
        break;
    case KIND_LIST:
        for (i = 0; i < g_catalogue.count; i++)
            SendMessageA(control, CB_ADDSTRING, 0, (LPARAM)g_catalogue.labels[i]);
        break;
    default:
        break;
    }
}

void CreateSettingsForm(HWND window)
{
    RECT client;
    int width, height, column;
    unsigned i;

    GetClientRect(window, &client);
    width = client.right - client.left;
    height = client.bottom - client.top;
    column = (width - COLUMN_SPARE) / COLUMN_COUNT;

    for (i = 0; i < sizeof(kFormRows) / sizeof(kFormRows[0]); i++)
    {
        const FormRow *row = &kFormRows[i];
        const KindStyle *kind = &kKindStyles[row->kind];
        HWND control = CreateWindowExA(kind->exStyle, kind->windowClass, row->text, kind->style,
                                       Resolve(&row->x, width, column), Resolve(&row->y, height, column),
                                       Resolve(&row->width, width, column), Resolve(&row->height, height, column),
                                       window, (HMENU)(INT_PTR)row->id, g_instance, NULL);
        SetUpControl(control, row->kind);
    }
}
