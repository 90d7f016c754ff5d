#include "midi/clock.h"

ClockFollower clock_follower;

void clock_reset() {
  clock_follower = ClockFollower{};
  clock_follower.min_diff = 1000000;  // the report's reset values
}
