#include "bench_common.h"
#include <stdlib.h>

double BenchNowMs(void)
{
    static LARGE_INTEGER frequency;
    LARGE_INTEGER now;

    if (frequency.QuadPart == 0)
        QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&now);
    return (double)now.QuadPart * 1000.0 / (double)frequency.QuadPart;
}

/* Insertion sort: a few dozen samples at most. */
double BenchMedian(double *samples, int count)
{
    int i, j;

    if (count <= 0)
        return 0.0;
    for (i = 1; i < count; i++)
    {
        double value = samples[i];

        for (j = i - 1; j >= 0 && samples[j] > value; j--)
            samples[j + 1] = samples[j];
        samples[j + 1] = value;
    }
    if (count % 2)
        return samples[count / 2];
    return (samples[count / 2 - 1] + samples[count / 2]) / 2.0;
}

int BenchRunCount(int argc, char **argv, int index, int fallback)
{
    int runs = fallback;

    if (index < argc)
        runs = atoi(argv[index]);
    if (runs < 1)
        runs = 1;
    if (runs > BENCH_MAX_RUNS)
        runs = BENCH_MAX_RUNS;
    return runs;
}
