// The audio thread between two lock sections of a main-thread operation. This binary wraps
// pthread_mutex_lock, so a test can run one engine frame just before the operation takes the
// engine mutex for the k-th time, as the audio thread may whenever the mutex is free.
#include <pthread.h>

#include "core/lock.h"
#include "engine/looper_test_fixture.h"

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
  static const char* const names[2][8] = {
      {"free1", "free2", "free3", "free4", "free5", "free6", "free7", "free8"},
      {"sync1", "sync2", "sync3", "sync4", "sync5", "sync6", "sync7", "sync8"}};
  std::vector<CloseCase> cases;
  for (int synchronised = 0; synchronised < 2; synchronised++)
    for (int lock = 1; lock <= 8; lock++)
      cases.push_back({names[synchronised][lock - 1], synchronised != 0, lock});
  return cases;
}

INSTANTIATE_TEST_SUITE_P(LockSections, CloseLoopInterleaveTest, testing::ValuesIn(close_cases()),
                         [](const testing::TestParamInfo<CloseCase>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
