// Text commands: a function named by text, as sent by the remote program, host SysEx command 27
// and the web panel. The longest name that the text holds whole (followed by its end or a
// space) wins; when no name stands whole, the first row whose name begins the text does (so
// "Quant Value 17" is "Quant Value 1" with 7). Letter case is ignored. A number after the name
// replaces the row's argument, bounded to what the function takes. Main thread (and the thread
// running host commands).
#pragma once

#include <cstdint>

struct TextCommand {
  int row;           // row of the function table, -1 when nothing matched
  int32_t argument;  // the number given in the text (bounded), else the row's argument
  bool number_given;
  int64_t number;  // the number as written, saturated at +-10^15, when given
  int number_at;   // where the number's text starts in the command, and its length
  int number_length;
  bool refused;  // the function does not take that number: nothing runs
};

// Resolves a NUL-terminated command text without running it.
TextCommand resolve_text_command(const char* text);

// Resolves and runs a text: the handler's result, -1 when no row matched, or status_refused
// (with one console line saying why) when the function does not take the number given.
int32_t run_text_command(const char* text);
// The same for `length` bytes that are not NUL-terminated (longer texts are cut at 255).
int32_t run_text_command(const char* text, int length);
