/* Built as setup.exe is built (its compile and link options, an entry of its own, no C runtime start-up)
   with the setup's stack guard. Started with "guard" it ends with its seeded guard as its exit code; with
   "smash" it overruns a buffer on its stack and returns over it. */
#include "app/stack_guard.h"

#define SMASH_ARGUMENT "smash"
#define BUFFER_SIZE 16

/* Four times the buffer: past the guard, the saved registers and the return address. Read through a
   pointer the compiler cannot follow, so it cannot see the overrun coming and leave the copy out. */
static const char kLongText[] = "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcde";
static const char *volatile g_longText = kLongText;

__attribute__((noinline)) static int Smash(void)
{
    char buffer[BUFFER_SIZE];

    lstrcpyA(buffer, g_longText);
    return lstrlenA(buffer);
}

/* True when the command line ends with `argument`. */
static BOOL EndsWith(const char *text, const char *argument)
{
    int length = lstrlenA(text), wanted = lstrlenA(argument);

    return length >= wanted && lstrcmpA(text + length - wanted, argument) == 0;
}

extern "C" NO_STACK_PROTECTOR void WINAPI SetupEntry(void)
{
    SeedStackGuard();
    if (EndsWith(GetCommandLineA(), SMASH_ARGUMENT))
        ExitProcess((UINT)Smash());
    ExitProcess((UINT)__stack_chk_guard);
}
