// The storage thread: the one worker that reads and writes track files, archives takes, keeps
// the session counter, reports track file names to the host and writes the configuration. It
// holds storage_mutex except while it waits on storage_cond (one second at most); the main and
// network threads hand it work with atomics and a try-lock signal, so they never block on it.
#pragma once

#include <pthread.h>
#include <sys/types.h>

#include <atomic>
#include <cstdint>

#include "config/config.h"
#include "core/atomic_file.h"
#include "core/constants.h"
#include "engine/track_load.h"
#include "pool/pool.h"
#include "storage/track_file.h"

// The save's writes: pwrite(2), or a test's stand-in.
using TrackWriteFn = ssize_t (*)(int fd, const void* data, size_t length, off_t offset);

// save_pending: no explicit save, a requester filling one in, one waiting for the thread.
constexpr int32_t save_claimed = 2;
constexpr int32_t save_ready = 1;

// Where a loaded track is on its way to the engine. The storage thread reads the file into pool
// blocks of its own; the main loop (the one thread that changes tracks) attaches them.
enum AttachState : int32_t {
  attach_idle = 0,
  attach_waiting = 1,   // blocks read, waiting for the main loop
  attach_underway = 2,  // the main loop is attaching them
  attach_finished = 3,  // attach_status says how it went
};

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

  // Load request. A requester claims load_busy (0 -> 1), fills the fields, then sets
  // load_requested; the thread clears load_busy when the load has ended.
  std::atomic<int32_t> load_busy{0};
  std::atomic<int32_t> load_requested{0};
  int32_t load_track = 0;                   // 0-7
  int32_t load_slot = 0;                    // save slot, 0 = the track's own file
  char load_raw_path[track_name_max] = {};  // an archived take, empty = none
  std::atomic<int32_t> load_status{0};      // LoadStatus
  std::atomic<int32_t> load_progress{0};    // percent of the file read
  std::atomic<int32_t> loading_track{-1};   // the track a load is filling now, -1 = none

  // The loaded track handed to the main loop.
  std::atomic<int32_t> attach_state{attach_idle};
  int32_t attach_track = 0;
  int32_t attach_block_count = 0;
  int32_t attach_length = 0;  // frames
  TrackFileWords attach_words{};
  bool attach_changed = false;  // a slot or take: differs from the track's own file
  int32_t attach_status = 0;    // LoadStatus
  int32_t* attach_blocks[pool_blocks];

  // Track names: the file each track was last saved to or loaded from. The thread alone writes
  // them; name_changed (bit t) asks it to report track t's name to the host.
  char track_names[track_count][track_name_max];
  std::atomic<uint32_t> name_changed{0};
  std::atomic<uint32_t> forget_mask{0};  // bit t: track t was erased, its file goes

  // Explicit save ("Save Audio"): one at a time. A requester claims save_pending (0 -> 2), fills
  // the fields and then sets it to 1; the thread serves it and clears it with the result.
  std::atomic<int32_t> save_track{-1};
  std::atomic<int32_t> save_slot{-1};
  std::atomic<int32_t> save_pending{0};
  std::atomic<int32_t> save_result{0};  // 0 success, 1 failed
  std::atomic<int32_t> save_blocks{1};
  std::atomic<int32_t> save_blocks_done{0};
  int32_t last_saved_track = track_count - 1;  // the cyclic search starts after it

  // Automatic saves that failed (a full disk, say). Bit t of unsaved: track t's file holds an
  // older loop than the track. Such a track is saved again after a back-off of 1 s doubling to
  // 30 s, at once when it changes or when the disk has room for it again, and on every pass while
  // retry_at_once is set (quitting). The thread alone writes them; save_error holds the errno of
  // the track's last failed save.
  std::atomic<uint32_t> unsaved{0};
  std::atomic<int32_t> save_error[track_count] = {};
  std::atomic<int32_t> retry_at_once{0};
  int64_t retry_at_ms[track_count] = {};  // monotonic
  int64_t retry_delay_ms[track_count] = {};
  int64_t retry_room_bytes[track_count] = {};  // free space that brings the try forward; 0: none

  // Archive.
  int32_t archive_off = 0;  // set once when free space ran low; archiving stays off
  int32_t session_number = 0;
  int32_t take_counter[track_count] = {};
  int64_t last_save_time = 0;  // real-time seconds of the last automatic save

  // Test seams.
  TrackWriteFn track_write_fn = nullptr;  // null: pwrite(2)
  int64_t (*free_bytes_fn)() = nullptr;   // null: statvfs(2) of the working directory
  int64_t (*clock_ms_fn)() = nullptr;     // null: the monotonic clock in milliseconds
  void (*wait_for_main_loop)() =
      nullptr;  // null: sleep on storage_cond while the main loop attaches
};

extern StorageThread storage;

// What the storage thread calls in the folders above it, installed at start-up (null: nothing).
struct StorageHooks {
  // Reports the name of track t (0-7) to the host: reply code 38.
  void (*report_track_name)(int32_t t, const char* name);
};
extern StorageHooks storage_hooks;

// Sets up the condition variable and clears every request and the archive state, names every
// track "(empty)", and installs the configuration writer and the erase hook. Not while the
// thread runs.
void storage_init();

// Start-up: starts the storage thread, which first loads the eight track files and opens the
// session. A thread that cannot be created ends the program with status 1.
void storage_start();

// Hands a configuration record of length bytes to the storage thread: copies it and signals, only
// when no write is pending and storage_mutex is free. Returns 0 when handed over, -1 when busy.
int request_config_write(const void* data, int length);

// Wakes the thread without waiting: try-lock, signal, unlock. A busy thread finds the request on
// its next pass.
void storage_wake();

// The start-up work of the thread, with storage_mutex held: the eight track files, then the
// session counter and directory.
void storage_startup();
// One pass of the thread's loop, with storage_mutex held by the caller: erased tracks' files,
// one changed track saved, a requested load, name reports, the configuration write.
void storage_pass();

// Loads track t (0-7) from its file (slot 0) or from save slot slot. Prints "Busy, can't load"
// and returns status_busy while another load runs; status_refused for a bad track; else 0.
int request_load(int32_t t, int32_t slot);
// Loads the archived take "sess<session>/tr<track_number>_<take>.raw" into track destination
// (0-7). Ignored (status_busy) while a load runs; status_refused for bad numbers; else 0.
int request_take_load(int32_t session, int32_t track_number, int32_t take, int32_t destination);
// While a load runs its progress (at most 99); afterwards -status when it failed, else 100.
int32_t load_result();

// Saves track t (0-7) into save slot slot (>= 1) on the thread's next pass: 0. While another
// explicit save is pending, prints "Busy, can't save" and returns status_busy.
int request_save(int32_t t, int32_t slot);
// -1 while the explicit save is pending, then 0 (saved) or 1 (failed).
int32_t save_state();
int32_t save_percent();

// Tracks (bit t) whose last automatic save failed and that still hold a loop. Any thread.
uint32_t unsaved_tracks();
// Quitting: failed saves are tried again on every pass, without the back-off. Any thread.
void storage_retry_at_once();

// Erase: the track's file is deleted and its name reported as "(empty)" on the thread's next
// pass, unless the thread is loading that very track. Main thread (through erase_track).
void forget_track_file(int32_t t);

// Main loop, every idle tick: attaches a loaded track that the storage thread handed over.
void storage_attach_service();

// Storage thread: names track t's file; a different name is reported to the host.
void set_track_name(StorageThread& s, int32_t t, const char* name);

// Tests: asks the thread to end, wakes it and joins it.
void storage_stop_for_test();
