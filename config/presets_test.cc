#include "config/presets.h"

#include <gtest/gtest.h>

#include <cstring>

#include "config/config.h"
#include "host/looper.h"
#include "storage/storage_thread.h"
#include "tests/fixtures/test_workdir.h"

namespace {

class PresetTest : public ::testing::Test {
 protected:
  void SetUp() override {
    looper_reset();
    config_defaults();
  }
  // A distinct mix for preset n.
  static void set_mix(int n) {
    for (int t = 0; t < 8; ++t) {
      config_live.mix_level[t] = int16_t(-(n * 8 + t));
      config_live.mix_feedback[t] = int16_t(100 - n - t);
      config_live.mix_pan[t] = int16_t(n * 10 - t * 3);
    }
    config.all_main_level = int16_t(n - 5);
  }
  TestWorkdir dir;
};

TEST_F(PresetTest, EveryPresetRoundTrips) {
  for (int n = 0; n <= 10; ++n) {
    set_mix(n);
    ASSERT_EQ(preset_save(n), 0);
    storage.config_write_length = 0;  // as if the storage thread had written it
  }
  for (int n = 10; n >= 0; --n) {
    SCOPED_TRACE(n);
    set_mix(n);
    const ConfigLive expected = config_live;
    const int16_t expected_main = config.all_main_level;
    set_mix(20);

    ASSERT_EQ(preset_use(n), 0);
    EXPECT_EQ(0, memcmp(config_live.mix_level, expected.mix_level, sizeof expected.mix_level));
    EXPECT_EQ(
        0, memcmp(config_live.mix_feedback, expected.mix_feedback, sizeof expected.mix_feedback));
    EXPECT_EQ(0, memcmp(config_live.mix_pan, expected.mix_pan, sizeof expected.mix_pan));
    EXPECT_EQ(config.all_main_level, expected_main);
  }
  EXPECT_EQ(config_dirty.load(), 0);  // using a preset does not mark the record
}

TEST_F(PresetTest, SavingStoresInFileOrderAndHandsTheRecordOver) {
  set_mix(3);
  ASSERT_EQ(preset_save(3), 0);
  EXPECT_EQ(storage.config_write_length, config_size);
  const auto* bytes = reinterpret_cast<const uint8_t*>(&config);
  const int base = 9422 + 3 * 50;  // preset 3 in the stored record
  int16_t word;
  memcpy(&word, bytes + base + 2, 2);
  EXPECT_EQ(word, config_live.mix_level[1]);
  memcpy(&word, bytes + base + 16, 2);
  EXPECT_EQ(word, config_live.mix_feedback[0]);
  memcpy(&word, bytes + base + 32 + 14, 2);
  EXPECT_EQ(word, config_live.mix_pan[7]);
  memcpy(&word, bytes + base + 48, 2);
  EXPECT_EQ(word, config.all_main_level);
  EXPECT_EQ(0, memcmp(storage.config_write_data, &config, config_size));
  EXPECT_EQ(config_dirty.load(), 0);
}

TEST_F(PresetTest, SavingWhileTheStorageThreadIsBusyLeavesTheRecordDirty) {
  pthread_mutex_lock(&storage.storage_mutex);
  EXPECT_EQ(preset_save(0), 0);
  pthread_mutex_unlock(&storage.storage_mutex);
  EXPECT_EQ(config_dirty.load(), 1);
}

TEST_F(PresetTest, NumbersOutsideZeroToTenChangeNothing) {
  set_mix(2);
  for (int n : {11, 12, -1, 30000}) {
    SCOPED_TRACE(n);
    ConfigRecord before = config;
    ConfigLive live_before = config_live;
    EXPECT_EQ(preset_save(n), -1);
    EXPECT_EQ(preset_use(n), -1);
    EXPECT_EQ(0, memcmp(&before, &config, sizeof before));
    EXPECT_EQ(0, memcmp(&live_before, &config_live, sizeof live_before));
    EXPECT_EQ(storage.config_write_length, 0);
    EXPECT_EQ(config_dirty.load(), 0);
  }
}

}  // namespace
