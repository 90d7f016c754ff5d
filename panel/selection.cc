#include "panel/selection.h"

Selection selection;

uint8_t selected_mask() {
  const Selection& s = selection;
  uint8_t mask = 0;
  if (s.temp_group != 0) {
    mask = s.temp_group;
  } else if (s.current_track >= 1 && s.current_track <= track_count) {
    mask = uint8_t(1u << (s.current_track - 1));
  } else if (s.current_track == 0) {
    mask = all_tracks_mask;
  } else if (s.current_track >= -config_group_count) {
    mask = config.groups[-s.current_track - 1];
  }
  if (s.except_flag) mask = uint8_t(~mask);
  return mask;
}

int single_track() {
  const int k = selection.current_track;
  return (k >= 1 && k <= track_count) ? k : 0;
}

void selection_reset() {
  Selection& s = selection;
  const Selection defaults;  // the defaults the record declares
  s.current_track = defaults.current_track.load();
  s.temp_group = defaults.temp_group;
  s.except_flag = defaults.except_flag;
  s.random_restart_mask = defaults.random_restart_mask;
  s.replay_set = defaults.replay_set;
  s.aux1_mask = defaults.aux1_mask;
  s.aux2_mask = defaults.aux2_mask;
  s.clock_source_shown = defaults.clock_source_shown;
  s.bounce_in_progress = defaults.bounce_in_progress;
  s.entry_scratch = defaults.entry_scratch;
}
