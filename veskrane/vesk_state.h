// vesk_state.h - the number-token state machine and its benchmark pass.
#pragma once

#include <cstdint>   // exact-width integers

// The states of the machine; the values index the count arrays.
enum scan_state : uint8_t {
    scan_start = 0,
    scan_invalid = 1,
    scan_sign = 2,
    scan_exp_mark = 3,
    scan_integer = 4,
    scan_float = 5,
    scan_exp_sign = 6,
    scan_scientific = 7,
};

// Smallest state area with room for its terminating zero byte. Smaller areas hold no text and
// are scanned as empty.
constexpr uint32_t vesk_state_min_size = 2;

// Consumes one token from *cursor (up to and including its ',', or up to the character that makes
// it invalid) and returns the state it ended in, counting transitions in edge_counts[8]. The text
// ends at a zero byte or at end, whichever comes first.
scan_state vesk_state_transition(const uint8_t **cursor, uint32_t *edge_counts, const uint8_t *end);

// Scans the text, corrupts it every step bytes with the low byte of seed1, scans it again, repairs
// it with the low byte of seed2 and folds all counts into crc.
uint16_t vesk_bench_state(uint32_t size, uint8_t *area, int16_t seed1, int16_t seed2, int16_t step, uint16_t crc);
