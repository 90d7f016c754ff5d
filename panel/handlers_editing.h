// The editing functions: reverse, half speed and the interval speeds, scramble and ostinato,
// copy, stretch and pitch up to an empty track, and the test tone of the track menu. Each acts on
// the selected tracks (or the current track) through the engine's editing operations and leaves
// its report for the display. Main thread.
#pragma once

#include <cstdint>

int32_t cmd_reverse(int32_t unused);
int32_t cmd_half_speed(int32_t unused);
int32_t cmd_pitch(int32_t interval);     // 0 "Octave lower" .. 12 "Original note"
int32_t cmd_scramble(int32_t segments);  // 64 fast, 32 medium, 16 slow
int32_t cmd_ostinato(int32_t segments);  // 16 or 32; 0 uses each track's quantise steps
int32_t cmd_copy(int32_t unused);        // to the highest-numbered empty track
int32_t cmd_stretch(int32_t percent);    // 1..200: new length in percent of the original
int32_t cmd_pitch_octave_up(int32_t unused);
// The track menu's "Fill 1.0 kHz" (0) and "Aux 1 test" (1): the test tone on the current track,
// with 1 also routed to aux 1.
int32_t cmd_test_tone(int32_t aux1);

// What the display and the menus provide to these handlers. Installed at start-up by the panel;
// null members fall back as stated.
struct EditingPanelHooks {
  // Writes one line of stretch progress on the display's second line. Null: no panel, the
  // progress goes to the console (once a second).
  void (*show_progress)(const char* text);
  // Run after "Shrink to 50%", "Stretch to 200%" and the "New length..." entries: pops the
  // "New length..." menu when it is on top. Null: nothing.
  void (*stretch_finished)();
};
extern EditingPanelHooks editing_panel_hooks;

// The handlers' own state: when the console may show stretch progress next.
struct EditingPanel {
  int64_t console_due_ns;  // steady clock
};
extern EditingPanel editing_panel;

// Start-of-program state: no hooks installed.
void editing_panel_reset();
