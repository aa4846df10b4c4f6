// memrate_rules.cpp - argument conversion, elapsed time, rate arithmetic and result lines.
#include <cstdint>    // int32_t, uint32_t, uint8_t, uintptr_t, INT32_MIN, INT32_MAX
#include <cstdio>     // fprintf
#include <cstdlib>    // strtol

#include "memrate.h"

int32_t parse_size_mib(const char *text)
{
    // strtol saturates at the range of long, which is wider than 32 bits on a 64-bit host.
    const long value = strtol(text, nullptr, 10);
    if (value > INT32_MAX)
        return INT32_MAX;
    if (value < INT32_MIN)
        return INT32_MIN;
    return static_cast<int32_t>(value);
}

block_sizes block_sizes_for(int32_t size_mib)
{
    // 4096 MiB wraps to an empty block; block_bytes is a multiple of 2^20, so the 4096 never wraps.
    const uint32_t block_bytes = static_cast<uint32_t>(size_mib) << 20;
    return {block_bytes, block_bytes + 4096u, block_bytes >> 1, block_bytes >> 3};
}

uint8_t *align_block(uint8_t *raw)
{
    const uint32_t misalign = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(raw) & 0xfffu);
    return misalign == 0 ? raw : raw + (4096u - misalign);
}

int32_t elapsed_ms(const timespec &start, const timespec &end)
{
    const uint32_t secs = static_cast<uint32_t>(end.tv_sec) - static_cast<uint32_t>(start.tv_sec);
    const uint32_t ms = secs * 1000u + static_cast<uint32_t>(end.tv_nsec / 1000000)
                      - static_cast<uint32_t>(start.tv_nsec / 1000000);
    return static_cast<int32_t>(ms);   // wraps as the 32-bit arithmetic of the target does
}

rate_result rate_kb_per_sec(uint32_t counted_bytes, int32_t elapsed)
{
    // A run inside one millisecond has no rate: the division is never made.
    if (elapsed == 0)
        return {false, 0};
    // The byte count is read as signed, so from 410 MiB on it wraps negative, as on the target.
    // |kb_moved| is at most 2^21, so kb_moved x 1000 and the quotient stay inside 32 bits.
    const int32_t kb_moved = static_cast<int32_t>(counted_bytes) / 1024;
    return {true, kb_moved * 1000 / elapsed};
}

// The common end of every result line; an untimed run shows "-" in the rate column.
static void print_rate_tail(FILE *out, int32_t elapsed, rate_result rate)
{
    if (rate.timed)
        fprintf(out, "%4d msec => %6d KB/sec\n", elapsed, rate.kb_per_sec);
    else
        fprintf(out, "%4d msec => %6s KB/sec\n", elapsed, "-");
}

void print_pass_result(FILE *out, const char *label, int32_t times, uint32_t half_bytes,
                       int32_t elapsed, rate_result rate)
{
    // The first field counts the repetitions left when the run ended: always 0.
    fprintf(out, "%s%3d: %d times, %8d bytes, ", label, 0, times, static_cast<int32_t>(half_bytes));
    print_rate_tail(out, elapsed, rate);
}

void print_stride_result(FILE *out, const char *label, uint32_t half_bytes, uint32_t stride_words,
                         int32_t elapsed, rate_result rate)
{
    fprintf(out, "%s%8d bytes, skip %4d bytes ", label, static_cast<int32_t>(half_bytes),
            static_cast<int32_t>(stride_words * 4u));
    print_rate_tail(out, elapsed, rate);
}
