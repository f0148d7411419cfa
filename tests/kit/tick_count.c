/* The C++ runtime of this toolchain brings in winpthreads, which calls GetTickCount64 (Vista and later)
   through its import pointer: imported, no program built with it would start on Windows XP. Defining that
   pointer here, in an object linked before the libraries, binds the call to a function that looks
   GetTickCount64 up at run time and on XP widens GetTickCount instead. */
#define WIN32_LEAN_AND_MEAN
#define STRICT
#include <windows.h>

typedef ULONGLONG (WINAPI *TickCount64Fn)(void);

static ULONGLONG WINAPI TickCount64(void)
{
    static TickCount64Fn real;
    static LONG lookedUp;
    static DWORD last, wraps;
    DWORD now;

    if (!lookedUp)
    {
        real = (TickCount64Fn)(void *)GetProcAddress(GetModuleHandleA("kernel32.dll"), "GetTickCount64");
        InterlockedExchange(&lookedUp, 1);
    }
    if (real)
        return real();
    /* GetTickCount wraps every 49.7 days; counting the wraps seen is enough for timeouts. */
    now = GetTickCount();
    if (now < last)
        wraps++;
    last = now;
    return ((ULONGLONG)wraps << 32) | now;
}

TickCount64Fn tickCount64Import __asm__("__imp__GetTickCount64@0") = TickCount64;
