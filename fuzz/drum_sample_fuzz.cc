// Feeds arbitrary bytes to the drum sample decoder as a file "drum%d.wav" would reach it: a
// sample it accepts fits a voice, is stereo and within full scale; anything else is refused.
#include <cstddef>
#include <cstdint>

#include "drums/drum_machine.h"
#include "drums/drum_samples.h"
#include "fuzz/fuzz_support.h"

namespace {

constexpr int32_t full_scale = 1 << 24;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const DrumSampleData d = drum_sample_decode(data, int64_t(size));
  if (d.fault != nullptr) return 0;
  require(!d.frames.empty() && d.frames.size() % 2 == 0);
  require(d.frames.size() / 2 <= size_t(drum_voice_max_frames));
  for (int32_t x : d.frames) require(x >= -full_scale && x < full_scale);
  return 0;
}
