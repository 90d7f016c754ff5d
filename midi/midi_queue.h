// The MIDI byte queues between the JACK process thread and the rest of the system: the input
// ring (process thread writes, main thread reads) and the output queue of whole messages (any
// thread writes, the process callback drains). Neither side of the process thread ever blocks.
#pragma once

#include <pthread.h>

#include <atomic>
#include <cstdint>

constexpr uint32_t midi_in_size = 131072;  // 128 KB of received bytes; 131071 can be pending
constexpr int midi_out_slots = 256;        // messages; the queue is full at 255 pending
constexpr int midi_out_max_bytes = 512;    // longest message one slot holds

// Single producer (process thread), single consumer (main thread); each index has one writer.
struct MidiInRing {
  uint8_t bytes[midi_in_size];
  std::atomic<uint32_t> write_index{0};
  std::atomic<uint32_t> read_index{0};
  std::atomic<uint32_t> overruns{0};  // bytes dropped on a full ring, not yet taken by the reader
  // Reader side: the loss is reported once a second at most, with the bytes lost since the last
  // report.
  uint32_t overruns_unreported = 0;
  int64_t last_overrun_report_ms = 0;
  bool overrun_reported = false;
  int64_t (*clock_ms)() = nullptr;  // tests; null: the monotonic clock
};

constexpr int64_t overrun_report_interval_ms = 1000;

struct MidiOutSlot {
  uint8_t bytes[midi_out_max_bytes];
  int32_t length;
  uint32_t sequence;  // when it was queued: the drain merges both lanes in this order
};

// One ring of whole messages with one consumer. Its producers must be serialised by the caller.
struct MidiOutRing {
  MidiOutSlot slots[midi_out_slots];
  std::atomic<uint32_t> write_index{0};  // 0-255
  std::atomic<uint32_t> read_index{0};   // 0-255
};

// Producers other than the audio thread share `main_lane` under `producer_mutex`. The audio
// thread (the engine's clock bytes) never waits for that mutex: once it has registered, it has a
// lane of its own, which it alone fills. Every message carries a number from one counter, and
// the process callback drains the two lanes merged by it, so messages leave in queue order.
struct MidiOutQueue {
  MidiOutRing main_lane;
  MidiOutRing audio_lane;
  std::atomic<uint32_t> next_sequence{0};  // lock-free: the audio thread takes numbers too
  pthread_mutex_t producer_mutex = PTHREAD_MUTEX_INITIALIZER;
  std::atomic<pthread_t> audio_thread{};  // the registered process thread
  std::atomic<bool> audio_thread_known{false};
  // Messages longer than the output port's whole buffer, dropped by the process callback and
  // not yet reported by the main loop.
  std::atomic<uint32_t> dropped{0};
};

extern MidiInRing midi_in_ring;
extern MidiOutQueue midi_out_queue;

// Process thread: appends one received byte. On a full ring the byte is dropped and counted;
// the reader prints "in overrun, N bytes lost" for the bytes lost, once a second at most.
void midi_in_put(uint8_t byte);
// Main thread: the next received byte 0-255, or -1 when the ring is empty.
int midi_in_get();

// Any thread: copies one whole message (1-512 bytes) into the queue. Returns length, or 0 when
// the message is empty, too long or the queue is full (the message is dropped, not retried).
// Never blocks when called on the registered audio thread.
int midi_enqueue(const uint8_t* bytes, int length);

// Process callback, at the start of every period: marks the calling thread as the audio thread,
// whose midi_enqueue calls then take its own lane without the producer mutex. Cheap when the
// thread is already registered; a new thread replaces the old one.
void midi_out_register_audio_thread();

// Process callback only (the drain loop): messages waiting, the length of the oldest, and the
// oldest message, removed from the queue, its bytes returned and its byte count stored in
// *length (null and 0 when empty). The drain loop takes the length from the same call as the
// bytes: a message a producer had begun before the oldest may land between two calls. The
// returned bytes stay valid until the next midi_out_take: a full queue never reuses the slot just
// taken.
int midi_out_pending();
int midi_out_length();
const uint8_t* midi_out_take(int* length = nullptr);
// The process callback's port buffer as the drains see it: true when it took the message, false
// when it has no room for it now.
using MidiOutWriter = bool (*)(const uint8_t* bytes, int length, void* target);
// Process callback only: hands the waiting messages to write in queue order, removing each it
// takes. The first it refuses stays first in the queue, with everything behind it, for the next
// period.
void midi_out_drain(MidiOutWriter write, void* target);
// The same for the audio thread's own lane alone, between frames, so clock bytes leave at the
// frame that made them.
void midi_out_drain_audio_lane(MidiOutWriter write, void* target);

// Main loop: "out: N MIDI messages too long for the output port, dropped" when the process
// callback dropped any since the last call.
void midi_out_report_dropped();

// Process callback only, between frames: the oldest message of the audio thread's own lane with
// its length, removing it (null when that lane is empty), so clock bytes leave at the frame that
// made them. Bytes and length come from the same slot; they stay valid as midi_out_take's do.
const uint8_t* midi_out_take_audio_lane(int* length);

// Tests: both queues empty, no audio thread registered. Not safe while other threads use them.
void midi_queue_reset();
