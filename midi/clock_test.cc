#include "midi/clock.h"

#include <gtest/gtest.h>

#include <vector>

#include "config/config.h"
#include "tests/fixtures/test_names.h"
#include "host/looper.h"
#include "midi/midi_codes.h"
#include "midi/midi_parser.h"
#include "midi/midi_queue.h"

namespace {

class ClockTest : public ::testing::Test {
 protected:
  void SetUp() override {
    looper_reset();
    config_defaults();
  }

  // Runs the follower for frames frame_counter+1 .. `until`, one tick wherever `tick_at` says.
  template <typename TickAt>
  void follow_until(uint32_t until, TickAt tick_at) {
    while (now < until) {
      ++now;
      if (tick_at(now)) clock_tick();
      clock_follow_frame(now);
    }
  }
  void follow_until(uint32_t until) {
    follow_until(until, [](uint32_t) { return false; });
  }

  uint32_t now = 0;  // the frame counter of the last frame run
};

TEST_F(ClockTest, DrumStartPrimesTheFollower) {
  follow_until(5000);
  start_drum_clock(96, 1000.5);
  const ClockFollower& c = clock_follower;
  EXPECT_EQ(c.clock_period, 1000.5);
  EXPECT_EQ(c.clock_lock, 1);
  EXPECT_EQ(c.beat_position, 0);
  EXPECT_EQ(c.clocks_in_measure, 96);
  EXPECT_EQ(c.clocks_last_measure, 96);
  EXPECT_EQ(c.last_clock_time, 5001u - 1000u) << "a period before the first drum tick";
  EXPECT_EQ(c.start_pending, 1);
  EXPECT_EQ(c.intervals[0], 1000);
  EXPECT_EQ(c.intervals[1], 1001);  // the half frames carry over
  EXPECT_EQ(c.beat_length, 24012);
  EXPECT_EQ(c.interval_index, 0);
}

TEST_F(ClockTest, ClockIsLostTwentyFourPeriodsAfterTheLastTick) {
  follow_until(2000);
  start_drum_clock(96, 1000);  // as if the last tick came at frame 1001
  follow_until(25001);
  EXPECT_EQ(clock_follower.clock_lock, 1);
  EXPECT_EQ(clock_follower.lock_lost_count, 0);
  follow_until(25002);
  const ClockFollower& c = clock_follower;
  EXPECT_EQ(c.clock_lock, -1);
  EXPECT_EQ(c.clock_period, 0);
  EXPECT_EQ(c.lock_lost_count, 1);
  EXPECT_EQ(c.beat_position, 0);
  EXPECT_EQ(c.last_clock_time, 0u);
  EXPECT_EQ(c.beat_length, 0);
  follow_until(200000);
  EXPECT_EQ(clock_follower.lock_lost_count, 1) << "a lost clock is lost once";
}

TEST_F(ClockTest, TwoTicksInOneFrameCountOneReceivedAndOneMissed) {
  clock_tick();
  clock_tick();
  clock_follow_frame(++now);
  EXPECT_EQ(clock_follower.received_clocks, 1);
  EXPECT_EQ(clock_follower.missed_clocks, 1);
  EXPECT_EQ(clock_follower.pending_ticks, 0);
  EXPECT_EQ(clock_follower.clocks_in_measure, 2);
}

TEST_F(ClockTest, SteadyTicksAreFollowedAfterOneBeat) {
  // 100 BPM: 1200 frames per tick.
  const auto every_1200 = [](uint32_t f) { return f % 1200 == 0; };
  follow_until(24 * 1200, every_1200);  // 24 ticks, 23 intervals
  EXPECT_EQ(clock_follower.clock_lock, -1);
  EXPECT_EQ(clock_follower.clock_period, 0);
  follow_until(25 * 1200, every_1200);
  const ClockFollower& c = clock_follower;
  EXPECT_EQ(c.clock_lock, 0);
  EXPECT_EQ(c.clock_period, 1200.0);
  EXPECT_EQ(c.beat_length, 28800);
  EXPECT_EQ(c.beat_position, 0) << "the ring's wrap starts a beat";
  EXPECT_EQ(c.min_diff, 1200);
  EXPECT_EQ(c.max_diff, 1200);
  follow_until(25 * 1200 + 28799, every_1200);
  EXPECT_EQ(clock_follower.beat_position, 28799);
  follow_until(26 * 1200 + 28800, every_1200);
  EXPECT_EQ(clock_follower.beat_position, 1200);
  EXPECT_EQ(clock_follower.flywheel_drift, 0);
  EXPECT_EQ(clock_follower.received_clocks, 50);
}

struct FlywheelCase {
  uint32_t since_tick;  // frames from the last tick to the wrap
  double drift;
  int32_t beat_after;  // beat_position after the wrap
};

class FlywheelTest : public ClockTest, public testing::WithParamInterface<FlywheelCase> {};

TEST_P(FlywheelTest, WrapWithoutATickNudgesTheBeatTowardTheTicks) {
  const FlywheelCase k = GetParam();
  ClockFollower& c = clock_follower;
  now = 100000;
  c.clock_period = 1000;
  c.clock_lock = 1;
  c.beat_length = 24000;
  c.beat_position = 23999;
  c.last_clock_time = now + 1 - k.since_tick;
  clock_follow_frame(++now);
  EXPECT_EQ(c.flywheel_drift, k.drift);
  EXPECT_EQ(c.beat_position, k.beat_after);
}

INSTANTIATE_TEST_SUITE_P(PhaseErrors, FlywheelTest,
                         testing::Values(FlywheelCase{990, 10, -4},  // ticks lag the beat
                                         FlywheelCase{10, -10, 4},   // ticks lead it
                                         FlywheelCase{1003, -3, 0},  // small errors stay
                                         FlywheelCase{500, -500, 4}),
                         [](const auto& info) {
                           const auto& c = info.param;
                           return param_case_name("since_tick", c.since_tick, "drift", c.drift);
                         });

TEST_F(ClockTest, MeasureStartsCountClocksAndErrors) {
  ClockFollower& c = clock_follower;
  for (int i = 0; i < 96; i++) clock_tick();
  clock_measure_start();
  EXPECT_EQ(c.measure_errors, 1) << "the first measure differs from none";
  EXPECT_EQ(c.clocks_last_measure, 96);
  for (int i = 0; i < 96; i++) clock_tick();
  c.measure_frames = 777;
  c.beat_position = 42;
  clock_measure_start();
  EXPECT_EQ(c.measure_errors, 1);
  EXPECT_EQ(c.clocks_in_measure, 0);
  EXPECT_EQ(c.measure_frames, 0);
  EXPECT_EQ(c.measure_start_time, 42);
}

TEST_F(ClockTest, TrackPulsesQueueTimingClockBytes) {
  clock_send_pulse();
  ASSERT_EQ(midi_out_pending(), 1);
  EXPECT_EQ(midi_out_length(), 1);
  EXPECT_EQ(midi_out_take()[0], midi_byte_clock);
}

// The outside clock: real-time bytes with their frame offsets within one period.
TEST_F(ClockTest, OutsideClockBytesAreKeptOnlyWhileClockInIsOn) {
  const uint8_t note[] = {0x90, 60, 100};
  const uint8_t tick[] = {0xF8};
  const uint8_t start[] = {0xFA};
  const uint8_t sense[] = {0xFE};
  ClockInputEvents events{};
  config.midi_clock_in = 0;
  clock_input_collect(events, 10, tick, 1);
  EXPECT_EQ(events.count, 0);

  config.midi_clock_in = 1;
  clock_input_collect(events, 3, start, 1);
  clock_input_collect(events, 10, note, 3);
  clock_input_collect(events, 10, tick, 1);
  clock_input_collect(events, 200, sense, 1);
  clock_input_collect(events, 250, tick, 1);
  ASSERT_EQ(events.count, 3);
  EXPECT_EQ(events.frame[0], 3u);
  EXPECT_EQ(events.byte[1], 0xF8);
  EXPECT_EQ(events.frame[2], 250u);

  clock_input_apply(events, 9);
  EXPECT_EQ(clock_follower.outside_running, 1);
  EXPECT_EQ(clock_follower.pending_ticks, 0);
  clock_input_apply(events, 10);
  EXPECT_EQ(clock_follower.pending_ticks, 1);
  clock_input_apply(events, 255);
  EXPECT_EQ(clock_follower.pending_ticks, 2);
}

TEST_F(ClockTest, ClockBytesOnTheMidiInputDoNotReachTheFollower) {
  // The parser's path: the main loop reads the ring and drops real-time bytes.
  for (int i = 0; i < 50; i++) midi_in_put(0xF8);
  EXPECT_EQ(midi_poll(), 0);
  follow_until(1000);
  EXPECT_EQ(clock_follower.received_clocks, 0);
  // The process thread's path with clock in off: nothing is collected either.
  ClockInputEvents events{};
  const uint8_t tick[] = {0xF8};
  for (uint32_t f = 0; f < 40; f++) clock_input_collect(events, f, tick, 1);
  EXPECT_EQ(events.count, 0);
}

TEST_F(ClockTest, OutsideStartBeginsAMeasureAndABeatAtItsFirstTick) {
  config.beats_per_measure = 2;
  const uint32_t tick = 1200;
  auto outside_tick = [](uint32_t f) {
    if (f % 1200 == 0) clock_outside_byte(0xF8);
    return false;
  };
  follow_until(30 * tick + 500, outside_tick);  // followed, not started
  ClockFollower& c = clock_follower;
  ASSERT_EQ(c.clock_lock, 0);
  EXPECT_EQ(c.clocks_in_measure, 30);
  clock_outside_byte(0xFA);
  follow_until(31 * tick, outside_tick);
  EXPECT_EQ(c.beat_position, 0) << "the first tick after Start begins a beat";
  EXPECT_EQ(c.measure_frames, 0);
  EXPECT_EQ(c.clocks_in_measure, 1);
  follow_until(31 * tick + 48 * tick - 1, outside_tick);
  EXPECT_EQ(c.clocks_in_measure, 48);
  follow_until(31 * tick + 48 * tick, outside_tick);
  EXPECT_EQ(c.clocks_in_measure, 1) << "a measure of two beats";
  EXPECT_EQ(c.measure_frames, 0);
  EXPECT_EQ(c.beat_position, 0) << "beats stay on the ticks counted from Start";
  EXPECT_EQ(c.clock_period, 1200.0);
  clock_outside_byte(0xFC);
  follow_until(31 * tick + 100 * tick, outside_tick);
  EXPECT_EQ(c.clocks_in_measure, 53) << "stopped: ticks still counted, no measures";
}

}  // namespace
