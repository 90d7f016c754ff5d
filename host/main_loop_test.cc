#include "host/main_loop.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

#include "host/connections.h"
#include "core/lock.h"
#include "host/looper.h"
#include "pool/pool.h"

namespace {

// Polls cond every millisecond for up to 10 s; whether it came to hold.
bool wait_for(const std::function<bool()>& cond) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!cond()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

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

// The loop's thread holds its mutex while it works: a wake from another thread returns at once
// instead of waiting for the pass to end (a blocking wake would still be waiting at the deadline).
TEST_F(MainLoopTest, WakeNeverBlocksWhileTheLoopIsBusy) {
  std::atomic<bool> held{false};
  std::atomic<bool> release{false};
  std::thread loop([&] {
    pthread_mutex_lock(&main_loop_lock.mutex);
    held = true;
    while (!release.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    pthread_mutex_unlock(&main_loop_lock.mutex);
  });
  ASSERT_TRUE(wait_for([&] { return held.load(); }));
  std::atomic<bool> returned{false};
  std::thread waker([&] {
    wake_main_loop();
    returned = true;
  });
  EXPECT_TRUE(wait_for([&] { return returned.load(); })) << "the wake waited for the busy loop";
  EXPECT_FALSE(release.load());
  release = true;
  waker.join();
  loop.join();
}

// A loop asleep in its timed wait is woken by the wake, long before its own deadline.
TEST_F(MainLoopTest, WakeEndsTheLoopsWait) {
  std::atomic<int> result{-1};
  std::thread loop([&] {
    pthread_mutex_lock(&main_loop_lock.mutex);
    const timespec deadline = deadline_after(20000000000);  // beyond the test's own deadline
    result = pthread_cond_timedwait(&main_loop_lock.cond, &main_loop_lock.mutex, &deadline);
    pthread_mutex_unlock(&main_loop_lock.mutex);
  });
  // A wake that comes before the loop waits finds nobody to signal: wake again until it ends.
  EXPECT_TRUE(wait_for([&] {
    wake_main_loop();
    return result.load() != -1;
  }));
  loop.join();
  EXPECT_EQ(result.load(), 0) << "the wait ran to its deadline";
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
