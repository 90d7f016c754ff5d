#include "core/deadline.h"

namespace {
constexpr int64_t ns_per_second = 1000000000;
}

void cond_init_monotonic(pthread_cond_t& cond) {
  pthread_condattr_t attr;
  pthread_condattr_init(&attr);
  pthread_condattr_setclock(&attr, CLOCK_MONOTONIC);
  pthread_cond_init(&cond, &attr);
  pthread_condattr_destroy(&attr);
}

timespec deadline_after(int64_t ns) {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  const int64_t nsec = int64_t(t.tv_nsec) + ns % ns_per_second;
  t.tv_sec += time_t(ns / ns_per_second + nsec / ns_per_second);
  t.tv_nsec = long(nsec % ns_per_second);
  return t;
}
