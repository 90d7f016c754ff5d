#include "panel/command_queue.h"

#include <gtest/gtest.h>

#include <string>

#include "config/config.h"
#include "host/looper.h"
#include "panel/display_state.h"
#include "panel/selection.h"

namespace {

class CommandQueueTest : public ::testing::Test {
 protected:
  void SetUp() override {
    looper_reset();
    config_defaults();
  }
};

TEST_F(CommandQueueTest, TakesTextsUpToSixtyTwoCharacters) {
  EXPECT_TRUE(command_queue_put(std::string(62, 'x').c_str()));
  EXPECT_FALSE(command_queue_put(std::string(63, 'x').c_str()));
  EXPECT_FALSE(command_queue_put("abc", -1));
  EXPECT_EQ(command_execute(), 1);
  EXPECT_EQ(command_execute(), 0);
}

TEST_F(CommandQueueTest, HoldsThirtyOneCommands) {
  for (int i = 0; i < command_queue_slots - 1; ++i) EXPECT_TRUE(command_queue_put("Next Track"));
  EXPECT_FALSE(command_queue_put("Select Track 1"));
  int ran = 0;
  while (command_execute() == 1) ++ran;
  EXPECT_EQ(ran, command_queue_slots - 1);
  // Thirty-one steps forward from track 1 wrap round eight tracks to track 8.
  EXPECT_EQ(selection.current_track, 8);
}

TEST_F(CommandQueueTest, RunsOneCommandPerCallInOrder) {
  ASSERT_TRUE(command_queue_put("Select Track 3"));
  ASSERT_TRUE(command_queue_put("no such function"));
  ASSERT_TRUE(command_queue_put("select track 5", 14));
  EXPECT_EQ(command_execute(), 1);
  EXPECT_EQ(selection.current_track, 3);
  EXPECT_EQ(command_execute(), 1);  // unknown text: its slot is consumed, nothing changes
  EXPECT_EQ(selection.current_track, 3);
  EXPECT_EQ(command_execute(), 1);
  EXPECT_EQ(selection.current_track, 5);
  EXPECT_EQ(command_execute(), 0);
}

}  // namespace
