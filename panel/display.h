// The two-line panel display: one ready-to-send 32-byte record per line with its changed flag,
// two-line messages, the level meter page of the idle status screen and the status refresh that
// brings the loop time back after a handler showed something else. Main thread only; the
// records are what a display transmitter sends (offsets 0..22 of a changed record).
#pragma once

#include <cstdint>
#include <string>

constexpr int display_columns = 16;
constexpr int display_line_count = 2;
constexpr int line_record_bytes = 32;
constexpr int line_record_sent = 23;    // offsets 0..22 go to the display
constexpr int line_text_offset = 7;     // the 16 characters
constexpr int line_number_offset = 5;   // line 0 or 1, low byte first
constexpr uint8_t glyph_block = 0xFE;   // full block: meters
constexpr uint8_t glyph_marker = 0xF9;  // marker: saved tracks, the main menu's version line

constexpr int meter_thresholds = 12;  // blocks per meter line
constexpr int meter_first_column = 4;
constexpr int meter_idle_seconds = 10;  // the meters follow this many untouched seconds
constexpr int refresh_runs = 10;        // 10 ms runs per status refresh (about 100 ms)

// Start of the program: each record holds its header, a position command to column 0 of its
// line, and 16 zero characters.
struct Display {
  uint8_t line_records[display_line_count][line_record_bytes] = {
      {0x00, 0x1F, 0x24, 0x00, 0x00, 0x00, 0x00}, {0x00, 0x1F, 0x24, 0x00, 0x00, 0x01, 0x00}};
  int16_t line_changed[display_line_count] = {};  // set when a write changed a character
  char message_first[display_columns + 1] = {};
  char message_second[display_columns + 1] = {};
  int16_t idle_counter = 0;                // seconds on the status screen without a redraw
  int16_t refresh_divider = refresh_runs;  // counts 10 ms runs down to the next status refresh
  int32_t input_peak_hold = 0;             // largest magnitudes since the meters were last drawn
  int32_t output_peak_hold = 0;
  char meter_in[display_columns + 1] = "In              ";
  char meter_out[display_columns + 1] = "Out             ";
  char temporary_group_members[display_columns + 1] = {};  // the temporary group screen's line
};

extern Display display;

// Copies min(length, 16) characters into line 0 or 1 (other lines are ignored), filling the rest
// of the 16 positions with spaces; sets the line's changed flag when a character differed.
void write_line(int line, const char* text, int length);
// The same for a NUL-terminated text, which ends early at a line break.
void write_text(int line, const char* text);
// A progress text on the second line (the editing functions' stretch progress).
void show_progress_line(const char* text);
// The 16 characters of a line.
const uint8_t* line_text(int line);
// One display character as UTF-8 text for screens other than the panel's own: the full block and
// the marker as their glyphs, a NUL as a space, anything else unprintable as '?'. Any thread.
std::string display_char_utf8(uint8_t c);

// Pushes a message screen showing two texts (16 characters each at most); select or back
// leaves it.
void show_message(const char* first, const char* second);
// The same message, set to replace the top level at the next pop instead of being pushed.
void show_message_in_place(const char* first, const char* second);
extern const struct Menu message_screen;

// Once a second: the level meters on an untouched status screen.
void meter_tick();
// Every 10 ms run: the peak holds from the status snapshot, and the status refresh.
void display_ten_ms_service();
// The status refresh alone: every 10 runs, the loop time again (or still) on the status line.
void status_refresh_tick();

// Start-of-program state: both records with their header and 16 zero characters.
void display_reset();
