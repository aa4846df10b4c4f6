// vesk_matrix.cpp - the matrix kernel: layout and fill, the matrix operations and the benchmark pass.
#include <cstdint>   // exact-width integers

#include "vesk_matrix.h"
#include "veskrane.h"

uint32_t vesk_matrix_dim(uint32_t block_size)
{
    uint32_t n = 0;
    while (block_size > 8u * static_cast<uint64_t>(n + 1u) * (n + 1u))
        ++n;
    return n;
}

// Places A, B and C for dimension n inside the area; false when they cannot all fit there with
// A and B on 2-byte and C on 4-byte boundaries.
static bool place_matrices(uint8_t *area, uint32_t block_size, uint32_t n, matrix_params *p)
{
    const uint64_t elems = static_cast<uint64_t>(n) * n;
    const uint32_t misalign = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(area) % 4u);
    // Usually A on the first 4-byte boundary, B right after it and C after B (on a 4-byte boundary,
    // since A and B take 4 * N * N bytes).
    uint64_t a = (4u - misalign) % 4u;
    uint64_t b = a + 2u * elems;
    uint64_t c = b + 2u * elems;
    uint64_t end = c + 4u * elems;
    if (end > block_size) {
        // Too little room for that alignment: A from the first 2-byte boundary, then C, then B.
        // C then lands on a 4-byte boundary exactly when N is odd.
        a = misalign % 2u;
        c = a + 2u * elems;
        b = c + 4u * elems;
        end = b + 2u * elems;
        if ((misalign + c) % 4u != 0 || end > block_size)
            return false;
    }
    p->dim = n;
    p->mat_a = reinterpret_cast<int16_t *>(area + a);
    p->mat_b = reinterpret_cast<int16_t *>(area + b);
    p->mat_c = reinterpret_cast<int32_t *>(area + c);
    return true;
}

// Chooses N, lays out the matrices and fills A and B from the seed. N is the largest dimension with
// 8 * N * N < block_size; only where no layout of that N fits the area's alignment (even N, an area
// not on a 4-byte boundary and at most 2 spare bytes) is it one smaller. C is left as it is.
uint32_t vesk_init_matrix(uint32_t block_size, uint8_t *area, int32_t seed, matrix_params *p)
{
    uint32_t n = vesk_matrix_dim(block_size);
    if (!place_matrices(area, block_size, n, p)) {
        --n;
        place_matrices(area, block_size, n, p);
    }
    if (seed == 0)
        seed = 1;
    int16_t *const a = p->mat_a;
    int16_t *const b = p->mat_b;
    uint32_t order = 1;
    for (uint32_t i = 0; i < n * n; ++i, ++order) {
        // The product wraps at 32 bits; the remainder keeps the sign of the product.
        seed = static_cast<int32_t>(static_cast<uint32_t>(seed) * order) % 65536;
        const uint32_t v = (static_cast<uint32_t>(seed) + order) & 0xFFFFu;
        b[i] = static_cast<int16_t>(static_cast<uint16_t>(v));
        a[i] = static_cast<int16_t>((v + order) & 0xFFu);
    }
    return n;
}

void matrix_add_const(uint32_t n, int16_t *a, int16_t scalar)
{
    const uint32_t add = static_cast<uint16_t>(scalar);
    for (uint32_t i = 0; i < n * n; ++i)
        a[i] = static_cast<int16_t>(static_cast<uint16_t>(static_cast<uint16_t>(a[i]) + add));
}

void matrix_mul_const(uint32_t n, int32_t *c, const int16_t *a, int16_t scalar)
{
    for (uint32_t i = 0; i < n * n; ++i)
        c[i] = static_cast<int32_t>(a[i]) * scalar;   // two 16-bit factors never overflow 32 bits
}

// C row 0 = A times the vector of B's row 0; the rest of C is left as it is.
void matrix_mul_vect(uint32_t n, int32_t *c, const int16_t *a, const int16_t *b)
{
    for (uint32_t i = 0; i < n; ++i) {
        uint32_t sum = 0;
        for (uint32_t j = 0; j < n; ++j)
            sum += static_cast<uint32_t>(static_cast<int32_t>(a[i * n + j]) * b[j]);
        c[i] = static_cast<int32_t>(sum);
    }
}

void matrix_mul_matrix(uint32_t n, int32_t *c, const int16_t *a, const int16_t *b)
{
    for (uint32_t i = 0; i < n; ++i) {
        for (uint32_t j = 0; j < n; ++j) {
            uint32_t sum = 0;
            for (uint32_t k = 0; k < n; ++k)
                sum += static_cast<uint32_t>(static_cast<int32_t>(a[i * n + k]) * b[k * n + j]);
            c[i * n + j] = static_cast<int32_t>(sum);
        }
    }
}

// Each product t contributes bits 2-5 of t times bits 5-11 of t.
void matrix_mul_matrix_bitextract(uint32_t n, int32_t *c, const int16_t *a, const int16_t *b)
{
    for (uint32_t i = 0; i < n; ++i) {
        for (uint32_t j = 0; j < n; ++j) {
            uint32_t sum = 0;
            for (uint32_t k = 0; k < n; ++k) {
                const uint32_t t = static_cast<uint32_t>(static_cast<int32_t>(a[i * n + k]) * b[k * n + j]);
                sum += ((t >> 2) & 0x0Fu) * ((t >> 5) & 0x7Fu);
            }
            c[i * n + j] = static_cast<int32_t>(sum);
        }
    }
}

// Condenses C into a count: +10 whenever the running sum rises above threshold (and restarts),
// otherwise +1 for each element larger than the one before it.
int16_t matrix_sum(uint32_t n, const int32_t *c, int16_t threshold)
{
    uint32_t running = 0;
    int32_t prev = 0;
    uint32_t count = 0;
    for (uint32_t i = 0; i < n * n; ++i) {
        const int32_t cur = c[i];
        running += static_cast<uint32_t>(cur);
        if (static_cast<int32_t>(running) > threshold) {
            count += 10u;
            running = 0;
        } else if (cur > prev) {
            count += 1u;
        }
        prev = cur;
    }
    return static_cast<int16_t>(static_cast<uint16_t>(count));
}

// The fixed sequence of operations on A + scalar and B, each result summed into the crc. A is
// returned to its values before the call.
int16_t matrix_test(uint32_t n, int32_t *c, int16_t *a, const int16_t *b, int16_t scalar)
{
    const int16_t threshold = static_cast<int16_t>(static_cast<uint16_t>(0xF000u | static_cast<uint16_t>(scalar)));
    uint16_t crc = 0;
    matrix_add_const(n, a, scalar);
    matrix_mul_const(n, c, a, scalar);
    crc = crc16(matrix_sum(n, c, threshold), crc);
    matrix_mul_vect(n, c, a, b);
    crc = crc16(matrix_sum(n, c, threshold), crc);
    matrix_mul_matrix(n, c, a, b);
    crc = crc16(matrix_sum(n, c, threshold), crc);
    matrix_mul_matrix_bitextract(n, c, a, b);
    crc = crc16(matrix_sum(n, c, threshold), crc);
    matrix_add_const(n, a, static_cast<int16_t>(-scalar));
    return static_cast<int16_t>(crc);
}

uint16_t vesk_bench_matrix(matrix_params *p, int16_t scalar, uint16_t crc)
{
    return crc16(matrix_test(p->dim, p->mat_c, p->mat_a, p->mat_b, scalar), crc);
}
