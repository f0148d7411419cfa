/* A library planted beside a copy of the setup under a system library's name: when anything loads it,
   it leaves "<its own path>.loaded" behind, so a test sees that the search reached the setup's folder. */
#define WIN32_LEAN_AND_MEAN
#define STRICT
#include <windows.h>

/* A program that imports the common controls' start-up from this library still starts, so its load shows. */
__declspec(dllexport) void WINAPI InitCommonControls(void)
{
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    WCHAR marker[MAX_PATH + 8];
    DWORD length;
    HANDLE file;

    (void)reserved;
    if (reason != DLL_PROCESS_ATTACH)
        return TRUE;
    length = GetModuleFileNameW(instance, marker, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return TRUE;
    lstrcatW(marker, L".loaded");
    file = CreateFileW(marker, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
    return TRUE;
}
