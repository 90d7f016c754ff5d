#include "engine/config_apply.h"

#include <algorithm>

#include "config/config.h"
#include "core/lock.h"
#include "engine/engine.h"
#include "engine/track.h"

namespace {

constexpr int gate_level_max = 24;        // the menu's range; keeps 1 << level inside int32
constexpr int gate_delay_max = 200;       // the menu's range
constexpr int gate_frames_per_unit = 50;  // about 1 ms at 48000 frames/s

}  // namespace

void config_apply_noise_gate() {
  // A stored value outside the menu's range is kept in the record but bounded here, so that the
  // threshold shift stays defined and the delay is never negative.
  const int level = std::clamp(int(config.noise_gate_level), 0, gate_level_max);
  const int delay = std::clamp(int(config.noise_gate_delay), 0, gate_delay_max);
  EngineLockGuard lock;
  engine_state.gate_level = int32_t(1) << level;
  engine_state.gate_delay = delay * gate_frames_per_unit;
}

void config_apply_to_engine() {
  // set_main_gain / set_aux_gain refuse values outside -8..8 and leave the shifts alone.
  set_main_gain(config.all_main_level);
  set_aux_gain(config.all_aux_level);
  config_apply_noise_gate();
}
