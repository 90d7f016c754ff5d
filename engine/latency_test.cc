// Latency compensation in the engine and the transport: every recording role is run twice, once
// without compensation and once with it, from the same start; the compensated run must hold the
// same audio `compensation` loop frames earlier (or the same take with its play head ahead).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/fixtures/test_names.h"
#include "engine/latency.h"
#include "tests/fixtures/looper_test_fixture.h"
#include "engine/timing.h"
#include "engine/transport_commands.h"

namespace {

constexpr int32_t loop_frames = 20000;
constexpr int32_t loop_value = 1 << 16;     // every frame of the test loop holds this
constexpr int32_t input_amplitude = 50000;  // above the noise gate's threshold
constexpr int32_t warm_up_frames = 4000;    // the gate opens, the DC filter settles
constexpr int32_t role_frames = 3000;       // frames a role runs

// Left samples of track t's first `frames` frames.
std::vector<int32_t> left_samples(int32_t t, int32_t frames) {
  std::vector<int32_t> out(size_t(frames), 0);
  for (int32_t i = 0; i < frames; i++) {
    const int32_t* block = track_blocks[t][i / block_frames];
    if (block != nullptr) out[size_t(i)] = block[2 * (i % block_frames)];
  }
  return out;
}

// One engine frame whose input differs from frame to frame (and flips sign every frame, so the
// DC filter and the noise gate pass it): a shifted write shows in the stored audio.
void run_varying_frame() {
  inline_input.left = input_amplitude + int32_t(engine_state.frame_counter % 997u) * 37;
  inline_input.right = -inline_input.left;
  inline_input.alternate = true;
  run_inline_frame();
}

void run_varying(int32_t frames) {
  for (int32_t i = 0; i < frames; i++) run_varying_frame();
}

class LatencyTest : public LooperTest {
 protected:
  void SetUp() override {
    LooperTest::SetUp();
    restart(0);
  }

  // The looper as at start-up, with `compensation` and every wait fed the varying input.
  static void restart(int32_t compensation) {
    looper_reset();
    config_defaults();
    for (int i = 0; i < clean_blocks; i++) pool_clean_one();  // blocks the engine may take
    engine_wait.run_frame = run_varying_frame;
    inline_input = {};
    latency_set_extra(compensation);
  }

  // A playing loop of loop_frames frames on track t, every frame (loop_value, -loop_value).
  void make_flat_loop(int32_t t, int32_t position, int32_t rate) {
    make_loop(t, loop_frames, true, position);
    for (int32_t i = 0; i < loop_frames; i++) {
      int32_t* frame = track_blocks[t][i / block_frames] + 2 * (i % block_frames);
      frame[0] = loop_value;
      frame[1] = -loop_value;
    }
    tracks[t].rate = rate;
    set_play_window(tracks[t]);
  }
};

enum class Role { overdub, replace };

struct RoleCase {
  Role role;
  int32_t compensation;
  int32_t start;  // play head when the role starts
  int32_t rate;
};

std::string role_case_name(const testing::TestParamInfo<RoleCase>& info) {
  const RoleCase& c = info.param;
  return param_case_name(c.role == Role::overdub ? "overdub" : "replace", "compensation",
                         c.compensation, "from", c.start, "rate", c.rate);
}

class RoleOffsetTest : public LatencyTest, public testing::WithParamInterface<RoleCase> {
 protected:
  // The loop after a role ran for role_frames frames from the case's start, with `compensation`.
  std::vector<int32_t> run_role(int32_t compensation) {
    const RoleCase& c = GetParam();
    restart(compensation);
    make_flat_loop(0, c.start, c.rate);
    run_varying(warm_up_frames);
    tracks[0].position = c.start;
    if (c.role == Role::overdub) {
      EXPECT_EQ(start_overdub(0), 0);
    } else {
      EXPECT_EQ(start_replace(0, 0), 0);
    }
    run_varying(role_frames);
    EXPECT_EQ(c.role == Role::overdub ? end_overdub(0) : end_replace(0), 0);
    std::vector<int32_t> out = left_samples(0, loop_frames);
    release_track_blocks(0);
    return out;
  }
};

TEST_P(RoleOffsetTest, InputLandsCompensationFramesBehindThePlayHead) {
  const RoleCase& c = GetParam();
  const std::vector<int32_t> plain = run_role(0);
  const std::vector<int32_t> compensated = run_role(c.compensation);
  const int32_t offset = compensation_offset(c.compensation, c.rate);
  int32_t changed = 0;
  for (int32_t x = 0; x < loop_frames; x++) {
    if (plain[size_t(x)] != loop_value) changed++;
    ASSERT_EQ(compensated[size_t(write_head(x, offset, loop_frames))], plain[size_t(x)])
        << "frame " << x;
  }
  EXPECT_GT(changed, role_frames / 2);  // the role did write
}

INSTANTIATE_TEST_SUITE_P(
    Roles, RoleOffsetTest,
    testing::Values(RoleCase{Role::overdub, 300, 5000, 256},
                    RoleCase{Role::overdub, 300, 100, 256},  // wraps behind the loop start
                    RoleCase{Role::overdub, max_compensation_frames, 5000, 256},
                    RoleCase{Role::overdub, 300, 5000, 128},   // half speed: half the frames
                    RoleCase{Role::overdub, 300, 5000, -256},  // reverse: ahead in the loop
                    RoleCase{Role::replace, 300, 5000, 256}, RoleCase{Role::replace, 300, 100, 256},
                    RoleCase{Role::replace, 300, 5000, -256}),
    role_case_name);

// The frames of a free take and of its continuation after the close, with `compensation`.
struct TakeResult {
  std::vector<int32_t> audio;
  int32_t length;
  int32_t position_at_close;
  int32_t vsp;
};

class FirstTakeTest : public LatencyTest {
 protected:
  // A free recording of `take` frames, then the loop closed and overdubbed for `after` frames.
  TakeResult record(int32_t compensation, int32_t take, int32_t after) {
    restart(compensation);
    run_varying(warm_up_frames);
    EXPECT_EQ(start_record(1, sync_free, 0), 0);
    run_varying(take - ramp_unity);  // the punch-in ran ramp_unity frames inside start_record
    EXPECT_EQ(close_loop(1), 0);
    TakeResult r{{}, tracks[1].length, tracks[1].position, tracks[1].vsp};
    run_varying(after);
    EXPECT_EQ(end_overdub(1), 0);
    r.audio = left_samples(1, r.length);
    release_track_blocks(1);
    return r;
  }
};

// A press counts at the frame the engine acts on it: the press and the audio played with it
// arrive together, both late by the capture latency. So the take is the same with or without
// compensation; what changes is that the play head starts `compensation` frames into the loop,
// which puts the write head at frame 0: the input that follows the closing press lands at the
// loop's start, and the loop is heard in time with the phrase the player went on playing.
TEST_F(FirstTakeTest, TakeIsUnshiftedAndItsContinuationLandsAtTheLoopStart) {
  constexpr int32_t take = 10000;
  constexpr int32_t compensation = 700;
  const TakeResult plain = record(0, take, 3000);
  const TakeResult compensated = record(compensation, take, 3000);
  ASSERT_EQ(plain.length, compensated.length);
  EXPECT_EQ(plain.position_at_close, 0);
  EXPECT_EQ(compensated.position_at_close, compensation);
  EXPECT_EQ(compensated.vsp, 0);              // the loop's start is still its first frame
  EXPECT_EQ(compensated.audio, plain.audio);  // the seam is where it was without compensation
}

TEST_F(FirstTakeTest, CompensationLongerThanTheTakeWrapsThePlayHead) {
  const TakeResult compensated = record(2500, 1000, 1500);
  EXPECT_EQ(compensated.length, 1000);
  EXPECT_EQ(compensated.position_at_close, 500);
  EXPECT_EQ(compensated.audio, record(0, 1000, 1500).audio);
}

// A synchronised take keeps its audio; its play head and loop start run `compensation` ahead,
// so it is in phase with its clock source exactly as the uncompensated loop was, heard
// `compensation` frames earlier.
TEST_F(LatencyTest, SynchronisedTakeRunsAheadInPhaseWithItsSource) {
  constexpr int32_t compensation = 450;
  struct Run {
    std::vector<int32_t> audio;
    int32_t position;
    int32_t vsp;
    int32_t length;
  };
  auto run = [&](int32_t c) {
    restart(c);
    make_loop(0, 8000, true, 3000);
    engine_state.clock_source_track = 0;
    run_varying(warm_up_frames);
    EXPECT_EQ(start_record(1, 0, 0), 0);
    run_varying(9000);
    EXPECT_EQ(close_loop(1), 0);
    Run r{{}, tracks[1].position, tracks[1].vsp, tracks[1].length};
    run_varying(10000);
    EXPECT_EQ(end_overdub(1), 0);
    r.audio = left_samples(1, r.length);
    // The compensated loop sounds `compensation` frames of its own ahead of the plain one, which
    // keeps the same phase to the source (phase = position - vsp).
    EXPECT_EQ(track_phase(tracks[1]) % 8000, track_phase(tracks[0]) % 8000);
    release_track_blocks(1);
    release_track_blocks(0);
    return r;
  };
  const Run plain = run(0);
  const Run compensated = run(compensation);
  ASSERT_EQ(plain.length, 16000);
  ASSERT_EQ(compensated.length, plain.length);
  EXPECT_EQ(compensated.position, (plain.position + compensation) % plain.length);
  EXPECT_EQ(compensated.vsp, (plain.vsp + compensation) % plain.length);
  EXPECT_EQ(compensated.audio, plain.audio);
}

TEST_F(LatencyTest, FixedLengthMidiTakePlaysOnceItsWriteHeadWraps) {
  restart(300);
  clock_follower.clock_period = 1000;
  clock_follower.clock_lock = -1;
  ASSERT_EQ(start_record(0, sync_midi, 4), 0);
  EXPECT_EQ(tracks[0].trigger_position, 300);
  EXPECT_EQ(track_write_head(tracks[0]), tracks[0].position - 300);
}

// A bounce records its sources as they sounded `compensation` frames before the input that
// arrives with them.
TEST_F(LatencyTest, BounceRecordsItsSourcesBesideTheLateInput) {
  constexpr int32_t compensation = 600;
  auto run = [&](int32_t c) {
    restart(c);
    engine_wait.run_frame = run_inline_frame;  // no input: the sources alone
    make_loop(0, 30000, true, 0);
    tracks[0].target_level[0] = tracks[0].current_level[0] = 0;
    run_frames(2000);
    EXPECT_EQ(start_bounce(1, 1u, 0), 0);
    run_frames(10000);
    EXPECT_EQ(close_loop(1), 0);
    EXPECT_EQ(end_overdub(1), 0);
    std::vector<int32_t> out = left_samples(1, tracks[1].length);
    release_track_blocks(1);
    release_track_blocks(0);
    return out;
  };
  const std::vector<int32_t> plain = run(0);
  const std::vector<int32_t> compensated = run(compensation);
  ASSERT_EQ(plain.size(), compensated.size());
  // Past the punch-in ramp (and the punch-out's overdub at the loop's start).
  for (size_t x = ramp_unity + compensation; x + 1000 < plain.size(); x++)
    ASSERT_EQ(compensated[x], plain[x - compensation]) << "frame " << x;
}

// The undo level of an overdub is copied from the block its write head starts in, so a write
// head behind a block boundary does not reach a block before its copy is made.
TEST_F(LatencyTest, UndoOfAnOverdubBehindABlockBoundaryRestoresTheLoop) {
  // Eight blocks: the save copies five at once and the rest one per tick, the block before the
  // play head's last.
  constexpr int32_t frames = 8 * block_frames;
  restart(500);
  make_loop(0, frames, true, block_frames + 100);
  run_varying(warm_up_frames);
  tracks[0].position = block_frames + 100;
  const std::vector<int32_t> before = left_samples(0, frames);
  ASSERT_EQ(start_overdub(0), 0);
  for (int i = 0; i < 40; i++) {
    run_varying(64);
    transport_update();
  }
  ASSERT_EQ(end_overdub(0), 0);
  ASSERT_NE(left_samples(0, frames), before);
  ASSERT_TRUE(run_ticks_until([&] { return undo_areas[0].header.saving_level < 0; }));
  ASSERT_EQ(undo(0), 0);
  EXPECT_EQ(left_samples(0, frames), before);
}

TEST_F(LatencyTest, LineShowsTheFiguresAndTheLimit) {
  char line[160];
  latency_set_reported(256, 512);
  latency_set_extra(35);
  latency_line(line, sizeof line);
  EXPECT_STREQ(line,
               "Latency: capture 256, playback 512, extra 35 frames (16.7 ms); compensation on");
  EXPECT_EQ(latency.compensation.load(), 803);
  latency_set_enabled(false);
  latency_line(line, sizeof line);
  EXPECT_STREQ(line,
               "Latency: capture 256, playback 512, extra 35 frames (16.7 ms); compensation off");
  EXPECT_EQ(latency.compensation.load(), 0);
  latency_set_enabled(true);
  latency_set_extra(20000);
  latency_line(line, sizeof line);
  EXPECT_STREQ(line,
               "Latency: capture 256, playback 512, extra 20000 frames (333.3 ms); "
               "compensation on, limited to 16000 frames");
  EXPECT_EQ(latency.compensation.load(), max_compensation_frames);
  latency_set_extra(-1000);  // a driver that reports more than there is
  EXPECT_EQ(latency.compensation.load(), 0);
}

}  // namespace
