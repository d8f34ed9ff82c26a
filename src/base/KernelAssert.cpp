#include "base/KernelAssert.h"

#include <cstdio>
#include <cstdlib>
#include <iostream>

void kernelAssertionFailed(const char* expression, const char* source, int line) {
    std::cout.flush();
    std::fprintf(stderr, "Assertion failed: %s, file %s, line %d\n", expression, source, line);
    std::fflush(stderr);
    std::abort();
}
