// Cost of one uniform number and of the common firing-delay samplers.
#include <benchmark/benchmark.h>

#include "random/Delay.h"
#include "random/RandomWrapper.h"

static void BM_RandU01(benchmark::State& state) {
    RandomWrapper random;
    for (auto _ : state) benchmark::DoNotOptimize(random.randu01());
}
BENCHMARK(BM_RandU01);

static void BM_RandInt(benchmark::State& state) {
    RandomWrapper random;
    for (auto _ : state) benchmark::DoNotOptimize(random.randint(0, 9));
}
BENCHMARK(BM_RandInt);

static void BM_Exp(benchmark::State& state) {
    Delay delay;
    for (auto _ : state) benchmark::DoNotOptimize(delay.Exp(1.0));
}
BENCHMARK(BM_Exp);

static void BM_Norm(benchmark::State& state) {
    Delay delay;
    for (auto _ : state) benchmark::DoNotOptimize(delay.Norm(0.0, 1.0));
}
BENCHMARK(BM_Norm);

static void BM_NewStream(benchmark::State& state) {
    for (auto _ : state) {
        RandomWrapper random;
        benchmark::DoNotOptimize(&random);
    }
}
BENCHMARK(BM_NewStream);
