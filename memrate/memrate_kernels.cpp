// memrate_kernels.cpp - the timed transfer patterns over the source and destination halves.
//
// Every word access goes through a volatile pointer: the compiler must then make each load and
// store exactly once, in program order, as one 32-bit access, and cannot merge, widen, vectorise,
// drop or turn a loop into a library call. That is what the figures measure.
#include <cstddef>   // size_t
#include <cstdint>   // uint32_t, int32_t
#include <cstring>   // memcpy

#include "memrate.h"

namespace {
constexpr int32_t passes = 10;
constexpr uint32_t fill_word = 0xA5A4B5B4u;
}

int32_t word_copy_passes(uint32_t *source, uint32_t *destination, uint32_t half_words)
{
    volatile uint32_t *const src = source;
    volatile uint32_t *const dst = destination;
    for (int32_t pass = 0; pass < passes; ++pass)
        for (uint32_t i = 0; i < half_words; ++i)
            dst[i] = src[i];
    return passes;
}

int32_t word_read_passes(uint32_t *source, uint32_t *, uint32_t half_words)
{
    volatile const uint32_t *const src = source;
    for (int32_t pass = 0; pass < passes; ++pass)
        for (uint32_t i = 0; i < half_words; ++i) {
            const uint32_t word = src[i];   // loaded and discarded
            static_cast<void>(word);
        }
    return passes;
}

int32_t word_write_passes(uint32_t *, uint32_t *destination, uint32_t half_words)
{
    volatile uint32_t *const dst = destination;
    for (int32_t pass = 0; pass < passes; ++pass)
        for (uint32_t i = 0; i < half_words; ++i)
            dst[i] = fill_word;
    return passes;
}

// The empty asm statements tell the compiler that memory may change between the copies, so it
// cannot treat a repeated copy as redundant; they emit no instruction.
int32_t memcpy_ping_pong(uint32_t *source, uint32_t *destination, uint32_t half_words)
{
    const size_t bytes = static_cast<size_t>(half_words) * 4u;
    int32_t copies = 0;
    for (int32_t round = 0; round < passes / 2; ++round) {
        memcpy(destination, source, bytes);
        asm volatile("" ::: "memory");
        memcpy(source, destination, bytes);
        asm volatile("" ::: "memory");
        copies += 2;
    }
    return copies;
}

int32_t memcpy_one_way(uint32_t *source, uint32_t *destination, uint32_t half_words)
{
    const size_t bytes = static_cast<size_t>(half_words) * 4u;
    int32_t copies = 0;
    for (; copies < passes; ++copies) {
        memcpy(destination, source, bytes);
        asm volatile("" ::: "memory");
    }
    return copies;
}

// The sweeps make 10 x stride_words passes over half_words / stride_words words each, so every
// step moves as many words as a whole-half test; the division is part of the timed work.
void stride_copy(uint32_t *source, uint32_t *destination, uint32_t half_words, uint32_t stride_words)
{
    volatile uint32_t *const src = source;
    volatile uint32_t *const dst = destination;
    const uint32_t repetitions = 10u * stride_words;
    const uint32_t n = half_words / stride_words;
    for (uint32_t r = 0; r < repetitions; ++r)
        for (uint32_t k = 0; k < n; ++k)
            dst[k * stride_words] = src[k * stride_words];
}

void stride_read(uint32_t *source, uint32_t *destination, uint32_t half_words, uint32_t stride_words)
{
    volatile uint32_t *const src = source;
    volatile uint32_t *const dst = destination;
    const uint32_t repetitions = 10u * stride_words;
    const uint32_t n = half_words / stride_words;
    for (uint32_t r = 0; r < repetitions; ++r)
        for (uint32_t k = 0; k < n; ++k)
            dst[0] = src[k * stride_words];
}

void stride_write(uint32_t *source, uint32_t *destination, uint32_t half_words, uint32_t stride_words)
{
    volatile uint32_t *const src = source;
    volatile uint32_t *const dst = destination;
    const uint32_t repetitions = 10u * stride_words;
    const uint32_t n = half_words / stride_words;
    for (uint32_t r = 0; r < repetitions; ++r)
        for (uint32_t k = 0; k < n; ++k)
            dst[k * stride_words] = src[0];
}
