#include "config/backup.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <string>

#include "config/config.h"
#include "core/log_ring.h"
#include "host/looper.h"
#include "storage/storage_thread.h"
#include "tests/fixtures/test_workdir.h"

namespace {

class BackupTest : public ::testing::Test {
 protected:
  void SetUp() override {
    looper_reset();
    config_defaults();
  }
  static void expect_outcome(const ConfigOutcome& o, int status, const char* title,
                             const char* detail) {
    EXPECT_EQ(o.status, status);
    EXPECT_STREQ(o.title, title);
    EXPECT_STREQ(o.detail, detail);
  }
  static void store_backup(ConfigRecord r) {
    r.checksum = 0;
    r.checksum = config_checksum(reinterpret_cast<const uint16_t*>(&r), config_word_count);
    write_whole_file(config_backup_file_name, &r, sizeof r);
  }
  TestWorkdir dir;
};

TEST_F(BackupTest, RestoreBringsBackWhatBackupStored) {
  config.midi_channel = 6;
  config.midi_lists[256 + 40][0] = 12;
  config.presets[7].levels[1] = -30;
  expect_outcome(backup_config(), 0, "Backup", " Successful");
  EXPECT_EQ(take_console_output(), "Config erase complete.\nConfig backup complete.\n");
  const ConfigRecord backed_up = config;
  EXPECT_EQ(read_whole_file(config_backup_file_name).size(), size_t(config_size));

  config.midi_channel = 2;
  config.midi_lists[256 + 40][0] = -1;
  config.presets[7].levels[1] = 0;
  config_live.cc_switch_value[3] = 90;
  config_dirty = 1;

  expect_outcome(restore_config(), 0, "Restore", " Successful");
  EXPECT_EQ(take_console_output(), "");
  EXPECT_EQ(0, memcmp(&config, &backed_up, sizeof config));
  EXPECT_EQ(config_dirty.load(), 0);
  EXPECT_EQ(storage.config_write_length, config_size);  // handed to the storage thread
  EXPECT_EQ(0, memcmp(storage.config_write_data, &backed_up, config_size));
  EXPECT_EQ(config_live.cc_switch_value[3], 90);  // a restore is not a load
}

TEST_F(BackupTest, RestoreRefusesAMissingCorruptOrForeignBackup) {
  config.midi_channel = 6;
  ConfigRecord foreign = config;
  foreign.version = 3;
  ConfigRecord upgraded_only = config;
  upgraded_only.version = 1;
  struct Case {
    const char* name;
    const char* detail;
    const char* message;
  };
  const char* checksum = "Config checksum mismatch.  Using default config.\n";
  const char* version = "Config version mismatch.  Using default config.\n";
  const Case cases[] = {
      {"missing", " Failed verify", checksum},   {"corrupt", " Failed verify", checksum},
      {"short", " Failed verify", checksum},     {"version 3", " Failed version", version},
      {"version 1", " Failed version", version},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    unlink(config_backup_file_name);
    std::string name = c.name;
    if (name == "corrupt") {
      store_backup(config);
      std::string bytes = read_whole_file(config_backup_file_name);
      bytes[100] ^= 0x10;
      write_whole_file(config_backup_file_name, bytes.data(), bytes.size());
    } else if (name == "short") {
      store_backup(config);
      std::string bytes = read_whole_file(config_backup_file_name);
      write_whole_file(config_backup_file_name, bytes.data(), bytes.size() - 1);
    } else if (name == "version 3") {
      store_backup(foreign);
    } else if (name == "version 1") {
      store_backup(upgraded_only);
    }
    config.midi_channel = 1;
    const ConfigRecord before = config;
    take_console_output();

    expect_outcome(restore_config(), -1, "Restore", c.detail);
    EXPECT_EQ(take_console_output(), c.message);
    EXPECT_EQ(0, memcmp(&config, &before, sizeof config));
    EXPECT_EQ(storage.config_write_length, 0);
  }
}

TEST_F(BackupTest, RestoreWhileTheStorageThreadIsBusyLeavesTheRecordDirty) {
  backup_config();
  pthread_mutex_lock(&storage.storage_mutex);
  expect_outcome(restore_config(), 0, "Restore", " Successful");
  pthread_mutex_unlock(&storage.storage_mutex);
  EXPECT_EQ(config_dirty.load(), 1);
}

TEST_F(BackupTest, AFailedBackupWriteIsReportedAndKeepsThePreviousBackup) {
  config.midi_channel = 6;
  backup_config();
  const std::string previous = read_whole_file(config_backup_file_name);
  take_console_output();
  // A directory in the way of the temporary file makes the write fail.
  ASSERT_EQ(mkdir((std::string(config_backup_file_name) + ".tmp").c_str(), 0755), 0);

  config.midi_channel = 9;
  expect_outcome(backup_config(), -1, "Backup", " Failed write");
  EXPECT_EQ(take_console_output(), "Config erase complete.\n");
  EXPECT_EQ(read_whole_file(config_backup_file_name), previous);
}

}  // namespace
