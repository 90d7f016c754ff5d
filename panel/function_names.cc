#include "panel/function_names.h"

#include <cctype>
#include <cstddef>

#include "panel/function_table.h"

namespace {

bool equal_ignoring_case(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (tolower(uint8_t(a[i])) != tolower(uint8_t(b[i]))) return false;
  }
  return true;
}

}  // namespace

std::string function_display_name(const char* name) {
  std::string out;
  for (const char* p = name; *p != '\0'; ++p) {
    out += *p;
    if (p[0] == '%' && p[1] == '%') ++p;
  }
  return out;
}

int function_row_named(const std::string& text) {
  for (int row = 0; function_table[row].first_id != -1; ++row) {
    const char* name = function_table[row].name;
    if (equal_ignoring_case(text, name) || equal_ignoring_case(text, function_display_name(name)))
      return row;
  }
  return -1;
}

int function_row_of_id(int32_t id) {
  for (int row = 0; function_table[row].first_id != -1; ++row) {
    if (function_table[row].first_id <= id && id <= function_table[row].last_id) return row;
  }
  return -1;
}

std::string function_call_text(int row, bool has_number, int32_t number) {
  const std::string name = function_table[row].name;
  if (!has_number) return name;
  std::string text = name + " " + std::to_string(number);
  for (const FunctionEntry* e = function_table; e->first_id != -1; ++e) {
    const std::string other = e->name;
    if (other.size() > name.size() && text.size() >= other.size() &&
        equal_ignoring_case(text.substr(0, other.size()), other)) {
      const size_t digits = name.size() + 1 + (number < 0 ? 1 : 0);
      // One character inserted by position: an optimised build takes the string form for an
      // overlapping copy and warns.
      text.insert(text.begin() + std::ptrdiff_t(digits), '0');
      return text;
    }
  }
  return text;
}
