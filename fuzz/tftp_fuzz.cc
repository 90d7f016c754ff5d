// Feeds arbitrary datagrams to the TFTP receiver: the first two bytes give the announced size,
// then each datagram is a length byte L and its 5 x L bytes (0-1275, past the 1024-byte limit). The
// image buffer is heap memory of exactly its capacity; stored bytes must stay within the announced
// size and the buffer, and blocks must advance one by one.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "net/tftp.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  constexpr int32_t capacity = 4096;
  std::vector<uint8_t> buffer(capacity);
  TftpReceive r{buffer.data(), capacity, int32_t(data[0] << 8 | data[1]), 0, 0};
  size_t at = 2;
  while (at < size) {
    const size_t wanted = size_t(data[at++]) * 5;
    const size_t n = wanted < size - at ? wanted : size - at;
    std::vector<uint8_t> packet(data + at, data + at + n);
    at += n;
    const uint16_t before = r.last_block;
    uint8_t ack[tftp_ack_length];
    const TftpStep step = tftp_receive(r, packet.data(), int(packet.size()), ack);
    if (r.received > r.expected) abort();
    if (r.received > capacity) abort();
    if (r.last_block != before && r.last_block != uint16_t(before + 1)) abort();
    if (step == TftpStep::acknowledge && (ack[0] != 0 || ack[1] != 4)) abort();
    if (step == TftpStep::end) break;
  }
  return 0;
}
