#include "drums/drum_samples.h"

#include <samplerate.h>
#include <sndfile.h>
#include <sys/stat.h>

#include <cmath>
#include <cstring>

#include "core/console.h"
#include "core/constants.h"
#include "drums/drum_machine.h"
#include "pool/pool.h"

namespace {

constexpr float full_scale = 16777216.0f;  // 2^24
constexpr int32_t sample_max = (1 << 24) - 1;
constexpr int32_t sample_min = -(1 << 24);
// Rates a drum sample may have: well inside libsamplerate's ratios of 1/256 to 256, and at most
// 8 × 131072 input frames (8 MB of floats) for a full voice.
constexpr int min_rate = 1000;
constexpr int max_rate = 384000;
constexpr int resample_margin = 64;  // output frames beyond the ratio's exact count

// A file in memory, read through libsndfile's virtual I/O.
struct MemoryFile {
  const uint8_t* bytes;
  sf_count_t length;
  sf_count_t at;
};

sf_count_t memory_length(void* user) { return static_cast<MemoryFile*>(user)->length; }

sf_count_t memory_seek(sf_count_t offset, int whence, void* user) {
  auto* f = static_cast<MemoryFile*>(user);
  sf_count_t to = offset;
  if (whence == SEEK_CUR) to += f->at;
  if (whence == SEEK_END) to += f->length;
  if (to < 0 || to > f->length) return -1;
  f->at = to;
  return to;
}

sf_count_t memory_read(void* out, sf_count_t count, void* user) {
  auto* f = static_cast<MemoryFile*>(user);
  if (count < 0) return 0;
  sf_count_t n = f->length - f->at;
  if (n > count) n = count;
  memcpy(out, f->bytes + f->at, size_t(n));
  f->at += n;
  return n;
}

sf_count_t memory_write(const void*, sf_count_t, void*) { return 0; }

sf_count_t memory_tell(void* user) { return static_cast<MemoryFile*>(user)->at; }

int32_t to_sample(float x) {
  const float scaled = std::nearbyint(x * full_scale);
  if (!(scaled > float(sample_min))) return sample_min;  // also NaN
  if (scaled > float(sample_max)) return sample_max;
  return int32_t(scaled);
}

// Reads an open file: stereo floats at its own rate, then resampled and converted.
DrumSampleData decode_open(SNDFILE* file, const SF_INFO& info) {
  DrumSampleData out;
  const int channels = info.channels;
  const int rate = info.samplerate;
  if (channels < 1) {
    out.fault = "no audio";
    return out;
  }
  if (rate < min_rate || rate > max_rate) {
    out.fault = "unusable sample rate";
    return out;
  }
  // Enough input for a full voice, and one frame more to tell a longer file.
  const double ratio = double(frames_per_second) / rate;
  const sf_count_t wanted = sf_count_t(std::ceil(drum_voice_max_frames / ratio)) + 1;
  std::vector<float> raw;
  std::vector<float> stereo;
  stereo.reserve(size_t(info.frames > 0 && info.frames < wanted ? info.frames : wanted) * 2);
  constexpr sf_count_t chunk = 4096;
  raw.resize(size_t(chunk) * size_t(channels));
  sf_count_t total = 0;
  while (total < wanted) {
    const sf_count_t n =
        sf_readf_float(file, raw.data(), chunk < wanted - total ? chunk : wanted - total);
    if (n <= 0) break;
    for (sf_count_t i = 0; i < n; i++) {
      const float left = raw[size_t(i * channels)];
      const float right = channels > 1 ? raw[size_t(i * channels + 1)] : left;
      stereo.push_back(left);
      stereo.push_back(right);
    }
    total += n;
  }
  if (total == 0) {
    out.fault = "no audio";
    return out;
  }

  std::vector<float> resampled;
  const float* source = stereo.data();
  int64_t frames = total;
  if (rate != frames_per_second) {
    resampled.resize(size_t(double(total) * ratio + resample_margin) * 2);
    SRC_DATA job{};
    job.data_in = stereo.data();
    job.input_frames = long(total);
    job.data_out = resampled.data();
    job.output_frames = long(resampled.size() / 2);
    job.end_of_input = 1;
    job.src_ratio = ratio;
    if (src_simple(&job, SRC_SINC_MEDIUM_QUALITY, 2) != 0 || job.output_frames_gen <= 0) {
      out.fault = "resampling failed";
      return out;
    }
    source = resampled.data();
    frames = job.output_frames_gen;
  }
  if (frames > drum_voice_max_frames) {
    frames = drum_voice_max_frames;
    out.cut = true;
  }
  out.frames.resize(size_t(frames) * 2);
  for (size_t i = 0; i < out.frames.size(); i++) out.frames[i] = to_sample(source[i]);
  return out;
}

// Takes pool blocks for the frames, fills them and gives them to the voice; false when the pool
// has too few blocks (nothing is kept).
bool install(int drum, const std::vector<int32_t>& frames) {
  int32_t* blocks[drum_voice_blocks] = {};
  const int32_t length = int32_t(frames.size() / 2);
  for (int b = 0; b * block_frames < length; b++) {
    blocks[b] = pool_alloc_any();
    if (blocks[b] == nullptr) {
      for (int32_t* block : blocks) {
        if (block != nullptr) pool_free(block);
      }
      return false;
    }
    const int32_t first = b * block_frames;
    const int32_t n = length - first < block_frames ? length - first : block_frames;
    memcpy(blocks[b], frames.data() + 2 * size_t(first), size_t(n) * 2 * sizeof(int32_t));
    memset(blocks[b] + 2 * n, 0, size_t(block_frames - n) * 2 * sizeof(int32_t));
  }
  drum_voice_install(drum, blocks, length);
  return true;
}

}  // namespace

DrumSampleData drum_sample_decode(const uint8_t* bytes, int64_t length) {
  MemoryFile memory{bytes, length, 0};
  SF_VIRTUAL_IO io{memory_length, memory_seek, memory_read, memory_write, memory_tell};
  SF_INFO info{};
  SNDFILE* file = sf_open_virtual(&io, SFM_READ, &info, &memory);
  if (file == nullptr) {
    DrumSampleData out;
    out.fault = "not a sound file";
    return out;
  }
  DrumSampleData out = decode_open(file, info);
  sf_close(file);
  return out;
}

DrumSampleData drum_sample_read(const char* path) {
  SF_INFO info{};
  SNDFILE* file = sf_open(path, SFM_READ, &info);
  if (file == nullptr) {
    DrumSampleData out;
    struct stat st;
    out.missing = stat(path, &st) != 0;
    out.fault = "not a sound file";
    return out;
  }
  DrumSampleData out = decode_open(file, info);
  sf_close(file);
  return out;
}

int drum_sample_load(int drum, const char* path) {
  if (drum < 0 || drum >= drum_count) return -1;
  DrumSampleData data = drum_sample_read(path);
  if (data.missing) return 1;
  if (data.fault == nullptr && !install(drum, data.frames)) data.fault = "no free audio blocks";
  if (data.fault != nullptr) {
    console_printf("Drum %d: %s refused: %s\n", drum + 1, path, data.fault);
    return -1;
  }
  const int frames = int(data.frames.size() / 2);
  if (data.cut) {
    console_printf("Drum %d: %s loaded, cut to %d frames\n", drum + 1, path, frames);
  } else {
    console_printf("Drum %d: %s loaded, %d frames\n", drum + 1, path, frames);
  }
  return 0;
}

void drum_samples_load_all() {
  char path[16];
  for (int i = 0; i < drum_count; i++) {
    format_to(path, "drum%d.wav", i + 1);
    drum_sample_load(i, path);
  }
}
