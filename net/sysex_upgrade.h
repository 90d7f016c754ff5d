// The SysEx upgrade path: host commands 0 and 1 collect a 7-bit image, 1 then checks it (checksum,
// LZ77) and hands it to the firmware writer. In the thread that received the command (main for
// MIDI, network for UDP), always under the main loop's lock, so calls never overlap.
#pragma once

#include <cstdint>

constexpr int sysex_group_length = 8;  // seven data bytes, then their top bits
constexpr int sysex_group_data = 7;
constexpr int32_t sysex_expand_offset = 524288;  // LZ77 images expand into the buffer's top half
constexpr int32_t sysex_restart_seconds = 2;

// The outcome of decoding a collected image in place.
struct SysexImage {
  int32_t size;       // decoded image bytes before the checksum group
  uint32_t computed;  // 32-bit sum of those bytes
  uint32_t received;  // little-endian word opening the last group (missing bytes read as 0)
};

// Decodes length received bytes in place: each group of 8 gives 7 bytes, byte 7 carrying the
// top bits (bit k for data byte k). A short last group has no top-bits byte. The last group holds
// the checksum; the groups before it are the image, left at the start of buffer.
SysexImage sysex_decode_image(uint8_t* buffer, int32_t length);

// Host command 0: appends the bytes after those collected, dropping what does not fit.
void sysex_upgrade_append(const uint8_t* bytes, int length);
// Host command 1, after its payload was appended: checks and writes the image. Every check
// ends the attempt: the next data starts a new image.
void sysex_upgrade_finish();
