// The per-sample engine: one call per stereo frame from the process callback, on the audio
// thread with the engine mutex held. It conditions the input, plays every track's voices, runs
// the recording role and scales the outputs. set_main_gain / set_aux_gain: any thread.
#pragma once

#include <cstdint>

#include "engine/latency.h"
#include "engine/sample_math.h"
#include "engine/track.h"

constexpr int capture_ring_words = 4096;   // the last 2048 raw input frames, interleaved
constexpr int clock_pulse_slots = 2400;    // clock-out pulse positions per track
constexpr int drift_history_length = 100;  // phase errors kept per MIDI-clock track
constexpr int output_pairs = 3;            // main, aux 1, aux 2
constexpr int engine_run_frames = 32;      // the longest run of frames mixed ahead

// State the engine owns beside the track model.
struct Engine {
  int16_t gate_quiet_count[2];  // consecutive quiet samples while passing
  int16_t gate_loud_count[2];   // loud samples counted while closed
  int16_t gate_shift[2];        // right shift on passed samples: 24, 16, 8 or 0
  int32_t gate_last[2];         // last sample the gate passed
  int32_t capture_ring[capture_ring_words];
  int32_t last_input[2];    // the frame offered to the recording role, before the record gain
  int32_t clock_out_track;  // the track whose pulses become MIDI clock out
  int32_t clock_pulse_table[track_count][clock_pulse_slots];
  int32_t clock_pulse_index[track_count];
  int32_t clock_pulse_count[track_count];
  int32_t drift_history[track_count][drift_history_length];
  // The bounce sources of the last frames: a bounce records them `compensation` frames late, in
  // time with the input the player played to them.
  int32_t source_delay[source_delay_frames][2];
  uint32_t source_delay_index;
  // The run of frames begun by engine_run_begin: the main voices that play straight through it
  // (run_voices) were mixed ahead into run_mix (per output pair, per frame) and run_sums (the
  // bounce sources), and each frame adds its row.
  uint32_t run_voices;
  int32_t run_frame;   // the run's next frame
  int32_t run_length;  // 0 outside a run
  int32_t run_mix[output_pairs][engine_run_frames][2];
  int32_t run_sums[engine_run_frames][2];
};

extern Engine engine;

// Start-of-program values of the engine record (all zero). Tests; the track model has its own
// tracks_reset().
void engine_reset();

// One frame. in is the raw input and is overwritten with the signal that was recorded; the six
// output words are all written.
void engine_process_sample(int32_t in[2], int32_t out_main[2], int32_t out_aux1[2],
                           int32_t out_aux2[2]) REQUIRES(engine_capability);

// Begins a run of count frames (1..engine_run_frames) that no other thread comes between: the
// next count calls of engine_process_sample. The main voices that play straight through it (no
// fade, level change, ramp, rate, segment, delay, trigger, clock work or recording role) are
// mixed ahead block by block; the frames come out bit for bit as without a run. Without a run
// every frame plays every voice itself.
void engine_run_begin(int count) REQUIRES(engine_capability);

// Output gain in 6 dB steps, g in -8..8 (else status_refused, nothing changes). Takes the engine
// lock.
int set_main_gain(int g);
int set_aux_gain(int g);

// Advances the main voice of track n by its rate and does the per-frame work tied to its
// position: wrap, MIDI-clock restart and drift check, clock-out pulse, trigger. mode 1 from
// playback, 0 for a muted track, -1 from overdub and replace.
void advance_voice(Track& track, int mode, int n) REQUIRES(engine_capability);
