// The waveforms and the state message: built on the web thread from a snapshot, never on the
// audio thread.
#include <cstdio>
#include <cstring>
#include <string>

#include "core/lock.h"
#include "engine/track.h"
#include "net/status_report.h"
#include "pool/pool.h"
#include "web/web_panel.h"

namespace {

constexpr int wave_reads_per_pair = 64;  // frames read for each pair, spread over its span
constexpr int wave_pairs_per_lock = 16;  // pairs computed in one hold of the engine lock
constexpr int wave_shift = 17;           // full scale (1 << 24) becomes 128

int8_t wave_value(int32_t sample) {
  const int32_t v = sample >> wave_shift;
  return int8_t(v > 127 ? 127 : v < -127 ? -127 : v);
}

}  // namespace

int web_compute_wave(int t, int8_t* pairs) {
  if (t < 0 || t >= track_count) return 0;
  int32_t length;
  {
    EngineLockGuard lock;
    length = tracks[t].length.load();
  }
  if (length <= 0 || int64_t(length) > max_track_frames) return 0;
  const int count = length < web_wave_points ? length : web_wave_points;
  // The samples are read under the engine lock, a few pairs at a time (some 2000 reads, a few
  // microseconds), straight from the track's block table: the audio thread may be overdubbing
  // them, and a block that the track gave up meanwhile is no longer in its row.
  for (int group = 0; group < count; group += wave_pairs_per_lock) {
    const int group_end = group + wave_pairs_per_lock < count ? group + wave_pairs_per_lock : count;
    EngineLockGuard lock;
    for (int i = group; i < group_end; ++i) {
      const int64_t first = int64_t(length) * i / count;
      const int64_t end = int64_t(length) * (i + 1) / count;
      const int64_t spread = (end - first) / wave_reads_per_pair;
      const int64_t step = spread > 0 ? spread : 1;
      int32_t low = 0, high = 0;
      for (int64_t f = first; f < end; f += step) {
        const int32_t* block = track_blocks[t][size_t(f / block_frames)];
        if (block == nullptr) continue;  // no block: silence
        const int32_t* frame = block + 2 * (f % block_frames);
        for (int c = 0; c < 2; ++c) {
          if (frame[c] < low) low = frame[c];
          if (frame[c] > high) high = frame[c];
        }
      }
      pairs[2 * i] = wave_value(low);
      pairs[2 * i + 1] = wave_value(high);
    }
  }
  return count;
}

std::string web_json_text(const char* text, size_t length) {
  std::string out;
  out.reserve(length + 8);
  for (size_t i = 0; i < length; ++i) {
    const uint8_t c = uint8_t(text[i]);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += char(c);
    } else if (c == '\n') {
      out += "\\n";
    } else if (c < 0x20 || c > 0x7E) {
      char escape[8];
      snprintf(escape, sizeof escape, "\\u%04x", c);
      out += escape;
    } else {
      out += char(c);
    }
  }
  return out;
}

std::string web_wave_json(int t, const int8_t* pairs, int count) {
  std::string out = "{\"t\":\"wave\",\"n\":" + std::to_string(t) + ",\"w\":[";
  for (int i = 0; i < 2 * count; ++i) {
    if (i > 0) out += ',';
    out += std::to_string(int(pairs[i]));
  }
  out += "]}";
  return out;
}

std::string web_state_json(const RemoteStatus& status, const char lines[][display_columns + 1],
                           int32_t input_peak, int32_t output_peak) {
  std::string out = "{\"t\":\"state\",\"sel\":" + std::to_string(status.selected) + ",\"tr\":[";
  char item[160];
  for (int t = 0; t < track_count; ++t) {
    snprintf(item, sizeof item, "%s[\"%s\",%d,%d,%d,%d,%d]", t > 0 ? "," : "",
             state_word_text(status, t), int(status.length[t]), int(status.position[t]),
             int(status.level[t]), int(status.pan[t]), int(status.feedback[t]));
    out += item;
  }
  out += "],\"lines\":[";
  for (int line = 0; line < display_line_count; ++line) {
    if (line > 0) out += ',';
    // Characters outside printable ASCII go as \u escapes: the page draws the panel's glyphs.
    out += '"' + web_json_text(lines[line], strnlen(lines[line], display_columns)) + '"';
  }
  snprintf(item, sizeof item,
           "],\"in\":%d,\"out\":%d,\"rec_length\":%d,\"count_in_bars\":%d,\"click\":%d,"
           "\"count_in\":%d}",
           int(input_peak), int(output_peak), int(status.rec_length), int(status.count_in_bars),
           int(status.click), int(status.count_in));
  out += item;
  return out;
}
