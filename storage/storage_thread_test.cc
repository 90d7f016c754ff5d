#include "storage/storage_thread.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include "config/config.h"
#include "tests/fixtures/test_workdir.h"
#include "host/looper.h"

namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

ConfigRecord stored_record() {
  std::string bytes = read_whole_file(config_file_name);
  ConfigRecord r;
  memset(&r, 0, sizeof r);
  if (bytes.size() == sizeof r) memcpy(&r, bytes.data(), sizeof r);
  return r;
}

bool stored_is_valid() {
  std::string bytes = read_whole_file(config_file_name);
  return bytes.size() == size_t(config_size) &&
         config_checksum(reinterpret_cast<const uint16_t*>(bytes.data()), config_word_count) == 0;
}

class StorageThreadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    looper_reset();
    config_defaults();
  }
  void TearDown() override { storage_stop_for_test(); }
  static void run_pass() {
    pthread_mutex_lock(&storage.storage_mutex);
    storage_pass();
    pthread_mutex_unlock(&storage.storage_mutex);
  }
  TestWorkdir dir;
};

TEST_F(StorageThreadTest, ASaveWhileTheThreadIsBusyIsRetriedOnALaterTick) {
  config.midi_channel = 3;
  config_dirty = 1;

  // The thread holds its mutex for the whole of a pass: the tick must not wait for it.
  pthread_mutex_lock(&storage.storage_mutex);
  config_save_service();
  pthread_mutex_unlock(&storage.storage_mutex);
  EXPECT_EQ(config_dirty.load(), 1);
  EXPECT_EQ(storage.config_write_length, 0);

  config_save_service();  // the next tick
  EXPECT_EQ(config_dirty.load(), 0);
  EXPECT_EQ(storage.config_write_length, config_size);

  // A write already pending (the thread not yet woken) is busy too.
  config.midi_channel = 4;
  config_dirty = 1;
  config_save_service();
  EXPECT_EQ(config_dirty.load(), 1);
  EXPECT_EQ(stored_record().midi_channel, 0);  // nothing written before the pass

  run_pass();
  EXPECT_EQ(stored_record().midi_channel, 3);
  EXPECT_EQ(storage.config_write_length, 0);
  config_save_service();
  run_pass();
  EXPECT_TRUE(stored_is_valid());
  EXPECT_EQ(stored_record().midi_channel, 4);
  EXPECT_EQ(config_dirty.load(), 0);
}

TEST_F(StorageThreadTest, TheHandedOverCopyIsNotTornByLaterChanges) {
  config.midi_channel = 3;
  ASSERT_EQ(config_save(), 0);
  config.midi_channel = 5;  // changed after the hand-over, before the thread writes
  run_pass();
  EXPECT_TRUE(stored_is_valid());
  EXPECT_EQ(stored_record().midi_channel, 3);
}

TEST_F(StorageThreadTest, AChangedSettingReachesTheFileWithinASecond) {
  storage_start();
  // Let the thread settle into its wait, as it does long before the first setting changes.
  const auto settle = steady_clock::now() + std::chrono::seconds(5);
  while (storage.passes.load() == 0 && steady_clock::now() < settle) {
    std::this_thread::sleep_for(milliseconds(1));
  }

  config.beats_per_measure = 7;
  config_dirty = 1;
  const auto changed = steady_clock::now();
  bool written = false;
  while (steady_clock::now() - changed < std::chrono::seconds(1)) {
    config_save_service();  // the idle tick, every 10 ms at most
    if (stored_is_valid() && stored_record().beats_per_measure == 7) {
      written = true;
      break;
    }
    std::this_thread::sleep_for(milliseconds(10));
  }
  EXPECT_TRUE(written);
}

TEST_F(StorageThreadTest, TheThreadWakesOnItsOwnAtLeastOnceASecond) {
  storage_start();
  const auto start = steady_clock::now();
  while (storage.passes.load() < 3 && steady_clock::now() - start < std::chrono::seconds(10)) {
    std::this_thread::sleep_for(milliseconds(20));
  }
  EXPECT_GE(storage.passes.load(), 3u);
}

}  // namespace
