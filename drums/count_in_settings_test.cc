#include "drums/count_in_settings.h"

#include <gtest/gtest.h>

#include <string>

#include "host/looper.h"
#include "tests/fixtures/test_workdir.h"

namespace {

class CountInSettingsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    looper_reset();
    take_console_output();
  }
  void write(const std::string& text) {
    write_whole_file(count_in_file_name, text.data(), text.size());
  }
  TestWorkdir dir;
};

constexpr char good_text[] =
    "ZT4 count-in settings 1\nrec_length 4\ncount_in_bars 2\nclick count-in\n";

TEST_F(CountInSettingsTest, SavedSettingsComeBackAtTheNextStart) {
  ASSERT_TRUE(set_rec_length(4));
  ASSERT_TRUE(set_count_in_bars(2));
  ASSERT_TRUE(set_click(click_count_in));
  // Saved a second after the last change, not before.
  for (int tick = 1; tick < count_in_save_delay; ++tick) count_in_settings_service();
  EXPECT_EQ(read_whole_file(count_in_file_name), "");
  count_in_settings_service();
  EXPECT_EQ(read_whole_file(count_in_file_name), good_text);
  count_in_settings_reset();
  count_in_settings_load();
  EXPECT_EQ(count_in_store.live, (CountInSettings{4, 2, click_count_in}));
  EXPECT_EQ(count_in_store.rec_length_choice, 3);
  EXPECT_EQ(take_console_output(),
            "Count-in settings loaded: rec length 4, count-in 2, click count-in\n");
}

TEST_F(CountInSettingsTest, QuittingSavesAChangeStillWaiting) {
  count_in_settings_save_pending();
  EXPECT_EQ(read_whole_file(count_in_file_name), "") << "nothing changed, nothing written";
  ASSERT_TRUE(set_click(click_always));
  count_in_settings_save_pending();
  EXPECT_EQ(read_whole_file(count_in_file_name),
            "ZT4 count-in settings 1\nrec_length 0\ncount_in_bars 0\nclick always\n");
  EXPECT_EQ(count_in_store.dirty.load(), 0);
}

TEST_F(CountInSettingsTest, SettersRefuseWhatTheSettingDoesNotTake) {
  for (int bars : {-1, 3, 5, 12, 32}) EXPECT_FALSE(set_rec_length(bars)) << bars;
  EXPECT_FALSE(set_count_in_bars(3));
  EXPECT_FALSE(set_count_in_bars(-1));
  EXPECT_FALSE(set_click(3));
  EXPECT_EQ(count_in_store.live, CountInSettings{});
  EXPECT_EQ(count_in_store.dirty.load(), 0);
}

// A damaged file is refused whole, with one line that says why, and the defaults stay.
TEST_F(CountInSettingsTest, DamagedFilesLeaveTheDefaults) {
  struct Case {
    const char* text;
    const char* why;
  };
  const Case cases[] = {
      {"ZT4 mixer settings 1\n", "not a count-in file"},
      {"ZT4 count-in settings 1\nrec_length 3\ncount_in_bars 1\nclick off\n",
       "rec_length is not 0, 1, 2, 4, 8 or 16"},
      {"ZT4 count-in settings 1\nrec_length 2\ncount_in_bars 5\nclick off\n",
       "count_in_bars is not 0, 1 or 2"},
      {"ZT4 count-in settings 1\nrec_length 2\ncount_in_bars 1\nclick loud\n",
       "click is not off, count-in or always"},
      {"ZT4 count-in settings 1\nrec_length 2\ncount_in_bars 1\n", "no click line"},
      {"ZT4 count-in settings 1\nrec_length 2x\ncount_in_bars 1\nclick off\n",
       "no rec_length line"},
      {"ZT4 count-in settings 1\nrec_length 2\ncount_in_bars 1\nclick off\nmore\n",
       "text after the click line"},
  };
  for (const Case& c : cases) {
    set_rec_length(8);  // a live value the refusal must reset to the default
    write(c.text);
    count_in_settings_load();
    EXPECT_EQ(count_in_store.live, CountInSettings{}) << c.text;
    EXPECT_EQ(take_console_output(),
              std::string("Count-in settings file refused: ") + c.why + ", defaults used\n");
  }
  unlink(count_in_file_name);
  count_in_settings_load();
  EXPECT_EQ(take_console_output(),
            "Count-in settings: no .zt4.count_in, defaults used (free length, no count-in, no "
            "click)\n");
}

}  // namespace
