#include "engine/fade_out_copy.h"

#include "core/console.h"
#include "engine/track_ops.h"

int start_fade_out_copy(int32_t t) {
  if (!valid_track_index(t)) return status_refused;
  EngineState& s = engine_state;
  if (on_list(s.fading_list, t)) return status_refused;
  if (!on_list(s.play_list, t)) return status_ok;
  begin_crossfade(tracks[t], fading_voices[t]);
  list_add(s.fading_list, t);
  return status_ok;
}

void report_fading_refusal(int32_t t) {
  console_printf("Track %d already on fading list\n", t + 1);
}
