// The looper's shared data model: eight track records with their two fading voices, the
// engine-wide registers, the block tables and the undo area (the gain table is core's). The audio
// thread reads and advances it every frame; other threads change it under the engine lock.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/constants.h"
#include "core/gain_table.h"
#include "core/lock.h"
#include "engine/engine_word.h"
#include "pool/pool.h"

constexpr int max_segments = 64;
constexpr int ramp_unity = 512;       // linear gains and ramps: 512 = unity
constexpr int32_t normal_rate = 256;  // Track::rate at normal forward speed, 8.8 fixed point
constexpr int track_words = 240;      // the record is 240 32-bit words
constexpr int64_t max_track_frames = int64_t(pool_blocks) * block_frames;

// One track (its main voice), or one of its fading voices, which use only the playback words.
// Standard layout in the word order the looper has always used; the words that the engine
// changes while other threads read them are EngineWords.
struct Track {
  EngineWord<int32_t> length;    // 0: loop length; the write index while recording
  int32_t word_1;                // 1: no engine role; kept by storage, set to the length by copies
  int32_t multiple;              // 2: loop multiple for synchronisation, 0 = free
  EngineWord<int32_t> position;  // 3: current frame within the loop
  int32_t position_fraction;     // 4: 1/256 frame
  int32_t rate;                  // 5: 8.8 fixed point frames per output frame, 256 = normal
  int32_t half_speed;            // 6: 1 while playing at half speed
  int32_t loop_end;              // 7: length forward, -1 in reverse
  int32_t loop_start;            // 8: where a voice goes when it passes the end
  int32_t trigger_position;      // 9: -1 = none
  EngineWord<int32_t> trigger_hit;    // 10: set by the engine when position meets trigger_position
  int32_t trigger_action;             // 11
  int32_t trigger_argument;           // 12
  int32_t atten;                      // 13: 0-200, 1 dB steps
  int32_t pan;                        // 14: -128..128, positive attenuates the left side
  int32_t target_level[2];            // 15-16: gain-table indexes the levels approach
  int32_t current_level[2];           // 17-18: gain-table indexes in force
  EngineWord<int32_t> ramp_gain;      // 19: 0-512 linear gain on the voice, 512 = unity
  int32_t ramp_end;                   // 20
  int32_t ramp_step;                  // 21: added each frame until ramp_gain reaches ramp_end
  int32_t vsp;                        // 22: loop start offset for synchronisation
  int32_t clock_source;               // 23: -1 free, -2 MIDI clock, 0-7 a track
  double clock_period;                // 24-25: frames per MIDI clock pulse
  int32_t midi_error;                 // 26: smoothed phase error × 16
  int32_t start_delay;                // 27: frames before the main voice plays
  int32_t stop_countdown;             // 28: frames until a MIDI-clock track restarts, 0 = none
  int32_t start_after;                // 29: start_delay given at that restart
  int32_t fade_target;                // 30: destructive fade target, 512 = none
  int32_t fade_gain;                  // 31: destructive fade gain, below 512 while fading
  int32_t bounce_source;              // 32
  int32_t scrambled;                  // 33
  int32_t word_34;                    // 34: cleared by copies; no engine role
  int32_t keep_original;              // 35: "Replace+Original"
  int32_t q_replace_steps;            // 36: steps of a quantised replace in progress
  EngineWord<int32_t> audio_changed;  // 37: stored audio changed since the last save
  int32_t audio_saved;                // 38
  int32_t last_sample[2];             // 39-40: for the zero-crossing tests
  int32_t peak;                       // 41: highest stored sample read in this pass
  int32_t peak_last_pass;             // 42
  int32_t measure_offset;             // 43
  int32_t loop_count;                 // 44
  int32_t drift_count;                // 45: entries used in the drift history, 0-100
  int32_t segment_count;              // 46: below 2 the track plays straight
  int32_t segment_source[max_segments];  // 47-110
  int32_t segment_start[max_segments];   // 111-174: ascending start frames
  int32_t segment_silent[max_segments];  // 175-238
  int32_t word_239;
};

static_assert(sizeof(Track) == track_words * 4);
static_assert(offsetof(Track, position) == 3 * 4);
static_assert(offsetof(Track, ramp_gain) == 19 * 4);
static_assert(offsetof(Track, clock_period) == 24 * 4);
static_assert(offsetof(Track, audio_changed) == 37 * 4);
static_assert(offsetof(Track, segment_count) == 46 * 4);
static_assert(offsetof(Track, segment_silent) == 175 * 4);

// Engine-wide registers. Masks hold bit n for track n.
struct EngineState {
  EngineWord<int32_t> record_track{-1};
  EngineWord<int32_t> overdub_track{-1};
  EngineWord<int32_t> replace_track{-1};
  EngineWord<uint16_t> play_list;
  EngineWord<uint16_t> muted_list;  // advance silently
  EngineWord<uint16_t> fading_list;
  EngineWord<uint16_t> fading_list_2;
  int32_t track_output[track_count];  // 1 aux 1, 2 aux 2, else main
  int32_t dry_mask = -1;              // ANDed into the dry output: -1 passes, 0 wet only
  int32_t bounce_active = 0;
  EngineWord<int32_t> record_gain;  // 0-512 ramp on the recorded signal, 512 = unity
  int32_t record_gain_step = 0;
  int32_t record_gain_end = 0;
  int32_t record_gain_full = ramp_unity;
  int32_t main_shift_left = 0;  // main output = (sample << left) >> right
  int32_t main_shift_right = 0;
  int32_t aux_shift_left = 0;
  int32_t aux_shift_right = 0;
  EngineWord<uint32_t> frame_counter;  // the engine's clock; wraps
  int32_t gate_level = 4096;           // 1 << noise_gate_level
  int32_t gate_delay = 1000;           // 50 × noise_gate_delay frames
  int64_t dc_state[2];                 // DC filter state: the input mean × 65536
  int32_t input_peak = 0;
  int32_t output_peak = 0;
  EngineWord<int32_t> input_peak_shown;
  EngineWord<int32_t> output_peak_shown;
  int32_t meter_countdown = 0;
  EngineWord<int32_t> capture_index;  // into the capture ring; -1 stops capturing
  int32_t redo_track = -1;            // track the redo slot belongs to, -1 = none
  int32_t redo_length = 0;
  int32_t clock_source_track = -1;  // loop that synchronised operations follow, -1 = none
  int32_t cue_mask = 0;             // tracks cued to start at the next cue release
  // The block the storage thread is writing out, null while none is. A destructive fade that
  // scales one of its frames counts the write, so the save sees that the block changed under it
  // and writes it again.
  const int32_t* saving_block = nullptr;
  EngineWord<uint32_t> saving_block_writes;
};

static_assert(track_count <= 16, "play, mute and role sets are 16-bit masks");

extern Track tracks[track_count];
extern Track fading_voices[track_count];
extern Track fading_voices_2[track_count];
extern EngineState engine_state;

// Block k of each track's loop (frames k × 8192 …), null where the loop has no block.
extern int32_t* track_blocks[track_count][pool_blocks];
// Blocks kept to undo a scramble.
extern int32_t* unscramble_blocks[track_count][pool_blocks];

// Undo history: a ring of levels per track and one redo slot shared by all tracks.
constexpr int undo_levels = 32;

struct UndoHeader {
  int32_t saving_level;  // level being filled by an incremental save, -1 = none
  int32_t save_next_block;
  int32_t save_last_block;  // the block whose copy completes the save
  int32_t save_direction;   // +1 or -1
  int32_t newest_level;     // -1 = none
  int32_t oldest_level;     // -1 = none
};

struct UndoLevel {
  int32_t kind;
  int32_t block_count;  // (length + 8191) / 8192
  int32_t saved_length;
  int32_t saved_segment_count;
  int32_t* blocks[undo_level_blocks];
};

struct UndoArea {
  UndoHeader header;
  UndoLevel levels[undo_levels];
};

extern UndoArea undo_areas[track_count];
extern int32_t* redo_blocks[undo_level_blocks];  // null-terminated while in use

// Blocks held in each kind of table, kept up to date by set_block_ref so that a report copies a
// few words under the engine lock instead of reading the tables.
struct BlockCounts {
  int32_t track[track_count];       // track_blocks
  int32_t undo[track_count];        // all undo levels of the track
  int32_t unscramble[track_count];  // unscramble_blocks
  int32_t redo;                     // redo_blocks
};
extern BlockCounts block_counts;

// The one writer of every entry of the tables above (caller holds the engine lock, as for any
// table write): stores value and counts the change when the entry lies in one of them. Entries
// of other tables are stored as they are.
void set_block_ref(int32_t*& entry, int32_t* value) REQUIRES(engine_capability);
void swap_block_refs(int32_t*& a, int32_t*& b) REQUIRES(engine_capability);
// Counts every table afresh: checks and tests compare it with block_counts.
BlockCounts recount_blocks();
bool operator==(const BlockCounts& a, const BlockCounts& b);

// All tracks, voices, registers, block tables (references dropped, not released) and undo
// history to their start-up values. Start-up, before the engine runs; tests.
void tracks_reset();

// Copies voice into its fading record, which then fades out over 512 frames while voice fades in.
// Caller holds the engine lock (or is the engine).
void begin_crossfade(Track& voice, Track& fading) REQUIRES(engine_capability);

// Track state codes, 4 bits per track (track n in bits 4n..4n+3) in track_state_snapshot().
enum TrackStateCode : int32_t {
  track_empty = 0,
  track_playing = 1,
  track_stopped = 2,
  track_recording = 3,
  track_overdubbing = 4,
  track_replacing = 5,
};

// Caller holds the engine lock.
uint32_t track_state_snapshot() REQUIRES(engine_capability);
inline int track_state_code(uint32_t snapshot, int n) { return int((snapshot >> (4 * n)) & 0xF); }
// "empty", "playing", "stopped", "recording", "overdubbing", "replacing"; "" for other codes.
const char* track_state_word(int code);
