// Value entry: the one-item screen on which every numeric setting is entered with the encoder and
// confirmed with select. Main thread only.
#pragma once

#include <cstdint>

#include "panel/menu.h"

// One numeric setting.
struct ValueDescriptor {
  const char* title;  // first display line while entering
  int16_t live;       // non-zero: every step writes the variable and calls on_set
  int32_t min;
  int32_t max;
  int32_t display_offset;  // added when shown (MIDI channel 0..15 shows as 1..16)
  void* variable;
  int16_t size;                   // 1 unsigned byte, 2 signed 16-bit, 4 signed 32-bit
  void (*on_set)(int32_t value);  // after the variable is written, or null
};

constexpr int value_title_max = 31;

struct ValueEntry {
  const ValueDescriptor* active;  // null: not entering
  int32_t value;                  // the working value
  const char* title;              // title of the screen, kept for a redraw after the entry ended
  ValueDescriptor generic;        // filled by get_integer_generic
  char generic_title[value_title_max + 1];
  char number_text[16];  // "%d" of value + display_offset
};

extern ValueEntry value_entry;
// The entry screen: the title and one item showing the number, select confirms.
extern const Menu value_entry_screen;

// Starts entry of the descriptor's setting from its clamped current value and pushes the entry
// screen. Refused while an entry is active; a pointer below 256 is not a descriptor.
void get_integer(const ValueDescriptor* descriptor);
// The same with a single static descriptor filled from the arguments (the title is copied).
void get_integer_generic(const char* title, int16_t live, int32_t min, int32_t max,
                         int32_t display_offset, void* variable, int16_t size,
                         void (*on_set)(int32_t value));
// Writes the working value (config_dirty when the variable is in the configuration record) and
// calls on_set; with stay 0 leaves the entry screen.
int32_t commit_value(int32_t stay);
// An encoder step while the entry screen is on top: the value within min..max.
void value_entry_step(int32_t code);
// The setting's current value as stored (without display_offset).
int32_t value_read(const ValueDescriptor& descriptor);
// While the entry screen is on top: the working value becomes `shown` less display_offset,
// brought within min..max, and is committed (the entry screen is left).
void value_entry_set(int32_t shown);
// Whether the entry screen is the top level.
bool value_entry_on_top();
// Ends entry without writing (every pop and reset_menus).
void value_entry_end();

void value_entry_reset();
