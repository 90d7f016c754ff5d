// What the handlers leave for the status line: the display mode, the tag word naming the last
// action and the countdown after which the loop time returns; and their redraw of the lines.
// Main thread only.
#pragma once

#include <cstdint>

// Display modes: the value the status line shows after the track name.
constexpr int16_t display_mode_level = 0;
constexpr int16_t display_mode_feedback = 1;
constexpr int16_t display_mode_tempo = 2;
constexpr int16_t display_mode_tag = 4;
constexpr int16_t display_mode_loop_time = 5;  // the resting mode
constexpr int16_t display_mode_speed = 6;
constexpr int16_t display_mode_pan = 7;

constexpr int16_t report_countdown = 25;  // refresh periods (about 100 ms each) a value stays
constexpr int tag_text_max = 5;

// Which display lines a handler redraws: the status line only, or both lines.
enum class Redraw : int16_t { none = 0, title = 1, full = 2 };

struct DisplayState {
  int16_t display_mode;
  int16_t mode_countdown;
  char tag_text[tag_text_max + 1];
};

extern DisplayState display_state;

// The common ending of a handler: display mode, tag (null keeps the old one), countdown 25 and the
// redraw.
void report(int16_t mode, const char* tag, Redraw redraw);
// Sets the tag text, cut to five characters.
void set_tag(const char* tag);
// Redraws without changing the mode.
void request_redraw(Redraw redraw);

// Start-of-program state: everything zero.
void display_state_reset();
