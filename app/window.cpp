#include "app/window.h"
#include <commctrl.h>
#include <objbase.h>

#include "app/commands.h"
#include "form/binding.h"
#include "form/form.h"
#include "resources/resource.h"
#include "settings/file.h"
#include "settings/record.h"

HINSTANCE g_instance;

static const StartupQueries kPlatformQueries =
{
    QueryAppDataFolder,
    GetModuleFileNameW,
    EnumDisplaySettingsA,
};

enum MenuRowKind
{
    MENU_POPUP,
    MENU_ITEM,
    MENU_SEPARATOR
};

struct MenuRow
{
    MenuRowKind kind;
    const char *text;
    UINT id;
};

/* Each popup row opens a menu that the rows after it fill. */
static const MenuRow kMenuRows[] =
{
    { MENU_POPUP,     "&File",          0 },
    { MENU_ITEM,      "&Save",          IDM_SAVE },
    { MENU_ITEM,      "&Reset",         IDM_RESET },
    { MENU_SEPARATOR, NULL,             0 },
    { MENU_ITEM,      "&Quit",          IDM_QUIT },
    { MENU_POPUP,     "&View",          0 },
    { MENU_ITEM,      "Config &Folder", IDM_CONFIG_FOLDER },
    { MENU_POPUP,     "&Help",          0 },
    { MENU_ITEM,      "&About",         IDM_ABOUT },
};

void BuildMenuBar(HWND window)
{
    HMENU bar = CreateMenu();
    HMENU popup = NULL;
    unsigned i;

    for (i = 0; i < sizeof(kMenuRows) / sizeof(kMenuRows[0]); i++)
    {
        const MenuRow *row = &kMenuRows[i];

        switch (row->kind)
        {
        case MENU_POPUP:
            popup = CreatePopupMenu();
            AppendMenuA(bar, MF_POPUP, (UINT_PTR)popup, row->text);
            break;
        case MENU_ITEM:
            AppendMenuA(popup, MF_STRING, row->id, row->text);
            break;
        case MENU_SEPARATOR:
            AppendMenuA(popup, MF_SEPARATOR, 0, NULL);
            break;
        }
    }
    SetMenu(window, bar);
}

LRESULT OnCreateWith(HWND window, const StartupQueries *queries)
{
    if (!ResolveLocationsWith(window, queries->appDataFolder, queries->moduleFileName))
        return -1;
    BuildDisplayModeCatalogueWith(queries->enumDisplaySettings);
    EnsureConfigFolder();
    /* The menu bar first: the form is laid out in the client area left below it. */
    BuildMenuBar(window);
    CreateSettingsForm(window);
    LoadSettings();
    ApplySettingsToForm(window, &g_settings);
    return 0;
}

LRESULT OnCreate(HWND window)
{
    return OnCreateWith(window, &kPlatformQueries);
}

static LRESULT OnDestroy(void)
{
    PostQuitMessage(0);
    return 0;
}

static LRESULT OnClose(HWND window)
{
    DestroyWindow(window);
    return 0;
}

LRESULT CALLBACK SetupWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message)
    {
    case WM_CREATE:  return OnCreate(window);
    case WM_DESTROY: return OnDestroy();
    case WM_CLOSE:   return OnClose(window);
    case WM_COMMAND: return DispatchCommand(window, wParam, lParam);
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

BOOL RegisterSetupClass(HINSTANCE instance)
{
    WNDCLASSA windowClass;

    ZeroMemory(&windowClass, sizeof(windowClass));
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = SetupWindowProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(IDI_APP));
    windowClass.hCursor = LoadCursorA(NULL, (LPCSTR)IDC_ARROW);
    windowClass.hbrBackground = (HBRUSH)(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = SETUP_WINDOW_CLASS;
    return RegisterClassA(&windowClass) != 0;
}

static const LoaderCalls kPlatformLoader =
{
    GetProcAddress,
    SetDllDirectoryA,
    GetSystemDirectoryA,
    LoadLibraryExA,
};

#define MISSING_COMMON_CONTROLS_TEXT \
    "Unable to start setup!\nThe system's common controls (" COMMON_CONTROLS_LIBRARY ") could not be loaded."
#define MISSING_SLIDER_TEXT \
    "Unable to start setup!\nThe system's slider control (" TRACKBAR_CLASSA ") is not available."

/* Loaded here from the system folder, with what they import, before anything else loads: first the
   libraries the setup binds at its first call into them (it imports only kernel32 at start-up), then two
   that Wine's own libraries take in by name as they draw, looking beside the program whatever the search
   allows. Each is then found in place. */
static const char *const kPinnedLibraries[] =
{
    "user32.dll", "shell32.dll", "ole32.dll", "uxtheme.dll", "msimg32.dll"
};

/* Loads the system library `name`. With the newer loader (`searchFlags`) the system folder alone is
   searched. Without it (Windows XP, Vista, 7 without KB2533623, which refuse the search flags) the library
   is named by its full path in the system folder, and its own imports are then looked for beside it. */
static HMODULE LoadSystemLibrary(const LoaderCalls *loader, BOOL searchFlags, const char *name)
{
    char path[MAX_PATH];
    UINT length;

    if (searchFlags)
        return loader->loadLibraryEx(name, NULL, LOAD_LIBRARY_SEARCH_SYSTEM32);
    length = loader->getSystemDirectory(path, MAX_PATH);
    if (length == 0 || length + 1 + lstrlenA(name) >= MAX_PATH)
        return NULL;
    lstrcatA(path, "\\");
    lstrcatA(path, name);
    return loader->loadLibraryEx(path, NULL, LOAD_WITH_ALTERED_SEARCH_PATH);
}

/* Libraries come from the system folder only: one planted beside the setup, or in the current folder,
   under a system library's name would otherwise run inside it. Nothing may call into user32, shell32 or
   ole32 before this. SetDefaultDllDirectories is looked up, not imported: where kernel32 lacks it, a
   program importing it is refused before it starts. TRUE when the search flags may be used. */
static BOOL RestrictLibrarySearch(const LoaderCalls *loader)
{
    SetDefaultDllDirectoriesFn setDefaultDllDirectories = (SetDefaultDllDirectoriesFn)(void (*)(void))
        loader->getProcAddress(GetModuleHandleA("kernel32.dll"), SET_DEFAULT_DLL_DIRECTORIES_NAME);
    BOOL searchFlags = setDefaultDllDirectories != NULL;
    unsigned i;

    if (searchFlags)
        setDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
    /* Takes the current folder out of the search. */
    loader->setDllDirectory("");
    for (i = 0; i < sizeof(kPinnedLibraries) / sizeof(kPinnedLibraries[0]); i++)
        LoadSystemLibrary(loader, searchFlags, kPinnedLibraries[i]);
    return searchFlags;
}

typedef void (WINAPI *InitCommonControlsFn)(void);

/* The common controls are not a known system library: imported, they would be looked for beside the
   setup first. Without them, or without their slider, the form would come up with gaps for the volumes
   and Save would pass the stored volumes through unseen: better to say what is missing and stop. */
static BOOL InitCommonControlsFromSystem(const LoaderCalls *loader, BOOL searchFlags)
{
    HMODULE library = LoadSystemLibrary(loader, searchFlags, COMMON_CONTROLS_LIBRARY);
    InitCommonControlsFn initCommonControls = NULL;
    WNDCLASSA slider;

    if (library)
        initCommonControls = (InitCommonControlsFn)loader->getProcAddress(library, "InitCommonControls");
    if (!initCommonControls)
    {
        MessageBoxA(NULL, MISSING_COMMON_CONTROLS_TEXT, ERROR_CAPTION, MB_OK | MB_ICONERROR);
        return FALSE;
    }
    initCommonControls();
    if (!GetClassInfoA(g_instance, TRACKBAR_CLASSA, &slider))
    {
        MessageBoxA(NULL, MISSING_SLIDER_TEXT, ERROR_CAPTION, MB_OK | MB_ICONERROR);
        return FALSE;
    }
    return TRUE;
}

BOOL PrepareStartupWith(const LoaderCalls *loader)
{
    BOOL searchFlags = RestrictLibrarySearch(loader);

    if (!InitCommonControlsFromSystem(loader, searchFlags))
        return FALSE;
    /* The shell asks that a thread which has it open anything first set up COM this way. */
    CoInitializeEx(NULL, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    return TRUE;
}

BOOL PrepareStartup(void)
{
    return PrepareStartupWith(&kPlatformLoader);
}

static void CentreOnScreen(HWND window)
{
    RECT frame;
    int width, height;

    GetWindowRect(window, &frame);
    width = frame.right - frame.left;
    height = frame.bottom - frame.top;
    SetWindowPos(window, NULL, (GetSystemMetrics(SM_CXSCREEN) - width) / 2,
                 (GetSystemMetrics(SM_CYSCREEN) - height) / 2, 0, 0, SWP_NOZORDER | SWP_NOSIZE);
}

int SetupWinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int showCommand)
{
    RECT frame = { 0, 0, CLIENT_WIDTH, CLIENT_HEIGHT };
    HWND window;
    MSG message;

    (void)previous;
    (void)commandLine;
    g_instance = instance;
    if (!PrepareStartup())
        return 0;
    if (!RegisterSetupClass(instance))
        return 0;

    AdjustWindowRect(&frame, SETUP_WINDOW_STYLE, TRUE);
    window = CreateWindowExA(0, SETUP_WINDOW_CLASS, SETUP_WINDOW_TITLE, SETUP_WINDOW_STYLE,
                             CW_USEDEFAULT, CW_USEDEFAULT, frame.right - frame.left, frame.bottom - frame.top,
                             NULL, NULL, instance, NULL);
    if (!window)
        return 0;
    CentreOnScreen(window);
    ShowWindow(window, showCommand);
    UpdateWindow(window);

    /* GetMessageA gives -1 on failure; that ends the loop like WM_QUIT. */
    message.wParam = 0;
    while (GetMessageA(&message, NULL, 0, 0) > 0)
    {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return (int)message.wParam;
}
