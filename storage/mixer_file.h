// The mixer file ".zt4.mixer": each track's level, pan and feedback and whether it was playing,
// and the "Resume Playing" setting, kept beside the track files as a short text replaced whole.
// Main thread: read at start-up, applied once the storage thread has loaded the tracks, watched
// by the ten-millisecond service; the storage thread writes what the main thread hands it.
#pragma once

#include <atomic>
#include <cstdint>

#include "core/constants.h"

constexpr char mixer_file_name[] = ".zt4.mixer";
constexpr int mixer_text_max = 1024;   // eight track lines of at most 64 characters, two more
constexpr int mixer_save_delay = 100;  // ten-millisecond ticks from the last change to the save
constexpr int mixer_level_min = -128;  // the lowest a pedal sweep reaches
constexpr int mixer_pan_limit = 128;
constexpr int mixer_feedback_max = 100;  // percent

// What the file keeps. Levels, pans and feedbacks are the values the panel shows.
struct MixerSettings {
  int16_t level[track_count];     // 0 full .. mixer_level_min, 1 dB steps
  int16_t pan[track_count];       // -128 left .. 128 right
  int16_t feedback[track_count];  // percent
  uint8_t playing;                // bit t: track t was playing (else stopped, i.e. muted)
  int16_t resume;                 // 1: the playing tracks start again at start-up
  bool operator==(const MixerSettings&) const = default;
};

struct MixerStore {
  int16_t resume_playing = 0;    // the main menu's "Resume Playing" (0 off, 1 on)
  int32_t resume_requested = 0;  // --resume on the command line of this start
  int32_t from_file = 0;         // the file was read at start-up
  uint8_t restored_playing = 0;  // the tracks the file says were playing
  int32_t restored = 0;          // the settings reached the loaded tracks: saving may begin
  MixerSettings written{};       // as last handed to the writer
  MixerSettings seen{};          // as the service last found them
  int32_t unsaved = 0;           // a write failed: hand the settings over again
  int32_t countdown = 0;         // ten-millisecond ticks until a change is handed over
  // Hand-over to the storage thread: the main thread fills the text while the length is 0, then
  // stores the length (release); the storage thread writes it and stores 0 (release).
  char pending_text[mixer_text_max] = {};
  std::atomic<int32_t> pending_length{0};
  std::atomic<int32_t> write_failed{0};  // the last write failed: the main thread hands it again
  int32_t write_error = 0;  // storage thread: errno of the last failure, 0 after a success
};
extern MixerStore mixer_store;

// Why a stored text was refused; nullptr when it was taken.
using MixerFault = const char*;

// The file's text for the settings; returns its length.
int mixer_encode(const MixerSettings& settings, char (&out)[mixer_text_max]);
// Checks and decodes length bytes; on a fault settings is left unchanged.
MixerFault mixer_decode(const char* text, int length, MixerSettings& settings);

// The settings as they are now: the shown mix, the tracks that sound, the resume setting.
MixerSettings mixer_snapshot();

// Start-up, after the configuration: the file's levels, pans and feedbacks become the shown mix
// and its resume setting the menu's. A missing file leaves the defaults silently; a damaged one
// prints "Mixer settings file refused: %s, defaults used\n".
void mixer_load();
// Ten-millisecond service. Once the storage thread's start-up loads are done (its first pass),
// applies the mix to the tracks and, with --resume or the setting on, plays the tracks that were
// playing; from then on hands a change to the writer once a second passed without another.
void mixer_service();
// Quitting: hands the settings over at once when they changed. True when nothing waits.
bool mixer_save_now();
// Storage thread, every pass: writes a handed-over text (whole-file replacement).
void mixer_write_pending();

// The menu's "Resume Playing": 0 off, 1 on; saved like the mix.
void mixer_set_resume(int32_t on);

// Start-of-program state (tests).
void mixer_store_reset();
