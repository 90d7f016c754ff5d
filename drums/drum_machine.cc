#include "drums/drum_machine.h"

#include "config/config.h"
#include "core/constants.h"
#include "core/gain_table.h"
#include "core/lock.h"
#include "midi/clock.h"
#include "midi/transport_clock.h"

DrumMachine drums;

namespace {

// Two 4/4 measures at 48000 samples per second: 48000 × 60 × 8 samples per beat-per-minute.
constexpr int32_t pattern_samples_at_1_bpm = frames_per_second * 60 * 8;
constexpr int32_t drum_clocks_per_measure = 96;
constexpr int32_t last_gain_index = gain_table_size - 1;
constexpr int32_t drums_clock_internal_and_midi = 1;

void build_timing(DrumTiming& t, int32_t bpm) {
  t.loop_length = pattern_samples_at_1_bpm / bpm;
  t.samples_per_step = float(t.loop_length) / float(drum_steps);
  for (int s = 0; s < drum_steps; s++) t.step_start[s] = int32_t(float(s) * t.samples_per_step);
  for (int s = 0; s + 1 < drum_steps; s++) {
    t.release_start[s] = t.step_start[s + 1] - drum_release_frames;
  }
  t.release_start[drum_steps - 1] = t.loop_length - drum_release_frames;
}

int32_t clamp(int32_t v, int32_t lo, int32_t hi) { return v < lo ? lo : v > hi ? hi : v; }

// The counter carried from the old tables to the new: scaled by the ratio of the pattern
// lengths, then held inside the window of the same step and phase, so that the step that has
// started is neither started again nor skipped, and the one awaited is not missed.
int32_t carried_counter(const DrumTiming& old_t, const DrumTiming& new_t, int32_t counter,
                        int32_t step) {
  if (old_t.loop_length <= 0) return 0;
  const float ratio = float(new_t.loop_length) / float(old_t.loop_length);
  const int32_t c = int32_t(float(counter) * ratio);
  const int32_t p = step;
  if (p == 0 && counter > old_t.release_start[drum_steps - 1]) {
    // After the last release: waiting for the pattern to wrap to step 0.
    return clamp(c, new_t.release_start[drum_steps - 1] + 1, new_t.loop_length - 1);
  }
  if (counter <= old_t.step_start[p]) {
    const int32_t after = p == 0 ? 0 : new_t.release_start[p - 1] + 1;
    return clamp(c, after, new_t.step_start[p]);
  }
  return clamp(c, new_t.step_start[p] + 1, new_t.release_start[p]);
}

// ((x >> 4) × multiplier) >> shift of gain-table entry k (0..511).
inline int32_t gained(int32_t x, int32_t k) {
  const GainEntry& e = gain_table[k];
  return int32_t((int64_t(x >> 4) * e.multiplier) >> e.shift);
}

// An outside clock drives the follower (MIDI clock in, or the JACK transport followed): the
// drums then leave it alone.
bool outside_clock() { return config.midi_clock_in != 0 || transport_follows(); }

inline int32_t wrap_sum(int32_t a, int32_t b) { return int32_t(uint32_t(a) + uint32_t(b)); }

// The step begins: clock events first, then the voices of the step's mask start from frame 0.
void start_step(DrumMachine& d, const DrumPattern& pattern, const DrumTiming& t, int32_t c,
                int32_t p) {
  const int32_t clock_out = config.drums_clock_out;
  if (clock_out != drums_clock_off) {
    if (!outside_clock()) {
      if (c == t.step_start[0] || c == t.step_start[drum_steps_per_measure]) clock_measure_start();
      clock_tick();
    }
    if (clock_out == drums_clock_internal_and_midi) clock_send_pulse();
  }
  for (uint32_t mask = pattern.steps[p] & 0xFFu; mask != 0; mask &= mask - 1) {
    const int i = __builtin_ctz(mask);
    DrumVoice& v = d.voices[i];
    if (v.length <= 0 || v.ready == 0) continue;
    v.position = 0;
    v.playing = 1;
    v.release = 0;
    d.sounding |= 1u << i;
  }
}

// 512 samples before the next step: the voices that step will restart fade out.
void release_step(DrumMachine& d, const DrumPattern& pattern, int32_t next) {
  for (uint32_t mask = pattern.steps[next] & 0xFFu; mask != 0; mask &= mask - 1) {
    DrumVoice& v = d.voices[__builtin_ctz(mask)];
    if (v.playing == 0) continue;
    v.playing = 0;
    v.release = drum_release_frames;
  }
}

void sequence(DrumMachine& d, const DrumPattern& pattern) {
  const DrumTiming& t = d.timing[d.active];
  DrumTransport& tr = d.transport;
  const int32_t c = tr.counter;
  const int32_t p = uint32_t(tr.step) < uint32_t(drum_steps) ? tr.step : 0;
  if (c == t.step_start[p]) {
    start_step(d, pattern, t, c, p);
  } else if (c == t.release_start[p]) {
    const int32_t next = p + 1 < drum_steps ? p + 1 : 0;
    release_step(d, pattern, next);
    tr.step = next;
  }
  if (c + 1 >= t.loop_length) {
    tr.counter = 0;
    tr.step = 0;
  } else {
    tr.counter = c + 1;
  }
}

// One frame of voice i into out; false once the voice has fallen silent.
bool sound_voice(DrumVoice& v, const DrumPattern& pattern, int i, int32_t out[2]) {
  int32_t h = -(int32_t(pattern.all_gain) + pattern.gain[i]);
  h = clamp(h, 0, last_gain_index);
  const int32_t pan = pattern.pan[i];
  const int32_t left_index = pan >= 0 ? clamp(h + pan, 0, last_gain_index) : h;
  const int32_t right_index = pan >= 0 ? h : clamp(h - pan, 0, last_gain_index);
  const int32_t pos = v.position;
  const int32_t* block = v.blocks[uint32_t(pos) / block_frames];
  int32_t left = 0;
  int32_t right = 0;
  if (block != nullptr) {
    left = block[2 * (pos % block_frames)];
    right = block[2 * (pos % block_frames) + 1];
  }
  if (v.playing == 0) {
    // Release: scaled by the frames left over 512, rounding toward zero.
    left = int32_t(int64_t(left) * v.release / drum_release_frames);
    right = int32_t(int64_t(right) * v.release / drum_release_frames);
    v.release--;
  }
  out[0] = wrap_sum(out[0], gained(left, left_index));
  out[1] = wrap_sum(out[1], gained(right, right_index));
  v.position = pos + 1;
  if (v.position >= v.length) {
    v.position = 0;
    v.playing = 0;
    v.release = 0;
  }
  return v.playing != 0 || v.release > 0;
}

}  // namespace

void drums_reset() {
  drums = DrumMachine{};
  for (DrumVoice& v : drums.voices) v.slot = -1;
  build_timing(drums.timing[0], drum_bpm_default);
}

const DrumTiming& drum_timing() { return drums.timing[drums.active]; }

int32_t drum_set_tempo(int32_t bpm) {
  if (bpm < drum_bpm_min || bpm > drum_bpm_max) return status_refused;
  DrumMachine& d = drums;
  // Only the main thread changes `active`, so the spare table is the audio thread's to ignore.
  const int32_t spare = 1 - d.active;
  build_timing(d.timing[spare], bpm);
  EngineLockGuard lock;
  d.transport.counter =
      carried_counter(d.timing[d.active], d.timing[spare], d.transport.counter, d.transport.step);
  d.active = spare;
  return status_ok;
}

int32_t drums_start(int32_t) {
  DrumMachine& d = drums;
  {
    EngineLockGuard lock;
    if (d.transport.running != 0) return status_ok;
    if (config.drums_clock_out != drums_clock_off && !outside_clock()) {
      start_drum_clock(drum_clocks_per_measure, d.timing[d.active].samples_per_step);
    }
    d.transport.running = 1;
  }
  transport_drums_started();
  return status_ok;
}

int32_t drums_stop(int32_t) {
  DrumTransport& tr = drums.transport;
  {
    EngineLockGuard lock;
    tr.running = 0;
    tr.counter = 0;
    tr.step = 0;
  }
  transport_drums_stopped();
  return status_ok;
}

void drum_step_frame(int32_t out[2]) {
  DrumMachine& d = drums;
  if (uint32_t(d.bank.current_pattern) >= uint32_t(drum_pattern_count)) return;
  const DrumPattern& pattern = d.bank.patterns[d.bank.current_pattern];
  if (d.transport.running != 0) sequence(d, pattern);
  for (uint32_t voices = d.sounding; voices != 0; voices &= voices - 1) {
    const int i = __builtin_ctz(voices);
    if (!sound_voice(d.voices[i], pattern, i, out)) d.sounding &= ~(1u << i);
  }
}

void drum_voice_install(int drum, int32_t* const* blocks, int32_t length) {
  if (drum < 0 || drum >= drum_count) return;
  int32_t* old_blocks[drum_voice_blocks];
  {
    EngineLockGuard lock;
    DrumVoice& v = drums.voices[drum];
    for (int b = 0; b < drum_voice_blocks; b++) {
      old_blocks[b] = v.blocks[b];
      v.blocks[b] = blocks != nullptr ? blocks[b] : nullptr;
    }
    const bool has_sample = blocks != nullptr && length > 0;
    v.length = has_sample ? (length < drum_voice_max_frames ? length : drum_voice_max_frames) : 0;
    v.slot = has_sample ? drum : -1;
    v.ready = has_sample ? 1 : 0;
    v.playing = 0;
    v.release = 0;
    v.position = 0;
    drums.sounding &= ~(1u << drum);
  }
  for (int32_t* block : old_blocks) {
    if (block != nullptr) pool_free(block);
  }
}
