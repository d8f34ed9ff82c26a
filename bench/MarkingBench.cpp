// Events per second of a small net whose places hold many tokens, fired
// through the engine: collect the earliest events, resolve the conflict,
// advance the clock, fire. Two places P and Q hold the tokens; T1 and T3
// both take the oldest token of P (so every firing of one takes the other's
// token away and makes it search again) and put a new token into Q; T2 takes
// the oldest token of Q and puts a new one into P. The delays are
// exponential, so the engine sees a new earliest event at every step.
#include <benchmark/benchmark.h>

#include <cmath>
#include <memory>

#include "../tests/support/TestNets.h"

using namespace testnets;

namespace {

struct LoopNet {
    explicit LoopNet(long tokens) {
        Place* p = net.place("P");
        Place* q = net.place("Q");
        TestTransition* t1 = net.transition("T1", traits().firstCombination());
        TestTransition* t2 = net.transition("T2", traits().firstCombination());
        TestTransition* t3 = net.transition("T3", traits().firstCombination());
        net.in(p, t1);
        net.out(t1, q);
        net.in(q, t2);
        net.out(t2, p);
        net.in(p, t3);
        net.out(t3, q);
        for (TestTransition* t : {t1, t2, t3}) {
            t->delayFn = [this](const TokenList&) { return -std::log(random.randu01()); };
        }
        net.putMany(p, static_cast<int>(tokens / 2));
        net.putMany(q, static_cast<int>(tokens - tokens / 2));
        engine.reset(new Engine(&net));
        (*engine)->init();
    }
    ~LoopNet() { engine.reset(); }

    RandomWrapper random;
    TestNet net;
    std::unique_ptr<Engine> engine;
};

}  // namespace

static void BM_EventsWithTokens(benchmark::State& state) {
    LoopNet model(state.range(0));
    for (auto _ : state) {
        if (model.engine->step() == nullptr) state.SkipWithError("dead marking");
    }
    state.SetItemsProcessed(state.iterations());
    state.counters["tokens"] = static_cast<double>(state.range(0));
}
BENCHMARK(BM_EventsWithTokens)->Arg(1000)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMicrosecond);

// Growing one place to the given size, one firing of a source transition
// per token.
static void BM_GrowPlace(benchmark::State& state) {
    const long n = state.range(0);
    for (auto _ : state) {
        state.PauseTiming();
        std::unique_ptr<TestNet> net(new TestNet);
        Place* p = net->place("P");
        TestTransition* source = net->transition("Source", traits().withDelay(1.0));
        net->out(source, p);
        std::unique_ptr<Engine> engine(new Engine(net.get()));
        (*engine)->init();
        state.ResumeTiming();
        for (long i = 0; i < n; ++i) engine->step();
        state.PauseTiming();
        engine.reset();
        net.reset();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_GrowPlace)->Arg(1000000)->Iterations(1)->Unit(benchmark::kMillisecond);
