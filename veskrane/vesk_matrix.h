// vesk_matrix.h - the matrix kernel: layout, the matrix operations and the benchmark pass.
#pragma once

#include <cstdint>   // exact-width integers

#include "veskrane.h"

// Smallest matrix area that holds a 1 x 1 problem; smaller areas give dimension 0 and no work.
constexpr uint32_t vesk_matrix_min_size = 9;

// The largest N with 8 * N * N < block_size: the dimension vesk_init_matrix uses.
uint32_t vesk_matrix_dim(uint32_t block_size);

void matrix_add_const(uint32_t n, int16_t *a, int16_t scalar);
void matrix_mul_const(uint32_t n, int32_t *c, const int16_t *a, int16_t scalar);
void matrix_mul_vect(uint32_t n, int32_t *c, const int16_t *a, const int16_t *b);
void matrix_mul_matrix(uint32_t n, int32_t *c, const int16_t *a, const int16_t *b);
void matrix_mul_matrix_bitextract(uint32_t n, int32_t *c, const int16_t *a, const int16_t *b);
int16_t matrix_sum(uint32_t n, const int32_t *c, int16_t threshold);
int16_t matrix_test(uint32_t n, int32_t *c, int16_t *a, const int16_t *b, int16_t scalar);

// Runs the matrix test with scalar and folds its result into crc.
uint16_t vesk_bench_matrix(matrix_params *p, int16_t scalar, uint16_t crc);
