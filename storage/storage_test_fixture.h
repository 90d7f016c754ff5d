// Test fixture of the storage tests: a looper reset to its start-up state in a fresh working
// directory, the storage thread's passes run inline on the test thread (with the main loop's
// attach of a loaded track run inline while a load waits for it), name reports collected, and
// the free space of the file system chosen by the test.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "core/test_workdir.h"
#include "engine/looper_test_fixture.h"
#include "storage/sessions.h"
#include "storage/storage_thread.h"
#include "storage/track_file.h"

struct NameReport {
  int32_t track;
  std::string name;
};
inline std::vector<NameReport> name_reports;
inline int64_t test_free_megabytes = 1 << 20;

inline void record_name(int32_t t, const char* name) { name_reports.push_back({t, name}); }
inline int64_t test_free_space() { return test_free_megabytes << 20; }

class StorageTest : public LooperTest {
 protected:
  void SetUp() override {
    LooperTest::SetUp();
    install_seams();
    name_reports.clear();
    test_free_megabytes = 1 << 20;
    take_console_output();
  }

  // looper_reset() clears the seams with the rest of the storage record.
  static void install_seams() {
    storage.wait_for_main_loop = storage_attach_service;
    storage.free_bytes_fn = test_free_space;
    storage_hooks.report_track_name = record_name;
  }

  // The looper as it comes back after a restart: every record reset, the track files loaded,
  // one pass of the thread run.
  void restart() {
    looper_reset();
    config_defaults();
    for (int i = 0; i < clean_blocks; i++) pool_clean_one();
    engine_wait.run_frame = run_inline_frame;
    engine_wait.inline_frame_limit = wait_limit;
    install_seams();
    name_reports.clear();
    run_locked(storage_startup);
    pass();  // the thread's first pass reports the names
  }

  static void run_locked(void (*f)()) {
    pthread_mutex_lock(&storage.storage_mutex);
    f();
    pthread_mutex_unlock(&storage.storage_mutex);
  }
  static void pass() { run_locked(storage_pass); }

  // The last name reported for track t, or "" when none was.
  static std::string reported_name(int32_t t) {
    std::string name;
    for (const NameReport& r : name_reports)
      if (r.track == t) name = r.name;
    return name;
  }

  // Track t's loop as the file format stores it: left and right of every frame.
  static std::string loop_bytes(int32_t t) {
    std::string bytes;
    const int32_t length = tracks[t].length;
    for (int32_t f = 0; f < length; f++) {
      const int32_t* frame = track_blocks[t][f / block_frames] + 2 * (f % block_frames);
      bytes.append(reinterpret_cast<const char*>(frame), bytes_per_frame);
    }
    return bytes;
  }

  static std::string file(const std::string& name) { return read_whole_file(name.c_str()); }
  static bool exists(const std::string& name) { return access(name.c_str(), F_OK) == 0; }
  static void write(const std::string& name, const std::string& bytes) {
    write_whole_file(name.c_str(), bytes.data(), bytes.size());
  }

  // A track file for words and a loop whose frame i is (i + 1, -(i + 1)).
  static std::string track_file(const TrackFileWords& words, int32_t length) {
    uint8_t header[track_header_bytes];
    build_track_header(words, header);
    std::string bytes(reinterpret_cast<const char*>(header), sizeof header);
    for (int32_t i = 0; i < length; i++) {
      const int32_t frame[2] = {i + 1, -(i + 1)};
      bytes.append(reinterpret_cast<const char*>(frame), sizeof frame);
    }
    return bytes;
  }

  TestWorkdir dir;
};
