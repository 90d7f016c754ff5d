// The loader's finishing step: blocks handed over with append_track_block become a muted loop
// that plays, with the file's words where the engine can play them and defaults where not.
#include "engine/track_load.h"

#include <cmath>
#include <limits>

#include "tests/fixtures/looper_test_fixture.h"

namespace {

class TrackLoadTest : public LooperTest {
 protected:
  // Hands two blocks (8192 + 100 frames) to track t.
  static void hand_over(int32_t t) {
    for (int32_t bytes : {block_bytes, 800}) {
      int32_t* block = take_zeroed_block();
      ASSERT_NE(block, nullptr);
      ASSERT_GT(append_track_block(t, block, bytes), 0);
    }
  }
  static constexpr int32_t length = block_frames + 100;
};

TEST_F(TrackLoadTest, AFinishedLoadIsAMutedLoopThatPlays) {
  hand_over(3);
  EXPECT_EQ(state_of(3), track_stopped);
  EXPECT_FALSE(on_list(engine_state.muted_list, 3));  // not yet: no list, no window
  TrackFileWords w = take_file_words(length);
  w.atten = 10;
  w.pan = 20;
  w.vsp = 50;
  ASSERT_EQ(finish_track_load(3, w, false), 0);
  const Track& v = tracks[3];
  EXPECT_EQ(v.length, length);
  EXPECT_TRUE(on_list(engine_state.muted_list, 3));
  EXPECT_EQ(v.loop_end, length);
  EXPECT_EQ(v.position, 0);
  EXPECT_EQ(v.target_level[0], 30);  // atten + pan on the left
  EXPECT_EQ(v.current_level[1], 10);
  EXPECT_EQ(v.audio_changed, 0);
  EXPECT_EQ(v.audio_saved, 1);
  ASSERT_EQ(play_track(3), 0);
  run_frames(length + 10);
  EXPECT_EQ(v.loop_count, 1);                                 // wrapped at the loop's end
  EXPECT_EQ(finish_track_load(4, w, false), loader_refused);  // nothing handed over
}

TEST_F(TrackLoadTest, WordsTheEngineCannotPlayFallBackToDefaults) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  struct Case {
    const char* what;
    TrackFileWords words;
    int32_t rate, loop_start, loop_end, atten, pan, clock_source, vsp;
    double period;
  } const cases[] = {
      {"stopped", {0, 0, 0, 0, length, 0, 0, 0, 0, -1, 0}, 256, 0, length, 0, 0, -1, 0, 0},
      {"too fast", {0, 0, 5000, 0, length, 0, 0, 0, 0, -1, 0}, 256, 0, length, 0, 0, -1, 0, 0},
      {"reverse, forward window",
       {0, 0, -256, 0, length, 0, 0, 0, 0, -1, 0},
       -256,
       length - 1,
       -1,
       0,
       0,
       -1,
       0,
       0},
      {"loud, wide",
       {0, 0, 256, 0, length, 0, 999, -999, 0, -1, 0},
       256,
       0,
       length,
       200,
       -128,
       -1,
       0,
       0},
      {"no such source",
       {0, 0, 256, 0, length, 0, 0, 0, 0, 8, nan},
       256,
       0,
       length,
       0,
       0,
       -1,
       0,
       0},
      {"far offset",
       {0, 0, 256, 0, length, 0, 0, 0, 3 * length + 5, -2, 12.5},
       256,
       0,
       length,
       0,
       0,
       -2,
       5,
       12.5},
  };
  for (const Case& c : cases) {
    erase_track(1);
    hand_over(1);
    ASSERT_EQ(finish_track_load(1, c.words, true), 0) << c.what;
    const Track& v = tracks[1];
    EXPECT_EQ(v.rate, c.rate) << c.what;
    EXPECT_EQ(v.loop_start, c.loop_start) << c.what;
    EXPECT_EQ(v.loop_end, c.loop_end) << c.what;
    EXPECT_EQ(v.atten, c.atten) << c.what;
    EXPECT_EQ(v.pan, c.pan) << c.what;
    EXPECT_EQ(v.clock_source, c.clock_source) << c.what;
    EXPECT_EQ(v.vsp, c.vsp) << c.what;
    EXPECT_EQ(v.clock_period, c.period) << c.what;
    EXPECT_EQ(v.audio_changed, 1) << c.what;
  }
}

}  // namespace
