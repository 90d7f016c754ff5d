// Saves and loads a 60-second stereo loop (2880000 frames, 23 MB) through the storage thread's
// own pass, in a scratch directory on the file system the benchmark runs on. Reports MB/s and,
// from engine_lock and engine_unlock wrapped at link time, how long the engine lock was held in
// all (lock_ms), in its longest single hold (lock_max_us) and how often it was taken (locks).
// The load's counters are split into the storage thread's part (reading into pool blocks) and
// the main loop's attach (attach_lock_ms). "cold" loads first drop the file from the page cache.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>

#include "config/config.h"
#include "core/lock.h"
#include "engine/track.h"
#include "engine/track_ops.h"
#include "engine/transport.h"
#include "host/looper.h"
#include "pool/pool.h"
#include "storage/storage_thread.h"
#include "storage/track_file.h"

namespace {

constexpr int32_t loop_frames = 60 * frames_per_second;
constexpr double file_megabytes =
    (track_header_bytes + double(loop_frames) * bytes_per_frame) / 1e6;

// Outermost holds of the engine lock by this (the only) thread, for the part being measured.
struct LockTimes {
  std::chrono::steady_clock::time_point since;
  int64_t held_ns = 0;
  int64_t max_ns = 0;
  int64_t sections = 0;
};
struct LockMeter {
  LockTimes storage_part;
  LockTimes attach_part;
  LockTimes setup;  // the benchmark's own preparation between timed runs
  LockTimes* counting;
};
LockMeter meter = {{}, {}, {}, &meter.storage_part};

void give_loop(int32_t t) {
  for (int32_t b = 0; b * block_frames < loop_frames; b++) {
    int32_t* block = pool_alloc_any();
    for (int32_t i = 0; i < block_words; i++) block[i] = (b * block_words + i) * 2654435761u >> 8;
    set_block_ref(track_blocks[t][b], block);
  }
  Track& v = tracks[t];
  v.length = loop_frames;
  set_play_window(v);
}

void reset_meter() {
  meter.storage_part = LockTimes{};
  meter.attach_part = LockTimes{};
  meter.counting = &meter.storage_part;
}

void pass() {
  pthread_mutex_lock(&storage.storage_mutex);
  storage_pass();
  pthread_mutex_unlock(&storage.storage_mutex);
}

// The main loop's attach, run inline while the load waits, with its lock holds counted apart.
void attach_inline() {
  meter.counting = &meter.attach_part;
  storage_attach_service();
  meter.counting = &meter.storage_part;
}

void report(benchmark::State& state, const LockTimes& t, const char* prefix) {
  const double n = double(state.iterations());
  state.counters[std::string(prefix) + "lock_ms"] = double(t.held_ns) / 1e6 / n;
  state.counters[std::string(prefix) + "lock_max_us"] = double(t.max_ns) / 1e3;
  state.counters[std::string(prefix) + "locks"] = double(t.sections) / n;
}

void prepare(bool archive) {
  looper_reset();
  config_defaults();
  storage_init();
  storage.wait_for_main_loop = attach_inline;
  storage.archive_off = archive ? 0 : 1;
  mkdir("sess0", 0755);
  give_loop(0);
}

void BM_save_60s_loop(benchmark::State& state) {
  const bool archive = state.range(0) != 0;
  prepare(archive);
  reset_meter();
  for (auto _ : state) {
    tracks[0].audio_changed = 1;
    pass();
  }
  if (storage.track_names[0][0] != 't') state.SkipWithError("the loop was not saved");
  state.SetBytesProcessed(int64_t(state.iterations() * file_megabytes * 1e6 * (archive ? 2 : 1)));
  state.counters["MB/s"] = benchmark::Counter(
      file_megabytes * (archive ? 2 : 1) * double(state.iterations()), benchmark::Counter::kIsRate);
  report(state, meter.storage_part, "");
}

void BM_load_60s_loop(benchmark::State& state) {
  const bool cold = state.range(0) != 0;
  prepare(false);
  tracks[0].audio_changed = 1;
  pass();  // track1.dat
  reset_meter();
  for (auto _ : state) {
    state.PauseTiming();
    meter.counting = &meter.setup;
    erase_track(0);
    storage.forget_mask = 0;  // keep the file
    while (pool_clean_one() > 0) {}
    if (cold) {
      const int fd = open("track1.dat", O_RDONLY);
      posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
      close(fd);
    }
    meter.counting = &meter.storage_part;
    state.ResumeTiming();
    request_load(0, 0);
    pass();
  }
  if (tracks[0].length != loop_frames) state.SkipWithError("the loop was not loaded");
  state.counters["MB/s"] =
      benchmark::Counter(file_megabytes * double(state.iterations()), benchmark::Counter::kIsRate);
  report(state, meter.storage_part, "");
  report(state, meter.attach_part, "attach_");
}

BENCHMARK(BM_save_60s_loop)
    ->ArgName("archive")
    ->Arg(0)
    ->Arg(1)
    ->Iterations(10)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_load_60s_loop)
    ->ArgName("cold")
    ->Arg(0)
    ->Arg(1)
    ->Iterations(10)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace

// engine_lock(std::source_location): the location is one pointer, passed on as it came.
extern "C" void __real__Z11engine_lockSt15source_location(const void* where);
extern "C" void __real__Z13engine_unlockv();

extern "C" void __wrap__Z11engine_lockSt15source_location(const void* where) {
  __real__Z11engine_lockSt15source_location(where);
  if (engine_lock_depth() == 1) meter.counting->since = std::chrono::steady_clock::now();
}

extern "C" void __wrap__Z13engine_unlockv() {
  if (engine_lock_depth() == 1) {
    LockTimes& t = *meter.counting;
    const int64_t ns = std::chrono::duration_cast<std::chrono::nanoseconds>(
                           std::chrono::steady_clock::now() - t.since)
                           .count();
    t.held_ns += ns;
    if (ns > t.max_ns) t.max_ns = ns;
    t.sections++;
  }
  __real__Z13engine_unlockv();
}

int main(int argc, char** argv) {
  char scratch[] = "./zt4bench.XXXXXX";
  if (mkdtemp(scratch) == nullptr || chdir(scratch) != 0) return 1;
  pool_init();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  if (chdir("..") == 0) std::filesystem::remove_all(scratch);
  return 0;
}
