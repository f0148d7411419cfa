/* What the benchmark programs share: a high-resolution clock and medians. */
#ifndef BENCH_COMMON_H
#define BENCH_COMMON_H

#define WIN32_LEAN_AND_MEAN
#define STRICT
#include <windows.h>

/* Enough for any run count the bench script asks for. */
#define BENCH_MAX_RUNS 201

/* Milliseconds since some fixed point, from the performance counter. */
double BenchNowMs(void);

/* The median of `count` samples; `samples` is left sorted. */
double BenchMedian(double *samples, int count);

/* The run count from argument `index`, or `fallback`, kept within 1 .. BENCH_MAX_RUNS. */
int BenchRunCount(int argc, char **argv, int index, int fallback);

#endif
