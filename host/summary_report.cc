#include "host/summary_report.h"

#include "core/console.h"
#include "core/constants.h"
#include "core/lock.h"
#include "core/lock_statistics.h"
#include "engine/transport.h"
#include "pool/pool.h"
#include "storage/sessions.h"

SummaryHistory summary_history;

namespace {

constexpr int64_t ns_per_s = 1000000000;
constexpr int32_t seconds_shown_below = 120;  // longer times read in minutes
constexpr int64_t bytes_per_megabyte = 1 << 20;
constexpr int64_t take_bytes_per_second = int64_t(frames_per_second) * 8;  // stereo int32
constexpr int64_t megabytes_per_gigabyte = 1024;
constexpr int64_t gigabytes_shown_from = 10;  // below, megabytes say more
constexpr int64_t hours_shown_from = 2;

// "45 s" or "23 min".
void print_duration(int64_t seconds) {
  if (seconds < seconds_shown_below) {
    console_printf("%d s", int32_t(seconds));
  } else {
    console_printf("%d min", int32_t(seconds / 60));
  }
}

}  // namespace

void summary_reset() { summary_history = SummaryHistory{}; }

void summary_second_tick() {
  SummaryHistory& h = summary_history;
  h.xruns[h.next] = lock_statistics.xruns.load(std::memory_order_relaxed);
  h.next = (h.next + 1) % summary_window_s;
  if (h.ticks < summary_window_s) h.ticks++;
}

uint32_t xruns_in_last_minute(const SummaryHistory& h, uint32_t xruns) {
  // The oldest tick kept is a minute old once the window is full; before that, start-up is.
  const uint32_t then = h.ticks < summary_window_s ? 0 : h.xruns[h.next];
  return xruns - then;
}

void print_summary(const SummaryFigures& f) {
  console_printf("Looper health:\n");
  console_printf("  Dropouts (xruns): %d since start-up, %d in the last minute\n", int32_t(f.xruns),
                 int32_t(f.xruns_last_minute));
  if (f.frames == 0) {
    console_printf("  CPU: no audio processed since the last report\n");
  } else {
    // busy / (frames / 48000 s), in percent.
    const int64_t percent = f.busy_ns * frames_per_second * 100 / (int64_t(f.frames) * ns_per_s);
    console_printf("  CPU: %d%% of the audio time since the last report\n", int32_t(percent));
  }
  const int64_t free_seconds = int64_t(f.free_blocks) * block_frames / frames_per_second;
  console_printf("  Loop memory: ");
  print_duration(free_seconds);
  console_printf(" of audio free (%d of %d blocks)\n", f.free_blocks, pool_blocks);
  if (f.unsaved_mask == 0) {
    console_printf("  Unsaved tracks: none\n");
  } else {
    console_printf("  Unsaved tracks:");
    for (int t = 0; t < track_count; t++) {
      if ((f.unsaved_mask & (1u << t)) != 0) console_printf(" %d", t + 1);
    }
    console_printf(" (saved one a second while they do not record)\n");
  }
  if (f.free_megabytes == INT64_MAX) {
    console_printf("  Disk: free space unknown\n");
  } else if (f.free_megabytes < archive_min_megabytes) {
    console_printf("  Disk: %d MB free; below %d MB takes are no longer filed\n",
                   int32_t(f.free_megabytes), int32_t(archive_min_megabytes));
  } else {
    const int64_t seconds = f.free_megabytes * bytes_per_megabyte / take_bytes_per_second;
    if (f.free_megabytes >= gigabytes_shown_from * megabytes_per_gigabyte) {
      console_printf("  Disk: %d GB free for takes",
                     int32_t(f.free_megabytes / megabytes_per_gigabyte));
    } else {
      console_printf("  Disk: %d MB free for takes", int32_t(f.free_megabytes));
    }
    if (seconds / 3600 >= hours_shown_from) {
      console_printf(", about %d hours of audio\n", int32_t(seconds / 3600));
    } else {
      console_printf(", about %d minutes of audio\n", int32_t(seconds / 60));
    }
  }
}

void report_summary() {
  SummaryFigures f;
  f.xruns = lock_statistics.xruns.load(std::memory_order_relaxed);
  f.xruns_last_minute = xruns_in_last_minute(summary_history, f.xruns);
  f.busy_ns = lock_statistics.callback_busy_ns.load(std::memory_order_relaxed);
  f.frames = lock_statistics.callback_frames_total.load(std::memory_order_relaxed);
  {
    EngineLockGuard hold;  // two counts
    f.free_blocks = pool.free_count + pool.dirty_count;
  }
  TrackStatus status;
  track_status_snapshot(status);
  f.unsaved_mask = uint8_t(~status.saved_mask);
  f.free_megabytes = free_space_megabytes();
  print_summary(f);
}
