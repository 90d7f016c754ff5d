// What the controller functions remember per MIDI controller: the track each was last moved for
// and the value last stored for every track ("Catch first" pedal mode). Main thread only.
#pragma once

#include <cstdint>

constexpr int pedal_controllers = 128;

struct PedalState {
  int16_t last_track[pedal_controllers];  // 1..8, 0 none yet
  int16_t stored[pedal_controllers][8];   // value last stored per track
  uint8_t seeded[pedal_controllers];      // stored values seeded with the controller's cc_max
};

extern PedalState pedal_state;

void pedal_state_reset();
