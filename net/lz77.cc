#include "net/lz77.h"

#include <cstring>

namespace {
constexpr char magic[4] = {'L', 'Z', '7', '7'};
constexpr int length_offset = 4;
constexpr int count_bits_offset = 8;
}  // namespace

bool lz77_is_compressed(const uint8_t* in, int32_t length) {
  return length >= int32_t(sizeof magic) && memcmp(in, magic, sizeof magic) == 0;
}

int32_t lz77_expand(const uint8_t* in, int32_t length, uint8_t* out, int32_t capacity) {
  if (length < lz77_header_length || !lz77_is_compressed(in, length)) return lz77_bad_header;
  const uint32_t expanded = uint32_t(in[length_offset]) | uint32_t(in[length_offset + 1]) << 8 |
                            uint32_t(in[length_offset + 2]) << 16 |
                            uint32_t(in[length_offset + 3]) << 24;
  const int s = in[count_bits_offset];
  if (s > lz77_count_bits_max) return lz77_bad_header;
  if (capacity < 0 || expanded > uint32_t(capacity)) return lz77_too_long;
  const int32_t end = int32_t(expanded);
  const uint32_t count_mask = (1u << s) - 1;

  int32_t i = 0;
  int32_t token = lz77_header_length;
  while (i < end) {
    if (length - token < lz77_token_length) return lz77_truncated;
    const uint32_t w = uint32_t(in[token]) | uint32_t(in[token + 1]) << 8;
    const uint8_t literal = in[token + 2];
    token += lz77_token_length;
    const int32_t distance = int32_t(w >> s);
    if (distance != 0) {
      if (distance > i) return lz77_bad_distance;
      int32_t count = int32_t(w & count_mask) + 1;
      for (; count > 0 && i < end; --count, ++i) out[i] = out[i - distance];
      if (i == end) return i;
    }
    out[i++] = literal;
  }
  return i;
}
