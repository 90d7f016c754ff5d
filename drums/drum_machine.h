// The drum machine: a 24-pulses-per-quarter-note step sequencer of 64 two-measure patterns with
// eight sample voices, which can clock the looper. drum_step_frame runs on the audio thread
// inside the engine step (engine mutex held); everything else runs on the main thread and changes
// what the audio thread reads under the engine lock.
#pragma once

#include <cstdint>

#include "pool/pool.h"

constexpr int drum_count = 8;
constexpr int drum_pattern_count = 64;
constexpr int drum_steps = 192;  // two 4/4 measures of 24 steps per beat
constexpr int drum_steps_per_measure = 96;
constexpr int drum_steps_per_beat = 24;
constexpr int drum_release_frames = 512;  // a voice retriggered on the next step fades this long
constexpr int32_t drum_bpm_min = 60;
constexpr int32_t drum_bpm_max = 200;
constexpr int32_t drum_bpm_default = 120;
constexpr int32_t drum_gain_min = -96;  // dB
constexpr int32_t drum_pan_limit = 96;
constexpr int drum_voice_blocks = 16;  // a sample holds up to 131072 frames (2.7 s)
constexpr int32_t drum_voice_max_frames = drum_voice_blocks * block_frames;

struct DrumPattern {
  int32_t bpm;                 // 60..200 when set; 0 = never set
  uint16_t steps[drum_steps];  // bit i triggers drum i + 1; playback reads bits 0..7
  int16_t gain[drum_count];    // dB, -96..0
  int16_t pan[drum_count];     // -96..96, negative = left
  int16_t all_gain;            // dB, -96..0
};

struct DrumBank {
  DrumPattern patterns[drum_pattern_count];
  int32_t current_pattern;  // 0..63; above 63 silences the drum machine
};

struct DrumVoice {
  int32_t slot;      // -1 when the voice holds no sample
  int32_t position;  // next frame to play
  int32_t length;    // sample frames, 0 = empty
  int32_t ready;     // the sample may be triggered
  int32_t playing;
  int32_t release;                     // frames of release fade left, 0..512
  int32_t* blocks[drum_voice_blocks];  // stereo frames, 8192 per block
};

// Sample-counter values of the step starts and of the releases before the following steps.
struct DrumTiming {
  int32_t step_start[drum_steps];
  int32_t release_start[drum_steps];
  int32_t loop_length;  // samples in the two-measure pattern
  float samples_per_step;
};

struct DrumTransport {
  int32_t running;
  int32_t counter;  // sample within the pattern, 0..loop_length-1
  int32_t step;     // 0..191
};

struct DrumMachine {
  DrumBank bank;
  DrumVoice voices[drum_count];
  // Two timing tables: the audio thread reads timing[active]; a tempo change builds the other one
  // and swaps it in under the engine lock, so a step is never read half rewritten.
  DrumTiming timing[2];
  int32_t active;
  DrumTransport transport;
  uint32_t sounding;  // bit i: voice i plays or releases
};

extern DrumMachine drums;

// Start-of-program state: empty bank (pattern 1 current), empty voices, stopped, and the timing
// of 120 BPM so that a start before any tempo is set plays at 120.
void drums_reset();

// Recomputes the step tables for bpm (60..200) and swaps them in, rescaling the counter so the
// position within the pattern is kept. status_refused for a tempo out of range.
int32_t drum_set_tempo(int32_t bpm);
// "Drums Start": unless running, primes the clock follower (unless the drums' clock is "Off" or
// an outside clock is followed) and starts the pattern from its first step.
int32_t drums_start(int32_t unused);
// "Drums Stop": stops at once and rewinds; voices already sounding play on to their end.
int32_t drums_stop(int32_t unused);

// Audio thread, engine mutex held: one sample of the sequencer (step starts, releases and clock
// events) and of every sounding voice, added into out (left, right).
void drum_step_frame(int32_t out[2]);

// The active timing table (main thread, tests).
const DrumTiming& drum_timing();

// Main thread: gives voice `drum` (0-7) a sample of `length` frames held in `blocks` (taken from
// the pool; the voice owns them from now on), releasing the blocks of the sample it held before.
// Takes the engine lock for the exchange.
void drum_voice_install(int drum, int32_t* const* blocks, int32_t length);
