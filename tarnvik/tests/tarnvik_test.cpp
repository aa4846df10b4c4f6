// tarnvik_test.cpp - tests of the benchmark's routines; the same source runs against every
// floating-point build (software, VFP, native).
#include <cmath>       // INFINITY, NAN, ldexp
#include <cstdint>     // int32_t
#include <cstdio>      // stdout, stderr
#include <cstring>     // memcmp
#include <string>
#include <gtest/gtest.h>
#include "capture.h"   // captured: what a routine prints to stdout or stderr
#include "tarnvikc.h"

namespace {

constexpr double eps52 = 2.220446049250313e-16;   // 2^-52
constexpr double ops100 = 2.0 * 1000000.0 / 3.0 + 2.0 * 10000.0;

bool same_bits(double x, double y)
{
    return memcmp(&x, &y, sizeof x) == 0;
}

// Storage for the benchmark's system of order 100, in both layouts it is timed with.
namespace System100 {
double a201[201 * 200];
double a200[200 * 200];
double rhs[200];
double solution[200];
int32_t ipvt[200];
} // namespace System100

} // namespace

// ---- vector kernels ----

TEST(Idamax, FirstLargestMagnitude)
{
    const double nan = NAN;
    struct {
        const char *label;
        double vec[5];
        int32_t count;
        int32_t step;
        int32_t want;
    } const cases[] = {
        {"largest magnitude is negative", {1.0, -3.0, 3.0}, 3, 1, 1},
        {"tie goes to the first", {2.0, -2.0, 2.0}, 3, 1, 0},
        {"last element", {1.0, 2.0, -4.0}, 3, 1, 2},
        {"empty", {1.0}, 0, 1, -1},
        {"negative count", {1.0}, -4, 1, -1},
        {"single element, whatever it is", {nan}, 1, 1, 0},
        {"not-a-number never wins", {1.0, nan, 2.0, nan}, 4, 1, 2},
        {"step 2 examines 1, -5, 2", {1.0, 9.0, -5.0, 9.0, 2.0}, 3, 2, 1},
        {"step 2, last examined", {1.0, 9.0, -5.0, 9.0, -8.0}, 3, 2, 2},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.label);
        EXPECT_EQ(c.want, idamax(c.count, c.vec, c.step));
    }
}

TEST(Idamax, NonPositiveStepAnswersTheFirstElement)
{
    // The vector starts at memory[2]; the larger entries before it must never be reached.
    const double memory[5] = {100.0, -100.0, 1.0, 5.0, 7.0};
    const double *const vec = &memory[2];
    EXPECT_EQ(0, idamax(3, vec, 0));
    EXPECT_EQ(0, idamax(3, vec, -1));
    EXPECT_EQ(0, idamax(2, vec, -2));
    EXPECT_EQ(-1, idamax(0, vec, -1));
}

TEST(Daxpy, AddsScaledVector)
{
    struct {
        const char *label;
        int32_t count;
        double alpha;
        int32_t src_step;
        int32_t dst_step;
        double want[5];
    } const cases[] = {
        // src = 1, 2, 3, 4, 5 and dst = 10, 20, 30, 40, 50 before each call.
        {"unit steps", 3, 2.0, 1, 1, {12.0, 24.0, 36.0, 40.0, 50.0}},
        {"src walked from its far end", 3, 2.0, -1, 1, {16.0, 24.0, 32.0, 40.0, 50.0}},
        {"dst walked from its far end", 3, 2.0, 1, -1, {16.0, 24.0, 32.0, 40.0, 50.0}},
        {"both reversed equals both forward", 3, 2.0, -1, -1, {12.0, 24.0, 36.0, 40.0, 50.0}},
        {"step 2 on both", 3, 1.0, 2, 2, {11.0, 20.0, 33.0, 40.0, 55.0}},
        {"empty", 0, 2.0, 1, 1, {10.0, 20.0, 30.0, 40.0, 50.0}},
        {"negative count", -3, 2.0, 1, 1, {10.0, 20.0, 30.0, 40.0, 50.0}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.label);
        const double src[5] = {1.0, 2.0, 3.0, 4.0, 5.0};
        double dst[5] = {10.0, 20.0, 30.0, 40.0, 50.0};
        daxpy(c.count, c.alpha, src, c.src_step, dst, c.dst_step);
        for (int32_t i = 0; i < 5; i++)
            EXPECT_EQ(c.want[i], dst[i]) << "element " << i;
    }
}

TEST(Daxpy, ZeroAlphaLeavesDestinationEvenWithInfiniteSource)
{
    const double src[3] = {INFINITY, -INFINITY, NAN};
    for (const int32_t step : {1, -1, 2}) {
        SCOPED_TRACE(step);
        double dst[5] = {1.0, -2.0, 3.0, -4.0, 5.0};
        daxpy(step == 2 ? 2 : 3, 0.0, src, step, dst, step);
        const double want[5] = {1.0, -2.0, 3.0, -4.0, 5.0};
        for (int32_t i = 0; i < 5; i++)
            EXPECT_EQ(want[i], dst[i]) << "element " << i;
    }
}

TEST(Ddot, DotProduct)
{
    const double left[5] = {1.0, 2.0, 3.0, 4.0, 5.0};
    const double right[5] = {10.0, 20.0, 30.0, 40.0, 50.0};
    struct {
        const char *label;
        int32_t count;
        int32_t left_step;
        int32_t right_step;
        double want;
    } const cases[] = {
        {"unit steps", 3, 1, 1, 140.0},
        {"left reversed", 3, -1, 1, 100.0},
        {"both reversed", 3, -1, -1, 140.0},
        {"step 2 and 1", 3, 2, 1, 220.0},
        {"empty", 0, 1, 1, 0.0},
        {"negative count", -2, 1, 1, 0.0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.label);
        EXPECT_EQ(c.want, ddot(c.count, left, c.left_step, right, c.right_step));
    }
}

TEST(Ddot, ProductsRoundedBeforeTheSum)
{
    // x*x - 1 with x = 1 + 2^-30: a fused multiply-add would keep the 2^-60 term that the rounded
    // product loses.
    const double x = 1.0 + std::ldexp(1.0, -30);
    const double left[2] = {-1.0, x};
    const double right[2] = {1.0, x};
    EXPECT_EQ(std::ldexp(1.0, -29), ddot(2, left, 1, right, 1));
}

TEST(Dscal, ScalesEveryStepthElement)
{
    struct {
        const char *label;
        int32_t count;
        int32_t step;
        double want[6];
    } const cases[] = {
        {"unit step", 3, 1, {-2.0, -4.0, -6.0, 4.0, 5.0, 6.0}},
        {"count 3, step 2: elements 0, 2 and 4", 3, 2, {-2.0, 2.0, -6.0, 4.0, -10.0, 6.0}},
        {"step 0 changes nothing", 3, 0, {1.0, 2.0, 3.0, 4.0, 5.0, 6.0}},
        {"negative step changes nothing", 3, -1, {1.0, 2.0, 3.0, 4.0, 5.0, 6.0}},
        {"empty", 0, 1, {1.0, 2.0, 3.0, 4.0, 5.0, 6.0}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.label);
        double vec[6] = {1.0, 2.0, 3.0, 4.0, 5.0, 6.0};
        dscal(c.count, -2.0, vec, c.step);
        for (int32_t i = 0; i < 6; i++)
            EXPECT_EQ(c.want[i], vec[i]) << "element " << i;
    }
}

// ---- problem generation, dmxpy, epslon ----

TEST(Matgen, FirstEntryAndLargest)
{
    const double first = static_cast<double>((3125 * 1325) % 65536 - 32768) / 16384.0;
    ASSERT_LT(first, 0.0);
    struct {
        int32_t n;
        int32_t ld;
        double largest;
    } const cases[] = {{1, 1, 0.0}, {1, 201, 0.0}, {100, 201, 1.99859619140625}, {100, 200, 1.99859619140625}};
    static double m[201 * 100];
    double rhs[100];
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << "n " << c.n << ", ld " << c.ld);
        for (double &e : m)
            e = 99.0;
        double largest = -1.0;
        matgen(m, c.ld, c.n, rhs, &largest);
        EXPECT_EQ(first, m[0]);
        EXPECT_EQ(c.largest, largest);
        if (c.n > 1) {   // the second entry of column 0 follows from the first seed
            EXPECT_EQ(static_cast<double>((3125 * ((3125 * 1325) % 65536)) % 65536 - 32768) / 16384.0, m[1]);
        }
        // Rows n to ld - 1 of each column are left alone.
        for (int32_t j = 0; j < c.n; j++)
            for (int32_t i = c.n; i < c.ld; i++)
                ASSERT_EQ(99.0, m[c.ld * j + i]) << "row " << i << " column " << j;
    }
}

TEST(Matgen, OrderOneSetsRhsToTheEntry)
{
    double m[1];
    double rhs[1] = {7.0};
    double largest = 5.0;
    matgen(m, 1, 1, rhs, &largest);
    EXPECT_EQ(-1.27630615234375, m[0]);
    EXPECT_EQ(-1.27630615234375, rhs[0]);
    EXPECT_EQ(0.0, largest);
}

TEST(Matgen, RegeneratesTheSameSystemEveryCall)
{
    static double first[100 * 100];
    static double second_call[100 * 100];
    double rhs1[100];
    double rhs2[100];
    double largest = 0.0;
    matgen(first, 100, 100, rhs1, &largest);
    matgen(second_call, 100, 100, rhs2, &largest);
    EXPECT_EQ(0, memcmp(first, second_call, sizeof first));
    EXPECT_EQ(0, memcmp(rhs1, rhs2, sizeof rhs1));
}

TEST(Dmxpy, BlocksEqualOneColumnAtATime)
{
    // Entries of many magnitudes, so that any change in the order of the additions changes the
    // rounded result.
    constexpr int32_t rows = 16;
    constexpr int32_t ldm = 19;
    static double m[ldm * 100];
    double v[100];
    for (int32_t k = 0; k < ldm * 100; k++)
        m[k] = static_cast<double>((k * 7919) % 2001 - 1000) / 3.0 * std::ldexp(1.0, k % 7 - 3);
    for (int32_t j = 0; j < 100; j++)
        v[j] = 1.0 / static_cast<double>(j + 3);
    for (const int32_t cols : {0, 1, 2, 3, 4, 7, 8, 15, 16, 17, 20, 31, 33, 100}) {
        SCOPED_TRACE(testing::Message() << "cols " << cols);
        double y[rows + 1];
        double want[rows + 1];
        for (int32_t i = 0; i <= rows; i++)
            y[i] = want[i] = 0.1 * static_cast<double>(i + 1);
        for (int32_t j = 0; j < cols; j++)
            for (int32_t i = 0; i < rows; i++)
                want[i] = want[i] + v[j] * m[ldm * j + i];
        dmxpy(rows, y, cols, ldm, v, m);
        for (int32_t i = 0; i <= rows; i++)
            EXPECT_TRUE(same_bits(want[i], y[i])) << "row " << i << ": want " << want[i] << ", got " << y[i];
    }
}

TEST(Epslon, ScaledMachineEpsilon)
{
    EXPECT_EQ(eps52, epslon(1.0));
    EXPECT_EQ(0.0, epslon(0.0));
    EXPECT_EQ(3.0 * eps52, epslon(-3.0));
}

// ---- factorisation and solve ----

TEST(Dgefa, BenchmarkSystemPivotsInBothLayouts)
{
    const int32_t want_pivots[10] = {36, 56, 94, 33, 75, 90, 27, 64, 49, 60};
    double largest = 0.0;
    int32_t ipvt200[100];
    int32_t info201 = -1;
    int32_t info200 = -1;
    matgen(System100::a201, 201, 100, System100::rhs, &largest);
    dgefa(System100::a201, 201, 100, System100::ipvt, &info201);
    matgen(System100::a200, 200, 100, System100::rhs, &largest);
    dgefa(System100::a200, 200, 100, ipvt200, &info200);
    EXPECT_EQ(0, info201);
    EXPECT_EQ(0, info200);
    for (int32_t k = 0; k < 10; k++) {
        EXPECT_EQ(want_pivots[k], System100::ipvt[k]) << "step " << k;
        EXPECT_EQ(want_pivots[k], ipvt200[k]) << "step " << k;
    }
    EXPECT_EQ(99, System100::ipvt[99]);
    // The leading dimension changes where the factors lie, not their values.
    for (int32_t j = 0; j < 100; j++)
        for (int32_t i = 0; i < 100; i++)
            ASSERT_TRUE(same_bits(System100::a201[201 * j + i], System100::a200[200 * j + i])) << i << "," << j;
    for (int32_t k = 0; k < 100; k++) {
        ASSERT_EQ(System100::ipvt[k], ipvt200[k]);
        ASSERT_LE(k, System100::ipvt[k]);
    }
}

TEST(Dgefa, OrderOne)
{
    for (const double entry : {4.0, 0.0}) {
        SCOPED_TRACE(entry);
        double m[1] = {entry};
        int32_t ipvt[1] = {7};
        int32_t info = 7;
        dgefa(m, 1, 1, ipvt, &info);
        EXPECT_EQ(0, ipvt[0]);
        EXPECT_EQ(0, info);
        EXPECT_EQ(entry, m[0]);
        double rhs[1] = {2.0};
        dgesl(m, 1, 1, ipvt, rhs, 0);
        if (entry != 0.0)
            EXPECT_EQ(0.5, rhs[0]);
        else
            EXPECT_TRUE(std::isinf(rhs[0]));
    }
}

TEST(Dgefa, OrderBelowOneTouchesNothing)
{
    for (const int32_t order : {0, -3}) {
        SCOPED_TRACE(order);
        double m[1] = {5.0};
        int32_t ipvt[1] = {7};
        int32_t info = 7;
        dgefa(m, 1, order, ipvt, &info);
        EXPECT_EQ(0, info);
        EXPECT_EQ(7, ipvt[0]);
        EXPECT_EQ(5.0, m[0]);
        double rhs[1] = {2.0};
        for (const int32_t transposed : {0, 1}) {
            dgesl(m, 1, order, ipvt, rhs, transposed);
            EXPECT_EQ(2.0, rhs[0]);
        }
    }
}

TEST(Dgefa, ZeroPivotColumns)
{
    // Column-major 4 x 4 matrices (leading dimension 5) with a column that is zero from the
    // diagonal down at its step. That column is left as it is (no scaling by an infinite
    // reciprocal, so no not-a-number appears), the later columns are still factorised, and info
    // names the last such column. Every zero pivot leaves its diagonal entry of U exactly 0.0 and
    // every other pivot a non-zero one, which tells a zero pivot in column 0 from none at all.
    struct {
        const char *label;
        double m[20];
        int32_t want_info;
        int32_t zero_column;
    } const cases[] = {
        {"column 1 zero", {2, 1, 4, 1, 0, /**/ 0, 0, 0, 0, 0, /**/ 1, 3, 1, 2, 0, /**/ 1, 1, 5, 3, 0}, 1, 1},
        {"column 1 zero after step 0", {2, 1, 4, 1, 0, /**/ 4, 2, 8, 2, 0, /**/ 1, 3, 1, 2, 0, /**/ 1, 1, 5, 3, 0}, 1, 1},
        {"column 0 zero leaves info 0", {0, 0, 0, 0, 0, /**/ 1, 2, 3, 4, 0, /**/ 2, 1, 4, 3, 0, /**/ 5, 1, 1, 2, 0}, 0, 0},
        {"last column zero", {2, 1, 4, 1, 0, /**/ 1, 3, 1, 2, 0, /**/ 1, 1, 5, 3, 0, /**/ 0, 0, 0, 0, 0}, 3, 3},
        {"no zero pivot", {2, 1, 4, 1, 0, /**/ 1, 3, 1, 2, 0, /**/ 1, 1, 5, 3, 0, /**/ 3, 0, 1, 7, 0}, 0, -1},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.label);
        double m[20];
        for (int32_t k = 0; k < 20; k++)
            m[k] = c.m[k];
        int32_t ipvt[4] = {-1, -1, -1, -1};
        int32_t info = -1;
        dgefa(m, 5, 4, ipvt, &info);
        EXPECT_EQ(c.want_info, info);
        EXPECT_EQ(3, ipvt[3]);
        if (c.zero_column >= 0) {
            EXPECT_EQ(c.zero_column, ipvt[c.zero_column]);
            for (int32_t i = c.zero_column; i < 4; i++)
                EXPECT_EQ(0.0, m[5 * c.zero_column + i]) << "row " << i;
        }
        for (int32_t k = 0; k < 4; k++) {
            EXPECT_LE(k, ipvt[k]);
            EXPECT_EQ(k == c.zero_column, m[5 * k + k] == 0.0) << "diagonal " << k;
        }
        for (int32_t k = 0; k < 20; k++)
            EXPECT_FALSE(std::isnan(m[k])) << "element " << k;
    }
}

TEST(Dgesl, RecoversKnownSolutionBothForms)
{
    // A known solution x = 1, 2, ..., 100; b = A x (or A' x), both sums in increasing order.
    for (const int32_t transposed : {0, 1}) {
        SCOPED_TRACE(transposed ? "A' x = b" : "A x = b");
        double largest = 0.0;
        double *const m = System100::a201;
        matgen(m, 201, 100, System100::rhs, &largest);
        double known[100];
        double rhs[100];
        for (int32_t i = 0; i < 100; i++)
            known[i] = static_cast<double>(i + 1);
        for (int32_t i = 0; i < 100; i++) {
            rhs[i] = 0.0;
            for (int32_t j = 0; j < 100; j++)
                rhs[i] = rhs[i] + (transposed ? m[201 * i + j] : m[201 * j + i]) * known[j];
        }
        int32_t info = -1;
        dgefa(m, 201, 100, System100::ipvt, &info);
        ASSERT_EQ(0, info);
        dgesl(m, 201, 100, System100::ipvt, rhs, transposed);
        for (int32_t i = 0; i < 100; i++)
            EXPECT_NEAR(known[i], rhs[i], 1e-10 * known[i]) << "element " << i;
    }
}

TEST(Dgesl, SmallSystemsBothForms)
{
    // A = [[0, 2], [3, 1]] (row exchange at step 0), x = (1, 2): A x = (4, 5), A' x = (6, 4).
    struct {
        int32_t transposed;
        double rhs[2];
    } const cases[] = {{0, {4.0, 5.0}}, {1, {6.0, 4.0}}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.transposed);
        double m[4] = {0.0, 3.0, 2.0, 1.0};
        int32_t ipvt[2];
        int32_t info = -1;
        dgefa(m, 2, 2, ipvt, &info);
        EXPECT_EQ(0, info);
        EXPECT_EQ(1, ipvt[0]);
        double rhs[2] = {c.rhs[0], c.rhs[1]};
        dgesl(m, 2, 2, ipvt, rhs, c.transposed);
        EXPECT_DOUBLE_EQ(1.0, rhs[0]);
        EXPECT_DOUBLE_EQ(2.0, rhs[1]);
    }
}

// ---- the accuracy report ----

TEST(CheckResidual, SameFiguresDigitForDigitInBothLayouts)
{
    // The benchmark's run 0 and accuracy check; every build prints exactly these figures.
    const std::string want =
        "     norm. resid      resid           machep         x[0]-1        x[n-1]-1\n"
        "       1.7        7.41628980e-14  2.22044605e-16 -1.49880108e-14 -1.89848137e-14\n";
    for (const int32_t ld : {201, 200}) {
        SCOPED_TRACE(ld);
        double *const m = ld == 201 ? System100::a201 : System100::a200;
        double largest = 0.0;
        int32_t info = -1;
        matgen(m, ld, 100, System100::rhs, &largest);
        dgefa(m, ld, 100, System100::ipvt, &info);
        dgesl(m, ld, 100, System100::ipvt, System100::rhs, 0);
        EXPECT_EQ(want, captured(stdout, [&] { check_residual(m, ld, 100, System100::rhs, System100::solution); }));
    }
}

TEST(CheckResidual, NonFiniteSolutionShowsInTheFigures)
{
    double largest = 0.0;
    double *const m = System100::a201;
    matgen(m, 201, 100, System100::rhs, &largest);
    for (int32_t i = 0; i < 100; i++)
        System100::rhs[i] = 1.0;
    System100::rhs[50] = NAN;
    const std::string text = captured(stdout, [&] { check_residual(m, 201, 100, System100::rhs, System100::solution); });
    EXPECT_NE(std::string::npos, text.find("nan")) << text;
}

// ---- the timing table and the rating ----

TEST(PrintTime, RowLayout)
{
    struct {
        const char *label;
        double factor_secs;
        double solve_secs;
        const char *want;
    } const cases[] = {
        {"ordinary run", 0.5, 0.25, "       0.50       0.25       0.75        916       2.18      13.39\n"},
        {"zero total", 0.0, 0.0, "       0.00       0.00       0.00        inf       0.00       0.00\n"},
        {"negative averaged time", -0.01, 0.0, "      -0.01       0.00      -0.01     -68667      -0.03      -0.18\n"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.label);
        record_run(2, c.factor_secs, c.solve_secs, ops100);
        EXPECT_EQ(c.want, captured(stderr, [] { print_time(2); }));
    }
}

TEST(FinalRating, RoundsHalvesAwayFromZero)
{
    struct {
        double k;
        int32_t want;
    } const cases[] = {
        {0.3, 0}, {0.5, 1}, {0.7, 1}, {1234.5, 1235}, {0.0, 0}, {-0.3, 0}, {-0.5, -1}, {-0.7, -1},
        {1234.49, 1234}, {INFINITY, 2147483647}, {-INFINITY, -2147483647}, {3.0e9, 2147483647},
        {2147483646.6, 2147483647}, {NAN, 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.k);
        EXPECT_EQ(c.want, final_rating(c.k, c.k));
    }
}

TEST(FinalRating, SmallerOfTheAveragedRuns)
{
    struct {
        const char *label;
        double kflops3;
        double kflops7;
        int32_t want;
    } const cases[] = {
        {"run 3 smaller", 100.2, 200.0, 100},
        {"run 7 smaller", 300.0, 200.4, 200},
        {"run 3 not a number: run 7", NAN, 250.0, 250},
        {"run 3 infinite", INFINITY, 250.0, 250},
        {"negative run wins", -40.0, 250.0, -40},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.label);
        EXPECT_EQ(c.want, final_rating(c.kflops3, c.kflops7));
    }
}

TEST(Second, CpuClockNeverRunsBackwards)
{
    double last = second();
    EXPECT_GE(last, 0.0);
    for (int32_t k = 0; k < 1000; k++) {
        const double now = second();
        ASSERT_GE(now, last);
        last = now;
    }
}
