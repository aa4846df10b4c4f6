// vesk_matrix.cpp - the matrix kernel: layout and fill, the matrix operations and the benchmark pass.
#include <cstdint>   // exact-width integers
#include <cstring>   // memcpy: the element moves of a C off its 4-byte boundary

#include "vesk_matrix.h"
#include "veskrane.h"

uint32_t vesk_matrix_dim(uint32_t block_size)
{
    uint32_t n = 0;
    while (block_size > 8u * static_cast<uint64_t>(n + 1u) * (n + 1u))
        ++n;
    return n;
}

// Places A, B and C for dimension n inside the area. A and B always lie on 2-byte boundaries. C lies
// on a 4-byte boundary wherever a layout allows it. Only for an even n in an area 1 byte past a 4-byte
// boundary with at most 2 spare bytes, or 2 bytes past one with 1, does none; C then lies on a 2-byte
// boundary only, mat_c is null and the kernels move its elements as bytes through mat_c_bytes.
static void place_matrices(uint8_t *area, uint32_t block_size, uint32_t n, matrix_params *p)
{
    p->dim = n;
    if (n == 0) {   // no matrix at all
        p->mat_a = p->mat_b = nullptr;
        p->mat_c = nullptr;
        p->mat_c_bytes = nullptr;
        return;
    }
    const uint64_t elems = static_cast<uint64_t>(n) * n;
    const uint32_t misalign = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(area) % 4u);
    // Usually A on the first 4-byte boundary, B right after it and C after B (on a 4-byte boundary,
    // since A and B take 4 * N * N bytes).
    uint64_t a = (4u - misalign) % 4u;
    uint64_t b = a + 2u * elems;
    uint64_t c = b + 2u * elems;
    if (c + 4u * elems > block_size) {
        // Too little room for that alignment: A from the first 2-byte boundary, then C, then B.
        // C then lands on a 4-byte boundary exactly when N is odd. 8 * N * N < block_size leaves
        // room for the one byte this may skip.
        a = misalign % 2u;
        c = a + 2u * elems;
        b = c + 4u * elems;
    }
    p->mat_a = reinterpret_cast<int16_t *>(area + a);
    p->mat_b = reinterpret_cast<int16_t *>(area + b);
    p->mat_c_bytes = area + c;
    p->mat_c = (misalign + c) % 4u == 0 ? reinterpret_cast<int32_t *>(area + c) : nullptr;
}

// Chooses N, the largest dimension with 8 * N * N < block_size, lays out the matrices and fills A
// and B from the seed. C is left as it is.
uint32_t vesk_init_matrix(uint32_t block_size, uint8_t *area, int32_t seed, matrix_params *p)
{
    const uint32_t n = vesk_matrix_dim(block_size);
    place_matrices(area, block_size, n, p);
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

// Element access to C. On its 4-byte boundary C is a plain int32_t array; off it, each element is
// copied as 4 bytes, which is defined at any address and compiles to a single load or store where
// the processor allows unaligned words.
namespace {
struct c_bytes {
    uint8_t *at;
};
} // namespace

static inline int32_t c_load(const int32_t *c, uint32_t i)
{
    return c[i];
}

static inline void c_store(int32_t *c, uint32_t i, int32_t v)
{
    c[i] = v;
}

static inline int32_t c_load(c_bytes c, uint32_t i)
{
    int32_t v;
    memcpy(&v, c.at + 4u * i, sizeof v);
    return v;
}

static inline void c_store(c_bytes c, uint32_t i, int32_t v)
{
    memcpy(c.at + 4u * i, &v, sizeof v);
}

void matrix_add_const(uint32_t n, int16_t *a, int16_t scalar)
{
    const uint32_t add = static_cast<uint16_t>(scalar);
    for (uint32_t i = 0; i < n * n; ++i)
        a[i] = static_cast<int16_t>(static_cast<uint16_t>(static_cast<uint16_t>(a[i]) + add));
}

// The operations that touch C, written once for both kinds of C (an int32_t array, or c_bytes).
template <typename C>
static void mul_const(uint32_t n, C c, const int16_t *a, int16_t scalar)
{
    for (uint32_t i = 0; i < n * n; ++i)
        c_store(c, i, static_cast<int32_t>(a[i]) * scalar);   // two 16-bit factors never overflow 32 bits
}

template <typename C>
static void mul_vect(uint32_t n, C c, const int16_t *a, const int16_t *b)
{
    for (uint32_t i = 0; i < n; ++i) {
        uint32_t sum = 0;
        for (uint32_t j = 0; j < n; ++j)
            sum += static_cast<uint32_t>(static_cast<int32_t>(a[i * n + j]) * b[j]);
        c_store(c, i, static_cast<int32_t>(sum));
    }
}

template <typename C>
static void mul_matrix(uint32_t n, C c, const int16_t *a, const int16_t *b)
{
    for (uint32_t i = 0; i < n; ++i) {
        for (uint32_t j = 0; j < n; ++j) {
            uint32_t sum = 0;
            for (uint32_t k = 0; k < n; ++k)
                sum += static_cast<uint32_t>(static_cast<int32_t>(a[i * n + k]) * b[k * n + j]);
            c_store(c, i * n + j, static_cast<int32_t>(sum));
        }
    }
}

template <typename C>
static void mul_matrix_bitextract(uint32_t n, C c, const int16_t *a, const int16_t *b)
{
    for (uint32_t i = 0; i < n; ++i) {
        for (uint32_t j = 0; j < n; ++j) {
            uint32_t sum = 0;
            for (uint32_t k = 0; k < n; ++k) {
                const uint32_t t = static_cast<uint32_t>(static_cast<int32_t>(a[i * n + k]) * b[k * n + j]);
                sum += ((t >> 2) & 0x0Fu) * ((t >> 5) & 0x7Fu);
            }
            c_store(c, i * n + j, static_cast<int32_t>(sum));
        }
    }
}

template <typename C>
static int16_t sum_matrix(uint32_t n, C c, int16_t threshold)
{
    uint32_t running = 0;
    int32_t prev = 0;
    uint32_t count = 0;
    for (uint32_t i = 0; i < n * n; ++i) {
        const int32_t cur = c_load(c, i);
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

template <typename C>
static int16_t test_sequence(uint32_t n, C c, int16_t *a, const int16_t *b, int16_t scalar)
{
    const int16_t threshold = static_cast<int16_t>(static_cast<uint16_t>(0xF000u | static_cast<uint16_t>(scalar)));
    uint16_t crc = 0;
    matrix_add_const(n, a, scalar);
    mul_const(n, c, a, scalar);
    crc = crc16(sum_matrix(n, c, threshold), crc);
    mul_vect(n, c, a, b);
    crc = crc16(sum_matrix(n, c, threshold), crc);
    mul_matrix(n, c, a, b);
    crc = crc16(sum_matrix(n, c, threshold), crc);
    mul_matrix_bitextract(n, c, a, b);
    crc = crc16(sum_matrix(n, c, threshold), crc);
    matrix_add_const(n, a, static_cast<int16_t>(-scalar));
    return static_cast<int16_t>(crc);
}

void matrix_mul_const(uint32_t n, int32_t *c, const int16_t *a, int16_t scalar)
{
    mul_const(n, c, a, scalar);
}

// C row 0 = A times the vector of B's row 0; the rest of C is left as it is.
void matrix_mul_vect(uint32_t n, int32_t *c, const int16_t *a, const int16_t *b)
{
    mul_vect(n, c, a, b);
}

void matrix_mul_matrix(uint32_t n, int32_t *c, const int16_t *a, const int16_t *b)
{
    mul_matrix(n, c, a, b);
}

// Each product t contributes bits 2-5 of t times bits 5-11 of t.
void matrix_mul_matrix_bitextract(uint32_t n, int32_t *c, const int16_t *a, const int16_t *b)
{
    mul_matrix_bitextract(n, c, a, b);
}

// Condenses C into a count: +10 whenever the running sum rises above threshold (and restarts),
// otherwise +1 for each element larger than the one before it.
int16_t matrix_sum(uint32_t n, const int32_t *c, int16_t threshold)
{
    return sum_matrix(n, c, threshold);
}

// The fixed sequence of operations on A + scalar and B, each result summed into the crc. A is
// returned to its values before the call.
int16_t matrix_test(uint32_t n, int32_t *c, int16_t *a, const int16_t *b, int16_t scalar)
{
    return test_sequence(n, c, a, b, scalar);
}

uint16_t vesk_bench_matrix(matrix_params *p, int16_t scalar, uint16_t crc)
{
    const int16_t result = p->mat_c != nullptr
                         ? test_sequence(p->dim, p->mat_c, p->mat_a, p->mat_b, scalar)
                         : test_sequence(p->dim, c_bytes{p->mat_c_bytes}, p->mat_a, p->mat_b, scalar);
    return crc16(result, crc);
}
