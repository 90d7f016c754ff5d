#include "storage/storage_thread.h"

#include <time.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

StorageThread storage;

namespace {

// Writes the pending configuration record, then clears the request. A file that cannot be
// written leaves the previous file intact; the failure is reported and the next save tries again.
void serve_config_write(StorageThread& s) {
  if (s.config_write_length == 0) return;
  const int result = write_file_atomically(config_file_name, s.config_write_data,
                                           s.config_write_length, s.config_write_fn);
  config_write_result(result == 0 ? 0 : errno);
  s.config_write_length = 0;
}

void* storage_thread(void*) {
  StorageThread& s = storage;
  pthread_mutex_lock(&s.storage_mutex);
  while (!s.stop_requested.load()) {
    storage_pass();
    s.passes.fetch_add(1);
    if (s.stop_requested.load()) break;
    timespec deadline;
    clock_gettime(CLOCK_MONOTONIC, &deadline);
    deadline.tv_sec += 1;  // at least one pass a second even when nobody signals
    pthread_cond_timedwait(&s.storage_cond, &s.storage_mutex, &deadline);
  }
  pthread_mutex_unlock(&s.storage_mutex);
  return nullptr;
}

}  // namespace

void storage_init() {
  StorageThread& s = storage;
  if (s.cond_ready) pthread_cond_destroy(&s.storage_cond);
  pthread_condattr_t attr;
  pthread_condattr_init(&attr);
  pthread_condattr_setclock(&attr, CLOCK_MONOTONIC);
  pthread_cond_init(&s.storage_cond, &attr);
  pthread_condattr_destroy(&attr);
  s.cond_ready = true;
  s.running = false;
  s.stop_requested = 0;
  s.passes = 0;
  s.config_write_length = 0;
  s.config_write_fn = nullptr;
  config_hooks.write = request_config_write;
}

void storage_start() {
  StorageThread& s = storage;
  storage_init();
  if (pthread_create(&s.thread, nullptr, storage_thread, nullptr) != 0) {
    fprintf(stderr, "cannot start the storage thread\n");
    exit(1);
  }
  s.running = true;
}

int request_config_write(const void* data, int length) {
  StorageThread& s = storage;
  if (length <= 0 || length > config_size) return -1;
  if (pthread_mutex_trylock(&s.storage_mutex) != 0) return -1;
  int result = -1;
  if (s.config_write_length == 0) {
    memcpy(s.config_write_data, data, size_t(length));
    s.config_write_length = length;
    pthread_cond_signal(&s.storage_cond);
    result = 0;
  }
  pthread_mutex_unlock(&s.storage_mutex);
  return result;
}

void storage_pass() {
  // Track saving, loading and name reports join this pass ahead of the configuration write.
  serve_config_write(storage);
}

void storage_stop_for_test() {
  StorageThread& s = storage;
  if (!s.running) return;
  s.stop_requested = 1;
  pthread_mutex_lock(&s.storage_mutex);
  pthread_cond_signal(&s.storage_cond);
  pthread_mutex_unlock(&s.storage_mutex);
  pthread_join(s.thread, nullptr);
  s.running = false;
}
