// The user-interface poll: takes at most one input code per idle tick (MIDI first, then the panel
// key mailbox, then the encoder) and routes it through the global key map. The panel reader
// (hardware or test) fills the mailbox and the encoder counter; everything else is main thread.
#pragma once

#include <atomic>
#include <cstdint>

constexpr int32_t code_encoder_up = 0x101;
constexpr int32_t code_encoder_down = 0x1FF;

struct PanelInput {
  std::atomic<uint16_t> key_mailbox{0};     // one scan code, 0 = empty
  std::atomic<int32_t> encoder_count{0};    // steps since the last poll, signed
  int16_t poll_busy = 0;                    // set while a poll runs
};

extern PanelInput panel_input;

// Panel reader: one key event / encoder steps.
void panel_key_event(uint16_t scan_code);
void panel_encoder_steps(int32_t steps);

// The next input code (MIDI message, key, encoder step), or 0 when nothing is waiting.
int32_t take_input_code();

// The idle tick's poll: one input code taken and routed. Returns at once when a poll is already
// running (a handler that waits and polls from inside a poll).
void ui_poll();

// The global key map: MIDI codes run their mapped functions, scan codes their keys' actions.
void dispatch_key(int32_t code);

// Tests: no key, no encoder steps, not polling.
void panel_input_reset();
