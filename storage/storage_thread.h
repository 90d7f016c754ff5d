// The storage thread: the one worker that writes files. It holds storage_mutex except while it
// waits on storage_cond (one second at most); the main and network threads hand it work with a
// try-lock, so they never block on it.
#pragma once

#include <pthread.h>

#include <atomic>
#include <cstdint>

#include "config/config.h"
#include "core/atomic_file.h"

struct StorageThread {
  pthread_mutex_t storage_mutex = PTHREAD_MUTEX_INITIALIZER;
  pthread_cond_t storage_cond;  // on the monotonic clock; set up by storage_init
  bool cond_ready = false;
  pthread_t thread{};
  bool running = false;
  std::atomic<int> stop_requested{0};  // tests only: the thread otherwise never ends
  std::atomic<uint32_t> passes{0};     // completed passes of the loop

  // Pending configuration write (guarded by storage_mutex). The record is copied here at the
  // hand-over, so a field changed meanwhile cannot tear the bytes being written.
  int config_write_length = 0;  // 0: nothing pending
  uint8_t config_write_data[config_size];
  FileWriteFn config_write_fn = nullptr;  // null: write(2); tests inject failures
};

extern StorageThread storage;

// Sets up the condition variable and clears every request. Not while the thread runs.
void storage_init();

// Start-up: starts the storage thread (the session-file writer). A thread that cannot be created
// ends the program with status 1, as every start-up failure does.
void storage_start();

// Hands a configuration record of length bytes to the storage thread: copies it and signals, only
// when no write is pending and storage_mutex is free. Returns 0 when handed over, -1 when busy.
int request_config_write(const void* data, int length);

// One pass of the thread's loop, with storage_mutex held by the caller.
void storage_pass();

// Tests: asks the thread to end, wakes it and joins it.
void storage_stop_for_test();
