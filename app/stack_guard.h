/* The stack guard: code compiled with stack protection compares it before each return and calls
   __stack_chk_fail when the copy on the stack was overwritten. The C runtime's start-up would provide and
   seed both; the setup starts without that start-up, so they are its own. */
#ifndef SETUP_STACK_GUARD_H
#define SETUP_STACK_GUARD_H

#define WIN32_LEAN_AND_MEAN
#define STRICT
#include <windows.h>

/* For the entry and the seeding: a function that changes the guard while it runs must not check it. */
#if defined(__GNUC__)
#define NO_STACK_PROTECTOR __attribute__((no_stack_protector))
#else
#define NO_STACK_PROTECTOR
#endif

/* The guard's value until it is seeded (and in programs whose start-up never seeds it). */
#define STACK_GUARD_UNSEEDED ((UINT_PTR)0x2B992DDFu)

extern "C" UINT_PTR __stack_chk_guard;
extern "C" void __stack_chk_fail(void);

/* Gives the guard a value that differs from run to run and machine to machine. Call it first thing at the
   entry, from a function that is itself unprotected, before any protected function is on the stack. */
NO_STACK_PROTECTOR void SeedStackGuard(void);

#endif
