// The numbers a function takes from outside (a text command over UDP or SysEx, the web panel's
// `fn`): each handler's range, and what a number outside it gets. Settings on a scale (level,
// pan, feedback) are brought to the nearest end; choices and counts are refused. Constant; any
// thread.
#pragma once

#include <cstdint>

#include "panel/function_table.h"

enum class OutsideNumber : int8_t {
  ignored,  // the function takes no number: it runs with its own argument
  clamped,  // brought to the nearest end of the range
  refused,  // the function does not run
};

struct FunctionNumbers {
  FunctionHandler handler;
  OutsideNumber outside;
  int32_t low, high;    // the numbers that mean something to the handler
  const char* meaning;  // what a number after the name sets, for people; null: takes none
};

// The row of handler; null for a handler without one (none in the function table).
const FunctionNumbers* function_numbers(FunctionHandler handler);

// A number given to the function of `row` (any 64-bit value a parser read), bounded to the
// handler's range. Returns false when the function refuses it; `argument` is then untouched.
bool bound_function_number(const FunctionEntry& row, int64_t number, int32_t& argument);
