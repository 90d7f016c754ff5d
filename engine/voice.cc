#include "engine/voice.h"

#include "config/config.h"

#if defined(__x86_64__)
#include <immintrin.h>
#endif
#include "midi/clock.h"

namespace {

constexpr int drift_check_position =
    1024;                                // frames into the loop where MIDI-clock drift is measured
constexpr int32_t drift_tolerance = 20;  // phase errors up to this many frames are left alone
constexpr int32_t drift_limit = 2000;    // the largest correction applied at one restart

// Restart of a MIDI-clock track at the end of its stop countdown: the old pass fades out in the
// second fading voice while the track starts again from frame 0 after start_after frames.
void restart_clock_track(Track& t, int n) REQUIRES(engine_capability) {
  t.start_delay = t.start_after;
  begin_crossfade(t, fading_voices_2[n]);
  engine_state.fading_list_2 |= uint16_t(1u << n);
  t.position = 0;
}

// Compares a MIDI-clock track's position with the clock's beat and schedules a restart that
// removes the error, or for a muted track moves it directly.
void drift_check(Track& t, int mode, int n) {
  const double beat = t.clock_period * clock_pulses_per_beat;
  int32_t q = 0;  // frames per beat
  if (beat > 0 && beat < 2147483647.0) q = int32_t(beat);
  int64_t m =
      int64_t(clock_follower.beat_position) - (int64_t(t.length) + drift_check_position - t.vsp);
  if (m < -(q / 2)) {
    m += q;
  } else if (m > q / 2) {
    m -= q;
  }
  t.midi_error = int32_t(t.midi_error + (16 * m - t.midi_error) / 8);
  if (t.drift_count >= 0 && t.drift_count < drift_history_length) {
    engine.drift_history[n][t.drift_count] = int32_t(m);
    t.drift_count++;
  }
  const int32_t length = t.length;
  const int32_t position = t.position;
  if (mode == 0) {
    int64_t p = position + m;
    if (p < 0) {
      p += length;
    } else if (p >= length) {
      p -= length;
    }
    t.position = int32_t(p);
    return;
  }
  if (m < -drift_tolerance) {
    const int32_t k = m > -drift_limit ? int32_t(m) : -drift_limit;
    t.start_after = -2 * k;
    t.stop_countdown = length - position + k;
  } else if (m > drift_tolerance) {
    const int32_t k = m < drift_limit ? int32_t(m) : drift_limit;
    t.stop_countdown = length - position - k;
    t.start_after = 0;
  }
}

// The main voice at its stored frame: peak, silence of its segment, fade, shaping, mix, advance.
[[gnu::always_inline]] inline void sound_main_voice(Track& t, int n, int32_t* frame, bool silent,
                                                    int32_t pair[2], int32_t sums[2])
    REQUIRES(engine_capability) {
  int32_t left = frame[0];
  int32_t right = frame[1];
  if (left > t.peak) t.peak = left;
  if (right > t.peak) t.peak = right;
  if (silent) left = right = 0;
  apply_fade(t, frame);  // heard on the next pass
  shape_voice(t, left, right);
  mix_voice(pair, sums, t, left, right);
  advance_main_voice(t, 1, n);
}

// A main voice that plays its frames as they are stored, one frame per frame, with nothing that
// changes or acts on the way but its trigger: no delay, segments, destructive fade, level
// approach, ramp, other rate, MIDI clock, clock-out pulses or recording role.
bool plays_straight(const Track& t, int n) REQUIRES(engine_capability) {
  const EngineState& s = engine_state;
  const Engine& e = engine;
  if (t.start_delay > 0 || t.segment_count >= 2 || t.rate != normal_rate ||
      uint32_t(t.position_fraction) >= 256u || t.clock_source == -2)
    return false;
  if (t.fade_target != ramp_unity || t.fade_gain != ramp_unity) return false;
  if (!levels_settled(t) || t.ramp_gain != ramp_unity || t.ramp_step != 0) return false;
  if (n == s.record_track || n == s.overdub_track || n == s.replace_track) return false;
  // The clock-out track sends pulses only from a table it can use.
  if (n == e.clock_out_track) {
    const int32_t count = e.clock_pulse_count[n];
    if (count > 0 && count <= clock_pulse_slots &&
        uint32_t(e.clock_pulse_index[n]) < uint32_t(count))
      return false;
  }
  return true;
}

// ((x >> 4) × multiplier) >> shift of one gain-table entry, or silence outside the table, as
// apply_gain gives it.
struct Gain {
  int32_t multiplier;
  int32_t shift;  // below 31
};

Gain gain_of(int32_t k) {
  if (uint32_t(k) >= uint32_t(gain_table_size)) return {0, 0};
  return {gain_table[k].multiplier, gain_table[k].shift};
}

// The product's bits shift … shift + 31: the low word of a logical shift is that of the
// arithmetic one apply_gain takes, since the shift is below 32.
inline int32_t gained(int32_t x, Gain g) {
  return int32_t(uint64_t(int64_t(x >> 4) * g.multiplier) >> g.shift);
}

// count frames from frame (left and right words) at their gains added into mix and, when given,
// into sums (both rows of left and right words); returns the highest sample read, or peak if
// none is higher.
int32_t mix_frames_plain(const int32_t* frame, int count, Gain left, Gain right, int32_t* mix,
                         int32_t* sums, int32_t peak) {
  for (int j = 0; j < count; j++) {
    const int32_t l = frame[2 * j];
    const int32_t r = frame[2 * j + 1];
    peak = l > peak ? l : peak;
    peak = r > peak ? r : peak;
    const int32_t ml = gained(l, left);
    const int32_t mr = gained(r, right);
    mix[2 * j] = wrap_add(mix[2 * j], ml);
    mix[2 * j + 1] = wrap_add(mix[2 * j + 1], mr);
    if (sums != nullptr) {
      sums[2 * j] = wrap_add(sums[2 * j], ml);
      sums[2 * j + 1] = wrap_add(sums[2 * j + 1], mr);
    }
  }
  return peak;
}

#if defined(__x86_64__)
// The same four frames at a time with AVX2: the left words' products in the even 64-bit lanes'
// multiply, the right words' in the odd ones'.
[[gnu::target("avx2")]] int32_t mix_frames_avx2(const int32_t* frame, int count, Gain left,
                                                Gain right, int32_t* mix, int32_t* sums,
                                                int32_t peak) {
  const __m256i ml = _mm256_set1_epi64x(left.multiplier);
  const __m256i mr = _mm256_set1_epi64x(right.multiplier);
  const __m256i sl = _mm256_set1_epi64x(left.shift);
  const __m256i sr = _mm256_set1_epi64x(right.shift);
  __m256i high = _mm256_set1_epi32(peak);
  int j = 0;
  for (; j + 4 <= count; j += 4) {
    const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(frame + 2 * j));
    high = _mm256_max_epi32(high, v);
    const __m256i x = _mm256_srai_epi32(v, 4);
    const __m256i pl = _mm256_srlv_epi64(_mm256_mul_epi32(x, ml), sl);
    const __m256i pr = _mm256_srlv_epi64(_mm256_mul_epi32(_mm256_srli_epi64(x, 32), mr), sr);
    const __m256i gained_words = _mm256_blend_epi32(pl, _mm256_slli_epi64(pr, 32), 0xAA);
    auto* m = reinterpret_cast<__m256i*>(mix + 2 * j);
    _mm256_storeu_si256(m, _mm256_add_epi32(_mm256_loadu_si256(m), gained_words));
    if (sums != nullptr) {
      auto* u = reinterpret_cast<__m256i*>(sums + 2 * j);
      _mm256_storeu_si256(u, _mm256_add_epi32(_mm256_loadu_si256(u), gained_words));
    }
  }
  __m128i h = _mm_max_epi32(_mm256_castsi256_si128(high), _mm256_extracti128_si256(high, 1));
  h = _mm_max_epi32(h, _mm_shuffle_epi32(h, 0x4E));
  h = _mm_max_epi32(h, _mm_shuffle_epi32(h, 0xB1));
  peak = _mm_cvtsi128_si32(h);
  return mix_frames_plain(frame + 2 * j, count - j, left, right, mix + 2 * j,
                          sums != nullptr ? sums + 2 * j : nullptr, peak);
}

const bool have_avx2 = [] {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2") != 0;
}();
#endif

int32_t mix_frames(const int32_t* frame, int count, Gain left, Gain right, int32_t* mix,
                   int32_t* sums, int32_t peak) {
#if defined(__x86_64__)
  if (have_avx2) return mix_frames_avx2(frame, count, left, right, mix, sums, peak);
#endif
  return mix_frames_plain(frame, count, left, right, mix, sums, peak);
}

// The main voice of track n for count frames as play_main_voice plays it straight: a part of a
// block at a time, up to the loop's end, where it wraps, and its trigger is hit where it lies
// among the positions passed; a missing block leaves it silent and
// frozen for the rest of the run.
void mix_straight_voice(Engine& e, Track& t, int n, int count) REQUIRES(engine_capability) {
  const int pair = output_pair_index(engine_state.track_output[n]);
  const bool sums = t.bounce_source != 0;
  const Gain left = gain_of(t.current_level[0]);
  const Gain right = gain_of(t.current_level[1]);
  int32_t position = t.position;
  const int32_t length = t.length;
  int32_t peak = t.peak;
  int i = 0;
  while (i < count) {
    const uint32_t p = uint32_t(position);
    if (p >= uint32_t(max_track_frames)) break;
    const int32_t* block = track_blocks[n][p / block_frames];
    if (block == nullptr) break;
    int32_t k = count - i;
    const int32_t in_block = block_frames - int32_t(p % block_frames);
    if (in_block < k) k = in_block;
    if (position >= length) {
      k = 1;
    } else if (length - position < k) {
      k = length - position;
    }
    const int32_t* frame = block + 2 * (p % block_frames);
    peak =
        mix_frames(frame, k, left, right, e.run_mix[pair][i], sums ? e.run_sums[i] : nullptr, peak);
    t.last_sample[0] = frame[2 * (k - 1)];
    t.last_sample[1] = frame[2 * (k - 1) + 1];
    const int32_t passed = position + k;  // the positions reached are position + 1 … passed
    position = passed;
    i += k;
    if (position >= length) {
      position = t.loop_start;
      t.peak_last_pass = peak;
      t.loop_count++;
      peak = 0;
    }
    const int32_t trigger = t.trigger_position;
    if ((trigger > passed - k && trigger < passed) || trigger == position) [[unlikely]] {
      t.trigger_hit = 1;
      wake_main_loop();
    }
  }
  t.position = position;
  t.peak = peak;
}

}  // namespace

uint32_t mix_straight_voices(Engine& e, uint32_t voices, int count) {
  uint32_t taken = 0;
  for (uint32_t v = voices; v != 0; v &= v - 1) {
    const int n = __builtin_ctz(v);
    if (plays_straight(tracks[n], n)) taken |= 1u << n;
  }
  if (taken == 0) return 0;
  for (auto& pair : e.run_mix) std::memset(pair, 0, sizeof(pair[0]) * size_t(count));
  std::memset(e.run_sums, 0, sizeof(e.run_sums[0]) * size_t(count));
  for (uint32_t v = taken; v != 0; v &= v - 1) {
    const int n = __builtin_ctz(v);
    mix_straight_voice(e, tracks[n], n, count);
  }
  return taken;
}

ReadPoint segment_read_point(const Track& t, int n, int32_t position) {
  int32_t count = t.segment_count;
  if (count > max_segments) count = max_segments;
  int j = 0;
  while (j < count - 1 && position >= t.segment_start[j + 1]) j++;
  int32_t source = t.segment_source[j];
  if (uint32_t(source) >= uint32_t(max_segments)) source = j;
  const int32_t r = int32_t(int64_t(position) - t.segment_start[j] + t.segment_start[source]);
  return {track_frame(n, r), t.segment_silent[j] != 0};
}

void clock_track_step(Track& t, int mode, int n) {
  if (t.stop_countdown > 0) {
    if (--t.stop_countdown == 0) restart_clock_track(t, n);
  } else if (t.position == drift_check_position && t.ramp_step == 0 && t.start_delay == 0 &&
             t.stop_countdown == 0 && mode != -1 && t.trigger_position < 0) {
    drift_check(t, mode, n);
  }
}

void clock_out_step(int n, int32_t position) {
  Engine& e = engine;
  if (n == engine_state.record_track) return;
  const int32_t count = e.clock_pulse_count[n];
  const int32_t index = e.clock_pulse_index[n];
  // An empty table (MIDI-clock tracks) sends nothing.
  if (count <= 0 || count > clock_pulse_slots || uint32_t(index) >= uint32_t(count)) return;
  if (position != e.clock_pulse_table[n][index]) return;
  e.clock_pulse_index[n] = index + 1 == count ? 0 : index + 1;
  if (config.midi_clock_out != 0 && config.drums_clock_out != 1) clock_send_pulse();
}

void advance_voice(Track& track, int mode, int n) { advance_main_voice(track, mode, n); }

void play_main_voice(Track& t, int n, int32_t pair[2], int32_t sums[2]) {
  if (t.start_delay > 0) {
    t.start_delay--;  // neither sounds nor moves yet
    return;
  }
  // Two copies of the voice body: the plain one has no silent-segment test.
  if (t.segment_count >= 2) [[unlikely]] {
    const ReadPoint point = segment_read_point(t, n, t.position);
    if (point.frame == nullptr) return;  // missing block: silent and frozen
    sound_main_voice(t, n, point.frame, point.silent, pair, sums);
    return;
  }
  int32_t* frame = track_frame(n, t.position);
  if (frame == nullptr) return;
  sound_main_voice(t, n, frame, false, pair, sums);
}

// No segments, peak, fade, delay or triggers for the fading voices.
void play_aux_voice(Track& v, int n, int32_t pair[2], int32_t sums[2]) {
  int32_t position = v.position;
  const int32_t* frame = track_frame(n, position);
  if (frame == nullptr) return;
  int32_t left = frame[0];
  int32_t right = frame[1];
  shape_voice(v, left, right);
  mix_voice(pair, sums, v, left, right);
  const int32_t step = v.position_fraction + v.rate;
  position += step >> 8;
  v.position_fraction = step & 255;
  if (position < 0 || position >= v.length) {
    position = v.loop_start;
    v.loop_count++;
  }
  v.position = position;
}
