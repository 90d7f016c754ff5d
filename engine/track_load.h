// The engine side of track files: the words of a track that a file keeps, the finishing step that
// turns blocks handed to append_track_block into a muted, playable loop, and the hook through
// which erase_track has the storage layer forget the track's file. Main thread.
#pragma once

#include <cstdint>

#include "core/lock.h"
#include "engine/track.h"

// The twelve 32-bit words of a track that its file keeps (word 1 and clock_period's two halves
// included), in the order the file holds them.
struct TrackFileWords {
  int32_t word_1;
  int32_t multiple;
  int32_t rate;
  int32_t half_speed;
  int32_t loop_end;
  int32_t loop_start;
  int32_t atten;
  int32_t pan;
  int32_t vsp;
  int32_t clock_source;
  double clock_period;
};

// The words of a track as a file keeps them. Caller holds the engine lock.
TrackFileWords track_file_words(const Track& v) REQUIRES(engine_capability);

// The words an archived take (bare audio) loads with: normal speed, free running, the whole
// loop as play window.
TrackFileWords take_file_words(int32_t length);

// Finishes loading track t (0-7) after its blocks went in through append_track_block: applies the
// words (values the engine cannot play, from a damaged or foreign file, fall back to the
// defaults), starts at frame 0 with the levels the words give, joins the muted list and rebuilds
// the clock-out pulses. changed: the audio differs from the track's own file (a slot or a take
// was loaded), so the next automatic save writes it. Returns 0, or loader_refused when the
// track holds no audio or records, overdubs or replaces.
int finish_track_load(int32_t t, const TrackFileWords& words, bool changed);

// What erase_track calls in the storage layer, installed there at start-up (null: nothing).
struct TrackFileHooks {
  void (*forget)(int32_t t);  // the track's file is deleted and its name reported as empty
};
extern TrackFileHooks track_file_hooks;
