#include "drums/drum_bank_file.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "config/config.h"
#include "tests/fixtures/test_workdir.h"
#include "drums/drum_edit.h"
#include "host/looper.h"

namespace {

class DrumBankFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    looper_reset();
    config_defaults();
    take_console_output();
  }

  // A bank with something in every kind of field.
  static DrumBank sample_bank() {
    DrumBank b{};
    b.current_pattern = 6;
    b.patterns[6].bpm = 133;
    b.patterns[6].all_gain = -7;
    b.patterns[6].gain[3] = -96;
    b.patterns[6].pan[2] = -96;
    b.patterns[6].pan[5] = 96;
    b.patterns[6].steps[0] = 0x81;
    b.patterns[6].steps[191] = 0xFFFF;
    b.patterns[63].bpm = 60;
    b.patterns[0].steps[100] = 0x1234;
    return b;
  }

  static std::vector<uint8_t> encoded(const DrumBank& bank) {
    std::vector<uint8_t> bytes(drum_bank_file_bytes);
    EXPECT_EQ(drum_bank_encode(bank, bytes.data()), drum_bank_file_bytes);
    return bytes;
  }

  // Rewrites the checksum after a deliberate change, so that the range checks are reached.
  static void restamp(std::vector<uint8_t>& bytes) {
    bytes[6] = bytes[7] = 0;
    std::vector<uint16_t> words(bytes.size() / 2);
    memcpy(words.data(), bytes.data(), bytes.size());
    const uint16_t sum = config_checksum(words.data(), int(words.size()));
    bytes[6] = uint8_t(sum);
    bytes[7] = uint8_t(sum >> 8);
  }

  TestWorkdir dir;
};

TEST_F(DrumBankFileTest, EncodedBankDecodesToTheSame) {
  const DrumBank bank = sample_bank();
  const std::vector<uint8_t> bytes = encoded(bank);
  EXPECT_EQ(memcmp(bytes.data(), "ZT4D", 4), 0);
  DrumBank back{};
  EXPECT_EQ(drum_bank_decode(bytes.data(), int(bytes.size()), back), nullptr);
  EXPECT_EQ(memcmp(&back, &bank, sizeof bank), 0);
}

struct Damage {
  const char* name;
  std::function<void(std::vector<uint8_t>&)> apply;
  const char* fault;
};

TEST_F(DrumBankFileTest, DamagedBanksAreRefusedAndLeaveTheBankAsItWas) {
  const Damage damages[] = {
      {"short", [](auto& b) { b.pop_back(); }, "wrong size"},
      {"long", [](auto& b) { b.push_back(0); }, "wrong size"},
      {"magic", [](auto& b) { b[0] = 'X'; }, "not a drum bank"},
      {"format", [](auto& b) { b[4] = 2; }, "unknown format"},
      {"one bit", [](auto& b) { b[5000] ^= 0x10; }, "checksum mismatch"},
      {"pattern number",
       [](auto& b) {
         b[8] = 64;
         restamp(b);
       },
       "bad pattern number"},
      // pattern 0 starts at byte 12: bpm, all_gain, gain[8], pan[8]
      {"tempo",
       [](auto& b) {
         b[12] = 59;
         restamp(b);
       },
       "tempo out of range"},
      {"all gain",
       [](auto& b) {
         b[16] = 1;
         restamp(b);
       },
       "gain out of range"},
      {"pan",
       [](auto& b) {
         b[18 + 16] = 97;
         restamp(b);
       },
       "pan out of range"},
  };
  for (const Damage& d : damages) {
    std::vector<uint8_t> bytes = encoded(sample_bank());
    d.apply(bytes);
    DrumBank bank{};
    bank.current_pattern = 3;
    const DrumBankFault fault = drum_bank_decode(bytes.data(), int(bytes.size()), bank);
    ASSERT_NE(fault, nullptr) << d.name;
    EXPECT_STREQ(fault, d.fault) << d.name;
    EXPECT_EQ(bank.current_pattern, 3) << d.name;
  }
}

TEST_F(DrumBankFileTest, SavedBankIsLoadedAtTheNextStart) {
  drums.bank = sample_bank();
  ASSERT_EQ(drum_bank_save(), 0);
  EXPECT_FALSE(std::filesystem::exists(std::string(drum_bank_file_name) + ".tmp"));
  looper_reset();
  drum_bank_load();
  EXPECT_EQ(take_console_output(), "Drum bank loaded\n");
  const DrumBank bank = sample_bank();
  EXPECT_EQ(memcmp(&drums.bank, &bank, sizeof bank), 0);
  EXPECT_EQ(drum_timing().loop_length, 23040000 / 133) << "the current pattern's tempo";
}

TEST_F(DrumBankFileTest, DamagedFileGivesDefaultsWithAMessage) {
  std::vector<uint8_t> bytes = encoded(sample_bank());
  bytes[100] ^= 1;
  write_whole_file(drum_bank_file_name, bytes.data(), bytes.size());
  drums.bank.patterns[2].bpm = 99;
  drum_bank_load();
  EXPECT_EQ(take_console_output(), "Drum bank file refused: checksum mismatch, defaults used\n");
  EXPECT_EQ(drums.bank.patterns[2].bpm, 0);
  EXPECT_EQ(drums.bank.current_pattern, 0);
  EXPECT_EQ(drum_timing().loop_length, 192000);
}

TEST_F(DrumBankFileTest, MissingFileGivesDefaultsQuietly) {
  drum_bank_load();
  EXPECT_EQ(take_console_output(), "");
  EXPECT_EQ(drum_timing().loop_length, 192000);
}

TEST_F(DrumBankFileTest, EditsAreSavedASecondAfterTheLastOne) {
  drum_select_pattern(2);
  drum_toggle_step(5, 7);
  for (int tick = 1; tick < drum_bank_save_delay; tick++) drum_bank_save_service();
  EXPECT_FALSE(std::filesystem::exists(drum_bank_file_name));
  drum_set_gain(1, -12);  // a new edit restarts the wait
  for (int tick = 1; tick < drum_bank_save_delay; tick++) drum_bank_save_service();
  EXPECT_FALSE(std::filesystem::exists(drum_bank_file_name));
  drum_bank_save_service();
  const std::string stored = read_whole_file(drum_bank_file_name);
  DrumBank bank{};
  ASSERT_EQ(
      drum_bank_decode(reinterpret_cast<const uint8_t*>(stored.data()), int(stored.size()), bank),
      nullptr);
  EXPECT_EQ(bank.current_pattern, 1);
  EXPECT_EQ(bank.patterns[1].bpm, 120);
  EXPECT_EQ(bank.patterns[1].steps[5], 0x80);
  EXPECT_EQ(bank.patterns[1].gain[1], -12);
  EXPECT_EQ(drum_bank_store.dirty.load(), 0);
}

// Quitting within the second after an edit keeps the edit.
TEST_F(DrumBankFileTest, QuittingSavesAnEditStillWaiting) {
  drum_bank_save_pending();
  EXPECT_FALSE(std::filesystem::exists(drum_bank_file_name)) << "nothing edited, nothing written";
  drum_set_bpm(150);
  drum_bank_save_pending();
  const std::string stored = read_whole_file(drum_bank_file_name);
  DrumBank bank{};
  ASSERT_EQ(
      drum_bank_decode(reinterpret_cast<const uint8_t*>(stored.data()), int(stored.size()), bank),
      nullptr);
  EXPECT_EQ(bank.patterns[bank.current_pattern].bpm, 150);
  EXPECT_EQ(drum_bank_store.dirty.load(), 0);
}

TEST_F(DrumBankFileTest, FailedSaveIsReportedAndRetried) {
  std::filesystem::create_directory(std::string(drum_bank_file_name) + ".tmp");  // blocks the write
  drum_set_bpm(150);
  for (int tick = 0; tick < drum_bank_save_delay; tick++) drum_bank_save_service();
  EXPECT_EQ(take_console_output(), "Drum bank save failed\n");
  EXPECT_EQ(drum_bank_store.dirty.load(), 1);
  std::filesystem::remove(std::string(drum_bank_file_name) + ".tmp");
  for (int tick = 0; tick < drum_bank_save_delay; tick++) drum_bank_save_service();
  EXPECT_TRUE(std::filesystem::exists(drum_bank_file_name));
  EXPECT_EQ(drum_bank_store.dirty.load(), 0);
}

}  // namespace
