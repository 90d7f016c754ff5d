// The count-in settings: the length of a recording in bars, the bars counted in before it and
// the click, kept in ".zt4.count_in", a short text of their own replaced whole (temporary file,
// fsync, rename) a second after the last change. Main thread writes them (functions, menu); the
// audio thread reads the click word; loaded at start-up, saved by the ten-millisecond service.
#pragma once

#include <atomic>
#include <cstdint>

constexpr char count_in_file_name[] = ".zt4.count_in";
constexpr int count_in_text_max = 256;
constexpr int count_in_save_delay = 100;  // ten-millisecond ticks from the last change to the save

// The lengths a recording can be given, in bars; 0 is free (closed by a second press).
constexpr int16_t rec_length_choices[] = {0, 1, 2, 4, 8, 16};
constexpr int rec_length_choice_count = 6;
constexpr int16_t count_in_bars_max = 2;
enum ClickMode : int16_t { click_off = 0, click_count_in = 1, click_always = 2 };

struct CountInSettings {
  int16_t rec_length = 0;     // bars, one of rec_length_choices
  int16_t count_in_bars = 0;  // 0 off, 1 or 2
  int16_t click = click_off;
  bool operator==(const CountInSettings&) const = default;
};

struct CountInStore {
  // The live settings. Words the audio thread reads go through std::atomic_ref.
  CountInSettings live;
  int16_t rec_length_choice = 0;  // index of live.rec_length in rec_length_choices (the menu's)
  std::atomic<int32_t> dirty{0};  // a change is not saved yet
  int32_t countdown = 0;          // ticks until the save
};
extern CountInStore count_in_store;

// Why a stored text was refused; nullptr when it was taken.
using CountInFault = const char*;

// The file's text for the settings; returns its length.
int count_in_encode(const CountInSettings& settings, char (&out)[count_in_text_max]);
// Checks and decodes length bytes; on a fault settings is left unchanged.
CountInFault count_in_decode(const char* text, int length, CountInSettings& settings);

// Setters of the functions and the menu: false (and nothing changes) for a value outside what
// the setting takes. A change is saved a second later.
bool set_rec_length(int32_t bars);
bool set_count_in_bars(int32_t bars);
bool set_click(int32_t mode);
// The click mode as the audio thread reads it.
inline int16_t click_mode() {
  return std::atomic_ref<int16_t>(count_in_store.live.click).load(std::memory_order_relaxed);
}

// Start-up: reads the file ("Count-in settings loaded: ..."); a missing or damaged file leaves the
// defaults and says so in one line.
void count_in_settings_load();
// Writes the live settings now; 0, or -1 when the file cannot be written.
int count_in_settings_save();
// Ten-millisecond service: saves once a second passed after the last change; a failed save
// ("Count-in settings save failed") is retried after the next delay.
void count_in_settings_service();

// Quitting: saves a change still waiting for its second.
void count_in_settings_save_pending();

// Start-of-program state (tests): defaults, nothing pending.
void count_in_settings_reset();
