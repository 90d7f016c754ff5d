#include "net/tftp.h"

#include <cstring>

namespace {
constexpr uint16_t opcode_read_request = 1;
constexpr uint16_t opcode_data = 3;
constexpr uint16_t opcode_ack = 4;
constexpr uint16_t opcode_error = 5;
constexpr char read_request[tftp_read_request_length] = {0,   1, 'u', 'p', 'g', 'r', 'a', 'd',
                                                         'e', 0, 'o', 'c', 't', 'e', 't', 0};
static_assert(read_request[1] == opcode_read_request);

uint16_t get_be16(const uint8_t* p) { return uint16_t(p[0] << 8 | p[1]); }
void put_be16(uint8_t* p, uint16_t v) {
  p[0] = uint8_t(v >> 8);
  p[1] = uint8_t(v);
}
}  // namespace

void tftp_read_request(uint8_t* out) { memcpy(out, read_request, sizeof read_request); }

TftpStep tftp_receive(TftpReceive& r, const uint8_t* packet, int length, uint8_t* ack) {
  if (length >= tftp_datagram_max) return TftpStep::end;
  if (length < tftp_header_length) return TftpStep::ignore;
  const uint16_t opcode = get_be16(packet);
  if (opcode == opcode_error) return TftpStep::end;
  if (opcode != opcode_data) return TftpStep::ignore;
  const uint16_t block = get_be16(packet + 2);
  if (block == uint16_t(r.last_block + 1)) {
    int32_t n = length - tftp_header_length;
    const int32_t limit = r.expected < r.capacity ? r.expected : r.capacity;
    if (n > limit - r.received) n = limit - r.received;
    if (n > 0) {
      memcpy(r.buffer + r.received, packet + tftp_header_length, size_t(n));
      r.received += n;
    }
    r.last_block = block;
  } else if (r.last_block == 0 || block != r.last_block) {
    return TftpStep::ignore;
  }
  put_be16(ack, opcode_ack);
  put_be16(ack + 2, block);
  return TftpStep::acknowledge;
}
