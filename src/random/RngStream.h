#pragma once
// Combined multiple-recursive uniform generator MRG32k3a, divided into
// streams of 2^127 steps and each stream into substreams of 2^76 steps.
// Every new RngStream starts where the previous one's stream ends, so
// streams created in a fixed order from one package seed never overlap
// and reproduce the same numbers.
#include <string>

class RngStream {
public:
    explicit RngStream(const char* name = "");

    // Starting state of the streams created from now on. Returns false,
    // after a message on standard error, when the seed is not valid;
    // nothing changes then.
    static bool SetPackageSeed(const unsigned long seed[6]);

    // Restarts this stream (stream, substream and current state) at seed.
    bool SetSeed(const unsigned long seed[6]);

    void ResetStartStream();
    void ResetStartSubstream();
    void ResetNextSubstream();

    void SetAntithetic(bool a) {
        anti = a;
        plain = !anti && !incPrec;
    }
    void IncreasedPrecis(bool incp) {
        incPrec = incp;
        plain = !anti && !incPrec;
    }

    // Moves the current state by 2^e + c steps; negative e and c go back.
    void AdvanceState(long e, long c);

    // Moves the current state past the next n numbers, as n calls of
    // RandU01 whose values nobody reads; a long run of them is one jump.
    void SkipDraws(unsigned long n);

    void GetState(unsigned long seed[6]) const;
    void WriteState() const;
    void WriteStateFull() const;

    // Uniform number strictly between 0 and 1.
    [[gnu::always_inline]] double RandU01() {
        if (plain) return step();
        return incPrec ? U01d() : U01();
    }
    // Whole number in [i, j].
    int RandInt(int i, int j) { return i + static_cast<int>((j - i + 1.0) * RandU01()); }

private:
    // The switches sit next to the current state: every draw reads them,
    // while the substream and stream starts are read only on resets.
    bool anti;
    bool incPrec;
    // Neither switch is on (the usual case): a draw tests only this.
    bool plain;
    // The current state: whole numbers below 2^32, held as 64-bit integers
    // because every draw computes with them as such (the substream and
    // stream starts keep the floating-point form of the jump arithmetic).
    long long Cg[6];
    double Bg[6];  // start of the current substream
    double Ig[6];  // start of the stream
    std::string name;

    // Starting state of the next stream to be created. A constant
    // initialiser, so it is set before any dynamic initialisation runs and
    // streams may be created from other translation units' static objects.
    static double nextSeed[6];

    static constexpr double m1 = 4294967087.0;
    static constexpr double m2 = 4294944443.0;
    static constexpr double a12 = 1403580.0;
    static constexpr double a13n = 810728.0;
    static constexpr double a21 = 527612.0;
    static constexpr double a23n = 1370589.0;
    static constexpr double norm = 2.328306549295728e-10;
    static constexpr double fact = 5.9604644775390625e-8;

    static bool CheckSeed(const unsigned long seed[6]);

    // One number, antithetic when that switch is on.
    [[gnu::always_inline]] double U01() {
        const double u = step();
        return anti ? (1.0 - u) : u;
    }
    // One step of the recurrence and its number. The state values are whole
    // numbers below their modulus (< 2^32) and every partial product stays
    // below 2^53, so the step is done in 64-bit integers: the remainders are
    // exactly those of the floating-point form, and integer division by a
    // constant needs no division instruction. The subtracted term a*x is
    // added as a*(m - x), the same remainder, so that the sum is never
    // negative: an unsigned remainder needs neither the sign correction of a
    // signed one nor the test that follows it.
    [[gnu::always_inline]] double step() {
        typedef unsigned long long U;
        constexpr U um1 = static_cast<U>(m1), um2 = static_cast<U>(m2);
        const U p1 = (static_cast<U>(a12) * static_cast<U>(Cg[1]) +
                      static_cast<U>(a13n) * (um1 - static_cast<U>(Cg[0]))) % um1;
        Cg[0] = Cg[1]; Cg[1] = Cg[2]; Cg[2] = static_cast<long long>(p1);

        const U p2 = (static_cast<U>(a21) * static_cast<U>(Cg[5]) +
                      static_cast<U>(a23n) * (um2 - static_cast<U>(Cg[3]))) % um2;
        Cg[3] = Cg[4]; Cg[4] = Cg[5]; Cg[5] = static_cast<long long>(p2);

        return static_cast<double>(p1 > p2 ? p1 - p2 : p1 - p2 + um1) * norm;
    }

    // Two steps per number, for about 53 bits of precision.
    double U01d() {
        double u = U01();
        if (anti) {
            // U01() already delivers 1 - u here.
            u += (U01() - 1.0) * fact;
            return (u < 0.0) ? u + 1.0 : u;
        }
        u += U01() * fact;
        return (u < 1.0) ? u : u - 1.0;
    }
};
