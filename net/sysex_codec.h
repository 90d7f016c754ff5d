// Byte packing of the host SysEx command set: the header every host message opens with, 14-bit
// numbers as two 7-bit groups, 35-bit numbers as five groups, and 8-bit data (the configuration
// dump) as groups of one top-bits byte and seven 7-bit bytes. Pure functions, any thread.
#pragma once

#include <cstdint>

constexpr uint8_t sysex_start = 0xF0;
constexpr uint8_t sysex_end = 0xF7;
constexpr uint8_t host_sysex_header[4] = {0xF0, 0x00, 0x3F, 0x6A};
constexpr int host_sysex_header_length = 4;
constexpr int host_command_overhead = 6;  // header, command byte and the closing F7

constexpr int seven_bit_mask = 0x7F;
constexpr int fourteen_bit_none = 0x3FFF;  // a function id of -1 travels as all ones

// Two bytes, high 7 bits first. Bits above 14 are dropped, so -1 becomes 3F 7F.
void put_14bit(uint8_t* out, int32_t value);
// The value of two 7-bit groups, high first (top bits of each byte ignored): 0-16383.
int32_t get_14bit(const uint8_t* in);
// A function id from its 14-bit form: 0x3FFF is -1 (no function), anything else as sent.
int16_t get_function_id(const uint8_t* in);

// Five 7-bit groups, least significant first, carrying all 32 bits of value.
void put_35bit(uint8_t* out, uint32_t value);
uint32_t get_35bit(const uint8_t* in);

// Packs count 8-bit bytes into groups of a top-bits byte (bit 6 for the group's first byte, bit 0
// for its seventh) followed by the bytes with their top bit cleared. The last group may be short.
// Writes count + ceil(count / 7) bytes and returns that number.
int pack_8bit(const uint8_t* in, int count, uint8_t* out);
// The inverse: unpacks `length` packed bytes into out and returns the bytes produced.
int unpack_8bit(const uint8_t* in, int length, uint8_t* out);
// Bytes pack_8bit writes for count input bytes.
constexpr int packed_length(int count) { return count + (count + 6) / 7; }

// True when every byte of [bytes, bytes + length) is a 7-bit data byte.
bool all_7bit(const uint8_t* bytes, int length);
