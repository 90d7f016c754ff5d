#include "midi/transport_clock.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "config/config.h"
#include "host/looper.h"

namespace {

constexpr uint32_t period = 256;
constexpr double bpm_100_tick = 1200;  // frames per tick at 100 BPM

// A master whose position is exact at every frame: `frame` frames after bar 1 beat 1.
TransportPosition master_at(double frame, double bpm, bool rolling = true, int beats = 4) {
  TransportPosition p{};
  p.rolling = rolling;
  p.bbt_valid = true;
  p.frame_rate = 48000;
  p.beats_per_bar = beats;
  p.ticks_per_beat = 1920;
  p.beats_per_minute = bpm;
  const double beat_frames = 48000 * 60 / bpm;
  const auto whole_beats = int64_t(frame / beat_frames);
  p.bar = int32_t(whole_beats / beats + 1);
  p.beat = int32_t(whole_beats % beats + 1);
  p.tick = int32_t((frame - double(whole_beats) * beat_frames) / beat_frames * 1920);
  return p;
}

struct Tick {
  uint64_t frame;  // absolute
  uint8_t code;
};

class TransportFollowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    looper_reset();
    config_defaults();
  }

  // One period at absolute frame `at`: its events kept (ticks with absolute frames) and fed to
  // the follower frame by frame, as the process callback does.
  ClockInputEvents run(uint64_t at, const TransportPosition& p) {
    ClockInputEvents events{};
    transport_follow_period(follow, p, period, events);
    for (int i = 0; i < events.count; i++) {
      if (events.byte[i] != midi_byte_stop && events.byte[i] != clock_event_roll) {
        ticks.push_back({at + events.frame[i], events.byte[i]});
      }
    }
    for (uint32_t f = 0; f < period; f++) {
      clock_input_apply(events, f);
      clock_follow_frame(uint32_t(at + f + 1));
    }
    return events;
  }

  TransportFollow follow{};
  std::vector<Tick> ticks;
};

TEST_F(TransportFollowTest, AnExactMasterGivesOneTickPerPulseAndBarsAsMeasures) {
  for (uint64_t at = 0; at < 40 * period * 24; at += period) run(at, master_at(double(at), 100));
  // Every 1200 frames, none lost or doubled across periods, beats and bars marked.
  // The master's whole ticks (1920 per beat, 15 frames at 100 BPM) are truncated; the follower
  // centres on the truth within a frame or two once it has a beat behind it, and is never off
  // by more than half a master's tick.
  ASSERT_GT(ticks.size(), 100u);
  double worst = 0;
  for (size_t i = 0; i < ticks.size(); i++) {
    const double error = std::fabs(double(ticks[i].frame) - double(i * 1200));
    EXPECT_LE(error, i >= 24 ? 2 : 8) << i;
    if (i >= 24) worst = std::fmax(worst, error);
    const uint8_t want = i % 96 == 0   ? clock_event_bar_tick
                         : i % 24 == 0 ? clock_event_beat_tick
                                       : clock_event_tick;
    EXPECT_EQ(ticks[i].code, want) << i;
  }
  RecordProperty("worst_tick_error_frames", std::to_string(worst));
  EXPECT_EQ(clock_follower.clock_lock, 0);
  EXPECT_DOUBLE_EQ(clock_follower.clock_period, bpm_100_tick);
  EXPECT_EQ(clock_follower.clocks_last_measure, 96) << "a measure is a bar of the master";
  EXPECT_EQ(clock_follower.missed_clocks, 0);
  EXPECT_EQ(transport_shared.relocations.load(), 0);
}

TEST_F(TransportFollowTest, AMasterLateNowAndThenLosesAndDoublesNoTick) {
  // The master leaves its previous position standing every fifth period, and its positions
  // truncate to whole ticks of 1920 per beat.
  double said = 0;
  for (uint64_t at = 0, n = 0; at < 200 * period; at += period, n++) {
    run(at, master_at(said, 100));
    if (n % 5 != 4) said = double(at + period);
  }
  for (size_t i = 1; i < ticks.size(); i++) {
    EXPECT_GT(ticks[i].frame, ticks[i - 1].frame) << i;
    EXPECT_NEAR(double(ticks[i].frame - ticks[i - 1].frame), bpm_100_tick, 300) << i;
  }
  EXPECT_NEAR(double(ticks.size()), 200.0 * period / bpm_100_tick, 1);
  EXPECT_EQ(transport_shared.relocations.load(), 0);
}

TEST_F(TransportFollowTest, RelocationsAndTempoChangesAreTakenInTheSamePeriod) {
  uint64_t at = 0;
  for (; at < 100 * period; at += period) run(at, master_at(double(at), 100));
  // Back to bar 1 beat 1: the next tick is a bar start at the period's first frame.
  ticks.clear();
  run(at, master_at(0, 100));
  EXPECT_EQ(transport_shared.relocations.load(), 1);
  ASSERT_FALSE(ticks.empty());
  EXPECT_EQ(ticks[0].frame, at);
  EXPECT_EQ(ticks[0].code, clock_event_bar_tick);
  // 140 BPM: the follower's period in this very period.
  at += period;
  const ClockInputEvents events = run(at, master_at(double(period), 140));
  EXPECT_NEAR(events.period, 48000 * 60 / 140.0 / 24, 1e-9);
  EXPECT_NEAR(clock_follower.transport_period, 48000 * 60 / 140.0 / 24, 1e-9);
}

TEST_F(TransportFollowTest, AFaultyOrMissingMasterGivesNoTicksAndStopsTheMeasureCount) {
  struct Case {
    const char* what;
    TransportPosition position;
    TransportFollowState state;
  };
  auto with = [](auto change) {
    TransportPosition p = master_at(48000, 100);
    change(p);
    return p;
  };
  const Case cases[] = {
      {"tempo 0", with([](TransportPosition& p) { p.beats_per_minute = 0; }),
       TransportFollowState::tempo_refused},
      {"tempo 1e9", with([](TransportPosition& p) { p.beats_per_minute = 1e9; }),
       TransportFollowState::tempo_refused},
      {"tempo NaN", with([](TransportPosition& p) {
         p.beats_per_minute = std::numeric_limits<double>::quiet_NaN();
       }),
       TransportFollowState::tempo_refused},
      {"no beats per bar", with([](TransportPosition& p) { p.beats_per_bar = 0; }),
       TransportFollowState::tempo_refused},
      {"tick past the beat", with([](TransportPosition& p) { p.tick = 5000; }),
       TransportFollowState::tempo_refused},
      {"bar 0", with([](TransportPosition& p) { p.bar = 0; }), TransportFollowState::tempo_refused},
      {"no bar and beat", with([](TransportPosition& p) { p.bbt_valid = false; }),
       TransportFollowState::no_master},
      {"stopped", with([](TransportPosition& p) { p.rolling = false; }),
       TransportFollowState::stopped},
  };
  for (const Case& c : cases) {
    SetUp();
    follow = {};
    ticks.clear();
    uint64_t at = 0;
    for (; at < 200 * period; at += period) run(at, master_at(double(at), 100));
    ASSERT_EQ(clock_follower.outside_running, 1) << c.what;
    ticks.clear();
    const ClockInputEvents events = run(at, c.position);
    EXPECT_TRUE(ticks.empty()) << c.what;
    ASSERT_GE(events.count, 1) << c.what;
    EXPECT_EQ(events.byte[0], midi_byte_stop) << c.what;
    EXPECT_EQ(clock_follower.outside_running, 0) << c.what << ": the measure count stops";
    EXPECT_EQ(transport_shared.follow_state.load(), int32_t(c.state)) << c.what;
    // The flywheel runs on, and the clock is lost 24 ticks later, as for MIDI clock.
    EXPECT_GT(clock_follower.clock_period, 0) << c.what;
    for (int i = 0; i < 130; i++) run(at += period, c.position);
    EXPECT_EQ(clock_follower.clock_lock, -1) << c.what;
    EXPECT_EQ(clock_follower.lock_lost_count, 1) << c.what;
  }
}

}  // namespace
