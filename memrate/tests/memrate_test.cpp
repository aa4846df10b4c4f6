// memrate_test.cpp - the tester's rules, result lines and transfer kernels.
#include <cstdint>   // exact-width integers
#include <cstdio>    // FILE
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "capture.h"   // printed: what a printer writes to the FILE * it is handed
#include "memrate.h"

namespace {

constexpr uint32_t mib = 1048576;

TEST(BlockSizes, FromArgument)
{
    // The argument as converted and the block it asks for, with the 32-bit wrap of the sizes.
    struct { const char *text; int32_t size_mib; uint32_t block_bytes; uint32_t alloc_bytes; } const cases[] = {
        {"64", 64, 64 * mib, 64 * mib + 4096},
        {"  64", 64, 64 * mib, 64 * mib + 4096},
        {"64MB", 64, 64 * mib, 64 * mib + 4096},
        {"+7", 7, 7 * mib, 7 * mib + 4096},
        {"010", 10, 10 * mib, 10 * mib + 4096},
        {"0", 0, 0, 4096},
        {"abc", 0, 0, 4096},
        {"", 0, 0, 4096},
        {"0x40", 0, 0, 4096},
        {"-1", -1, 0xfff00000u, 0xfff01000u},
        {"4096", 4096, 0, 4096},
        {"4097", 4097, 1 * mib, 1 * mib + 4096},
        {"99999999999", INT32_MAX, 0xfff00000u, 0xfff01000u},
        {"-99999999999", INT32_MIN, 0, 4096},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text);
        const int32_t size_mib = parse_size_mib(c.text);
        EXPECT_EQ(c.size_mib, size_mib);
        const block_sizes sizes = block_sizes_for(size_mib);
        EXPECT_EQ(c.block_bytes, sizes.block_bytes);
        EXPECT_EQ(c.alloc_bytes, sizes.alloc_bytes);
        EXPECT_EQ(c.block_bytes / 2, sizes.half_bytes);
        EXPECT_EQ(sizes.half_bytes, sizes.half_words * 4);
    }
}

TEST(AlignBlock, MovesUpToThePageBoundary)
{
    alignas(4096) static uint8_t pages[3 * 4096];
    struct { uint32_t offset; uint32_t want; } const cases[] = {
        {0, 0}, {8, 4096}, {16, 4096}, {4095, 4096}, {4096, 4096}, {4097, 8192},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.offset);
        EXPECT_EQ(pages + c.want, align_block(pages + c.offset));
    }
}

TEST(ElapsedMs, EachStampCutToWholeMilliseconds)
{
    struct { timespec start; timespec end; int32_t want; const char *what; } const cases[] = {
        {{5, 900000}, {5, 1100000}, 1, "5.0009 s to 5.0011 s crosses a millisecond"},
        {{5, 100000}, {5, 900000}, 0, "5.0001 s to 5.0009 s stays inside one"},
        {{5, 0}, {5, 0}, 0, "equal stamps"},
        {{5, 999900000}, {6, 0}, 1, "nanoseconds fall across the second"},
        {{5, 900000000}, {7, 100000000}, 1200, "negative nanosecond difference"},
        {{5, 999999999}, {6, 999999}, 1, "just under a millisecond either side of the second"},
        {{100, 250000000}, {100, 650000000}, 400, "plain difference"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(c.want, elapsed_ms(c.start, c.end));
    }
}

TEST(RateKbPerSec, ThirtyTwoBitRule)
{
    // counted_bytes is 10 x half_bytes in every test; half_bytes is size_mib x 524288.
    const auto counted = [](uint32_t size_mib) { return 10u * (size_mib * (mib / 2)); };
    struct { uint32_t counted_bytes; int32_t elapsed; int32_t want; const char *what; } const cases[] = {
        {counted(64), 400, 64 * 10 * 512 * 1000 / 400, "64 MiB in 400 ms"},
        {counted(1), 3, 1706666, "truncates"},
        {counted(409), 1000, 2094080, "largest block that does not wrap"},
        {counted(410), 1000, -2095104, "410 MiB: the byte count wraps negative"},
        {counted(410), 7, -299300571, "negative quotient truncates toward zero"},
        {0, 5, 0, "empty block that still took time"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        const rate_result rate = rate_kb_per_sec(c.counted_bytes, c.elapsed);
        EXPECT_TRUE(rate.timed);
        EXPECT_EQ(c.want, rate.kb_per_sec);
    }
}

TEST(RateKbPerSec, ZeroElapsedHasNoRate)
{
    for (const uint32_t counted_bytes : {0u, 10u * mib / 2, 10u * 205u * mib}) {
        SCOPED_TRACE(counted_bytes);
        EXPECT_FALSE(rate_kb_per_sec(counted_bytes, 0).timed);
    }
}

TEST(ResultLines, PassTests)
{
    struct { const char *label; int32_t elapsed; rate_result rate; const char *want; } const cases[] = {
        {"Read/Write ", 400, {true, 819200},
         "Read/Write   0: 10 times, 33554432 bytes,  400 msec => 819200 KB/sec\n"},
        {"Read  ", 12345, {true, 2718}, "Read    0: 10 times, 33554432 bytes, 12345 msec =>   2718 KB/sec\n"},
        {"Write ", 7, {true, -299300571}, "Write   0: 10 times, 33554432 bytes,    7 msec => -299300571 KB/sec\n"},
        {"Read/Write ", 0, {false, 0}, "Read/Write   0: 10 times, 33554432 bytes,    0 msec =>      - KB/sec\n"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.want);
        EXPECT_EQ(c.want, printed([&](FILE *out) {
            print_pass_result(out, c.label, 10, 32 * mib, c.elapsed, c.rate);
        }));
    }
}

TEST(ResultLines, StrideSteps)
{
    struct { const char *label; uint32_t half_bytes; uint32_t stride_words; int32_t elapsed; rate_result rate;
             const char *want; } const cases[] = {
        {"Read/Write  ", 524288, 1, 3, {true, 1706666},
         "Read/Write    524288 bytes, skip    4 bytes    3 msec => 1706666 KB/sec\n"},
        {"Read  ", 32 * mib, 512, 80, {true, 4096000},
         "Read  33554432 bytes, skip 2048 bytes   80 msec => 4096000 KB/sec\n"},
        {"Write  ", 0, 16, 0, {false, 0}, "Write         0 bytes, skip   64 bytes    0 msec =>      - KB/sec\n"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.want);
        EXPECT_EQ(c.want, printed([&](FILE *out) {
            print_stride_result(out, c.label, c.half_bytes, c.stride_words, c.elapsed, c.rate);
        }));
    }
}

// Two halves with distinct words in the source and a marker in the destination, so that a test can
// see which words each kernel read and wrote.
struct halves {
    static constexpr uint32_t words = 1024;   // a multiple of the largest stride
    static constexpr uint32_t marker = 0xdeadbeefu;
    std::vector<uint32_t> source = std::vector<uint32_t>(words);
    std::vector<uint32_t> destination = std::vector<uint32_t>(words, marker);
    halves()
    {
        for (uint32_t i = 0; i < words; ++i)
            source[i] = 0x10000u + i;
    }
};

TEST(Kernels, WholeHalfPasses)
{
    using kernel = int32_t (*)(uint32_t *, uint32_t *, uint32_t);
    struct { const char *name; kernel run; bool copies; bool fills; } const cases[] = {
        {"word_copy_passes", word_copy_passes, true, false},
        {"memcpy_ping_pong", memcpy_ping_pong, true, false},
        {"memcpy_one_way", memcpy_one_way, true, false},
        {"word_read_passes", word_read_passes, false, false},
        {"word_write_passes", word_write_passes, false, true},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        halves h;
        const std::vector<uint32_t> original = h.source;
        EXPECT_EQ(10, c.run(h.source.data(), h.destination.data(), halves::words));
        EXPECT_EQ(original, h.source);
        std::vector<uint32_t> want(halves::words, halves::marker);
        if (c.copies)
            want = original;
        if (c.fills)
            want.assign(halves::words, 0xA5A4B5B4u);
        EXPECT_EQ(want, h.destination);

        // An empty block: every pass still runs, and no word is touched.
        halves empty;
        EXPECT_EQ(10, c.run(empty.source.data(), empty.destination.data(), 0));
        EXPECT_EQ(std::vector<uint32_t>(halves::words, halves::marker), empty.destination);
    }
}

TEST(Kernels, StrideSweepsAgainstReference)
{
    using kernel = void (*)(uint32_t *, uint32_t *, uint32_t, uint32_t);
    enum class pattern { copy, read, write };
    struct { const char *name; kernel run; pattern what; } const cases[] = {
        {"stride_copy", stride_copy, pattern::copy},
        {"stride_read", stride_read, pattern::read},
        {"stride_write", stride_write, pattern::write},
    };
    for (const auto &c : cases) {
        for (uint32_t stride = 1; stride <= 512; stride *= 2) {
            SCOPED_TRACE(testing::Message() << c.name << " stride " << stride);
            halves h;
            const std::vector<uint32_t> original = h.source;
            std::vector<uint32_t> want = h.destination;
            for (uint32_t k = 0; k < halves::words / stride; ++k) {
                if (c.what == pattern::copy)
                    want[k * stride] = original[k * stride];
                else if (c.what == pattern::read)
                    want[0] = original[k * stride];   // every load lands in word 0
                else
                    want[k * stride] = original[0];   // every store takes word 0
            }
            c.run(h.source.data(), h.destination.data(), halves::words, stride);
            EXPECT_EQ(original, h.source);
            EXPECT_EQ(want, h.destination);
        }
        halves empty;
        c.run(empty.source.data(), empty.destination.data(), 0, 512);
        EXPECT_EQ(std::vector<uint32_t>(halves::words, halves::marker), empty.destination);
    }
}

} // namespace
