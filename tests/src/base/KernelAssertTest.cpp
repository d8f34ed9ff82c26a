#include <gtest/gtest.h>

#include "base/KernelAssert.h"

TEST(KernelAssertDeathTest, NamesExpressionSourceAndLine) {
    EXPECT_DEATH(KERNEL_ASSERT(1 + 1 == 3, "src/Transition", 367),
                 "Assertion failed: 1 \\+ 1 == 3, file src/Transition, line 367");
}

TEST(KernelAssert, PassingAssertionDoesNothing) {
    KERNEL_ASSERT(2 > 1, "src/Simulation", 34);
    SUCCEED();
}
