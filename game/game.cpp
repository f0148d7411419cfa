/* A stand-in game: records how it was started and shows the settings the setup saved. */
#define WIN32_LEAN_AND_MEAN
#define STRICT
#include <windows.h>

#include "locations/locations.h"

#define GAME_CLASS_NAME "QVSampleGame"
#define GAME_TITLE "Quorvane"
#define CLIENT_WIDTH 420
#define CLIENT_HEIGHT 360
#define TEXT_MARGIN 12
#define IDC_SETTINGS_TEXT 100
#define AUTOCLOSE_TIMER_ID 1

#define RECORD_VARIABLE "QV_GAME_RECORD"
#define MODE_VARIABLE "QV_GAME_MODE"
#define HANG_VARIABLE "QV_GAME_HANG_MS"
#define AUTOCLOSE_VARIABLE "QV_GAME_AUTOCLOSE_MS"
#define DEFAULT_HANG_MS 15000
#define ENVIRONMENT_NUMBER_MAX 100000000u   /* longer than a day in milliseconds; larger reads as unset */

#define MISSING_VALUE (-1)
#define NUMBER_BUFFER_SIZE 16
#define LINE_BUFFER_SIZE (PATH_BUFFER_SIZE + 64)
#define TEXT_BUFFER_SIZE 4096

enum GameMode
{
    MODE_NORMAL,    /* show the window until it is closed */
    MODE_EXIT,      /* leave as soon as the record is written */
    MODE_HANG       /* stay busy without a window, so a launcher's wait for input idle runs out */
};

struct ModeName
{
    const char *text;
    GameMode mode;
};

static const ModeName kModeNames[] =
{
    { "exit", MODE_EXIT },
    { "hang", MODE_HANG },
};

/* Rows of kGameKeys, in the same order. */
enum GameKeyId
{
    KEY_MASTER_VOLUME, KEY_MASTER_ENABLED, KEY_MUSIC_VOLUME, KEY_MUSIC_ENABLED,
    KEY_AMBIENT_VOLUME, KEY_AMBIENT_ENABLED, KEY_EFFECT_VOLUME, KEY_EFFECT_ENABLED,
    KEY_RENDERING_BACKEND, KEY_SOFTWARE_CURSOR,
    KEY_DISPLAY_MODE, KEY_DISPLAY_WIDTH, KEY_DISPLAY_HEIGHT, KEY_DISPLAY_BITDEPTH,
    KEY_DISPLAY_REFRESH_RATE, KEY_DISPLAY_VSYNC,
    KEY_COUNT
};

struct GameKey
{
    const char *section;
    const char *name;
};

static const GameKey kGameKeys[KEY_COUNT] =
{
    { "Sound",     "MASTER_VOLUME" },
    { "Sound",     "MASTER_ENABLED" },
    { "Sound",     "MUSIC_VOLUME" },
    { "Sound",     "MUSIC_ENABLED" },
    { "Sound",     "AMBIENT_VOLUME" },
    { "Sound",     "AMBIENT_ENABLED" },
    { "Sound",     "EFFECT_VOLUME" },
    { "Sound",     "EFFECT_ENABLED" },
    { "Rendering", "RENDERING_BACKEND" },
    { "Rendering", "SOFTWARE_CURSOR" },
    { "Display",   "DISPLAY_MODE" },
    { "Display",   "DISPLAY_WIDTH" },
    { "Display",   "DISPLAY_HEIGHT" },
    { "Display",   "DISPLAY_BITDEPTH" },
    { "Display",   "DISPLAY_REFRESH_RATE" },
    { "Display",   "DISPLAY_VSYNC" },
};

/* How one line of the window's text shows its key. */
enum ShowKind
{
    SHOW_NUMBER,
    SHOW_ON_OFF,
    SHOW_RENDERER,
    SHOW_DISPLAY_MODE,
    SHOW_RESOLUTION     /* the width key, with the height beside it */
};

struct ShownLine
{
    const char *label;
    ShowKind kind;
    GameKeyId key;
};

static const ShownLine kShownLines[] =
{
    { "Master volume",   SHOW_NUMBER,       KEY_MASTER_VOLUME },
    { "Music volume",    SHOW_NUMBER,       KEY_MUSIC_VOLUME },
    { "Ambient volume",  SHOW_NUMBER,       KEY_AMBIENT_VOLUME },
    { "Effect volume",   SHOW_NUMBER,       KEY_EFFECT_VOLUME },
    { "Renderer",        SHOW_RENDERER,     KEY_RENDERING_BACKEND },
    { "Software cursor", SHOW_ON_OFF,       KEY_SOFTWARE_CURSOR },
    { "Display mode",    SHOW_DISPLAY_MODE, KEY_DISPLAY_MODE },
    { "Resolution",      SHOW_RESOLUTION,   KEY_DISPLAY_WIDTH },
    { "Vertical sync",   SHOW_ON_OFF,       KEY_DISPLAY_VSYNC },
};

static const char *const kRendererNames[] = { "OpenGL", "Glide", "Direct3D" };
static const char *const kDisplayModeNames[] = { "Windowed", "Fullscreen", "Borderless" };

#define COUNT_OF(array) (sizeof(array) / sizeof((array)[0]))

/* The values exactly as stored, unclamped; MISSING_VALUE for a key the file lacks. */
static int g_values[KEY_COUNT];
/* The working directory the game was started in. */
static char g_currentDirectory[PATH_BUFFER_SIZE];

/* FALSE when the variable is unset or too long for `buffer`. */
static BOOL ReadEnvironment(const char *name, char *buffer, DWORD size)
{
    DWORD length = GetEnvironmentVariableA(name, buffer, size);

    if (length == 0 || length >= size)
    {
        buffer[0] = '\0';
        return FALSE;
    }
    return TRUE;
}

/* A non-negative decimal number from the environment, or `fallback` when unset or not a number. */
static DWORD ReadEnvironmentNumber(const char *name, DWORD fallback)
{
    char text[NUMBER_BUFFER_SIZE];
    DWORD value = 0;
    int i;

    if (!ReadEnvironment(name, text, sizeof(text)))
        return fallback;
    for (i = 0; text[i] != '\0'; i++)
    {
        if (text[i] < '0' || text[i] > '9' || value >= ENVIRONMENT_NUMBER_MAX)
            return fallback;
        value = value * 10 + (DWORD)(text[i] - '0');
    }
    return value;
}

static GameMode ReadGameMode(void)
{
    char text[NUMBER_BUFFER_SIZE];
    unsigned i;

    if (!ReadEnvironment(MODE_VARIABLE, text, sizeof(text)))
        return MODE_NORMAL;
    for (i = 0; i < COUNT_OF(kModeNames); i++)
    {
        if (lstrcmpA(text, kModeNames[i].text) == 0)
            return kModeNames[i].mode;
    }
    return MODE_NORMAL;
}

static void ReadSettingsFile(void)
{
    unsigned i;

    for (i = 0; i < KEY_COUNT; i++)
    {
        g_values[i] = MISSING_VALUE;
        /* An empty path would make the profile functions look in the Windows folder. */
        if (g_locations.settingsFilePath[0] != '\0')
            g_values[i] = (int)GetPrivateProfileIntA(kGameKeys[i].section, kGameKeys[i].name, MISSING_VALUE,
                                                     g_locations.settingsFilePath);
    }
}

static void WriteText(HANDLE file, const char *text)
{
    DWORD written;

    WriteFile(file, text, (DWORD)lstrlenA(text), &written, NULL);
}

/* Written in pieces: the command line may be longer than wsprintfA can format. */
static void WriteRecordLine(HANDLE file, const char *name, const char *value)
{
    WriteText(file, name);
    WriteText(file, "=");
    WriteText(file, value);
    WriteText(file, "\r\n");
}

/* Lets a test see where and how the setup started the game, and what it found in the file. */
static void WriteStartRecord(void)
{
    char path[PATH_BUFFER_SIZE];
    char number[NUMBER_BUFFER_SIZE];
    HANDLE file;
    unsigned i;

    if (!ReadEnvironment(RECORD_VARIABLE, path, sizeof(path)))
        return;
    file = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return;
    WriteRecordLine(file, "cwd", g_currentDirectory);
    WriteRecordLine(file, "cmdline", GetCommandLineA());
    WriteRecordLine(file, "settings", g_locations.settingsFilePath);
    for (i = 0; i < KEY_COUNT; i++)
    {
        wsprintfA(number, "%d", g_values[i]);
        WriteRecordLine(file, kGameKeys[i].name, number);
    }
    CloseHandle(file);
}

/* The name for `value`, or the bare number when the table has none. */
static void FormatName(char *out, int value, const char *const *names, unsigned count)
{
    if (value >= 0 && (unsigned)value < count)
        lstrcpyA(out, names[value]);
    else
        wsprintfA(out, "unknown (%d)", value);
}

static void FormatShownValue(char *out, const ShownLine *line)
{
    int value = g_values[line->key];

    if (value == MISSING_VALUE)
    {
        lstrcpyA(out, "(not set)");
        return;
    }
    switch (line->kind)
    {
    case SHOW_NUMBER:       wsprintfA(out, "%d", value); break;
    case SHOW_ON_OFF:       lstrcpyA(out, value != 0 ? "on" : "off"); break;
    case SHOW_RENDERER:     FormatName(out, value, kRendererNames, COUNT_OF(kRendererNames)); break;
    case SHOW_DISPLAY_MODE: FormatName(out, value, kDisplayModeNames, COUNT_OF(kDisplayModeNames)); break;
    case SHOW_RESOLUTION:   wsprintfA(out, "%d x %d", value, g_values[KEY_DISPLAY_HEIGHT]); break;
    }
}

static void BuildSettingsText(char *text)
{
    char value[LINE_BUFFER_SIZE];
    char line[LINE_BUFFER_SIZE];
    unsigned i;

    lstrcpyA(text, "Quorvane is running with these settings:\r\n\r\n");
    for (i = 0; i < COUNT_OF(kShownLines); i++)
    {
        FormatShownValue(value, &kShownLines[i]);
        wsprintfA(line, "%s: %s\r\n", kShownLines[i].label, value);
        lstrcatA(text, line);
    }
    wsprintfA(line, "\r\nCurrent directory:\r\n%s\r\n", g_currentDirectory);
    lstrcatA(text, line);
    wsprintfA(line, "\r\nSettings file:\r\n%s\r\n", g_locations.settingsFilePath);
    lstrcatA(text, line);
}

static LRESULT OnCreate(HWND window)
{
    static char text[TEXT_BUFFER_SIZE];
    HWND label;
    DWORD autoCloseMs;

    BuildSettingsText(text);
    label = CreateWindowExA(0, "STATIC", text, WS_CHILD | WS_VISIBLE | SS_LEFT | SS_NOPREFIX,
                            TEXT_MARGIN, TEXT_MARGIN, CLIENT_WIDTH - 2 * TEXT_MARGIN,
                            CLIENT_HEIGHT - 2 * TEXT_MARGIN, window, (HMENU)IDC_SETTINGS_TEXT,
                            (HINSTANCE)GetWindowLongPtrA(window, GWLP_HINSTANCE), NULL);
    SendMessageA(label, WM_SETFONT, (WPARAM)GetStockObject(DEFAULT_GUI_FONT), FALSE);

    autoCloseMs = ReadEnvironmentNumber(AUTOCLOSE_VARIABLE, 0);
    if (autoCloseMs > 0)
        SetTimer(window, AUTOCLOSE_TIMER_ID, autoCloseMs, NULL);
    return 0;
}

static LRESULT OnTimer(HWND window, UINT_PTR timerId)
{
    if (timerId == AUTOCLOSE_TIMER_ID)
    {
        KillTimer(window, AUTOCLOSE_TIMER_ID);
        PostMessageA(window, WM_CLOSE, 0, 0);
    }
    return 0;
}

static LRESULT OnDestroy(void)
{
    PostQuitMessage(0);
    return 0;
}

static LRESULT CALLBACK GameWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message)
    {
    case WM_CREATE:  return OnCreate(window);
    case WM_TIMER:   return OnTimer(window, (UINT_PTR)wParam);
    case WM_DESTROY: return OnDestroy();
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

static int RunWindow(HINSTANCE instance, int showCommand)
{
    const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
    WNDCLASSA windowClass;
    RECT frame = { 0, 0, CLIENT_WIDTH, CLIENT_HEIGHT };
    HWND window;
    MSG message;

    ZeroMemory(&windowClass, sizeof(windowClass));
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = GameWindowProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconA(NULL, (LPCSTR)IDI_APPLICATION);
    windowClass.hCursor = LoadCursorA(NULL, (LPCSTR)IDC_ARROW);
    windowClass.hbrBackground = (HBRUSH)(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = GAME_CLASS_NAME;
    if (!RegisterClassA(&windowClass))
        return 1;

    AdjustWindowRect(&frame, style, FALSE);
    window = CreateWindowExA(0, GAME_CLASS_NAME, GAME_TITLE, style, CW_USEDEFAULT, CW_USEDEFAULT,
                             frame.right - frame.left, frame.bottom - frame.top, NULL, NULL, instance, NULL);
    if (!window)
        return 1;
    ShowWindow(window, showCommand);
    UpdateWindow(window);

    while (GetMessageA(&message, NULL, 0, 0) > 0)
    {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return (int)message.wParam;
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showCommand)
{
    DWORD length;

    if (!ResolveLocations(NULL))
        return 1;
    length = GetCurrentDirectoryA(sizeof(g_currentDirectory), g_currentDirectory);
    if (length == 0 || length >= sizeof(g_currentDirectory))
        g_currentDirectory[0] = '\0';
    ReadSettingsFile();
    WriteStartRecord();

    switch (ReadGameMode())
    {
    case MODE_EXIT:
        return 0;
    case MODE_HANG:
        /* No window and no message pumping, so the process never turns input-idle while it sleeps. */
        Sleep(ReadEnvironmentNumber(HANG_VARIABLE, DEFAULT_HANG_MS));
        return 0;
    case MODE_NORMAL:
        break;
    }
    return RunWindow(instance, showCommand);
}
