/* How the display-mode catalogue's cost grows with the number of modes the display reports.
   Usage: bench_catalogue.exe [RUNS]
   A synthetic display reports 100, 1,000 or 10,000 modes over 20 resolutions, each resolution at many
   bit depths and refresh rates, grouped by resolution as display drivers list them. A second display
   reports only distinct resolutions, the case where every mode is compared with every kept entry.
   Each sample sums enough builds to take about a millisecond; the time is per reported mode. */
#include "bench_common.h"
#include <stdio.h>

#include "settings/catalogue.h"

#define SIZE_COUNT 3
#define WORK_PER_SAMPLE 20000

struct FakeResolution
{
    DWORD width;
    DWORD height;
};

static const FakeResolution kResolutions[] =
{
    { 640, 480 },   { 720, 480 },   { 720, 576 },   { 800, 600 },   { 1024, 768 },
    { 1152, 864 },  { 1280, 720 },  { 1280, 768 },  { 1280, 800 },  { 1280, 960 },
    { 1280, 1024 }, { 1360, 768 },  { 1366, 768 },  { 1400, 1050 }, { 1440, 900 },
    { 1600, 900 },  { 1600, 1200 }, { 1680, 1050 }, { 1920, 1080 }, { 1920, 1200 },
};

#define RESOLUTION_COUNT (sizeof(kResolutions) / sizeof(kResolutions[0]))

static const DWORD kBitDepths[] = { 8, 16, 24, 32 };

#define BIT_DEPTH_COUNT (sizeof(kBitDepths) / sizeof(kBitDepths[0]))

static const int kSizes[SIZE_COUNT] = { 100, 1000, 10000 };

/* What the synthetic display reports: this many modes, and whether every one is its own resolution. */
static DWORD g_fakeModeCount;
static BOOL g_fakeAllDistinct;

static BOOL WINAPI FakeEnumDisplaySettings(LPCSTR device, DWORD index, DEVMODEA *mode)
{
    DWORD perResolution = (g_fakeModeCount + RESOLUTION_COUNT - 1) / RESOLUTION_COUNT;
    DWORD variant;

    (void)device;
    if (index >= g_fakeModeCount)
        return FALSE;
    if (g_fakeAllDistinct)
    {
        mode->dmPelsWidth = 320 + index;
        mode->dmPelsHeight = 200 + index / 2;
        variant = 0;
    }
    else
    {
        mode->dmPelsWidth = kResolutions[index / perResolution].width;
        mode->dmPelsHeight = kResolutions[index / perResolution].height;
        variant = index % perResolution;
    }
    mode->dmBitsPerPel = kBitDepths[variant % BIT_DEPTH_COUNT];
    mode->dmDisplayFrequency = 50 + variant / BIT_DEPTH_COUNT;
    mode->dmFields = DM_PELSWIDTH | DM_PELSHEIGHT | DM_BITSPERPEL | DM_DISPLAYFREQUENCY;
    return TRUE;
}

/* The setup never frees its catalogue; the benchmark builds it thousands of times. */
static void ForgetCatalogue(void)
{
    HANDLE heap = GetProcessHeap();
    int i;

    for (i = 0; i < g_catalogue.count; i++)
        HeapFree(heap, 0, g_catalogue.labels[i]);
    if (g_catalogue.labels)
        HeapFree(heap, 0, g_catalogue.labels);
    if (g_catalogue.modes)
        HeapFree(heap, 0, g_catalogue.modes);
    g_catalogue.labels = NULL;
    g_catalogue.modes = NULL;
    g_catalogue.count = 0;
}

/* Nanoseconds per reported mode over `builds` builds, freeing left out of the time. */
static double TimeBuilds(int modes, BOOL allDistinct, int builds, int *entries)
{
    double total = 0.0;
    int i;

    g_fakeModeCount = (DWORD)modes;
    g_fakeAllDistinct = allDistinct;
    for (i = 0; i < builds; i++)
    {
        double started = BenchNowMs();

        BuildDisplayModeCatalogueWith(FakeEnumDisplaySettings);
        total += BenchNowMs() - started;
        *entries = g_catalogue.count;
        ForgetCatalogue();
    }
    return total * 1000000.0 / ((double)builds * (double)modes);
}

static void RunCase(const char *name, BOOL allDistinct, int runs)
{
    static double samples[SIZE_COUNT][BENCH_MAX_RUNS];
    int entries[SIZE_COUNT];
    int run, size;

    /* The sizes take turns, as the programs do elsewhere. */
    for (run = 0; run < runs; run++)
    {
        for (size = 0; size < SIZE_COUNT; size++)
        {
            int modes = kSizes[size];
            /* Quadratic work needs fewer builds per sample. */
            int work = allDistinct ? modes * modes / 20 : modes;
            int builds = work >= WORK_PER_SAMPLE ? 1 : WORK_PER_SAMPLE / work;

            samples[size][run] = TimeBuilds(modes, allDistinct, builds, &entries[size]);
        }
    }
    for (size = 0; size < SIZE_COUNT; size++)
    {
        double median = BenchMedian(samples[size], runs);

        printf("# catalogue %-8s %5d modes -> %5d entries: ns/mode min %.1f median %.1f max %.1f\n",
               name, kSizes[size], entries[size], samples[size][0], median, samples[size][runs - 1]);
        printf("catalogue_ns_%s %d %.2f\n", name, kSizes[size], median);
    }
}

int main(int argc, char **argv)
{
    int runs = BenchRunCount(argc, argv, 1, 21);

    ZeroMemory(&g_catalogue, sizeof(g_catalogue));
    printf("runs %d\n", runs);
    RunCase("grouped", FALSE, runs);
    RunCase("distinct", TRUE, runs);
    return 0;
}
