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
  { EngineLockGuard brief; }
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
  // Six sites: a call site is its line, so one to a line.
  // clang-format off
  const CallSite sites[] = {
      CallSite::current(),
      CallSite::current(),
      CallSite::current(),
      CallSite::current(),
      CallSite::current(),
      CallSite::current(),
  };
  // clang-format on
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

// A stand-in audio thread: holds the mutex across a "period" of frames, letting go only through
// the hand-over, and ends the period once `done` says so or the period's time is up.
struct StandInPeriod {
  std::atomic<bool> holds{false};
  std::atomic<bool> over{false};
  std::atomic<int> hand_overs{0};  // hand-overs that let go of the mutex

  void run(int64_t until_ns, const std::atomic<bool>& done, std::chrono::milliseconds length) {
    pthread_mutex_t* mutex = engine_mutex();
    pthread_mutex_lock(mutex);
    holds = true;
    const auto end = std::chrono::steady_clock::now() + length;
    while (!done && std::chrono::steady_clock::now() < end) {
      const uint32_t turn = engine_hand_over_turn.load();
      engine_hand_over_if_wanted(mutex, until_ns);
      if (engine_hand_over_turn.load() != turn) hand_overs++;
    }
    over = true;
    pthread_mutex_unlock(mutex);
  }
};

TEST(EngineHandOverTest, AThreadThatAsksGetsTheLockBetweenTwoFramesOfAPeriod) {
  for (const int64_t until : {INT64_MAX, lock_clock_ns() + int64_t(60e9)}) {  // unbounded, budget
    StandInPeriod period;
    std::atomic<bool> other_done{false};
    std::atomic<bool> other_holds{false};
    std::atomic<int> frames_while_other_held{0};
    std::thread audio([&] {
      pthread_mutex_t* mutex = engine_mutex();
      int64_t until_ns = until;
      pthread_mutex_lock(mutex);
      period.holds = true;
      const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(30);
      while (!other_done && std::chrono::steady_clock::now() < give_up) {
        engine_hand_over_if_wanted(mutex, until_ns);
        if (other_holds) frames_while_other_held++;  // the hand-over gave the lock away
      }
      period.over = true;
      pthread_mutex_unlock(mutex);
    });
    while (!period.holds) std::this_thread::yield();
    engine_lock();
    EXPECT_FALSE(period.over.load());  // it got in between two frames, not after the period
    other_holds = true;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    other_holds = false;
    engine_unlock();
    other_done = true;
    audio.join();
    EXPECT_EQ(frames_while_other_held.load(), 0);  // no frame ran while the other thread held it
    EXPECT_EQ(engine_lock_waiters.load(), 0);
  }
}

// Past the budget the audio thread keeps the mutex to the end of its period.
TEST(EngineHandOverTest, ASpentBudgetKeepsTheLockToTheEndOfThePeriod) {
  StandInPeriod period;
  const std::atomic<bool> never{false};
  std::thread audio([&] { period.run(lock_clock_ns() - 1, never, std::chrono::milliseconds(50)); });
  while (!period.holds) std::this_thread::yield();
  engine_lock();
  EXPECT_TRUE(period.over.load());
  engine_unlock();
  audio.join();
  EXPECT_EQ(period.hand_overs.load(), 0);
}

// A thread taking the lock back to back gets one turn per hand-over: the audio thread runs
// frames between its holds, and each turn is a hand-over of its own.
TEST(EngineHandOverTest, BackToBackHoldsGetOneTurnPerHandOver) {
  StandInPeriod period;
  std::atomic<bool> done{false};
  std::atomic<int> turns{0};
  std::thread audio(
      [&] { period.run(lock_clock_ns() + int64_t(60e9), done, std::chrono::seconds(30)); });
  while (!period.holds) std::this_thread::yield();
  for (int i = 0; i < 200; i++) {
    EngineLockGuard lock;
    EXPECT_FALSE(period.over.load());
    turns++;
  }
  done = true;
  audio.join();
  EXPECT_LE(turns.load(), period.hand_overs.load());
}

TEST(EngineHandOverTest, TheBudgetIsAPercentageOrUnbounded) {
  struct Case {
    const char* text;
    int32_t budget;  // after the call
    bool refused;
  };
  const Case cases[] = {{"40", 40, false}, {"unbounded", hand_over_unbounded, false},
                        {"0", 0, false},   {"101", 0, true},
                        {"-5", 0, true},   {"25%", 0, true},
                        {"", 0, true},     {"100", 100, false}};
  for (const Case& c : cases) {
    EXPECT_EQ(engine_hand_over_budget_set(c.text) != nullptr, c.refused) << c.text;
    EXPECT_EQ(engine_hand_over_budget.load(), c.budget) << c.text;
  }
  EXPECT_EQ(engine_hand_over_until(1000, 4000), 5000);  // 100 %
  engine_hand_over_budget_set("unbounded");
  EXPECT_EQ(engine_hand_over_until(1000, 4000), INT64_MAX);
  engine_hand_over_budget.store(hand_over_budget_default);
  EXPECT_EQ(engine_hand_over_until(1000, 4000), 2000);
}

}  // namespace
