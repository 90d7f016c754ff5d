// Bit-exact regression of the per-sample engine: long runs of busy scenes, hashed word by word
// (every output word, the recorded signal, the voice records and the stored audio), compared with
// the values the engine has always produced. An optimisation of the frame must keep them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>

#include "tests/fixtures/engine_test_fixture.h"

namespace {

// FNV-1a over 32-bit words.
struct Checksum {
  uint64_t h = 14695981039346656037ull;
  void add(uint32_t w) {
    constexpr uint64_t prime = 1099511628211ull;
    h = (h ^ w) * prime;
  }
  void add64(uint64_t w) {
    add(uint32_t(w));
    add(uint32_t(w >> 32));
  }
  void add_words(const void* p, size_t bytes) {
    const auto* words = static_cast<const uint32_t*>(p);
    for (size_t i = 0; i < bytes / 4; i++) add(words[i]);
  }
};

// A 32-bit linear congruential generator, so the scenes are the same on every platform.
struct Lcg {
  uint32_t s;
  uint32_t next() {
    s = s * 1664525u + 1013904223u;
    return s >> 8;
  }
  int32_t below(int32_t n) { return int32_t(next() % uint32_t(n)); }
};

constexpr int scene_tracks = 7;  // track 7 stays empty for the recording phase

// Frame by frame (false), or in runs of 1-32 frames begun with engine_run_begin (true), as the
// process callback runs them: the same sums either way.
class EngineChecksumTest : public EngineTest, public testing::WithParamInterface<bool> {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    engine_state.record_gain = ramp_unity;
  }

  // A saw pair per track, loops of 20000-32000 frames so every voice wraps many times.
  static void give_loops() {
    for (int n = 0; n < scene_tracks; n++) {
      const int32_t length = 20000 + n * 2011;
      for (int32_t k = 0; k * block_frames < length; k++) {
        int32_t* block = pool_alloc_any();
        ASSERT_NE(block, nullptr);
        for (int f = 0; f < block_frames; f++) {
          const int64_t p = int64_t(k) * block_frames + f;
          block[2 * f] = int32_t((p * 7919 % 200000 - 100000) * 40);
          block[2 * f + 1] = int32_t((p * 104729 % 200000 - 100000) * 40 + n);
        }
        track_blocks[n][k] = block;
      }
      Track& t = tracks[n];
      t.length = length;
      t.loop_end = length;
      t.ramp_gain = ramp_unity;
      t.position = (n * 12345) % length;
      t.current_level[0] = t.target_level[0] = 2 + n;
      t.current_level[1] = t.target_level[1] = 3 + n;
    }
  }

  static void give_segments(int n, int count) {
    Track& t = tracks[n];
    t.segment_count = count;
    for (int j = 0; j < count; j++) {
      t.segment_start[j] = int32_t(int64_t(t.length) * j / count);
      t.segment_source[j] = (j * 5 + 3) % count;
      t.segment_silent[j] = j == 1;
    }
  }

  static void fade_in_fading_voices(uint16_t mask) {
    for (int n = 0; n < scene_tracks; n++) {
      if (!(mask & (1u << n))) continue;
      Track& v = fading_voices[n];
      v = tracks[n];
      v.position = (tracks[n].position + 7000) % tracks[n].length;
      v.ramp_gain = 300;
      v.ramp_step = 0;
    }
    engine_state.fading_list = mask;
  }

  // Clock-out pulse tables of 1-6 evenly spaced positions on every track.
  static void give_pulse_tables(Lcg& rng) {
    for (int n = 0; n < scene_tracks; n++) {
      const int32_t count = 1 + rng.below(6);
      engine.clock_pulse_count[n] = count;
      for (int j = 0; j < count; j++) engine.clock_pulse_table[n][j] = tracks[n].length * j / count;
    }
  }

  // A loud tone-like signal with offset and stretches of near silence, so the gate and the DC
  // filter work.
  static void input(Lcg& rng, int i, int32_t in[2]) {
    const int32_t phase = i % 109;
    const bool quiet = (i / 30011) % 4 == 3;
    const int32_t amplitude = quiet ? 40 : 3000000;
    in[0] = (phase - 54) * amplitude / 54 + 1000 + rng.below(64);
    in[1] = (54 - phase) * amplitude / 72 - 1000 - rng.below(64);
  }

  // Runs never span a change, which comes between two runs as a thread's hold of the lock does.
  uint64_t render(Lcg& rng, int frames, bool vary) const {
    Checksum sum;
    Lcg run_rng{99};
    int run_left = 0;
    for (int i = 0; i < frames; i++) {
      if (vary && i % 997 == 0) change_something(rng);
      if (GetParam() && run_left == 0) {
        run_left = std::min(
            {1 + run_rng.below(engine_run_frames), frames - i, vary ? 997 - i % 997 : frames});
        engine_run_begin(run_left);
      }
      if (run_left > 0) run_left--;
      EngineFrame f{};
      input(rng, i, f.in);
      engine_process_sample(f.in, f.main, f.aux1, f.aux2);
      sum.add_words(&f, sizeof f);
    }
    add_state(sum);
    return sum.h;
  }

  static void add_state(Checksum& sum) {
    sum.add_words(tracks, sizeof tracks);
    sum.add_words(fading_voices, sizeof fading_voices);
    sum.add_words(fading_voices_2, sizeof fading_voices_2);
    const EngineState& s = engine_state;
    for (int32_t w :
         {int32_t(s.record_track), int32_t(s.overdub_track), int32_t(s.replace_track),
          int32_t(s.play_list), int32_t(s.muted_list), int32_t(s.fading_list),
          int32_t(s.fading_list_2), int32_t(s.record_gain), s.record_gain_step, s.input_peak,
          s.output_peak, int32_t(s.input_peak_shown), int32_t(s.output_peak_shown)})
      sum.add(uint32_t(w));
    sum.add_words(engine.last_input, sizeof engine.last_input);
    sum.add_words(engine.clock_pulse_index, sizeof engine.clock_pulse_index);
    sum.add_words(engine.drift_history, sizeof engine.drift_history);
    for (int n = 0; n < track_count; n++) {
      for (int k = 0; k < 4; k++) {
        if (track_blocks[n][k] != nullptr) sum.add_words(track_blocks[n][k], block_bytes);
      }
    }
  }

  // One random change of a voice, a list or an engine register.
  static void change_something(Lcg& rng) {
    EngineState& s = engine_state;
    const int n = rng.below(scene_tracks);
    Track& t = tracks[n];
    const uint16_t bit = uint16_t(1u << n);
    switch (rng.below(16)) {
      case 0:
        t.target_level[0] = rng.below(100);
        t.target_level[1] = rng.below(100);
        break;
      case 1:
        t.ramp_gain = rng.below(ramp_unity + 1);
        t.ramp_end = rng.below(2) ? ramp_unity : 0;
        t.ramp_step = t.ramp_gain < t.ramp_end ? 1 : t.ramp_gain > t.ramp_end ? -1 : 0;
        break;
      case 2:
        t.fade_target = rng.below(2) ? ramp_unity : rng.below(ramp_unity);
        t.fade_gain = rng.below(ramp_unity + 1);
        break;
      case 3: {
        constexpr int32_t rates[] = {256, 128, 384, -256, 256, 512};
        t.rate = rates[rng.below(6)];
        break;
      }
      case 4: s.play_list = uint16_t(s.play_list ^ bit); break;
      case 5: s.muted_list = uint16_t(s.muted_list ^ bit); break;
      case 6:
        begin_crossfade(t, fading_voices[n]);
        s.fading_list |= bit;
        break;
      case 7:
        begin_crossfade(t, fading_voices_2[n]);
        s.fading_list_2 |= bit;
        break;
      case 8:
        s.track_output[n] = rng.below(3);
        t.bounce_source = rng.below(2);
        s.bounce_active = rng.below(3) == 0;
        break;
      case 9:
        t.start_delay = rng.below(600);
        t.trigger_position = rng.below(2) ? -1 : rng.below(t.length);
        t.trigger_hit = 0;
        break;
      case 10:
        if (t.segment_count >= 2) {
          t.segment_count = 0;
        } else {
          give_segments(n, 2 + rng.below(20));
        }
        break;
      case 11:
        if (rng.below(3) == 0) engine.clock_out_track = n;  // held long enough to wrap its table
        break;
      case 12:
        set_main_gain(rng.below(5) - 2);
        set_aux_gain(rng.below(5) - 2);
        config.mono_aux_out = rng.below(2);
        config.mono_input_mode = rng.below(4) == 0;
        s.dry_mask = rng.below(2) ? -1 : 0;
        break;
      case 13:
        s.record_gain = rng.below(ramp_unity + 1);
        s.record_gain_end = rng.below(2) ? ramp_unity : 0;
        s.record_gain_step = s.record_gain < s.record_gain_end   ? 1
                             : s.record_gain > s.record_gain_end ? -1
                                                                 : 0;
        break;
      case 14:
        t.clock_source = -2;
        t.clock_period = 400.0 + rng.below(200);
        clock_follower.beat_position = rng.below(9600);
        t.stop_countdown = rng.below(2) ? 0 : 1 + rng.below(3000);
        t.start_after = rng.below(100);
        t.drift_count = 0;
        break;
      case 15:
        t.clock_source = -1;
        t.keep_original = rng.below(2);
        break;
    }
  }
};

// The bench's heaviest case: every track playing, a fading voice held mid-ramp under each,
// segments on two tracks and an overdub.
TEST_P(EngineChecksumTest, FullLoadIsBitExact) {
  give_loops();
  open_gate();
  engine_state.play_list = 0x7F;
  fade_in_fading_voices(0x7F);
  engine_state.overdub_track = 6;
  give_segments(2, 8);
  give_segments(5, 16);
  Lcg rng{1};
  EXPECT_EQ(render(rng, 60000, false), 2051102917376856999ull);
}

// Levels, ramps, fades, rates, lists, outputs, triggers, segments, clock work and output gains
// changing all the time, through each recording role in turn.
TEST_P(EngineChecksumTest, ChangingScenesThroughEveryRoleAreBitExact) {
  give_loops();
  engine_state.play_list = 0x3F;
  engine_state.muted_list = 0x40;
  for (int i = 0; i < 6; i++) pool_clean_one();  // blocks the recording takes
  Lcg rng{7};
  give_pulse_tables(rng);
  engine.clock_out_track = 0;
  Checksum sum;
  engine_state.overdub_track = 4;
  sum.add64(render(rng, 50000, true));
  engine_state.overdub_track = -1;
  engine_state.replace_track = 1;
  tracks[1].keep_original = 1;
  sum.add64(render(rng, 50000, true));
  tracks[1].keep_original = 0;
  sum.add64(render(rng, 50000, true));
  engine_state.replace_track = -1;
  engine_state.record_track = 7;
  sum.add64(render(rng, 40000, true));
  EXPECT_EQ(tracks[7].length, 40000) << "the recording ran to the end";
  engine_state.record_track = -1;
  sum.add64(render(rng, 30000, true));
  EXPECT_EQ(sum.h, 1021071117592578009ull);
}

INSTANTIATE_TEST_SUITE_P(FramesAndRuns, EngineChecksumTest, testing::Bool(),
                         [](const testing::TestParamInfo<bool>& info) {
                           return info.param ? std::string("InRuns") : std::string("FrameByFrame");
                         });

}  // namespace
