#include "random/RngStream.h"

#include <cstdint>
#include <iostream>

namespace {

constexpr double m1 = 4294967087.0;
constexpr double m2 = 4294944443.0;
constexpr double two17 = 131072.0;
constexpr double two53 = 9007199254740992.0;

// One-step transition matrices of the two components, negative entries as
// they stand (the modular products below bring them into [0, m)).
constexpr double A1p0[3][3] = {
    {0.0, 1.0, 0.0},
    {0.0, 0.0, 1.0},
    {-810728.0, 1403580.0, 0.0}};
constexpr double A2p0[3][3] = {
    {0.0, 1.0, 0.0},
    {0.0, 0.0, 1.0},
    {-1370589.0, 0.0, 527612.0}};

// Their inverses: one step back.
constexpr double InvA1[3][3] = {
    {184888585.0, 0.0, 1945170933.0},
    {1.0, 0.0, 0.0},
    {0.0, 1.0, 0.0}};
constexpr double InvA2[3][3] = {
    {0.0, 360363334.0, 4225571728.0},
    {1.0, 0.0, 0.0},
    {0.0, 1.0, 0.0}};

// A^(2^e) mod m in exact integer arithmetic, evaluated by the compiler:
// the jump matrices are constants in the program image and so ready before
// any static object creates a stream.
struct Matrix {
    double a[3][3];
};

constexpr Matrix twoPowerModM(const double (&A)[3][3], double m, int e) {
    const std::uint64_t mod = static_cast<std::uint64_t>(m);
    std::uint64_t x[3][3] = {};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            x[i][j] = A[i][j] < 0.0 ? mod - static_cast<std::uint64_t>(-A[i][j])
                                    : static_cast<std::uint64_t>(A[i][j]);
    for (int step = 0; step < e; ++step) {
        std::uint64_t y[3][3] = {};
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 3; ++j) {
                std::uint64_t s = 0;
                // Entries are below 2^32, so each product fits in 64 bits.
                for (int k = 0; k < 3; ++k) s = (s + x[i][k] * x[k][j] % mod) % mod;
                y[i][j] = s;
            }
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 3; ++j) x[i][j] = y[i][j];
    }
    Matrix r = {};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) r.a[i][j] = static_cast<double>(x[i][j]);
    return r;
}

constexpr Matrix A1p76 = twoPowerModM(A1p0, m1, 76);
constexpr Matrix A2p76 = twoPowerModM(A2p0, m2, 76);
constexpr Matrix A1p127 = twoPowerModM(A1p0, m1, 127);
constexpr Matrix A2p127 = twoPowerModM(A2p0, m2, 127);

// (a * s + c) mod m, exact for a, s, c below 2^32 in absolute value.
double MultModM(double a, double s, double c, double m) {
    double v = a * s + c;
    if (v >= two53 || v <= -two53) {
        long a1 = static_cast<long>(a / two17);
        a -= a1 * two17;
        v = a1 * s;
        a1 = static_cast<long>(v / m);
        v -= a1 * m;
        v = v * two17 + a * s + c;
    }
    const long a1 = static_cast<long>(v / m);
    v -= a1 * m;
    if (v < 0.0) v += m;
    return v;
}

// v = A * s mod m; v may be s.
void MatVecModM(const double A[3][3], const double s[3], double v[3], double m) {
    double x[3];
    for (int i = 0; i < 3; ++i) {
        x[i] = MultModM(A[i][0], s[0], 0.0, m);
        x[i] = MultModM(A[i][1], s[1], x[i], m);
        x[i] = MultModM(A[i][2], s[2], x[i], m);
    }
    for (int i = 0; i < 3; ++i) v[i] = x[i];
}

// C = A * B mod m; C may be A or B.
void MatMatModM(const double A[3][3], const double B[3][3], double C[3][3], double m) {
    double W[3][3];
    for (int j = 0; j < 3; ++j) {
        double column[3] = {B[0][j], B[1][j], B[2][j]};
        MatVecModM(A, column, column, m);
        for (int i = 0; i < 3; ++i) W[i][j] = column[i];
    }
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) C[i][j] = W[i][j];
}

// B = A^(2^e) mod m.
void MatTwoPowModM(const double A[3][3], double B[3][3], double m, long e) {
    if (A != B) {
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 3; ++j) B[i][j] = A[i][j];
    }
    for (long i = 0; i < e; ++i) MatMatModM(B, B, B, m);
}

// B = A^n mod m, the identity for n = 0.
void MatPowModM(const double A[3][3], double B[3][3], double m, unsigned long n) {
    double W[3][3];
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) {
            W[i][j] = A[i][j];
            B[i][j] = (i == j) ? 1.0 : 0.0;
        }
    while (n > 0) {
        if (n % 2) MatMatModM(W, B, B, m);
        MatMatModM(W, W, W, m);
        n /= 2;
    }
}

unsigned long magnitude(long x) {
    return x < 0 ? 0UL - static_cast<unsigned long>(x) : static_cast<unsigned long>(x);
}

template <class T>
void writeValues(const T v[6]) {
    for (int i = 0; i < 5; ++i) std::cout << static_cast<unsigned long>(v[i]) << ", ";
    std::cout << static_cast<unsigned long>(v[5]) << " }";
}

} // namespace

double RngStream::nextSeed[6] = {12345.0, 12345.0, 12345.0, 12345.0, 12345.0, 12345.0};

RngStream::RngStream(const char* s) : anti(false), incPrec(false), plain(true), name(s ? s : "") {
    for (int i = 0; i < 6; ++i) {
        Bg[i] = Ig[i] = nextSeed[i];
        Cg[i] = static_cast<long long>(nextSeed[i]);
    }
    MatVecModM(A1p127.a, nextSeed, nextSeed, m1);
    MatVecModM(A2p127.a, &nextSeed[3], &nextSeed[3], m2);
}

bool RngStream::CheckSeed(const unsigned long seed[6]) {
    for (int i = 0; i < 3; ++i) {
        if (seed[i] >= 4294967087UL) {
            std::cerr << "****************************************\n"
                      << "ERROR: Seed[" << i << "] >= 4294967087, Seed is not set."
                      << "\n****************************************\n\n";
            return false;
        }
    }
    for (int i = 3; i < 6; ++i) {
        if (seed[i] >= 4294944443UL) {
            std::cerr << "*****************************************\n"
                      << "ERROR: Seed[" << i << "] >= 4294944443, Seed is not set."
                      << "\n*****************************************\n\n";
            return false;
        }
    }
    if (seed[0] == 0 && seed[1] == 0 && seed[2] == 0) {
        std::cerr << "****************************\n"
                  << "ERROR: First 3 seeds = 0.\n"
                  << "****************************\n\n";
        return false;
    }
    if (seed[3] == 0 && seed[4] == 0 && seed[5] == 0) {
        std::cerr << "****************************\n"
                  << "ERROR: Last 3 seeds = 0.\n"
                  << "****************************\n\n";
        return false;
    }
    return true;
}

bool RngStream::SetPackageSeed(const unsigned long seed[6]) {
    if (!CheckSeed(seed)) return false;
    for (int i = 0; i < 6; ++i) nextSeed[i] = static_cast<double>(seed[i]);
    return true;
}

bool RngStream::SetSeed(const unsigned long seed[6]) {
    if (!CheckSeed(seed)) return false;
    for (int i = 0; i < 6; ++i) {
        Bg[i] = Ig[i] = static_cast<double>(seed[i]);
        Cg[i] = static_cast<long long>(seed[i]);
    }
    return true;
}

void RngStream::ResetStartStream() {
    for (int i = 0; i < 6; ++i) {
        Bg[i] = Ig[i];
        Cg[i] = static_cast<long long>(Ig[i]);
    }
}

void RngStream::ResetStartSubstream() {
    for (int i = 0; i < 6; ++i) Cg[i] = static_cast<long long>(Bg[i]);
}

void RngStream::ResetNextSubstream() {
    MatVecModM(A1p76.a, Bg, Bg, m1);
    MatVecModM(A2p76.a, &Bg[3], &Bg[3], m2);
    for (int i = 0; i < 6; ++i) Cg[i] = static_cast<long long>(Bg[i]);
}

void RngStream::AdvanceState(long e, long c) {
    double B1[3][3], C1[3][3], B2[3][3], C2[3][3];

    if (e > 0) {
        MatTwoPowModM(A1p0, B1, m1, e);
        MatTwoPowModM(A2p0, B2, m2, e);
    } else if (e < 0) {
        MatTwoPowModM(InvA1, B1, m1, -e);
        MatTwoPowModM(InvA2, B2, m2, -e);
    }

    if (c >= 0) {
        MatPowModM(A1p0, C1, m1, magnitude(c));
        MatPowModM(A2p0, C2, m2, magnitude(c));
    } else {
        MatPowModM(InvA1, C1, m1, magnitude(c));
        MatPowModM(InvA2, C2, m2, magnitude(c));
    }

    if (e != 0) {
        MatMatModM(B1, C1, C1, m1);
        MatMatModM(B2, C2, C2, m2);
    }

    double state[6];
    for (int i = 0; i < 6; ++i) state[i] = static_cast<double>(Cg[i]);
    MatVecModM(C1, state, state, m1);
    MatVecModM(C2, &state[3], &state[3], m2);
    for (int i = 0; i < 6; ++i) Cg[i] = static_cast<long long>(state[i]);
}

void RngStream::SkipDraws(unsigned long n) {
    // With increased precision a number takes two steps.
    const unsigned long steps = incPrec ? 2 * n : n;
    // Up to about a thousand steps, stepping costs less than the jump's
    // matrix powers.
    constexpr unsigned long kStepLimit = 1024;
    if (steps > kStepLimit) {
        AdvanceState(0, static_cast<long>(steps));
        return;
    }
    for (unsigned long i = 0; i < steps; ++i) (void)step();
}

void RngStream::GetState(unsigned long seed[6]) const {
    for (int i = 0; i < 6; ++i) seed[i] = static_cast<unsigned long>(Cg[i]);
}

void RngStream::WriteState() const {
    std::cout << "The current state of the Rngstream";
    if (!name.empty()) std::cout << " " << name;
    std::cout << ":\n   Cg = { ";
    writeValues(Cg);
    std::cout << "\n\n";
}

void RngStream::WriteStateFull() const {
    std::cout << "The RngStream";
    if (!name.empty()) std::cout << " " << name;
    std::cout << ":\n   anti = " << (anti ? "true" : "false") << "\n";
    std::cout << "   incPrec = " << (incPrec ? "true" : "false") << "\n";
    std::cout << "   Ig = { ";
    writeValues(Ig);
    std::cout << "\n   Bg = { ";
    writeValues(Bg);
    std::cout << "\n   Cg = { ";
    writeValues(Cg);
    std::cout << "\n\n";
}
