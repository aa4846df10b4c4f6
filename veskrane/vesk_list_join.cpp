// vesk_list_join.cpp - the list kernel: layout and primitives, merge sort, and the list pass.
#include <cstdint>   // exact-width integers

#include "vesk_list_join.h"
#include "vesk_matrix.h"   // vesk_bench_matrix
#include "vesk_state.h"    // vesk_bench_state
#include "veskrane.h"

list_item *copy_info(list_item *dst, const list_item *src)
{
    dst->value = src->value;
    dst->key = src->key;
    return dst;
}

// Takes the next free node and payload slot and links the copy of payload in after `after`.
// The last slot of each array is never handed out; null when the slots are used up.
list_node *vesk_list_insert_new(list_node *after, const list_item *payload, list_node **node_cursor,
                                list_item **item_cursor, list_node *node_end, list_item *item_end)
{
    if (*node_cursor + 1 >= node_end)
        return nullptr;
    if (*item_cursor + 1 >= item_end)
        return nullptr;
    list_node *node = *node_cursor;
    *node_cursor = node + 1;
    node->next = after->next;
    after->next = node;
    node->item = *item_cursor;
    *item_cursor = node->item + 1;
    copy_info(node->item, payload);
    return node;
}

// Unlinks holder's successor r while holder's node stays in place: the two swap payloads, so
// holder now carries r's payload and the returned r carries holder's.
list_node *vesk_list_remove(list_node *holder)
{
    list_node *r = holder->next;
    list_item *tmp = r->item;
    r->item = holder->item;
    holder->item = tmp;
    holder->next = r->next;
    r->next = nullptr;
    return r;
}

// Exactly reverses vesk_list_remove(holder), which returned detached.
list_node *vesk_list_undo_remove(list_node *detached, list_node *holder)
{
    list_item *tmp = detached->item;
    detached->item = holder->item;
    holder->item = tmp;
    detached->next = holder->next;
    holder->next = detached;
    return detached;
}

// A non-negative search key matches by key; a negative one matches the low byte of value against
// the search value read as signed, so only search values 0 to 255 can match.
list_node *vesk_list_find(list_node *list, const list_item *payload)
{
    if (payload->key >= 0) {
        while (list != nullptr && list->item->key != payload->key)
            list = list->next;
    } else {
        const int32_t want = static_cast<int16_t>(payload->value);
        while (list != nullptr && static_cast<int32_t>(list->item->value & 0xFFu) != want)
            list = list->next;
    }
    return list;
}

list_node *vesk_list_reverse(list_node *list)
{
    list_node *reversed = nullptr;
    while (list != nullptr) {
        list_node *next = list->next;
        list->next = reversed;
        reversed = list;
        list = next;
    }
    return reversed;
}

// Bottom-up merge sort on the links, runs of 1, 2, 4, ... nodes, no extra memory. Stable: on a tie
// the node of the left run goes first. compare may have side effects (cmp_complex), so the order
// of its calls is part of the result.
list_node *vesk_list_mergesort(list_node *list, list_compare compare, run_context *ctx)
{
    if (list == nullptr)
        return nullptr;
    uint32_t run = 1;
    for (;;) {
        list_node *p = list;
        list_node *tail = nullptr;
        uint32_t merges = 0;
        list = nullptr;
        while (p != nullptr) {
            ++merges;
            list_node *q = p;
            uint32_t psize = 0;
            for (uint32_t i = 0; i < run; ++i) {
                ++psize;
                q = q->next;
                if (q == nullptr)
                    break;
            }
            uint32_t qsize = run;
            while (psize > 0 || (qsize > 0 && q != nullptr)) {
                list_node *e;
                if (psize == 0) {
                    e = q;
                    q = q->next;
                    --qsize;
                } else if (qsize == 0 || q == nullptr) {
                    e = p;
                    p = p->next;
                    --psize;
                } else if (compare(p->item, q->item, ctx) <= 0) {
                    e = p;
                    p = p->next;
                    --psize;
                } else {
                    e = q;
                    q = q->next;
                    --qsize;
                }
                if (tail != nullptr)
                    tail->next = e;
                else
                    list = e;
                tail = e;
            }
            p = q;
        }
        tail->next = nullptr;
        if (merges <= 1)
            return list;
        run *= 2;
    }
}

// Key order. Without a context it first restores both values to their pattern byte in both bytes,
// dropping any result that a value sort cached there.
int32_t cmp_idx(list_item *a, list_item *b, run_context *ctx)
{
    if (ctx == nullptr) {
        a->value = static_cast<uint16_t>((a->value & 0xFF00u) | (a->value >> 8));
        b->value = static_cast<uint16_t>((b->value & 0xFF00u) | (b->value >> 8));
    }
    return static_cast<int32_t>(a->key) - static_cast<int32_t>(b->key);
}

// Value order: the results of calc_func, a's computed first.
int32_t cmp_complex(list_item *a, list_item *b, run_context *ctx)
{
    const int32_t va = calc_func(a, ctx);
    const int32_t vb = calc_func(b, ctx);
    return va - vb;
}

// The 7-bit result of a record, computed once per value sort and cached in the low byte of value.
// The pattern byte selects the state kernel (0), the matrix kernel (1) or no kernel (2-7) and
// gives the kernel its 4-bit parameter; every computed result is folded into the running crc.
int32_t calc_func(list_item *payload, run_context *ctx)
{
    const uint32_t v = payload->value;
    if ((v & 0x80u) != 0)
        return static_cast<int32_t>(v & 0x7Fu);

    const uint32_t param8 = ((v >> 3) & 0x0Fu) * 17u;
    uint16_t r;
    switch (v & 7u) {
    case 0: {
        const uint32_t step = param8 < 0x22u ? 0x22u : param8;
        r = vesk_bench_state(ctx->block_size, ctx->mem_blocks[3], ctx->seed1, ctx->seed2,
                             static_cast<int16_t>(step), ctx->crc);
        if (ctx->crc_state == 0)
            ctx->crc_state = r;
        break;
    }
    case 1:
        r = vesk_bench_matrix(&ctx->matrix, static_cast<int16_t>(param8), ctx->crc);
        if (ctx->crc_matrix == 0)
            ctx->crc_matrix = r;
        break;
    default:
        r = static_cast<uint16_t>(v);
        break;
    }
    ctx->crc = crcu16(r, ctx->crc);
    payload->value = static_cast<uint16_t>((v & 0xFF00u) | 0x80u | (r & 0x7Fu));
    return static_cast<int32_t>(r & 0x7Fu);
}

// Lays the list into the area: node slots first, payload slots right after them, item_slots =
// block_size / 20 - 2 of each. The node array starts at the first address aligned for a node (the
// area itself when the area is aligned); the slack of the 20-byte budget covers that.
list_node *vesk_list_init(uint32_t block_size, uint8_t *area, int16_t seed)
{
    if (block_size < vesk_list_min_size)
        return nullptr;
    const uint32_t item_slots = block_size / 20u - 2u;
    const uintptr_t misalign = reinterpret_cast<uintptr_t>(area) % alignof(list_node);
    const uintptr_t pad = misalign == 0 ? 0 : alignof(list_node) - misalign;
    list_node *const nodes = reinterpret_cast<list_node *>(area + pad);
    list_item *const items = reinterpret_cast<list_item *>(nodes + item_slots);

    list_node *node_cursor = nodes + 1;
    list_item *item_cursor = items + 1;
    list_node *const node_end = nodes + item_slots;
    list_item *const item_end = items + item_slots;

    list_node *const head = nodes;
    head->next = nullptr;
    head->item = items;
    head->item->value = 0x8080;
    head->item->key = 0;

    list_item info = {0xFFFF, 0x7FFF};
    vesk_list_insert_new(head, &info, &node_cursor, &item_cursor, node_end, item_end);

    // Every record goes in right after the head, so the list reads head, last record, ..., first, tail.
    const uint32_t seed_bits = static_cast<uint16_t>(seed);
    for (uint32_t i = 0; i < item_slots; ++i) {
        const uint32_t b = (((i ^ seed_bits) & 0x0Fu) << 3) | (i & 7u);
        info.value = static_cast<uint16_t>((b << 8) | b);
        info.key = 0x7FFF;
        if (vesk_list_insert_new(head, &info, &node_cursor, &item_cursor, node_end, item_end) == nullptr)
            break;
    }

    // Keys in list order: a counter for the first fifth, then a mix of the counter and the seed.
    // The tail keeps 0x7FFF.
    const uint32_t seed_wide = static_cast<uint32_t>(static_cast<int32_t>(seed));
    uint32_t k = 1;
    for (list_node *node = head->next; node->next != nullptr; node = node->next, ++k) {
        const uint32_t key = k < item_slots / 5u ? k : ((k ^ seed_wide) | (((k + 1u) & 7u) << 8)) & 0x3FFFu;
        node->item->key = static_cast<int16_t>(key);
    }
    return vesk_list_mergesort(head, cmp_idx, nullptr);
}

// One list pass. Searches seed3 times (by key from start_key upwards, or by value byte when
// start_key is negative), reversing the list after each search; sorts by value after a +1 pass;
// then folds the first node's value into the result once per node from the searched node on, with
// one node detached, and once per node after the first after the sort back into key order.
uint16_t vesk_bench_list(run_context *ctx, int16_t start_key)
{
    list_node *list = ctx->list_head;
    if (list == nullptr)
        return 0;
    uint16_t result = 0;
    uint16_t found = 0;
    uint16_t missed = 0;
    const int32_t searches = ctx->seed3;
    list_item info = {0, start_key};   // value 0 when no search sets it

    for (int32_t i = 0; i < searches; ++i) {
        info.value = static_cast<uint16_t>(i & 0xFF);
        list_node *hit = vesk_list_find(list, &info);
        list = vesk_list_reverse(list);
        if (hit == nullptr) {
            ++missed;
            result = static_cast<uint16_t>(result + ((list->next->item->value >> 8) & 1u));
        } else {
            ++found;
            const uint32_t hv = hit->item->value;
            if ((hv & 1u) != 0)
                result = static_cast<uint16_t>(result + ((hv >> 9) & 1u));
            list_node *s = hit->next;
            if (s != nullptr) {
                // Move the successor to second place; on a hit of the first node this changes nothing.
                hit->next = s->next;
                s->next = list->next;
                list->next = s;
            }
        }
        if (info.key >= 0)
            info.key = static_cast<int16_t>(static_cast<uint16_t>(info.key) + 1u);
    }
    result = static_cast<uint16_t>(result + 4u * found - missed);

    if (start_key > 0)
        list = vesk_list_mergesort(list, cmp_complex, ctx);

    list_node *const detached = vesk_list_remove(list->next);
    list_node *start = vesk_list_find(list, &info);
    if (start == nullptr)
        start = list->next;
    const int16_t first_value = static_cast<int16_t>(list->item->value);
    for (list_node *node = start; node != nullptr; node = node->next)
        result = crc16(first_value, result);
    vesk_list_undo_remove(detached, list->next);

    list = vesk_list_mergesort(list, cmp_idx, nullptr);
    const int16_t sorted_first_value = static_cast<int16_t>(list->item->value);
    for (list_node *node = list->next; node != nullptr; node = node->next)
        result = crc16(sorted_first_value, result);
    return result;
}
