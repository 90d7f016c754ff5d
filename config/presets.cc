#include "config/presets.h"

#include <cstring>

#include "config/config.h"

namespace {

bool valid_preset(int n) { return n >= 0 && n < config_preset_count; }

}  // namespace

int preset_save(int n) {
  if (!valid_preset(n)) return -1;
  Preset& p = config.presets[n];
  memcpy(p.levels, config_live.mix_level, sizeof p.levels);
  memcpy(p.feedbacks, config_live.mix_feedback, sizeof p.feedbacks);
  memcpy(p.pans, config_live.mix_pan, sizeof p.pans);
  p.main_level = config.all_main_level;
  config_save();  // a busy storage thread leaves config_dirty set for the idle tick
  return 0;
}

int preset_use(int n) {
  if (!valid_preset(n)) return -1;
  const Preset& p = config.presets[n];
  memcpy(config_live.mix_level, p.levels, sizeof p.levels);
  memcpy(config_live.mix_feedback, p.feedbacks, sizeof p.feedbacks);
  memcpy(config_live.mix_pan, p.pans, sizeof p.pans);
  config.all_main_level = p.main_level;
  return 0;
}
