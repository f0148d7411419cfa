/* The yardstick for start-up: the least a captioned window with a menu bar costs on this platform.
   Same window style and client size as the setup, built with the same flags; no controls,
   no common controls, no shell, no files. */
#define WIN32_LEAN_AND_MEAN
#define STRICT
#include <windows.h>

#define BASELINE_WINDOW_CLASS "QVBenchBaselineClass"
#define BASELINE_WINDOW_TITLE "Baseline"
#define BASELINE_WINDOW_STYLE (WS_CAPTION | WS_SYSMENU)
#define BASELINE_CLIENT_WIDTH 500
#define BASELINE_CLIENT_HEIGHT 280
#define IDM_BASELINE_QUIT 2004

static LRESULT CALLBACK BaselineWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message)
    {
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

/* One popup with one item: enough for the platform to lay out and draw a menu bar. */
static void BuildBaselineMenu(HWND window)
{
    HMENU bar = CreateMenu();
    HMENU popup = CreatePopupMenu();

    AppendMenuA(popup, MF_STRING, IDM_BASELINE_QUIT, "&Quit");
    AppendMenuA(bar, MF_POPUP, (UINT_PTR)popup, "&File");
    SetMenu(window, bar);
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int showCommand)
{
    WNDCLASSA windowClass;
    RECT frame = { 0, 0, BASELINE_CLIENT_WIDTH, BASELINE_CLIENT_HEIGHT };
    HWND window;
    MSG message;

    (void)previous;
    (void)commandLine;
    ZeroMemory(&windowClass, sizeof(windowClass));
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = BaselineWindowProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconA(NULL, (LPCSTR)IDI_APPLICATION);
    windowClass.hCursor = LoadCursorA(NULL, (LPCSTR)IDC_ARROW);
    windowClass.hbrBackground = (HBRUSH)(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = BASELINE_WINDOW_CLASS;
    if (!RegisterClassA(&windowClass))
        return 0;

    AdjustWindowRect(&frame, BASELINE_WINDOW_STYLE, TRUE);
    window = CreateWindowExA(0, BASELINE_WINDOW_CLASS, BASELINE_WINDOW_TITLE, BASELINE_WINDOW_STYLE,
                             CW_USEDEFAULT, CW_USEDEFAULT, frame.right - frame.left, frame.bottom - frame.top,
                             NULL, NULL, instance, NULL);
    if (!window)
        return 0;
    BuildBaselineMenu(window);
    ShowWindow(window, showCommand);
    UpdateWindow(window);

    message.wParam = 0;
    while (GetMessageA(&message, NULL, 0, 0) > 0)
    {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return (int)message.wParam;
}
