// Latency compensation: the frames between a loop position leaving OUTL and the player's answer
// to it reaching INL (the capture and playback latencies JACK reports plus the measured extra).
// The host sets the figures from its JACK latency callback and the main thread; the engine reads
// the compensation as one word per frame, the transport when a loop is closed or a role starts.
#pragma once

#include <atomic>
#include <cstdint>

// The longest compensation: a third of a second at 48000 frames/s, above any sound card's round
// trip (1024 frames × 3 periods plus converters is about 3500). A larger figure is limited to it.
constexpr int32_t max_compensation_frames = 16000;
// The delay line of the bounce sources: a power of two above the longest compensation.
constexpr int32_t source_delay_frames = 16384;
static_assert(source_delay_frames > max_compensation_frames);
static_assert((source_delay_frames & (source_delay_frames - 1)) == 0);

struct Latency {
  std::atomic<int32_t> capture{0};   // INL/INR capture latency, frames (JACK's maximum)
  std::atomic<int32_t> playback{0};  // OUTL/OUTR playback latency, frames
  std::atomic<int32_t> extra{0};     // the measured part JACK does not report; may be negative
  std::atomic<bool> enabled{true};   // --no-latency-compensation clears it
  // capture + playback + extra limited to 0..max_compensation_frames, 0 when disabled: the one
  // word the engine reads.
  std::atomic<int32_t> compensation{0};
};

extern Latency latency;

// Start-up values: nothing reported, no extra, compensation on.
void latency_reset();

// Sets one figure and makes the compensation from all of them again. Any thread.
void latency_set_reported(int32_t capture, int32_t playback);
void latency_set_extra(int32_t extra);
void latency_set_enabled(bool enabled);

// "Latency: capture C, playback P, extra E frames (X.X ms); compensation on" (the milliseconds
// are the whole compensation at 48000 frames/s; "off" and "limited to N frames" say so).
// Returns the length written, at most size - 1.
int latency_line(char* out, int size);

// The loop frames a voice at rate (8.8 fixed point) passes in `compensation` output frames: how
// far the write head of a recording role trails its play head.
inline int32_t compensation_offset(int32_t compensation, int32_t rate) {
  return int32_t((int64_t(compensation) * rate) / 256);
}

// Where input arriving now is written when the play head is at position: position - offset,
// wrapped into the loop (0 for an empty loop).
inline int32_t write_head(int32_t position, int32_t offset, int32_t length) {
  if (length <= 0) return 0;
  int64_t w = int64_t(position) - offset;
  if (w < 0 || w >= length) {
    w %= length;
    if (w < 0) w += length;
  }
  return int32_t(w);
}

// The write head of a track from its own words and the compensation in force. Caller holds the
// engine lock (or is the engine).
struct Track;
int32_t track_write_head(const Track& track);
