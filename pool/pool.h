// The audio block pool: 8192 blocks of 64 KB in static storage, handed out and taken back through
// a stack of zeroed blocks and a stack of dirty ones. The engine-side calls run on the audio
// thread (which already holds the engine mutex); all others take the engine lock themselves.
#pragma once

#include <atomic>
#include <cstdint>

constexpr int block_frames = 8192;             // stereo frames per block
constexpr int block_words = 2 * block_frames;  // interleaved left, right
constexpr int block_bytes = block_words * 4;   // 65536: 8192 frames × 2 × int32
constexpr int pool_blocks = 8192;
constexpr int64_t pool_bytes = int64_t(pool_blocks) * block_bytes;  // 512 MiB
constexpr int undo_level_blocks = 181;  // block references in one undo level

// Per-block bookkeeping bits (block_state).
constexpr uint8_t block_held = 1;     // handed out and not yet released
constexpr uint8_t block_written = 2;  // may hold nonzero samples: clear it before it is free

struct Pool {
  alignas(
      64) int32_t memory[pool_blocks][block_words];  // cache-line aligned; offsets count from here
  int16_t free_stack[pool_blocks];                   // every block on it is all zeros
  int16_t dirty_stack[pool_blocks];                  // released blocks that still hold old audio
  int16_t free_count;
  int16_t dirty_count;
  uint8_t block_state[pool_blocks];
  // Releases refused on the audio thread, which never prints; the bad reference of the last one.
  int32_t engine_refused_frees;
  int32_t* engine_last_refused;
  int32_t engine_last_check;  // why the last one was refused
  // Counts every release. A reader that copies a block without the engine lock (the storage
  // thread saving a track) compares it before and after: unchanged, no block was released and
  // so none was reused or cleared meanwhile.
  std::atomic<uint32_t> releases;
};

extern Pool pool;

// Start-up: prints "Initializing 8192 audio blocks" and puts every block on the dirty stack.
void pool_init();

// Start-up, after pool_init: one write into every page of every block never written, so that
// all of the pool is backed by memory before any block is handed out, and the audio thread's
// first write into a fresh block never waits for the kernel.
void pool_make_resident();

// Pops a zeroed block, or null when none is free.
int32_t* pool_alloc_zeroed();
int32_t* pool_alloc_zeroed_engine();  // audio thread, engine mutex already held
// For callers that overwrite the whole block: a dirty block if any, else a zeroed one, or null.
int32_t* pool_alloc_any();

// Main-thread work on many blocks goes in batches: at most this many blocks taken or given back,
// and at most pool_batch_entries table entries looked at, per hold of the engine lock, so that
// each hold stays a few microseconds long whatever the number of blocks.
constexpr int pool_batch_blocks = 64;
constexpr int pool_batch_entries = 1024;

// Gives count blocks (count <= pool_batch_blocks) back in one hold of the engine lock, each as
// pool_free does.
void pool_free_batch(int32_t* const* refs, int count);

// Gives a block back to the dirty stack. A reference that is not a block of the pool, or a block
// that is not handed out, is reported and ignored.
void pool_free(int32_t* ref);
// The same for the audio thread: a refused reference is counted, never printed.
void pool_free_engine(int32_t* ref);

// Clears one dirty block (without holding the lock during the clear) and moves it to the free
// stack. Returns the number of dirty blocks left. Main loop, once per idle tick.
int pool_clean_one();

// Main loop: prints the message of the last release the audio thread refused since the previous
// call (with the count when there were several). Returns the number of refusals reported.
int pool_report_engine_refusals();

int pool_available();  // free + dirty
void pool_report();    // "Dirty %d, Free %d, Max %d, Undo blocks %d"

// Block index of a reference into the pool, or -1.
int pool_block_index(const int32_t* ref);

// Tests: the state just after pool_init, without printing and without touching block memory.
// Blocks that were written since the program loaded are cleared when they are next cleaned.
void pool_reset();
