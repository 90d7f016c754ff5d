// Test support: names for the cases of parameterised tests made from their inputs
// ("length_100000_steps_4_at_30000"), so that test lists read as words and never as bytes.
// Test threads only.
#pragma once

#include <cmath>
#include <string>
#include <type_traits>

inline std::string test_name_part(const char* text) { return text; }

// Test names hold letters, digits and underscores only: -256 reads "minus_256".
template <typename T>
  requires std::is_arithmetic_v<T>
std::string test_name_part(T value) {
  const long long v = std::is_floating_point_v<T> ? std::llround(double(value)) : (long long)value;
  return v < 0 ? "minus_" + std::to_string(-v) : std::to_string(v);
}

// Labels and values in turn, joined by underscores: param_case_name("steps", 4) is "steps_4".
template <typename... Parts>
std::string param_case_name(const Parts&... parts) {
  std::string out;
  ((out += (out.empty() ? "" : "_") + test_name_part(parts)), ...);
  return out;
}
