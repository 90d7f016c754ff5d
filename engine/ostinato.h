// The ostinato rhythm sets: every bar of 16 and of 32 steps made of short gaps (1-3 steps), each
// followed by a hit, generated once at start-up for the ostinato functions to choose from. Main
// thread; read-only once generated.
#pragma once

#include <cstdint>

constexpr int ostinato_max_gaps = 16;
constexpr int ostinato_short_bar = 16;  // steps
constexpr int ostinato_long_bar = 32;
// The generator's counts of rhythms for the two bars (its rules are fixed, so are they).
constexpr int ostinato_short_count = 146;
constexpr int ostinato_long_count = 43209;

struct OstinatoRhythm {
  int8_t gaps[ostinato_max_gaps];
  int8_t gap_count;
  int8_t exact_end;  // 1: the last gap fills the bar, its hit falls on the next bar's first step
};

struct OstinatoRhythms {
  OstinatoRhythm short_bar[ostinato_short_count];
  OstinatoRhythm long_bar[ostinato_long_count];
  int32_t short_count;  // rhythms generated so far
  int32_t long_count;
};

extern OstinatoRhythms ostinato_rhythms;

// Builds both sets and prints "Pattern counts %d %d\n". Start-up (and tests); running it again
// rebuilds the same sets.
void generate_ostinato_rhythms();

// The set for a bar of `steps` (16 or 32) and its size; null for other bars or before generation.
const OstinatoRhythm* ostinato_set(int32_t steps, int32_t* count);
