// memrate_driver.cpp - the block set-up, the nine tests in report order and the release.
#include <cinttypes>     // PRIxPTR
#include <cstdint>       // uint8_t, uint32_t, int32_t, uintptr_t
#include <cstdio>        // printf, puts
#include <cstdlib>       // malloc, free
#include <ctime>         // clock_gettime, CLOCK_MONOTONIC
#include <sys/mman.h>    // munlock

#include "memrate.h"

namespace {

// A test that makes one measurement over the whole halves.
struct pass_test {
    const char *heading;
    const char *label;
    int32_t (*run)(uint32_t *source, uint32_t *destination, uint32_t half_words);
};

// A test that makes one measurement per stride.
struct sweep_test {
    const char *heading;
    const char *label;
    void (*run)(uint32_t *source, uint32_t *destination, uint32_t half_words, uint32_t stride_words);
};

constexpr pass_test pass_tests[] = {
    {"\n(1) Memory read/write test through 32-bit pointer access", "Read/Write ", word_copy_passes},
    {"\n(2) Memory read/write test through 32-bit pointer access", "Read/Write ", word_copy_passes},
    {"\n(3) Memory read/write test through memcpy()", "Read/Write ", memcpy_ping_pong},
    {"\n(4) Memory read/write test through memcpy(prefetch version)", "Read/Write ", memcpy_one_way},
    {"\n(5) Memory read test", "Read  ", word_read_passes},
    {"\n(6) Memory write test", "Write ", word_write_passes},
};

constexpr sweep_test sweep_tests[] = {
    {"\n(7) Memory read/write test", "Read/Write  ", stride_copy},
    {"\n(8) Memory read test", "Read  ", stride_read},
    {"\n(9) Memory write test", "Write  ", stride_write},
};

constexpr uint32_t max_stride_words = 512;

} // namespace

void run_memory_tests(int32_t size_mib)
{
    const block_sizes sizes = block_sizes_for(size_mib);
    uint8_t *const raw_block = static_cast<uint8_t *>(malloc(sizes.alloc_bytes));
    if (raw_block == nullptr) {
        puts(" Error :: malloc failed");
        return;
    }
    // Addresses show at least eight digits, and every digit on a host with wider addresses.
    printf(" Allocated %d bytes at 0x%08" PRIxPTR "\n", static_cast<int32_t>(sizes.alloc_bytes),
           reinterpret_cast<uintptr_t>(raw_block));

    // Both halves start on a page boundary; the extra 4096 bytes leave room to move up.
    uint8_t *const aligned_base = align_block(raw_block);
    if (aligned_base != raw_block)
        printf(" Aligned at 0x%08" PRIxPTR "\n", reinterpret_cast<uintptr_t>(aligned_base));
    const uint32_t half_bytes = sizes.half_bytes;
    const uint32_t half_words = sizes.half_words;
    uint32_t *const source = reinterpret_cast<uint32_t *>(aligned_base);
    uint32_t *const destination = reinterpret_cast<uint32_t *>(aligned_base + half_bytes);

    puts("mem mode 0: source cachable, dest cachable");
    printf(" Read from : %p\n", static_cast<void *>(source));
    printf(" Write to  : %p\n", static_cast<void *>(destination));
    printf(" Size : %x\n", half_bytes);
    puts("\nMemory read/write test");

    // Only the pattern lies between the two clock reads; arithmetic and output follow the second.
    timespec start{};
    timespec end{};
    for (const pass_test &test : pass_tests) {
        puts(test.heading);
        clock_gettime(CLOCK_MONOTONIC, &start);
        const int32_t times = test.run(source, destination, half_words);
        clock_gettime(CLOCK_MONOTONIC, &end);
        const int32_t elapsed = elapsed_ms(start, end);
        const uint32_t counted_bytes = static_cast<uint32_t>(times) * half_bytes;
        print_pass_result(stdout, test.label, times, half_bytes, elapsed,
                          rate_kb_per_sec(counted_bytes, elapsed));
    }
    for (const sweep_test &test : sweep_tests) {
        puts(test.heading);
        for (uint32_t stride_words = 1; stride_words <= max_stride_words; stride_words *= 2) {
            clock_gettime(CLOCK_MONOTONIC, &start);
            test.run(source, destination, half_words, stride_words);
            clock_gettime(CLOCK_MONOTONIC, &end);
            const int32_t elapsed = elapsed_ms(start, end);
            const uint32_t repetitions = 10u * stride_words;
            const int32_t bytes_per_pass =
                static_cast<int32_t>(half_bytes) / static_cast<int32_t>(stride_words);
            const uint32_t counted_bytes = repetitions * static_cast<uint32_t>(bytes_per_pass);
            print_stride_result(stdout, test.label, half_bytes, stride_words, elapsed,
                                rate_kb_per_sec(counted_bytes, elapsed));
        }
    }

    // The block was never locked; the call is kept so a locked block would be released too.
    munlock(raw_block, sizes.alloc_bytes);
    free(raw_block);
}
