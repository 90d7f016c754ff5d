// The configuration file as the real binary reads and writes it: defaults and the first save,
// stored settings at start-up, the version-1 upgrade, refusals, and a kill at any moment.
#include <signal.h>

#include <cstring>
#include <optional>
#include <string>

#include "config/config.h"
#include "tests/support/harness.h"

namespace {

using zt4test::wait_until;

constexpr char checksum_message[] = "Config checksum mismatch.  Using default config.\n";
constexpr char version_message[] = "Config version mismatch.  Using default config.\n";

uint16_t sum_of(const void* record) {
  return config_checksum(static_cast<const uint16_t*>(record), config_word_count);
}

ConfigRecord default_record() {
  config_defaults();
  return config;
}

class ConfigIntegration : public zt4test::Zt4Test {
 protected:
  // Standard output with the terminal's carriage returns removed.
  std::string text() {
    std::string s = zt4->output();
    std::string out;
    for (char c : s) {
      if (c != '\r') out += c;
    }
    return out;
  }
  bool printed(const std::string& line) { return text().find(line) != std::string::npos; }

  void place(ConfigRecord r) {
    r.checksum = 0;
    r.checksum = sum_of(&r);
    dir.write(config_file_name, std::string(reinterpret_cast<const char*>(&r), sizeof r));
  }
  // The stored record when the file is whole and valid.
  std::optional<ConfigRecord> stored() {
    auto bytes = dir.read(config_file_name);
    if (!bytes || bytes->size() != size_t(config_size) || sum_of(bytes->data()) != 0) {
      return std::nullopt;
    }
    ConfigRecord r;
    memcpy(&r, bytes->data(), sizeof r);
    return r;
  }
  // Starts the binary and waits for its version line (standard output ends lines with CR LF).
  void start() {
    zt4.emplace(dir.path());
    ASSERT_TRUE(zt4->start());
    ASSERT_TRUE(wait_until([&] { return printed("V3.07\n"); }, 20)) << text() << zt4->errors();
  }
  void restart() {
    zt4->stop();
    zt4.reset();
    start();
  }
};

TEST_F(ConfigIntegration, NoFileGivesDefaultsAndAValidFileAtTheFirstIdleTick) {
  start();
  EXPECT_TRUE(printed("Size of config 9972\nno configuration yet: using defaults\nMemory "))
      << text();
  EXPECT_FALSE(printed(checksum_message)) << text();
  EXPECT_FALSE(dir.exists(config_refused_file_name));
  EXPECT_TRUE(printed("wet_only: 0\nmono_input_mode: 0\nprimary_gain: -2\n")) << text();
  ASSERT_TRUE(wait_until([&] { return stored().has_value(); }, 5)) << text();
  ConfigRecord r = *stored();
  EXPECT_EQ(r.version, 2);
  EXPECT_EQ(r.all_main_level, -2);
  EXPECT_EQ(r.cc_controller[119], 0);
}

TEST_F(ConfigIntegration, StoredSettingsAreUsedAndPrintedAtStartUp) {
  ConfigRecord r = default_record();
  r.wet_only = 1;
  r.mono_input_mode = 1;
  r.all_main_level = 3;
  r.midi_lists[256 + 60][0] = 5;
  r.cc_controller[119] = 0;
  place(r);
  start();
  EXPECT_TRUE(printed("wet_only: 1\nmono_input_mode: 1\nprimary_gain: 3\n")) << text();
  EXPECT_FALSE(printed(checksum_message));
  EXPECT_FALSE(printed(version_message));
}

TEST_F(ConfigIntegration, VersionOneFileIsSavedAsVersionTwoKeepingItsLists) {
  ConfigRecord r = default_record();
  r.version = 1;
  for (int16_t& s : r.switched) s = 1;
  r.all_main_level = 1;
  r.all_aux_level = -6;
  r.midi_lists[7][0] = 33;
  r.user_button_lists[1][2] = 14;
  place(r);
  start();
  EXPECT_TRUE(printed("primary_gain: 1\n")) << text();
  ASSERT_TRUE(wait_until([&] { return stored() && stored()->version == 2; }, 5)) << text();
  ConfigRecord saved = *stored();
  EXPECT_EQ(saved.all_aux_level, 1);
  EXPECT_EQ(saved.switched[0], 0);
  EXPECT_EQ(saved.switched[3], 1);
  EXPECT_EQ(saved.midi_lists[7][0], 33);
  EXPECT_EQ(saved.user_button_lists[1][2], 14);
}

TEST_F(ConfigIntegration, CorruptAndForeignFilesAreReplacedByDefaults) {
  ConfigRecord r = default_record();
  r.wet_only = 1;
  place(r);
  std::string bytes = *dir.read(config_file_name);
  bytes[92] ^= 0x04;  // one bit of wet_only's neighbourhood
  dir.write(config_file_name, bytes);
  start();
  // The refused file is kept aside, and the user is told where, before the defaults replace it.
  EXPECT_TRUE(printed(std::string(checksum_message) +
                      "The refused configuration is kept as .zt4.config.1.bad\n"))
      << text();
  EXPECT_FALSE(printed("no configuration yet"));
  EXPECT_TRUE(printed("wet_only: 0\n")) << text();
  ASSERT_TRUE(wait_until([&] { return stored().has_value(); }, 5));
  EXPECT_EQ(dir.read(config_refused_file_name), bytes);

  r.version = 3;
  place(r);
  const std::string foreign = *dir.read(config_file_name);
  restart();
  EXPECT_TRUE(printed(std::string(version_message) +
                      "The refused configuration is kept as .zt4.config.1.bad\n"))
      << text();
  EXPECT_EQ(dir.read(config_refused_file_name), foreign);
  EXPECT_FALSE(printed(checksum_message));
  EXPECT_TRUE(printed("wet_only: 0\n"));
  ASSERT_TRUE(wait_until([&] { return stored() && stored()->wet_only == 0; }, 5));
}

TEST_F(ConfigIntegration, KillingTheProgramWhileItSavesNeverLeavesAnUnreadableFile) {
  ConfigRecord r = default_record();
  r.version = 1;  // upgraded, so the first idle tick writes the file
  // The first idle tick, which writes the file, follows the start-up lines at once.
  for (int delay_ms : {0, 3, 8}) {
    SCOPED_TRACE(delay_ms);
    place(r);
    zt4.emplace(dir.path());
    ASSERT_TRUE(zt4->start());
    ASSERT_TRUE(wait_until([&] { return printed("primary_gain:"); }, 20)) << zt4->errors();
    std::this_thread::sleep_for(std::chrono::milliseconds(delay_ms));
    kill(zt4->pid(), SIGKILL);
    zt4->stop();
    zt4.reset();
    std::optional<ConfigRecord> after = stored();
    ASSERT_TRUE(after.has_value()) << "unreadable configuration file after the kill";
    EXPECT_TRUE(after->version == 1 || after->version == 2);
  }
}

}  // namespace
