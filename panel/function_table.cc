#include "panel/function_table.h"

#include <iterator>

#include "core/constants.h"
#include "drums/drum_machine.h"
#include "panel/handlers.h"
#include "panel/handlers_editing.h"
#include "panel/random_restart.h"

namespace {}  // namespace

// Selection-list order; the ids are stored in the configuration and never change meaning.
constexpr FunctionEntry function_table[] = {
    {100, 100, "Switch-Record", cmd_switch, 0},
    {101, 101, "SwitchPlay+CKSR", cmd_switch, 1},
    {104, 104, "SwitchPlay", cmd_switch, 2},
    {47, 47, "Sync Rec/Dub", cmd_rec_dub, 2},
    {27, 27, "MIDI Sync Rec", cmd_rec_dub, 1},
    {124, 124, "Q MIDI Sync Rec", cmd_q_midi_sync_rec, 0},
    {0, 0, "Rec/Dub", cmd_rec_dub, 0},
    {60, 60, "Play/Stop Now", cmd_play_stop, 1},
    {1, 1, "Play/Stop", cmd_play_stop, 0},
    {56, 56, "Replay/All Stop", cmd_replay_all_stop, 0},
    {35, 35, "Play Retrigger", cmd_play, 2},
    {13, 13, "Play Now", cmd_play, 1},
    {15, 15, "Play", cmd_play, 0},
    {17, 17, "All Play Now", cmd_all_play, 1},
    {19, 19, "All Play", cmd_all_play, 0},
    {14, 14, "Stop Now", cmd_stop, 1},
    {16, 16, "Stop", cmd_stop, 0},
    {18, 18, "All Stop Now", cmd_all_stop, 1},
    {20, 20, "All Stop", cmd_all_stop, 0},
    {2, 2, "All Tracks", cmd_select_track, 0},
    {3, 3, "Select Track 1", cmd_select_track, 1},
    {4, 4, "Select Track 2", cmd_select_track, 2},
    {5, 5, "Select Track 3", cmd_select_track, 3},
    {6, 6, "Select Track 4", cmd_select_track, 4},
    {7, 7, "Select Track 5", cmd_select_track, 5},
    {8, 8, "Select Track 6", cmd_select_track, 6},
    {9, 9, "Select Track 7", cmd_select_track, 7},
    {10, 10, "Select Track 8", cmd_select_track, 8},
    {36, 36, "Select Group (1)", cmd_select_group, 1},
    {37, 37, "Select Group (2)", cmd_select_group, 2},
    {38, 38, "Select Group (3)", cmd_select_group, 3},
    {39, 39, "Select Group (4)", cmd_select_group, 4},
    {40, 40, "Select Group (5)", cmd_select_group, 5},
    {41, 41, "Select Group (6)", cmd_select_group, 6},
    {42, 42, "Select Group (7)", cmd_select_group, 7},
    {43, 43, "Select Group (8)", cmd_select_group, 8},
    {44, 44, "Select Group (9)", cmd_select_group, 9},
    {45, 45, "Select Group(10)", cmd_select_group, 10},
    {11, 11, "Track Erase", cmd_track_erase, 0},
    {12, 12, "Track Level", cmd_track_level, value_not_given},
    {21, 21, "Set As Clock Src", cmd_set_clock_src, 0},
    {22, 22, "Next Track", cmd_next_track, 1},
    {23, 23, "Prev Track", cmd_next_track, -1},
    {24, 24, "Double", cmd_multiply, 2},
    {25, 25, "Triple", cmd_multiply, 3},
    {26, 26, "Quadruple", cmd_multiply, 4},
    {28, 28, "Reverse Track", cmd_reverse, 0},
    {29, 29, "Half Speed Tr", cmd_half_speed, 0},
    {30, 30, "Feedback 100%", cmd_feedback, 100},
    {31, 31, "Feedback +10%", cmd_feedback, 20010},
    {32, 32, "Feedback -10%", cmd_feedback, 19990},
    {33, 33, "Feedback +5%", cmd_feedback, 20005},
    {34, 34, "Feedback -5%", cmd_feedback, 19995},
    {46, 46, "Cue Track", cmd_cue, 0},
    {48, 48, "Replace", cmd_replace, 0},
    {49, 49, "Replace+Original", cmd_replace, 1},
    {78, 78, "Q Replace", cmd_q_replace, 0},
    {79, 79, "Q Replace+Orig", cmd_q_replace, 1},
    {50, 50, "Assign To AUX 1", cmd_assign_output, 1},
    {55, 55, "Assign To AUX 2", cmd_assign_output, 2},
    {62, 62, "Assign To MAIN", cmd_assign_output, 0},
    {82, 82, "MIDI Stop", cmd_midi_stop, 0},
    {51, 51, "MIDI Start", cmd_midi_start, 0},
    {52, 52, "Fast Scramble", cmd_scramble, 64},
    {53, 53, "Medium Scramble", cmd_scramble, 32},
    {54, 54, "Slow Scramble", cmd_scramble, 16},
    {57, 57, "Bounce", cmd_bounce, 0},
    {58, 58, "Sync Bounce", cmd_bounce, 1},
    {59, 59, "MIDI Sync Bounce", cmd_bounce, 2},
    {61, 61, "MIDI Bypass", cmd_midi_bypass, 0},
    {63, 63, "Use Preset (0)", cmd_use_preset, 0},
    {64, 64, "Use Preset (1)", cmd_use_preset, 1},
    {65, 65, "Use Preset (2)", cmd_use_preset, 2},
    {66, 66, "Use Preset (3)", cmd_use_preset, 3},
    {67, 67, "Use Preset (4)", cmd_use_preset, 4},
    {68, 68, "Use Preset (5)", cmd_use_preset, 5},
    {69, 69, "Use Preset (6)", cmd_use_preset, 6},
    {70, 70, "Use Preset (7)", cmd_use_preset, 7},
    {71, 71, "Use Preset (8)", cmd_use_preset, 8},
    {72, 72, "Use Preset (9)", cmd_use_preset, 9},
    {73, 73, "Use Preset (10)", cmd_use_preset, 10},
    {74, 74, "Pan Center", cmd_pan_center, 0},
    {77, 77, "Fade/Swell", cmd_fade_swell, 0},
    {76, 76, "Fade", cmd_fade_swell, 1},
    {75, 75, "Swell", cmd_fade_swell, 2},
    {80, 80, "Copy", cmd_copy, 0},
    {81, 81, "Undo", cmd_undo, 0},
    {126, 126, "Redo", cmd_redo, 0},
    {83, 83, "Octave lower", cmd_pitch, 0},
    {84, 84, "Minor 2nd", cmd_pitch, 1},
    {85, 85, "Major 2nd", cmd_pitch, 2},
    {86, 86, "Minor 3rd", cmd_pitch, 3},
    {87, 87, "Major 3rd", cmd_pitch, 4},
    {88, 88, "4th", cmd_pitch, 5},
    {89, 89, "Diminished 5th", cmd_pitch, 6},
    {90, 90, "5th", cmd_pitch, 7},
    {91, 91, "Minor 6th", cmd_pitch, 8},
    {92, 92, "Major 6th", cmd_pitch, 9},
    {93, 93, "Minor 7th", cmd_pitch, 10},
    {94, 94, "Major 7th", cmd_pitch, 11},
    {95, 95, "Original note", cmd_pitch, 12},
    {96, 96, "Except Track", cmd_except_track, 0},
    {97, 97, "Track Level 0", cmd_track_level, 0},
    {98, 98, "Track Level -5", cmd_track_level_step, -5},
    {99, 99, "Track Level +5", cmd_track_level_step, 5},
    {102, 102, "Shrink to 50%%", cmd_stretch, 50},
    {103, 103, "Stretch to 200%%", cmd_stretch, 200},
    {125, 125, "Pitch Octave Up", cmd_pitch_octave_up, 0},
    {105, 105, "Random Restart", cmd_random_restart, 0},
    {106, 106, "Quant Value 1", cmd_quant_value, 1},
    {107, 107, "Quant Value 2", cmd_quant_value, 2},
    {108, 108, "Quant Value 3", cmd_quant_value, 3},
    {109, 109, "Quant Value 4", cmd_quant_value, 4},
    {110, 110, "Quant Value 5", cmd_quant_value, 5},
    {111, 111, "Quant Value 6", cmd_quant_value, 6},
    {112, 112, "Quant Value 7", cmd_quant_value, 7},
    {113, 113, "Quant Value 8", cmd_quant_value, 8},
    {114, 114, "Quant Value 9", cmd_quant_value, 9},
    {115, 115, "Quant Value 10", cmd_quant_value, 10},
    {116, 116, "Quant Value 11", cmd_quant_value, 11},
    {117, 117, "Quant Value 12", cmd_quant_value, 12},
    {118, 118, "Quant Value 13", cmd_quant_value, 13},
    {119, 119, "Quant Value 14", cmd_quant_value, 14},
    {120, 120, "Quant Value 15", cmd_quant_value, 15},
    {121, 121, "Quant Value 16", cmd_quant_value, 16},
    {122, 122, "Quant Value 32", cmd_quant_value, 32},
    {123, 123, "Quant Value 64", cmd_quant_value, 64},
    {127, 127, "Drums Start", drums_start, 0},
    {128, 128, "Drums Stop", drums_stop, 0},
    {129, 129, "Retrigger Rand", cmd_play, 3},
    {130, 130, "Retrigger Once", cmd_play, 4},
    {131, 131, "ZT6 switch", cmd_zt6_switch, 0},
    {132, 132, "16th Ostinato", cmd_ostinato, 16},
    {133, 133, "32nd Ostinato", cmd_ostinato, 32},
    {134, 134, "Measure Latency", cmd_measure_latency, 0},
    {135, 135, "Transport Mode", cmd_transport_mode, -1},
    {136, 136, "Capture Loop", cmd_capture_loop, 1},
    {137, 137, "Capture 2x", cmd_capture_loop, 2},
    {138, 138, "Capture 4x", cmd_capture_loop, 4},
    {139, 139, "Rec Length", cmd_rec_length, -1},
    {140, 140, "Count-in Bars", cmd_count_in_bars, -1},
    {141, 141, "Click", cmd_click, -1},
    {-1, -1, nullptr, nullptr, 0},
};

namespace {
constexpr int function_rows = 142;
static_assert(std::size(function_table) == function_rows + 1);

// Every id below function_id_count at most once, each row covering one id.
constexpr bool ids_are_unique() {
  bool seen[function_id_count] = {};
  for (int r = 0; r < function_rows; ++r) {
    const FunctionEntry& e = function_table[r];
    if (e.first_id != e.last_id || e.first_id < 0 || e.first_id >= function_id_count) return false;
    if (seen[e.first_id]) return false;
    seen[e.first_id] = true;
  }
  return true;
}
static_assert(ids_are_unique());
}  // namespace

// Continuous controls; the id is the row index.
constexpr FunctionEntry controller_function_table[] = {
    {0, 0, "General Use", cc_general_use, 0},
    {1, 1, "Track Volume", cc_track_volume, 0},
    {2, 2, "Feedback", cc_feedback, 0},
    {3, 3, "Track 1 Volume", cc_track_volume, 1},
    {4, 4, "Track 2 Volume", cc_track_volume, 2},
    {5, 5, "Track 3 Volume", cc_track_volume, 3},
    {6, 6, "Track 4 Volume", cc_track_volume, 4},
    {7, 7, "Track 5 Volume", cc_track_volume, 5},
    {8, 8, "Track 6 Volume", cc_track_volume, 6},
    {9, 9, "Track 7 Volume", cc_track_volume, 7},
    {10, 10, "Track 8 Volume", cc_track_volume, 8},
    {11, 11, "Track 1 Feedback", cc_feedback, 1},
    {12, 12, "Track 2 Feedback", cc_feedback, 2},
    {13, 13, "Track 3 Feedback", cc_feedback, 3},
    {14, 14, "Track 4 Feedback", cc_feedback, 4},
    {15, 15, "Track 5 Feedback", cc_feedback, 5},
    {16, 16, "Track 6 Feedback", cc_feedback, 6},
    {17, 17, "Track 7 Feedback", cc_feedback, 7},
    {18, 18, "Track 8 Feedback", cc_feedback, 8},
    {19, 19, "Speed", cc_speed, 0},
    {20, 20, "Track Pan", cc_track_pan, 0},
    {21, 21, "Track 1 Pan", cc_track_pan, 1},
    {22, 22, "Track 2 Pan", cc_track_pan, 2},
    {23, 23, "Track 3 Pan", cc_track_pan, 3},
    {24, 24, "Track 4 Pan", cc_track_pan, 4},
    {25, 25, "Track 5 Pan", cc_track_pan, 5},
    {26, 26, "Track 6 Pan", cc_track_pan, 6},
    {27, 27, "Track 7 Pan", cc_track_pan, 7},
    {28, 28, "Track 8 Pan", cc_track_pan, 8},
    {-1, -1, nullptr, nullptr, 0},
};

static_assert(std::size(controller_function_table) == controller_function_count + 1);

constexpr bool controller_ids_are_rows() {
  for (int r = 0; r < controller_function_count; ++r) {
    const FunctionEntry& e = controller_function_table[r];
    if (e.first_id != r || e.last_id != r) return false;
  }
  return true;
}
static_assert(controller_ids_are_rows());

int function_row_count() { return function_rows; }

int32_t invoke_function(int32_t id) {
  for (const FunctionEntry* e = function_table; e->first_id != -1; ++e) {
    if (id < e->first_id || e->last_id < id) continue;
    return e->handler(e->argument + id - e->first_id);
  }
  return id;
}

int32_t run_function_with_argument(int32_t id, int32_t argument) {
  for (const FunctionEntry* e = function_table; e->first_id != -1; ++e) {
    if (id < e->first_id || e->last_id < id) continue;
    return e->handler(argument);
  }
  return id;
}

void run_function_list(const int16_t* list) {
  for (int i = 0; i < function_list_length && list[i] >= 0; ++i) invoke_function(list[i]);
}

const char* function_name(int row) {
  if (row < 0 || row >= function_rows) return nullptr;
  return function_table[row].name;
}

const FunctionEntry* controller_function(int index) {
  if (index < 0 || index >= controller_function_limit) return nullptr;
  if (index >= int(std::size(controller_function_table))) return nullptr;
  const FunctionEntry* e = &controller_function_table[index];
  return e->handler != nullptr ? e : nullptr;
}
