// tarnvikc.cpp - the floating-point linear-system benchmark: problem generation, LU factorisation
// and solve, the timed run sequence and its report. Built once per floating-point variant.
#include <cmath>          // fabs, trunc
#include <cstdint>        // int32_t, INT32_MAX
#include <cstdio>         // printf, puts, fprintf, fflush
#include <sys/resource.h> // getrusage
#include "tarnvikc.h"

// ---- Problem generation and accuracy check ----

// Fills the leading n x n block with entries of a 16-bit congruential sequence that restarts at
// the same seed on every call, and sets rhs to the row sums, so that the solution is all ones.
// largest receives the largest entry by signed value (0.0 when every entry is negative).
void matgen(double *matrix, int32_t ld, int32_t n, double *rhs, double *largest)
{
    int32_t seed = 1325;
    *largest = 0.0;
    for (int32_t j = 0; j < n; j++) {
        for (int32_t i = 0; i < n; i++) {
            seed = 3125 * seed % 65536;   // below 3125 * 65536, within 32 bits
            matrix[ld * j + i] = (static_cast<double>(seed) - 32768.0) / 16384.0;
            if (matrix[ld * j + i] > *largest)
                *largest = matrix[ld * j + i];
        }
    }
    for (int32_t i = 0; i < n; i++)
        rhs[i] = 0.0;
    for (int32_t j = 0; j < n; j++)
        for (int32_t i = 0; i < n; i++)
            rhs[i] = rhs[i] + matrix[ld * j + i];
}

// y = y + m * v, in blocks of 1, 2, 4, 8 and then 16 columns, so that y is loaded and stored once
// per block. Every y[i] still receives its terms one by one in increasing column order.
void dmxpy(int32_t rows, double *y, int32_t cols, int32_t ldm, const double *v, const double *m)
{
    int32_t j = cols % 2;
    if (j >= 1) {
        j = j - 1;
        for (int32_t i = 0; i < rows; i++)
            y[i] = y[i] + v[j] * m[ldm * j + i];
    }

    j = cols % 4;
    if (j >= 2) {
        j = j - 1;
        for (int32_t i = 0; i < rows; i++)
            y[i] = y[i] + v[j - 1] * m[ldm * (j - 1) + i] + v[j] * m[ldm * j + i];
    }

    j = cols % 8;
    if (j >= 4) {
        j = j - 1;
        for (int32_t i = 0; i < rows; i++)
            y[i] = y[i] + v[j - 3] * m[ldm * (j - 3) + i] + v[j - 2] * m[ldm * (j - 2) + i]
                 + v[j - 1] * m[ldm * (j - 1) + i] + v[j] * m[ldm * j + i];
    }

    j = cols % 16;
    if (j >= 8) {
        j = j - 1;
        for (int32_t i = 0; i < rows; i++)
            y[i] = y[i] + v[j - 7] * m[ldm * (j - 7) + i] + v[j - 6] * m[ldm * (j - 6) + i]
                 + v[j - 5] * m[ldm * (j - 5) + i] + v[j - 4] * m[ldm * (j - 4) + i]
                 + v[j - 3] * m[ldm * (j - 3) + i] + v[j - 2] * m[ldm * (j - 2) + i]
                 + v[j - 1] * m[ldm * (j - 1) + i] + v[j] * m[ldm * j + i];
    }

    for (j = cols % 16 + 15; j < cols; j += 16) {
        for (int32_t i = 0; i < rows; i++)
            y[i] = y[i] + v[j - 15] * m[ldm * (j - 15) + i] + v[j - 14] * m[ldm * (j - 14) + i]
                 + v[j - 13] * m[ldm * (j - 13) + i] + v[j - 12] * m[ldm * (j - 12) + i]
                 + v[j - 11] * m[ldm * (j - 11) + i] + v[j - 10] * m[ldm * (j - 10) + i]
                 + v[j - 9] * m[ldm * (j - 9) + i] + v[j - 8] * m[ldm * (j - 8) + i]
                 + v[j - 7] * m[ldm * (j - 7) + i] + v[j - 6] * m[ldm * (j - 6) + i]
                 + v[j - 5] * m[ldm * (j - 5) + i] + v[j - 4] * m[ldm * (j - 4) + i]
                 + v[j - 3] * m[ldm * (j - 3) + i] + v[j - 2] * m[ldm * (j - 2) + i]
                 + v[j - 1] * m[ldm * (j - 1) + i] + v[j] * m[ldm * j + i];
    }
}

// The machine epsilon scaled by |value|, found from the rounding error of 4/3 rather than assumed.
double epslon(double value)
{
    const double f = 4.0 / 3.0;
    double e = 0.0;
    while (e == 0.0) {
        const double g = f - 1.0;
        const double h = (g + g) + g;
        e = std::fabs(h - 1.0);
    }
    return e * std::fabs(value);
}

// Measures the accuracy of the solution in b: regenerates the system, forms the residual A*x - b
// and prints its largest component, normalised by order, matrix scale, solution size and epsilon.
// Leaves the solution in x, the regenerated matrix in a and the residual in b.
void check_residual(double *a, int32_t lda, int32_t n, double *b, double *x)
{
    for (int32_t i = 0; i < n; i++)
        x[i] = b[i];
    double largest = 0.0;
    matgen(a, lda, n, b, &largest);
    for (int32_t i = 0; i < n; i++)
        b[i] = -b[i];
    dmxpy(n, b, n, lda, x, a);

    double resid = 0.0;
    double xmax = 0.0;
    for (int32_t i = 0; i < n; i++) {
        // Written as "unless smaller" so that a not-a-number component shows in the figures.
        if (!(std::fabs(b[i]) < resid))
            resid = std::fabs(b[i]);
        if (!(std::fabs(x[i]) < xmax))
            xmax = std::fabs(x[i]);
    }
    const double eps = epslon(1.0);
    const double residn = resid / (((static_cast<double>(n) * largest) * xmax) * eps);

    printf("     norm. resid      resid           machep");
    puts("         x[0]-1        x[n-1]-1");
    printf("  %8.1f      %16.8e%16.8e%16.8e%16.8e\n", residn, resid, eps, x[0] - 1.0, x[n - 1] - 1.0);
}

// ---- LU factorisation and solve ----
// These routines and the four kernels are the only code inside the timed spans: plain loops over
// raw arrays, one element per iteration, each product rounded before it is added.

// Factorises the leading n x n block in place into P*A = L*U by Gaussian elimination with partial
// pivoting. Below the diagonal of column k go the negated multipliers of step k; ipvt[k] is the row
// exchanged with row k. info is the last column whose pivot was exactly 0.0, and 0 when there was
// none; a zero pivot in column 0 also leaves 0, and shows as a[0] == 0.0 (every zero pivot leaves
// its diagonal entry of U exactly 0.0, every other pivot a non-zero one).
void dgefa(double *a, int32_t lda, int32_t n, int32_t *ipvt, int32_t *info)
{
    *info = 0;
    if (n < 1)
        return;
    for (int32_t k = 0; k < n - 1; k++) {
        const int32_t kp1 = k + 1;
        const int32_t l = idamax(n - k, &a[lda * k + k], 1) + k;
        ipvt[k] = l;
        if (a[lda * k + l] == 0.0) {
            *info = k;
            continue;
        }
        double t;
        if (l != k) {
            t = a[lda * k + l];
            a[lda * k + l] = a[lda * k + k];
            a[lda * k + k] = t;
        }
        t = -1.0 / a[lda * k + k];
        dscal(n - kp1, t, &a[lda * k + kp1], 1);
        for (int32_t j = kp1; j < n; j++) {
            t = a[lda * j + l];
            if (l != k) {
                a[lda * j + l] = a[lda * j + k];
                a[lda * j + k] = t;
            }
            daxpy(n - kp1, t, &a[lda * k + kp1], 1, &a[lda * j + kp1], 1);
        }
    }
    ipvt[n - 1] = n - 1;
    if (a[lda * (n - 1) + (n - 1)] == 0.0)
        *info = n - 1;
}

// Solves A*x = b (transposed == 0) or A'*x = b (otherwise) with the factors from dgefa; b receives
// the solution. A zero pivot gives IEEE infinities or not-a-numbers in b.
void dgesl(const double *a, int32_t lda, int32_t n, const int32_t *ipvt, double *b, int32_t transposed)
{
    double t;
    if (transposed == 0) {
        // Forward elimination with L, replaying the row exchanges, then back substitution with U.
        for (int32_t k = 0; k < n - 1; k++) {
            const int32_t l = ipvt[k];
            t = b[l];
            if (l != k) {
                b[l] = b[k];
                b[k] = t;
            }
            daxpy(n - (k + 1), t, &a[lda * k + k + 1], 1, &b[k + 1], 1);
        }
        for (int32_t k = n - 1; k >= 0; k--) {
            b[k] = b[k] / a[lda * k + k];
            t = -b[k];
            daxpy(k, t, &a[lda * k], 1, &b[0], 1);
        }
        return;
    }
    // Solve U'*y = b, then L'*x = y, undoing the row exchanges from the last step back.
    for (int32_t k = 0; k < n; k++) {
        t = ddot(k, &a[lda * k], 1, &b[0], 1);
        b[k] = (b[k] - t) / a[lda * k + k];
    }
    for (int32_t k = n - 2; k >= 0; k--) {
        b[k] = b[k] + ddot(n - (k + 1), &a[lda * k + k + 1], 1, &b[k + 1], 1);
        const int32_t l = ipvt[k];
        if (l != k) {
            t = b[l];
            b[l] = b[k];
            b[k] = t;
        }
    }
}

// dst = dst + alpha * src. A negative step walks its vector from the far end back to the start.
// alpha == 0.0 leaves dst untouched, even where src holds infinities.
void daxpy(int32_t count, double alpha, const double *src, int32_t src_step, double *dst, int32_t dst_step)
{
    if (count <= 0 || alpha == 0.0)
        return;
    if (src_step == 1 && dst_step == 1) {
        for (int32_t i = 0; i < count; i++)
            dst[i] = dst[i] + src[i] * alpha;
        return;
    }
    int32_t ix = 0;
    int32_t iy = 0;
    if (src_step < 0)
        ix = (1 - count) * src_step;
    if (dst_step < 0)
        iy = (1 - count) * dst_step;
    for (int32_t i = 0; i < count; i++) {
        dst[iy] = dst[iy] + src[ix] * alpha;
        ix = ix + src_step;
        iy = iy + dst_step;
    }
}

// The dot product of two vectors; steps as in daxpy.
double ddot(int32_t count, const double *left, int32_t left_step, const double *right, int32_t right_step)
{
    double sum = 0.0;
    if (count <= 0)
        return 0.0;
    if (left_step == 1 && right_step == 1) {
        for (int32_t i = 0; i < count; i++)
            sum = sum + left[i] * right[i];
        return sum;
    }
    int32_t ix = 0;
    int32_t iy = 0;
    if (left_step < 0)
        ix = (1 - count) * left_step;
    if (right_step < 0)
        iy = (1 - count) * right_step;
    for (int32_t i = 0; i < count; i++) {
        sum = sum + left[ix] * right[iy];
        ix = ix + left_step;
        iy = iy + right_step;
    }
    return sum;
}

// vec = alpha * vec. A step of 0 or less changes nothing.
void dscal(int32_t count, double alpha, double *vec, int32_t step)
{
    if (count <= 0)
        return;
    if (step == 1) {
        for (int32_t i = 0; i < count; i++)
            vec[i] = vec[i] * alpha;
        return;
    }
    if (step <= 0)
        return;
    for (int32_t i = 0; i < count * step; i += step)
        vec[i] = vec[i] * alpha;
}

// The element number of the first element of largest magnitude; -1 for an empty vector. Ties go
// to the first, and a not-a-number never wins. A step of 0 or less reads nothing and answers 0:
// every element of a step-0 vector is vec[0], and a negative step would reach before the start.
int32_t idamax(int32_t count, const double *vec, int32_t step)
{
    if (count < 1)
        return -1;
    if (count == 1)
        return 0;
    int32_t best = 0;
    double dmax;
    if (step == 1) {
        dmax = std::fabs(vec[0]);
        for (int32_t i = 1; i < count; i++) {
            if (std::fabs(vec[i]) > dmax) {
                best = i;
                dmax = std::fabs(vec[i]);
            }
        }
        return best;
    }
    if (step <= 0)
        return 0;
    dmax = std::fabs(vec[0]);
    int32_t ix = step;
    for (int32_t i = 1; i < count; i++) {
        if (std::fabs(vec[ix]) > dmax) {
            best = i;
            dmax = std::fabs(vec[ix]);
        }
        ix = ix + step;
    }
    return best;
}

// ---- The driver ----

// Runs 0 to 3 use the leading 100 x 100 block of a (leading dimension 201), runs 4 to 7 that of aa
// (leading dimension 200). Everything is static: nothing is allocated while the benchmark runs.
static double a[200 * 201];
static double aa[200 * 200];
static double b[200];
static double x[200];
static int32_t ipvt[200];
static int32_t n;
static int32_t lda;
static int32_t ldaa;
static int32_t info;     // written by every factorisation; the generated system has no zero pivot
static int32_t ntimes;
static int32_t kflops;
static double largest;   // largest matrix entry, from the latest matgen call

// The timing table, [quantity][run]: rows are factorisation time, solve time, total, kflops,
// microseconds per pair of operations and total relative to 0.056 s; columns are runs 0 to 7.
static double time[9][9];

// User plus system CPU time of this process, in seconds. A failed call reads as 0.0.
double second()
{
    rusage ru = {};
    getrusage(RUSAGE_SELF, &ru);
    return static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec)
         + static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1000000.0;
}

// Stores a run's two measured times and the figures derived from their total. A total of 0.0
// gives kflops +inf, unit 0.0 and ratio 0.0.
void record_run(int32_t run, double factor_secs, double solve_secs, double ops)
{
    time[0][run] = factor_secs;
    time[1][run] = solve_secs;
    const double total = time[0][run] + time[1][run];
    time[2][run] = total;
    time[3][run] = ops / (1000.0 * total);
    time[4][run] = 2000.0 / time[3][run];
    time[5][run] = total / 0.056;
}

// One row of the timing table on standard error.
void print_time(int32_t run)
{
    fprintf(stderr, "%11.2f%11.2f%11.2f%11.0f%11.2f%11.2f\n", time[0][run], time[1][run],
            time[2][run], time[3][run], time[4][run], time[5][run]);
}

// The smaller of the two averaged ratings (run 7's on a tie), rounded to the nearest integer with
// halves away from zero. Magnitudes beyond 32 bits give 2147483647 with the sign kept; a
// not-a-number, which no measurement produces, gives 0 rather than an undefined conversion.
int32_t final_rating(double kflops3, double kflops7)
{
    double k = kflops3 < kflops7 ? kflops3 : kflops7;
    if (k > 0.0)
        k = k + 0.5;
    else
        k = k - 0.5;
    const double mag = std::fabs(k);
    if (!(mag >= 1.0))
        return 0;
    const int32_t whole = mag < 2147483648.0 ? static_cast<int32_t>(std::trunc(mag)) : INT32_MAX;
    return k < 0.0 ? -whole : whole;
}

// Generates the system, then times one factorisation and one solution.
static void single_run(double *m, int32_t ld, int32_t run, double ops)
{
    matgen(m, ld, n, b, &largest);
    double start = second();
    dgefa(m, ld, n, ipvt, &info);
    const double factor_secs = second() - start;
    start = second();
    dgesl(m, ld, n, ipvt, b, 0);
    const double solve_secs = second() - start;
    record_run(run, factor_secs, solve_secs, ops);
}

// Times ntimes factorisations, each of a freshly generated matrix whose generation time is measured
// and subtracted, then ntimes solutions with the last factors, each starting from what the previous
// one left in b; records the averages.
static void averaged_run(double *m, int32_t ld, int32_t run, double ops)
{
    ntimes = 10;
    double gen = 0.0;
    double start = second();
    for (int32_t i = 0; i < ntimes; i++) {
        const double gen_start = second();
        matgen(m, ld, n, b, &largest);
        gen = (second() + gen) - gen_start;
        dgefa(m, ld, n, ipvt, &info);
    }
    const double factor_secs = ((second() - start) - gen) / static_cast<double>(ntimes);
    start = second();
    for (int32_t i = 0; i < ntimes; i++)
        dgesl(m, ld, n, ipvt, b, 0);
    const double solve_secs = (second() - start) / static_cast<double>(ntimes);
    record_run(run, factor_secs, solve_secs, ops);
}

// Eight timed runs on a system of order 100: four with leading dimension 201, four with 200, the
// last of each four averaged over ten repetitions. The accuracy of the first solution goes to
// standard output, the timing table and the rating to standard error. Arguments are ignored.
int main()
{
    lda = 201;
    ldaa = 200;
    n = 100;

    printf("Rolled ");
    printf("Double ");
    printf("Precision Tarnvik\n\n");
    fflush(stdout);   // keeps the report's order when both streams go to one file
    fprintf(stderr, "Rolled ");
    fprintf(stderr, "Double ");
    fprintf(stderr, "Precision Tarnvik\n\n");

    // Operations of one factorisation and solution: 2n^3/3 + 2n^2.
    const double cube = static_cast<double>(n * n * n);
    const double square = static_cast<double>(n * n);
    const double ops = (cube + cube) / 3.0 + (square + square);

    single_run(a, lda, 0, ops);
    check_residual(a, lda, n, b, x);
    fflush(stdout);

    fprintf(stderr, "    times are reported for matrices of order %5d\n", n);
    fprintf(stderr, "      dgefa      dgesl      total       kflops     unit");
    fprintf(stderr, "      ratio\n");
    fprintf(stderr, " times for array with leading dimension of%5d\n", lda);
    print_time(0);

    single_run(a, lda, 1, ops);
    single_run(a, lda, 2, ops);
    averaged_run(a, lda, 3, ops);
    print_time(1);
    print_time(2);
    print_time(3);

    single_run(aa, ldaa, 4, ops);
    single_run(aa, ldaa, 5, ops);
    single_run(aa, ldaa, 6, ops);
    averaged_run(aa, ldaa, 7, ops);
    kflops = final_rating(time[3][3], time[3][7]);

    fprintf(stderr, " times for array with leading dimension of%4d\n", ldaa);
    for (int32_t i = 4; i < 8; i++)
        print_time(i);

    fprintf(stderr, "Rolled ");
    fprintf(stderr, "Double ");
    fprintf(stderr, " Precision %5d Kflops ; %d Reps \n", kflops, 10);
    return 0;
}
