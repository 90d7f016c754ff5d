// Test fixture shared by the transport, undo, timing and fade tests: resets the looper to its
// start-up state and makes every wait for the engine run the per-sample engine inline, one
// frame per poll, so the state machine is exercised deterministically on one thread.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "config/config.h"
#include "core/log_ring.h"
#include "engine/engine.h"
#include "engine/engine_wait.h"
#include "engine/fades.h"
#include "engine/track_ops.h"
#include "engine/transport.h"
#include "engine/undo.h"
#include "core/lock.h"
#include "host/looper.h"
#include "midi/clock.h"
#include "midi/midi_queue.h"
#include "pool/pool.h"

// The input the inline engine is fed; with alternate set its sign flips every frame, a tone at
// half the sample rate that passes the DC filter and the noise gate.
struct InlineInput {
  int32_t left;
  int32_t right;
  bool alternate;
};
inline InlineInput inline_input;

inline void run_inline_frame() {
  int32_t in[2] = {inline_input.left, inline_input.right};
  if (inline_input.alternate && (engine_state.frame_counter & 1u)) {
    in[0] = -in[0];
    in[1] = -in[1];
  }
  int32_t out_main[2], out_aux1[2], out_aux2[2];
  pthread_mutex_lock(engine_mutex());
  engine_process_sample(in, out_main, out_aux1, out_aux2);
  pthread_mutex_unlock(engine_mutex());
}

inline void run_frames(int64_t n) {
  for (int64_t i = 0; i < n; i++) run_inline_frame();
}

// Runs frames until done() holds; false after limit frames.
template <typename Done>
bool run_until(Done done, int64_t limit = 4000000) {
  for (int64_t i = 0; i < limit; i++) {
    if (done()) return true;
    run_inline_frame();
  }
  return done();
}

// Everything printed since the last call.
inline std::string console_text() {
  std::string text;
  char chunk[512];
  while (int n = log_take(console_log.udp_log_ring, chunk, int(sizeof chunk)))
    text.append(chunk, size_t(n));
  return text;
}

// Blocks taken out of the pool by a test to make it run short; returned in TearDown.
struct HeldBlocks {
  std::vector<int32_t*> blocks;
  void hold_all_but(int free_blocks) {
    while (pool_available() > free_blocks) {
      int32_t* block = pool_alloc_any();
      if (block == nullptr) break;
      blocks.push_back(block);
    }
    while (pool_clean_one() > 0) {
    }
  }
  void release() {
    for (int32_t* block : blocks) pool_free(block);
    blocks.clear();
  }
};

class LooperTest : public testing::Test {
 protected:
  static constexpr int clean_blocks = 600;
  static constexpr int32_t wait_limit = 4000000;  // inline frames before a wait is abandoned

  void SetUp() override {
    looper_reset();
    config_defaults();
    for (int i = 0; i < clean_blocks; i++) pool_clean_one();
    engine_wait.run_frame = run_inline_frame;
    engine_wait.inline_frame_limit = wait_limit;
    inline_input = {};
  }

  void TearDown() override {
    EXPECT_EQ(engine_wait.abandoned_waits, 0) << "a wait for the engine never ended";
    // Every path that changed a block table kept the counts the reports show.
    EXPECT_TRUE(recount_blocks() == block_counts) << "kept block counts differ from a recount";
    held.release();
  }

  // A loop of length frames on track t (0-7) whose frame i holds (i + 1, -(i + 1)), muted (or
  // playing) at position.
  void make_loop(int32_t t, int32_t length, bool playing = false, int32_t position = 0) {
    for (int32_t b = 0; b * block_frames < length; b++) {
      int32_t* block = take_zeroed_block();
      ASSERT_NE(block, nullptr);
      for (int32_t i = 0; i < block_frames && b * block_frames + i < length; i++) {
        block[2 * i] = b * block_frames + i + 1;
        block[2 * i + 1] = -(b * block_frames + i + 1);
      }
      set_block_ref(track_blocks[t][b], block);
    }
    Track& v = tracks[t];
    v.length = length;
    v.position = position;
    v.segment_count = 1;
    set_play_window(v);
    list_add(playing ? engine_state.play_list : engine_state.muted_list, t);
  }

  // Runs the engine and the idle tick's track work, 64 frames a tick, until done() holds; false
  // after `frames` frames.
  template <typename Done>
  static bool run_ticks_until(Done done, int64_t frames = 2000000) {
    for (int64_t i = 0; i < frames; i += 64) {
      if (done()) return true;
      run_frames(64);
      transport_update();
    }
    return done();
  }

  static int32_t state_of(int32_t t) { return track_state_code(track_state_snapshot(), t); }
  static int32_t left_sample(int32_t t, int32_t frame) {
    return track_blocks[t][frame / block_frames][2 * (frame % block_frames)];
  }

  HeldBlocks held;
};
