// The looper's eight tracks as zt4-remote shows them: the compact status fetched and printed as a
// table once ("status"), or redrawn in place ten times a second with each track's position as a
// bar ("watch"). Single-threaded command-line client.
#pragma once

#include <cstdint>
#include <string>

#include "core/constants.h"
#include "tools/remote_link.h"

struct TrackStatus {
  uint32_t state;  // compact status code: 0 empty, 1 recording, 2 overdubbing, 3 stopped, ...
  int32_t length;  // frames
  int32_t position;
  int32_t level;
  int32_t pan;
  int32_t feedback;
  bool selected;
};

struct LooperStatus {
  uint32_t frames_per_second;
  TrackStatus tracks[track_count];
};

// Asks for the compact status; false (after printing why when it was malformed) without one.
bool fetch_status(const Remote& r, LooperStatus& status);

// The table, one line per track after a heading; with bars, a position bar ends each line.
std::string format_status(const LooperStatus& status, bool bars);

int cmd_status(const Remote& r);
// Redraws the table until Ctrl-C, then returns 0.
int cmd_watch(const Remote& r);
