// The function table: every assignable action as a row with its stored id, its name, its handler
// and the argument the handler gets; and the controller function table of continuous actions.
// Both are constant. Main thread (MIDI dispatch, user buttons, text commands, menus).
#pragma once

#include <cstdint>

using FunctionHandler = int32_t (*)(int32_t);

struct FunctionEntry {
  int32_t first_id;  // -1 in the sentinel row
  int32_t last_id;
  const char* name;  // at most 16 characters; "%%" stands for one percent sign
  FunctionHandler handler;
  int32_t argument;
};

constexpr int32_t function_id_count = 142;     // stored ids are 0..141
constexpr int controller_function_count = 29;  // controller function ids 0..28
constexpr int controller_function_limit = 30;  // controller ids at or above this are ignored
constexpr int function_list_length = 8;        // ids per function list

// The rows present in this build, in selection-list order, then the sentinel.
extern const FunctionEntry function_table[];
extern const FunctionEntry controller_function_table[];

// Rows before the sentinel.
int function_row_count();

// Runs the row covering `id` with its argument plus the id's offset in the row; returns the
// handler's result, or `id` unchanged when no row covers it.
int32_t invoke_function(int32_t id);
// Runs the handler of the row covering `id` with `argument` in place of the row's own; returns
// the handler's result, or `id` unchanged when no row covers it.
int32_t run_function_with_argument(int32_t id, int32_t argument);
// Runs up to eight ids in order, stopping at the first negative one.
void run_function_list(const int16_t* list);

// The name of row `row`, or null past the last row.
const char* function_name(int row);
// The controller function row with id `index`, or null for an index outside the table or one
// whose row has no handler.
const FunctionEntry* controller_function(int index);
