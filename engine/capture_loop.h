// Capture Loop: the most recent input, kept by the capture ring, becomes a playing loop on an
// empty track, in time with the clock source track, with the bars of the drum machine or an
// outside clock, or as the phrase just played. Main thread; the audio is copied out of the ring
// without the engine lock and the track is attached in one short hold of it.
#pragma once

#include <cstdint>

#include "engine/listen_ring.h"

// What the loop's length and phase follow.
enum class CaptureReference : int32_t { clock_track, bars, phrase };

// What the engine held at the press, copied under the engine lock at one frame boundary.
struct CaptureMoment {
  uint64_t written;       // frames the ring had taken
  int64_t capacity;       // frames the ring holds, 0 when it is off
  int32_t source;         // the clock source track (0-7), -1 when none has audio
  int32_t source_length;  // its loop
  int32_t source_phase;   // its phase (position - vsp) after the last frame
  int32_t source_rate;    // its speed, 256 = normal forward
  bool bar_clock;         // the drum machine or an outside clock is running
  bool outside_clock;     // that clock comes from MIDI input
  int32_t since_bar;      // frames counted since its last bar start (the follower's count)
  int32_t bar_frames;     // one bar of it
  int32_t gate_level;     // the noise gate's threshold
  int32_t gate_delay;     // and its hold time in frames
};

// The frames that become the loop: ring frames [end - length, end) (absolute, as the ring counts
// them), frame `zero` among them becoming the loop's frame 0. refusal: why there is no loop.
struct CaptureSpan {
  CaptureReference reference = CaptureReference::phrase;
  uint64_t end = 0;
  int64_t length = 0;
  uint64_t zero = 0;
  const char* refusal = nullptr;
};

// A phrase begins where the input rises above the gate after at least this much quiet.
constexpr int32_t phrase_quiet_frames = 48000;  // one second

// The span for `times` (1, 2 or 4) lengths of the reference the moment offers: the clock source
// track's loop, ending now and turned so that its frame 0 is a loop start of that track; else
// whole bars ending at the last bar start; else the phrase, found in the ring by find_phrase.
CaptureSpan plan_capture(const ListenRing& r, const CaptureMoment& m, int32_t times);

// The phrase: from where the input last rose above the gate after a second of quiet (or the
// oldest frame the ring still holds) to where the gate closed after it, or now while it is open.
CaptureSpan find_phrase(const ListenRing& r, const CaptureMoment& m);

// Where the loop's next frame is when `now` ring frames have been written.
int32_t capture_position(const CaptureSpan& span, uint64_t now);

// "Capture Loop": track `current` (0-7) if it is empty, else the highest-numbered empty track,
// becomes a loop of the span for `times` lengths and plays at once. Prints one line either way.
// Returns 0, status_refused (nothing usable; nothing changed) or status_no_blocks.
int capture_loop(int32_t current, int32_t times);
