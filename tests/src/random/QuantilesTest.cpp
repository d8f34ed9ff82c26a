#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "random/Quantiles.h"

namespace {

// student_distr with its standard output captured.
double student(int df, double level, std::string& printed) {
    testing::internal::CaptureStdout();
    const double t = student_distr(df, level);
    printed = testing::internal::GetCapturedStdout();
    return t;
}

} // namespace

TEST(Quantiles, NormalQuantile) {
    EXPECT_NEAR(normal_distr(0.025), 1.96039, 5e-6);
    EXPECT_NEAR(normal_distr(0.05), 1.64521, 5e-6);
    EXPECT_NEAR(normal_distr(0.5), 0.0, 1e-6);
    EXPECT_NEAR(normal_distr(0.005), 2.5758, 4.5e-4);
}

TEST(Quantiles, TabulatedLevelsReturnTheTableEntry) {
    std::string out;
    EXPECT_DOUBLE_EQ(student(1, 0.95, out), 12.706);
    EXPECT_DOUBLE_EQ(student(2, 0.90, out), 2.92);
    EXPECT_DOUBLE_EQ(student(17, 0.98, out), 2.567);
    EXPECT_DOUBLE_EQ(student(30, 0.999, out), 3.646);
    // Levels as the estimators compute them, 1 - alpha / 2.
    EXPECT_DOUBLE_EQ(student(9, 1.0 - 0.01 / 2.0, out), 3.69);
    EXPECT_DOUBLE_EQ(student(9, 1.0 - 0.02 / 2.0, out), 3.25);
    // Close to a tabulated level from below, or interpolated onto it.
    EXPECT_NEAR(student(30, 0.99, out), 2.75, 1e-9);
    EXPECT_NEAR(student(30, std::nextafter(0.95, 0.0), out), 2.042, 1e-9);
    // Everything from 0.999 up to 1 takes the last column.
    EXPECT_DOUBLE_EQ(student(5, 0.9995, out), 6.869);
    EXPECT_EQ(out, "");
}

TEST(Quantiles, LevelsBetweenColumnsAreInterpolated) {
    std::string out;
    EXPECT_NEAR(student(10, 0.925, out), 2.02, 1e-9);
    EXPECT_NEAR(student(4, 0.975, out), 3.58517, 5e-6);
    EXPECT_NEAR(student(1, 0.975, out), 28.63517, 5e-6);
    EXPECT_NEAR(student(20, 0.985, out), (2.528 + 2.845) / 2.0, 1e-9);
    EXPECT_NEAR(student(20, 0.9925, out), (2.845 + 3.153) / 2.0, 1e-9);
    EXPECT_NEAR(student(20, 0.997, out), (3.153 + 3.85) / 2.0, 1e-9);
    EXPECT_EQ(out, "");
}

TEST(Quantiles, FallBacksAndRefusals) {
    std::string out;
    EXPECT_DOUBLE_EQ(student(31, 0.95, out), normal_distr(0.025));
    EXPECT_DOUBLE_EQ(student(1000, 0.99, out), normal_distr(0.005));
    EXPECT_EQ(out, "");

    EXPECT_EQ(student(5, 0.85, out), 0.0);
    EXPECT_EQ(out, "student_distr: wrong level 0.85 by degree of freedom 5\n");
    EXPECT_EQ(student(5, 1.0, out), 0.0);
    EXPECT_EQ(out, "student_distr: wrong level 1 by degree of freedom 5\n");
    // Not confidence levels at all.
    EXPECT_EQ(student(5, -0.95, out), 0.0);
    EXPECT_EQ(out, "student_distr: wrong level -0.95 by degree of freedom 5\n");
    EXPECT_EQ(student(5, std::numeric_limits<double>::quiet_NaN(), out), 0.0);
    EXPECT_EQ(out.rfind("student_distr: wrong level ", 0), 0u);

    EXPECT_EQ(student(0, 0.95, out), 0.0);
    EXPECT_EQ(out, "t_student: invalid degree of freedom.\n");
    EXPECT_EQ(student(-3, 0.95, out), 0.0);
    EXPECT_EQ(out, "t_student: invalid degree of freedom.\n");
}
