// Holds Wine's desktop open while the tests run. Its first copy makes a hidden window, which brings the
// desktop up with this copy's standard handles (never ctest's pipes), starts a second copy that keeps
// such a window until the script ends the Wine session, and returns.
#define WIN32_LEAN_AND_MEAN
#define STRICT
#include <windows.h>

static const char kHoldArgument[] = "hold";

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int)
{
    char path[MAX_PATH], holder[MAX_PATH + 16];
    STARTUPINFOA startup;
    PROCESS_INFORMATION process;
    MSG message;

    if (!CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 0, 0, NULL, NULL, instance, NULL))
        return 1;
    if (lstrcmpA(commandLine, kHoldArgument) == 0)
    {
        while (GetMessageA(&message, NULL, 0, 0) > 0)
            DispatchMessageA(&message);
        return 0;
    }
    GetModuleFileNameA(NULL, path, MAX_PATH);
    wsprintfA(holder, "\"%s\" %s", path, kHoldArgument);
    ZeroMemory(&startup, sizeof(startup));
    startup.cb = sizeof(startup);
    if (!CreateProcessA(path, holder, NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process))
        return 1;
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return 0;
}
