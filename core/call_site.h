// The source place of a call (file, line, function), taken as a defaulted argument so that the
// caller's place is recorded without a word at the call. std::source_location where the library
// has it; otherwise (clang 14 with libstdc++ 12, the fuzzing compiler) the same three fields from
// the builtins both compilers know.
#pragma once

#include <cstdint>
#include <version>

#if defined(__cpp_lib_source_location)
#include <source_location>
using CallSite = std::source_location;
#else
struct CallSite {
  static constexpr CallSite current(const char* file = __builtin_FILE(),
                                    uint_least32_t line = __builtin_LINE(),
                                    const char* function = __builtin_FUNCTION()) {
    CallSite site;
    site.file_ = file;
    site.line_ = line;
    site.function_ = function;
    return site;
  }
  constexpr const char* file_name() const { return file_; }
  constexpr uint_least32_t line() const { return line_; }
  constexpr const char* function_name() const { return function_; }

  const char* file_ = "";
  uint_least32_t line_ = 0;
  const char* function_ = "";
};
#endif
