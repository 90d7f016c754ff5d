#include "core/log_ring.h"

ConsoleLog console_log;

void log_ring_put(LogRing& ring, char c) {
  uint16_t write = ring.write_index.load(std::memory_order_relaxed);
  uint16_t next = uint16_t(write + 1u);
  ring.data[write] = c;
  uint16_t read = ring.read_index.load(std::memory_order_relaxed);
  if (next == read) ring.read_index.store(uint16_t(read + 1u), std::memory_order_relaxed);
  ring.write_index.store(next, std::memory_order_release);
}

int log_ring_take(LogRing& ring, char* out, int max) {
  uint32_t write = ring.write_index.load(std::memory_order_acquire);
  uint32_t read = ring.read_index.load(std::memory_order_relaxed);
  // Contiguous run only: up to the write index, or up to the end of the ring when wrapped.
  uint32_t available = write >= read ? write - read : uint32_t(log_ring_size) - read;
  uint32_t count = max > 0 ? (available < uint32_t(max) ? available : uint32_t(max)) : 0;
  for (uint32_t i = 0; i < count; i++) out[i] = ring.data[read + i];
  ring.read_index.store(uint16_t(read + count), std::memory_order_relaxed);
  return int(count);
}

int log_ring_pending(const LogRing& ring) {
  uint16_t write = ring.write_index.load(std::memory_order_acquire);
  uint16_t read = ring.read_index.load(std::memory_order_relaxed);
  return uint16_t(write - read);
}

void console_log_reset() {
  std::lock_guard<std::mutex> hold(console_log.mutex);
  for (LogRing* ring :
       {&console_log.udp_log_ring, &console_log.sysex_log_ring, &console_log.web_log_ring}) {
    ring->write_index.store(0, std::memory_order_relaxed);
    ring->read_index.store(0, std::memory_order_relaxed);
  }
}

int log_take(LogRing& ring, char* out, int max) {
  std::lock_guard<std::mutex> hold(console_log.mutex);
  return log_ring_take(ring, out, max);
}
