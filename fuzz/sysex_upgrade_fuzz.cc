// The SysEx upgrade path from host commands 0 and 1 to the firmware writer. The first byte
// chooses the form: odd, the rest is a decoded image that the target encodes in 7-bit groups
// with a correct checksum (so LZ77 images reach the expansion); even, the rest is sent as it
// comes, masked to 7 bits. The data goes out in messages of up to 200 bytes through host_sysex;
// the writer checks that the image it gets lies inside the upgrade buffer.
#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "net/host_sysex.h"
#include "net/sysex_codec.h"
#include "net/upgrade.h"

namespace {

constexpr size_t message_payload_max = 200;

int32_t check_writer(const uint8_t* image, int32_t size) {
  if (size <= 0 || image < upgrade_buffer || image + size > upgrade_buffer + upgrade_buffer_size) {
    abort();
  }
  return -1;
}

std::vector<uint8_t> encode(const uint8_t* data, size_t size) {
  std::vector<uint8_t> image(data, data + size);
  while (image.size() % 7 != 0) image.push_back(0);
  uint32_t sum = 0;
  for (uint8_t b : image) sum += b;
  image.insert(image.end(),
               {uint8_t(sum), uint8_t(sum >> 8), uint8_t(sum >> 16), uint8_t(sum >> 24), 0, 0, 0});
  std::vector<uint8_t> out;
  for (size_t g = 0; g < image.size(); g += 7) {
    uint8_t top = 0;
    for (size_t k = 0; k < 7; ++k) {
      out.push_back(image[g + k] & 0x7F);
      top = uint8_t(top | (image[g + k] >> 7) << k);
    }
    out.push_back(top);
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  const int null_fd = open("/dev/null", O_WRONLY);
  if (null_fd >= 0) dup2(null_fd, STDOUT_FILENO);
  host_sysex_reset();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  upgrade_reset();
  upgrade.hooks.write_firmware_image = check_writer;
  std::vector<uint8_t> stream;
  if (data[0] & 1) {
    stream = encode(data + 1, size - 1);
  } else {
    for (size_t i = 1; i < size; ++i) stream.push_back(data[i] & 0x7F);
  }
  size_t at = 0;
  do {
    const size_t n =
        stream.size() - at < message_payload_max ? stream.size() - at : message_payload_max;
    const bool last = at + n >= stream.size();
    std::vector<uint8_t> m(host_sysex_header, host_sysex_header + host_sysex_header_length);
    m.push_back(last ? host_cmd_upgrade_finish : host_cmd_upgrade_data);
    m.insert(m.end(), stream.begin() + long(at), stream.begin() + long(at + n));
    m.push_back(sysex_end);
    host_sysex(m.data(), int(m.size()));
    at += n;
  } while (at < stream.size());
  return 0;
}
