// What the pad controllers show and how each one is told: the pad layout of a track's row, the
// colours of selection, track, state, reverse, speed, level and feedback, and the bytes of every
// message. Pure functions, main thread (and tests).
#pragma once

#include <cstdint>

#include "core/constants.h"

// The two controllers served, one at a time.
enum class PadKind { apc, launchpad };

// Columns of a track's row of eight pads.
enum PadColumn : int {
  pad_selection = 0,
  pad_track_colour = 1,
  pad_record_side = 2,
  pad_play_side = 3,
  pad_speed = 4,
  pad_reverse = 5,
  pad_level = 6,
  pad_feedback = 7,
};
constexpr int pads_per_row = 8;

constexpr uint8_t pad_off = 0;
constexpr uint8_t pad_on = 3;  // selection, reverse and speed pads when lit

// The pad of track t (0-7, top row first) in a column: APC notes 56-63 for the top row down to
// 0-7, Launchpad pads 81-88 down to 11-18.
int pad_address(PadKind kind, int t, int column);

// Palette index of track t's own colour.
uint8_t track_colour(int t);

// The play-side and record-side colours of a transport state code (0 empty, 1 playing, 2 muted,
// 3 recording, 4 overdubbing, 5 replacing).
uint8_t play_side_colour(int state);
uint8_t record_side_colour(int state);

// APC palette indexes of a level (dB, 0 = full) and a feedback (percent).
uint8_t apc_level_colour(int level);
uint8_t apc_feedback_colour(int feedback);

struct Rgb {
  uint8_t red, green, blue;  // 0-127 each
};
// Launchpad colours: brighter and whiter for louder levels and higher feedback.
Rgb launchpad_level_colour(int level);
Rgb launchpad_feedback_colour(int feedback);

// Message lengths.
constexpr int identity_request_length = 6;
constexpr int apc_led_length = 3;
constexpr int launchpad_static_length = 11;
constexpr int launchpad_rgb_length = 13;
constexpr int launchpad_programmer_length = 9;
constexpr int launchpad_clear_row_length = 32;

extern const uint8_t identity_request[identity_request_length];  // universal device inquiry
extern const uint8_t launchpad_programmer_mode[launchpad_programmer_length];

// Each writes one message into out and returns its length.
int apc_led_message(uint8_t* out, int note, uint8_t colour);
int launchpad_static_message(uint8_t* out, int pad, uint8_t colour);
int launchpad_rgb_message(uint8_t* out, int pad, Rgb colour);
// Turns off the first `filled` pads (1-8) of the Launchpad row whose first pad is row_base;
// the entries after them are 00 00 00.
int launchpad_clear_row_message(uint8_t* out, int row_base, int filled);
