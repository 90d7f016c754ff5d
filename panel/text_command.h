// Text commands: a function named by text, as sent by the remote program and host SysEx command
// 27. The first row whose whole name begins the text (ignoring letter case) wins; a number after
// the name replaces the row's argument. Main thread (and the thread running host commands).
#pragma once

#include <cstdint>

struct TextCommand {
  int row;           // row of the function table, -1 when nothing matched
  int32_t argument;  // the number given in the text, else the row's argument
};

// Resolves a NUL-terminated command text without running it.
TextCommand resolve_text_command(const char* text);

// Resolves and runs a text: the handler's result, or -1 when no row matched.
int32_t run_text_command(const char* text);
// The same for `length` bytes that are not NUL-terminated (longer texts are cut at 255).
int32_t run_text_command(const char* text, int length);
