// The pad controllers: finds an Akai APC or a Novation Launchpad on the MIDI ports by identity
// requests, and shows the eight tracks on its pads, one row per track, refreshed every 250 ms
// against shadows of what each pad shows. Main thread (idle tick and identity replies).
#pragma once

#include <cstdint>

#include "core/constants.h"
#include "pads/pad_colours.h"

constexpr int pad_poll_seconds = 10;         // identity requests go out every 10 s
constexpr int pad_lost_after = 3;            // a counter above 3 is lost at the next poll
constexpr int pad_full_refresh_every = 120;  // refreshes (30 s) between full refreshes
constexpr int pad_apc_first_countdown = 2;   // refreshes before an APC's first full refresh

// What the pads show, read from the looper at one refresh.
struct PadView {
  int32_t selected;            // 1-8 the selected track, 0 none
  uint32_t state_word;         // transport state code of track t in bits 4t..4t+3
  int16_t speed[track_count];  // 400 at normal speed
  bool reverse[track_count];
  int16_t level[track_count];     // live mix, dB: 0 full, negative quieter
  int16_t feedback[track_count];  // percent
};

// What one device's pads show now. Unknown values (-1, levels -1000) make the next refresh send.
struct PadShadow {
  int32_t selected;
  int16_t play_colour[track_count];
  int16_t record_colour[track_count];
  int16_t speed[track_count];     // pad colour shown
  int16_t reverse[track_count];   // pad colour shown
  int16_t level[track_count];     // the level shown, -1000 unknown
  int16_t feedback[track_count];  // the feedback shown, -1000 unknown
  int32_t blink_phase;            // record-side pads lit when 1
  int32_t full_refresh_countdown;
};

struct Pads {
  int32_t apc_present;  // 0 absent, 1 just answered, 2-3 polls without an answer
  int32_t launchpad_present;
  int32_t poll_count;  // seconds since the last identity request
  PadShadow apc;
  PadShadow launchpad;
};

extern Pads pads;

// Both devices absent, shadows unknown, and host_sysex's identity replies routed here.
void pads_reset();

// Once a second: every 10 s an identity request; announces devices that stopped answering.
void pad_poll();
// Identity replies (from host_sysex).
void apc_found();
void launchpad_found();
// Every 250 ms: the served device's pads from the live looper.
void pad_refresh();

// The looper's state as the pads show it.
void pad_view_read(PadView& view);
// One refresh of one device's pads from view, for a present device.
void pad_refresh_device(PadKind kind, PadShadow& shadow, const PadView& view);
// A device's shadows forgotten and its countdown restarted, while it is absent.
void pad_shadow_reset(PadKind kind, PadShadow& shadow);

// Sends one pad-controller message to the MIDI output and to the remote program.
void pad_send(const uint8_t* bytes, int length);
