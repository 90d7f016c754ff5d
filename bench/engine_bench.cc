// Times the engine's frames as the process callback runs them: with the engine mutex held across
// a period of 256 frames, the check for a waiting thread (the hand-over) and the voices mixed
// ahead at every run of frames, and engine_process_sample for each frame. Reports ns per frame and,
// as the counter "budget_%", the wall time per frame as a plain percentage of the 20.83 µs frame
// period at 48000 frames per second: budget_%=0.83 means 0.83 % (173 ns). Aggregates
// (--benchmark_repetitions) show its mean and median like the times.
#include <benchmark/benchmark.h>
#include <pthread.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>

#include "config/config.h"
#include "drums/count_in_settings.h"
#include "drums/drum_machine.h"
#include "engine/click.h"
#include "engine/engine.h"
#include "engine/listen_ring.h"
#include "engine/track.h"
#include "core/lock.h"
#include "host/looper.h"
#include "midi/clock.h"
#include "midi/midi_queue.h"
#include "pool/pool.h"

namespace {

constexpr int input_frames = 4096;          // a repeating input signal
constexpr double frame_ns = 1e9 / 48000.0;  // 20833 ns

struct BenchInput {
  int32_t left[input_frames];
  int32_t right[input_frames];
};

BenchInput bench_input;

void reset_all() {
  looper_reset();
  engine_state.record_gain = ramp_unity;
  for (int i = 0; i < input_frames; i++) {
    // A loud 440 Hz tone with a little offset, so the gate is open and DC removal works.
    double s = std::sin(2.0 * M_PI * 440.0 * i / 48000.0);
    bench_input.left[i] = int32_t(4000000.0 * s) + 1000;
    bench_input.right[i] = int32_t(3000000.0 * s) - 1000;
  }
}

// Gives track n a loop of `length` frames of a decaying saw from the pool.
void give_track(int n, int32_t length, int32_t level) {
  for (int32_t k = 0; k * block_frames < length; k++) {
    int32_t* block = pool_alloc_any();
    for (int f = 0; f < block_frames; f++) {
      int32_t p = k * block_frames + f;
      block[2 * f] = int32_t((int64_t(p) * 7919 % 200000 - 100000) * 40);
      block[2 * f + 1] = int32_t((int64_t(p) * 104729 % 200000 - 100000) * 40);
    }
    set_block_ref(track_blocks[n][k], block);
  }
  Track& t = tracks[n];
  t.length = length;
  t.loop_end = length;
  t.ramp_gain = ramp_unity;
  t.position = (n * 12345) % length;
  t.current_level[0] = t.target_level[0] = level;
  t.current_level[1] = t.target_level[1] = level + 1;
}

void eight_playing() {
  for (int n = 0; n < track_count; n++) give_track(n, 96000 + n * 17777, 2 + n);  // 2-4.6 s
  engine_state.play_list = 0xFF;
}

void full_load() {
  eight_playing();
  for (int n = 0; n < track_count; n++) {
    Track& v = fading_voices[n];
    v = tracks[n];
    v.position = (tracks[n].position + 30000) % tracks[n].length;
    v.ramp_gain = 300;  // held mid-fade so every fading voice keeps scaling
    v.ramp_step = 0;
  }
  engine_state.fading_list = 0xFF;
  // An overdubbing track plays through its overdub path, off the play list, as the transport
  // keeps it: eight tracks sound, one of them overdubbing.
  engine_state.overdub_track = 7;
  engine_state.play_list = 0x7F;
  for (int n : {2, 5}) {
    Track& t = tracks[n];
    t.segment_count = n == 2 ? 8 : 16;
    for (int j = 0; j < t.segment_count; j++) {
      t.segment_start[j] = int32_t(int64_t(t.length) * j / t.segment_count);
      t.segment_source[j] = (j * 5 + 3) % t.segment_count;
      t.segment_silent[j] = j == 1;
    }
  }
}

// The drum machine at 180 BPM with all eight voices sounding and overlapping (every voice on
// every sixth step, 1.4 s samples), its clock bytes on the audio thread's MIDI lane, and the
// follower locked to it after a warm-up.
void drums_running() {
  for (int d = 0; d < drum_count; d++) {
    int32_t* blocks[drum_voice_blocks] = {};
    for (int b = 0; b < 8; b++) {
      blocks[b] = pool_alloc_any();
      for (int f = 0; f < block_frames; f++) {
        blocks[b][2 * f] = int32_t((int64_t(f + d) * 7919 % 200000 - 100000) * 40);
        blocks[b][2 * f + 1] = int32_t((int64_t(f + d) * 104729 % 200000 - 100000) * 40);
      }
    }
    drum_voice_install(d, blocks, 8 * block_frames);
  }
  DrumPattern& p = drums.bank.patterns[0];
  for (int s = 0; s < drum_steps; s += 6) p.steps[s] = uint16_t(1u << (s / 6 % drum_count)) | 0x01;
  for (int d = 0; d < drum_count; d++) p.pan[d] = int16_t(d * 20 - 70);
  p.all_gain = -3;
  config.drums_clock_out = 1;
  drum_set_tempo(180);
  drums_start(0);
  midi_out_register_audio_thread();
  int32_t in[2] = {0, 0}, out_main[2], out_aux1[2], out_aux2[2];
  int length;
  for (int i = 0; i < 30000; i++) {
    engine_process_sample(in, out_main, out_aux1, out_aux2);
    while (midi_out_take_audio_lane(&length) != nullptr) {}
  }
}

constexpr int period_frames = 256;  // the process callback's period here

// One period per batch, in the callback's runs of frames; with mix_click each period is followed
// by the click's mix into the period's main output, as the process callback does.
void run_frames(benchmark::State& state, bool mix_click = false) {
  float period_left[period_frames] = {}, period_right[period_frames] = {};
  pthread_mutex_t* mutex = engine_mutex();
  int64_t hand_over_until = INT64_MAX;  // no thread asks here
  uint32_t i = 0;
  const auto start = std::chrono::steady_clock::now();
  pthread_mutex_lock(mutex);
  // The library counts the frames as iterations, so the times are per frame.
  while (state.KeepRunningBatch(period_frames)) {
    for (int f = 0; f < period_frames; f++) {
      int32_t in[2] = {bench_input.left[i], bench_input.right[i]};
      int32_t out_main[2], out_aux1[2], out_aux2[2];
      if (f % engine_run_frames == 0) {
        engine_hand_over_if_wanted(mutex, hand_over_until);
        engine_run_begin(std::min(engine_run_frames, period_frames - f));
      }
      engine_process_sample(in, out_main, out_aux1, out_aux2);
      // The process callback's per-frame drain of the clock bytes.
      int length;
      while (const uint8_t* bytes = midi_out_take_audio_lane(&length))
        benchmark::DoNotOptimize(bytes);
      benchmark::DoNotOptimize(out_main);
      period_left[f] = float(out_main[0]);
      period_right[f] = float(out_main[1]);
      i = (i + 1) & (input_frames - 1);
    }
    if (mix_click) {
      click_mix_period(period_left, period_right, period_frames, engine_state.frame_counter);
      benchmark::DoNotOptimize(period_left);
    }
  }
  pthread_mutex_unlock(mutex);
  const std::chrono::duration<double, std::nano> elapsed = std::chrono::steady_clock::now() - start;
  // A plain number, no flags: the library prints it as it is (below 1000 without a prefix).
  if (state.iterations() > 0)
    state.counters["budget_%"] = elapsed.count() / double(state.iterations()) / frame_ns * 100.0;
}

void BM_Idle(benchmark::State& state) {
  reset_all();
  run_frames(state);
}

void BM_EightPlaying(benchmark::State& state) {
  reset_all();
  eight_playing();
  run_frames(state);
}

void BM_FullLoad(benchmark::State& state) {
  reset_all();
  full_load();
  run_frames(state);
}

void BM_DrumsAlone(benchmark::State& state) {
  reset_all();
  drums_running();
  run_frames(state);
}

void BM_FullLoadWithDrums(benchmark::State& state) {
  reset_all();
  full_load();
  drums_running();
  run_frames(state);
}

// The drums with the click (range 0: its mode, 0 off, 2 on every beat), the frames taken in
// periods with the click mixed after each, as the process callback does: the click's cost.
void BM_DrumsClick(benchmark::State& state) {
  reset_all();
  drums_running();
  set_click(int32_t(state.range(0)));
  run_frames(state, true);
}

// The same with the capture ring of the last minute of input on: the cost it adds per frame.
void BM_IdleCaptureRing(benchmark::State& state) {
  reset_all();
  listen_ring_start(capture_seconds_default);
  run_frames(state);
}

void BM_FullLoadCaptureRing(benchmark::State& state) {
  reset_all();
  full_load();
  listen_ring_start(capture_seconds_default);
  run_frames(state);
}

BENCHMARK(BM_Idle);
BENCHMARK(BM_IdleCaptureRing);
BENCHMARK(BM_EightPlaying);
BENCHMARK(BM_FullLoad);
BENCHMARK(BM_FullLoadCaptureRing);
BENCHMARK(BM_DrumsAlone);
BENCHMARK(BM_FullLoadWithDrums);
BENCHMARK(BM_DrumsClick)->ArgName("click")->Arg(click_off)->Arg(click_always);

}  // namespace

BENCHMARK_MAIN();
