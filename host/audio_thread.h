// The JACK process thread as the rest of the looper sees it: its kernel thread id and its
// page-fault counts, read from /proc, which the "s" report prints. A fault in the process thread
// is a wait on the kernel in the middle of a period: locked memory and a resident block pool keep
// the count still. Every thread the JACK library creates notes its id as it starts (before it
// runs JACK's own code); the main thread then picks out the process thread.
#pragma once

#include <pthread.h>

#include <atomic>
#include <cstdint>

constexpr int jack_threads_max = 32;

struct AudioThread {
  pthread_t threads[jack_threads_max] = {};
  std::atomic<int32_t> tids[jack_threads_max] = {};  // 0 until the entry is complete
  std::atomic<int32_t> started{0};                   // entries taken
  pthread_t process_thread{};
  bool process_thread_known = false;  // main thread
};

extern AudioThread audio_thread;

// In a thread the JACK library created, as it starts: notes the thread and its kernel id.
void audio_thread_note_started();
// Main thread, after activation: the process thread (jack_client_thread_id).
void audio_thread_set_process_thread(pthread_t thread);
// The process thread's kernel id, 0 when unknown.
int32_t audio_thread_tid();

struct PageFaults {
  int64_t minor = -1;  // -1: unknown (no thread yet, or /proc unreadable)
  int64_t major = -1;
};
// Any thread but the audio thread: the process thread's fault counts so far.
PageFaults audio_thread_faults();
// Prints "Audio thread page faults: minor %d, major %d".
void report_audio_thread_faults();

// Tests: no thread known.
void audio_thread_reset();
