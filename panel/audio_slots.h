// "Save Audio" and "Load Audio": the current track saved into or loaded from a numbered slot by
// the storage thread, with a confirmation, a progress screen updated once a second and a result
// message. The operation runs in the background of the panel; it ends after 60 seconds at most.
// Main thread only.
#pragma once

#include <cstdint>

#include "panel/display.h"

constexpr int audio_slot_seconds = 60;
constexpr int32_t audio_slot_max = 100;
// The longest title, "Save to slot 100?", is one character wider than the display, which shows
// its first 16.
constexpr int audio_slot_title_max = 17;

enum class SlotOperation : int16_t { none, saving, loading };

struct AudioSlots {
  SlotOperation operation;
  int16_t seconds;                       // 1-second ticks since the request
  int32_t track;                         // 1..8
  int32_t slot;                          // 1..100
  char title[audio_slot_title_max + 1];  // first line of the confirmation and progress screens
  char progress[display_columns + 1];    // "Saved %d%%" / "Loaded %d%%"
};

extern AudioSlots audio_slots;
extern const struct Menu save_confirm_screen;
extern const struct Menu slot_progress_screen;

void audio_slots_reset();
