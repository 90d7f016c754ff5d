// The count-in through the whole engine frame with the drums as the clock: the take starts on
// the bar start after the counted bars and closes itself the set bars later, to the frame; a
// press cancels the count or closes the take at the next bar; the click ticks on the beats.
#include "engine/count_in.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "drums/count_in_settings.h"
#include "drums/drum_machine.h"
#include "engine/click.h"
#include "tests/fixtures/looper_test_fixture.h"

namespace {

constexpr int32_t bar = 96000;  // frames of a 4/4 bar at 120 BPM
constexpr int32_t beat = bar / 4;
constexpr uint32_t period = 256;

class CountInTest : public LooperTest {
 protected:
  void SetUp() override {
    LooperTest::SetUp();
    drum_set_tempo(120);
    first_bar = uint32_t(engine_state.frame_counter) + 1u;  // the drums' first step
    drums_start(0);
    run_frames(30000);
    console_text();
  }

  // Runs whole periods as the process callback does, the click mixed after each; until done()
  // holds or `limit` frames. The main output's left channel is kept from frame `keep_from` on.
  template <typename Done>
  bool run_periods_until(Done done, int64_t limit) {
    for (int64_t n = 0; n < limit; n += period) {
      float left[period] = {}, right[period] = {};
      for (uint32_t i = 0; i < period; ++i) {
        run_inline_frame();
        if (done()) {
          mix(left, right, i + 1);
          return true;
        }
      }
      mix(left, right, period);
    }
    return false;
  }
  void mix(float* left, float* right, uint32_t frames) {
    const uint32_t last = engine_state.frame_counter;
    click_mix_period(left, right, frames, last);
    for (uint32_t i = 0; i < frames; ++i)
      if (std::fabs(left[i]) > 0.01f) loud.push_back(last - frames + 1 + i);
  }
  // The frames at which a tick began: the first loud frame after a quiet stretch, less the
  // frame the tick's sine needs to rise from zero.
  std::vector<uint32_t> tick_onsets() const {
    std::vector<uint32_t> onsets;
    for (size_t i = 0; i < loud.size(); ++i)
      if (i == 0 || loud[i] - loud[i - 1] > uint32_t(click_frames)) onsets.push_back(loud[i] - 1);
    return onsets;
  }
  uint32_t bar_start(int k) const { return first_bar + uint32_t(k) * uint32_t(bar); }

  uint32_t first_bar = 0;
  std::vector<uint32_t> loud;  // frame counters with the click above -40 dB
};

TEST_F(CountInTest, OnePressCountsInRecordsTwoBarsAndClosesOnTheBar) {
  set_rec_length(2);
  set_count_in_bars(1);
  set_click(click_count_in);
  ASSERT_EQ(count_in_press(0), CountInPress::taken);
  EXPECT_EQ(console_text(), "Count-in: track 1 records 2 bars after 1 bar of count-in\n");
  EXPECT_EQ(count_in_beats(), 4);
  ASSERT_TRUE(run_periods_until([] { return count_in.phase == count_in_counting; }, 2 * bar));
  EXPECT_EQ(uint32_t(engine_state.frame_counter), bar_start(1));
  ASSERT_TRUE(run_periods_until([] { return count_in_beats() == 3; }, bar));
  EXPECT_EQ(uint32_t(engine_state.frame_counter), bar_start(1) + beat);
  ASSERT_TRUE(run_periods_until([] { return engine_state.record_track == 0; }, bar));
  EXPECT_EQ(uint32_t(engine_state.frame_counter), bar_start(2)) << "the take starts on the bar";
  EXPECT_EQ(count_in_beats(), 0);
  ASSERT_TRUE(run_periods_until([] { return count_in.phase == count_in_closed; }, 3 * bar));
  EXPECT_EQ(uint32_t(engine_state.frame_counter), bar_start(4)) << "closed two bars later";
  EXPECT_EQ(tracks[0].length, 2 * bar);
  EXPECT_EQ(engine_state.overdub_track, 0) << "goes on as a second press would";
  count_in_service();
  EXPECT_EQ(count_in.phase, count_in_idle);
  EXPECT_EQ(console_text(), "Track 1 closed after 2 bars: 192000 frames\n");
  // The click sounded the four count-in beats, the first accented, and nothing after.
  EXPECT_EQ(tick_onsets(),
            (std::vector<uint32_t>{bar_start(1), bar_start(1) + beat, bar_start(1) + 2 * beat,
                                   bar_start(1) + 3 * beat}));
}

// What a second press or a change of clock does, by the phase it meets.
TEST_F(CountInTest, PressesAndClockChangesDuringTheCount) {
  struct Case {
    const char* name;
    int32_t rec_length;
    int32_t press_after;  // frames after the take's arming; -1 none
    int32_t tempo;        // drum tempo set during the count-in, 0 none
    int32_t length;       // the loop's length once closed; 0: no take
    int32_t take_bar;     // bar start of the take (0 = the drums' first)
  };
  const Case cases[] = {
      {"cancel during the count-in", 2, bar, 0, 0, 0},
      {"second press during the take closes at the next bar", 4, 2 * bar + beat, 0, bar, 2},
      {"free length closes at the bar after the press", 0, 3 * bar + beat, 0, 2 * bar, 2},
      {"tempo change during the count-in", 2, -1, 100, 2 * 115200, 0},
  };
  for (const Case& c : cases) {
    SetUp();
    set_rec_length(c.rec_length);
    set_count_in_bars(1);
    ASSERT_EQ(count_in_press(0), CountInPress::taken) << c.name;
    const uint32_t armed = engine_state.frame_counter;
    if (c.tempo != 0) {
      run_until([] { return count_in.phase == count_in_counting; });
      drum_set_tempo(c.tempo);
    }
    if (c.press_after >= 0) {
      run_frames(int64_t(c.press_after) - (uint32_t(engine_state.frame_counter) - armed));
      ASSERT_EQ(count_in_press(0), CountInPress::taken) << c.name;
    }
    run_until([] { return count_in.phase == count_in_closed || count_in.phase == count_in_idle; },
              8 * bar);
    if (c.length == 0) {
      EXPECT_EQ(count_in.phase, count_in_idle) << c.name;
      EXPECT_EQ(state_of(0), track_empty) << c.name;
      EXPECT_EQ(engine_state.clock_source_track, -1) << "the cancelled take gives back the role";
      EXPECT_EQ(console_text(),
                "Count-in: track 1 records 2 bars after 1 bar of count-in\n"
                "Count-in cancelled: track 1 stays empty\n")
          << c.name;
      run_frames(3 * bar);
      EXPECT_EQ(engine_state.record_track, -1) << c.name;
    } else {
      EXPECT_EQ(count_in.phase, count_in_closed) << c.name;
      EXPECT_EQ(tracks[0].length, c.length) << c.name;
      if (c.take_bar != 0) {
        EXPECT_EQ(uint32_t(engine_state.frame_counter), bar_start(c.take_bar) + uint32_t(c.length))
            << c.name;
      } else {
        // Closed on a bar start of the new tempo: the measure began in this frame.
        EXPECT_EQ(clock_follower.clocks_in_measure, 1) << c.name;
        EXPECT_EQ(clock_follower.measure_frames, 0) << c.name;
      }
    }
    TearDown();
  }
}

TEST_F(CountInTest, WithoutAClockThePressRecordsFreeAndSaysWhy) {
  drums_stop(0);
  run_frames(2 * bar);  // the follower loses the stopped drums
  set_count_in_bars(1);
  EXPECT_EQ(count_in_press(0), CountInPress::no_clock);
  EXPECT_EQ(console_text(),
            "Count-in off: no clock runs (start the drums, MIDI clock or JACK transport); "
            "recording free\n");
  EXPECT_EQ(count_in.phase, count_in_idle);
  // With neither setting made the press is the plain one, silently.
  set_count_in_bars(0);
  console_text();
  EXPECT_EQ(count_in_press(0), CountInPress::not_taken);
  EXPECT_EQ(console_text(), "");
}

TEST_F(CountInTest, AlwaysClickTicksOnEveryBeatAndOffIsSilent) {
  set_click(click_always);
  loud.clear();
  run_periods_until([] { return false; }, bar + 2 * beat);
  const std::vector<uint32_t> onsets = tick_onsets();
  ASSERT_GE(onsets.size(), 4u);
  // A tick on every beat, on the drums' beats.
  for (size_t i = 1; i < onsets.size(); ++i) EXPECT_EQ(onsets[i] - onsets[i - 1], uint32_t(beat));
  EXPECT_EQ((onsets[0] - first_bar) % uint32_t(beat), 0u);
  set_click(click_off);
  loud.clear();
  run_periods_until([] { return false; }, bar);
  EXPECT_TRUE(loud.empty());
}

// An outside MIDI clock (0xF8 every 1000 frames after 0xFA) is a bar clock too: the take starts
// on a measure start of its ticks and lasts the set bars of them.
TEST_F(CountInTest, AnOutsideMidiClockCountsInAsTheDrumsDo) {
  drums_stop(0);
  run_frames(2 * bar);  // the drums' clock is lost
  config.midi_clock_in = 1;
  constexpr int32_t tick_frames = 1000;  // 120 BPM
  auto run_clocked = [](int64_t frames, auto done) {
    for (int64_t i = 0; i < frames; ++i) {
      if (uint32_t(engine_state.frame_counter) % tick_frames == 0) {
        pthread_mutex_lock(engine_mutex());
        clock_outside_byte(midi_byte_clock);
        pthread_mutex_unlock(engine_mutex());
      }
      run_inline_frame();
      if (done()) return true;
    }
    return false;
  };
  pthread_mutex_lock(engine_mutex());
  clock_outside_byte(midi_byte_start);
  pthread_mutex_unlock(engine_mutex());
  run_clocked(bar, [] { return false; });  // the follower locks after a beat
  ASSERT_TRUE(bar_clock_running());
  set_rec_length(2);
  set_count_in_bars(1);
  ASSERT_EQ(count_in_press(0), CountInPress::taken);
  ASSERT_TRUE(run_clocked(3 * bar, [] { return engine_state.record_track == 0; }));
  EXPECT_EQ(clock_follower.clocks_in_measure, 1) << "the take starts on a measure's first tick";
  ASSERT_TRUE(run_clocked(3 * bar, [] { return count_in.phase == count_in_closed; }));
  EXPECT_EQ(tracks[0].length, 2 * bar);
}

}  // namespace
