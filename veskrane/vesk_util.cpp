// vesk_util.cpp - CRC-16 routines, argument parsing and the data-type self-check.
#include <cstddef>   // offsetof
#include <cstdint>   // exact-width integers

#include "veskrane.h"

// Folds the 8 bits of data into crc, bit 0 first: reflected CRC-16, polynomial 0xA001.
uint16_t crcu8(uint8_t data, uint16_t crc)
{
    uint32_t d = data;
    uint32_t c = crc;
    for (int i = 0; i < 8; ++i) {
        const uint32_t x = (d ^ c) & 1u;
        d >>= 1;
        c = x ? ((c >> 1) ^ 0xA001u) : (c >> 1);
    }
    return static_cast<uint16_t>(c);
}

uint16_t crcu16(uint16_t newval, uint16_t crc)
{
    crc = crcu8(static_cast<uint8_t>(newval & 0xFFu), crc);
    return crcu8(static_cast<uint8_t>(newval >> 8), crc);
}

uint16_t crcu32(uint32_t newval, uint16_t crc)
{
    crc = crc16(static_cast<int16_t>(newval & 0xFFFFu), crc);
    return crc16(static_cast<int16_t>(newval >> 16), crc);
}

uint16_t crc16(int16_t newval, uint16_t crc)
{
    return crcu16(static_cast<uint16_t>(newval), crc);
}

// One argument text as a number: an optional "-", an optional "0x", decimal or lower-case hexadecimal
// digits up to the first other character, and that character as an optional "K" or "M" multiplier.
// Any text gives a number; all arithmetic wraps modulo 2^32.
uint32_t parseval(const char *text)
{
    const char *p = text;
    const bool negative = (*p == '-');
    if (negative)
        ++p;
    uint32_t value = 0;
    if (p[0] == '0' && p[1] == 'x') {
        p += 2;
        for (;; ++p) {
            if (*p >= '0' && *p <= '9')
                value = value * 16u + static_cast<uint32_t>(*p - '0');
            else if (*p >= 'a' && *p <= 'f')
                value = value * 16u + static_cast<uint32_t>(*p - 'a' + 10);
            else
                break;
        }
    } else {
        for (; *p >= '0' && *p <= '9'; ++p)
            value = value * 10u + static_cast<uint32_t>(*p - '0');
    }
    if (*p == 'K')
        value <<= 10;
    else if (*p == 'M')
        value <<= 20;
    return negative ? 0u - value : value;
}

// The argument at position index as a signed number; 0 when there is no such argument.
int32_t get_seed_args(int32_t index, int32_t argc, char *argv[])
{
    if (index < 0 || index >= argc)
        return 0;
    return static_cast<int32_t>(parseval(argv[index]));
}

// The harness relies on exact-width integers and on the four signatures lying together as one
// 8-byte block; counts the ways this build breaks that (none where it compiles as intended).
uint8_t check_data_types()
{
    uint8_t problems = 0;
    if (sizeof(int8_t) != 1 || sizeof(uint8_t) != 1)
        ++problems;
    if (sizeof(int16_t) != 2 || sizeof(uint16_t) != 2)
        ++problems;
    if (sizeof(int32_t) != 4 || sizeof(uint32_t) != 4)
        ++problems;
    if (offsetof(run_context, crc_state) - offsetof(run_context, crc) != 3 * sizeof(uint16_t))
        ++problems;
    return problems;
}
