// The selection model: which track, group or set of tracks the panel's functions act on, the
// values shown for each track, and the per-track marks the handlers keep (random restart, replay
// set, aux routing, bounce). Main thread only.
#pragma once

#include <atomic>
#include <cstdint>

#include "core/constants.h"
#include "config/config.h"

constexpr uint8_t all_tracks_mask = 0xFF;

struct Selection {
  // 1..8 a single track, 0 all tracks, -g group g (1..10). The network thread reads it for the
  // status; the main thread writes it.
  std::atomic<int32_t> current_track{1};
  uint8_t temp_group = 0;           // members of the temporary group, bit t-1 = track t; 0 none
  int32_t except_flag = 0;          // 1: the selection is inverted
  uint8_t random_restart_mask = 0;  // tracks armed by "Random Restart"
  uint8_t replay_set = 0;           // tracks that were active when a stop function last ran
  uint8_t aux1_mask = 0;            // tracks routed to aux 1
  uint8_t aux2_mask = 0;            // tracks routed to aux 2
  int16_t clock_source_shown = 0;   // clock source track number shown on the display, 0 none
  int16_t bounce_in_progress = 0;   // destination track of a running bounce, 0 none
  int32_t entry_scratch = 0;        // number being entered for save, load and multiply
  int32_t entry_track = 0;          // the track (1..8) a handler's value entry applies to
};

extern Selection selection;

// The values shown and stored in presets for each track (index = track number - 1): the live mix.
inline int16_t (&shown_level)[track_count] = config_live.mix_level;        // 0..-96
inline int16_t (&shown_feedback)[track_count] = config_live.mix_feedback;  // 0..100
inline int16_t (&shown_pan)[track_count] = config_live.mix_pan;            // -128..128

// The tracks the selected-track functions act on, bit t-1 = track t: the temporary group, else the
// current track, all tracks or the current group's members; inverted by the Except flag.
uint8_t selected_mask();
// The current track when it is a single track 1..8, else 0.
int single_track();

// Start-of-program state.
void selection_reset();
