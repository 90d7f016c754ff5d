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
    {cmd_select_track, refuse, 0, track_count},
    {cmd_select_group, refuse, 1, 10},
    {cmd_next_track, refuse, -1, 1},
    {cmd_except_track, none, 0, 0},
    {cmd_rec_dub, refuse, 0, 2},
    {cmd_q_midi_sync_rec, none, 0, 0},
    {cmd_play_stop, refuse, 0, 1},
    {cmd_play, refuse, 0, 4},
    {cmd_all_play, refuse, 0, 1},
    {cmd_stop, refuse, 0, 1},
    {cmd_all_stop, refuse, 0, 1},
    {cmd_replay_all_stop, none, 0, 0},
    {cmd_track_erase, none, 0, 0},
    {cmd_set_clock_src, none, 0, 0},
    {cmd_multiply, refuse, 1, INT32_MAX},
    {cmd_cue, none, 0, 0},
    {cmd_replace, refuse, 0, 1},
    {cmd_q_replace, refuse, 0, 1},
    {cmd_midi_start, none, 0, 0},
    {cmd_midi_stop, none, 0, 0},
    {cmd_quant_value, refuse, 1, 64},
    {cmd_undo, none, 0, 0},
    {cmd_redo, none, 0, 0},
    {cmd_switch, refuse, 0, 2},
    {cmd_zt6_switch, none, 0, 0},
    {cmd_bounce, refuse, 0, 2},
    {cmd_track_level, clamp, -96, 0},
    {cmd_track_level_step, clamp, -96, 96},
    {cmd_feedback, clamp, 0, 100},
    {cmd_pan_center, clamp, -127, 127},
    {cmd_fade_swell, refuse, 0, 2},
    {cmd_use_preset, refuse, 0, 10},
    {cmd_assign_output, refuse, 0, 2},
    {cmd_midi_bypass, refuse, 0, 1},
    {cmd_random_restart, none, 0, 0},
    {cmd_reverse, none, 0, 0},
    {cmd_half_speed, none, 0, 0},
    {cmd_pitch, refuse, 0, 12},
    {cmd_scramble, refuse, 2, 64},
    {cmd_ostinato, refuse, 0, 64},  // 0: the track's quantise steps
    {cmd_copy, none, 0, 0},
    {cmd_stretch, refuse, 1, 200},
    {cmd_pitch_octave_up, none, 0, 0},
    {drums_start, none, 0, 0},
    {drums_stop, none, 0, 0},
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
