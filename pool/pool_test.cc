#include "pool/pool.h"

#include <gtest/gtest.h>

#include <string>

#include "core/log_ring.h"
#include "host/looper.h"

namespace {

std::string take_console() {
  char buffer[4096];
  std::string text;
  int n;
  while ((n = log_take(console_log.udp_log_ring, buffer, sizeof buffer)) > 0)
    text.append(buffer, n);
  return text;
}

class PoolTest : public ::testing::Test {
 protected:
  void SetUp() override { looper_reset(); }
};

TEST_F(PoolTest, InitPutsEveryBlockOnTheDirtyStack) {
  pool_init();
  pool_report();
  EXPECT_EQ(take_console(),
            "Initializing 8192 audio blocks\nDirty 8192, Free 0, Max 8192, Undo blocks 181\n");
  EXPECT_EQ(pool_available(), 8192);
  EXPECT_EQ(pool_alloc_zeroed(), nullptr);
  EXPECT_EQ(pool_alloc_any(), pool.memory[8191]);
  EXPECT_EQ(pool.dirty_count, 8191);
}

TEST_F(PoolTest, CleaningMovesTheTopDirtyBlockToTheFreeStack) {
  EXPECT_EQ(pool_clean_one(), 8191);
  EXPECT_EQ(pool.free_count, 1);
  EXPECT_EQ(pool.free_stack[0], 8191);
  EXPECT_EQ(pool_alloc_zeroed(), pool.memory[8191]);
  EXPECT_EQ(pool_alloc_zeroed(), nullptr);
  EXPECT_EQ(pool_available(), 8191);
}

TEST_F(PoolTest, CleaningZeroesAWrittenBlock) {
  int32_t* block = pool_alloc_any();
  ASSERT_NE(block, nullptr);
  block[0] = 7;
  block[block_words - 1] = -9;
  pool_free(block);
  EXPECT_EQ(pool.dirty_stack[pool.dirty_count - 1], pool_block_index(block));
  pool_clean_one();
  int32_t* again = pool_alloc_zeroed();
  ASSERT_EQ(again, block);
  for (int i = 0; i < block_words; i++) ASSERT_EQ(again[i], 0) << i;
}

TEST_F(PoolTest, FreedBlockIsDirtyNotZeroed) {
  pool_clean_one();               // one free block: 8191
  int32_t* a = pool_alloc_any();  // 8190 from the dirty stack
  ASSERT_EQ(a, pool.memory[8190]);
  pool_free(a);
  int32_t* z = pool_alloc_zeroed();
  EXPECT_EQ(z, pool.memory[8191]);
  EXPECT_EQ(pool_alloc_any(), a);
}

TEST_F(PoolTest, BadReferencesAreReportedAndIgnored) {
  char* start = reinterpret_cast<char*>(pool.memory);
  struct Case {
    int32_t* ref;
    const char* message_start;
  } cases[] = {
      {reinterpret_cast<int32_t*>(start + block_bytes + 8), "free: bad addr "},
      {reinterpret_cast<int32_t*>(start + pool_bytes), "free: addr out of bounds "},
      {reinterpret_cast<int32_t*>(start - block_bytes), "free: addr out of bounds "},
      {pool.memory[5], "free: block 5 not in use\n"},  // still on the dirty stack
  };
  for (const Case& c : cases) {
    pool_free(c.ref);
    std::string text = take_console();
    EXPECT_EQ(text.rfind(c.message_start, 0), 0u) << text;
    EXPECT_EQ(pool.dirty_count, 8192);
    EXPECT_EQ(pool.free_count, 0);
  }
}

TEST_F(PoolTest, BadAddressMessageCarriesRefStartAndBlockSize) {
  char* start = reinterpret_cast<char*>(pool.memory);
  char expected[200];
  snprintf(expected, sizeof expected, "free: bad addr %08lX, %08lX, 00010000\n",
           long(reinterpret_cast<uintptr_t>(start + block_bytes + 8)),
           long(reinterpret_cast<uintptr_t>(start)));
  pool_free(reinterpret_cast<int32_t*>(start + block_bytes + 8));
  EXPECT_EQ(take_console(), expected);
  snprintf(expected, sizeof expected, "free: addr out of bounds %08lX, %08lX, %08lX\n",
           long(reinterpret_cast<uintptr_t>(start + pool_bytes)),
           long(reinterpret_cast<uintptr_t>(start)),
           long(reinterpret_cast<uintptr_t>(start + pool_bytes)));
  pool_free(reinterpret_cast<int32_t*>(start + pool_bytes));
  EXPECT_EQ(take_console(), expected);
}

TEST_F(PoolTest, DoubleReleaseIsRefused) {
  int32_t* a = pool_alloc_any();
  pool_free(a);
  take_console();
  pool_free(a);
  EXPECT_NE(take_console().find("not in use"), std::string::npos);
  EXPECT_EQ(pool.dirty_count, 8192);
  // The engine side counts instead of printing.
  pool_free_engine(a);
  EXPECT_EQ(take_console(), "");
  EXPECT_EQ(pool.engine_refused_frees, 1);
  EXPECT_EQ(pool.engine_last_refused, a);
  // The main loop reports it later, once.
  EXPECT_EQ(pool_report_engine_refusals(), 1);
  EXPECT_NE(take_console().find("not in use"), std::string::npos);
  EXPECT_EQ(pool_report_engine_refusals(), 0);
  EXPECT_EQ(take_console(), "");
}

TEST_F(PoolTest, ExhaustionReturnsNull) {
  for (int i = 0; i < pool_blocks; i++) ASSERT_NE(pool_alloc_any(), nullptr);
  EXPECT_EQ(pool_alloc_any(), nullptr);
  EXPECT_EQ(pool_alloc_zeroed_engine(), nullptr);
  EXPECT_EQ(pool_available(), 0);
  EXPECT_EQ(pool_clean_one(), 0);
}

TEST_F(PoolTest, CleaningEverythingLeavesEveryBlockFree) {
  int left = 0;
  for (int i = 0; i < pool_blocks; i++) left = pool_clean_one();
  EXPECT_EQ(left, 0);
  EXPECT_EQ(pool.free_count, 8192);
  EXPECT_EQ(pool_clean_one(), 0);
  // Popped in the reverse of the cleaning order: block 0 was cleaned last.
  EXPECT_EQ(pool_alloc_zeroed_engine(), pool.memory[0]);
}

}  // namespace
