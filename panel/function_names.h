// Functions named from outside: a row of the function table by its whole name or by its id, and
// the text command that runs a row with a number. Shared by the remote program and the OSC
// server. Constant data only; any thread.
#pragma once

#include <cstdint>
#include <string>

// The name of a row as users read it: "%%" in the table stands for one percent sign.
std::string function_display_name(const char* name);

// The row whose whole name is text (letter case ignored), in the table's spelling or as users
// read it; -1 for none.
int function_row_named(const std::string& text);

// The row that covers id; -1 for none.
int function_row_of_id(int32_t id);

// The text the looper runs a row from: the table's own name, then the number when one is given.
// The number is written with a leading zero when the plain text would begin with a longer
// function name ("Track Level" with -5 is "Track Level -05", which "Track Level -5" does not
// begin).
std::string function_call_text(int row, bool has_number, int32_t number);
