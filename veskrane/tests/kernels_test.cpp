// kernels_test.cpp - the CRC routines, the list, matrix and state kernels, the list pass and iterate.
#include <gtest/gtest.h>

#include <algorithm>   // std::all_of, std::equal, std::fill, std::stable_sort
#include <cstdint>     // exact-width integers
#include <string>      // token texts
#include <vector>      // working blocks and reference lists

#include "vesk_list_join.h"
#include "vesk_matrix.h"
#include "vesk_state.h"
#include "veskrane.h"

namespace {

// ---- helpers ----

// Byte-wise CRC-16/ARC written independently of the routines under test.
uint16_t ref_crc(const std::vector<uint8_t> &bytes, uint16_t crc = 0)
{
    uint32_t c = crc;
    for (const uint8_t b : bytes) {
        c ^= b;
        for (int i = 0; i < 8; ++i)
            c = (c & 1u) ? (c >> 1) ^ 0xA001u : c >> 1;
    }
    return static_cast<uint16_t>(c);
}

// crc16 of value folded times times, from crc.
uint16_t fold_times(int16_t value, uint32_t times, uint16_t crc = 0)
{
    for (uint32_t i = 0; i < times; ++i)
        crc = crc16(value, crc);
    return crc;
}

// Contexts made by the driver's own preparation for a working set of three areas of `area` bytes
// (all three kernels, every kernel initialised); the tests run context 0. The blocks go with it.
struct prepared_contexts {
    run_context c[max_contexts] = {};

    bool prepare(int16_t s1, int16_t s2, int16_t s3, uint32_t area, uint32_t iterations)
    {
        c[0].seed1 = s1;
        c[0].seed2 = s2;
        c[0].seed3 = s3;
        c[0].exec_flags = 7;
        if (!vesk_prepare_contexts(c, 3u * area))
            return false;
        c[0].iterations = iterations;
        return true;
    }
    ~prepared_contexts()
    {
        for (run_context &r : c)
            portable_free(r.mem_blocks[0]);
    }
};

struct record {
    uint8_t pattern;
    int16_t key;
};

// The data records of a list, as (pattern byte, key), without the head and the tail.
std::vector<record> data_records(const list_node *list)
{
    std::vector<record> out;
    for (; list != nullptr; list = list->next) {
        const list_item *it = list->item;
        if (it->value == 0x8080 || it->value == 0xFFFF)
            continue;
        out.push_back({static_cast<uint8_t>(it->value >> 8), it->key});
    }
    return out;
}

uint32_t node_count(const list_node *list)
{
    uint32_t n = 0;
    for (; list != nullptr; list = list->next)
        ++n;
    return n;
}

// ---- CRC-16 ----

TEST(Crc, BytesAgainstReference)
{
    for (uint32_t crc = 0; crc < 0x10000u; crc += 0x0101u) {
        for (uint32_t b = 0; b < 256; ++b) {
            const uint16_t want = ref_crc({static_cast<uint8_t>(b)}, static_cast<uint16_t>(crc));
            ASSERT_EQ(want, crcu8(static_cast<uint8_t>(b), static_cast<uint16_t>(crc))) << "byte " << b << " crc " << crc;
        }
    }
}

TEST(Crc, KnownValuesAndWiderForms)
{
    uint16_t crc = 0;
    for (const char *p = "123456789"; *p != '\0'; ++p)
        crc = crcu8(static_cast<uint8_t>(*p), crc);
    EXPECT_EQ(0xBB3D, crc);
    EXPECT_EQ(0, crcu8(0, 0));
    EXPECT_EQ(0xD4C1, crcu8(0x31, 0));

    struct { uint32_t value; uint16_t start; } const cases[] = {
        {0x00000000u, 0}, {0x12345678u, 0}, {0xFFFFFFFFu, 0}, {0x80000001u, 0x1234}, {0x0000FFFFu, 0xFFFF},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.value);
        const uint8_t b0 = static_cast<uint8_t>(c.value), b1 = static_cast<uint8_t>(c.value >> 8);
        const uint8_t b2 = static_cast<uint8_t>(c.value >> 16), b3 = static_cast<uint8_t>(c.value >> 24);
        // Low byte first, whatever the machine's byte order.
        EXPECT_EQ(ref_crc({b0, b1}, c.start), crcu16(static_cast<uint16_t>(c.value), c.start));
        EXPECT_EQ(ref_crc({b0, b1}, c.start), crc16(static_cast<int16_t>(static_cast<uint16_t>(c.value)), c.start));
        EXPECT_EQ(ref_crc({b0, b1, b2, b3}, c.start), crcu32(c.value, c.start));
    }
    EXPECT_EQ(crcu16(0xFFFF, 0), crc16(-1, 0));
    EXPECT_EQ(0xCD96, crcu16(0x1234, 0));
}

// ---- list kernel ----

TEST(ListInit, SlotLayout)
{
    // Nodes fill the start of the area, payloads follow the last node slot; the last slot of each
    // array stays free.
    for (const uint32_t size : {120u, 200u, 400u, 666u, 2000u}) {
        SCOPED_TRACE(size);
        alignas(16) static uint8_t area[2000];
        list_node *head = vesk_list_init(size, area, 0);
        const uint32_t slots = size / 20u - 2u;
        list_node *const nodes = reinterpret_cast<list_node *>(area);
        list_item *const items = reinterpret_cast<list_item *>(nodes + slots);
        ASSERT_EQ(nodes, head);
        EXPECT_EQ(0, head->item - items);
        EXPECT_LE(reinterpret_cast<uint8_t *>(items + slots), area + size);
        EXPECT_EQ(slots - 1u, node_count(head));
        std::vector<bool> node_used(slots), item_used(slots);
        for (list_node *n = head; n != nullptr; n = n->next) {
            const int64_t ni = n - nodes, ii = n->item - items;
            ASSERT_TRUE(ni >= 0 && ni < int64_t{slots} - 1 && ii >= 0 && ii < int64_t{slots} - 1);
            EXPECT_FALSE(node_used[static_cast<size_t>(ni)] || item_used[static_cast<size_t>(ii)]);
            node_used[static_cast<size_t>(ni)] = item_used[static_cast<size_t>(ii)] = true;
        }
    }
}

TEST(ListInit, Contents)
{
    struct {
        const char *label;
        uint32_t size;
        int16_t seed;
        std::vector<record> first;
    } const cases[] = {
        {"200, seed 0", 200, 0, {{0x24, 0x201}, {0x1B, 0x302}, {0x12, 0x403}, {0x09, 0x504}, {0x00, 0x605}}},
        {"666, seed 0", 666, 0, {{0x5B, 1}, {0x52, 2}, {0x49, 3}, {0x40, 4}, {0x3F, 5}, {0x2D, 7}}},
        {"400, seed -5", 400, -5, {{0x2E, 1}, {0x35, 2}, {0x7C, 0x3FF0}}},
        {"666, seed 7", 666, 7, {{0x15, 0}, {0x63, 1}}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.label);
        alignas(16) static uint8_t area[2000];
        const list_node *head = vesk_list_init(c.size, area, c.seed);
        ASSERT_NE(nullptr, head);
        EXPECT_EQ(0x8080, head->item->value);
        EXPECT_EQ(0, head->item->key);
        const std::vector<record> recs = data_records(head);
        ASSERT_EQ(c.size / 20u - 5u, recs.size());
        for (size_t i = 0; i < c.first.size(); ++i) {
            EXPECT_EQ(c.first[i].pattern, recs[i].pattern) << "record " << i;
            EXPECT_EQ(c.first[i].key, recs[i].key) << "record " << i;
        }
        const list_node *last = head;
        for (const list_node *n = head; n->next != nullptr; n = n->next) {
            EXPECT_LE(n->item->key, n->next->item->key);
            const uint32_t v = n->next->item->value;
            if (v != 0xFFFF) {
                EXPECT_EQ(v >> 8, v & 0xFFu);
            }
            last = n->next;
        }
        EXPECT_EQ(0xFFFF, last->item->value);
        EXPECT_EQ(0x7FFF, last->item->key);
    }
}

TEST(ListInit, AreaTooSmallOrUnaligned)
{
    alignas(16) static uint8_t area[200];
    EXPECT_EQ(nullptr, vesk_list_init(0, area, 0));
    EXPECT_EQ(nullptr, vesk_list_init(vesk_list_min_size - 1u, area, 0));
    list_node *head = vesk_list_init(vesk_list_min_size, area, 0);
    ASSERT_NE(nullptr, head);
    EXPECT_EQ(3u, node_count(head));

    // An area that is not aligned for a node: the nodes start at the next aligned address and the
    // list still ends inside the area.
    std::vector<uint8_t> block(200 + 1);
    head = vesk_list_init(200, block.data() + 1, 0);
    ASSERT_NE(nullptr, head);
    EXPECT_EQ(0u, reinterpret_cast<uintptr_t>(head) % alignof(list_node));
    EXPECT_EQ(7u, node_count(head));
    for (const list_node *n = head; n != nullptr; n = n->next)
        EXPECT_LE(reinterpret_cast<const uint8_t *>(n->item + 1), block.data() + block.size());
}

TEST(ListPrimitives, RemoveAndUndoRestore)
{
    alignas(16) static uint8_t area[666];
    list_node *head = vesk_list_init(666, area, 0);
    std::vector<std::pair<list_node *, list_item *>> before;
    for (list_node *n = head; n != nullptr; n = n->next)
        before.emplace_back(n, n->item);
    for (const size_t pos : {size_t{0}, size_t{1}, size_t{13}, before.size() - 2}) {
        SCOPED_TRACE(pos);
        list_node *holder = before[pos].first;
        list_node *detached = vesk_list_remove(holder);
        EXPECT_EQ(before[pos + 1].first, detached);
        EXPECT_EQ(before[pos].second, detached->item);
        EXPECT_EQ(before[pos + 1].second, holder->item);
        EXPECT_EQ(nullptr, detached->next);
        EXPECT_EQ(before.size() - 1, node_count(head));
        EXPECT_EQ(detached, vesk_list_undo_remove(detached, holder));
        size_t i = 0;
        for (list_node *n = head; n != nullptr; n = n->next, ++i) {
            ASSERT_LT(i, before.size());
            EXPECT_EQ(before[i].first, n);
            EXPECT_EQ(before[i].second, n->item);
        }
        EXPECT_EQ(before.size(), i);
    }
}

TEST(ListPrimitives, FindByKeyAndByValueByte)
{
    alignas(16) static uint8_t area[200];
    list_node *head = vesk_list_init(200, area, 0);
    struct { const char *label; uint16_t value; int16_t key; int32_t want_pattern; } const cases[] = {
        {"key 0x403", 0, 0x403, 0x12},
        {"key 0 is the head", 0, 0, 0x80},
        {"absent key", 0, 0x404, -1},
        {"value 0x1B", 0x1B, -1, 0x1B},
        {"value 128 is the head's low byte", 128, -1, 0x80},
        {"value 255 is the tail's low byte", 255, -1, 0xFF},
        {"value 256 never matches", 256, -1, -1},
        {"value -1 never matches", 0xFFFF, -1, -1},
        {"value 0x1B00 never matches", 0x1B00, -5, -1},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.label);
        const list_item info = {c.value, c.key};
        const list_node *hit = vesk_list_find(head, &info);
        if (c.want_pattern < 0) {
            EXPECT_EQ(nullptr, hit);
        } else {
            ASSERT_NE(nullptr, hit);
            EXPECT_EQ(c.want_pattern, hit->item->value >> 8);
        }
    }
    const list_item any = {0, 0};
    EXPECT_EQ(nullptr, vesk_list_find(nullptr, &any));
}

TEST(ListPrimitives, ReverseAndEmptyLists)
{
    EXPECT_EQ(nullptr, vesk_list_reverse(nullptr));
    EXPECT_EQ(nullptr, vesk_list_mergesort(nullptr, cmp_idx, nullptr));
    list_item items[4] = {};
    list_node nodes[4] = {};
    for (int i = 0; i < 4; ++i) {
        nodes[i].item = &items[i];
        nodes[i].next = i < 3 ? &nodes[i + 1] : nullptr;
    }
    list_node *r = vesk_list_reverse(&nodes[0]);
    for (int i = 3; i >= 0; --i, r = r->next)
        EXPECT_EQ(&nodes[i], r);
    EXPECT_EQ(nullptr, r);
}

// Sorts of lists of every length up to 40 with few distinct keys come out in the order of a stable
// sort; a sort without context also restores every value to its pattern byte in both bytes (every
// node of a list of two or more takes part in a comparison).
TEST(ListMergesort, StableAgainstReference)
{
    for (uint32_t len = 1; len <= 40; ++len) {
        SCOPED_TRACE(len);
        std::vector<list_item> items(len);
        std::vector<list_node> nodes(len);
        for (uint32_t i = 0; i < len; ++i) {
            const uint32_t pattern = (i * 37u + len) & 0x7Fu;
            items[i].value = static_cast<uint16_t>((pattern << 8) | 0x80u | (i & 0x7Fu));   // a cached result
            items[i].key = static_cast<int16_t>((i * 7u + len) % 5u) - 2;
            nodes[i].item = &items[i];
            nodes[i].next = i + 1 < len ? &nodes[i + 1] : nullptr;
        }
        std::vector<list_item *> want(len);
        for (uint32_t i = 0; i < len; ++i)
            want[i] = &items[i];
        std::stable_sort(want.begin(), want.end(), [](const list_item *a, const list_item *b) { return a->key < b->key; });

        list_node *sorted = vesk_list_mergesort(&nodes[0], cmp_idx, nullptr);
        uint32_t i = 0;
        for (list_node *n = sorted; n != nullptr; n = n->next, ++i) {
            ASSERT_LT(i, len);
            EXPECT_EQ(want[i], n->item) << "position " << i;
            if (len > 1) {
                EXPECT_EQ(n->item->value >> 8, n->item->value & 0xFFu);
            }
        }
        EXPECT_EQ(len, i);
    }
}

TEST(ListMergesort, ContextKeepsCachedValues)
{
    list_item items[3] = {{0x1292, 2}, {0x0980, 1}, {0x7FFF, 0}};
    list_node nodes[3] = {{&nodes[1], &items[0]}, {&nodes[2], &items[1]}, {nullptr, &items[2]}};
    run_context ctx{};
    list_node *sorted = vesk_list_mergesort(&nodes[0], cmp_idx, &ctx);
    EXPECT_EQ(&items[2], sorted->item);
    EXPECT_EQ(0x1292, items[0].value);
    EXPECT_EQ(0x0980, items[1].value);
}

// ---- matrix kernel ----

TEST(Matrix, Dimensions)
{
    struct { uint32_t size; uint32_t n; } const cases[] = {
        {0, 0}, {8, 0}, {9, 1}, {72, 2}, {73, 3}, {400, 7}, {666, 9}, {2000, 15}, {32767, 63},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.size);
        EXPECT_EQ(c.n, vesk_matrix_dim(c.size));
        alignas(4) static uint8_t area[32768];
        matrix_params p{};
        EXPECT_EQ(c.n, vesk_init_matrix(c.size, area, 1, &p));
        EXPECT_EQ(c.n, p.dim);
    }
}

TEST(Matrix, FirstElements)
{
    struct {
        const char *label;
        int32_t seed;
        int16_t a[6];
        int16_t b[6];
    } const cases[] = {
        {"seed 0 as 1", 0, {3, 6, 12, 32, 130, 220}, {2, 4, 9, 28, 125, 726}},
        {"seed -1", -1, {1, 2, 0, 240, 146, 60}, {0, 0, -3, -20, -115, -714}},
        {"seed 0x34153415", 0x34153415, {23, 46, 132, 0, 226, 28}, {0x3416, 0, 0, 0, 0, 0}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.label);
        alignas(4) static uint8_t area[666];
        matrix_params p{};
        ASSERT_EQ(9u, vesk_init_matrix(666, area, c.seed, &p));
        for (int i = 0; i < 6; ++i)
            EXPECT_EQ(c.a[i], p.mat_a[i]) << "A[" << i << "]";
        EXPECT_EQ(c.b[0], p.mat_b[0]);
        if (c.seed != 0x34153415) {
            for (int i = 1; i < 6; ++i)
                EXPECT_EQ(c.b[i], p.mat_b[i]) << "B[" << i << "]";
        } else {
            EXPECT_LT(p.mat_b[3], 0);
        }
    }
}

TEST(Matrix, TestFoldsTheFourSums)
{
    alignas(4) static uint8_t area[666];
    matrix_params p{};
    const uint32_t n = vesk_init_matrix(666, area, 0, &p);
    std::vector<int16_t> a_before(p.mat_a, p.mat_a + n * n);
    const int16_t threshold = 0x11 - 4096;

    // The steps one by one: the four sums of the sequence.
    matrix_add_const(n, p.mat_a, 0x11);
    matrix_mul_const(n, p.mat_c, p.mat_a, 0x11);
    EXPECT_EQ(810, matrix_sum(n, p.mat_c, threshold));
    matrix_mul_vect(n, p.mat_c, p.mat_a, p.mat_b);
    EXPECT_EQ(73, matrix_sum(n, p.mat_c, threshold));
    matrix_mul_matrix(n, p.mat_c, p.mat_a, p.mat_b);
    EXPECT_EQ(83, matrix_sum(n, p.mat_c, threshold));
    matrix_mul_matrix_bitextract(n, p.mat_c, p.mat_a, p.mat_b);
    EXPECT_EQ(810, matrix_sum(n, p.mat_c, threshold));
    matrix_add_const(n, p.mat_a, -0x11);
    EXPECT_TRUE(std::equal(a_before.begin(), a_before.end(), p.mat_a));

    const uint16_t want = crc16(810, crc16(83, crc16(73, crc16(810, 0))));
    EXPECT_EQ(static_cast<int16_t>(want), matrix_test(n, p.mat_c, p.mat_a, p.mat_b, 0x11));
    EXPECT_EQ(crc16(static_cast<int16_t>(want), 0x1234), vesk_bench_matrix(&p, 0x11, 0x1234));
    for (const int16_t scalar : {int16_t{0}, int16_t{0xFF}, int16_t{-32768}, int16_t{32767}}) {
        matrix_test(n, p.mat_c, p.mat_a, p.mat_b, scalar);
        EXPECT_TRUE(std::equal(a_before.begin(), a_before.end(), p.mat_a)) << scalar;
    }
}

TEST(Matrix, ProductsWrapAndBitFields)
{
    // One element: products of extreme 16-bit values, the bit fields of a negative product.
    int16_t a[1] = {-32768};
    int16_t b[1] = {-32768};
    int32_t c[1] = {};
    matrix_mul_matrix(1, c, a, b);
    EXPECT_EQ(0x40000000, c[0]);
    matrix_mul_const(1, c, a, -32768);
    EXPECT_EQ(0x40000000, c[0]);
    a[0] = -3;
    b[0] = 11;   // t = -33 = ...11011111: bits 2-5 are 0b0111, bits 5-11 are 0b1111110
    matrix_mul_matrix_bitextract(1, c, a, b);
    EXPECT_EQ(7 * 126, c[0]);

    // 2 x 2 sums that wrap past 2^31.
    int16_t a2[4] = {-32768, -32768, 1, 1};
    int16_t b2[4] = {-32768, 1, -32768, 1};
    int32_t c2[4] = {};
    matrix_mul_matrix(2, c2, a2, b2);
    EXPECT_EQ(INT32_MIN, c2[0]);
    matrix_mul_vect(2, c2, a2, b2);
    EXPECT_EQ(static_cast<int32_t>(0x40000000 - 32768), c2[0]);

    // The running sum wraps to 0 after two minimal elements, which is above a threshold of -1 but
    // not of 5; below the threshold only rising elements count.
    const int32_t c3[4] = {INT32_MIN, INT32_MIN, 1, 2};
    EXPECT_EQ(30, matrix_sum(2, c3, -1));
    EXPECT_EQ(2, matrix_sum(2, c3, 5));
    EXPECT_EQ(0, matrix_sum(0, c3, -1));
}

// Every area size from 9 to 4100 bytes at every start offset from a 4-byte boundary: the dimension is
// the largest with 8 * N * N < size; A, B and C lie inside the area and apart, A and B on 2-byte
// boundaries; C is on a 4-byte boundary (mat_c set) except where no layout allows it (an even N, an
// area starting 1 byte past a boundary with at most 2 spare bytes or 2 bytes past with 1); the first
// and last elements of A and B hold the fill rule's values. Where the layouts differ (up to 4 spare
// bytes), a matrix test writes nothing outside the area and gives the result of an aligned area.
TEST(Matrix, LayoutEverySizeAndAlignment)
{
    // Fill-rule values for seed -1: A and B begin 1 and 0; the last elements of A and B for N = 1 to 4
    // (elements 1, 4, 9 and 16) were worked out from the rule. From element 18 on the running seed is
    // 0 (18! holds 2^16), so element k holds B = k and A = 2k mod 256.
    struct { int16_t a, b; } const last_small[] = {{1, 0}, {240, -20}, {146, 30345}, {32, -32752}};
    constexpr uint32_t max_size = 4100;
    alignas(4) static uint8_t block[max_size + 8];
    alignas(4) static uint8_t aligned[max_size];
    for (uint32_t size = vesk_matrix_min_size; size <= max_size; ++size) {
        uint32_t n = 0;
        while (8u * (n + 1u) * (n + 1u) < size)
            ++n;
        const uint32_t spare = size - 8u * n * n;
        for (uint32_t offset = 0; offset < 4; ++offset) {
            SCOPED_TRACE(testing::Message() << "size " << size << " offset " << offset);
            uint8_t *area = block + offset;
            const bool run_test = spare <= 4;
            if (run_test)
                std::fill(block, block + sizeof block, uint8_t{0x5A});
            matrix_params p{};
            ASSERT_EQ(n, vesk_init_matrix(size, area, -1, &p));
            ASSERT_EQ(n, p.dim);
            ASSERT_LT(8u * n * n, size);
            ASSERT_GE(8u * (n + 1u) * (n + 1u), size);

            const uint64_t e = static_cast<uint64_t>(n) * n;
            const auto *a = reinterpret_cast<const uint8_t *>(p.mat_a);
            const auto *b = reinterpret_cast<const uint8_t *>(p.mat_b);
            const uint8_t *c = p.mat_c_bytes;
            for (const auto &[start, bytes] : {std::pair{a, 2 * e}, std::pair{b, 2 * e}, std::pair{c, 4 * e}}) {
                ASSERT_GE(start, area);
                ASSERT_LE(start + bytes, area + size);
            }
            EXPECT_TRUE(a + 2 * e <= b || b + 2 * e <= a);
            EXPECT_TRUE(a + 2 * e <= c || c + 4 * e <= a);
            EXPECT_TRUE(b + 2 * e <= c || c + 4 * e <= b);
            EXPECT_EQ(0u, reinterpret_cast<uintptr_t>(a) % 2);
            EXPECT_EQ(0u, reinterpret_cast<uintptr_t>(b) % 2);
            EXPECT_EQ(0u, reinterpret_cast<uintptr_t>(c) % 2);
            const bool no_aligned_c = n % 2 == 0 && ((offset == 1 && spare <= 2) || (offset == 2 && spare == 1));
            if (no_aligned_c) {
                EXPECT_EQ(nullptr, p.mat_c);
            } else {
                EXPECT_EQ(c, reinterpret_cast<const uint8_t *>(p.mat_c));
                EXPECT_EQ(0u, reinterpret_cast<uintptr_t>(p.mat_c) % 4);
            }

            EXPECT_EQ(1, p.mat_a[0]);
            EXPECT_EQ(0, p.mat_b[0]);
            const size_t last = static_cast<size_t>(e - 1);
            if (n <= 4) {
                EXPECT_EQ(last_small[n - 1].a, p.mat_a[last]);
                EXPECT_EQ(last_small[n - 1].b, p.mat_b[last]);
            } else {
                EXPECT_EQ(static_cast<int16_t>((2 * e) % 256), p.mat_a[last]);
                EXPECT_EQ(static_cast<int16_t>(e), p.mat_b[last]);
            }

            if (run_test) {
                matrix_params ref{};
                vesk_init_matrix(size, aligned, -1, &ref);
                EXPECT_EQ(vesk_bench_matrix(&ref, 0x33, 0x1234), vesk_bench_matrix(&p, 0x33, 0x1234));
                EXPECT_TRUE(std::all_of(block, area, [](uint8_t v) { return v == 0x5A; }));
                EXPECT_TRUE(std::all_of(area + size, block + sizeof block, [](uint8_t v) { return v == 0x5A; }));
                EXPECT_TRUE(std::equal(ref.mat_a, ref.mat_a + e, p.mat_a));
            }
        }
    }
}

// ---- state machine ----

std::string area_text(const uint8_t *area, uint32_t size)
{
    return std::string(reinterpret_cast<const char *>(area), size);
}

TEST(StateInit, Text)
{
    static uint8_t area[666];
    vesk_init_state(666, 0, area);
    const std::string text = area_text(area, 666);
    const size_t len = text.find('\0');
    EXPECT_EQ(660u, len);
    EXPECT_EQ(std::string(6, '\0'), text.substr(660));
    EXPECT_EQ("5012,5012,35.54400,35.54400,5.500e+3,5.500e+3,T0.3e-1F,1234,1234,1234,.1234500,.1234500,",
              text.substr(0, 88));
    EXPECT_EQ(",+122,", text.substr(654, 6));

    vesk_init_state(666, 0x3415, area);
    EXPECT_EQ("-87e+832,1T3.4e4z,+122,+122,+122,+0.64400,+0.64400,", area_text(area, 51));

    vesk_init_state(400, 8, area);
    EXPECT_EQ(397u, area_text(area, 400).find('\0'));
    EXPECT_EQ("1234,1234,.1234500,.1234500,", area_text(area, 28));
}

TEST(StateInit, TinyAreas)
{
    // Sizes 0 and 1 hold no text; the byte after a size-0 area and after a size-1 area is untouched.
    uint8_t area[8] = {9, 9, 9, 9, 9, 9, 9, 9};
    vesk_init_state(0, 0, area);
    EXPECT_EQ(9, area[0]);
    vesk_init_state(1, 0, area);
    EXPECT_EQ(0, area[0]);
    EXPECT_EQ(9, area[1]);
    vesk_init_state(7, 0, area);   // room for one 4-character token, its ',' and two zero bytes
    EXPECT_EQ(std::string("5012,\0\0", 7), area_text(area, 7));
    EXPECT_EQ(9, area[7]);
}

struct scan_result {
    std::vector<scan_state> states;
    uint32_t edges[8];
};

scan_result scan_all(const std::string &text)
{
    scan_result r{{}, {}};
    const auto *p = reinterpret_cast<const uint8_t *>(text.c_str());
    const auto *end = p + text.size();
    while (p != end && *p != 0)
        r.states.push_back(vesk_state_transition(&p, r.edges, end));
    return r;
}

TEST(StateTransition, Tokens)
{
    const scan_state S = scan_start, I = scan_invalid, N = scan_integer, F = scan_float, E = scan_scientific;
    struct { const char *text; std::vector<scan_state> states; } const cases[] = {
        {"T0.3e-1F,", {I, I, S}},
        {"-.123e-2,", {E}},
        {"+0.6e-12,", {E}},
        {"35.54400,", {F}},
        {"5012,", {N}},
        {"-T.T++Tq,", {I, I, I, I, I, S}},
        {"-87e+832,", {I, N}},
        {"1.5e3,", {I, S}},           // an exponent needs its sign
        {"+,", {scan_sign}},
        {"1.e-,", {scan_exp_sign}},
        {"2.5E,", {scan_exp_mark}},
        {"\xff" "1,", {I, N}},         // bytes above 0x7F are ordinary characters
        {",,", {S, S}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(c.states, scan_all(c.text).states);
    }
    const scan_result r = scan_all("T0.3e-1F,");
    const uint32_t want[8] = {2, 2, 0, 1, 1, 1, 1, 0};
    EXPECT_TRUE(std::equal(want, want + 8, r.edges));
}

TEST(StateTransition, CursorAtZeroCommaAndEnd)
{
    uint32_t edges[8] = {};
    const uint8_t text[] = {0, ',', '5', '5'};
    const uint8_t *p = text;
    EXPECT_EQ(scan_start, vesk_state_transition(&p, edges, text + 4));
    EXPECT_EQ(text, p);
    p = text + 1;
    EXPECT_EQ(scan_start, vesk_state_transition(&p, edges, text + 4));
    EXPECT_EQ(text + 2, p);
    // No zero byte before the end: the end stops the token.
    EXPECT_EQ(scan_integer, vesk_state_transition(&p, edges, text + 4));
    EXPECT_EQ(text + 4, p);
    EXPECT_EQ(scan_start, vesk_state_transition(&p, edges, text + 4));
    EXPECT_EQ(text + 4, p);
    const uint32_t want[8] = {1, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_TRUE(std::equal(want, want + 8, edges));
}

TEST(StateBench, CountsAndRestore)
{
    static uint8_t area[666];
    vesk_init_state(666, 0, area);
    const std::vector<uint8_t> text(area, area + 666);
    const auto *p = static_cast<const uint8_t *>(area);
    uint32_t ends[8] = {}, edges[8] = {};
    while (*p != 0)
        ++ends[vesk_state_transition(&p, edges, area + 666)];
    const uint32_t want_ends[8] = {11, 40, 0, 0, 39, 22, 0, 16};
    const uint32_t want_edges[8] = {117, 17, 54, 24, 43, 27, 21, 0};
    EXPECT_TRUE(std::equal(want_ends, want_ends + 8, ends));
    EXPECT_TRUE(std::equal(want_edges, want_edges + 8, edges));

    // With seed 0 the corruption changes nothing, so both scans count the same.
    uint16_t want = 0;
    for (int i = 0; i < 8; ++i) {
        want = crcu32(2 * want_ends[i], want);
        want = crcu32(2 * want_edges[i], want);
    }
    EXPECT_EQ(want, vesk_bench_state(666, area, 0, 0, 0x22, 0));
    EXPECT_TRUE(std::equal(text.begin(), text.end(), area));

    vesk_init_state(666, 0x3415, area);
    const std::vector<uint8_t> text2(area, area + 666);
    const uint16_t restored = vesk_bench_state(666, area, 0x3415, 0x3415, 0x22, 0);
    EXPECT_TRUE(std::equal(text2.begin(), text2.end(), area));
    const uint16_t changed = vesk_bench_state(666, area, 0x3415, 1, 0x22, 0);
    EXPECT_EQ(restored, changed);
    size_t diffs = 0;
    for (size_t i = 0; i < 666; ++i)
        diffs += area[i] != text2[i];
    EXPECT_EQ(16u, diffs);
}

// Calls with different corruption and repair bytes can leave the area without any zero byte; the
// scans then stop at the end of the area (the sanitizer build catches any read past it).
TEST(StateBench, ScansStayInsideArea)
{
    std::vector<uint8_t> area(0x44, '7');   // no zero byte at all
    std::vector<uint8_t> copy = area;
    const uint16_t crc = vesk_bench_state(static_cast<uint32_t>(area.size()), area.data(), 0, 0, 0x22, 0);
    // Each scan sees one integer token ending at the end of the area.
    uint16_t want = 0;
    const uint32_t ends[8] = {0, 0, 0, 0, 2, 0, 0, 0}, edges[8] = {2, 0, 0, 0, 0, 0, 0, 0};
    for (int i = 0; i < 8; ++i) {
        want = crcu32(ends[i], want);
        want = crcu32(edges[i], want);
    }
    EXPECT_EQ(want, crc);
    EXPECT_EQ(copy, area);

    // Tiny areas and many calls with unequal seeds never read or write outside the area.
    for (const uint32_t size : {0u, 1u, 2u, 7u, 40u, 666u}) {
        SCOPED_TRACE(size);
        std::vector<uint8_t> a(size);
        vesk_init_state(size, 5, a.data());
        for (int call = 0; call < 300; ++call)
            vesk_bench_state(size, a.data(), 0x13, 0x5A, static_cast<int16_t>(0x22 + call % 0xDE), 0);
    }
}

// ---- list pass and iteration ----

TEST(CalcFunc, Cases)
{
    prepared_contexts p;
    ASSERT_TRUE(p.prepare(0, 0, 0x66, 666, 1));
    run_context &ctx = p.c[0];
    const std::vector<uint8_t> state_text(ctx.mem_blocks[3], ctx.mem_blocks[3] + 666);
    const uint16_t start = 0x5555;

    struct {
        const char *label;
        uint16_t value;
        uint16_t kernel_result;   // what the kernel folds, given crc = start
        uint16_t stored;
    } const cases[] = {
        {"selector 2 folds the value", 0x1212, 0x1212, 0x1292},
        {"selector 7", 0x7F7F, 0x7F7F, 0x7FFF},
        {"state kernel, step raised to 0x22", 0x0000, vesk_bench_state(666, ctx.mem_blocks[3], 0, 0, 0x22, start), 0},
        {"state kernel, step 0xFF", 0x7878, vesk_bench_state(666, ctx.mem_blocks[3], 0, 0, 0xFF, start), 0},
        {"matrix kernel, scalar 0x11", 0x0909, vesk_bench_matrix(&ctx.matrix, 0x11, start), 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.label);
        ctx.crc = start;
        ctx.crc_matrix = 0;
        ctx.crc_state = 0;
        list_item item = {c.value, 3};
        const int32_t got = calc_func(&item, &ctx);
        EXPECT_EQ(c.kernel_result & 0x7F, got);
        EXPECT_EQ(crcu16(c.kernel_result, start), ctx.crc);
        EXPECT_EQ((c.value & 0xFF00) | 0x80 | (c.kernel_result & 0x7F), item.value);
        if (c.stored != 0) {
            EXPECT_EQ(c.stored, item.value);
        }
        EXPECT_EQ((c.value & 7) == 0 ? c.kernel_result : 0, ctx.crc_state);
        EXPECT_EQ((c.value & 7) == 1 ? c.kernel_result : 0, ctx.crc_matrix);
        // The second call reads the cache and folds nothing.
        const uint16_t crc_after = ctx.crc;
        EXPECT_EQ(got, calc_func(&item, &ctx));
        EXPECT_EQ(crc_after, ctx.crc);
        EXPECT_TRUE(std::equal(state_text.begin(), state_text.end(), ctx.mem_blocks[3]));
    }
    // The first non-zero kernel result is kept.
    ctx.crc_matrix = 0x1111;
    list_item item = {0x0909, 3};
    calc_func(&item, &ctx);
    EXPECT_EQ(0x1111, ctx.crc_matrix);
    // Head and tail read as cached results 0 and 0x7F.
    list_item head = {0x8080, 0}, tail = {0xFFFF, 0x7FFF};
    ctx.crc = start;
    EXPECT_EQ(0, calc_func(&head, &ctx));
    EXPECT_EQ(0x7F, calc_func(&tail, &ctx));
    EXPECT_EQ(start, ctx.crc);
    EXPECT_EQ(-0x7F, cmp_complex(&head, &tail, &ctx));
}

struct seed_set {
    const char *label;
    int16_t s1, s2, s3;
    uint32_t area;
    uint16_t list, matrix, state;
};

const seed_set seed_sets[] = {
    {"6k performance", 0, 0, 0x66, 2000, 0xd4b0, 0xbe52, 0x5e47},
    {"6k validation", 0x3415, 0x3415, 0x66, 2000, 0x3340, 0x1199, 0x39bf},
    {"profile generation", 8, 8, 8, 400, 0x6a79, 0x5608, 0xe5a4},
    {"2K performance", 0, 0, 0x66, 666, 0xe714, 0x1fd7, 0x8e3a},
    {"2K validation", 0x3415, 0x3415, 0x66, 666, 0xe3c1, 0x0747, 0x8d84},
};

// The list, matrix and state signatures are fixed by the first iteration; crc equals crc_list
// after one iteration and goes on changing with more.
TEST(Iterate, SeedSetSignatures)
{
    for (const seed_set &s : seed_sets) {
        uint16_t final_one = 0;
        for (const uint32_t iterations : {1u, 2u, 10u}) {
            SCOPED_TRACE(testing::Message() << s.label << ", " << iterations << " iterations");
            prepared_contexts p;
            ASSERT_TRUE(p.prepare(s.s1, s.s2, s.s3, s.area, iterations));
            run_context &ctx = p.c[0];
            iterate(&ctx);
            EXPECT_EQ(s.list, ctx.crc_list);
            EXPECT_EQ(s.matrix, ctx.crc_matrix);
            EXPECT_EQ(s.state, ctx.crc_state);
            if (iterations == 1) {
                EXPECT_EQ(ctx.crc_list, ctx.crc);
                final_one = ctx.crc;
            } else {
                EXPECT_NE(final_one, ctx.crc);
            }
            // The list is back in key order, every value with two equal bytes, all nodes reachable.
            EXPECT_EQ(s.area / 20u - 3u, node_count(ctx.list_head));
            for (const list_node *n = ctx.list_head; n->next != nullptr; n = n->next) {
                EXPECT_LE(n->item->key, n->next->item->key);
                EXPECT_EQ(n->item->value >> 8, n->item->value & 0xFFu);
            }
        }
    }
}

// Working sets whose matrix area starts 1 byte past a 4-byte boundary (blocks come from malloc) with
// 1 spare byte and an even dimension: 289 bytes (N 6), 513 (N 8) and 801 (N 10), where C cannot lie
// on a 4-byte boundary. One context, one iteration, all three kernels, seeds 0, 0, 0x66. The expected
// signatures were computed by a separate program written from the workloads' description alone,
// which also reproduces the five built-in seed sets' signatures; they are not outputs of this code.
TEST(Iterate, MatrixAreasWithoutRoomToAlign)
{
    struct { uint32_t working_set; uint32_t dim; uint16_t list, matrix, state; } const cases[] = {
        {867, 6, 0xb5b0, 0x9b70, 0x7688},
        {1541, 8, 0x050f, 0x3396, 0x887b},
        {2403, 10, 0x7cd6, 0x9443, 0x0c8b},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.working_set);
        prepared_contexts p;
        p.c[0].seed3 = 0x66;
        p.c[0].exec_flags = 7;
        ASSERT_TRUE(vesk_prepare_contexts(p.c, c.working_set));
        run_context &ctx = p.c[0];
        ctx.iterations = 1;
        EXPECT_EQ(c.dim, ctx.matrix.dim);
        EXPECT_EQ(nullptr, ctx.matrix.mat_c);   // the case this covers: C off its 4-byte boundary
        iterate(&ctx);
        EXPECT_EQ(c.list, ctx.crc_list);
        EXPECT_EQ(c.matrix, ctx.crc_matrix);
        EXPECT_EQ(c.state, ctx.crc_state);
        EXPECT_EQ(c.list, ctx.crc);
    }
}

// A second iterate on the same context (the timed run after calibration) gives the same signatures:
// the first leaves the list in key order, the matrices and, with equal seeds, the state text as it
// found them.
TEST(Iterate, RepeatsOnTheSameContext)
{
    for (const seed_set &s : seed_sets) {
        SCOPED_TRACE(s.label);
        prepared_contexts p;
        ASSERT_TRUE(p.prepare(s.s1, s.s2, s.s3, s.area, 10));
        run_context &ctx = p.c[0];
        const uint32_t elems = ctx.matrix.dim * ctx.matrix.dim;
        const std::vector<int16_t> a(ctx.matrix.mat_a, ctx.matrix.mat_a + elems);
        const std::vector<int16_t> b(ctx.matrix.mat_b, ctx.matrix.mat_b + elems);
        const std::vector<uint8_t> text(ctx.mem_blocks[3], ctx.mem_blocks[3] + s.area);
        iterate(&ctx);
        const uint16_t first[4] = {ctx.crc, ctx.crc_list, ctx.crc_matrix, ctx.crc_state};
        EXPECT_TRUE(std::equal(a.begin(), a.end(), ctx.matrix.mat_a));
        EXPECT_TRUE(std::equal(b.begin(), b.end(), ctx.matrix.mat_b));
        EXPECT_TRUE(std::equal(text.begin(), text.end(), ctx.mem_blocks[3]));
        iterate(&ctx);
        const uint16_t second[4] = {ctx.crc, ctx.crc_list, ctx.crc_matrix, ctx.crc_state};
        EXPECT_TRUE(std::equal(first, first + 4, second));

        ctx.iterations = 0;
        iterate(&ctx);
        EXPECT_EQ(0, ctx.crc | ctx.crc_list | ctx.crc_matrix | ctx.crc_state);
    }
}

// With 666-byte areas every iteration repeats the first one's two pass results. With 2000-byte
// areas the second +1 pass differs: its value sort leaves a record whose cached result ties with
// the head's ahead of the head, so that record's value is folded instead of the head's.
TEST(ListPass, LaterIterations)
{
    struct { uint32_t area; bool plus_repeats; } const cases[] = {{666, true}, {2000, false}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.area);
        prepared_contexts p;
        ASSERT_TRUE(p.prepare(0, 0, 0x66, c.area, 1));
        run_context &ctx = p.c[0];
        // The passes as iterate runs them, each result folded into crc before the next pass.
        uint16_t results[4];
        for (int i = 0; i < 4; ++i) {
            results[i] = vesk_bench_list(&ctx, i % 2 == 0 ? 1 : -1);
            ctx.crc = crcu16(results[i], ctx.crc);
        }
        const uint16_t plus1 = results[0], minus1 = results[1], plus2 = results[2], minus2 = results[3];
        EXPECT_EQ(c.plus_repeats, plus1 == plus2);
        EXPECT_EQ(minus1, minus2);
    }
}

// Seeds 7, 7: a data record shares key 0 with the head and, from the first -1 pass on, sits ahead of
// it; the passes, which start at the head, then reach one node fewer.
TEST(Iterate, KeyZeroRecordAheadOfHead)
{
    prepared_contexts p;
    ASSERT_TRUE(p.prepare(7, 7, 0x66, 666, 1));
    run_context &ctx = p.c[0];
    EXPECT_EQ(30u, node_count(ctx.list_head));
    iterate(&ctx);
    EXPECT_EQ(29u, node_count(ctx.list_head));
    EXPECT_EQ(0x8080, ctx.list_head->item->value);
}

// No searches (seed3 <= 0): the -1 pass's search value is 0, which here finds the record with
// pattern byte 0; the pass folds the head's value from that record to the tail (2 nodes, with one
// node detached) and then once per node after the head (6 nodes).
TEST(ListPass, NoSearchesUsesValueZero)
{
    for (const int16_t s3 : {int16_t{0}, int16_t{-4}}) {
        SCOPED_TRACE(s3);
        prepared_contexts p;
        ASSERT_TRUE(p.prepare(0, 0, s3, 200, 1));
        run_context &ctx = p.c[0];
        EXPECT_EQ(fold_times(static_cast<int16_t>(0x8080), 2 + 6), vesk_bench_list(&ctx, -1));
        // The +1 pass searches key 1, which no record has: every node after the second is folded.
        const uint16_t plus = vesk_bench_list(&ctx, 1);
        EXPECT_EQ(fold_times(static_cast<int16_t>(0x8080), 5 + 6), plus);
    }
}

TEST(ListPass, NoListDoesNothing)
{
    run_context ctx{};
    ctx.seed3 = 0x66;
    EXPECT_EQ(0, vesk_bench_list(&ctx, 1));
}

} // namespace
