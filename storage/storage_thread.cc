#include "storage/storage_thread.h"

#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/console.h"
#include "core/deadline.h"
#include "engine/track_ops.h"
#include "storage/mixer_file.h"
#include "storage/sessions.h"
#include "storage/track_loader.h"
#include "storage/track_save.h"

StorageThread storage;
StorageHooks storage_hooks;

namespace {

constexpr char empty_name[] = "(empty)";
constexpr int32_t percent_done = 100;
constexpr int32_t percent_running_max = 99;

// Writes the pending configuration record, then clears the request. A file that cannot be
// written leaves the previous file intact; the failure is reported and the next save tries again.
void serve_config_write(StorageThread& s) {
  if (s.config_write_length == 0) return;
  const int result = write_file_atomically(config_file_name, s.config_write_data,
                                           s.config_write_length, s.config_write_fn);
  config_write_result(result == 0 ? 0 : errno);
  s.config_write_length = 0;
}

// Deletes the files of the tracks erased since the last pass.
void serve_forgets(StorageThread& s) {
  const uint32_t mask = s.forget_mask.exchange(0);
  for (int32_t t = 0; t < track_count; t++) {
    if (!(mask & (1u << t))) continue;
    char name[track_name_max];
    track_file_name(name, t, config.track_file_set);
    if (unlink(name) == 0) sync_directory_of(name);
    set_track_name(s, t, empty_name);
  }
}

void report_names(StorageThread& s) {
  const uint32_t changed = s.name_changed.exchange(0);
  for (int32_t t = 0; t < track_count; t++) {
    if (!(changed & (1u << t))) continue;
    if (storage_hooks.report_track_name != nullptr)
      storage_hooks.report_track_name(t, s.track_names[t]);
  }
}

// Serves the load that a requester handed over.
void serve_load_request(StorageThread& s) {
  if (s.load_requested.load(std::memory_order_acquire) == 0) return;
  s.load_requested = 0;
  load_into_track(s, s.load_track, s.load_slot, s.load_raw_path);
  s.load_busy.store(0, std::memory_order_release);
}

void* storage_thread(void*) {
  StorageThread& s = storage;
  pthread_mutex_lock(&s.storage_mutex);
  storage_startup();
  while (!s.stop_requested.load()) {
    storage_pass();
    s.passes.fetch_add(1);
    if (s.stop_requested.load()) break;
    // At least one pass a second even when nobody signals.
    const timespec deadline = deadline_after(1000000000);
    pthread_cond_timedwait(&s.storage_cond, &s.storage_mutex, &deadline);
  }
  pthread_mutex_unlock(&s.storage_mutex);
  return nullptr;
}

bool claim_load(StorageThread& s) {
  int32_t idle = 0;
  return s.load_busy.compare_exchange_strong(idle, 1, std::memory_order_acquire);
}

void hand_load_over(StorageThread& s, int32_t t, int32_t slot) {
  s.load_track = t;
  s.load_slot = slot;
  s.load_status = load_ok;
  s.load_progress = 0;
  s.load_requested.store(1, std::memory_order_release);
  storage_wake();
}

}  // namespace

void set_track_name(StorageThread& s, int32_t t, const char* name) {
  if (strcmp(s.track_names[t], name) == 0) return;
  snprintf(s.track_names[t], sizeof s.track_names[t], "%s", name);
  s.name_changed.fetch_or(1u << t);
}

void storage_init() {
  StorageThread& s = storage;
  if (s.cond_ready) pthread_cond_destroy(&s.storage_cond);
  cond_init_monotonic(s.storage_cond);
  s.cond_ready = true;
  s.running = false;
  s.stop_requested = 0;
  s.passes = 0;
  s.config_write_length = 0;
  s.config_write_fn = nullptr;

  s.load_busy = 0;
  s.load_requested = 0;
  s.load_track = 0;
  s.load_slot = 0;
  s.load_raw_path[0] = '\0';
  s.load_status = load_ok;
  s.load_progress = 0;
  s.loading_track = -1;
  s.attach_state = attach_idle;
  s.attach_block_count = 0;

  for (int32_t t = 0; t < track_count; t++)
    snprintf(s.track_names[t], sizeof s.track_names[t], "%s", empty_name);
  s.name_changed = 0;
  s.forget_mask = 0;

  s.save_track = -1;
  s.save_slot = -1;
  s.save_pending = 0;
  s.save_result = 0;
  s.save_blocks = 1;
  s.save_blocks_done = 0;
  s.last_saved_track = track_count - 1;
  s.unsaved = 0;
  s.retry_at_once = 0;
  for (int32_t t = 0; t < track_count; t++) {
    s.save_error[t] = 0;
    s.retry_at_ms[t] = 0;
    s.retry_delay_ms[t] = 0;
    s.retry_room_bytes[t] = 0;
  }

  s.archive_off = 0;
  s.session_number = 0;
  for (int32_t& counter : s.take_counter) counter = 0;
  s.last_save_time = 0;

  s.track_write_fn = nullptr;
  s.free_bytes_fn = nullptr;
  s.clock_ms_fn = nullptr;
  s.wait_for_main_loop = nullptr;
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

void storage_wake() {
  StorageThread& s = storage;
  if (pthread_mutex_trylock(&s.storage_mutex) != 0) return;
  pthread_cond_signal(&s.storage_cond);
  pthread_mutex_unlock(&s.storage_mutex);
}

void storage_startup() {
  StorageThread& s = storage;
  // Every track is reported at start-up, named or not.
  s.name_changed = (1u << track_count) - 1;
  for (int32_t t = 0; t < track_count; t++) {
    // A remote load that came first is served first; its requester fills the fields at once.
    while (!claim_load(s)) serve_load_request(s);
    s.load_track = t;
    s.load_slot = 0;
    s.load_raw_path[0] = '\0';
    load_into_track(s, t, 0, "");
    s.load_busy.store(0, std::memory_order_release);
  }
  sessions_start(s);
}

void storage_pass() {
  StorageThread& s = storage;
  serve_forgets(s);
  save_one_track(s);
  serve_load_request(s);
  report_names(s);
  serve_config_write(s);
  mixer_write_pending();
}

int request_load(int32_t t, int32_t slot) {
  StorageThread& s = storage;
  if (!valid_track_index(t) || slot < 0) return status_refused;
  if (!claim_load(s)) {
    console_printf("Busy, can't load\n");
    return status_busy;
  }
  s.load_raw_path[0] = '\0';
  hand_load_over(s, t, slot);
  return 0;
}

int request_take_load(int32_t session, int32_t track_number, int32_t take, int32_t destination) {
  StorageThread& s = storage;
  char path[track_name_max];
  if (!valid_track_index(destination) || !take_file_name(path, session, track_number, take))
    return status_refused;
  if (!claim_load(s)) return status_busy;
  memcpy(s.load_raw_path, path, sizeof path);
  hand_load_over(s, destination, 0);
  return 0;
}

int32_t load_result() {
  const StorageThread& s = storage;
  if (s.load_busy.load(std::memory_order_acquire) != 0) {
    const int32_t progress = s.load_progress;
    return progress < percent_running_max ? progress : percent_running_max;
  }
  const int32_t status = s.load_status;
  return status != load_ok ? -status : percent_done;
}

int request_save(int32_t t, int32_t slot) {
  StorageThread& s = storage;
  // One request at a time: a second would overwrite the first, and its result would answer both.
  int32_t idle = 0;
  if (!s.save_pending.compare_exchange_strong(idle, save_claimed, std::memory_order_acquire)) {
    console_printf("Busy, can't save\n");
    return status_busy;
  }
  s.save_slot = slot;
  s.save_track = t;
  s.save_result = 0;
  s.save_blocks = 1;
  s.save_blocks_done = 0;
  s.save_pending.store(save_ready, std::memory_order_release);
  storage_wake();
  return 0;
}

int32_t save_state() {
  const StorageThread& s = storage;
  return s.save_pending.load(std::memory_order_acquire) != 0 ? -1 : s.save_result.load();
}

int32_t save_percent() {
  const StorageThread& s = storage;
  const int32_t blocks = s.save_blocks;
  return blocks > 0 ? s.save_blocks_done * percent_done / blocks : 0;
}

uint32_t unsaved_tracks() {
  const uint32_t unsaved = storage.unsaved.load();
  uint32_t holding = 0;
  for (int32_t t = 0; t < track_count; t++)
    if ((unsaved & (1u << t)) && tracks[t].length != 0) holding |= 1u << t;
  return holding;
}

void storage_retry_at_once() {
  storage.retry_at_once = 1;
  storage_wake();
}

void forget_track_file(int32_t t) {
  StorageThread& s = storage;
  if (!valid_track_index(t) || s.loading_track.load() == t) return;
  s.forget_mask.fetch_or(1u << t);
  storage_wake();
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
