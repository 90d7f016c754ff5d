#include "engine/capture_loop.h"

#include <cmath>

#include "config/config.h"
#include "core/console.h"
#include "core/constants.h"
#include "core/lock.h"
#include "drums/drum_machine.h"
#include "engine/track_load.h"
#include "engine/track_ops.h"
#include "engine/transport.h"
#include "engine/undo.h"
#include "midi/clock.h"

namespace {

constexpr int32_t max_times = 4;

constexpr char refused_off[] = "Capture refused: the capture ring is off (--capture-seconds 0)\n";
constexpr char refused_silence[] = "Capture refused: nothing above the noise gate to capture\n";
constexpr char refused_short[] = "Capture refused: the capture ring does not hold the whole loop\n";

bool loud(const int32_t* frame, int32_t level) {
  return frame[0] >= level || frame[0] <= -level || frame[1] >= level || frame[1] <= -level;
}

// The oldest frame a reader may take: the writer is at least a margin away from it.
uint64_t oldest_readable(const CaptureMoment& m) {
  const int64_t keep = m.capacity - capture_ring_margin;
  if (keep <= 0) return m.written;
  return m.written > uint64_t(keep) ? m.written - uint64_t(keep) : 0;
}

CaptureSpan refuse(CaptureReference reference, const char* why) {
  CaptureSpan span;
  span.reference = reference;
  span.refusal = why;
  return span;
}

// A span that ends at `end` and runs back `length` frames must lie among the readable frames.
CaptureSpan within_ring(const CaptureMoment& m, CaptureSpan span) {
  if (span.length <= 0 || span.end > m.written || span.end < uint64_t(span.length) ||
      span.end - uint64_t(span.length) < oldest_readable(m) || span.length > max_track_frames) {
    span.refusal = refused_short;
  }
  return span;
}

bool span_has_sound(const ListenRing& r, const CaptureSpan& span, int32_t level) {
  for (uint64_t a = span.end - uint64_t(span.length); a < span.end; a++)
    if (loud(listen_ring_frame(r, a), level)) return true;
  return false;
}

// Track current if it is empty, else the highest-numbered empty one; -1 when none is. Caller
// holds the engine lock.
int32_t choose_track(int32_t current) {
  const EngineState& s = engine_state;
  auto empty = [&](int32_t t) {
    return tracks[t].length == 0 && !track_in_role(t) && !on_list(s.play_list, t) &&
           !on_list(s.muted_list, t);
  };
  if (valid_track_index(current) && empty(current)) return current;
  for (int32_t t = track_count - 1; t >= 0; t--)
    if (empty(t)) return t;
  return -1;
}

// The engine's state at this frame boundary. Caller holds the engine lock.
CaptureMoment take_moment() {
  const EngineState& s = engine_state;
  const ListenRing& r = listen_ring;
  const ClockFollower& c = clock_follower;
  CaptureMoment m{};
  m.written = r.written.load(std::memory_order_relaxed);
  m.capacity = listen_ring_capacity(r);
  m.source = -1;
  const int32_t src = s.clock_source_track;
  if (valid_track_index(src) && tracks[src].length > 0 && !track_in_role(src) &&
      (on_list(s.play_list, src) || on_list(s.muted_list, src))) {
    const Track& v = tracks[src];
    m.source = src;
    m.source_length = v.length;
    m.source_phase = track_phase(v);
    m.source_rate = v.rate;
  }
  const bool drums_clock = drums.transport.running != 0 && c.clock_lock >= 0;
  m.outside_clock =
      !drums_clock && config.midi_clock_in != 0 && c.outside_running != 0 && c.clock_lock >= 0;
  m.bar_clock = (drums_clock || m.outside_clock) && c.clock_period > 0;
  if (m.bar_clock) {
    const int32_t beats = config.beats_per_measure >= 1 ? config.beats_per_measure : 4;
    const int32_t clocks =
        c.clocks_last_measure > 0 ? c.clocks_last_measure : beats * clock_pulses_per_beat;
    m.bar_frames = int32_t(std::lround(clocks * c.clock_period));
    m.since_bar = c.measure_frames;
  }
  m.gate_level = s.gate_level;
  m.gate_delay = s.gate_delay;
  return m;
}

void release(int32_t* const* blocks, int32_t count) {
  for (int32_t i = 0; i < count; i++) pool_free(blocks[i]);
}

const char* reference_text(CaptureReference reference) {
  switch (reference) {
    case CaptureReference::clock_track: return "in phase with the clock source track";
    case CaptureReference::bars: return "whole bars to the last bar start";
    case CaptureReference::phrase: break;
  }
  return "the phrase just played";
}

}  // namespace

CaptureSpan plan_capture(const ListenRing& r, const CaptureMoment& m, int32_t times) {
  if (m.capacity <= 0) return refuse(CaptureReference::phrase, refused_off);
  if (m.source >= 0) {
    if (m.source_rate != normal_rate) {
      return refuse(CaptureReference::clock_track,
                    "Capture refused: the clock source track plays at another speed\n");
    }
    CaptureSpan span;
    span.reference = CaptureReference::clock_track;
    const int64_t unit = m.source_length;
    span.length = times * unit;
    span.end = m.written;
    // Ring frame a was taken in the frame in which the source played phase
    // source_phase - (written - a): its loop starts fall on a = written - source_phase (mod unit).
    const int64_t turn = (unit - m.source_phase % unit) % unit;
    span.zero = m.written - uint64_t(span.length) + uint64_t(turn);
    return within_ring(m, span);
  }
  if (m.bar_clock && m.bar_frames > 0) {
    CaptureSpan span;
    span.reference = CaptureReference::bars;
    // The drum machine starts a bar inside the frame, after the count went up; an outside
    // clock's bar starts before the frame its byte arrived in.
    const uint64_t back = uint64_t(m.since_bar) + (m.outside_clock ? 0 : 1);
    if (back > m.written) return refuse(CaptureReference::bars, refused_short);
    span.end = m.written - back;
    span.length = int64_t(times) * m.bar_frames;
    span.zero = span.end - uint64_t(span.length);
    return within_ring(m, span);
  }
  return find_phrase(r, m);
}

CaptureSpan find_phrase(const ListenRing& r, const CaptureMoment& m) {
  if (m.capacity <= 0) return refuse(CaptureReference::phrase, refused_off);
  const uint64_t oldest = oldest_readable(m);
  const int32_t level = m.gate_level;
  uint64_t last = m.written;
  while (last > oldest) {
    if (loud(listen_ring_frame(r, last - 1), level)) break;
    last--;
  }
  if (last == oldest) return refuse(CaptureReference::phrase, refused_silence);
  last--;  // the last frame above the gate
  // Back from it to a loud frame that follows a second of quiet.
  uint64_t first = last;
  bool gap = false;
  for (uint64_t a = last; a > oldest;) {
    a--;
    if (!loud(listen_ring_frame(r, a), level)) continue;
    if (first - a - 1 >= uint64_t(phrase_quiet_frames)) {
      gap = true;
      break;
    }
    first = a;
  }
  // Quiet since the ring started counts as quiet; otherwise the phrase is at most the ring.
  uint64_t start =
      gap || oldest == 0 || first - oldest >= uint64_t(phrase_quiet_frames) ? first : oldest;
  // The gate opens over a few zero crossings: those quieter frames belong to the phrase.
  const uint64_t delay = uint64_t(m.gate_delay > 0 ? m.gate_delay : 0);
  while (start > oldest && first - start < delay) {
    const int32_t* f = listen_ring_frame(r, start - 1);
    if (f[0] == 0 && f[1] == 0) break;
    start--;
  }
  CaptureSpan span;
  span.reference = CaptureReference::phrase;
  // The gate closes `delay` frames after the last loud one: the loop ends there, or now.
  span.end = last + 1 + delay < m.written ? last + 1 + delay : m.written;
  span.length = int64_t(span.end - start);
  span.zero = start;
  return within_ring(m, span);
}

int32_t capture_position(const CaptureSpan& span, uint64_t now) {
  // A phrase has no beat to keep: the loop starts over at the press.
  if (span.reference == CaptureReference::phrase) return 0;
  return wrap_into_loop(int64_t(now - span.zero), span.length);
}

int capture_loop(int32_t current, int32_t times) {
  if (times < 1 || times > max_times) return status_refused;
  CaptureMoment m;
  int32_t t;
  int32_t atten, pan;
  {
    EngineLockGuard lock;
    m = take_moment();
    t = choose_track(current);
    atten = valid_track_index(t) ? tracks[t].atten : 0;
    pan = valid_track_index(t) ? tracks[t].pan : 0;
  }
  if (m.capacity <= 0) {
    console_printf(refused_off);
    return status_refused;
  }
  if (t < 0) {
    console_printf("Capture refused: no empty track\n");
    return status_refused;
  }
  const ListenRing& r = listen_ring;
  const CaptureSpan span = plan_capture(r, m, times);
  if (span.refusal != nullptr) {
    console_printf(span.refusal);
    return status_refused;
  }
  if (!span_has_sound(r, span, m.gate_level)) {
    console_printf(refused_silence);
    return status_refused;
  }

  // The track's own blocks, filled from the ring outside the lock: frames zero..end first.
  const int32_t length = int32_t(span.length);
  const int32_t count = (length + block_frames - 1) / block_frames;
  int32_t* blocks[capture_ring_max_blocks];
  for (int32_t i = 0; i < count; i++) {
    blocks[i] = take_zeroed_block();
    if (blocks[i] == nullptr) {
      release(blocks, i);
      console_printf("Capture refused: not enough free audio blocks\n");
      return status_no_blocks;
    }
  }
  const uint64_t begin = span.end - uint64_t(length);
  const int64_t head = int64_t(span.end - span.zero);
  listen_ring_copy(r, span.zero, head, blocks, 0);
  listen_ring_copy(r, begin, length - head, blocks, head);
  std::atomic_thread_fence(std::memory_order_acquire);
  if (r.written.load(std::memory_order_acquire) >= begin + uint64_t(listen_ring_capacity(r))) {
    release(blocks, count);
    console_printf("Capture refused: the input overtook the copy\n");
    return status_refused;
  }

  // Undo takes the track back to empty.
  undo_save(tracks[t], t, undo_first_take);
  Track& v = tracks[t];
  {
    EngineLockGuard lock;
    for (int32_t i = 0; i < count; i++) set_block_ref(track_blocks[t][i], blocks[i]);
    v.length = length;
    v.word_1 = length;
  }
  TrackFileWords words = take_file_words(length);
  words.atten = atten;
  words.pan = pan;
  if (span.reference == CaptureReference::clock_track) {
    words.clock_source = m.source;
    words.multiple = m.source_length;
  }
  if (finish_track_load(t, words, true) != 0) {
    erase_track(t);
    console_printf("Capture refused: track %d is busy\n", t + 1);
    return status_refused;
  }
  {
    EngineState& s = engine_state;
    EngineLockGuard lock;
    v.position = capture_position(span, r.written.load(std::memory_order_relaxed));
    v.position_fraction = 0;
    start_fade_in(v);
    list_remove(s.muted_list, t);
    list_add(s.play_list, t);
    if (s.clock_source_track < 0) s.clock_source_track = t;
  }
  console_printf("Track %d captured: %d frames, %s\n", t + 1, length,
                 reference_text(span.reference));
  return 0;
}
