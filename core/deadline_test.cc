#include "core/deadline.h"

#include <gtest/gtest.h>

#include <cerrno>

#include "core/console_output.h"
#include "core/lock.h"

namespace {

int64_t monotonic_ns() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return int64_t(t.tv_sec) * 1000000000 + t.tv_nsec;
}

TEST(DeadlineTest, CarriesNanosecondsIntoSeconds) {
  const int64_t before = monotonic_ns();
  const timespec d = deadline_after(2999999999);
  const int64_t at = int64_t(d.tv_sec) * 1000000000 + d.tv_nsec;
  EXPECT_GE(d.tv_nsec, 0);
  EXPECT_LT(d.tv_nsec, 1000000000);
  EXPECT_GE(at - before, 2999999999);
  EXPECT_LT(at - before, 3999999999);
}

// Every timed wait of the looper runs on the monotonic clock: a deadline from deadline_after
// makes a wait on a condition timed on the wall clock end at once (the monotonic time is long
// past as a date), so the wait lasting its full time shows the condition's clock.
TEST(DeadlineTest, TimedWaitsLastTheirTimeOnTheMonotonicClock) {
  pthread_cond_t own;
  cond_init_monotonic(own);
  const struct {
    const char* name;
    pthread_cond_t* cond;
  } conditions[] = {
      {"cond_init_monotonic", &own},
      {"main_loop_lock.cond", &main_loop_lock.cond},
      {"console_output.wake", &console_output.wake},
  };
  constexpr int64_t wait_ns = 30000000;  // 30 ms
  pthread_mutex_t mutex = PTHREAD_MUTEX_INITIALIZER;
  for (const auto& c : conditions) {
    pthread_mutex_lock(&mutex);
    const int64_t start = monotonic_ns();
    const timespec deadline = deadline_after(wait_ns);
    int result = 0;
    while (result == 0) result = pthread_cond_timedwait(c.cond, &mutex, &deadline);  // spurious
    const int64_t waited = monotonic_ns() - start;
    pthread_mutex_unlock(&mutex);
    EXPECT_EQ(result, ETIMEDOUT) << c.name;
    EXPECT_GE(waited, wait_ns) << c.name << " waited on another clock";
  }
  pthread_cond_destroy(&own);
}

}  // namespace
