#include "engine/ostinato.h"

#include "core/console.h"

OstinatoRhythms ostinato_rhythms;

namespace {

constexpr int longest_gap = 3;
// Gaps of one step allowed in a bar; once they are used up only 2 and 3 are tried.
constexpr int short_bar_single_gaps = 3;
constexpr int long_bar_single_gaps = 7;

// One depth-first enumeration: the gaps chosen so far and where completed rhythms go.
struct RhythmSearch {
  OstinatoRhythm* out;
  int32_t capacity;
  int32_t count;
  int single_gap_limit;
  int8_t gaps[ostinato_max_gaps];

  void store(int depth, int8_t exact_end) {
    if (count < capacity) {
      OstinatoRhythm& r = out[count];
      r = OstinatoRhythm{};
      for (int i = 0; i < depth; i++) r.gaps[i] = gaps[i];
      r.gap_count = int8_t(depth);
      r.exact_end = exact_end;
    }
    count++;
  }

  // Chooses gap number `depth` with `remaining` steps of the bar left.
  void extend(int depth, int remaining, int single_gaps) {
    if (depth >= ostinato_max_gaps) return;
    for (int g = 1; g <= longest_gap; g++) {
      if (g == 1 && single_gaps >= single_gap_limit) continue;
      gaps[depth] = int8_t(g);
      if (g + 1 == remaining) {
        store(depth + 1, 0);  // the gap's hit is the bar's last step
      } else if (g == remaining) {
        // The hit falls on the next bar's first step: only after a short first gap.
        const int first = depth == 0 ? g : gaps[0];
        if (g <= longest_gap - first) store(depth + 1, 1);
      } else if (g + 1 < remaining) {
        // A gap that is not the last may not complete a run of three equal gaps.
        if (depth >= 2 && gaps[depth - 1] == g && gaps[depth - 2] == g) continue;
        extend(depth + 1, remaining - g - 1, single_gaps + (g == 1));
      }
    }
  }
};

int32_t generate(OstinatoRhythm* out, int32_t capacity, int steps, int single_gap_limit) {
  RhythmSearch search{out, capacity, 0, single_gap_limit, {}};
  search.extend(0, steps, 0);
  return search.count < capacity ? search.count : capacity;
}

}  // namespace

void generate_ostinato_rhythms() {
  OstinatoRhythms& o = ostinato_rhythms;
  o.short_count =
      generate(o.short_bar, ostinato_short_count, ostinato_short_bar, short_bar_single_gaps);
  o.long_count = generate(o.long_bar, ostinato_long_count, ostinato_long_bar, long_bar_single_gaps);
  console_printf("Pattern counts %d %d\n", int(o.short_count), int(o.long_count));
}

const OstinatoRhythm* ostinato_set(int32_t steps, int32_t* count) {
  const OstinatoRhythms& o = ostinato_rhythms;
  if (steps == ostinato_short_bar && o.short_count > 0) {
    *count = o.short_count;
    return o.short_bar;
  }
  if (steps == ostinato_long_bar && o.long_count > 0) {
    *count = o.long_count;
    return o.long_bar;
  }
  *count = 0;
  return nullptr;
}
