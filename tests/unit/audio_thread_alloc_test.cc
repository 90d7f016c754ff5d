// The audio thread never allocates: every operator new of this test binary is counted, and a
// busy engine (eight tracks playing, one overdubbing, one recording into fresh blocks) must run
// many frames without one.
#include <atomic>
#include <cstdlib>
#include <new>

#include "engine/engine_test_fixture.h"

namespace {
std::atomic<bool> counting{false};
std::atomic<long> allocations{0};

void* counted_alloc(std::size_t size) {
  if (counting.load(std::memory_order_relaxed)) allocations.fetch_add(1, std::memory_order_relaxed);
  void* p = std::malloc(size == 0 ? 1 : size);
  if (p == nullptr) throw std::bad_alloc();
  return p;
}
}  // namespace

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

  counting = true;
  for (int32_t f = 0; f < 100000; f++) run(f * 64, -f * 32);
  counting = false;

  EXPECT_EQ(allocations.load(), 0);
  EXPECT_GT(tracks[7].length.load(), 0);  // the recording did take blocks from the pool
}

}  // namespace
