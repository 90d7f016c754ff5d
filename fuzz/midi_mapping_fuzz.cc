// Feeds arbitrary byte streams through the whole MIDI input path: the input ring, the parser and
// mapper, the input poll and the mapping of notes, program changes and controllers to functions,
// whose handlers then drive the transport against an engine that runs inline. Checks that the
// selection, the shown values and the transport registers stay within their ranges.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "config/config.h"
#include "core/log_ring.h"
#include "engine/engine.h"
#include "engine/engine_wait.h"
#include "engine/fades.h"
#include "engine/transport.h"
#include "core/lock.h"
#include "host/looper.h"
#include "midi/clock.h"
#include "midi/midi_map.h"
#include "panel/midi_mapping.h"
#include "midi/midi_parser.h"
#include "midi/midi_queue.h"
#include "panel/command_queue.h"
#include "panel/display_state.h"
#include "panel/function_table.h"
#include "panel/input.h"
#include "panel/pedal.h"
#include "panel/random_restart.h"
#include "panel/selection.h"
#include "pool/pool.h"
#include "fuzz/fuzz_support.h"

namespace {

constexpr size_t burst_bytes = 64;          // bytes delivered per audio period
constexpr int frames_per_tick = 32;         // engine frames between two input polls
constexpr int32_t wait_frame_limit = 4096;  // inline frames before a wait gives up
constexpr int clean_blocks = 64;            // zeroed blocks ready for recordings

// Every kind of trigger is mapped: note n runs function id n, program p the ids p + 6 and p + 7,
// controllers below 64 are switches running id c + 64, the others drive controller function
// (c - 64) mod 30 (the sentinel and one id beyond it included).
void map_everything(uint8_t options) {
  ConfigRecord& c = config;
  for (int n = 0; n < 128; ++n) c.midi_lists[list_note_base + n][0] = int16_t(n);
  for (int p = 0; p < 128; ++p) {
    c.midi_lists[list_program_base + p][0] = int16_t((p + 6) % function_id_count);
    c.midi_lists[list_program_base + p][1] = int16_t((p + 7) % function_id_count);
  }
  for (int cc = 0; cc < 128; ++cc) {
    if (cc < 64) {
      c.midi_lists[list_switch_base + cc][0] = int16_t(cc + 64);
    } else {
      c.cc_controller[cc] = int16_t((cc - 64) % controller_function_limit);
      c.cc_min[cc] = int16_t(cc & 0x0F);
      c.cc_max[cc] = int16_t(127 - (cc & 0x1F));
    }
  }
  c.cc_controller[bounce_destination_cc] = 0;
  c.midi_lists[list_switch_base + bounce_destination_cc][0] = -1;
  c.pedal_mode = options & 1;
  c.track_follows_cc = (options >> 1) & 1;
  c.switch_priority = (options >> 2) & 1;
  c.groups[0] = 0x05;
  c.groups[1] = 0xF0;
  c.rnd_restart_max = int16_t((options >> 3) & 3);
}

void reset_all(const uint8_t* data) {
  looper_reset();
  config_defaults();
  config.midi_channel = int16_t(data[0] & 0x0F);
  config.cc_dejitter = int16_t((data[0] >> 4) % 5);
  config.quant_cc = int16_t(data[1] & 0x7F);
  map_everything(data[1]);
  for (int i = 0; i < clean_blocks; ++i) pool_clean_one();
  engine_wait.run_frame = run_inline_frame;
  engine_wait.inline_frame_limit = wait_frame_limit;
}

void check_state() {
  const Selection& s = selection;
  require(s.current_track >= -config_group_count && s.current_track <= track_count);
  require(s.bounce_in_progress >= 0 && s.bounce_in_progress <= track_count);
  require(s.clock_source_shown >= 0 && s.clock_source_shown <= track_count);
  require(bounce_destination_track() <= track_count);
  require(strlen(display_state.tag_text) <= size_t(tag_text_max));
  for (int t = 0; t < track_count; ++t) {
    require(shown_level[t] <= 0 && shown_level[t] >= -128);
    require(shown_feedback[t] >= 0 && shown_feedback[t] <= 100);
    require(shown_pan[t] >= -128 && shown_pan[t] <= 128);
    require(config.q_steps[t] >= 1 && config.q_steps[t] <= 127);
    require(tracks[t].length >= 0);
    require(tracks[t].rate != 0);
  }
  require(config.zt6_display <= 1);
  const EngineState& e = engine_state;
  for (int32_t role : {e.record_track.load(), e.overdub_track.load(), e.replace_track.load()}) {
    require(role >= -1 && role < track_count);
  }
  require(e.clock_source_track >= -1 && e.clock_source_track < track_count);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // Handlers report on the console; the fuzzer's own output goes to standard error.
  if (freopen("/dev/null", "w", stdout) == nullptr) return 0;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  reset_all(data);
  int tick = 0;
  size_t i = 2;
  while (i < size) {
    const size_t burst_end = i + burst_bytes < size ? i + burst_bytes : size;
    for (; i < burst_end; ++i) midi_in_put(data[i]);
    while (midi_in_ring.read_index.load() != midi_in_ring.write_index.load()) {
      ui_poll();
      for (int f = 0; f < frames_per_tick; ++f) run_inline_frame();
      transport_update();
      fade_service();
      random_restart_service();
      while (midi_out_pending() > 0) midi_out_take();
      check_state();
      ++tick;
    }
  }
  (void)tick;
  return 0;
}
