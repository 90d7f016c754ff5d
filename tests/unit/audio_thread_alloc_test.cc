// The audio thread never allocates: every operator new of this test binary and every malloc,
// calloc and realloc of the looper's code (the link wraps them) is counted, and a busy engine
// (tracks playing, one overdubbing, one recording into fresh blocks, the drums playing and
// clocking) must run many frames without one.
#include <atomic>
#include <cstdlib>
#include <new>

#include "drums/drum_machine.h"
#include "tests/fixtures/engine_test_fixture.h"
#include "engine/listen_ring.h"

extern "C" {
void* __real_malloc(std::size_t size);
void* __real_calloc(std::size_t count, std::size_t size);
void* __real_realloc(void* p, std::size_t size);
}

namespace {
std::atomic<bool> counting{false};
std::atomic<long> allocations{0};

void count_allocation() {
  if (counting.load(std::memory_order_relaxed)) allocations.fetch_add(1, std::memory_order_relaxed);
}

void* counted_alloc(std::size_t size) {
  count_allocation();
  void* p = __real_malloc(size == 0 ? 1 : size);
  if (p == nullptr) throw std::bad_alloc();
  return p;
}
}  // namespace

extern "C" {

void* __wrap_malloc(std::size_t size) {
  count_allocation();
  return __real_malloc(size);
}
void* __wrap_calloc(std::size_t count, std::size_t size) {
  count_allocation();
  return __real_calloc(count, size);
}
void* __wrap_realloc(void* p, std::size_t size) {
  count_allocation();
  return __real_realloc(p, size);
}
}

void* operator new(std::size_t size) { return counted_alloc(size); }
void* operator new[](std::size_t size) { return counted_alloc(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }

namespace {

using AudioThreadAllocTest = EngineTest;

TEST_F(AudioThreadAllocTest, BusyEngineFramesAllocateNothing) {
  for (int i = 0; i < 2048; i++) pool_clean_one();  // zeroed blocks for the recording
  for (int n = 0; n < 7; n++) {
    give_audio(n, 20000 + 3001 * n);
    if (n != 3) play(n);
  }
  engine_state.overdub_track = 3;
  engine_state.record_track = 7;
  engine_state.record_gain = 512;
  open_gate();
  // The drum machine plays every voice on every beat and clocks the follower and MIDI out.
  int32_t* drum_blocks[drum_voice_blocks] = {};
  for (int d = 0; d < drum_count; d++) {
    drum_blocks[0] = pool_alloc_any();
    drum_voice_install(d, drum_blocks, 6000);
  }
  for (int s = 0; s < drum_steps; s += drum_steps_per_beat) drums.bank.patterns[0].steps[s] = 0xFF;
  config.drums_clock_out = 1;
  drum_set_tempo(180);
  drums_start(0);
  ASSERT_TRUE(listen_ring_start(2));  // the capture ring wraps more than once below

  counting = true;
  for (int32_t f = 0; f < 100000; f++)
    run(f * 64, -f * 32);  // 150 clock bytes: the queue holds them
  counting = false;

  EXPECT_EQ(allocations.load(), 0);
  EXPECT_GT(tracks[7].length.load(), 0);  // the recording did take blocks from the pool
  EXPECT_EQ(clock_follower.clock_lock, 0) << "the follower locked to the drums";
  EXPECT_EQ(listen_ring.written.load(), 100000u);
  listen_ring_stop();
}

// The guard itself: a malloc in the looper's code is seen.
TEST(AllocationGuard, CountsMallocAndOperatorNew) {
  counting = true;
  // Through volatile pointers, so an optimising build cannot drop an allocation it sees unused.
  void* volatile p = malloc(16);
  int* volatile q = new int(1);
  counting = false;
  free(p);
  delete q;
  EXPECT_EQ(allocations.exchange(0), 2);
}

}  // namespace
