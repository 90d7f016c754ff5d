// Recording roles: record, close, overdub and replace, with their punch ramps.
#include <algorithm>
#include <cstdlib>

#include "config/config.h"
#include "core/console.h"
#include "engine/engine_wait.h"
#include "engine/fades.h"
#include "engine/latency.h"
#include "engine/timing.h"
#include "engine/track_ops.h"
#include "engine/transport.h"
#include "engine/undo.h"
#include "core/lock.h"
#include "midi/clock.h"
#include "pool/pool.h"

namespace {

constexpr int32_t blocks_under_lock = 2;  // a closed loop's first new blocks, taken at once

// The record gain ramps up from silence while the role register names the track. Caller holds
// the engine lock.
void punch_in(EngineWord<int32_t>& role, int32_t t) REQUIRES(engine_capability) {
  expect_engine_lock(__func__);
  punch_in_now(role, t);
}

// Overdub and replace start on a playing track while no track records, overdubs or replaces.
// Caller holds the engine lock.
bool can_take_role(int32_t t) REQUIRES(engine_capability) {
  expect_engine_lock(__func__);
  return on_list(engine_state.play_list, t) && !any_role_active();
}

// The record gain ramps down to silence. Caller holds the engine lock.
void punch_out() REQUIRES(engine_capability) {
  expect_engine_lock(__func__);
  EngineState& s = engine_state;
  s.record_gain_step = -1;
  s.record_gain = s.record_gain_full;
  s.record_gain_end = 0;
}

void wait_record_gain() {
  EngineState& s = engine_state;
  wait_for_engine([&] { return s.record_gain == s.record_gain_end; });
}

int32_t non_negative(int32_t rate) { return rate < 0 ? -rate : rate; }

void normalise_vsp(Track& v) {
  if (v.length > 0 && v.vsp < 0) v.vsp = wrap_into_loop(v.vsp, v.length);
}

// The frames a closed loop's play head runs ahead of its write head (see close_loop).
int32_t close_offset(const Track& v) {
  return compensation_offset(latency.compensation.load(), non_negative(v.rate));
}

// A position the play head must reach for the write head to stand at `position`.
int32_t compensated_trigger(const Track& v, int32_t position) {
  return wrap_into_loop(
      int64_t(position) + compensation_offset(latency.compensation.load(), v.rate), v.length);
}

// A recording that cannot go on leaves the track empty: no role, no blocks, not the clock source.
void abandon_recording(int32_t t) {
  Track& v = tracks[t];
  EngineState& s = engine_state;
  {
    EngineLockGuard lock;
    if (s.record_track == t) s.record_track = -1;
    if (s.overdub_track == t) s.overdub_track = -1;
    v.length = 0;
    v.position = 0;
    if (s.clock_source_track == t) s.clock_source_track = -1;
  }
  release_track_blocks(t);
}

// Synchronised to the clock source: the loop starts at the source's nearest loop start.
void sync_to_clock_source(Track& v, int32_t t) {
  EngineLockGuard lock;
  const int32_t src = engine_state.clock_source_track;
  if (!valid_track_index(src) || src == t || tracks[src].length <= 0) {
    // No loop to follow: the recording is free.
    v.clock_source = sync_free;
    return;
  }
  const int32_t unit = tracks[src].length;
  const int32_t u = track_phase(tracks[src]);
  v.multiple = unit;
  v.vsp = u > unit / 2 ? unit - u : -u;
}

// Synchronised to MIDI clock; false when no clock runs.
bool sync_to_midi_clock(Track& v, int32_t t, int32_t beats) {
  int32_t other = -1;
  for (int32_t i = 0; i < track_count && other < 0; i++)
    if (i != t && tracks[i].clock_source == sync_midi && tracks[i].length > 0) other = i;
  EngineLockGuard lock;
  const double period = clock_follower.clock_period;
  if (period <= 0) return false;
  if (other >= 0) {
    v.clock_period = tracks[other].clock_period;
    v.multiple = tracks[other].multiple;
  } else {
    v.clock_period = period;
  }
  if (beats != 0 || other < 0) {
    const int32_t n = beats >= 1 ? beats : config.beats_per_measure;
    v.multiple = int32_t(n * v.clock_period * clock_pulses_per_beat - 1);
  }
  v.vsp = -clock_follower.beat_position;
  v.measure_offset = clock_follower.measure_frames;
  return true;
}

// The blocks a closed loop needs beyond the recorded audio, first index to last.
struct BlockRange {
  int32_t first;
  int32_t last;
};

}  // namespace

void punch_in_now(EngineWord<int32_t>& role, int32_t t) {
  EngineState& s = engine_state;
  s.record_gain_end = s.record_gain_full;
  s.record_gain = 0;
  s.record_gain_step = 1;
  role = t;
}

void close_free_loop_now(int32_t t) {
  Track& v = tracks[t];
  EngineState& s = engine_state;
  v.rate = non_negative(v.rate);
  // The input arriving now was played with what is heard now, which is the loop's start:
  // the play head starts `compensation` frames in, so that its write head starts at frame 0.
  v.position = wrap_into_loop(close_offset(v), v.length);
  set_play_window(v);
  s.overdub_track = t;
  s.record_track = -1;
  normalise_vsp(v);
}

int prepare_record(int32_t t, int32_t mode, int32_t beats, bool* became_source_out) {
  if (!valid_track_index(t) || mode < sync_midi || mode >= track_count || beats < 0)
    return status_refused;
  Track& v = tracks[t];
  EngineState& s = engine_state;
  {
    EngineLockGuard lock;
    if (any_role_active() || on_list(s.play_list, t)) return status_refused;
    if (mode == t) {
      // Against itself: free, and it gives up the clock source role until it takes it below.
      mode = sync_free;
      s.clock_source_track = -1;
    }
    list_remove(s.muted_list, t);
  }
  release_track_blocks(t);
  release_unscramble_blocks(t);
  undo_clear(t);
  bool became_source = false;
  {
    EngineLockGuard lock;
    if (s.clock_source_track < 0) {
      s.clock_source_track = t;
      became_source = true;
    }
    // A new take keeps the track's speed (it records forward, below).
    const int32_t rate = v.rate;
    const int32_t half_speed = v.half_speed;
    reset_loop(v, 0);
    v.rate = rate;
    v.half_speed = half_speed;
    v.clock_source = mode;
  }
  if (became_source_out != nullptr) *became_source_out = became_source;
  if (mode >= 0) {
    sync_to_clock_source(v, t);
  } else if (mode == sync_midi && !sync_to_midi_clock(v, t, beats)) {
    // No clock: the track stays erased and takes no role.
    EngineLockGuard lock;
    v.clock_source = sync_free;
    if (became_source) s.clock_source_track = -1;
    return status_refused;
  }
  EngineLockGuard lock;
  v.position = 0;
  v.loop_start = 0;
  v.loop_end = 0;
  v.rate = non_negative(v.rate);
  set_levels_at_once(v);
  return 0;
}

int start_record(int32_t t, int32_t mode, int32_t beats) {
  const int prepared = prepare_record(t, mode, beats, nullptr);
  if (prepared != 0) return prepared;
  Track& v = tracks[t];
  EngineState& s = engine_state;
  {
    EngineLockGuard lock;
    punch_in(s.record_track, t);
  }
  if (beats > 0 && v.multiple > 0) {
    // Fixed length: the loop is closed at once at its unit and plays when it first wraps.
    wait_for_engine([&] { return v.length != 0 || s.record_track != t; });
    if (close_loop(t) == 0) {
      EngineLockGuard lock;
      clear_trigger(v);
      v.trigger_action = action_play;
      v.trigger_position = compensated_trigger(v, 0);  // once the write head has wrapped
    }
  }
  wait_record_gain();
  return 0;
}

int close_loop(int32_t t) {
  if (!valid_track_index(t)) return status_refused;
  Track& v = tracks[t];
  EngineState& s = engine_state;
  int32_t unit;
  {
    EngineLockGuard lock;
    if (s.record_track != t) return status_refused;
    unit = v.multiple;
  }
  if (unit <= 0) {
    {
      EngineLockGuard lock;
      // The engine may have discarded the take since (the pool ran out): nothing to close.
      if (s.record_track != t) return status_refused;
      close_free_loop_now(t);
    }
    build_clock_pulses(t, v.length);
    return 0;
  }

  // Synchronised: the loop ends on the next multiple of its unit more than 2 frames ahead; the
  // rest up to there is recorded as an overdub on silence.
  int64_t target = synchronised_length(v.length, unit);
  // Blocks are taken before the lock so that none is cleared while it is held.
  int32_t* spare[blocks_under_lock];
  for (int32_t*& block : spare) block = take_zeroed_block();
  BlockRange range{0, -1};
  bool failed = false;
  bool discarded = false;
  int32_t next = 0;
  {
    EngineLockGuard lock;
    const int32_t recorded = v.length;
    while (target <= recorded) target += unit;
    if (s.record_track != t) {
      // Discarded meanwhile, as in the free case: the spares must not become a silent loop.
      discarded = true;
    } else if (target >= max_track_frames) {
      failed = true;
    } else {
      range = {recorded / block_frames, int32_t(target / block_frames)};
      int used = 0;
      for (next = range.first; next <= range.last && !failed; next++) {
        int32_t*& entry = track_blocks[t][next];
        if (entry != nullptr) continue;
        if (used == blocks_under_lock) break;
        if (spare[used] == nullptr) {
          failed = true;
        } else {
          set_block_ref(entry, spare[used]);
          spare[used++] = nullptr;
        }
      }
    }
    if (failed) {
      s.record_track = -1;
    } else if (!discarded) {
      v.loop_start = 0;
      v.loop_end = int32_t(target);
      v.length = int32_t(target);
      v.rate = non_negative(v.rate);
      // The write head goes on from the recorded end while the play head runs `compensation`
      // frames ahead of it; the loop's start moves with the play head, so that what was played
      // to the clock source's frame f is heard with that frame.
      const int32_t offset = close_offset(v);
      v.position = wrap_into_loop(int64_t(recorded) + offset, target);
      v.vsp = wrap_into_loop(int64_t(v.vsp) + offset, target);
      s.overdub_track = t;
      s.record_track = -1;
    }
  }
  for (int32_t* block : spare)
    if (block != nullptr) pool_free(block);
  if (discarded) return status_refused;
  if (failed) {
    abandon_recording(t);
    return status_no_blocks;
  }
  for (; next <= range.last; next++) {
    if (track_blocks[t][next] != nullptr) continue;
    int32_t* block = take_zeroed_block();
    if (block == nullptr) {
      abandon_recording(t);
      return status_no_blocks;
    }
    EngineLockGuard lock;
    set_block_ref(track_blocks[t][next], block);
  }
  {
    EngineLockGuard lock;
    normalise_vsp(v);
  }
  build_clock_pulses(t, int32_t(target));
  return 0;
}

int start_overdub(int32_t t) {
  if (!valid_track_index(t)) return status_refused;
  Track& v = tracks[t];
  EngineState& s = engine_state;
  {
    EngineLockGuard lock;
    if (!can_take_role(t)) return status_refused;
  }
  undo_save(v, t, undo_incremental);
  {
    EngineLockGuard lock;
    list_remove(s.play_list, t);
    s.bounce_active = 0;
    punch_in(s.overdub_track, t);
  }
  wait_record_gain();
  return 0;
}

int end_overdub(int32_t t) {
  if (!valid_track_index(t)) return status_refused;
  EngineState& s = engine_state;
  {
    EngineLockGuard lock;
    if (s.overdub_track != t) return status_refused;
    punch_out();
  }
  wait_record_gain();
  bool bounce;
  {
    EngineLockGuard lock;
    list_remove(s.muted_list, t);
    list_add(s.play_list, t);
    if (s.overdub_track == t) s.overdub_track = -1;
    bounce = s.bounce_active != 0;
  }
  if (bounce) {
    for (int32_t j = 0; j < track_count; j++)
      if (tracks[j].bounce_source) mute_track(j);
    EngineLockGuard lock;
    s.bounce_active = 0;
  }
  return 0;
}

int begin_replace(int32_t t, int32_t keep) {
  if (!valid_track_index(t)) return status_refused;
  Track& v = tracks[t];
  EngineState& s = engine_state;
  {
    EngineLockGuard lock;
    if (!can_take_role(t)) return status_refused;
    list_remove(s.play_list, t);
    punch_in(s.replace_track, t);
    // The old audio fades out of what is written back while the input fades in.
    start_fade_out(v);
    v.keep_original = keep;
  }
  wait_record_gain();
  return 0;
}

int start_replace(int32_t t, int32_t keep) {
  if (!valid_track_index(t)) return status_refused;
  Track& v = tracks[t];
  {
    EngineLockGuard lock;
    if (!can_take_role(t)) return status_refused;
    v.q_replace_steps = 0;
  }
  undo_save(v, t, undo_incremental);
  if (!wait_for_engine([&] { return v.ramp_gain == v.ramp_end; }, fade_timeout_frames))
    console_printf("play_fade_wait: timeout\n");
  return begin_replace(t, keep);
}

namespace {

// Frames within which the step a quantised replace waits for must come: one pass of the loop at
// the track's speed, and on top the second a fade is given. A voice that cannot move at all (it
// stands on a missing block, or the engine ended its role) never reaches the step.
int64_t step_wait_limit(const Track& v) {
  const int64_t rate = v.rate < 0 ? -int64_t(v.rate) : int64_t(v.rate);
  const int64_t pass = rate > 0 ? int64_t(v.length) * normal_rate / rate : 0;
  return std::min<int64_t>(pass + fade_timeout_frames, INT32_MAX);
}

// Runs the track service until done() holds, letting the engine run between passes: the wait
// of a quantised replace, during which every track's pending actions go on executing. false when
// limit_frames of frame_counter passed first.
template <typename Done>
bool run_transport_until(Done done, int64_t limit_frames) {
  uint32_t start;
  {
    EngineLockGuard lock;
    start = engine_state.frame_counter;
  }
  int32_t inline_frames = 0;
  for (;;) {
    transport_update();
    {
      EngineLockGuard lock;
      if (done()) return true;
      const uint32_t elapsed = uint32_t(engine_state.frame_counter) - start;  // wraps with it
      if (int64_t(elapsed) > limit_frames) return false;
    }
    if (engine_wait.run_frame != nullptr && engine_wait.inline_frame_limit > 0 &&
        ++inline_frames > engine_wait.inline_frame_limit) {
      engine_wait.abandoned_waits++;
      return false;
    }
    engine_wait_pause();
  }
}

}  // namespace

int start_q_replace(int32_t t, int32_t steps, int32_t keep) {
  if (!valid_track_index(t)) return status_refused;
  Track& v = tracks[t];
  EngineState& s = engine_state;
  {
    EngineLockGuard lock;
    if (!can_take_role(t)) return status_refused;
    if (steps <= 1 || v.length >= max_quantised_length) return status_refused;
  }
  undo_save(v, t, undo_incremental);
  {
    EngineLockGuard lock;
    const int32_t boundary = quant_step_boundary(t, steps);
    if (boundary < 0) return status_refused;
    v.q_replace_steps = steps;
    clear_trigger(v);
    v.trigger_action = action_replace;
    v.trigger_argument = keep;
    v.trigger_position = compensated_trigger(v, boundary);  // the write head punches at the step
  }
  const bool fired = run_transport_until(
      [&] { return v.trigger_position < 0 && v.trigger_hit == 0; }, step_wait_limit(v));
  int32_t replacing;
  {
    EngineLockGuard lock;
    if (!fired) clear_trigger(v);  // the step never came: nothing punches in later
    replacing = s.replace_track;
    if (replacing != t) v.q_replace_steps = 0;
  }
  if (replacing != t)
    console_printf("Q Replace error: replace track %d not equal to %d\n", replacing + 1, t + 1);
  return 0;
}

int end_replace(int32_t t) {
  if (!valid_track_index(t)) return status_refused;
  Track& v = tracks[t];
  EngineState& s = engine_state;
  int32_t boundary = -1;
  {
    EngineLockGuard lock;
    if (s.replace_track != t) return status_refused;
    if (v.q_replace_steps != 0) boundary = quant_step_boundary(t, v.q_replace_steps);
    if (boundary >= 0) {
      clear_trigger(v);
      v.trigger_action = action_end_replace;
      v.trigger_position = compensated_trigger(v, boundary);
    }
  }
  if (boundary < 0) {
    play_fade_wait(t);
  } else {
    const bool fired = run_transport_until(
        [&] { return v.trigger_position < 0 && v.trigger_hit == 0; }, step_wait_limit(v));
    int32_t replacing;
    {
      EngineLockGuard lock;
      if (!fired) clear_trigger(v);
      replacing = s.replace_track;
    }
    if (replacing == t)
      console_printf("Replace end error: replace track %d is %d\n", replacing + 1, t + 1);
  }
  EngineLockGuard lock;
  v.q_replace_steps = 0;
  return 0;
}
