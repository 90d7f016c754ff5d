// What a control surface shows, as OSC messages: for each track its state, length, position,
// level, pan and feedback, then the selected track and the two display lines. The same addresses
// set the values, so a fader that sends /zt4/track/1/level also moves with it. Pure; the OSC
// thread and tests.
#pragma once

#include <lo/lo.h>

#include <cstdint>
#include <string>

#include "core/constants.h"
#include "net/status_report.h"
#include "panel/display.h"

struct OscStatus {
  const char* state[track_count] = {};      // the status document's words: "playing", "empty", ...
  float length[track_count] = {};           // seconds
  float position[track_count] = {};         // share of the loop played, 0..1
  float level[track_count] = {};            // dB, 0 full down to -96
  float pan[track_count] = {};              // -1 left .. 1 right
  float feedback[track_count] = {};         // 0..1
  int32_t selected = 0;                     // 1..8, 0 when no single track is selected
  std::string display[display_line_count];  // UTF-8
};

// The values of a status snapshot and the display lines (as the panel holds them).
OscStatus osc_status_of(const RemoteStatus& status, const char lines[][display_columns + 1]);

// Adds to b one message for each value of now that differs from before, or for every value when
// before is null. The values that move while a loop records or plays (lengths, positions, and the
// display with its loop time) only when with_moving (always with every value). Returns the
// messages added.
int osc_add_status(lo_bundle b, const OscStatus& now, const OscStatus* before, bool with_moving);
