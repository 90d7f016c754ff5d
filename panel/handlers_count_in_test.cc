// The count-in settings as text commands: a number sets them, none steps to the next value, and
// a number they do not take changes nothing and says why in one line.
#include <gtest/gtest.h>

#include <string>

#include "config/config.h"
#include "core/log_ring.h"
#include "drums/count_in_settings.h"
#include "host/looper.h"
#include "panel/text_command.h"

namespace {

class CountInCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    looper_reset();
    config_defaults();
    console();
  }
  static std::string console() {
    std::string text;
    char chunk[512];
    while (int n = log_take(console_log.udp_log_ring, chunk, int(sizeof chunk)))
      text.append(chunk, size_t(n));
    return text;
  }
};

TEST_F(CountInCommandTest, TextCommandsSetStepAndRefuse) {
  struct Case {
    const char* text;
    int status;
    CountInSettings after;
    const char* line;
  };
  const Case cases[] = {
      {"Rec Length 2", 0, {2, 0, click_off}, "Rec Length set to 2 bars\n"},
      {"Count-in Bars 1", 0, {2, 1, click_off}, "Count-in Bars set to 1\n"},
      {"Click 2", 0, {2, 1, click_always}, "Click set to always\n"},
      {"Rec Length", 0, {4, 1, click_always}, "Rec Length set to 4 bars\n"},  // the next
      {"Click", 0, {4, 1, click_off}, "Click set to off\n"},                  // wraps round
      {"Rec Length 3",
       -22,
       {4, 1, click_off},
       "Rec Length refused: 3 is not 0 (free), 1, 2, 4, 8 or 16 bars\n"},
      {"Rec Length 32", -22, {4, 1, click_off}, "Rec Length refused: 32 is outside 0..16\n"},
      {"Count-in Bars 3", -22, {4, 1, click_off}, "Count-in Bars refused: 3 is outside 0..2\n"},
      {"Rec Length 0", 0, {0, 1, click_off}, "Rec Length set to free\n"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(run_text_command(c.text), c.status) << c.text;
    EXPECT_EQ(count_in_store.live, c.after) << c.text;
    EXPECT_EQ(console(), c.line) << c.text;
  }
}

}  // namespace
