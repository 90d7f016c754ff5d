#include "host/main_loop.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "host/connections.h"
#include "core/lock.h"
#include "host/looper.h"
#include "pool/pool.h"

namespace {

class MainLoopTest : public ::testing::Test {
 protected:
  void SetUp() override {
    looper_reset();
    port_connections_reset();  // the JACK client's record, outside looper_reset
  }
};

TEST_F(MainLoopTest, ThirdNestedTickIsRefused) {
  main_loop.idle_depth = 2;  // two ticks already running
  testing::internal::CaptureStdout();
  idle_tick();
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "IDLE CHECKS ERROR\r\n");
  EXPECT_EQ(main_loop.idle_depth, 2);
}

TEST_F(MainLoopTest, NestedTickKeepsBlockClearingGoing) {
  main_loop.idle_depth = 1;  // called through idle_service from a handler inside a tick
  main_loop.idle_enabled = 1;
  const int before = pool_available();
  testing::internal::CaptureStdout();
  idle_service();
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(main_loop.idle_depth, 1);
  EXPECT_EQ(pool_available(), before);
  EXPECT_EQ(main_loop.more_idle_work.load(), 1);  // one block cleared, more remain dirty
}

TEST_F(MainLoopTest, DisabledIdleServiceDoesNothing) {
  main_loop.idle_enabled = 0;
  idle_service();
  EXPECT_EQ(main_loop.more_idle_work.load(), 0);
}

TEST_F(MainLoopTest, PassesRunBackToBackUntilThePoolIsClean) {
  main_loop.idle_enabled = 1;
  pthread_mutex_lock(&main_loop_lock.mutex);
  int passes = 0;
  while (passes < pool_blocks + 10) {
    ++passes;
    main_loop.more_idle_work = 0;
    idle_tick();
    if (!main_loop.more_idle_work) break;
  }
  pthread_mutex_unlock(&main_loop_lock.mutex);
  // Every dirty block is cleared by its own tick; the last tick reports no more work.
  EXPECT_EQ(passes, pool_blocks);
  EXPECT_EQ(pool_alloc_zeroed() != nullptr, true);
}

TEST_F(MainLoopTest, WakeNeverBlocksWhileTheLoopIsBusy) {
  pthread_mutex_lock(&main_loop_lock.mutex);
  wake_main_loop();  // the loop holds its mutex: nothing happens, and we return at once
  pthread_mutex_unlock(&main_loop_lock.mutex);
  wake_main_loop();
  SUCCEED();
}

TEST_F(MainLoopTest, ConsoleMailboxIsTakenBeforeStandardInput) {
  main_loop_lock.console_mailbox = 'x';
  pthread_mutex_lock(&main_loop_lock.mutex);
  main_loop.more_idle_work = 1;  // skip the 50 ms wait
  main_loop_pass();
  pthread_mutex_unlock(&main_loop_lock.mutex);
  EXPECT_EQ(main_loop_lock.console_mailbox.load(), 0u);
}

TEST(EngineLockDeathTest, UnbalancedUnlockEndsTheProgram) {
  EXPECT_EXIT(
      {
        dup2(STDERR_FILENO, STDOUT_FILENO);
        engine_unlock();
      },
      ::testing::ExitedWithCode(1), "BUG: jack_release_lock");
}

TEST(EngineLockTest, NestsPerThread) {
  engine_lock();
  engine_lock();
  EXPECT_EQ(engine_lock_depth(), 2);
  engine_unlock();
  EXPECT_NE(pthread_mutex_trylock(engine_mutex()), 0);  // still held
  engine_unlock();
  EXPECT_EQ(engine_lock_depth(), 0);
  ASSERT_EQ(pthread_mutex_trylock(engine_mutex()), 0);
  pthread_mutex_unlock(engine_mutex());
}

TEST(RegistrationFifoTest, SixtyFourthWaitingPortIsDropped) {
  PortConnections pc;
  for (jack_port_id_t id = 0; id < 63; ++id) ASSERT_TRUE(registration_fifo_push(pc, id));
  testing::internal::CaptureStdout();
  EXPECT_FALSE(registration_fifo_push(pc, 63));
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "FIFO full\r\n");
  jack_port_id_t id;
  for (jack_port_id_t want = 0; want < 63; ++want) {
    ASSERT_TRUE(registration_fifo_pop(pc, id));
    EXPECT_EQ(id, want);
  }
  EXPECT_FALSE(registration_fifo_pop(pc, id));
  EXPECT_TRUE(registration_fifo_push(pc, 99));  // wraps around the ring
  ASSERT_TRUE(registration_fifo_pop(pc, id));
  EXPECT_EQ(id, 99u);
}

}  // namespace
