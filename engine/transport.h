// The track transport: the state machine that moves each track between empty, recording,
// overdubbing, replacing, playing and muted, the pending actions fired at loop positions, cues,
// erasing and loading a track, and the status snapshot. Main thread (handlers, the idle tick's
// track service); operations that wait for the engine must never run on the audio thread.
#pragma once

#include <cstdint>

#include "core/lock.h"
#include "engine/track.h"

// The track loader's refusal (the status codes are in core/constants.h).
constexpr int loader_refused = -5;

// Pending actions carried by a track's trigger (trigger_action).
enum PendingAction : int32_t {
  action_none = 0,
  action_play = 1,           // play the carrier
  action_stop = 2,           // release the cues with the overshoot, then mute the carrier
  action_switch_play = 3,    // switch step, then play the argument track with the clock source
  action_switch_record = 4,  // switch step, then a synchronised recording of the argument track
  action_replace = 5,        // start replacing the carrier (argument: keep the original)
  action_end_replace = 6,    // end the carrier's replace
  action_switch_solo = 7,    // switch step, then play the argument track alone
  action_switch_free = 9,    // switch step, then a free recording of the argument track
  action_midi_start = 10,    // send MIDI Start if the carrier plays
};

// Synchronisation modes of start_record besides a source track 0-7.
constexpr int32_t sync_free = -1;
constexpr int32_t sync_midi = -2;

// Where the loader's append_track_audio writes: the track (0-7) and the frame offset.
struct TrackLoader {
  int32_t track;
  int32_t offset;
};
extern TrackLoader track_loader;

// Start-of-program loader state (tests).
void transport_reset();

// Every track argument is an index 0-7; a bad one is refused with status_refused.

// Erases track t (0-7) and records it: mode -1 free, -2 MIDI clock, 0-7 synchronised to the clock
// source track; beats > 0 makes a fixed-length MIDI recording that turns to play when it wraps.
int start_record(int32_t t, int32_t mode, int32_t beats);
// Erases track t and readies it to record as start_record does, without punching in: the take a
// count-in starts at a bar start. *became_source (when given) tells whether t took the clock
// source role.
int prepare_record(int32_t t, int32_t mode, int32_t beats, bool* became_source);
// RECORD -> OVERDUB: fixes the loop length (rounded to the synchronising unit).
int close_loop(int32_t t);
// The parts of starting and closing a take that run within one frame, for a caller that holds the
// engine lock or the audio thread itself (which holds the mutex for its period): the record gain
// ramps up as `role` names t; a free recording of t closes at its length and overdubs on.
void punch_in_now(EngineWord<int32_t>& role, int32_t t) REQUIRES(engine_capability);
void close_free_loop_now(int32_t t) REQUIRES(engine_capability);
int start_overdub(int32_t t);
int end_overdub(int32_t t);
int start_replace(int32_t t, int32_t keep);
int start_q_replace(int32_t t, int32_t steps, int32_t keep);
int end_replace(int32_t t);
int play_track(int32_t t);
int quantised_play(int32_t t);
int mute_track(int32_t t);
int stop_track(int32_t t, int32_t keep_playing);
int stop_at_loop_end(int32_t t, int32_t quantised);
int cue_track(int32_t t);
void release_cues(int32_t offset);
int erase_track(int32_t t);

// Starts replacing track t (0-7) without saving an undo level: the punch of a quantised replace.
int begin_replace(int32_t t, int32_t keep);

// Loader entries. begin_track_load names the track (0-7) that append_track_audio fills from
// offset 0. append_track_audio copies byte_count bytes of interleaved frames and returns the
// frames written; append_track_block hands over a whole pool block and returns the frames added.
void begin_track_load(int32_t t);
int append_track_audio(const int32_t* frames, int32_t byte_count);
int append_track_block(int32_t t, int32_t* block, int32_t byte_count);

// The idle tick's track service: repairs, retired fading voices, the wet/dry mask, pending
// actions and the undo bookkeeping.
void transport_update();

struct TrackStatus {
  uint32_t state;        // 4-bit state codes, track n in bits 4n..4n+3
  int16_t clock_source;  // clock source track + 1 when it has audio, else 0
  int32_t input_peak;
  int32_t output_peak;
  int32_t phase[track_count];  // length while recording, else position - vsp wrapped
  int32_t length[track_count];
  int16_t speed[track_count];   // |rate| × 25 / 16: 400 at normal speed
  int16_t tempo[track_count];   // beats per minute of a MIDI-clocked track, 0 otherwise
  uint8_t unsynchronised_mask;  // bit t: multiple is 0
  uint8_t saved_mask;           // bit t: empty, or nothing of it waits to be saved
};
// Fills the snapshot from one copy of the track words taken under the engine lock (any thread
// but the audio thread).
void track_status_snapshot(TrackStatus& out);

// Makes track t the clock source; -1 clears it.
int set_clock_source_track(int32_t t);
int32_t get_track_length(int32_t t);

// Phase of a track within its loop: position - vsp wrapped into 0..length-1 (0 when empty).
int32_t track_phase(const Track& track);
