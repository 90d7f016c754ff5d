#include "engine/editing.h"

#include <cmath>
#include <cstdlib>
#include <vector>

#include "engine/fade_out_copy.h"
#include "engine/frame_runs.h"
#include "tests/fixtures/looper_test_fixture.h"
#include "engine/ostinato.h"
#include "engine/track_params.h"

namespace {

constexpr double two_pi = 6.283185307179586;

class EditingTest : public LooperTest {
 protected:
  void SetUp() override {
    LooperTest::SetUp();
    srand(1);
  }

  // A loop of length frames holding a sine of `period` frames (the same on both channels at
  // 2^22), muted or playing, at unity ramp.
  void sine_loop(int32_t t, int32_t length, double period, bool playing = false) {
    make_loop(t, length, playing);
    for (int32_t f = 0; f < length; f++) {
      const int32_t v = int32_t(std::lround(4194304.0 * std::sin(two_pi * f / period)));
      int32_t* frame = frame_at(track_blocks[t], f);
      frame[0] = v;
      frame[1] = v;
    }
    tracks[t].ramp_gain = ramp_unity;
  }

  static std::vector<int32_t> left_channel(int32_t t) {
    std::vector<int32_t> out(size_t(tracks[t].length.load()));
    for (size_t f = 0; f < out.size(); f++) out[f] = frame_at(track_blocks[t], int64_t(f))[0];
    return out;
  }

  // Frames per period of the left channel between frames from and to, from its sign changes.
  static double measured_period(int32_t t, int32_t from, int32_t to) {
    int crossings = 0;
    int32_t first = -1, last = -1;
    for (int32_t f = from + 1; f < to; f++) {
      const int32_t a = frame_at(track_blocks[t], f - 1)[0];
      const int32_t b = frame_at(track_blocks[t], f)[0];
      if ((a < 0) != (b < 0)) {
        if (first < 0) first = f;
        last = f;
        crossings++;
      }
    }
    return crossings > 1 ? 2.0 * (last - first) / (crossings - 1) : 0;
  }

  // Every block is either in the pool or held by exactly one table, level or the test: the
  // counts add up to the whole pool exactly when nothing leaked.
  int accounted_blocks() const {
    int held_refs = int(held.blocks.size());
    auto count = [&](int32_t* const* table, int n) {
      for (int i = 0; i < n; i++) held_refs += table[i] != nullptr;
    };
    for (int t = 0; t < track_count; t++) {
      count(track_blocks[t], pool_blocks);
      count(unscramble_blocks[t], pool_blocks);
      for (const UndoLevel& level : undo_areas[t].levels) count(level.blocks, undo_level_blocks);
    }
    count(redo_blocks, undo_level_blocks);
    return held_refs + pool_available();
  }

  static bool playing(int32_t t) { return on_list(engine_state.play_list, t); }
  static bool muted(int32_t t) { return on_list(engine_state.muted_list, t); }
};

TEST_F(EditingTest, CopyPlaysInThePlaceOfAPlayingSource) {
  make_loop(2, 20000, true, 1234);
  tracks[2].ramp_gain = ramp_unity;
  const int available = pool_available();
  ASSERT_EQ(copy_track(2, 7), 0);
  EXPECT_EQ(pool_available(), available - 3);
  for (int32_t f : {0, 8191, 8192, 19999}) {
    EXPECT_EQ(left_sample(7, f), left_sample(2, f)) << f;
    EXPECT_NE(track_blocks[7][f / block_frames], track_blocks[2][f / block_frames]);
  }
  EXPECT_EQ(tracks[7].length, 20000);
  EXPECT_TRUE(playing(7));
  EXPECT_TRUE(muted(2));
  EXPECT_FALSE(playing(2));
  EXPECT_EQ(tracks[7].audio_changed, 1);
  EXPECT_EQ(accounted_blocks(), pool_blocks);
}

TEST_F(EditingTest, CopyOfAMutedSourcePlaysTheCopyAlone) {
  make_loop(0, 5000);
  ASSERT_EQ(copy_track(0, 1), 0);
  EXPECT_TRUE(playing(1));
  EXPECT_TRUE(muted(0));
  EXPECT_EQ(left_sample(1, 4999), 5000);
}

TEST_F(EditingTest, CopyRefusalsChangeNothing) {
  make_loop(0, 5000);
  make_loop(1, 5000);
  struct Case {
    int32_t s, d;
    const char* message;
  };
  console_text();
  for (const Case& c : {Case{0, 8, "Copy track nums out of range.\n"},
                        Case{-1, 2, "Copy track nums out of range.\n"},
                        Case{0, 1, "Destination track is not empty.\n"},
                        Case{3, 2, "Source track is empty or recording.\n"}}) {
    EXPECT_EQ(copy_track(c.s, c.d), -22);
    EXPECT_EQ(console_text(), c.message);
  }
  engine_state.overdub_track = 0;
  EXPECT_EQ(copy_track(0, 2), -22);
  EXPECT_EQ(console_text(), "Source track is empty or recording.\n");
  engine_state.overdub_track = -1;
  held.hold_all_but(0);
  EXPECT_EQ(copy_track(0, 2), -22);
  EXPECT_EQ(console_text(), "Copy audio failed.\n");
  EXPECT_EQ(track_block_count(2), 0);
  EXPECT_EQ(tracks[2].length, 0);
  EXPECT_EQ(accounted_blocks(), pool_blocks);
}

TEST_F(EditingTest, StretchTo200PercentEndsInTheSourcesLastFrames) {
  sine_loop(0, 96000, 96.0, true);
  const int available = pool_available();
  ASSERT_EQ(stretch_track(0, 7, 2.0f), 0);
  EXPECT_EQ(tracks[7].length, 192000);
  EXPECT_EQ(pool_available(), available - 24);  // 192000 frames in 24 blocks
  EXPECT_TRUE(playing(7));
  EXPECT_TRUE(muted(0));  // the source was stopped
  EXPECT_EQ(tracks[7].multiple, 0);
  EXPECT_EQ(tracks[7].clock_source, -1);
  const std::vector<int32_t> src = left_channel(0);
  const std::vector<int32_t> out = left_channel(7);
  // The first grain starts with the source unchanged.
  for (int i = 0; i < 2880; i++) ASSERT_EQ(out[size_t(i)], src[size_t(i)]) << i;
  // The seam: over the last 960 frames the stretched audio fades out under the source's own
  // last 960 frames fading in, so the loop wraps as the source does.
  for (int j = 0; j < 960; j++) {
    const double source_part = double(src[size_t(96000 - 960 + j)]) * j / 960;
    const double fading_limit = 4194305.0 * (960 - j) / 960 + 2;
    ASSERT_LE(std::fabs(out[size_t(192000 - 960 + j)] - source_part), fading_limit) << j;
  }
  // The grains ended before the target: the loop keeps its length with silence before the seam.
  int silent_frames = 0;
  for (size_t f = 180000; f < 192000 - 960; f++) silent_frames += out[f] == 0;
  EXPECT_GE(silent_frames, 200);
  // Same pitch: the period of the sine is kept inside the grains.
  EXPECT_NEAR(measured_period(7, 10000, 180000), 96.0, 0.5);
  EXPECT_EQ(accounted_blocks(), pool_blocks);
  EXPECT_EQ(erase_track(7), 0);
  EXPECT_EQ(pool_available(), available);
}

TEST_F(EditingTest, StretchRatioLimits) {
  sine_loop(0, 48000, 100.0);
  struct Case {
    float ratio;
    int result;
    int32_t length;
  };
  for (const Case& c :
       {Case{0.039f, -22, 0}, Case{0.04f, 0, 1920}, Case{2.1f, 0, 100799}, Case{2.11f, -22, 0}}) {
    console_text();
    EXPECT_EQ(stretch_track(0, 1, c.ratio), c.result) << c.ratio;
    EXPECT_EQ(tracks[1].length, c.length) << c.ratio;
    if (c.result != 0) {
      EXPECT_EQ(console_text(), "Stretch ratio out of range.\n");
    }
    erase_track(1);
  }
  EXPECT_EQ(accounted_blocks(), pool_blocks);
}

TEST_F(EditingTest, StretchBelowTheSeamIsRefusedBeforeItStarts) {
  // 0.05 of 10000 frames would be 500 frames, shorter than the 960-frame seam; a 900-frame
  // source has no 960 frames to end in.
  sine_loop(0, 10000, 100.0);
  sine_loop(1, 900, 100.0);
  const int available = pool_available();
  console_text();
  EXPECT_EQ(stretch_track(0, 7, 0.05f), -22);
  EXPECT_EQ(stretch_track(1, 7, 2.0f), -22);
  EXPECT_EQ(pitch_octave_up(1, 7), -22);
  EXPECT_EQ(console_text(),
            "Stretch ratio out of range.\nStretch ratio out of range.\n"
            "Stretch ratio out of range.\n");
  EXPECT_EQ(pool_available(), available);
  EXPECT_EQ(tracks[7].length, 0);
  EXPECT_EQ(stretch_track(0, 7, 0.1f), 0);  // 1000 frames: enough
  EXPECT_EQ(tracks[7].length, 1000);
}

TEST_F(EditingTest, StretchOutOfBlocksGivesTheDestinationsBlocksBack) {
  sine_loop(0, 50000, 100.0);
  held.hold_all_but(8);  // 100000 frames need 13
  console_text();
  EXPECT_EQ(stretch_track(0, 5, 2.0f), -1);
  EXPECT_EQ(console_text(), "Stretch failed.\n");
  EXPECT_EQ(track_block_count(5), 0);
  EXPECT_EQ(tracks[5].length, 0);
  EXPECT_EQ(accounted_blocks(), pool_blocks);
  EXPECT_EQ(editing_state.busy_track, -1);
}

TEST_F(EditingTest, StretchShowsProgressAndMarksTheDestinationBusy) {
  sine_loop(0, 96000, 96.0);
  struct Seen {
    int32_t first = -1, last = -1, busy = -2;
  };
  static Seen seen;
  seen = Seen{};
  editing_state.progress_hook = [](int32_t percent) {
    if (seen.first < 0) seen.first = percent;
    seen.last = percent;
    seen.busy = editing_state.busy_track;
  };
  ASSERT_EQ(stretch_track(0, 6, 1.5f), 0);
  EXPECT_EQ(seen.first, 0);
  EXPECT_EQ(seen.last, 100);
  EXPECT_EQ(seen.busy, 6);
  EXPECT_EQ(editing_state.busy_track, -1);
}

TEST_F(EditingTest, PitchOctaveUpKeepsTheDurationAndHalvesThePeriod) {
  sine_loop(3, 100000, 96.0, true);
  const int available = pool_available();
  ASSERT_EQ(pitch_octave_up(3, 0), 0);
  EXPECT_EQ(tracks[0].length, 100000);
  EXPECT_EQ(pool_available(), available - 13);  // the second half's blocks went back
  EXPECT_EQ(track_block_count(0), 13);
  EXPECT_EQ(tracks[0].rate, 256);
  EXPECT_TRUE(playing(0));
  EXPECT_TRUE(muted(3));
  EXPECT_NEAR(measured_period(0, 5000, 90000), 48.0, 0.25);
  EXPECT_EQ(accounted_blocks(), pool_blocks);
}

TEST_F(EditingTest, ReverseTwiceRestoresTheDirectionAndRefusesDuringItsFade) {
  make_loop(4, 30000, true, 1000);
  tracks[4].ramp_gain = ramp_unity;
  ASSERT_EQ(reverse_track(4), 0);
  EXPECT_EQ(tracks[4].rate, -256);
  EXPECT_EQ(tracks[4].loop_start, 29999);
  EXPECT_EQ(tracks[4].loop_end, -1);
  EXPECT_EQ(is_reversed(4), 1);
  // The forward pass fades out in the fading voice while the reversed one fades in.
  EXPECT_EQ(fading_voices[4].rate, 256);
  EXPECT_EQ(fading_voices[4].ramp_step, -1);
  EXPECT_EQ(tracks[4].ramp_gain, 0);
  EXPECT_TRUE(on_list(engine_state.fading_list, 4));
  console_text();
  EXPECT_EQ(reverse_track(4), -22);
  EXPECT_EQ(console_text(), "Track 5 already on fading list\n");
  EXPECT_EQ(tracks[4].rate, -256);
  run_frames(512);
  transport_update();
  ASSERT_EQ(reverse_track(4), 0);
  EXPECT_EQ(tracks[4].rate, 256);
  EXPECT_EQ(tracks[4].loop_start, 0);
  EXPECT_EQ(tracks[4].loop_end, 30000);
  EXPECT_EQ(is_reversed(4), 0);
  EXPECT_EQ(is_reversed(8), -22);
}

TEST_F(EditingTest, ReverseOfAStoppedTrackNeedsNoFadeAndAReplaceIsRefused) {
  make_loop(1, 30000);
  ASSERT_EQ(reverse_track(1), 0);
  EXPECT_EQ(tracks[1].rate, -256);
  EXPECT_FALSE(on_list(engine_state.fading_list, 1));
  engine_state.replace_track = 1;
  EXPECT_EQ(reverse_track(1), -22);
  EXPECT_EQ(reverse_track(-1), -22);
}

TEST_F(EditingTest, ReverseDuringAnOverdubGoesOnOverdubbingBackwards) {
  make_loop(2, 30000, true);
  tracks[2].ramp_gain = ramp_unity;
  ASSERT_EQ(start_overdub(2), 0);
  ASSERT_EQ(reverse_track(2), 0);
  EXPECT_EQ(engine_state.overdub_track, 2);
  EXPECT_EQ(tracks[2].rate, -256);
}

TEST_F(EditingTest, HalfSpeedAndIntervalsKeepTheDirection) {
  make_loop(0, 1000);
  struct Step {
    int (*op)(int32_t, int32_t);
    int32_t argument;
    int32_t rate;
  };
  auto half = [](int32_t t, int32_t) { return toggle_half_speed(t); };
  auto rev = [](int32_t t, int32_t) { return reverse_track(t); };
  for (const Step& s :
       {Step{rev, 0, -256}, Step{half, 0, -128}, Step{half, 0, -256}, Step{half, 0, -128},
        Step{set_track_speed, 0, -64}, Step{set_track_speed, 64, -128}, Step{half, 0, -256},
        Step{set_track_speed, 16, -160}, Step{rev, 0, 160}}) {
    ASSERT_EQ(s.op(0, s.argument), 0);
    EXPECT_EQ(tracks[0].rate, s.rate);
  }
  EXPECT_EQ(toggle_half_speed(8), -22);
}

TEST_F(EditingTest, ScrambleSixteenOfAHundredThousandFrames) {
  sine_loop(1, 100000, 97.3, true);  // a period that gives every segment its own phase
  const std::vector<int32_t> original = left_channel(1);
  ASSERT_EQ(scramble_track(1, 16), 0);
  EXPECT_TRUE(playing(1));
  const std::vector<int32_t> scrambled = left_channel(1);
  // Segments of 6250 frames: the middle of each new segment is the middle of one old segment,
  // each old segment used once; the joints rise from silence.
  std::vector<int> used(16, 0);
  for (int j = 0; j < 16; j++) {
    const size_t start = size_t(j) * 6250;
    EXPECT_LE(std::abs(scrambled[start]), 1) << j;  // shifted down 24 bits
    int found = -1;
    for (int k = 0; k < 16; k++) {
      bool same = true;
      for (size_t i = 500; i < 5750 && same; i++)
        same = scrambled[start + i] == original[size_t(k) * 6250 + i];
      if (same) found = k;
    }
    ASSERT_GE(found, 0) << j;
    used[size_t(found)]++;
  }
  for (int k = 0; k < 16; k++) EXPECT_EQ(used[size_t(k)], 1) << k;
  EXPECT_EQ(undo_level_count(1), 1);
  EXPECT_EQ(tracks[1].scrambled, 0);  // the unscrambled loop is the undo level now
  EXPECT_EQ(accounted_blocks(), pool_blocks);
}

TEST_F(EditingTest, SlowScrambleTwiceRestoresTheLoopBitForBit) {
  sine_loop(0, 100000, 100.0, true);
  const std::vector<int32_t> original = left_channel(0);
  std::vector<int32_t> right(original.size());
  for (size_t f = 0; f < right.size(); f++) right[f] = frame_at(track_blocks[0], int64_t(f))[1];
  ASSERT_EQ(scramble_track(0, 16), 0);
  EXPECT_NE(left_channel(0), original);
  ASSERT_EQ(scramble_track(0, 16), 0);
  EXPECT_EQ(left_channel(0), original);
  for (size_t f = 0; f < right.size(); f++)
    ASSERT_EQ(frame_at(track_blocks[0], int64_t(f))[1], right[f]) << f;
  EXPECT_EQ(undo_level_count(0), 0);
  EXPECT_EQ(accounted_blocks(), pool_blocks);
}

TEST_F(EditingTest, ScrambleErrorLeavesTheTrackAsItWas) {
  sine_loop(0, 100000, 100.0, true);
  const std::vector<int32_t> original = left_channel(0);
  const int available = pool_available();
  console_text();
  EXPECT_EQ(scramble_track(0, 3), -1);  // 3 segments cannot tile 100000 frames
  EXPECT_EQ(console_text(), "Scramble error 99999, 100000\n");
  EXPECT_EQ(left_channel(0), original);
  EXPECT_EQ(pool_available(), available);
  EXPECT_EQ(undo_level_count(0), 0);
  EXPECT_TRUE(playing(0));
}

TEST_F(EditingTest, ScrambleRefusals) {
  make_loop(0, 10000);
  EXPECT_EQ(scramble_track(0, 1), -22);
  EXPECT_EQ(scramble_track(0, 65), -22);
  EXPECT_EQ(scramble_track(1, 16), -22);  // empty
  EXPECT_EQ(scramble_track(8, 16), -22);
  engine_state.replace_track = 0;
  EXPECT_EQ(scramble_track(0, 16), -22);
  engine_state.replace_track = -1;
  held.hold_all_but(1);
  EXPECT_EQ(scramble_track(0, 16), -22);  // two restore blocks needed
  EXPECT_EQ(accounted_blocks(), pool_blocks);
}

TEST_F(EditingTest, SegmentingSavesAnUndoLevelAndFillsTheSegmentTable) {
  generate_ostinato_rhythms();
  sine_loop(2, 100000, 100.0, true);
  const std::vector<int32_t> original = left_channel(2);
  console_text();
  ASSERT_EQ(segment_track(2, 16), 0);
  EXPECT_EQ(console_text(), "Segment 3 by 16\n");
  const Track& v = tracks[2];
  EXPECT_EQ(v.segment_count, 16);
  std::vector<int> sources(16, 0);
  int silent = 0;
  for (int j = 0; j < 16; j++) {
    EXPECT_EQ(v.segment_start[j], j * 6250);
    sources[size_t(v.segment_source[j])]++;
    silent += v.segment_silent[j];
  }
  for (int k = 0; k < 16; k++) EXPECT_EQ(sources[size_t(k)], 1);
  EXPECT_GE(silent, 4);  // a rhythm of gaps of 1-3 steps has at least four hits in 16
  EXPECT_LE(std::abs(left_sample(2, 6250)), 1);  // declicked joint
  ASSERT_EQ(undo_level_count(2), 1);
  ASSERT_EQ(undo(2), 0);
  EXPECT_EQ(v.segment_count, 1);
  EXPECT_EQ(left_channel(2), original);
  EXPECT_EQ(accounted_blocks(), pool_blocks);
}

TEST_F(EditingTest, SegmentRefusalsAndAWarningWithoutUndo) {
  make_loop(0, 10000);
  console_text();
  EXPECT_EQ(segment_track(0, 65), -22);
  EXPECT_EQ(console_text(), "Segment 1 by 65\nTrack index or nsegments invalid\n");
  EXPECT_EQ(segment_track(1, 16), -22);
  EXPECT_EQ(console_text(), "Segment 2 by 16\nTrack length 0, is_recording 0\n");
  engine_state.overdub_track = 0;
  EXPECT_EQ(segment_track(0, 16), -22);
  EXPECT_EQ(console_text(), "Segment 1 by 16\nTrack length 10000, is_recording 1\n");
  engine_state.overdub_track = -1;
  // A track too long for an undo level is segmented all the same.
  make_loop(3, 181 * block_frames);
  EXPECT_EQ(segment_track(3, 8), 0);
  EXPECT_EQ(console_text(), "Segment 4 by 8\nFailed to save undo before segmentation.\n");
  EXPECT_EQ(tracks[3].segment_count, 8);
}

// The rhythms the generator must produce, found the other way round: every sequence of gaps
// 1-3 in lexicographic order, filtered by the rules.
std::vector<OstinatoRhythm> rhythms_by_filter(int steps, int single_limit) {
  std::vector<OstinatoRhythm> out;
  std::vector<int> gaps;
  auto rules_hold = [&](int8_t exact_end) {
    int singles = 0;
    for (size_t i = 0; i < gaps.size(); i++) {
      singles += gaps[i] == 1;
      if (i >= 2 && i + 1 < gaps.size() && gaps[i] == gaps[i - 1] && gaps[i] == gaps[i - 2])
        return false;
    }
    if (singles > single_limit) return false;
    return !exact_end || gaps.back() <= 3 - gaps.front();
  };
  auto visit = [&](auto&& self, int used) -> void {
    for (int g = 1; g <= 3; g++) {
      gaps.push_back(g);
      const int total = used + g + 1;
      const int8_t exact_end = total == steps + 1 ? 1 : 0;
      if ((total == steps || exact_end) && rules_hold(exact_end)) {
        OstinatoRhythm r{};
        for (size_t i = 0; i < gaps.size(); i++) r.gaps[i] = int8_t(gaps[i]);
        r.gap_count = int8_t(gaps.size());
        r.exact_end = exact_end;
        out.push_back(r);
      } else if (total < steps) {
        self(self, total);
      }
      gaps.pop_back();
    }
  };
  visit(visit, 0);
  return out;
}

TEST_F(EditingTest, OstinatoRhythmsFollowTheirRules) {
  console_text();
  generate_ostinato_rhythms();
  EXPECT_EQ(console_text(), "Pattern counts 146 43209\n");
  struct Bar {
    int steps, single_limit;
  };
  for (const Bar b : {Bar{16, 3}, Bar{32, 7}}) {
    int32_t count = 0;
    const OstinatoRhythm* set = ostinato_set(b.steps, &count);
    ASSERT_NE(set, nullptr);
    const std::vector<OstinatoRhythm> expected = rhythms_by_filter(b.steps, b.single_limit);
    ASSERT_EQ(size_t(count), expected.size()) << b.steps;
    for (int32_t i = 0; i < count; i++) {
      ASSERT_EQ(set[i].gap_count, expected[size_t(i)].gap_count) << b.steps << " " << i;
      ASSERT_EQ(set[i].exact_end, expected[size_t(i)].exact_end) << b.steps << " " << i;
      for (int g = 0; g < set[i].gap_count; g++)
        ASSERT_EQ(set[i].gaps[g], expected[size_t(i)].gaps[g]) << b.steps << " " << i;
    }
  }
}

TEST_F(EditingTest, TestToneOnAnEmptyTrackAndRefusedOnAPlayingOne) {
  make_loop(0, 5000, true);
  EXPECT_EQ(fill_test_tone(0), -22);
  EXPECT_EQ(tracks[0].length, 5000);
  const int available = pool_available();
  ASSERT_EQ(fill_test_tone(5), 0);
  EXPECT_EQ(pool_available(), available - 1);
  const Track& v = tracks[5];
  EXPECT_EQ(v.length, 2200);
  EXPECT_EQ(v.loop_end, 2200);
  EXPECT_EQ(v.rate, 256);
  EXPECT_TRUE(playing(5));
  struct Sample {
    int32_t frame, value;
  };
  for (const Sample s : {Sample{0, 0}, Sample{11, 2097149}, Sample{22, 0}, Sample{33, -2097150},
                         Sample{44 * 49 + 1, 298455}}) {
    EXPECT_EQ(left_sample(5, s.frame), s.value) << s.frame;
    EXPECT_EQ(frame_at(track_blocks[5], s.frame)[1], s.value) << s.frame;
  }
  engine_state.record_track = 6;
  EXPECT_EQ(fill_test_tone(6), -22);
}

TEST_F(EditingTest, FadeOutCopyRefusesWhileTheLastOneFades) {
  make_loop(3, 10000, true, 500);
  EngineLockGuard lock;
  EXPECT_EQ(start_fade_out_copy(3), 0);
  EXPECT_EQ(fading_voices[3].position, 500);
  EXPECT_EQ(start_fade_out_copy(3), -22);
  EXPECT_EQ(start_fade_out_copy(2), 0);  // not playing: no copy needed
  EXPECT_FALSE(on_list(engine_state.fading_list, 2));
}

}  // namespace
