#include "app/stack_guard.h"

/* Spreads each value over all the bits before the next is mixed in (the golden ratio, as in Fibonacci
   hashing), so that values which change in the same low bits do not cancel out. */
#define GUARD_MIX 0x9E3779B1u

extern "C"
{
UINT_PTR __stack_chk_guard = STACK_GUARD_UNSEEDED;
}

/* The stack is damaged and the return addresses on it cannot be trusted: nothing more may run, not even
   the libraries' detach routines that an ordinary exit would call. */
extern "C" void __stack_chk_fail(void)
{
    TerminateProcess(GetCurrentProcess(), STATUS_STACK_BUFFER_OVERRUN);
}

static UINT_PTR Mix(UINT_PTR seed, UINT_PTR value)
{
    return (seed ^ value) * GUARD_MIX;
}

/* What every system from Windows XP on offers: the performance counter and the time (different at every
   start), the stack's place (moved by address-space randomisation), the time since the machine started
   and the process and thread numbers. */
NO_STACK_PROTECTOR void SeedStackGuard(void)
{
    LARGE_INTEGER counter;
    FILETIME now;
    UINT_PTR seed = STACK_GUARD_UNSEEDED;

    QueryPerformanceCounter(&counter);
    GetSystemTimeAsFileTime(&now);
    seed = Mix(seed, (UINT_PTR)counter.LowPart);
    seed = Mix(seed, (UINT_PTR)counter.HighPart);
    seed = Mix(seed, (UINT_PTR)now.dwLowDateTime);
    seed = Mix(seed, (UINT_PTR)now.dwHighDateTime);
    seed = Mix(seed, (UINT_PTR)&counter);
    seed = Mix(seed, (UINT_PTR)GetTickCount());
    seed = Mix(seed, (UINT_PTR)GetCurrentProcessId());
    seed = Mix(seed, (UINT_PTR)GetCurrentThreadId());
    /* Zero or the unseeded value would be the one a forger tries first. */
    if (seed == 0 || seed == STACK_GUARD_UNSEEDED)
        seed = ~STACK_GUARD_UNSEEDED;
    __stack_chk_guard = seed;
}
