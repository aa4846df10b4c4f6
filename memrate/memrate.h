// memrate.h - the memory bandwidth tester's rules, transfer kernels and driver.
#pragma once

#include <cstdint>   // exact-width integers
#include <cstdio>    // FILE
#include <ctime>     // timespec

// Block-size argument in MiB: strtol in base 10, clamped to the signed 32-bit range.
int32_t parse_size_mib(const char *text);

// The sizes derived from the argument, modulo 2^32 as on the 32-bit target.
struct block_sizes {
    uint32_t block_bytes;   // size_mib x 1048576
    uint32_t alloc_bytes;   // block_bytes + 4096, asked from malloc
    uint32_t half_bytes;    // bytes in each of the source and destination halves
    uint32_t half_words;    // 32-bit words in each half
};
block_sizes block_sizes_for(int32_t size_mib);

// The first 4096-byte boundary at or above raw: raw itself when it already lies on one.
uint8_t *align_block(uint8_t *raw);

// Elapsed milliseconds between two stamps; each stamp is cut to whole milliseconds first.
int32_t elapsed_ms(const timespec &start, const timespec &end);

// A measured rate; `timed` is false when the run took 0 ms and no rate can be computed.
struct rate_result {
    bool timed;
    int32_t kb_per_sec;
};

// (counted_bytes / 1024) * 1000 / elapsed, in the 32-bit arithmetic of the target.
rate_result rate_kb_per_sec(uint32_t counted_bytes, int32_t elapsed);

// Result line of a whole-half test: label, repetitions left, times, bytes, msec, rate.
void print_pass_result(FILE *out, const char *label, int32_t times, uint32_t half_bytes,
                       int32_t elapsed, rate_result rate);

// Result line of one step of a strided sweep: label, bytes, skip, msec, rate.
void print_stride_result(FILE *out, const char *label, uint32_t half_bytes, uint32_t stride_words,
                         int32_t elapsed, rate_result rate);

// Whole-half tests: ten passes each; they return the number of passes (or copies) made.
int32_t word_copy_passes(uint32_t *source, uint32_t *destination, uint32_t half_words);
int32_t word_read_passes(uint32_t *source, uint32_t *destination, uint32_t half_words);
int32_t word_write_passes(uint32_t *source, uint32_t *destination, uint32_t half_words);
int32_t memcpy_ping_pong(uint32_t *source, uint32_t *destination, uint32_t half_words);
int32_t memcpy_one_way(uint32_t *source, uint32_t *destination, uint32_t half_words);

// One step of a strided sweep: 10 x stride_words passes over every stride_words-th word.
void stride_copy(uint32_t *source, uint32_t *destination, uint32_t half_words, uint32_t stride_words);
void stride_read(uint32_t *source, uint32_t *destination, uint32_t half_words, uint32_t stride_words);
void stride_write(uint32_t *source, uint32_t *destination, uint32_t half_words, uint32_t stride_words);

// The whole run: allocation, set-up lines, the nine tests and the release; output on stdout.
void run_memory_tests(int32_t size_mib);
