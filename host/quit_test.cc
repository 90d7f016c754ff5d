#include "host/quit.h"

#include <gtest/gtest.h>

#include <vector>

#include "core/lock.h"
#include "host/looper.h"
#include "host/main_loop.h"

namespace {

std::vector<int> second_signals;
void record_second(int signal_number) { second_signals.push_back(signal_number); }

class QuitTest : public ::testing::Test {
 protected:
  void SetUp() override {
    looper_reset();
    second_signals.clear();
    quit_state.second_signal = record_second;
  }
  void TearDown() override { looper_reset(); }
};

TEST_F(QuitTest, TheFirstSignalAsksTheLoopToEndTheSecondEndsAtOnce) {
  EXPECT_FALSE(quit_requested());
  quit_signal_handler(SIGTERM);
  EXPECT_TRUE(quit_requested());
  EXPECT_TRUE(second_signals.empty());
  quit_signal_handler(SIGINT);
  EXPECT_EQ(second_signals, std::vector<int>{SIGINT});
}

TEST_F(QuitTest, TheMainLoopEndsAfterTheSignal) {
  quit_signal_handler(SIGINT);
  pthread_mutex_lock(&main_loop_lock.mutex);
  main_loop_run();  // returns without a pass
  pthread_mutex_unlock(&main_loop_lock.mutex);
  EXPECT_EQ(quit_state.signal_number.load(), SIGINT);
}

TEST_F(QuitTest, NothingToSaveEndsAtOnce) {
  EXPECT_TRUE(quit_save_everything(1));
}

}  // namespace
