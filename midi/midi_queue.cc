#include "midi/midi_queue.h"

#include <time.h>

#include <cstring>

#include "core/console.h"

MidiInRing midi_in_ring;
MidiOutQueue midi_out_queue;

namespace {

constexpr uint32_t midi_in_mask = midi_in_size - 1;
constexpr uint32_t midi_out_mask = midi_out_slots - 1;
static_assert((midi_in_size & midi_in_mask) == 0, "the input ring wraps by masking");
static_assert((midi_out_slots & midi_out_mask) == 0, "the output ring wraps by masking");

uint32_t ring_pending(const MidiOutRing& ring) {
  const uint32_t write = ring.write_index.load(std::memory_order_acquire);
  const uint32_t read = ring.read_index.load(std::memory_order_relaxed);
  return (write - read) & midi_out_mask;
}

// The caller is the ring's only producer at this moment.
int ring_put(MidiOutRing& ring, const uint8_t* bytes, int length) {
  const uint32_t write = ring.write_index.load(std::memory_order_relaxed);
  const uint32_t read = ring.read_index.load(std::memory_order_acquire);
  // Full at 255 pending: the slot just before read is the one the consumer may still be sending.
  if (((write - read) & midi_out_mask) == midi_out_mask) return 0;
  MidiOutSlot& slot = ring.slots[write];
  memcpy(slot.bytes, bytes, size_t(length));
  slot.length = length;
  slot.sequence = midi_out_queue.next_sequence.fetch_add(1, std::memory_order_relaxed);
  ring.write_index.store((write + 1) & midi_out_mask, std::memory_order_release);
  return length;
}

const MidiOutSlot& ring_head(const MidiOutRing& ring) {
  return ring.slots[ring.read_index.load(std::memory_order_relaxed)];
}

// The ring whose first message was queued first (sequence numbers compared across their wrap).
MidiOutRing* oldest_ring() {
  MidiOutQueue& q = midi_out_queue;
  const bool main_waiting = ring_pending(q.main_lane) > 0;
  const bool audio_waiting = ring_pending(q.audio_lane) > 0;
  if (main_waiting && audio_waiting) {
    const uint32_t main_first = ring_head(q.main_lane).sequence;
    const uint32_t audio_first = ring_head(q.audio_lane).sequence;
    return int32_t(audio_first - main_first) < 0 ? &q.audio_lane : &q.main_lane;
  }
  if (main_waiting) return &q.main_lane;
  if (audio_waiting) return &q.audio_lane;
  return nullptr;
}

// Hands the ring's oldest message to write; removes it when write takes it.
bool write_head(MidiOutRing& ring, MidiOutWriter write, void* target) {
  const uint32_t read = ring.read_index.load(std::memory_order_relaxed);
  const MidiOutSlot& slot = ring.slots[read];
  if (!write(slot.bytes, slot.length, target)) return false;
  ring.read_index.store((read + 1) & midi_out_mask, std::memory_order_release);
  return true;
}

bool on_audio_thread() {
  const MidiOutQueue& q = midi_out_queue;
  return q.audio_thread_known.load(std::memory_order_acquire) &&
         pthread_equal(q.audio_thread.load(std::memory_order_relaxed), pthread_self());
}

int64_t monotonic_ms() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return int64_t(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

// A flood loses bytes by the million: one line a second says how many.
void report_overruns(MidiInRing& r) {
  const int64_t now = r.clock_ms != nullptr ? r.clock_ms() : monotonic_ms();
  if (r.overrun_reported && now - r.last_overrun_report_ms < overrun_report_interval_ms) return;
  console_printf("in overrun, %d bytes lost\n", int(r.overruns_unreported));
  r.overruns_unreported = 0;
  r.last_overrun_report_ms = now;
  r.overrun_reported = true;
}

}  // namespace

void midi_in_put(uint8_t byte) {
  MidiInRing& r = midi_in_ring;
  const uint32_t write = r.write_index.load(std::memory_order_relaxed);
  const uint32_t next = (write + 1) & midi_in_mask;
  if (next == r.read_index.load(std::memory_order_acquire)) {
    // No printing on the audio thread: the reader reports the loss.
    r.overruns.fetch_add(1, std::memory_order_relaxed);
    return;
  }
  r.bytes[write] = byte;
  r.write_index.store(next, std::memory_order_release);
}

int midi_in_get() {
  MidiInRing& r = midi_in_ring;
  r.overruns_unreported += r.overruns.exchange(0, std::memory_order_relaxed);
  if (r.overruns_unreported != 0) report_overruns(r);
  const uint32_t read = r.read_index.load(std::memory_order_relaxed);
  if (read == r.write_index.load(std::memory_order_acquire)) return -1;
  const int byte = r.bytes[read];
  r.read_index.store((read + 1) & midi_in_mask, std::memory_order_release);
  return byte;
}

int midi_enqueue(const uint8_t* bytes, int length) {
  if (bytes == nullptr || length <= 0 || length > midi_out_max_bytes) return 0;
  MidiOutQueue& q = midi_out_queue;
  if (on_audio_thread()) return ring_put(q.audio_lane, bytes, length);
  pthread_mutex_lock(&q.producer_mutex);
  const int queued = ring_put(q.main_lane, bytes, length);
  pthread_mutex_unlock(&q.producer_mutex);
  return queued;
}

void midi_out_register_audio_thread() {
  if (on_audio_thread()) return;
  MidiOutQueue& q = midi_out_queue;
  q.audio_thread_known.store(false, std::memory_order_relaxed);
  q.audio_thread.store(pthread_self(), std::memory_order_relaxed);
  q.audio_thread_known.store(true, std::memory_order_release);
}

int midi_out_pending() {
  const MidiOutQueue& q = midi_out_queue;
  return int(ring_pending(q.main_lane) + ring_pending(q.audio_lane));
}

int midi_out_length() {
  const MidiOutRing* ring = oldest_ring();
  if (ring == nullptr) return 0;
  return ring_head(*ring).length;
}

const uint8_t* midi_out_take(int* length) {
  MidiOutRing* ring = oldest_ring();
  if (ring == nullptr) {
    if (length != nullptr) *length = 0;
    return nullptr;
  }
  const uint32_t read = ring->read_index.load(std::memory_order_relaxed);
  const MidiOutSlot& slot = ring->slots[read];
  if (length != nullptr) *length = slot.length;
  ring->read_index.store((read + 1) & midi_out_mask, std::memory_order_release);
  return slot.bytes;
}

void midi_out_drain(MidiOutWriter write, void* target) {
  while (MidiOutRing* ring = oldest_ring()) {
    if (!write_head(*ring, write, target)) return;
  }
}

void midi_out_drain_audio_lane(MidiOutWriter write, void* target) {
  MidiOutRing& ring = midi_out_queue.audio_lane;
  while (ring_pending(ring) > 0) {
    if (!write_head(ring, write, target)) return;
  }
}

void midi_out_report_dropped() {
  const uint32_t dropped = midi_out_queue.dropped.exchange(0, std::memory_order_relaxed);
  if (dropped != 0) {
    console_printf("out: %d MIDI messages too long for the output port, dropped\n", int(dropped));
  }
}

const uint8_t* midi_out_take_audio_lane(int* length) {
  MidiOutRing& ring = midi_out_queue.audio_lane;
  if (ring_pending(ring) == 0) return nullptr;
  const uint32_t read = ring.read_index.load(std::memory_order_relaxed);
  const MidiOutSlot& slot = ring.slots[read];
  *length = slot.length;
  ring.read_index.store((read + 1) & midi_out_mask, std::memory_order_release);
  return slot.bytes;
}

void midi_queue_reset() {
  MidiInRing& r = midi_in_ring;
  r.write_index.store(0);
  r.read_index.store(0);
  r.overruns.store(0);
  r.overruns_unreported = 0;
  r.last_overrun_report_ms = 0;
  r.overrun_reported = false;
  r.clock_ms = nullptr;
  MidiOutQueue& q = midi_out_queue;
  for (MidiOutRing* ring : {&q.main_lane, &q.audio_lane}) {
    ring->write_index.store(0);
    ring->read_index.store(0);
  }
  q.next_sequence.store(0);
  q.dropped.store(0);
  q.audio_thread_known.store(false);
  q.audio_thread.store(pthread_t{});
}
