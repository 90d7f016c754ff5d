// The audio thread between two lock sections of a main-thread operation. This binary wraps
// pthread_mutex_lock, so a test can run one engine frame just before the operation takes the
// engine mutex for the k-th time, as the audio thread may whenever the mutex is free.
#include <pthread.h>

#include "core/lock.h"
#include "tests/fixtures/looper_test_fixture.h"

namespace {

// Engine mutex acquisitions until the frame runs; 0 = none armed. Test thread only.
int frame_before_lock = 0;

}  // namespace

extern "C" int __real_pthread_mutex_lock(pthread_mutex_t* mutex);
extern "C" int __wrap_pthread_mutex_lock(pthread_mutex_t* mutex) {
  if (mutex == engine_mutex() && frame_before_lock > 0 && --frame_before_lock == 0)
    run_inline_frame();  // takes the mutex itself; nothing is armed by then
  return __real_pthread_mutex_lock(mutex);
}

namespace {

struct CloseCase {
  const char* name;
  bool synchronised;  // to a 10000-frame clock source on track 1, else free
  int lock;           // the engine frame runs before this acquisition inside close_loop
  // The pool's only free blocks are dirty ones: close_loop clears spares for itself, while the
  // engine, which takes zeroed blocks alone, still runs dry and discards the take.
  bool dirty_spares;
};

class CloseLoopInterleaveTest : public LooperTest, public testing::WithParamInterface<CloseCase> {};

// A take of two whole blocks whose next frame needs a block the pool does not have: the engine
// discards it. Wherever close_loop meets that frame, it either closes the whole take or leaves
// the track empty; it never hands the overdub role to a discarded take.
TEST_P(CloseLoopInterleaveTest, NeverGivesTheOverdubRoleToADiscardedTake) {
  const CloseCase c = GetParam();
  int32_t mode = sync_free;
  int32_t closed_length = 2 * block_frames;
  if (c.synchronised) {
    make_loop(1, 10000, true);
    engine_state.clock_source_track = 1;
    mode = 1;
    closed_length = 20000;  // the next multiple of 10000 beyond the take
  }
  held.hold_all_but(2);
  inline_input = {1 << 20, 1 << 20, true};
  ASSERT_EQ(start_record(0, mode, 0), 0);
  ASSERT_TRUE(run_until([] { return tracks[0].length == 2 * block_frames; }));
  if (c.dirty_spares) {
    constexpr int returned = 4;  // more than any close needs
    for (int i = 0; i < returned; i++) {
      pool_free(held.blocks.back());
      held.blocks.pop_back();
    }
  }

  frame_before_lock = c.lock;
  const int result = close_loop(0);
  frame_before_lock = 0;

  if (engine_state.overdub_track == 0) {
    EXPECT_EQ(result, 0);
    ASSERT_EQ(tracks[0].length, closed_length);
    EXPECT_NE(left_sample(0, 1000), 0) << "the take's audio";
  } else {
    EXPECT_NE(result, 0);
    EXPECT_EQ(tracks[0].length, 0);
    EXPECT_EQ(engine_state.record_track, -1);
  }
}

std::vector<CloseCase> close_cases() {
  std::vector<CloseCase> cases;
  for (int dirty = 0; dirty < 2; dirty++)
    for (int synchronised = 0; synchronised < 2; synchronised++)
      for (int lock = 1; lock <= 8; lock++)
        cases.push_back({synchronised != 0 ? "sync" : "free", synchronised != 0, lock, dirty != 0});
  return cases;
}

INSTANTIATE_TEST_SUITE_P(LockSections, CloseLoopInterleaveTest, testing::ValuesIn(close_cases()),
                         [](const testing::TestParamInfo<CloseCase>& info) {
                           const CloseCase& c = info.param;
                           return std::string(c.name) + std::to_string(c.lock) +
                                  (c.dirty_spares ? "DirtySpares" : "");
                         });

}  // namespace
