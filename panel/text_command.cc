#include "panel/text_command.h"

#include <cctype>
#include <cstring>

#include "core/console.h"
#include "core/constants.h"
#include "panel/function_numbers.h"
#include "panel/function_table.h"

namespace {

constexpr int text_buffer_bytes = 256;
constexpr int64_t number_saturation = 1000000000000000;  // 10^15, past every handler's range
constexpr int number_shown_max = 20;                     // digits a refusal line repeats

// The length of name when the text begins with it (letter case ignored), else -1.
int prefix_length(const char* text, const char* name) {
  int n = 0;
  for (; name[n] != '\0'; ++n) {
    if (text[n] == '\0') return -1;
    if (tolower(uint8_t(text[n])) != tolower(uint8_t(name[n]))) return -1;
  }
  return n;
}

// The row the text names: the longest name standing whole in it, else the first name that begins
// it; -1 when none does. Sets name_length to the matched name's length.
int find_row(const char* text, int& name_length) {
  int whole = -1, whole_length = 0;
  int first = -1, first_length = 0;
  for (int row = 0; function_table[row].first_id != -1; ++row) {
    const int n = prefix_length(text, function_table[row].name);
    if (n < 0) continue;
    if (first < 0) {
      first = row;
      first_length = n;
    }
    if ((text[n] == '\0' || text[n] == ' ') && n > whole_length) {
      whole = row;
      whole_length = n;
    }
  }
  name_length = whole >= 0 ? whole_length : first_length;
  return whole >= 0 ? whole : first;
}

// Signed decimal from p, stopping at the first non-digit; saturated at +-10^15. Returns the
// characters read.
int parse_number(const char* p, int64_t& value) {
  const char* start = p;
  bool negative = false;
  if (*p == '-') {
    negative = true;
    ++p;
  }
  value = 0;
  for (; *p >= '0' && *p <= '9'; ++p) {
    value = value * 10 + (*p - '0');
    if (value > number_saturation) value = number_saturation;
  }
  if (negative) value = -value;
  return int(p - start);
}

}  // namespace

TextCommand resolve_text_command(const char* text) {
  TextCommand c{-1, 0, false, 0, 0, 0, false};
  int name_length = 0;
  c.row = find_row(text, name_length);
  if (c.row < 0) return c;
  const FunctionEntry& e = function_table[c.row];
  c.argument = e.argument;
  const char* p = text + name_length;
  while (*p == ' ') ++p;
  if (!((*p >= '0' && *p <= '9') || *p == '-')) return c;
  c.number_given = true;
  c.number_at = int(p - text);
  c.number_length = parse_number(p, c.number);
  c.refused = !bound_function_number(e, c.number, c.argument);
  return c;
}

int32_t run_text_command(const char* text) {
  const TextCommand c = resolve_text_command(text);
  if (c.row < 0) return -1;
  const FunctionEntry& e = function_table[c.row];
  if (c.refused) {
    // The number as written: a value such as -2147483648 would print as NaN through %d.
    char number[number_shown_max + 1];
    const int n = c.number_length < number_shown_max ? c.number_length : number_shown_max;
    memcpy(number, text + c.number_at, size_t(n));
    number[n] = '\0';
    const FunctionNumbers* range = function_numbers(e.handler);
    console_printf("%s refused: %s is outside %d..%d\n", e.name, number, int(range->low),
                   int(range->high));
    return status_refused;
  }
  return e.handler(c.argument);
}

int32_t run_text_command(const char* text, int length) {
  char buffer[text_buffer_bytes];
  if (length < 0) length = 0;
  if (length > text_buffer_bytes - 1) length = text_buffer_bytes - 1;
  memcpy(buffer, text, size_t(length));
  buffer[length] = '\0';
  return run_text_command(buffer);
}
