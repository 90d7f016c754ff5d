// Standard output through a thread of its own. Console text goes into a bounded buffer that the
// output thread writes out, so a reader that stalls (a pipe nobody reads, a stuck terminal) never
// blocks a thread of the looper. While the buffer is full, whole pieces of text are dropped and
// their lines counted; once output flows again "N lines of console output dropped" is written
// where they were. Printing threads append under console_log.mutex; the output thread alone
// writes the descriptor. Until the thread is started, text goes straight to standard output.
#pragma once

#include <pthread.h>

#include <atomic>
#include <cstdint>

#include "core/deadline.h"

constexpr uint32_t console_buffer_size = 65536;  // bytes waiting for standard output
constexpr uint32_t console_piece_max = 1024;     // a longer piece of text is queued in parts

struct ConsoleOutput {
  char bytes[console_buffer_size];
  // Free-running byte counts; the buffer holds write_count - read_count bytes.
  std::atomic<uint32_t> write_count{0};    // advanced by printers (under console_log.mutex)
  std::atomic<uint32_t> read_count{0};     // advanced by the output thread
  std::atomic<uint32_t> dropped_lines{0};  // dropped since the last notice
  std::atomic<uint32_t> dropped_total{0};  // dropped since start-up
  std::atomic<bool> running{false};
  char staging[console_piece_max];  // the piece being printed (under console_log.mutex)
  uint32_t staged = 0;
  int fd = 1;
  pthread_t thread{};
  pthread_mutex_t wake_mutex = PTHREAD_MUTEX_INITIALIZER;  // never held across a write
  pthread_cond_t wake;                                     // timed on the monotonic clock
  ConsoleOutput() { cond_init_monotonic(wake); }
};

extern ConsoleOutput console_output;

// Start-up, first of all: the output thread takes over descriptor fd (standard output). Exiting
// through exit() then waits a second at most for the buffer to be written.
void console_output_start(int fd = 1);

// Caller holds console_log.mutex: queues one piece of console text (a whole console_printf), or
// writes it straight out when the thread does not run.
void console_output_put(const char* text, uint32_t length);
// Caller holds console_log.mutex: one character of the piece being printed, and the end of the
// piece, which then goes to console_output_put whole.
void console_output_stage(char c);
void console_output_commit();

// Waits until everything queued has been written or `seconds` have passed; true when written.
bool console_output_flush(double seconds);

// Tests: the thread (if any) stopped, the buffer empty, output straight to standard output.
void console_output_reset();
