#include "pads/pad_colours.h"

#include <cstring>

namespace {

constexpr uint8_t track_colours[track_count] = {45, 13, 53, 33, 5, 21, 127, 3};

constexpr int apc_row_step = 8;        // notes between the rows of the APC's 8 x 8 grid
constexpr int launchpad_top_row = 81;  // the Launchpad's top-left pad; rows are 10 apart
constexpr int launchpad_row_step = 10;

constexpr uint8_t apc_note_on = 0x96;  // note on, channel 7: the APC's LED channel

constexpr uint8_t novation_header[] = {0xF0, 0x00, 0x20, 0x29, 0x02, 0x0D};
constexpr uint8_t launchpad_led_command = 0x03;
constexpr uint8_t launchpad_static = 0x00;  // entry type: palette colour
constexpr uint8_t launchpad_rgb = 0x03;     // entry type: red, green, blue
constexpr int launchpad_entry_bytes = 3;

// State colours.
constexpr uint8_t green = 21;
constexpr uint8_t red = 5;

// APC level and feedback palette, loud (or much feedback) to quiet.
constexpr uint8_t apc_full = 3;
constexpr uint8_t apc_high = 33;
constexpr uint8_t apc_middle = 34;
constexpr uint8_t apc_low = 35;
constexpr uint8_t apc_between = 68;

// Launchpad level: the brightness a = 4 x level + 127 over levels -31..0.
constexpr int rgb_level_floor = -31;
constexpr int rgb_level_step = 4;
constexpr int rgb_full = 127;
// Launchpad feedback: c = 12 per 10 % + 7, so 100 % is 127.
constexpr int rgb_feedback_step = 12;
constexpr int rgb_feedback_base = 7;
constexpr int rgb_feedback_top = 120;

int clamp(int v, int lo, int hi) { return v < lo ? lo : v > hi ? hi : v; }

int put_novation_header(uint8_t* out) {
  memcpy(out, novation_header, sizeof novation_header);
  return int(sizeof novation_header);
}

}  // namespace

const uint8_t identity_request[identity_request_length] = {0xF0, 0x7E, 0x7F, 0x06, 0x01, 0xF7};
const uint8_t launchpad_programmer_mode[launchpad_programmer_length] = {
    0xF0, 0x00, 0x20, 0x29, 0x02, 0x0D, 0x00, 0x7F, 0xF7};

int pad_address(PadKind kind, int t, int column) {
  if (kind == PadKind::apc) return apc_row_step * (track_count - 1 - t) + column;
  return launchpad_top_row - launchpad_row_step * t + column;
}

uint8_t track_colour(int t) { return t >= 0 && t < track_count ? track_colours[t] : pad_off; }

uint8_t play_side_colour(int state) {
  switch (state) {
    case 1:  // playing
    case 4:  // overdubbing
    case 5:  // replacing
      return green;
    case 2:  // muted
      return red;
    default: return pad_off;
  }
}

uint8_t record_side_colour(int state) {
  switch (state) {
    case 3:  // recording
      return red;
    case 4:
    case 5: return green;
    default: return pad_off;
  }
}

uint8_t apc_level_colour(int level) {
  if (level >= 0) return apc_full;
  if (level > -9) return apc_high;
  if (level > -17) return apc_middle;
  if (level < -24) return apc_low;
  return apc_between;
}

uint8_t apc_feedback_colour(int feedback) {
  if (feedback >= 100) return apc_full;
  if (feedback >= 80) return apc_high;
  if (feedback >= 60) return apc_middle;
  if (feedback < 40) return apc_low;
  return apc_between;
}

Rgb launchpad_level_colour(int level) {
  const int m = clamp(level, rgb_level_floor, 0);
  const int a = rgb_level_step * m + rgb_full;
  return Rgb{uint8_t(m < 0 ? a / 2 : a), uint8_t(a), uint8_t(a)};
}

Rgb launchpad_feedback_colour(int feedback) {
  const int f = clamp(feedback, 0, 100);
  const int s = (f / 10) * rgb_feedback_step;
  const int c = s + rgb_feedback_base;
  return Rgb{uint8_t(s == rgb_feedback_top ? c : c / 2), uint8_t(c), uint8_t(c)};
}

int apc_led_message(uint8_t* out, int note, uint8_t colour) {
  out[0] = apc_note_on;
  out[1] = uint8_t(note);
  out[2] = colour;
  return apc_led_length;
}

int launchpad_static_message(uint8_t* out, int pad, uint8_t colour) {
  int n = put_novation_header(out);
  out[n++] = launchpad_led_command;
  out[n++] = launchpad_static;
  out[n++] = uint8_t(pad);
  out[n++] = colour;
  out[n++] = 0xF7;
  return n;
}

int launchpad_rgb_message(uint8_t* out, int pad, Rgb colour) {
  int n = put_novation_header(out);
  out[n++] = launchpad_led_command;
  out[n++] = launchpad_rgb;
  out[n++] = uint8_t(pad);
  out[n++] = colour.red;
  out[n++] = colour.green;
  out[n++] = colour.blue;
  out[n++] = 0xF7;
  return n;
}

int launchpad_clear_row_message(uint8_t* out, int row_base, int filled) {
  int n = put_novation_header(out);
  out[n++] = launchpad_led_command;
  for (int k = 0; k < pads_per_row; ++k) {
    out[n++] = launchpad_static;
    out[n++] = k < filled ? uint8_t(row_base + k) : 0;
    out[n++] = pad_off;
  }
  out[n++] = 0xF7;
  static_assert(launchpad_clear_row_length ==
                int(sizeof novation_header) + 1 + pads_per_row * launchpad_entry_bytes + 1);
  return n;
}
