// Track editing: copying a loop to an empty track, time-stretching and pitching it up an octave,
// reversing it, half speed, scrambling and segmenting it, and the test tone. Main thread. Long
// work (copies, stretches) runs with the engine lock released on blocks the engine does not play;
// the lock is taken only for single block references, record copies and list changes.
#pragma once

#include <atomic>
#include <cstdint>

// Every track argument is an index 0-7.

// Stretch ratios accepted by stretch_track.
constexpr float stretch_ratio_min = 0.04f;
constexpr float stretch_ratio_max = 2.1f;
// The loop seam cross-fades this many frames, so a stretch needs a source and a target at least
// as long.
constexpr int32_t stretch_seam_frames = 960;
// The test tone's loop: 50 periods of its 44-frame sine.
constexpr int32_t test_tone_period = 44;
constexpr int32_t test_tone_frames = test_tone_period * 50;

// What other threads may see of a running edit.
struct EditingState {
  // The track a copy, stretch or pitch change is building (-1 none): the remote status reports it
  // as busy. Written by the main thread, read by any.
  std::atomic<int32_t> busy_track{-1};
  // Percent of the running stretch done.
  std::atomic<int32_t> progress{0};
  // Called on the main thread whenever the percent of a stretch changes (null: no one listens).
  void (*progress_hook)(int32_t percent) = nullptr;
};

extern EditingState editing_state;

void editing_reset();

// Copies s's loop and record to empty track d, which plays in s's place (s is muted if it played)
// or on its own. 0, or status_refused with a console message.
int copy_track(int32_t s, int32_t d);
// Builds on empty track d a loop of s's audio ratio times as long at the same pitch, mutes s if it
// played and plays d. 0; status_refused with a message; status_busy ("Stretch failed.") when the
// pool ran out.
int stretch_track(int32_t s, int32_t d, float ratio);
// The same at ratio 2, then every second frame: s's duration, one octave higher.
int pitch_octave_up(int32_t s, int32_t d);

// Reverses the direction of play, cross-fading a playing track. 0 or status_refused.
int reverse_track(int32_t t);
// Halves the rate, or doubles it back. 0 or status_refused (bad track).
int toggle_half_speed(int32_t t);
// 1 when track t plays backwards, 0 forwards, status_refused for a bad track.
int is_reversed(int32_t t);

// Cuts the loop into n segments (2..64) played in a random order; pressing again right after
// undoes it. 0, status_refused, or status_busy ("Scramble error") when n segments cannot tile
// the loop exactly.
int scramble_track(int32_t t, int32_t n);
// Marks the loop as n segments (2..64) with a random order and, for 16 and 32, an ostinato rhythm
// of silent segments; saves an undo level first. 0 or status_refused.
int segment_track(int32_t t, int32_t n);

// Replaces track t's loop with 2200 frames of a 1091 Hz tone and plays it. 0, or status_refused
// when t records, overdubs, replaces or plays, or no block is free.
int fill_test_tone(int32_t t);

// Rounds the joints of edited audio: from frame f in direction +1 or -1, each channel is shifted
// down 24 bits, then 4 bits less after each zero crossing, until both play unshifted. The walk
// stays within frames 0 .. limit - 1 of the table.
void declick(int32_t* const* table, int64_t limit, int64_t f, int direction);
