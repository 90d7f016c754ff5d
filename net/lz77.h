// The looper's own LZ77 format of compressed SysEx upgrades: "LZ77", the expanded length, the
// number s of count bits, then tokens of a 16-bit word w (distance w >> s, count
// (w & ((1 << s) - 1)) + 1) and a literal byte; all little-endian. Pure, any thread.
#pragma once

#include <cstdint>

constexpr int lz77_header_length = 9;
constexpr int lz77_token_length = 3;
constexpr int lz77_count_bits_max = 16;  // w is 16 bits: more count bits leave no distance

// Refusals of lz77_expand; nothing outside the buffers is read or written in any case.
constexpr int32_t lz77_bad_header = -1;    // shorter than the header, or s above 16
constexpr int32_t lz77_too_long = -2;      // the expanded length exceeds the output buffer
constexpr int32_t lz77_bad_distance = -3;  // a copy reaching before the first byte written
constexpr int32_t lz77_truncated = -4;     // the tokens end before the expanded length

// True when in starts with the four characters "LZ77".
bool lz77_is_compressed(const uint8_t* in, int32_t length);

// Expands in (length bytes, header included) into out (capacity bytes). Returns the expanded
// size, or one of the refusals above. Overlapping copies repeat their pattern.
int32_t lz77_expand(const uint8_t* in, int32_t length, uint8_t* out, int32_t capacity);
