// Test support for the per-sample engine: a fixture that resets the engine, the track model,
// the pool, the clock follower and the configuration, and helpers that give tracks audio and
// run frames. Test code only.
#pragma once

#include <gtest/gtest.h>

#include "config/config.h"
#include "engine/engine.h"
#include "host/looper.h"
#include "midi/clock.h"
#include "pool/pool.h"

struct EngineFrame {
  int32_t in[2];  // the recorded signal, as the engine leaves it
  int32_t main[2];
  int32_t aux1[2];
  int32_t aux2[2];
};

// Stored sample of a test track at frame p: distinct, nonzero, a multiple of 16 (so gain index 0
// passes it unchanged) and of opposite signs left and right.
inline int32_t test_left(int32_t p) { return (p + 1) * 16; }
inline int32_t test_right(int32_t p) { return -(p + 1) * 32; }

class EngineTest : public ::testing::Test {
 protected:
  void SetUp() override { looper_reset(); }

  // Gives track n `length` frames of the test pattern in blocks from the pool, a loop window
  // covering all of it and a unity ramp (a reset track's ramp gain is 0).
  static void give_audio(int n, int32_t length) {
    for (int32_t k = 0; k * block_frames < length; k++) {
      int32_t* block = pool_alloc_any();
      ASSERT_NE(block, nullptr);
      for (int f = 0; f < block_frames; f++) {
        int32_t p = k * block_frames + f;
        block[2 * f] = test_left(p);
        block[2 * f + 1] = test_right(p);
      }
      set_block_ref(track_blocks[n][k], block);
    }
    Track& t = tracks[n];
    t.length = length;
    t.loop_start = 0;
    t.loop_end = length;
    t.ramp_gain = ramp_unity;
  }

  static int32_t* stored(int n, int32_t p) {
    return track_blocks[n][p / block_frames] + 2 * (p % block_frames);
  }

  static void play(int n) { engine_state.play_list |= uint16_t(1u << n); }

  // The gate as if it had been open for a long time, with no shift.
  static void open_gate() {
    for (int c = 0; c < 2; c++) {
      engine.gate_loud_count[c] = int16_t(engine_state.gate_delay / 8 + 1);
      engine.gate_shift[c] = 0;
    }
  }

  static EngineFrame run(int32_t left = 0, int32_t right = 0) {
    EngineFrame f{{left, right}, {}, {}, {}};
    engine_process_sample(f.in, f.main, f.aux1, f.aux2);
    return f;
  }
};
