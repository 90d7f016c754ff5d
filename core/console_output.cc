#include "core/console_output.h"

#include <errno.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/log_ring.h"

ConsoleOutput console_output;

namespace {

constexpr uint32_t buffer_mask = console_buffer_size - 1;
static_assert((console_buffer_size & buffer_mask) == 0, "the buffer wraps by masking");
constexpr long idle_wait_ns = 200000000;  // the output thread looks again at least every 0.2 s
constexpr long flush_poll_ns = 5000000;   // 5 ms between looks while flushing
constexpr double exit_flush_seconds = 1;
constexpr int notice_max = 64;

uint32_t waiting(const ConsoleOutput& o) {
  return o.write_count.load(std::memory_order_acquire) -
         o.read_count.load(std::memory_order_acquire);
}

// Caller holds console_log.mutex (the one appender at a time).
void append(ConsoleOutput& o, const char* text, uint32_t length) {
  uint32_t at = o.write_count.load(std::memory_order_relaxed);
  for (uint32_t i = 0; i < length; i++) o.bytes[(at + i) & buffer_mask] = text[i];
  o.write_count.store(at + length, std::memory_order_release);
}

uint32_t lines_in(const char* text, uint32_t length) {
  uint32_t lines = 0;
  for (uint32_t i = 0; i < length; i++)
    if (text[i] == '\n') lines++;
  return lines > 0 ? lines : 1;  // a piece of a line counts as one
}

// Caller holds console_log.mutex. Appends the notice of the lines dropped, when `extra` more
// bytes fit after it. Returns false when it did not fit (the count stays).
bool append_notice(ConsoleOutput& o, uint32_t extra) {
  const uint32_t dropped = o.dropped_lines.load(std::memory_order_relaxed);
  if (dropped == 0) return true;
  char notice[notice_max];
  const int n = snprintf(notice, sizeof notice, "%u lines of console output dropped\r\n", dropped);
  if (waiting(o) + uint32_t(n) + extra > console_buffer_size) return false;
  append(o, notice, uint32_t(n));
  o.dropped_lines.store(0, std::memory_order_relaxed);
  return true;
}

void wake_writer(ConsoleOutput& o) {
  pthread_mutex_lock(&o.wake_mutex);
  pthread_cond_signal(&o.wake);
  pthread_mutex_unlock(&o.wake_mutex);
}

void wait_for_text(ConsoleOutput& o) {
  pthread_mutex_lock(&o.wake_mutex);
  if (waiting(o) == 0) {
    const timespec deadline = deadline_after(idle_wait_ns);
    pthread_cond_timedwait(&o.wake, &o.wake_mutex, &deadline);
  }
  pthread_mutex_unlock(&o.wake_mutex);
}

void* output_thread(void*) {
  ConsoleOutput& o = console_output;
  while (o.running.load()) {
    wait_for_text(o);
    const uint32_t read = o.read_count.load(std::memory_order_relaxed);
    const uint32_t pending = waiting(o);
    if (pending == 0) {
      // Output flows again: say how much was lost, where it was lost.
      if (o.dropped_lines.load(std::memory_order_relaxed) != 0) {
        std::lock_guard<std::mutex> hold(console_log.mutex);
        append_notice(o, 0);
      }
      continue;
    }
    const uint32_t start = read & buffer_mask;
    const uint32_t run =
        pending < console_buffer_size - start ? pending : console_buffer_size - start;
    const ssize_t n = write(o.fd, o.bytes + start, run);
    if (n > 0) {
      o.read_count.store(read + uint32_t(n), std::memory_order_release);
    } else if (n < 0 && errno != EINTR && errno != EAGAIN) {
      // Nowhere to write (the reader went away): what waits is lost.
      o.read_count.store(read + pending, std::memory_order_release);
    }
  }
  return nullptr;
}

double monotonic_seconds() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return double(now.tv_sec) + double(now.tv_nsec) * 1e-9;
}

void flush_at_exit() { console_output_flush(exit_flush_seconds); }

}  // namespace

void console_output_start(int fd) {
  ConsoleOutput& o = console_output;
  if (o.running.load()) return;
  std::fflush(stdout);
  o.fd = fd;
  o.running = true;
  if (pthread_create(&o.thread, nullptr, output_thread, nullptr) != 0) {
    o.running = false;  // no thread: output goes straight out, as before start-up
    return;
  }
  atexit(flush_at_exit);
}

void console_output_put(const char* text, uint32_t length) {
  ConsoleOutput& o = console_output;
  if (length == 0) return;
  if (!o.running.load(std::memory_order_relaxed)) {
    std::fwrite(text, 1, length, stdout);
    std::fflush(stdout);
    return;
  }
  if (!append_notice(o, length) || waiting(o) + length > console_buffer_size) {
    const uint32_t lines = lines_in(text, length);
    o.dropped_lines.fetch_add(lines, std::memory_order_relaxed);
    o.dropped_total.fetch_add(lines, std::memory_order_relaxed);
    return;
  }
  append(o, text, length);
  wake_writer(o);
}

void console_output_stage(char c) {
  ConsoleOutput& o = console_output;
  if (o.staged == console_piece_max) console_output_commit();
  o.staging[o.staged++] = c;
}

void console_output_commit() {
  ConsoleOutput& o = console_output;
  console_output_put(o.staging, o.staged);
  o.staged = 0;
}

bool console_output_flush(double seconds) {
  ConsoleOutput& o = console_output;
  if (!o.running.load()) {
    std::fflush(stdout);
    return true;
  }
  const double deadline = monotonic_seconds() + seconds;
  while (waiting(o) != 0) {
    if (monotonic_seconds() >= deadline) return false;
    wake_writer(o);
    const timespec pause{0, flush_poll_ns};
    nanosleep(&pause, nullptr);
  }
  return true;
}

void console_output_reset() {
  ConsoleOutput& o = console_output;
  if (o.running.exchange(false)) {
    wake_writer(o);
    pthread_join(o.thread, nullptr);
  }
  o.write_count = 0;
  o.read_count = 0;
  o.dropped_lines = 0;
  o.dropped_total = 0;
  o.staged = 0;
  o.fd = 1;
}
