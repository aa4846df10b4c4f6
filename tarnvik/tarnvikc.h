// tarnvikc.h - the routines of the floating-point linear-system benchmark.
// Matrices are stored column by column: element (row i, column j) of a matrix with leading
// dimension ld is element ld * j + i of its array, both counted from 0.
#pragma once

#include <cstdint>   // int32_t

// Problem generation and accuracy check.
void matgen(double *matrix, int32_t ld, int32_t n, double *rhs, double *largest);
void dmxpy(int32_t rows, double *y, int32_t cols, int32_t ldm, const double *v, const double *m);
double epslon(double value);
void check_residual(double *a, int32_t lda, int32_t n, double *b, double *x);

// LU factorisation with partial pivoting, the two solves, and their vector kernels.
void dgefa(double *a, int32_t lda, int32_t n, int32_t *ipvt, int32_t *info);
void dgesl(const double *a, int32_t lda, int32_t n, const int32_t *ipvt, double *b, int32_t transposed);
void daxpy(int32_t count, double alpha, const double *src, int32_t src_step, double *dst, int32_t dst_step);
double ddot(int32_t count, const double *left, int32_t left_step, const double *right, int32_t right_step);
void dscal(int32_t count, double alpha, double *vec, int32_t step);
int32_t idamax(int32_t count, const double *vec, int32_t step);

// The driver: CPU-time clock, the timing table and the final rating.
double second();
void record_run(int32_t run, double factor_secs, double solve_secs, double ops);
void print_time(int32_t run);
int32_t final_rating(double kflops3, double kflops7);
