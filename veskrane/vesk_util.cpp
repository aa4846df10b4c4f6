// vesk_util.cpp - CRC-16 routines, argument parsing and the data-type self-check.
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
