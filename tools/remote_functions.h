// The looper's functions as zt4-remote shows and checks them, from the looper's own function
// table: what number each takes, the names closest to a misspelt one, and the ids that "map set"
// accepts. Single-threaded command-line client.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "panel/function_table.h"

struct FunctionArgument {
  FunctionHandler handler;
  const char* meaning;  // what a number after the name sets; null: the function takes none
  int32_t low, high;    // the numbers that mean something
};

// The argument row of a handler of the function table; null for a handler it does not know.
const FunctionArgument* function_argument(FunctionHandler handler);

// Every function by id: the id, the name and what a number after the name does.
void print_functions(FILE* out);

// Up to five of the candidates that look closest to text (letter case ignored, a trailing
// number left out), best first; none when nothing is close.
std::vector<std::string> closest_names(const std::string& text,
                                       const std::vector<std::string>& candidates);

// The function names of the table followed by extra (zt4-remote's own commands).
std::vector<std::string> function_names_and(const std::vector<std::string>& extra);

// A function text before it is sent: false, with one line on err naming the closest names, when
// it names no function; a number outside the function's range gets a warning only, since the
// looper decides what to do with it.
bool check_function_text(const std::string& text, const std::vector<std::string>& commands,
                         FILE* err);

// True when id belongs to a row of the function table.
bool function_id_exists(int32_t id);
