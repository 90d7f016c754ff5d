// The looper's functions as zt4-remote shows and checks them, from the looper's own function
// table: what number each takes, the names closest to a misspelt one, and the ids that "map set"
// accepts. Single-threaded command-line client.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "panel/function_table.h"

// Every function by id: the id, the name and what a number after the name does.
void print_functions(FILE* out);

// Up to five of the candidates that look closest to text (letter case ignored, a trailing
// number left out), best first; none when nothing is close.
std::vector<std::string> closest_names(const std::string& text,
                                       const std::vector<std::string>& candidates);

// The function names of the table followed by extra (zt4-remote's own commands).
std::vector<std::string> function_names_and(const std::vector<std::string>& extra);

// A function as zt4-remote runs it: a row of the function table and, when one was given, the
// number that replaces the row's own argument.
struct FunctionCall {
  int row = -1;
  bool has_number = false;
  int32_t number = 0;
};

// Reads the words of a function call: a whole function name (letter case ignored; "%" or "%%"
// for a percent sign), then, for a function that takes one, a whole number in its range. A number
// given as a word of its own belongs to the name before it ('Track Level' -5 sets -5 dB), while
// one text that is itself a name is that function ('Track Level -5' steps 5 dB down). False,
// with one line on err (the closest names, or the numbers the function takes), for anything else;
// commands are zt4-remote's own words, offered among the closest names.
bool parse_function_call(const std::vector<std::string>& words,
                         const std::vector<std::string>& commands, FunctionCall& call, FILE* err);

// The text the looper runs the call from: the table's own name, then the number. The number is
// written with a leading zero when the plain text would begin with a longer function name
// ("Track Level" with -5 is sent as "Track Level -05", which "Track Level -5" does not begin).
std::string function_call_text(const FunctionCall& call);

// The name of a row as users read it: "%%" in the table stands for one percent sign.
std::string display_name(const char* name);

// True when id belongs to a row of the function table.
bool function_id_exists(int32_t id);
