// The status line the track menus show as their title: the selection's name and the value the
// last handler reported (level, feedback, tempo, tag, loop time, speed or pan), and the lower
// status text of the track menu's first item. Main thread only.
#pragma once

#include <cstdint>

constexpr int status_text_max = 63;

struct StatusLine {
  char name_part[status_text_max + 1];
  char lower_status[status_text_max + 1];  // level, feedback, speed and direction
  char status_line[status_text_max + 1];
};

extern StatusLine status_line;

// Composes the status line from a fresh status snapshot and returns it (the title function of
// both track menus); also refreshes the lower status text when a track's values are shown.
const char* compose_status();

// "%c %c %c %c %c %c %c %c": the digit of each track whose bit (bit t - 1 = track t) is set.
void format_track_digits(char* out, uint8_t mask);

void status_line_reset();
