#include "host/quit.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <vector>

#include "core/lock.h"
#include "tests/fixtures/test_workdir.h"
#include "engine/track.h"
#include "host/looper.h"
#include "host/main_loop.h"
#include "storage/storage_thread.h"

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

TEST_F(QuitTest, NothingToSaveEndsAtOnce) { EXPECT_TRUE(quit_save_everything(1)); }

TEST_F(QuitTest, ATrackWhoseSaveStillFailsIsNamedWithTheReason) {
  tracks[2].length = 100;
  storage.save_error[2] = ENOSPC;
  storage.unsaved = 1u << 2;
  take_console_output();
  EXPECT_FALSE(quit_save_everything(0.05));
  EXPECT_EQ(storage.retry_at_once.load(), 1);  // the back-off no longer holds the save back
  EXPECT_EQ(take_console_output(),
            "Quit: track 3 not saved: No space left on device\n"
            "Quit: tracks still unsaved after 0 s\n");
}

}  // namespace
