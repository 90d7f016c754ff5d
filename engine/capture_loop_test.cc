// The capture ring and Capture Loop: the ring holds what a recording stores, the loop's length
// and phase follow the clock source track, the bars or the phrase, and a capture with nothing
// usable changes nothing.
#include "engine/capture_loop.h"

#include "drums/drum_machine.h"
#include "tests/fixtures/looper_test_fixture.h"

namespace {

constexpr int32_t second = 48000;
constexpr int32_t loud_level = 1000000;  // far above the gate's 4096

class CaptureTest : public LooperTest {
 protected:
  void SetUp() override {
    LooperTest::SetUp();
    ASSERT_TRUE(listen_ring_start(ring_seconds));
    console_text();
  }
  void TearDown() override {
    listen_ring_stop();
    LooperTest::TearDown();
  }

  // Frames through the engine with input that differs from frame to frame (or silence), calling
  // after(written) when given.
  template <typename After>
  void feed(int64_t frames, bool sound, After after) {
    for (int64_t i = 0; i < frames; i++) {
      const int32_t x = sound ? loud_level + int32_t((fed * 7919) % 100003) * 16 : 0;
      inline_input = {(fed & 1) ? x : -x, (fed & 1) ? -x / 2 : x / 2, false};
      fed++;
      run_inline_frame();
      after(listen_ring.written.load());
    }
  }
  void feed(int64_t frames, bool sound = true) {
    feed(frames, sound, [](uint64_t) {});
  }

  static const int32_t* ring_frame(uint64_t a) { return listen_ring_frame(listen_ring, a); }
  static const int32_t* track_frame_of(int32_t t, int32_t k) {
    return track_blocks[t][k / block_frames] + 2 * (k % block_frames);
  }
  static bool same(const int32_t* a, const int32_t* b) { return a[0] == b[0] && a[1] == b[1]; }

  static constexpr int32_t ring_seconds = 8;
  int64_t fed = 0;
};

TEST_F(CaptureTest, RingHoldsWhatARecordingStoresAndWraps) {
  ASSERT_EQ(listen_ring.block_count, (ring_seconds * second + block_frames - 1) / block_frames);
  feed(second);
  ASSERT_EQ(start_record(0, sync_free, 0), 0);  // the punch-in ramp runs inline
  // Past the ring's end, so that it has wrapped while the recording ran.
  feed(listen_ring_capacity(listen_ring) + second);
  const uint64_t written = listen_ring.written.load();
  const int32_t length = tracks[0].length;
  for (int32_t back = 1; back <= 3 * block_frames; back += 7)
    ASSERT_TRUE(same(track_frame_of(0, length - back), ring_frame(written - uint64_t(back))))
        << back << " frames back";
}

TEST_F(CaptureTest, RingOffHoldsNoBlocks) {
  const int available = pool_available();
  listen_ring_start(0);
  const int ring_blocks = (ring_seconds * second + block_frames - 1) / block_frames;
  EXPECT_EQ(pool_available(), available + ring_blocks);
  EXPECT_EQ(listen_ring.cursor, nullptr);
  feed(100);
  EXPECT_EQ(listen_ring.written.load(), 0u);
  EXPECT_EQ(capture_loop(0, 1), status_refused);
  EXPECT_EQ(console_text(),
            "Capture ring off\nCapture refused: the capture ring is off (--capture-seconds 0)\n");
}

// The length choice on its own, from the moment's words.
struct PlanCase {
  const char* name;
  CaptureMoment moment;
  int32_t times;
  int64_t length;
  uint64_t end;
  uint64_t zero;
  bool refused;
};

CaptureMoment clock_moment(int32_t phase, int32_t rate = 256) {
  CaptureMoment m{};
  m.written = 1000000;
  m.capacity = 60 * second;
  m.source = 0;
  m.source_length = 96000;
  m.source_phase = phase;
  m.source_rate = rate;
  return m;
}

CaptureMoment bar_moment(bool outside) {
  CaptureMoment m{};
  m.written = 1000000;
  m.capacity = 60 * second;
  m.source = -1;
  m.bar_clock = true;
  m.outside_clock = outside;
  m.since_bar = 1000;
  m.bar_frames = 96000;
  return m;
}

class CapturePlanTest : public testing::TestWithParam<PlanCase> {};

TEST_P(CapturePlanTest, LengthAndPhase) {
  const PlanCase& c = GetParam();
  const CaptureSpan span = plan_capture(listen_ring, c.moment, c.times);
  if (c.refused) {
    EXPECT_NE(span.refusal, nullptr);
    return;
  }
  ASSERT_EQ(span.refusal, nullptr) << span.refusal;
  EXPECT_EQ(span.length, c.length);
  EXPECT_EQ(span.end, c.end);
  EXPECT_EQ(span.zero, c.zero);
}

// Ring frame a went in while the source played phase 30000 - (1000000 - a): its loop starts at
// a = 970000 - k × 96000.
INSTANTIATE_TEST_SUITE_P(
    Capture, CapturePlanTest,
    testing::Values(
        PlanCase{"clock_track", clock_moment(30000), 1, 96000, 1000000, 970000, false},
        PlanCase{"clock_track_at_its_start", clock_moment(0), 1, 96000, 1000000, 904000, false},
        PlanCase{"clock_track_twice", clock_moment(30000), 2, 192000, 1000000, 874000, false},
        PlanCase{"clock_track_four_times", clock_moment(30000), 4, 384000, 1000000, 682000, false},
        PlanCase{"clock_track_at_half_speed", clock_moment(30000, 128), 1, 0, 0, 0, true},
        PlanCase{"drum_bars", bar_moment(false), 1, 96000, 998999, 902999, false},
        PlanCase{"drum_bars_twice", bar_moment(false), 2, 192000, 998999, 806999, false},
        PlanCase{"drum_bars_four", bar_moment(false), 4, 384000, 998999, 614999, false},
        PlanCase{"outside_clock_bar_start", bar_moment(true), 1, 96000, 999000, 903000, false},
        PlanCase{"longer_than_the_ring", clock_moment(30000), 40, 0, 0, 0, true}),
    [](const testing::TestParamInfo<PlanCase>& info) { return std::string(info.param.name); });

TEST_F(CaptureTest, PhraseRunsFromTheRiseAfterQuietToWhereTheGateClosed) {
  feed(2 * second, false);
  const uint64_t rise = listen_ring.written.load();
  feed(3 * second);
  const uint64_t fall = listen_ring.written.load();
  feed(second / 2, false);
  CaptureMoment m{};
  m.written = listen_ring.written.load();
  m.capacity = listen_ring_capacity(listen_ring);
  m.source = -1;
  m.gate_level = engine_state.gate_level;
  m.gate_delay = engine_state.gate_delay;
  const CaptureSpan span = find_phrase(listen_ring, m);
  ASSERT_EQ(span.refusal, nullptr);
  EXPECT_EQ(span.zero, span.end - uint64_t(span.length));
  // The gate opens an eighth of its hold time after the rise and closes its hold time after the
  // fall.
  EXPECT_NEAR(double(span.zero), double(rise), m.gate_delay);
  EXPECT_NEAR(double(span.end), double(fall), m.gate_delay + 1);
  EXPECT_NEAR(double(span.length), 3.0 * second, m.gate_delay);
  EXPECT_EQ(capture_position(span, m.written + 100), 0);

  // Shorter quiet inside the phrase does not end it.
  feed(second / 2, false);  // one second of quiet in all
  feed(second);
  feed(second / 4, false);
  feed(second);
  m.written = listen_ring.written.load();
  const CaptureSpan second_phrase = find_phrase(listen_ring, m);
  EXPECT_NEAR(double(second_phrase.length), 2.25 * second, m.gate_delay);
}

TEST_F(CaptureTest, ClockSourceCaptureIsInPhaseWithTheSourceAndUndoErasesIt) {
  make_loop(0, 2 * second, true);
  engine_state.clock_source_track = 0;
  uint64_t source_start = 0;  // the ring frame taken while track 1 played its frame 0
  feed(5 * second, true, [&](uint64_t written) {
    if (tracks[0].position == 1) source_start = written - 1;
  });
  const int available = pool_available();
  ASSERT_EQ(capture_loop(1, 1), 0);
  EXPECT_EQ(console_text(),
            "Track 2 captured: 96000 frames, in phase with the clock source track\n");
  const Track& v = tracks[1];
  ASSERT_EQ(v.length, 2 * second);
  EXPECT_EQ(state_of(1), track_playing);
  EXPECT_EQ(v.clock_source, 0);
  EXPECT_EQ(v.position, tracks[0].position);
  for (int32_t k = 0; k < v.length; k += 97)
    ASSERT_TRUE(same(track_frame_of(1, k),
                     ring_frame(source_start + uint64_t(k) < listen_ring.written.load()
                                    ? source_start + uint64_t(k)
                                    : source_start + uint64_t(k) - uint64_t(v.length))))
        << "frame " << k;
  feed(12345);
  EXPECT_EQ(v.position, tracks[0].position);

  ASSERT_EQ(undo(1), 0);
  EXPECT_EQ(state_of(1), track_empty);
  EXPECT_EQ(track_block_count(1), 0);
  EXPECT_EQ(pool_available(), available);
}

TEST_F(CaptureTest, DrumCaptureIsWholeBarsEndingAtTheLastBarStart) {
  ASSERT_EQ(drums_start(0), 0);
  uint64_t bar_start = 0;
  feed(5 * second + 777, true, [&](uint64_t written) {
    if (clock_follower.measure_frames == 0) bar_start = written - 1;
  });
  ASSERT_EQ(capture_loop(0, 2), 0);
  const Track& v = tracks[0];
  ASSERT_EQ(v.length, 2 * 2 * second);  // two bars of 2 s at 120 BPM
  EXPECT_TRUE(same(track_frame_of(0, v.length - 1), ring_frame(bar_start - 1)));
  EXPECT_TRUE(same(track_frame_of(0, 0), ring_frame(bar_start - uint64_t(v.length))));
  EXPECT_EQ(v.position, int32_t(listen_ring.written.load() - bar_start));
  EXPECT_EQ(engine_state.clock_source_track, 0);  // the first loop becomes the clock source
  // A free loop of whole bars: at a whole-frame tempo it stays on the bars.
  feed(3 * v.length + 999);
  EXPECT_EQ(v.position, int32_t((listen_ring.written.load() - bar_start) % uint64_t(v.length)));
}

TEST_F(CaptureTest, NothingUsableChangesNothing) {
  // Silence.
  feed(2 * second, false);
  const int available = pool_available();
  EXPECT_EQ(capture_loop(0, 1), status_refused);
  EXPECT_EQ(console_text(), "Capture refused: nothing above the noise gate to capture\n");
  // A clock source track over silence.
  make_loop(0, second, true);
  engine_state.clock_source_track = 0;
  feed(2 * second, false);
  EXPECT_EQ(capture_loop(1, 1), status_refused);
  EXPECT_EQ(console_text(), "Capture refused: nothing above the noise gate to capture\n");
  // A loop longer than the ring holds.
  feed(2 * second);
  EXPECT_EQ(capture_loop(1, 4), 0);  // 4 s of an 8 s ring
  EXPECT_EQ(tracks[1].length, 4 * second);
  ASSERT_EQ(undo(1), 0);
  tracks[0].length = 0;
  list_remove(engine_state.play_list, 0);
  release_track_blocks(0);
  make_loop(0, 3 * second, true);
  EXPECT_EQ(capture_loop(1, 4), status_refused);
  EXPECT_EQ(console_text(),
            "Track 2 captured: 192000 frames, in phase with the clock source track\n"
            "Capture refused: the capture ring does not hold the whole loop\n");
  // Every track holds a loop.
  for (int32_t t = 1; t < track_count; t++) make_loop(t, 1000);
  EXPECT_EQ(capture_loop(1, 1), status_refused);
  EXPECT_EQ(console_text(), "Capture refused: no empty track\n");
  for (int32_t t = 1; t < track_count; t++) EXPECT_EQ(tracks[t].length, 1000);
  EXPECT_EQ(pool_available(), available - 3 * second / block_frames - 1 - (track_count - 1));
}

TEST_F(CaptureTest, TheCurrentTrackIfEmptyElseTheHighestEmptyOne) {
  feed(second, false);
  feed(second);
  make_loop(7, 1000);
  ASSERT_EQ(capture_loop(2, 1), 0);
  EXPECT_GT(tracks[2].length, 0);
  ASSERT_EQ(capture_loop(2, 1), 0);
  EXPECT_GT(tracks[6].length, 0);
}

}  // namespace
