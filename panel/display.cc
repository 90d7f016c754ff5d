#include "panel/display.h"

#include <cstring>

#include "engine/transport.h"
#include "panel/display_state.h"
#include "panel/menu.h"
#include "panel/menus.h"
#include "panel/selection.h"

Display display;

namespace {

constexpr int32_t first_meter_threshold = 2048;  // 2^11 of the 2^24 full scale

constexpr MenuItem message_item[] = {{display.message_second, nullptr, nullptr, 0}};

void copy_message(const char* first, const char* second) {
  strncpy(display.message_first, first, display_columns);
  display.message_first[display_columns] = '\0';
  strncpy(display.message_second, second, display_columns);
  display.message_second[display_columns] = '\0';
}

// Positions 4..15 of a meter line: a block for every threshold 2048 x 2^k the hold exceeds.
void draw_meter(char* line, int32_t hold) {
  int32_t threshold = first_meter_threshold;
  for (int k = 0; k < meter_thresholds; ++k, threshold *= 2) {
    line[meter_first_column + k] = hold > threshold ? char(glyph_block) : ' ';
  }
}

}  // namespace

constexpr Menu message_screen = {display.message_first, nullptr, message_item, 1, nullptr};

void write_line(int line, const char* text, int length) {
  if (line < 0 || line >= display_line_count) return;
  if (length < 0) length = 0;
  uint8_t* chars = display.line_records[line] + line_text_offset;
  bool changed = false;
  for (int i = 0; i < display_columns; ++i) {
    const uint8_t c = i < length ? uint8_t(text[i]) : uint8_t(' ');
    if (chars[i] != c) {
      chars[i] = c;
      changed = true;
    }
  }
  if (changed) display.line_changed[line] = 1;
}

// A text ends at its terminator or at a line break (the pattern editor's lines carry one).
void write_text(int line, const char* text) { write_line(line, text, int(strcspn(text, "\n"))); }

void show_progress_line(const char* text) { write_text(1, text); }

const uint8_t* line_text(int line) { return display.line_records[line] + line_text_offset; }

void show_message(const char* first, const char* second) {
  copy_message(first, second);
  if (push_menu(&message_screen, 0, nullptr) != 0) {
    // No level left for the screen: the lines still show the message until the next redraw.
    write_text(0, display.message_first);
    write_text(1, display.message_second);
  }
}

void show_message_in_place(const char* first, const char* second) {
  copy_message(first, second);
  set_pending_screen(&message_screen, 0, nullptr);
}

void meter_tick() {
  Display& d = display;
  const MenuStack& m = menu_stack;
  if (m.depth != 0 || m.levels[0].cursor != 0) {
    d.idle_counter = 0;
    return;
  }
  if (d.idle_counter <= meter_idle_seconds) {
    d.idle_counter++;
    return;
  }
  draw_meter(d.meter_in, d.input_peak_hold);
  draw_meter(d.meter_out, d.output_peak_hold);
  d.input_peak_hold = 0;
  d.output_peak_hold = 0;
  write_line(0, d.meter_in, display_columns);
  write_line(1, d.meter_out, display_columns);
}

void status_refresh_tick() {
  Display& d = display;
  if (--d.refresh_divider > 0) return;
  d.refresh_divider = refresh_runs;
  if (single_track() == 0) return;
  DisplayState& s = display_state;
  if (s.display_mode != display_mode_loop_time) {
    if (s.mode_countdown > 0) s.mode_countdown--;
    if (s.mode_countdown > 0) return;
    s.display_mode = display_mode_loop_time;
  }
  draw_title();
}

void display_ten_ms_service() {
  TrackStatus status;
  track_status_snapshot(status);
  Display& d = display;
  if (status.input_peak > d.input_peak_hold) d.input_peak_hold = status.input_peak;
  if (status.output_peak > d.output_peak_hold) d.output_peak_hold = status.output_peak;
  status_refresh_tick();
}

void display_reset() { display = Display{}; }

std::string display_char_utf8(uint8_t c) {
  if (c == glyph_block) return "\xE2\x96\x88";   // U+2588 full block
  if (c == glyph_marker) return "\xE2\x80\xA2";  // U+2022 bullet
  if (c == 0) return " ";
  if (c < 0x20 || c > 0x7E) return "?";
  return std::string(1, char(c));
}
