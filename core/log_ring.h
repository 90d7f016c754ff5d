// Log rings: every character printed on the console is also kept in three 64 KB rings that the
// remote program drains (the UDP log query and the host log command) and the web panel follows.
// Any printing thread writes them under the console mutex; the network thread, the MIDI parser
// and the web thread read them.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

constexpr int log_ring_size = 65536;  // a 16-bit index wraps exactly at the end of the ring

struct LogRing {
  char data[log_ring_size];
  // Indices are 16 bits so that they wrap with the ring. write == read means empty.
  std::atomic<uint16_t> write_index;
  std::atomic<uint16_t> read_index;
};

// Appends c. When the write would make the write index equal to the read index the read index
// advances, so the oldest unread character is lost and a full ring holds 65535 characters.
// The caller serialises writers and readers (console_log.mutex, or owns the ring in a test).
void log_ring_put(LogRing& ring, char c);

// Copies up to max characters from the read index towards the write index into out, but never
// past the end of the ring (a wrapped ring needs two takes), advances the read index by that
// many and returns the count. Same serialisation as log_ring_put.
int log_ring_take(LogRing& ring, char* out, int max);

// Unread characters in the ring (a snapshot; safe without the mutex).
int log_ring_pending(const LogRing& ring);

// The console's three rings and the mutex that serialises console output (standard output and
// every ring) against the readers.
struct ConsoleLog {
  std::mutex mutex;
  LogRing udp_log_ring;    // drained by the UDP "log" query
  LogRing sysex_log_ring;  // drained by host command 3
  LogRing web_log_ring;    // drained by the web panel's log view
};
extern ConsoleLog console_log;

// Empties the rings.
void console_log_reset();

// log_ring_take on one of console_log's rings, under the console mutex. For the readers.
int log_take(LogRing& ring, char* out, int max);
