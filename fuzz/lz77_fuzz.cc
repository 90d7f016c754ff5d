// Expands arbitrary bytes as an LZ77 image into an output buffer whose size the first byte picks,
// held on the heap at exactly that size so that any write past it is caught. The expansion must
// refuse or stay inside, and report a size within the buffer.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "net/lz77.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const int32_t capacity = int32_t(data[0]) * 64;  // 0 to 16320 bytes
  std::vector<uint8_t> in(data + 1, data + size);
  std::vector<uint8_t> out(static_cast<size_t>(capacity));
  const int32_t n = lz77_expand(in.data(), int32_t(in.size()), out.data(), capacity);
  if (n > capacity) abort();
  return 0;
}
