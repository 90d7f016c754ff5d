#include "config/config.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>

#include "core/log_ring.h"
#include "tests/fixtures/test_names.h"
#include "tests/fixtures/test_workdir.h"
#include "host/looper.h"
#include "storage/storage_thread.h"

namespace {

constexpr char checksum_message[] = "Config checksum mismatch.  Using default config.\n";
constexpr char version_message[] = "Config version mismatch.  Using default config.\n";
constexpr char refused_message[] = "The refused configuration is kept as .zt4.config.1.bad\n";

uint16_t sum_of(const ConfigRecord& r) {
  return config_checksum(reinterpret_cast<const uint16_t*>(&r), config_word_count);
}

// A record as config_defaults leaves it, with a correct checksum.
ConfigRecord valid_record() {
  config_defaults();
  config_stamp_checksum();
  return config;
}

void restamp(ConfigRecord& r) {
  r.checksum = 0;
  r.checksum = sum_of(r);
}

void store(const ConfigRecord& r) { write_whole_file(config_file_name, &r, sizeof r); }

// The record in ".zt4.config.1"; fails the test when the file is not a whole valid record.
ConfigRecord stored_record() {
  std::string bytes = read_whole_file(config_file_name);
  ConfigRecord r;
  memset(&r, 0, sizeof r);
  EXPECT_EQ(bytes.size(), size_t(config_size));
  if (bytes.size() == sizeof r) memcpy(&r, bytes.data(), sizeof r);
  EXPECT_EQ(sum_of(r), 0) << "stored record fails its checksum";
  return r;
}

class ConfigTest : public ::testing::Test {
 protected:
  void SetUp() override { looper_reset(); }
  // Runs what the first idle tick and the next storage pass do.
  void save_and_write() {
    config_save_service();
    pthread_mutex_lock(&storage.storage_mutex);
    storage_pass();
    pthread_mutex_unlock(&storage.storage_mutex);
  }
  TestWorkdir dir;
};

TEST(ConfigChecksum, IsTheInternetChecksum) {
  EXPECT_EQ(config_checksum(nullptr, 0), 0xFFFF);
  // The worked example of RFC 1071: the folded sum is 0xDDF2.
  const uint16_t words[] = {0x0001, 0xF203, 0xF4F5, 0xF6F7};
  EXPECT_EQ(config_checksum(words, 4), uint16_t(~0xDDF2));
  // A stamped record sums to zero, and so does one whose words all carry.
  ConfigRecord r;
  memset(&r, 0xFF, sizeof r);
  restamp(r);
  EXPECT_EQ(sum_of(r), 0);
}

TEST_F(ConfigTest, DefaultsFillEveryFieldAndTheLiveMix) {
  config_defaults();
  const ConfigRecord& c = config;
  const int16_t switched[8] = {0, 0, 0, 1, 1, 1, 1, 0};
  EXPECT_EQ(0, memcmp(c.switched, switched, sizeof switched));
  EXPECT_EQ(c.version, 2);
  EXPECT_EQ(c.reserved_68, 770);
  EXPECT_EQ(c.quant_cc, 126);
  EXPECT_EQ(c.cc_dejitter, 1);
  EXPECT_EQ(c.rnd_restart_max, 5);
  EXPECT_EQ(c.all_aux_level, -2);
  EXPECT_EQ(c.all_main_level, -2);
  EXPECT_EQ(c.noise_gate_level, 12);
  EXPECT_EQ(c.noise_gate_delay, 20);
  EXPECT_EQ(c.beats_per_measure, 4);
  EXPECT_EQ(c.midi_clock_out, 1);
  EXPECT_EQ(c.panel_version, 1);
  EXPECT_EQ(c.fade_time, 10);
  EXPECT_EQ(c.volume_minimum, -128);
  for (int i = 0; i < config_list_count; ++i) {
    for (int k = 0; k < config_list_length; ++k) ASSERT_EQ(c.midi_lists[i][k], -1);
  }
  for (int i = 0; i < config_cc_count; ++i) {
    ASSERT_EQ(c.cc_max[i], 127);
    ASSERT_EQ(c.cc_min[i], 0);
    ASSERT_EQ(c.cc_controller[i], -1);
    ASSERT_EQ(c.reserved_9056[i], -1);
    ASSERT_EQ(config_live.cc_switch_value[i], -1);
  }
  for (auto& list : c.user_button_lists) EXPECT_EQ(list[7], -1);
  for (int t = 0; t < 8; ++t) {
    EXPECT_EQ(c.q_steps[t], 1);
    EXPECT_EQ(config_live.mix_level[t], 0);
    EXPECT_EQ(config_live.mix_pan[t], 0);
    EXPECT_EQ(config_live.mix_feedback[t], 100);
    EXPECT_EQ(config_live.mix_spare[t], 100);
  }
  EXPECT_EQ(c.groups[9], 0);
  EXPECT_EQ(c.presets[10].main_level, 0);
}

TEST_F(ConfigTest, MissingFileGivesDefaultsAndIsWrittenValidAtTheFirstSave) {
  config_load();
  // A first start says plainly, once, that there is nothing yet: nothing was refused.
  EXPECT_EQ(take_console_output(),
            "Size of config 9972\n"
            "no configuration yet: using defaults\n");
  EXPECT_FALSE(std::filesystem::exists(config_refused_file_name));
  EXPECT_EQ(config_dirty.load(), 1);
  EXPECT_EQ(config.all_main_level, -2);
  EXPECT_EQ(config.cc_controller[119], 0);  // repaired even in the defaults

  save_and_write();
  EXPECT_EQ(config_dirty.load(), 0);
  ConfigRecord r = stored_record();
  EXPECT_EQ(r.version, 2);
  EXPECT_EQ(0, memcmp(&r, &config, sizeof r));
}

// The storage thread's write fails as the disk would, with the errno given.
int write_failure = 0;
ssize_t write_or_fail(int fd, const void* data, size_t length) {
  if (write_failure == 0) return write(fd, data, length);
  errno = write_failure;
  return -1;
}

TEST_F(ConfigTest, AFailedSaveIsReportedOncePerKindOfFailure) {
  config_load();
  storage.config_write_fn = write_or_fail;
  take_console_output();
  const struct {
    int error;
    const char* printed;
  } saves[] = {
      {ENOSPC,
       "Cannot save the configuration in .zt4.config.1: No space left on device; the next "
       "change tries again\n"},
      {ENOSPC, ""},
      {EIO,
       "Cannot save the configuration in .zt4.config.1: Input/output error; the next change "
       "tries again\n"},
      {0, "The configuration is saved again\n"},
      {0, ""},
      {EIO,
       "Cannot save the configuration in .zt4.config.1: Input/output error; the next change "
       "tries again\n"},
  };
  for (const auto& save : saves) {
    write_failure = save.error;
    config.midi_channel = int16_t(save.error % 16);
    config_dirty = 1;
    save_and_write();
    EXPECT_EQ(take_console_output(), save.printed) << save.error;
  }
  write_failure = 0;
}

TEST_F(ConfigTest, ValidFileLoadsAsStoredWithoutSaving) {
  ConfigRecord r = valid_record();
  r.midi_channel = 9;
  r.midi_lists[256 + 60][0] = 17;
  r.groups[3] = 0x81;
  r.presets[4].pans[2] = -64;
  r.cc_controller[119] = 0;  // as every load leaves it
  restamp(r);
  store(r);
  config_reset();

  config_load();
  EXPECT_EQ(take_console_output(), "Size of config 9972\n");
  EXPECT_EQ(config_dirty.load(), 0);
  EXPECT_EQ(0, memcmp(&config, &r, sizeof r));
}

struct CorruptCase {
  const char* name;
  int flip_byte;  // byte whose lowest bit is flipped, -1 none
  size_t length;
};

class CorruptFileTest : public ConfigTest, public testing::WithParamInterface<CorruptCase> {};

TEST_P(CorruptFileTest, IsRefusedWithTheChecksumMessage) {
  const CorruptCase& c = GetParam();
  ConfigRecord bad = valid_record();
  bad.midi_channel = 9;
  restamp(bad);
  if (c.flip_byte >= 0) reinterpret_cast<uint8_t*>(&bad)[c.flip_byte] ^= 1;
  write_whole_file(config_file_name, &bad, c.length);
  config_reset();

  config_load();
  // The refused file is kept aside before the defaults are saved over it.
  EXPECT_EQ(take_console_output(),
            std::string("Size of config 9972\n") + checksum_message + refused_message);
  EXPECT_EQ(read_whole_file(config_refused_file_name),
            std::string(reinterpret_cast<const char*>(&bad), c.length));
  EXPECT_FALSE(std::filesystem::exists(config_file_name));
  EXPECT_EQ(config.midi_channel, 0);
  EXPECT_EQ(config.version, 2);
  EXPECT_EQ(config_dirty.load(), 1);
}

INSTANTIATE_TEST_SUITE_P(
    Files, CorruptFileTest,
    testing::Values(CorruptCase{"flipped_bit_in_a_setting", 94, sizeof(ConfigRecord)},
                    CorruptCase{"flipped_bit_in_the_last_preset", config_size - 1,
                                sizeof(ConfigRecord)},
                    CorruptCase{"flipped_bit_in_the_checksum", 2, sizeof(ConfigRecord)},
                    CorruptCase{"short_file", -1, sizeof(ConfigRecord) - 2},
                    CorruptCase{"empty_file", -1, 0}),
    [](const testing::TestParamInfo<CorruptCase>& info) { return std::string(info.param.name); });

class UnknownVersionTest : public ConfigTest, public testing::WithParamInterface<uint16_t> {};

TEST_P(UnknownVersionTest, IsRefusedWithTheVersionMessage) {
  ConfigRecord r = valid_record();
  r.version = GetParam();
  r.midi_channel = 9;
  restamp(r);
  store(r);
  config_reset();

  config_load();
  EXPECT_EQ(take_console_output(),
            std::string("Size of config 9972\n") + version_message + refused_message);
  EXPECT_EQ(read_whole_file(config_refused_file_name),
            std::string(reinterpret_cast<const char*>(&r), sizeof r));
  EXPECT_EQ(config.version, 2);
  EXPECT_EQ(config.midi_channel, 0);
  EXPECT_EQ(config_dirty.load(), 1);
}

INSTANTIATE_TEST_SUITE_P(Versions, UnknownVersionTest,
                         testing::Values(uint16_t(0), uint16_t(3), uint16_t(0xFFFF)),
                         [](const auto& info) {
                           const auto& c = info.param;
                           return param_case_name("version", c);
                         });

TEST_F(ConfigTest, VersionOneIsUpgradedKeepingItsListsAndSavedAsVersionTwo) {
  ConfigRecord r = valid_record();
  r.version = 1;
  for (int16_t& s : r.switched) s = 1;
  memset(r.reserved_36, 0x5A, sizeof r.reserved_36);
  r.all_main_level = 3;
  r.all_aux_level = -7;
  r.midi_channel = 4;
  r.midi_lists[5][0] = 42;
  r.midi_lists[256 + 36][1] = 7;
  r.user_button_lists[2][0] = 11;
  r.cc_controller[7] = 3;
  restamp(r);
  store(r);
  config_reset();

  config_load();
  EXPECT_EQ(take_console_output(), "Size of config 9972\n");
  EXPECT_EQ(config_dirty.load(), 1);
  EXPECT_EQ(config.version, 2);
  const int16_t switched[8] = {0, 0, 0, 1, 1, 1, 1, 0};
  EXPECT_EQ(0, memcmp(config.switched, switched, sizeof switched));
  for (int16_t w : config.reserved_36) EXPECT_EQ(w, 0);
  EXPECT_EQ(config.all_main_level, 3);
  EXPECT_EQ(config.all_aux_level, 3);
  EXPECT_EQ(config.midi_channel, 4);

  save_and_write();
  ConfigRecord saved = stored_record();
  EXPECT_EQ(saved.version, 2);
  EXPECT_EQ(saved.all_aux_level, 3);
  EXPECT_EQ(saved.midi_lists[5][0], 42);
  EXPECT_EQ(saved.midi_lists[256 + 36][1], 7);
  EXPECT_EQ(saved.user_button_lists[2][0], 11);
  EXPECT_EQ(saved.cc_controller[7], 3);
}

TEST_F(ConfigTest, EveryLoadRepairsTheFieldsThatMustHold) {
  ConfigRecord r = valid_record();
  r.quant_cc = 0;
  r.cc_controller[126] = 5;
  r.midi_lists[128 + 126][0] = 9;
  r.cc_max[119] = 20;
  r.cc_min[119] = 10;
  r.cc_controller[119] = 4;
  r.midi_lists[128 + 119][0] = 9;
  r.cc_trace = 1;
  r.brightness = 5;
  r.zt6_display = 2;
  restamp(r);
  store(r);
  config_reset();

  config_load();
  EXPECT_EQ(config.quant_cc, 126);
  EXPECT_EQ(config.cc_controller[126], 0);
  EXPECT_EQ(config.midi_lists[128 + 126][0], -1);
  EXPECT_EQ(config.cc_max[119], 127);
  EXPECT_EQ(config.cc_min[119], 0);
  EXPECT_EQ(config.cc_controller[119], 0);
  EXPECT_EQ(config.midi_lists[128 + 119][0], -1);
  EXPECT_EQ(config.cc_trace, 0);
  EXPECT_EQ(config.brightness, 0);
  EXPECT_EQ(config.zt6_display, 0);
}

struct BrightnessCase {
  int16_t stored, loaded;
};

class BrightnessTest : public ConfigTest, public testing::WithParamInterface<BrightnessCase> {};

TEST_P(BrightnessTest, OnlyValidValuesSurviveALoad) {
  const BrightnessCase c = GetParam();
  ConfigRecord r = valid_record();
  r.brightness = c.stored;
  r.quant_cc = 20;  // a set quantise controller is left alone
  restamp(r);
  store(r);
  config_reset();
  config_load();
  EXPECT_EQ(config.brightness, c.loaded);
  EXPECT_EQ(config.quant_cc, 20);
}

INSTANTIATE_TEST_SUITE_P(Values, BrightnessTest,
                         testing::Values(BrightnessCase{0, 0}, BrightnessCase{3, 3},
                                         BrightnessCase{7, 7}, BrightnessCase{1, 0},
                                         BrightnessCase{5, 0}, BrightnessCase{-3, 0},
                                         BrightnessCase{8, 0}),
                         [](const auto& info) {
                           const auto& c = info.param;
                           return param_case_name("stored", c.stored);
                         });

TEST_F(ConfigTest, LoadResetsTheControllerSwitchValues) {
  config_live.cc_switch_value[64] = 100;
  config_load();
  EXPECT_EQ(config_live.cc_switch_value[64], -1);
}

}  // namespace
