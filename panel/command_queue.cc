#include "panel/command_queue.h"

#include <cstring>
#include <mutex>

#include "panel/text_command.h"

CommandQueue command_queue;

namespace {

uint32_t next_slot(uint32_t index) { return (index + 1) % command_queue_slots; }

std::mutex producer_mutex;  // one producer at a time; the consumer never takes it

}  // namespace

bool command_queue_put(const char* text, int length) {
  CommandQueue& q = command_queue;
  if (length < 0 || length > command_text_max) return false;
  std::lock_guard<std::mutex> hold(producer_mutex);
  const uint32_t w = q.write_index.load(std::memory_order_relaxed);
  if (next_slot(w) == q.read_index.load(std::memory_order_acquire)) return false;
  memcpy(q.texts[w], text, size_t(length));
  q.texts[w][length] = '\0';
  q.write_index.store(next_slot(w), std::memory_order_release);
  return true;
}

bool command_queue_put(const char* text) {
  // Longer texts are refused whole; strnlen never reads past what could be accepted.
  const size_t n = strnlen(text, command_text_max + 1);
  return command_queue_put(text, int(n));
}

int command_execute() {
  CommandQueue& q = command_queue;
  const uint32_t r = q.read_index.load(std::memory_order_relaxed);
  if (r == q.write_index.load(std::memory_order_acquire)) return 0;
  run_text_command(q.texts[r]);
  q.read_index.store(next_slot(r), std::memory_order_release);
  return 1;
}

void command_queue_reset() {
  CommandQueue& q = command_queue;
  memset(q.texts, 0, sizeof q.texts);
  q.write_index.store(0);
  q.read_index.store(0);
}
