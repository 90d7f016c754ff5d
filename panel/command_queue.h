// The text-command queue: command texts received by the network thread wait here until the main
// loop runs them, one per pass. Producers (the network thread, the web panel's threads) take turns
// under a producer mutex; the one consumer (main thread) takes no lock.
#pragma once

#include <atomic>
#include <cstdint>

constexpr int command_queue_slots = 32;  // full at 31 waiting commands
constexpr int command_slot_bytes = 64;
constexpr int command_text_max = 62;  // longest text a slot takes, before its NUL

struct CommandQueue {
  char texts[command_queue_slots][command_slot_bytes];
  std::atomic<uint32_t> write_index{0};  // 0-31, advanced by the producer only
  std::atomic<uint32_t> read_index{0};   // 0-31, advanced by the consumer only
};

extern CommandQueue command_queue;

// Producers: copies `length` bytes of text into the next slot and publishes it. Returns false,
// queueing nothing, when the text is longer than 62 characters or 31 commands are waiting.
bool command_queue_put(const char* text, int length);
// The same for a NUL-terminated text.
bool command_queue_put(const char* text);

// Main loop, once per pass: runs the oldest waiting command as a text command (an unknown name
// does nothing) and frees its slot. Returns 1 when a command was taken, 0 when none waited.
int command_execute();

// Tests: an empty queue. Not safe while other threads use it.
void command_queue_reset();
