#include "panel/random_restart.h"

#include <cstdlib>

#include "config/config.h"
#include "engine/transport.h"
#include "engine/transport_commands.h"
#include "panel/display_state.h"
#include "panel/selection.h"

RandomRestart random_restart;

namespace {

constexpr int16_t default_max = 5;
constexpr int32_t frames_per_run = 480;  // 10 ms at 48000 frames per second
constexpr int32_t runs_per_unit = 100;   // the min/max settings count seconds

uint8_t bit_of(int k) { return uint8_t(1u << (k - 1)); }

// A muted track restarts from its loop start; either way it stops at its loop end, so it plays
// one pass, and its next restart is drawn.
void schedule(int k, int code) {
  ConfigRecord& c = config;
  if (c.rnd_restart_max < c.rnd_restart_min || c.rnd_restart_max == 0) {
    c.rnd_restart_min = 0;
    c.rnd_restart_max = default_max;
    config_dirty = 1;
  }
  const int32_t spread = (c.rnd_restart_max - c.rnd_restart_min) * runs_per_unit;
  // Equal settings leave no random part (there is nothing to spread over).
  const int32_t random_part = spread > 0 ? rand() % spread : 0;
  const uint32_t loop_runs = uint32_t(tracks[k - 1].length / frames_per_run);
  const uint32_t pause = uint32_t(c.rnd_restart_min) + loop_runs + uint32_t(random_part) + 1;
  random_restart.restart_time[k - 1] = random_restart.counter + pause;
  if (code == track_stopped) retrigger_track(k - 1, 0);
  stop_at_loop_end(k - 1, 1);
}

}  // namespace

int32_t cmd_random_restart(int32_t) {
  const uint8_t mask = selected_mask();
  const uint32_t snapshot = transport_state_snapshot();
  for (int k = 1; k <= track_count; ++k) {
    if (!(mask & bit_of(k))) continue;
    const int code = track_state_code(snapshot, k - 1);
    if (code != track_playing && code != track_stopped) continue;
    selection.random_restart_mask |= bit_of(k);
    schedule(k, code);
  }
  report(display_mode_tag, "RRST", Redraw::title);
  return 0;
}

void random_restart_service() {
  RandomRestart& r = random_restart;
  r.counter++;
  const uint8_t armed = selection.random_restart_mask;
  if (armed == 0) return;
  const uint32_t snapshot = transport_state_snapshot();
  for (int k = 1; k <= track_count; ++k) {
    if (!(armed & bit_of(k))) continue;
    if (track_state_code(snapshot, k - 1) != track_stopped) continue;
    if (r.restart_time[k - 1] == r.counter) schedule(k, track_stopped);
  }
}

void random_restart_reset() { random_restart = RandomRestart{}; }
