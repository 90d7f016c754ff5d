#include "tools/remote_functions.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>

#include "core/constants.h"
#include "drums/drum_machine.h"
#include "panel/handlers.h"
#include "panel/handlers_editing.h"
#include "panel/random_restart.h"
#include "panel/text_command.h"

namespace {

constexpr int32_t feedback_step_base = 20000;       // arguments above 10000 step the feedback
constexpr int32_t feedback_absolute_limit = 10000;
constexpr int32_t no_limit = 1 << 30;
constexpr size_t names_shown = 5;

constexpr FunctionArgument function_arguments[] = {
    {cmd_select_track, "track 1 to 8, 0 all tracks", 0, track_count},
    {cmd_select_group, "group 1 to 10", 1, 10},
    {cmd_next_track, "1 next, -1 previous", -1, 1},
    {cmd_except_track, nullptr, 0, 0},
    {cmd_rec_dub, "0 free, 1 MIDI sync, 2 sync to the clock source track", 0, 2},
    {cmd_q_midi_sync_rec, nullptr, 0, 0},
    {cmd_play_stop, "0 at the loop end, 1 now", 0, 1},
    {cmd_play, "0 play, 1 now, 2 retrigger, 3 random retrigger, 4 once", 0, 4},
    {cmd_all_play, "0 at the loop end, 1 now", 0, 1},
    {cmd_stop, "0 at the loop end, 1 now", 0, 1},
    {cmd_all_stop, "0 at the loop end, 1 now", 0, 1},
    {cmd_replay_all_stop, nullptr, 0, 0},
    {cmd_track_erase, nullptr, 0, 0},
    {cmd_set_clock_src, nullptr, 0, 0},
    {cmd_multiply, "factor 1 or more: the loop repeated that many times", 1, no_limit},
    {cmd_cue, nullptr, 0, 0},
    {cmd_replace, "1 keeps the loop audible, 0 silences it", 0, 1},
    {cmd_q_replace, "1 keeps the loop audible, 0 silences it", 0, 1},
    {cmd_midi_start, nullptr, 0, 0},
    {cmd_midi_stop, nullptr, 0, 0},
    {cmd_quant_value, "quantise steps 1 to 64", 1, 64},
    {cmd_undo, nullptr, 0, 0},
    {cmd_redo, nullptr, 0, 0},
    {cmd_switch, "0 record, 1 play with the clock source, 2 play", 0, 2},
    {cmd_zt6_switch, nullptr, 0, 0},
    {cmd_bounce, "0 free, 1 sync, 2 MIDI sync", 0, 2},
    {cmd_track_level, "level 0 (full) to -96 dB; above 0 gives 0", -96, 0},
    {cmd_track_level_step, "step in dB; the level stays within 0 to -96", -96, 96},
    {cmd_feedback, "feedback 0 to 100 percent", 0, 100},
    {cmd_pan_center, "pan -127 (left) to 127 (right)", -127, 127},
    {cmd_fade_swell, "0 fade or swell, 1 fade, 2 swell", 0, 2},
    {cmd_use_preset, "preset 0 to 10", 0, 10},
    {cmd_assign_output, "0 main, 1 aux 1, 2 aux 2", 0, 2},
    {cmd_midi_bypass, "ZT6 display 0 old, 1 new", 0, 1},
    {cmd_random_restart, nullptr, 0, 0},
    {cmd_reverse, nullptr, 0, 0},
    {cmd_half_speed, nullptr, 0, 0},
    {cmd_pitch, "interval 0 (octave lower) to 12 (original note)", 0, 12},
    {cmd_scramble, "segments: 64 fast, 32 medium, 16 slow", 1, 64},
    {cmd_ostinato, "16 or 32 segments, 0 the track's quantise steps", 0, 32},
    {cmd_copy, nullptr, 0, 0},
    {cmd_stretch, "new length 1 to 200 percent of the loop", 1, 200},
    {cmd_pitch_octave_up, nullptr, 0, 0},
    {cmd_test_tone, "0 main, 1 aux 1", 0, 1},
    {drums_start, nullptr, 0, 0},
    {drums_stop, nullptr, 0, 0},
};

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

// The number written after the function's name, if any (as the looper reads it).
bool number_after_name(const char* text, const char* name, int32_t& number) {
  const char* p = text + strlen(name);
  while (*p == ' ') ++p;
  if (!((*p >= '0' && *p <= '9') || *p == '-')) return false;
  number = int32_t(strtol(p, nullptr, 10));
  return true;
}

}  // namespace

const FunctionArgument* function_argument(FunctionHandler handler) {
  for (const FunctionArgument& a : function_arguments) {
    if (a.handler == handler) return &a;
  }
  return nullptr;
}

void print_functions(FILE* out) {
  std::vector<const FunctionEntry*> rows;
  for (const FunctionEntry* e = function_table; e->first_id != -1; ++e) rows.push_back(e);
  std::sort(rows.begin(), rows.end(),
            [](const FunctionEntry* a, const FunctionEntry* b) { return a->first_id < b->first_id; });
  fprintf(out, "%4s  %-16s  %s\n", "ID", "FUNCTION", "A NUMBER AFTER THE NAME");
  for (const FunctionEntry* e : rows) {
    const FunctionArgument* a = function_argument(e->handler);
    fprintf(out, "%4d  %-16s  ", e->first_id, e->name);
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
  for (const FunctionEntry* e = function_table; e->first_id != -1; ++e) names.push_back(e->name);
  names.insert(names.end(), extra.begin(), extra.end());
  return names;
}

std::vector<std::string> closest_names(const std::string& text,
                                       const std::vector<std::string>& candidates) {
  const std::string wanted = lower(without_number(text));
  struct Scored {
    size_t distance;
    size_t order;
    std::string name;
  };
  std::vector<Scored> scored;
  for (size_t i = 0; i < candidates.size(); ++i) {
    const std::string name = lower(candidates[i]);
    size_t d = edit_distance(wanted, name);
    // A part of a name ("level", "select") counts as close to every name that holds it.
    if (!wanted.empty() && name.find(wanted) != std::string::npos) d = std::min<size_t>(d, 1);
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

bool check_function_text(const std::string& text, const std::vector<std::string>& commands,
                         FILE* err) {
  const TextCommand c = resolve_text_command(text.c_str());
  if (c.row < 0) {
    fprintf(err, "zt4-remote: unknown function '%s'", text.c_str());
    const std::vector<std::string> close = closest_names(text, function_names_and(commands));
    for (size_t i = 0; i < close.size(); ++i) {
      fprintf(err, "%s%s", i == 0 ? "; closest: " : ", ", close[i].c_str());
    }
    fputs("; zt4-remote functions lists them all\n", err);
    return false;
  }
  const FunctionEntry& e = function_table[c.row];
  const FunctionArgument* a = function_argument(e.handler);
  int32_t number;
  if (a == nullptr || !number_after_name(text.c_str(), e.name, number)) return true;
  if (a->meaning == nullptr) {
    fprintf(err, "zt4-remote: note: %s takes no number; %d is ignored\n", e.name, number);
  } else if (number < a->low || number > a->high) {
    fprintf(err, "zt4-remote: note: %d is outside what %s takes (%s)\n", number, e.name,
            a->meaning);
  }
  return true;
}

bool function_id_exists(int32_t id) {
  for (const FunctionEntry* e = function_table; e->first_id != -1; ++e) {
    if (e->first_id <= id && id <= e->last_id) return true;
  }
  return false;
}
