/* Start-up time and peak working set of window programs, measured from outside.
   Usage: bench_startup.exe RUNS NAME PROGRAM WINDOWCLASS [NAME PROGRAM WINDOWCLASS ...]
   The programs take turns, run after run, so that a slow patch of the machine costs each the same.
   Each run: the clock starts, CreateProcessA, then the top-level window of that class owned by that
   process is polled for until it is visible; the clock stops, the peak working set is read, the window
   is sent WM_CLOSE and the process must end. */
#include "bench_common.h"
#include <psapi.h>
#include <stdio.h>

#define MAX_SUBJECTS 4
#define WARM_UP_ROUNDS 2
#define VISIBLE_TIMEOUT_MS 20000.0
#define EXIT_TIMEOUT_MS 10000
/* Lets the previous program's teardown finish before the next clock starts. */
#define PAUSE_BETWEEN_RUNS_MS 100

struct Subject
{
    const char *name;
    char program[MAX_PATH];
    const char *windowClass;
    double startupMs[BENCH_MAX_RUNS];
    double peakKiB[BENCH_MAX_RUNS];
    int failures;
};

struct RunResult
{
    double startupMs;
    double peakKiB;
};

/* FindWindowExA walks every top-level window of the class; another copy of a program may own one. */
static HWND FindVisibleWindowOf(const char *windowClass, DWORD processId)
{
    HWND window = NULL;

    while ((window = FindWindowExA(NULL, window, windowClass, NULL)) != NULL)
    {
        DWORD owner = 0;

        GetWindowThreadProcessId(window, &owner);
        if (owner == processId && IsWindowVisible(window))
            return window;
    }
    return NULL;
}

static void EndProcess(const PROCESS_INFORMATION *process, HWND window)
{
    if (window)
        PostMessageA(window, WM_CLOSE, 0, 0);
    if (!window || WaitForSingleObject(process->hProcess, EXIT_TIMEOUT_MS) != WAIT_OBJECT_0)
    {
        TerminateProcess(process->hProcess, 1);
        WaitForSingleObject(process->hProcess, EXIT_TIMEOUT_MS);
    }
    CloseHandle(process->hThread);
    CloseHandle(process->hProcess);
}

static BOOL RunOnce(const Subject *subject, RunResult *result)
{
    char commandLine[MAX_PATH + 2];
    STARTUPINFOA startup;
    PROCESS_INFORMATION process;
    PROCESS_MEMORY_COUNTERS counters;
    HWND window = NULL;
    double started, now;

    result->startupMs = 0.0;
    result->peakKiB = 0.0;
    ZeroMemory(&startup, sizeof(startup));
    startup.cb = sizeof(startup);
    wsprintfA(commandLine, "\"%s\"", subject->program);

    started = BenchNowMs();
    if (!CreateProcessA(subject->program, commandLine, NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process))
        return FALSE;
    for (;;)
    {
        window = FindVisibleWindowOf(subject->windowClass, process.dwProcessId);
        now = BenchNowMs();
        if (window || now - started > VISIBLE_TIMEOUT_MS)
            break;
        /* Sleeps a millisecond, and notices a program that ended without a window. */
        if (WaitForSingleObject(process.hProcess, 1) == WAIT_OBJECT_0)
            break;
    }
    result->startupMs = now - started;

    ZeroMemory(&counters, sizeof(counters));
    counters.cb = sizeof(counters);
    if (window && GetProcessMemoryInfo(process.hProcess, &counters, sizeof(counters)))
        result->peakKiB = (double)counters.PeakWorkingSetSize / 1024.0;

    EndProcess(&process, window);
    return window != NULL;
}

static void PrintSummary(Subject *subject, int runs)
{
    double startup, peak;
    int i;

    /* In run order, before the medians sort them. */
    printf("samples_ms %s", subject->name);
    for (i = 0; i < runs; i++)
        printf(" %.1f", subject->startupMs[i]);
    printf("\n");
    startup = BenchMedian(subject->startupMs, runs);
    peak = BenchMedian(subject->peakKiB, runs);

    printf("# %-10s start-up ms: min %.1f median %.1f max %.1f; peak working set KiB: median %.0f; failed runs %d\n",
           subject->name, subject->startupMs[0], startup, subject->startupMs[runs - 1], peak, subject->failures);
    printf("startup_ms %s %.3f\n", subject->name, startup);
    printf("startup_min_ms %s %.3f\n", subject->name, subject->startupMs[0]);
    printf("peak_ws_kib %s %.0f\n", subject->name, peak);
    printf("failures %s %d\n", subject->name, subject->failures);
}

int main(int argc, char **argv)
{
    Subject subjects[MAX_SUBJECTS];
    int count = 0, runs, round, i;

    if (argc < 5 || (argc - 2) % 3 != 0)
    {
        fprintf(stderr, "usage: %s RUNS NAME PROGRAM WINDOWCLASS [NAME PROGRAM WINDOWCLASS ...]\n", argv[0]);
        return 2;
    }
    runs = BenchRunCount(argc, argv, 1, 21);
    for (i = 2; i + 2 < argc && count < MAX_SUBJECTS; i += 3, count++)
    {
        Subject *subject = &subjects[count];

        ZeroMemory(subject, sizeof(*subject));
        subject->name = argv[i];
        if (!GetFullPathNameA(argv[i + 1], MAX_PATH, subject->program, NULL))
            lstrcpynA(subject->program, argv[i + 1], MAX_PATH);
        subject->windowClass = argv[i + 2];
    }

    /* Warm-up rounds load the files into the cache and let the setup create its settings folder. */
    for (round = -WARM_UP_ROUNDS; round < runs; round++)
    {
        for (i = 0; i < count; i++)
        {
            Subject *subject = &subjects[i];
            RunResult result;
            BOOL ok = RunOnce(subject, &result);

            Sleep(PAUSE_BETWEEN_RUNS_MS);
            if (round < 0)
                continue;
            if (!ok)
                subject->failures++;
            subject->startupMs[round] = result.startupMs;
            subject->peakKiB[round] = result.peakKiB;
        }
    }

    printf("runs %d\n", runs);
    for (i = 0; i < count; i++)
        PrintSummary(&subjects[i], runs);
    return 0;
}
