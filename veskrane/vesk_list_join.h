// vesk_list_join.h - the list records, the list primitives and the list pass.
#pragma once

#include <cstdint>   // exact-width integers

#include "veskrane.h"

// Payload of a list element. value: high byte the pattern byte; low byte the same byte, or bit 7 set
// and bits 0-6 a result cached by calc_func during a value sort. The resting order is ascending key.
struct list_item {
    uint16_t value;
    int16_t key;
};

struct list_node {
    list_node *next;
    list_item *item;
};

// Smallest list area that holds the three nodes the list pass needs (head, one record, tail).
// vesk_list_init refuses anything smaller.
constexpr uint32_t vesk_list_min_size = 120;

// Positive when a belongs after b. ctx is passed through from vesk_list_mergesort.
using list_compare = int32_t (*)(list_item *a, list_item *b, run_context *ctx);

list_item *copy_info(list_item *dst, const list_item *src);
list_node *vesk_list_insert_new(list_node *after, const list_item *payload, list_node **node_cursor,
                                list_item **item_cursor, list_node *node_end, list_item *item_end);
list_node *vesk_list_remove(list_node *holder);
list_node *vesk_list_undo_remove(list_node *detached, list_node *holder);
list_node *vesk_list_find(list_node *list, const list_item *payload);
list_node *vesk_list_reverse(list_node *list);
list_node *vesk_list_mergesort(list_node *list, list_compare compare, run_context *ctx);

int32_t cmp_idx(list_item *a, list_item *b, run_context *ctx);
int32_t cmp_complex(list_item *a, list_item *b, run_context *ctx);
int32_t calc_func(list_item *payload, run_context *ctx);

// One list pass with the search key starting at start_key (+1 or -1); returns the pass result.
uint16_t vesk_bench_list(run_context *ctx, int16_t start_key);
