#include "pool/pool.h"

#include <sys/mman.h>

#include <cstring>

#include "core/console.h"
#include "core/lock.h"

Pool pool;

namespace {

const char* pool_start() { return reinterpret_cast<const char*>(pool.memory); }

constexpr int page_bytes = 4096;  // the smallest page size
constexpr int page_words = page_bytes / 4;

enum class FreeCheck { ok, bad_address, out_of_bounds, not_held };

// Validates ref and, when it is a held block, pushes it onto the dirty stack. Caller holds the
// engine mutex.
FreeCheck release_block(int32_t* ref) {
  Pool& p = pool;
  const char* start = pool_start();
  uintptr_t address = reinterpret_cast<uintptr_t>(ref);
  uintptr_t base = reinterpret_cast<uintptr_t>(start);
  uint32_t offset = uint32_t(address - base);  // 32-bit offset, as the block arithmetic uses
  if (offset % block_bytes != 0) return FreeCheck::bad_address;
  if (address < base || address >= base + uint64_t(pool_bytes)) return FreeCheck::out_of_bounds;
  int index = int(offset / block_bytes);
  // A second release of the same block would put it on the stack twice and give it two holders.
  // (A held block is on neither stack, so the dirty stack has room for it.)
  if (!(p.block_state[index] & block_held)) return FreeCheck::not_held;
  p.block_state[index] &= uint8_t(~block_held);
  p.dirty_stack[p.dirty_count++] = int16_t(index);
  p.releases.store(p.releases.load(std::memory_order_relaxed) + 1, std::memory_order_release);
  return FreeCheck::ok;
}

int32_t* pop_free(Pool& p) {
  if (p.free_count <= 0) return nullptr;
  int index = p.free_stack[--p.free_count];
  p.block_state[index] |= block_held | block_written;
  return p.memory[index];
}

int32_t* pop_dirty(Pool& p) {
  if (p.dirty_count <= 0) return nullptr;
  int index = p.dirty_stack[--p.dirty_count];
  p.block_state[index] |= block_held | block_written;
  return p.memory[index];
}

void reset_stacks(Pool& p) {
  for (int i = 0; i < pool_blocks; i++) {
    p.dirty_stack[i] = int16_t(i);
    p.block_state[i] &= uint8_t(~block_held);
  }
  p.free_count = 0;
  p.dirty_count = pool_blocks;
  p.engine_refused_frees = 0;
  p.engine_last_refused = nullptr;
  p.engine_last_check = 0;
}

}  // namespace

void pool_init() {
  console_printf("Initializing %d audio blocks\n", pool_blocks);
  reset_stacks(pool);
}

void pool_make_resident() {
  Pool& p = pool;
  // The kernel backs the whole pool in one call where it can (Linux 5.14 on); the writes below
  // then find every page present. The pool's first and last page may be shared with other data:
  // only whole pages inside it are asked for.
  const uintptr_t start = reinterpret_cast<uintptr_t>(p.memory);
  const uintptr_t first = (start + page_bytes - 1) & ~uintptr_t(page_bytes - 1);
  const uintptr_t end = (start + uintptr_t(pool_bytes)) & ~uintptr_t(page_bytes - 1);
  madvise(reinterpret_cast<void*>(first), end - first, MADV_POPULATE_WRITE);
  for (int index = 0; index < pool_blocks; index++) {
    if (p.block_state[index] & block_written) continue;  // written, so resident already
    for (int word = 0; word < block_words; word += page_words) p.memory[index][word] = 0;
  }
}

void pool_reset() { reset_stacks(pool); }

int32_t* pool_alloc_zeroed() {
  EngineLockGuard lock;
  return pop_free(pool);
}

int32_t* pool_alloc_zeroed_engine() { return pop_free(pool); }

int32_t* pool_alloc_any() {
  EngineLockGuard lock;
  if (pool.dirty_count > 0) return pop_dirty(pool);
  // Let the audio thread in between before falling back to the zeroed stack.
  engine_unlock();
  engine_lock();
  return pop_free(pool);
}

namespace {
void print_refusal(FreeCheck result, int32_t* ref) {
  const long start = long(reinterpret_cast<uintptr_t>(pool_start()));
  switch (result) {
    case FreeCheck::ok: break;
    case FreeCheck::bad_address:
      console_printf("free: bad addr %lx, %lx, %x\n", long(reinterpret_cast<uintptr_t>(ref)), start,
                     block_bytes);
      break;
    case FreeCheck::out_of_bounds:
      console_printf("free: addr out of bounds %lx, %lx, %lx\n",
                     long(reinterpret_cast<uintptr_t>(ref)), start, long(start + pool_bytes));
      break;
    case FreeCheck::not_held:
      console_printf("free: block %d not in use\n", pool_block_index(ref));
      break;
  }
}
}  // namespace

void pool_free(int32_t* ref) {
  FreeCheck result;
  {
    EngineLockGuard lock;
    result = release_block(ref);
  }
  print_refusal(result, ref);
}

void pool_free_batch(int32_t* const* refs, int count) {
  if (count <= 0) return;
  FreeCheck refused = FreeCheck::ok;
  int32_t* refused_ref = nullptr;
  int refusals = 0;
  {
    EngineLockGuard lock;
    for (int i = 0; i < count; i++) {
      const FreeCheck result = release_block(refs[i]);
      if (result == FreeCheck::ok) continue;
      if (refusals++ == 0) {
        refused = result;
        refused_ref = refs[i];
      }
    }
  }
  if (refusals == 0) return;
  print_refusal(refused, refused_ref);
  if (refusals > 1) console_printf("free: %d releases refused\n", refusals);
}

void pool_free_engine(int32_t* ref) {
  const FreeCheck result = release_block(ref);
  if (result != FreeCheck::ok) {
    pool.engine_refused_frees++;
    pool.engine_last_refused = ref;
    pool.engine_last_check = int32_t(result);
  }
}

int pool_report_engine_refusals() {
  Pool& p = pool;
  int count;
  int32_t* ref;
  FreeCheck result;
  {
    EngineLockGuard lock;
    count = p.engine_refused_frees;
    ref = p.engine_last_refused;
    result = FreeCheck(p.engine_last_check);
    p.engine_refused_frees = 0;
  }
  if (count == 0) return 0;
  print_refusal(result, ref);
  if (count > 1) console_printf("free: %d releases refused in the engine\n", count);
  return count;
}

int pool_clean_one() {
  Pool& p = pool;
  int index;
  {
    EngineLockGuard lock;
    if (p.dirty_count <= 0) return 0;
    index = p.dirty_stack[--p.dirty_count];
  }
  if (index < 0) return 0;
  // The block is on neither stack now, so no one else can obtain it while it is cleared.
  if (p.block_state[index] & block_written) {
    std::memset(p.memory[index], 0, block_bytes);
    p.block_state[index] &= uint8_t(~block_written);
  }
  EngineLockGuard lock;
  p.free_stack[p.free_count++] = int16_t(index);
  return p.dirty_count;
}

int pool_available() {
  EngineLockGuard lock;  // the audio thread takes and returns blocks
  return pool.free_count + pool.dirty_count;
}

void pool_report() {
  int dirty, free;
  {
    EngineLockGuard lock;
    dirty = pool.dirty_count;
    free = pool.free_count;
  }
  console_printf("Dirty %d, Free %d, Max %d, Undo blocks %d\n", dirty, free, pool_blocks,
                 undo_level_blocks);
}

int pool_block_index(const int32_t* ref) {
  uintptr_t address = reinterpret_cast<uintptr_t>(ref);
  uintptr_t base = reinterpret_cast<uintptr_t>(pool_start());
  if (address < base || address >= base + uint64_t(pool_bytes)) return -1;
  return int((address - base) / block_bytes);
}
