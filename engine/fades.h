// Track levels and pans, the Fade/Swell machine stepped by the 10 ms service, and the waiting
// crossfade that ends a replace. Main thread.
#pragma once

#include <cstdint>

#include "core/lock.h"
#include "engine/track.h"

struct Fades {
  int16_t track_level[track_count];        // 1 dB steps, 0 = unity; atten is -track_level
  int16_t track_pan[track_count];          // -128..128
  int16_t fade_direction[track_count];     // -1 fading, 1 swelling, 0 idle
  int16_t fade_target_level[track_count];  // level at which the fade or swell ends
  int16_t fade_saved_level[track_count];   // level to swell back to
  int16_t fade_period[track_count];        // 10 ms runs per 1 dB step
  int16_t fade_counter[track_count];
};
extern Fades fades;

void fades_reset();

enum FadeKind : int32_t { fade_toggle = 0, fade_down = 1, fade_up = 2 };

// Gain-table targets for an attenuation and a pan; positive pan attenuates the left side.
void level_targets(int32_t atten, int32_t pan, int32_t targets[2]);

// The levels of the track's atten and pan in force at once, with no ramp running. Caller holds the
// engine lock.
void set_levels_at_once(Track& v) REQUIRES(engine_capability);

// Track t (0-7): 0 or status_refused.
int set_track_atten(int32_t t, int32_t atten);
int set_track_pan(int32_t t, int32_t pan);
// Starts a fade (1), a swell (2) or toggles (0) on every track whose bit is set in track_mask.
void fade_swell(int32_t kind, uint32_t track_mask);
// Stops a running fade or swell of track t, leaving its level where it is.
void fade_cancel(int32_t t);
// One step of every running fade and swell (10 ms service).
void fade_service();
// Ends the replace of track t (0-7) with a crossfade into play.
void play_fade_wait(int32_t t);
