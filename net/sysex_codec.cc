#include "net/sysex_codec.h"

namespace {
constexpr int group_bytes = 7;  // data bytes behind one top-bits byte
constexpr int group_count_35 = 5;
constexpr uint8_t top_bit = 0x80;
}  // namespace

void put_14bit(uint8_t* out, int32_t value) {
  const uint32_t v = uint32_t(value);
  out[0] = uint8_t((v >> 7) & seven_bit_mask);
  out[1] = uint8_t(v & seven_bit_mask);
}

int32_t get_14bit(const uint8_t* in) {
  return int32_t(((in[0] & seven_bit_mask) << 7) | (in[1] & seven_bit_mask));
}

int16_t get_function_id(const uint8_t* in) {
  const int32_t v = get_14bit(in);
  return v == fourteen_bit_none ? int16_t(-1) : int16_t(v);
}

void put_35bit(uint8_t* out, uint32_t value) {
  for (int i = 0; i < group_count_35; ++i) out[i] = uint8_t((value >> (7 * i)) & seven_bit_mask);
}

uint32_t get_35bit(const uint8_t* in) {
  uint64_t v = 0;
  for (int i = 0; i < group_count_35; ++i) v |= uint64_t(in[i] & seven_bit_mask) << (7 * i);
  return uint32_t(v);  // the fifth group carries bits 28-31; its upper bits have no place
}

int pack_8bit(const uint8_t* in, int count, uint8_t* out) {
  int n = 0;
  for (int start = 0; start < count; start += group_bytes) {
    const int k = count - start < group_bytes ? count - start : group_bytes;
    uint8_t tops = 0;
    for (int i = 0; i < k; ++i) {
      if (in[start + i] & top_bit) tops = uint8_t(tops | (1u << (group_bytes - 1 - i)));
    }
    out[n++] = tops;
    for (int i = 0; i < k; ++i) out[n++] = uint8_t(in[start + i] & seven_bit_mask);
  }
  return n;
}

int unpack_8bit(const uint8_t* in, int length, uint8_t* out) {
  int n = 0;
  for (int start = 0; start < length; start += group_bytes + 1) {
    const uint8_t tops = in[start];
    const int k = length - start - 1 < group_bytes ? length - start - 1 : group_bytes;
    for (int i = 0; i < k; ++i) {
      const bool top = (tops >> (group_bytes - 1 - i)) & 1;
      out[n++] = uint8_t((in[start + 1 + i] & seven_bit_mask) | (top ? top_bit : 0));
    }
  }
  return n;
}

bool all_7bit(const uint8_t* bytes, int length) {
  for (int i = 0; i < length; ++i) {
    if (bytes[i] & top_bit) return false;
  }
  return true;
}
