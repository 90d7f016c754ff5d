// Composite transport operations: restarting a track (retrigger, random start), turning an empty
// track into a silent loop, bouncing tracks onto an empty one, the switch mechanism that hands
// play or record from the switched tracks to another at a loop start, and group starts. Main
// thread only; they take the engine lock themselves and wait for the engine with it released.
#pragma once

#include <cstdint>

// Switch modes.
constexpr int32_t switch_record_sync = 0;  // "Switch-Record"
constexpr int32_t switch_play_clock = 1;   // "SwitchPlay+CKSR"
constexpr int32_t switch_play_solo = 2;    // "SwitchPlay"
constexpr int32_t switch_record_free = 3;  // "ZT6 switch" onto an empty track

// Bounce types.
constexpr int32_t bounce_free = 0;
constexpr int32_t bounce_sync = 1;
constexpr int32_t bounce_midi_sync = 2;

// Tracks are indexes 0-7; masks hold bit t for track t.

// Restarts track t from its loop start (or a random point), crossfading a playing track.
int retrigger_track(int32_t t, int32_t random);
// Turns empty track t into a silent loop as long as the clock source, in phase with it, and
// plays it. status_no_blocks when the pool runs out (the track stays empty).
int fill_silent_loop(int32_t t);
// Records track t from the input plus the tracks in `sources`.
int start_bounce(int32_t t, uint32_t sources, int32_t type);
// The switch functions' mechanism: arms the switch on a carrier track's loop start, or acts now.
int switch_track(int32_t t, int32_t mode);
// The switch at the carrier's loop start, run by the transport update for the switch actions:
// `action` is the pending action, `a` the target track.
void switch_step(int32_t t, int32_t action, int32_t a);
// Starts the tracks in `mask` together, at once or each at its own loop start; with retrigger the
// longest loop restarts first.
void group_start(uint32_t mask, int32_t now, int32_t retrigger, int32_t random);

// Track states from a fresh snapshot (taken under the engine lock).
uint32_t transport_state_snapshot();
// Tracks (bit t = track t) playing, recording, overdubbing or replacing in a snapshot.
uint8_t active_tracks(uint32_t snapshot);
// The switched set of the configuration, bit t = track t.
uint8_t switched_tracks();
