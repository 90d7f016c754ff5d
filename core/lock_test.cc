#include "core/lock.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace {

TEST(LockHoldProbeTest, TimesOnlyTheOutermostHoldsOfItsThread) {
  lock_hold_probe_start();
  EXPECT_EQ(lock_hold_probe_stop(), 0);  // no hold

  lock_hold_probe_start();
  {
    EngineLockGuard outer;
    EngineLockGuard inner;  // a nested hold is part of the outer one
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  {
    EngineLockGuard brief;
  }
  const int64_t longest = lock_hold_probe_stop();
  EXPECT_GE(longest, 2000000);

  // Holds of another thread, or after stop, are not timed.
  lock_hold_probe_start();
  std::thread other([] {
    EngineLockGuard lock;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  });
  other.join();
  EXPECT_EQ(lock_hold_probe_stop(), 0);
  EXPECT_EQ(engine_lock_depth(), 0);
}

}  // namespace
