// Reading the short texts the looper keeps its settings in, one line at a time.
#pragma once

#include <cstddef>
#include <cstring>

// Copies the next line of the text [at, end), without its newline, into line and moves at past
// it. False at the end of the text, and for a line that does not fit (size characters or more)
// or holds a NUL: such a line is not one the looper wrote.
template <size_t size>
bool next_text_line(const char*& at, const char* end, char (&line)[size]) {
  if (at >= end) return false;
  const char* newline = static_cast<const char*>(memchr(at, '\n', size_t(end - at)));
  const char* stop = newline != nullptr ? newline : end;
  if (size_t(stop - at) >= size || memchr(at, '\0', size_t(stop - at)) != nullptr) return false;
  memcpy(line, at, size_t(stop - at));
  line[stop - at] = '\0';
  at = newline != nullptr ? newline + 1 : end;
  return true;
}
