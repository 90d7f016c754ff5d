#include "panel/function_table.h"

#include <iterator>

#include "panel/handlers.h"

// Selection-list order; the ids are stored in the configuration and never change meaning.
constexpr FunctionEntry function_table[] = {
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
    {22, 22, "Next Track", cmd_next_track, 1},
    {23, 23, "Prev Track", cmd_next_track, -1},
    {82, 82, "MIDI Stop", cmd_midi_stop, 0},
    {61, 61, "MIDI Bypass", cmd_midi_bypass, 0},
    {96, 96, "Except Track", cmd_except_track, 0},
    {-1, -1, nullptr, nullptr, 0},
};

namespace {
constexpr int function_rows = 24;
static_assert(std::size(function_table) == function_rows + 1);
}  // namespace

// Continuous controls; the id is the row index.
constexpr FunctionEntry controller_function_table[] = {
    {0, 0, "General Use", cc_general_use, 0},
    {-1, -1, nullptr, nullptr, 0},
};

int function_row_count() { return function_rows; }

int32_t invoke_function(int32_t id) {
  for (const FunctionEntry* e = function_table; e->first_id != -1; ++e) {
    if (id < e->first_id || e->last_id < id) continue;
    return e->handler(e->argument + id - e->first_id);
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
