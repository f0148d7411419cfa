#!/bin/sh
# Runs one test program under Wine for CTest (the toolchain's emulator).
# Wine hands its standard error, as it got it, to every program it starts, and those to theirs: Wine's
# own services, started again by whichever test first needs them, and any process a test leaves behind.
# CTest waits until nobody holds a test's output any more, so one such process keeps a passed test
# waiting until its time runs out. The program writes into a file instead, which no name leads to, and
# tail passes it on to CTest as it grows, until the program has ended. The program keeps this script's
# process, so CTest still ends exactly it when its time runs out.
out=$(mktemp "${TMPDIR:-/tmp}/wine-test.XXXXXX") || exit 1
exec 3>"$out" 4<"$out"
rm -f "$out"
tail -c +1 -f -s 0.1 --pid=$$ <&4 3>&- 4<&- &
exec wine "$@" >&3 2>&3 3>&- 4<&-
