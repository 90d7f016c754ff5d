#include "engine/latency.h"

#include <cstdio>

#include "core/constants.h"
#include "engine/track.h"

Latency latency;

namespace {

int32_t limited_compensation(int64_t frames) {
  if (frames < 0) return 0;
  return frames > max_compensation_frames ? max_compensation_frames : int32_t(frames);
}

// The sum the figures make, before the limit.
int64_t figures_sum(const Latency& l) {
  return int64_t(l.capture.load()) + l.playback.load() + l.extra.load();
}

void update_compensation() {
  Latency& l = latency;
  l.compensation.store(l.enabled.load() ? limited_compensation(figures_sum(l)) : 0);
}

}  // namespace

void latency_reset() {
  Latency& l = latency;
  l.capture.store(0);
  l.playback.store(0);
  l.extra.store(0);
  l.enabled.store(true);
  l.compensation.store(0);
}

void latency_set_reported(int32_t capture, int32_t playback) {
  latency.capture.store(capture < 0 ? 0 : capture);
  latency.playback.store(playback < 0 ? 0 : playback);
  update_compensation();
}

void latency_set_extra(int32_t extra) {
  latency.extra.store(extra);
  update_compensation();
}

void latency_set_enabled(bool enabled) {
  latency.enabled.store(enabled);
  update_compensation();
}

int latency_line(char* out, int size) {
  const Latency& l = latency;
  const int64_t sum = figures_sum(l);
  const int32_t used = limited_compensation(sum);
  // Tenths of a millisecond, rounded: frames × 10000 / 48000.
  const int64_t tenths = (int64_t(used) * 10000 + frames_per_second / 2) / frames_per_second;
  char state[64];
  if (!l.enabled.load()) {
    snprintf(state, sizeof state, "compensation off");
  } else if (sum > max_compensation_frames) {
    snprintf(state, sizeof state, "compensation on, limited to %d frames",
             int(max_compensation_frames));
  } else {
    snprintf(state, sizeof state, "compensation on");
  }
  const int n = snprintf(out, size_t(size),
                         "Latency: capture %d, playback %d, extra %d frames (%d.%d ms); %s",
                         int(l.capture.load()), int(l.playback.load()), int(l.extra.load()),
                         int(tenths / 10), int(tenths % 10), state);
  return n < size ? n : size - 1;
}

int32_t track_write_head(const Track& track) {
  const int32_t offset =
      compensation_offset(latency.compensation.load(std::memory_order_relaxed), track.rate);
  return write_head(track.position, offset, track.length);
}
