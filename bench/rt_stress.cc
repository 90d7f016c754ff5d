// The audio thread's worst case under hostile load. The real engine runs its periods on a
// SCHED_FIFO thread (64 and 256 frames at 48000 frames/s, woken at each period's start as JACK
// wakes it) while the looper's other roles hammer the engine lock at once: a thread taking it
// back to back, the main loop erasing and reloading a 2000-block track, clearing undo levels and
// stretching a track, two status readers, the web panel's waveform reader and the storage thread
// saving a track. For each period and hand-over design (unbounded: the earlier design, every
// frame lets every waiter in; bounded: the current budget) it prints the longest and the 99.9th
// percentile callback as a share of the period, as wall time and as the audio thread's running
// time (its CPU time, which leaves out the time it waited for the lock or was preempted by this
// machine's other work), the time it waited in hand-overs, and the longest holds of the lock.
//
// usage: rt_stress [SECONDS_PER_RUN]   (default 8; runs in a scratch directory under the current
// one)
#include <pthread.h>
#include <sched.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <span>
#include <thread>
#include <vector>

#include "config/config.h"
#include "core/lock.h"
#include "core/lock_statistics.h"
#include "engine/editing.h"
#include "engine/engine.h"
#include "engine/track.h"
#include "engine/track_load.h"
#include "engine/track_ops.h"
#include "engine/transport.h"
#include "engine/undo.h"
#include "host/looper.h"
#include "net/status_report.h"
#include "pool/pool.h"
#include "storage/storage_thread.h"
#include "web/web_panel.h"

namespace {

constexpr int32_t reload_blocks = 2000;
constexpr int reload_track = 7;
constexpr int undo_track = 6;
constexpr int stretch_source = 5;
constexpr int stretch_destination = 4;
constexpr int saved_track = 0;
constexpr int input_frames = 4096;

std::atomic<bool> stopping{false};
std::atomic<bool> paused{true};  // the hostile threads wait (the quiet reference run)

std::atomic<int> parked{0};  // hostile threads waiting while paused

// False once the run stops; waits while the hostile threads are paused.
bool keep_going() {
  if (paused.load() && !stopping.load()) {
    parked++;
    while (paused.load() && !stopping.load())
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    parked--;
  }
  return !stopping.load(std::memory_order_relaxed);
}

int64_t clock_ns(clockid_t clock) {
  timespec t;
  clock_gettime(clock, &t);
  return int64_t(t.tv_sec) * 1000000000 + t.tv_nsec;
}

// Fills track n with `blocks` blocks of a decaying saw and makes it a loop.
void give_loop(int n, int32_t blocks) {
  if (!fill_block_refs(std::span(track_blocks[n], size_t(blocks)))) {
    fprintf(stderr, "rt_stress: the pool ran out\n");
    exit(1);
  }
  for (int32_t k = 0; k < blocks; k++) {
    int32_t* block = track_blocks[n][k];
    for (int f = 0; f < block_frames; f++) {
      const int64_t p = int64_t(k) * block_frames + f;
      block[2 * f] = int32_t((p * 7919 % 200000 - 100000) * 40);
      block[2 * f + 1] = int32_t((p * 104729 % 200000 - 100000) * 40);
    }
  }
  EngineLockGuard lock;
  Track& t = tracks[n];
  t.length = blocks * block_frames;
  t.segment_count = 1;
  set_play_window(t);
  t.audio_changed = 1;
  list_add(engine_state.play_list, n);
}

// ---- the audio thread ----

// A run of frames whose wall time passes this was interrupted: its own work takes a few
// microseconds, while the host taking the virtual CPU away or an interrupt takes far longer.
constexpr int64_t interrupted_run_ns = 50000;

struct PeriodFigures {
  int64_t wall_ns;
  int64_t run_ns;        // CPU time, less what the lock waits spent on the CPU
  int64_t wait_ns;       // waiting for the lock: at the period's start and in hand-overs
  int64_t hand_over_ns;  // of which in hand-overs (the lock given away between two frames)
  int64_t hand_overs;    // how many
  int64_t work_ns;       // wall time of the runs of frames, lock waits left out
  bool interrupted;      // a run took longer than interrupted_run_ns
};

// Times one wait for the mutex, in wall time and in CPU time (the kernel may spin for a holder
// that runs).
struct LockWait {
  int64_t wall = 0;
  int64_t cpu = 0;
  int64_t count = 0;
  template <typename Wait>
  void time(Wait wait) {
    const int64_t t0 = clock_ns(CLOCK_MONOTONIC);
    const int64_t c0 = clock_ns(CLOCK_THREAD_CPUTIME_ID);
    wait();
    cpu += clock_ns(CLOCK_THREAD_CPUTIME_ID) - c0;
    wall += clock_ns(CLOCK_MONOTONIC) - t0;
    count++;
  }
};

struct AudioRun {
  uint32_t frames = 256;
  int64_t seconds = 8;
  std::vector<PeriodFigures> figures;  // sized before the thread starts
  int32_t in[2][input_frames];
};
AudioRun audio_run;

// One period as the process callback runs it: the lock held across the frames, handed over
// between two runs of frames while the budget lasts.
PeriodFigures run_period(uint32_t nframes, int64_t period_ns, uint32_t& at) {
  const int64_t began = clock_ns(CLOCK_MONOTONIC);
  const int64_t began_cpu = clock_ns(CLOCK_THREAD_CPUTIME_ID);
  LockWait first, hand_overs;
  pthread_mutex_t* mutex = engine_mutex();
  int64_t until = engine_hand_over_until(began, period_ns);
  first.time([&] { pthread_mutex_lock(mutex); });
  int64_t work = 0;
  bool interrupted = false;
  int64_t run_began = clock_ns(CLOCK_MONOTONIC);
  for (uint32_t i = 0; i < nframes; i++) {
    int32_t in[2] = {audio_run.in[0][at], audio_run.in[1][at]};
    at = (at + 1) % input_frames;
    int32_t out_main[2], out_aux1[2], out_aux2[2];
    if (i % engine_run_frames == 0) {
      if (i != 0) {
        const int64_t now = clock_ns(CLOCK_MONOTONIC);
        work += now - run_began;
        interrupted |= now - run_began > interrupted_run_ns;
        run_began = now;
        if (engine_lock_waiters.load(std::memory_order_acquire) != 0 && until != 0) {
          hand_overs.time([&] { engine_hand_over(mutex, until); });
          run_began = clock_ns(CLOCK_MONOTONIC);
        }
      }
      engine_run_begin(int(std::min<uint32_t>(engine_run_frames, nframes - i)));
    }
    engine_process_sample(in, out_main, out_aux1, out_aux2);
  }
  const int64_t ended = clock_ns(CLOCK_MONOTONIC);
  work += ended - run_began;
  interrupted |= ended - run_began > interrupted_run_ns;
  pthread_mutex_unlock(mutex);
  const int64_t wall = clock_ns(CLOCK_MONOTONIC) - began;
  const int64_t cpu = clock_ns(CLOCK_THREAD_CPUTIME_ID) - began_cpu;
  lock_statistics_callback(wall, nframes);
  return {wall,
          cpu - first.cpu - hand_overs.cpu,
          first.wall + hand_overs.wall,
          hand_overs.wall,
          hand_overs.count,
          work,
          interrupted};
}

void* audio_main(void*) {
  AudioRun& r = audio_run;
  const int64_t period_ns = int64_t(r.frames) * 1000000000 / frames_per_second;
  const size_t periods = r.figures.size();
  uint32_t at = 0;
  int64_t next = clock_ns(CLOCK_MONOTONIC);
  for (size_t p = 0; p < periods; p++) {
    next += period_ns;
    // Woken at the period's start; a period that overran starts the next at once.
    timespec wake{time_t(next / 1000000000), long(next % 1000000000)};
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &wake, nullptr) == EINTR) {}
    r.figures[p] = run_period(r.frames, period_ns, at);
  }
  return nullptr;
}

// A SCHED_FIFO thread, or an ordinary one when the system refuses (said once).
void run_audio_thread() {
  static bool told = false;
  pthread_attr_t attributes;
  pthread_attr_init(&attributes);
  pthread_attr_setinheritsched(&attributes, PTHREAD_EXPLICIT_SCHED);
  pthread_attr_setschedpolicy(&attributes, SCHED_FIFO);
  sched_param param{};
  param.sched_priority = 70;
  pthread_attr_setschedparam(&attributes, &param);
  pthread_t thread;
  int result = pthread_create(&thread, &attributes, audio_main, nullptr);
  pthread_attr_destroy(&attributes);
  if (result != 0) {
    if (!told) {
      printf(
          "rt_stress: SCHED_FIFO refused (%s): the audio thread runs at normal priority, so "
          "its figures include ordinary scheduling delays\n",
          strerror(result));
      told = true;
    }
    result = pthread_create(&thread, nullptr, audio_main, nullptr);
    if (result != 0) {
      fprintf(stderr, "rt_stress: no audio thread: %s\n", strerror(result));
      exit(1);
    }
  }
  pthread_join(thread, nullptr);
}

// ---- the hostile threads ----

// Takes the lock back to back, with a little work in each hold.
void back_to_back_locker() {
  volatile int32_t sink = 0;
  while (keep_going()) {
    EngineLockGuard lock;
    for (int t = 0; t < track_count; t++) sink = sink + tracks[t].position;
  }
}

// The main loop's part: erase and reload the long track (the loader's attach), a full undo ring
// cleared, a stretch, and the idle tick's services.
void main_loop_role() {
  StorageThread& s = storage;
  while (keep_going()) {
    // Reload: the blocks the storage thread would have read, attached by the main loop (which
    // mutes and erases the track first).
    std::fill_n(s.attach_blocks, reload_blocks, nullptr);
    if (fill_block_refs(std::span(s.attach_blocks, size_t(reload_blocks)))) {
      s.attach_track = reload_track;
      s.attach_block_count = reload_blocks;
      s.attach_length = reload_blocks * block_frames;
      s.attach_words = take_file_words(s.attach_length);
      s.attach_changed = false;
      s.attach_state.store(attach_waiting, std::memory_order_release);
      storage_attach_service();
      s.attach_state.store(attach_idle);
      play_track(reload_track);
    }
    for (int i = 0; i < 4; i++) undo_save(tracks[undo_track], undo_track, undo_full_copy);
    undo_clear(undo_track);
    stretch_track(stretch_source, stretch_destination, 1.5f);
    erase_track(stretch_destination);
    transport_update();
    while (pool_clean_one() > 0 && !stopping.load(std::memory_order_relaxed)) {}
    erase_track(reload_track);
  }
}

void status_reader() {
  RemoteStatus status;
  while (keep_going()) remote_status_read(status);
}

void waveform_reader() {
  int8_t pairs[2 * web_wave_points];
  while (keep_going())
    for (int t = 0; t < track_count; t++) web_compute_wave(t, pairs);
}

// The storage thread saves a changed track, again and again (a few MB each time).
void storage_role() {
  while (keep_going()) {
    {
      EngineLockGuard lock;
      tracks[saved_track].audio_changed = 1;
    }
    pthread_mutex_lock(&storage.storage_mutex);
    storage_pass();
    pthread_mutex_unlock(&storage.storage_mutex);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

// ---- figures ----

struct Summary {
  double wall_max, wall_p999, run_max, run_p999, wait_max, hand_over_max, turns_max;
  double work_max;     // of the periods no run of which was interrupted
  size_t interrupted;  // periods one of whose runs was
};

double percentile(std::vector<int64_t> v, double q) {
  std::sort(v.begin(), v.end());
  const size_t k = size_t(std::ceil(q * double(v.size()))) - 1;
  return double(v[std::min(k, v.size() - 1)]);
}

Summary summarise(const std::vector<PeriodFigures>& f, int64_t period_ns) {
  std::vector<int64_t> wall, run, wait, hand_over, turns, work{0};
  size_t interrupted = 0;
  for (const PeriodFigures& p : f) {
    if (p.interrupted) {
      interrupted++;
    } else {
      work.push_back(p.work_ns);
    }
    wall.push_back(p.wall_ns);
    run.push_back(p.run_ns);
    wait.push_back(p.wait_ns);
    hand_over.push_back(p.hand_over_ns);
    turns.push_back(p.hand_overs);
  }
  const double percent = double(period_ns) / 100.0;
  return {percentile(wall, 1.0) / percent,
          percentile(wall, 0.999) / percent,
          percentile(run, 1.0) / percent,
          percentile(run, 0.999) / percent,
          percentile(wait, 1.0) / percent,
          percentile(hand_over, 1.0) / percent,
          percentile(turns, 1.0),
          percentile(work, 1.0) / percent,
          interrupted};
}

void print_lock_sites() {
  LockReport r;
  lock_statistics_take(r);
  printf("    lock: %u holds by other threads, longest:", r.holds);
  for (int k = 0; k < r.site_count; k++) {
    const char* file = r.longest[k].file;
    const char* slash = strrchr(file, '/');
    printf(" %.0f us %s:%u;", double(r.longest[k].longest_ns) / 1e3,
           slash != nullptr ? slash + 1 : file, r.longest[k].line);
  }
  printf("\n");
}

// The batched work on many blocks alone (no other thread): its holds of the engine lock, the
// longest of each repetition, the least of those (the one least disturbed by the machine's other
// work) and the most.
void measure_batches() {
  struct Work {
    const char* name;
    void (*run)();
  };
  const Work works[] = {
      {"fill 2000 blocks",
       [] { fill_block_refs(std::span(track_blocks[reload_track], size_t(reload_blocks))); }},
      {"release 2000 blocks", [] { release_track_blocks(reload_track); }},
      {"undo: 4 full copies",
       [] {
         for (int i = 0; i < 4; i++) undo_save(tracks[undo_track], undo_track, undo_full_copy);
       }},
      {"undo clear", [] { undo_clear(undo_track); }},
  };
  constexpr int repetitions = 7;
  printf("Batched work alone, engine lock holds (%d repetitions): count, longest hold least/most\n",
         repetitions);
  int64_t least[std::size(works)], most[std::size(works)];
  uint32_t holds[std::size(works)] = {};
  std::fill(std::begin(least), std::end(least), INT64_MAX);
  std::fill(std::begin(most), std::end(most), 0);
  for (int r = 0; r < repetitions; r++) {
    for (size_t w = 0; w < std::size(works); w++) {
      LockReport report;
      lock_statistics_take(report);
      works[w].run();
      lock_statistics_take(report);
      int64_t longest = report.unplaced_longest_ns;
      for (int k = 0; k < report.site_count; k++)
        longest = std::max(longest, report.longest[k].longest_ns);
      least[w] = std::min(least[w], longest);
      most[w] = std::max(most[w], longest);
      holds[w] = report.holds;
    }
  }
  for (size_t w = 0; w < std::size(works); w++)
    printf("  %-22s %5u holds, longest %6.1f us / %6.1f us\n", works[w].name, holds[w],
           double(least[w]) / 1e3, double(most[w]) / 1e3);
}

}  // namespace

int main(int argc, char** argv) {
  int64_t seconds = argc > 1 ? atoll(argv[1]) : 8;
  if (seconds <= 0) seconds = 8;
  char scratch[] = "./zt4stress.XXXXXX";
  if (mkdtemp(scratch) == nullptr || chdir(scratch) != 0) {
    fprintf(stderr, "rt_stress: no scratch directory: %s\n", strerror(errno));
    return 1;
  }
  if (mlockall(MCL_CURRENT | MCL_FUTURE) != 0)
    printf("rt_stress: memory not locked (%s): page faults may show\n", strerror(errno));
  pool_init();
  pool_make_resident();
  looper_reset();
  config_defaults();
  storage_init();
  mkdir("sess0", 0755);
  for (int i = 0; i < input_frames; i++) {
    const double s = std::sin(2.0 * M_PI * 440.0 * i / 48000.0);
    audio_run.in[0][i] = int32_t(4000000.0 * s) + 1000;
    audio_run.in[1][i] = int32_t(3000000.0 * s) - 1000;
  }
  for (int n = 0; n < track_count; n++)
    if (n != stretch_destination && n != reload_track) give_loop(n, n == undo_track ? 150 : 12 + n);

  measure_batches();

  std::vector<std::thread> hostile;
  hostile.emplace_back(back_to_back_locker);
  hostile.emplace_back(main_loop_role);
  hostile.emplace_back(status_reader);
  hostile.emplace_back(status_reader);
  hostile.emplace_back(waveform_reader);
  hostile.emplace_back(storage_role);

  printf(
      "rt_stress: %lld s per run. Callback time as a share of the period: wall (all of it),\n"
      "run (the audio thread's CPU time less its lock waits), lock wait (wall, at the start\n"
      "and in hand-overs), hand-over (wall, in hand-overs), turns (hand-overs in one period);\n"
      "wall less run is lock wait plus preemption by the machine's other work. A virtual\n"
      "machine whose host reports no stolen time counts the host's preemption as the thread's\n"
      "CPU time, and so in run: work (wall, the runs of frames alone) is the longest of the\n"
      "periods none of whose runs of %d frames took over %lld us, and int the periods one did\n",
      (long long)seconds, engine_run_frames, (long long)(interrupted_run_ns / 1000));
  if (FILE* stat = fopen("/proc/stat", "r")) {
    unsigned long long v[8] = {};
    if (fscanf(stat, "cpu %llu %llu %llu %llu %llu %llu %llu %llu", &v[0], &v[1], &v[2], &v[3],
               &v[4], &v[5], &v[6], &v[7]) == 8 &&
        v[7] == 0)
      printf("(this machine reports no stolen time: run includes the host's preemption)\n");
    fclose(stat);
  }
  printf("%-6s %-10s %9s %9s %9s %9s %9s %9s %6s %9s %6s\n", "period", "design", "wall max",
         "wall 99.9", "run max", "run 99.9", "wait max", "hand max", "turns", "work max", "int");
  for (const uint32_t frames : {64u, 256u}) {
    // The quiet reference (no hostile thread), then each design under the hostile load.
    for (const int32_t budget :
         {hand_over_budget_default - 1000, hand_over_unbounded, hand_over_budget_default}) {
      const bool quiet = budget < hand_over_unbounded;
      paused = quiet;
      engine_hand_over_budget.store(quiet ? hand_over_budget_default : budget);
      AudioRun& r = audio_run;
      r.frames = frames;
      const int64_t period_ns = int64_t(frames) * 1000000000 / frames_per_second;
      // The quiet run starts once every hostile thread has finished what it was doing; frames
      // keep running meanwhile, for a thread that waits for the engine (a stop's fade).
      for (uint32_t at = 0; quiet && parked.load() < int(hostile.size());) {
        run_period(frames, period_ns, at);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
      r.figures.assign(size_t(seconds * 1000000000 / period_ns), PeriodFigures{});
      LockReport cleared;
      lock_statistics_take(cleared);
      run_audio_thread();
      const Summary s = summarise(r.figures, period_ns);
      char design[32];
      if (quiet) {
        snprintf(design, sizeof design, "quiet");
      } else if (budget < 0) {
        snprintf(design, sizeof design, "unbounded");
      } else {
        snprintf(design, sizeof design, "budget %d%%", int(budget));
      }
      printf("%-6u %-10s %8.1f%% %8.1f%% %8.1f%% %8.1f%% %8.1f%% %8.1f%% %6.0f %8.1f%% %6zu\n",
             frames, design, s.wall_max, s.wall_p999, s.run_max, s.run_p999, s.wait_max,
             s.hand_over_max, s.turns_max, s.work_max, s.interrupted);
      print_lock_sites();
      fflush(stdout);
    }
  }
  stopping = true;
  paused = false;
  for (std::thread& t : hostile) t.join();
  if (chdir("..") == 0) std::filesystem::remove_all(scratch);
  return 0;
}
