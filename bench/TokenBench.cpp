// Cost of the operations every firing repeats many times: copying a token
// handle, creating a token, creating and deleting a binding.
#include <benchmark/benchmark.h>

#include "../tests/support/TestNets.h"

using namespace testnets;

static void BM_HandleCopy(benchmark::State& state) {
    Ptr<Token> token(new Token_int(1));
    for (auto _ : state) {
        Ptr<Token> copy(token);
        benchmark::DoNotOptimize(copy.GetRawPtr());
    }
}
BENCHMARK(BM_HandleCopy);

static void BM_HandleAssign(benchmark::State& state) {
    Ptr<Token> a(new Token_int(1));
    Ptr<Token> b(new Token_int(2));
    Ptr<Token> h;
    for (auto _ : state) {
        h = a;
        h = b;
        benchmark::DoNotOptimize(h.GetRawPtr());
    }
}
BENCHMARK(BM_HandleAssign);

static void BM_HandleCast(benchmark::State& state) {
    Ptr<Token> token(new Token_int(1));
    for (auto _ : state) {
        Ptr<Token_int> typed = Dynamic_Cast<Token_int>(token);
        benchmark::DoNotOptimize(typed.GetRawPtr());
    }
}
BENCHMARK(BM_HandleCast);

// A new token in its handle, released again.
static void BM_TokenCreation(benchmark::State& state) {
    for (auto _ : state) {
        Ptr<Token> token(new Token_int(1));
        benchmark::DoNotOptimize(token.GetRawPtr());
    }
}
BENCHMARK(BM_TokenCreation);

// A binding of two tokens, as a search makes it, and its deletion.
static void BM_BindingCreation(benchmark::State& state) {
    TestNet net;
    TestTransition* t = net.transition("T");
    Ptr<Token> a(new Token_int(1));
    Ptr<Token> b(new Token_int(2));
    const DateTime now(0.0);
    for (auto _ : state) {
        TokenList* tokens = new TokenList;
        tokens->push_back(a);
        tokens->push_back(b);
        Binding* binding = new Binding(tokens, t, now);
        benchmark::DoNotOptimize(binding);
        delete binding;
    }
}
BENCHMARK(BM_BindingCreation);
