#include "app/stack_guard.h"
#include "app/window.h"

/* What follows the program's own name on the command line: WinMain's command line. */
static LPSTR CommandLineArguments(void)
{
    LPSTR arguments = GetCommandLineA();
    BOOL quoted = FALSE;

    for (; *arguments && (quoted || (*arguments != ' ' && *arguments != '\t')); arguments++)
    {
        if (*arguments == '"')
            quoted = !quoted;
    }
    while (*arguments == ' ' || *arguments == '\t')
        arguments++;
    return arguments;
}

/* The process starts here, not in the C runtime's start-up: the setup uses nothing that needs it, and
   without it the program is a third smaller. So no global may need a constructor, and no thread-local
   data, atexit or C stream may be used: nothing would set them up. The show command is the one the
   process was started with, as the runtime would hand it on. The stack guard is seeded first, here, in a
   function that never returns and so never checks it. */
extern "C" NO_STACK_PROTECTOR void WINAPI SetupEntry(void)
{
    STARTUPINFOA startup;
    int showCommand = SW_SHOWDEFAULT;

    SeedStackGuard();
    GetStartupInfoA(&startup);
    if (startup.dwFlags & STARTF_USESHOWWINDOW)
        showCommand = startup.wShowWindow;
    ExitProcess(SetupWinMain(GetModuleHandleA(NULL), NULL, CommandLineArguments(), showCommand));
}
