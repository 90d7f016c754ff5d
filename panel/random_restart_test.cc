#include "panel/random_restart.h"

#include <gtest/gtest.h>

#include "tests/fixtures/looper_test_fixture.h"
#include "panel/handlers.h"
#include "panel/selection.h"

namespace {

// Random restart: one pass, then a restart after a random wait.
class RandomRestartTest : public LooperTest {
 protected:
  static bool playing(int32_t t) { return on_list(engine_state.play_list, t); }
};

TEST_F(RandomRestartTest, PlaysOnePassAndComesBack) {
  make_loop(0, 4800, false);
  config.rnd_restart_min = 1;
  config.rnd_restart_max = 1;
  selection.current_track = 1;
  cmd_random_restart(0);
  EXPECT_EQ(selection.random_restart_mask, 0x01);
  EXPECT_TRUE(playing(0));
  ASSERT_TRUE(run_ticks_until([] { return !playing(0); }));
  // Restart time: counter + min 1 + 4800 / 480 + 1 runs of the 10 ms service.
  int restarted_after = 0;
  while (!playing(0) && restarted_after < 100) {
    random_restart_service();
    ++restarted_after;
  }
  EXPECT_TRUE(playing(0));
  EXPECT_EQ(restarted_after, 12);
  cmd_stop(1);  // a stop clears the mark
  EXPECT_EQ(selection.random_restart_mask, 0);
}

}  // namespace
