// Timed waits on a condition variable, on the monotonic clock: a step of the wall clock (an NTP
// correction, a date set by hand) neither stretches nor cuts a wait.
#pragma once

#include <pthread.h>
#include <time.h>

#include <cstdint>

// (Re)initialises cond to time its waits on CLOCK_MONOTONIC.
void cond_init_monotonic(pthread_cond_t& cond);

// The CLOCK_MONOTONIC time ns nanoseconds from now, for pthread_cond_timedwait on a condition
// initialised by cond_init_monotonic.
timespec deadline_after(int64_t ns);
