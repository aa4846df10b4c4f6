// vesk_state.cpp - the number-token state machine and its benchmark pass.
#include <cstdint>   // exact-width integers

#include "vesk_state.h"
#include "veskrane.h"

namespace {

// The token patterns the text is built from, four of each kind; only the characters are copied.
const char *const intpat[4] = {"5012", "1234", "-874", "+122"};
const char *const floatpat[4] = {"35.54400", ".1234500", "-110.700", "+0.64400"};
const char *const scipat[4] = {"5.500e+3", "-.123e-2", "-87e+832", "+0.6e-12"};
const char *const errpat[4] = {"T0.3e-1F", "-T.T++Tq", "1T3.4e4z", "34.0e-T^"};

bool is_digit(uint8_t c)
{
    return c >= '0' && c <= '9';
}

// XORs every stride-th byte from offset 0 with mask, leaving ',' bytes alone.
void xor_stride(uint8_t *area, uint32_t size, uint32_t stride, uint8_t mask)
{
    if (size == 0)
        return;
    for (uint32_t off = 0;; off += stride) {
        if (area[off] != ',')
            area[off] = static_cast<uint8_t>(area[off] ^ mask);
        if (size - off <= stride)
            break;
    }
}

} // namespace

// Fills the area with comma-terminated tokens chosen by successive seeds, as many as fit with at
// least two bytes to spare, and zeroes the rest of the area.
void vesk_init_state(uint32_t size, int16_t seed, uint8_t *area)
{
    if (size == 0)
        return;
    const uint64_t limit = size - 1u;
    uint32_t written = 0;
    uint32_t pending_len = 0;
    const char *pending = nullptr;
    while (written + static_cast<uint64_t>(pending_len) + 1u < limit) {
        if (pending_len > 0) {
            for (uint32_t i = 0; i < pending_len; ++i)
                area[written + i] = static_cast<uint8_t>(pending[i]);
            area[written + pending_len] = ',';
            written += pending_len + 1u;
        }
        seed = static_cast<int16_t>(static_cast<uint16_t>(seed) + 1u);
        const uint32_t bits = static_cast<uint16_t>(seed);
        const uint32_t entry = (bits >> 3) & 3u;
        switch (bits & 7u) {
        case 0: case 1: case 2:
            pending = intpat[entry];
            pending_len = 4;
            break;
        case 3: case 4:
            pending = floatpat[entry];
            pending_len = 8;
            break;
        case 5: case 6:
            pending = scipat[entry];
            pending_len = 8;
            break;
        default:
            pending = errpat[entry];
            pending_len = 8;
            break;
        }
    }
    for (uint32_t i = written; i < size; ++i)
        area[i] = 0;
}

scan_state vesk_state_transition(const uint8_t **cursor, uint32_t *edge_counts, const uint8_t *end)
{
    const uint8_t *p = *cursor;
    if (p == end || *p == 0)
        return scan_start;
    if (*p == ',') {
        *cursor = p + 1;
        return scan_start;
    }
    scan_state state = scan_start;
    for (;;) {
        const uint8_t c = *p;
        switch (state) {
        case scan_start:
            if (is_digit(c)) {
                state = scan_integer;
            } else if (c == '+' || c == '-') {
                state = scan_sign;
            } else if (c == '.') {
                state = scan_float;
            } else {
                state = scan_invalid;
                ++edge_counts[scan_invalid];
            }
            ++edge_counts[scan_start];
            break;
        case scan_sign:
            if (is_digit(c))
                state = scan_integer;
            else if (c == '.')
                state = scan_float;
            else
                state = scan_invalid;
            ++edge_counts[scan_sign];
            break;
        case scan_integer:
            if (c == '.') {
                state = scan_float;
                ++edge_counts[scan_integer];
            } else if (!is_digit(c)) {
                state = scan_invalid;
                ++edge_counts[scan_integer];
            }
            break;
        case scan_float:
            if (c == 'E' || c == 'e') {
                state = scan_exp_mark;
                ++edge_counts[scan_float];
            } else if (!is_digit(c)) {
                state = scan_invalid;
                ++edge_counts[scan_float];
            }
            break;
        case scan_exp_mark:
            state = (c == '+' || c == '-') ? scan_exp_sign : scan_invalid;
            ++edge_counts[scan_exp_mark];
            break;
        case scan_exp_sign:
            state = is_digit(c) ? scan_scientific : scan_invalid;
            ++edge_counts[scan_exp_sign];
            break;
        case scan_scientific:
            if (!is_digit(c)) {
                state = scan_invalid;
                ++edge_counts[scan_invalid];
            }
            break;
        case scan_invalid:   // never the state at the top of the loop: the token ends there
            break;
        }
        ++p;
        if (state == scan_invalid)
            break;
        if (p == end || *p == 0)
            break;
        if (*p == ',') {
            ++p;
            break;
        }
    }
    *cursor = p;
    return state;
}

// The end of the area counts as a zero byte, so that a text whose zero bytes have been corrupted
// away is never scanned past the area.
uint16_t vesk_bench_state(uint32_t size, uint8_t *area, int16_t seed1, int16_t seed2, int16_t step, uint16_t crc)
{
    uint32_t end_counts[8] = {};
    uint32_t edge_counts[8] = {};
    const uint8_t *const end = area + size;
    const uint32_t stride = step > 0 ? static_cast<uint32_t>(step) : 1u;

    const uint8_t *p = area;
    while (p != end && *p != 0)
        ++end_counts[vesk_state_transition(&p, edge_counts, end)];

    xor_stride(area, size, stride, static_cast<uint8_t>(static_cast<uint16_t>(seed1) & 0xFFu));

    p = area;
    while (p != end && *p != 0)
        ++end_counts[vesk_state_transition(&p, edge_counts, end)];

    xor_stride(area, size, stride, static_cast<uint8_t>(static_cast<uint16_t>(seed2) & 0xFFu));

    for (uint32_t i = 0; i < 8; ++i) {
        crc = crcu32(end_counts[i], crc);
        crc = crcu32(edge_counts[i], crc);
    }
    return crc;
}
