#include "core/lock.h"
#include "core/lock_statistics.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
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

namespace {

TEST(LockStatisticsTest, ChargesEachOutermostHoldToItsCallSiteAndClearsOnTake) {
  lock_statistics_reset();
  LockReport r;
  lock_statistics_take(r);  // from a clean start

  int long_line = 0;
  {
    long_line = __LINE__ + 1;
    EngineLockGuard outer;
    EngineLockGuard inner;  // nested: charged to the outer site
    std::this_thread::sleep_for(std::chrono::milliseconds(3));
  }
  for (int i = 0; i < 5; i++) {
    engine_lock();
    engine_unlock();
  }
  lock_statistics_callback(40000, 64);
  lock_statistics_callback(90000, 256);
  lock_statistics_callback(10000, 64);

  lock_statistics_take(r);
  EXPECT_EQ(r.holds, 6u);
  ASSERT_EQ(r.site_count, 2);
  EXPECT_EQ(int(r.longest[0].line), long_line);
  EXPECT_NE(std::string(r.longest[0].file).find("lock_test.cc"), std::string::npos);
  EXPECT_GE(r.longest[0].longest_ns, 3000000);
  EXPECT_EQ(r.longest[0].holds, 1u);
  EXPECT_EQ(r.longest[1].holds, 5u);
  EXPECT_LT(r.longest[1].longest_ns, r.longest[0].longest_ns);
  EXPECT_EQ(r.callback_longest_ns, 90000);
  EXPECT_EQ(r.callback_frames, 256u);
  EXPECT_EQ(r.callbacks, 3u);

  // The next report starts afresh.
  lock_statistics_take(r);
  EXPECT_EQ(r.holds, 0u);
  EXPECT_EQ(r.site_count, 0);
  EXPECT_EQ(r.callback_longest_ns, 0);
  EXPECT_EQ(r.callbacks, 0u);
}

TEST(LockStatisticsTest, TheReportShowsTheFourLongestSitesLongestFirst) {
  lock_statistics_reset();
  const CallSite sites[] = {
      CallSite::current(),
      CallSite::current(),
      CallSite::current(),
      CallSite::current(),
      CallSite::current(),
      CallSite::current(),
  };
  const int64_t held[] = {3000, 9000, 1000, 7000, 5000, 2000};
  pthread_mutex_lock(engine_mutex());  // as engine_unlock records them
  for (int round = 0; round < 2; round++) {
    for (int i = 0; i < 6; i++) lock_statistics_record(sites[i], held[i] / (round + 1));
  }
  pthread_mutex_unlock(engine_mutex());
  LockReport r;
  lock_statistics_take(r);
  EXPECT_EQ(r.holds, 12u);
  ASSERT_EQ(r.site_count, lock_report_sites);
  const int expected_order[] = {1, 3, 4, 0};
  for (int k = 0; k < lock_report_sites; k++) {
    const int i = expected_order[k];
    EXPECT_EQ(r.longest[k].line, sites[i].line()) << k;
    EXPECT_EQ(r.longest[k].longest_ns, held[i]) << k;
    EXPECT_EQ(r.longest[k].holds, 2u) << k;
  }
}

}  // namespace

namespace {

// A stand-in audio thread holds the mutex across a "period" of frames that lasts until the
// other thread has had its turn; it lets go only through the hand-over.
TEST(EngineHandOverTest, AThreadThatAsksGetsTheLockBetweenTwoFramesOfAPeriod) {
  std::atomic<bool> audio_holds{false};
  std::atomic<bool> other_done{false};
  std::atomic<int> frames_while_other_held{0};
  std::atomic<bool> other_holds{false};
  std::atomic<bool> period_over{false};
  std::thread audio([&] {
    pthread_mutex_t* mutex = engine_mutex();
    pthread_mutex_lock(mutex);
    audio_holds = true;
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!other_done && std::chrono::steady_clock::now() < give_up) {
      engine_hand_over_if_wanted(mutex);
      if (other_holds) frames_while_other_held++;  // the hand-over gave the lock away
    }
    period_over = true;
    pthread_mutex_unlock(mutex);
  });
  while (!audio_holds) std::this_thread::yield();
  engine_lock();
  EXPECT_FALSE(period_over.load());  // it got in between two frames, not after the period
  other_holds = true;
  std::this_thread::sleep_for(std::chrono::milliseconds(2));
  other_holds = false;
  engine_unlock();
  other_done = true;
  audio.join();
  EXPECT_EQ(frames_while_other_held.load(), 0);  // no frame ran while the other thread held it
  EXPECT_EQ(engine_lock_waiters.load(), 0);
}

}  // namespace
