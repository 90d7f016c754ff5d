#include "panel/text_command.h"

#include <cctype>
#include <climits>
#include <cstring>

#include "panel/function_table.h"

namespace {

constexpr int text_buffer_bytes = 256;

bool starts_with_name(const char* text, const char* name) {
  for (; *name != '\0'; ++name, ++text) {
    if (*text == '\0') return false;
    if (tolower(uint8_t(*text)) != tolower(uint8_t(*name))) return false;
  }
  return true;
}

// Signed decimal from p, stopping at the first non-digit; clamped to the int32 range.
int32_t parse_integer(const char* p) {
  bool negative = false;
  if (*p == '-') {
    negative = true;
    ++p;
  }
  int64_t value = 0;
  for (; *p >= '0' && *p <= '9'; ++p) {
    value = value * 10 + (*p - '0');
    if (value > int64_t(INT_MAX) + 1) value = int64_t(INT_MAX) + 1;
  }
  if (negative) value = -value;
  if (value > INT_MAX) value = INT_MAX;
  return int32_t(value);
}

}  // namespace

TextCommand resolve_text_command(const char* text) {
  for (int row = 0; function_table[row].first_id != -1; ++row) {
    const FunctionEntry& e = function_table[row];
    if (!starts_with_name(text, e.name)) continue;
    const char* p = text + strlen(e.name);
    while (*p == ' ') ++p;
    if ((*p >= '0' && *p <= '9') || *p == '-') return {row, parse_integer(p)};
    return {row, e.argument};
  }
  return {-1, 0};
}

int32_t run_text_command(const char* text) {
  const TextCommand c = resolve_text_command(text);
  if (c.row < 0) return -1;
  return function_table[c.row].handler(c.argument);
}

int32_t run_text_command(const char* text, int length) {
  char buffer[text_buffer_bytes];
  if (length < 0) length = 0;
  if (length > text_buffer_bytes - 1) length = text_buffer_bytes - 1;
  memcpy(buffer, text, size_t(length));
  buffer[length] = '\0';
  return run_text_command(buffer);
}
