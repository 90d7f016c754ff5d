#include "core/lock_statistics.h"

#include <time.h>

#include "core/lock.h"

LockStatistics lock_statistics;

namespace {
// A site is its source location: the file name's address and the line identify it.
uint32_t site_hash(const char* file, uint32_t line) {
  const auto address = uint32_t(reinterpret_cast<uintptr_t>(file) >> 3);
  return (address * 2654435761u) ^ (line * 40503u);
}
}  // namespace

void lock_statistics_reset() {
  LockStatistics& s = lock_statistics;
  pthread_mutex_lock(engine_mutex());
  for (LockSite& site : s.sites) site = LockSite{};
  s.unplaced_holds = 0;
  s.unplaced_longest_ns = 0;
  pthread_mutex_unlock(engine_mutex());
  s.callback_longest_ns = 0;
  s.callback_frames = 0;
  s.callbacks = 0;
  s.callback_busy_ns = 0;
  s.callback_frames_total = 0;
}

void lock_statistics_record(const CallSite& where, int64_t held_ns) {
  LockStatistics& s = lock_statistics;
  const char* file = where.file_name();
  const uint32_t line = where.line();
  uint32_t slot = site_hash(file, line) % lock_site_slots;
  for (int probe = 0; probe < lock_site_slots; ++probe, slot = (slot + 1) % lock_site_slots) {
    LockSite& site = s.sites[slot];
    if (site.file == nullptr) {
      site.file = file;
      site.function = where.function_name();
      site.line = line;
    } else if (site.file != file || site.line != line) {
      continue;
    }
    site.holds++;
    if (held_ns > site.longest_ns) site.longest_ns = held_ns;
    return;
  }
  s.unplaced_holds++;
  if (held_ns > s.unplaced_longest_ns) s.unplaced_longest_ns = held_ns;
}

void lock_statistics_callback(int64_t took_ns, uint32_t frames) {
  LockStatistics& s = lock_statistics;
  s.callbacks.store(s.callbacks.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
  int64_t longest = s.callback_longest_ns.load(std::memory_order_relaxed);
  // The report may clear the figure meanwhile; the exchange never waits.
  while (took_ns > longest && !s.callback_longest_ns.compare_exchange_weak(
                                  longest, took_ns, std::memory_order_relaxed)) {}
  if (took_ns >= longest) s.callback_frames.store(frames, std::memory_order_relaxed);
  s.callback_busy_ns.fetch_add(took_ns, std::memory_order_relaxed);
  s.callback_frames_total.fetch_add(frames, std::memory_order_relaxed);
}

int64_t lock_clock_ns() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return int64_t(now.tv_sec) * 1000000000 + now.tv_nsec;
}

void lock_statistics_take(LockReport& out) {
  LockStatistics& s = lock_statistics;
  out = LockReport{};
  out.callback_longest_ns = s.callback_longest_ns.exchange(0);
  out.callback_frames = s.callback_frames.load();
  out.callbacks = s.callbacks.exchange(0);
  s.callback_busy_ns.exchange(0);
  s.callback_frames_total.exchange(0);
  out.xruns = s.xruns.load();
  // The mutex itself: this copy is not one of the holds it reports.
  pthread_mutex_lock(engine_mutex());
  out.holds = s.unplaced_holds;
  for (LockSite& site : s.sites) {
    if (site.file == nullptr) continue;
    out.holds += site.holds;
    // Insertion into the short list, longest first.
    int at = out.site_count;
    while (at > 0 && out.longest[at - 1].longest_ns < site.longest_ns) {
      if (at < lock_report_sites) out.longest[at] = out.longest[at - 1];
      --at;
    }
    if (at < lock_report_sites) {
      out.longest[at] = site;
      if (out.site_count < lock_report_sites) ++out.site_count;
    }
    site = LockSite{};
  }
  out.unplaced_longest_ns = s.unplaced_longest_ns;
  s.unplaced_holds = 0;
  s.unplaced_longest_ns = 0;
  pthread_mutex_unlock(engine_mutex());
}
