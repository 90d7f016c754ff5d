// Times the editing operations that build audio on the main thread: a stretch of a 10-second loop
// to 150 % and 200 %, and "Pitch Octave Up" of it. Reports the wall time per operation, the
// counter "x_realtime" (seconds of source loop stretched per second of work), "lock_us", the
// longest time any run held the engine lock, and "lock_us_median", the median over the runs of
// each run's longest hold, in microseconds (the longest is usually a hold the scheduler
// interrupted). The engine runs inline, one
// frame whenever an operation waits for it.
#include <benchmark/benchmark.h>
#include <pthread.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "core/lock.h"
#include "engine/editing.h"
#include "engine/engine.h"
#include "engine/engine_wait.h"
#include "engine/frame_runs.h"
#include "engine/track.h"
#include "engine/transport.h"
#include "host/looper.h"
#include "pool/pool.h"

namespace {

constexpr int32_t loop_frames = 10 * 48000;
constexpr double loop_seconds = 10.0;

void inline_frame() {
  int32_t in[2] = {0, 0};
  int32_t out_main[2], out_aux1[2], out_aux2[2];
  pthread_mutex_lock(engine_mutex());
  engine_process_sample(in, out_main, out_aux1, out_aux2);
  pthread_mutex_unlock(engine_mutex());
}

// Track 0: a 10-second loop of two detuned tones, muted.
void prepare() {
  looper_reset();
  engine_wait.run_frame = inline_frame;
  for (int32_t b = 0; b * block_frames < loop_frames; b++)
    set_block_ref(track_blocks[0][b], pool_alloc_any());
  for (int32_t f = 0; f < loop_frames; f++) {
    const double t = f / 48000.0;
    int32_t* frame = frame_at(track_blocks[0], f);
    frame[0] = int32_t(3000000.0 * std::sin(2 * M_PI * 440.0 * t));
    frame[1] = int32_t(3000000.0 * std::sin(2 * M_PI * 554.4 * t));
  }
  Track& v = tracks[0];
  v.length = loop_frames;
  v.loop_end = loop_frames;
  v.segment_count = 1;
  engine_state.muted_list = 1;
}

template <typename Op>
void run_edit(benchmark::State& state, Op op) {
  prepare();
  std::vector<int64_t> holds;
  for (auto _ : state) {
    lock_hold_probe_start();
    const int result = op();
    const int64_t hold = lock_hold_probe_stop();
    state.PauseTiming();
    holds.push_back(hold);
    if (result != 0) state.SkipWithError("the edit was refused");
    erase_track(1);
    state.ResumeTiming();
  }
  if (holds.empty()) return;
  std::sort(holds.begin(), holds.end());
  state.counters["lock_us"] = double(holds.back()) / 1000.0;
  state.counters["lock_us_median"] = double(holds[holds.size() / 2]) / 1000.0;
  state.counters["x_realtime"] =
      benchmark::Counter(loop_seconds * double(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_Stretch150(benchmark::State& state) {
  run_edit(state, [] { return stretch_track(0, 1, 1.5f); });
}
void BM_Stretch200(benchmark::State& state) {
  run_edit(state, [] { return stretch_track(0, 1, 2.0f); });
}
void BM_PitchOctaveUp(benchmark::State& state) {
  run_edit(state, [] { return pitch_octave_up(0, 1); });
}

BENCHMARK(BM_Stretch150)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Stretch200)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PitchOctaveUp)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
