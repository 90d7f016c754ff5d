#include "tools/remote_functions.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "core/constants.h"
#include "panel/function_names.h"
#include "panel/function_numbers.h"
#include "panel/handlers.h"

namespace {

constexpr int32_t feedback_step_base = 20000;  // arguments above 10000 step the feedback
constexpr int32_t feedback_absolute_limit = 10000;
constexpr size_t names_shown = 5;

std::string lower(const std::string& s) {
  std::string out = s;
  for (char& c : out) c = char(tolower(uint8_t(c)));
  return out;
}

// The text without a trailing number and the blanks before it: "Track Level 90" -> "Track Level".
std::string without_number(const std::string& text) {
  size_t end = text.size();
  while (end > 0 && isdigit(uint8_t(text[end - 1]))) --end;
  if (end == text.size()) return text;
  if (end > 0 && (text[end - 1] == '-' || text[end - 1] == '+')) --end;
  while (end > 0 && text[end - 1] == ' ') --end;
  return end > 0 ? text.substr(0, end) : text;
}

size_t edit_distance(const std::string& a, const std::string& b) {
  std::vector<size_t> row(b.size() + 1);
  for (size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (size_t i = 1; i <= a.size(); ++i) {
    size_t diagonal = row[0];
    row[0] = i;
    for (size_t j = 1; j <= b.size(); ++j) {
      const size_t up = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
      diagonal = up;
    }
  }
  return row[b.size()];
}

// A whole number as the looper reads it: an optional minus sign and decimal digits, within the
// 32-bit range.
bool whole_number(const std::string& word, int32_t& number) {
  size_t digits = word.size() > 0 && word[0] == '-' ? 1 : 0;
  if (digits == word.size()) return false;
  for (size_t i = digits; i < word.size(); ++i) {
    if (!isdigit(uint8_t(word[i]))) return false;
  }
  errno = 0;
  const long long value = strtoll(word.c_str(), nullptr, 10);
  if (errno != 0 || value < INT32_MIN || value > INT32_MAX) return false;
  number = int32_t(value);
  return true;
}

std::string joined(const std::vector<std::string>& words, size_t count) {
  std::string text;
  for (size_t i = 0; i < count; ++i) text += (i > 0 ? " " : "") + words[i];
  return text;
}

void print_unknown(const std::string& text, const std::vector<std::string>& commands, FILE* err) {
  fprintf(err, "zt4-remote: unknown function '%s'", text.c_str());
  const std::vector<std::string> close = closest_names(text, function_names_and(commands));
  for (size_t i = 0; i < close.size(); ++i) {
    fprintf(err, "%s%s", i == 0 ? "; closest: " : ", ", close[i].c_str());
  }
  fputs("; zt4-remote functions lists them all\n", err);
}

// The number after a function's name: false, with the line that says what the function takes,
// when it takes none or another.
bool number_fits(int row, const std::string& given, FILE* err) {
  const FunctionEntry& e = function_table[row];
  const FunctionNumbers* a = function_numbers(e.handler);
  const std::string name = display_name(e.name);
  int32_t number;
  if (a == nullptr || a->meaning == nullptr) {
    fprintf(err, "zt4-remote: %s takes no number, not '%s'\n", name.c_str(), given.c_str());
    return false;
  }
  if (!whole_number(given, number) || number < a->low || number > a->high) {
    fprintf(err, "zt4-remote: %s takes %s, not '%s'\n", name.c_str(), a->meaning, given.c_str());
    return false;
  }
  return true;
}

}  // namespace

void print_functions(FILE* out) {
  std::vector<const FunctionEntry*> rows;
  for (const FunctionEntry* e = function_table; e->first_id != -1; ++e) rows.push_back(e);
  std::sort(rows.begin(), rows.end(), [](const FunctionEntry* a, const FunctionEntry* b) {
    return a->first_id < b->first_id;
  });
  fprintf(out, "%4s  %-16s  %s\n", "ID", "FUNCTION", "A NUMBER AFTER THE NAME");
  for (const FunctionEntry* e : rows) {
    const FunctionNumbers* a = function_numbers(e->handler);
    fprintf(out, "%4d  %-16s  ", e->first_id, display_name(e->name).c_str());
    if (a == nullptr || a->meaning == nullptr) {
      fputs("-\n", out);
    } else if (e->argument == value_not_given) {
      fprintf(out, "%s (without one: the panel asks)\n", a->meaning);
    } else if (e->handler == cmd_feedback && e->argument > feedback_absolute_limit) {
      fprintf(out, "%s (without one: steps by %+d)\n", a->meaning,
              e->argument - feedback_step_base);
    } else {
      fprintf(out, "%s (without one: %d)\n", a->meaning, e->argument);
    }
  }
}

std::vector<std::string> function_names_and(const std::vector<std::string>& extra) {
  std::vector<std::string> names;
  for (const FunctionEntry* e = function_table; e->first_id != -1; ++e)
    names.push_back(display_name(e->name));
  names.insert(names.end(), extra.begin(), extra.end());
  return names;
}

std::vector<std::string> closest_names(const std::string& text,
                                       const std::vector<std::string>& candidates) {
  const std::string whole = lower(text);
  const std::string wanted = lower(without_number(text));
  struct Scored {
    size_t distance;
    size_t order;
    std::string name;
  };
  std::vector<Scored> scored;
  for (size_t i = 0; i < candidates.size(); ++i) {
    const std::string name = lower(candidates[i]);
    // Against the text as written ("select track 33" is one away from "Select Track 3") and
    // without its number ("track levle 5" is two away from "Track Level").
    size_t d = std::min(edit_distance(whole, name), edit_distance(wanted, name));
    // A part of a name ("level", "select") counts as close to every name that holds it.
    if (!wanted.empty() && name.find(wanted) != std::string::npos) d = std::min<size_t>(d, 2);
    if (d <= std::max<size_t>(2, wanted.size() / 3)) scored.push_back({d, i, candidates[i]});
  }
  std::stable_sort(scored.begin(), scored.end(), [](const Scored& a, const Scored& b) {
    return a.distance != b.distance ? a.distance < b.distance : a.order < b.order;
  });
  std::vector<std::string> names;
  for (const Scored& s : scored) {
    if (names.size() == names_shown) break;
    if (std::find(names.begin(), names.end(), s.name) == names.end()) names.push_back(s.name);
  }
  return names;
}

bool parse_function_call(const std::vector<std::string>& words,
                         const std::vector<std::string>& commands, FunctionCall& call, FILE* err) {
  call = FunctionCall{};
  const std::string text = joined(words, words.size());
  int32_t number = 0;
  std::string name, given;
  if (words.size() >= 2 && whole_number(words.back(), number) &&
      function_row_named(joined(words, words.size() - 1)) >= 0) {
    name = joined(words, words.size() - 1);  // 'Track Level' -5: the number is a word of its own
    given = words.back();
  } else if (function_row_named(text) >= 0) {
    name = text;
  } else if (const size_t space = text.rfind(' '); space != std::string::npos) {
    name = text.substr(0, text.find_last_not_of(' ', space) + 1);
    given = text.substr(space + 1);
  }
  const int row = function_row_named(name);
  if (row < 0) {
    print_unknown(text, commands, err);
    return false;
  }
  if (!given.empty() && !number_fits(row, given, err)) return false;
  call.row = row;
  call.has_number = whole_number(given, call.number);
  return true;
}

std::string function_call_text(const FunctionCall& call) {
  return function_call_text(call.row, call.has_number, call.number);
}

std::string display_name(const char* name) { return function_display_name(name); }

bool function_id_exists(int32_t id) { return function_row_of_id(id) >= 0; }
