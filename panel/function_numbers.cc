#include "panel/function_numbers.h"

#include <algorithm>
#include <climits>

#include "core/constants.h"
#include "drums/drum_machine.h"
#include "panel/handlers.h"
#include "panel/handlers_editing.h"
#include "panel/random_restart.h"

namespace {

constexpr OutsideNumber none = OutsideNumber::ignored;
constexpr OutsideNumber clamp = OutsideNumber::clamped;
constexpr OutsideNumber refuse = OutsideNumber::refused;

// Ranges of the handlers (panel/handlers.h). Levels are dB steps below full, 0 down to -96;
// pan -127 (left) to 127; feedback in percent; quantise steps and segments 2..64 as the engine
// takes them; stretch 1..200 percent; the multiply factor is checked against the longest track
// by the engine, so any factor from 1 up is safe to pass.
constexpr FunctionNumbers numbers[] = {
    {cmd_select_track, refuse, 0, track_count, "track 1 to 8, 0 all tracks"},
    {cmd_select_group, refuse, 1, 10, "group 1 to 10"},
    {cmd_next_track, refuse, -1, 1, "1 next, -1 previous"},
    {cmd_except_track, none, 0, 0, nullptr},
    {cmd_rec_dub, refuse, 0, 2, "0 free, 1 MIDI sync, 2 sync to the clock source track"},
    {cmd_q_midi_sync_rec, none, 0, 0, nullptr},
    {cmd_play_stop, refuse, 0, 1, "0 at the loop end, 1 now"},
    {cmd_play, refuse, 0, 4, "0 play, 1 now, 2 retrigger, 3 random retrigger, 4 once"},
    {cmd_all_play, refuse, 0, 1, "0 at the loop end, 1 now"},
    {cmd_stop, refuse, 0, 1, "0 at the loop end, 1 now"},
    {cmd_all_stop, refuse, 0, 1, "0 at the loop end, 1 now"},
    {cmd_replay_all_stop, none, 0, 0, nullptr},
    {cmd_track_erase, none, 0, 0, nullptr},
    {cmd_set_clock_src, none, 0, 0, nullptr},
    {cmd_multiply, refuse, 1, INT32_MAX, "factor 1 or more: the loop repeated that many times"},
    {cmd_cue, none, 0, 0, nullptr},
    {cmd_replace, refuse, 0, 1, "1 keeps the loop audible, 0 silences it"},
    {cmd_q_replace, refuse, 0, 1, "1 keeps the loop audible, 0 silences it"},
    {cmd_midi_start, none, 0, 0, nullptr},
    {cmd_midi_stop, none, 0, 0, nullptr},
    {cmd_quant_value, refuse, 1, 64, "quantise steps 1 to 64"},
    {cmd_undo, none, 0, 0, nullptr},
    {cmd_redo, none, 0, 0, nullptr},
    {cmd_switch, refuse, 0, 2, "0 record, 1 play with the clock source, 2 play"},
    {cmd_zt6_switch, none, 0, 0, nullptr},
    {cmd_bounce, refuse, 0, 2, "0 free, 1 sync, 2 MIDI sync"},
    {cmd_track_level, clamp, -96, 0, "level 0 (full) to -96 dB"},
    {cmd_track_level_step, clamp, -96, 96, "step in dB; the level stays within 0 to -96"},
    {cmd_feedback, clamp, 0, 100, "feedback 0 to 100 percent"},
    {cmd_pan_center, clamp, -127, 127, "pan -127 (left) to 127 (right)"},
    {cmd_fade_swell, refuse, 0, 2, "0 fade or swell, 1 fade, 2 swell"},
    {cmd_use_preset, refuse, 0, 10, "preset 0 to 10"},
    {cmd_assign_output, refuse, 0, 2, "0 main, 1 aux 1, 2 aux 2"},
    {cmd_midi_bypass, refuse, 0, 1, "ZT6 display 0 old, 1 new"},
    {cmd_random_restart, none, 0, 0, nullptr},
    {cmd_reverse, none, 0, 0, nullptr},
    {cmd_half_speed, none, 0, 0, nullptr},
    {cmd_pitch, refuse, 0, 12, "interval 0 (octave lower) to 12 (original note)"},
    {cmd_scramble, refuse, 2, 64, "segments 2 to 64: 64 fast, 32 medium, 16 slow"},
    {cmd_ostinato, refuse, 0, 64, "0 the track's quantise steps, else segments up to 64"},
    {cmd_copy, none, 0, 0, nullptr},
    {cmd_stretch, refuse, 1, 200, "new length 1 to 200 percent of the loop"},
    {cmd_pitch_octave_up, none, 0, 0, nullptr},
    {drums_start, none, 0, 0, nullptr},
    {drums_stop, none, 0, 0, nullptr},
    {cmd_capture_loop, none, 0, 0, nullptr},
    {cmd_measure_latency, none, 0, 0, nullptr},
    {cmd_transport_mode, refuse, 0, 2, "JACK transport 0 off, 1 follow, 2 master"},
    {cmd_rec_length, refuse, 0, 16, "bars 0 (free), 1, 2, 4, 8 or 16"},
    {cmd_count_in_bars, refuse, 0, 2, "bars counted in: 0 off, 1 or 2"},
    {cmd_click, refuse, 0, 2, "click 0 off, 1 during the count-in, 2 always"},
};

}  // namespace

const FunctionNumbers* function_numbers(FunctionHandler handler) {
  for (const FunctionNumbers& n : numbers) {
    if (n.handler == handler) return &n;
  }
  return nullptr;
}

bool bound_function_number(const FunctionEntry& row, int64_t number, int32_t& argument) {
  const FunctionNumbers* n = function_numbers(row.handler);
  if (n == nullptr || n->outside == OutsideNumber::ignored) {
    argument = row.argument;
    return true;
  }
  if (number >= n->low && number <= n->high) {
    argument = int32_t(number);
    return true;
  }
  if (n->outside == OutsideNumber::refused) return false;
  argument = int32_t(std::clamp<int64_t>(number, n->low, n->high));
  return true;
}
