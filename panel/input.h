// The user-interface poll: takes at most one input code per idle tick (MIDI first, then the panel
// key mailbox, then the encoder) and routes it to the current screen's key callback, value entry,
// the menu cursor or the global key map. The panel reader (hardware, the virtual panel link or a
// test) fills the mailbox and the encoder counter; everything else is main thread.
#pragma once

#include <atomic>
#include <cstdint>

constexpr int32_t code_encoder_up = 0x101;    // next item, larger value
constexpr int32_t code_encoder_down = 0x1FF;  // previous item, smaller value

// Front-panel scan codes: a key-row bit in bits 8-15, a key-column bit in bits 4-7, and bit 0 for
// a key's second action.
constexpr int32_t key_none = 0x0700;
constexpr int32_t key_user_1 = 0x0810;
constexpr int32_t key_user_2 = 0x0820;
constexpr int32_t key_user_3 = 0x1010;
constexpr int32_t key_user_4 = 0x1020;
constexpr int32_t key_rec_dub = 0x0840;
constexpr int32_t key_erase = 0x0841;
constexpr int32_t key_play_stop = 0x1040;
constexpr int32_t key_stop_now = 0x1041;
constexpr int32_t key_back = 0x0880;
constexpr int32_t key_select = 0x1080;
constexpr int32_t key_all_tracks = 0x8080;
constexpr int32_t key_drum_menu = 0x8081;
constexpr int32_t key_second_action = 0x0001;
// The eight track keys: rows 0x20 (tracks 1-4) and 0x40 (tracks 5-8), columns 8, 4, 1, 2.
constexpr int32_t track_keys[8] = {0x2080, 0x2040, 0x2010, 0x2020, 0x4080, 0x4040, 0x4010, 0x4020};
constexpr int32_t user_keys[4] = {key_user_1, key_user_2, key_user_3, key_user_4};

struct PanelInput {
  std::atomic<uint16_t> key_mailbox{0};   // one scan code, 0 = empty
  std::atomic<int32_t> encoder_count{0};  // steps since the last poll, signed
  int16_t poll_busy = 0;                  // set while a poll runs
};

extern PanelInput panel_input;

// Panel reader: one key event / encoder steps.
void panel_key_event(uint16_t scan_code);
void panel_encoder_steps(int32_t steps);

// The next input code (MIDI message, key, encoder step), or 0 when nothing is waiting.
int32_t take_input_code();

// The idle tick's poll: clears the display lines' changed flags, takes one input code and routes
// it. Returns at once when a poll is already running (a handler that polls from inside a poll).
void ui_poll();

// The global key map: MIDI codes run their mapped functions, scan codes their keys' actions.
void dispatch_key(int32_t code);

// Panel version 1's hardware sends the third and fourth key columns exchanged. The exchange is
// its own inverse: it turns a hardware code into the key the looper reads, and a key back into
// the code that hardware sends for it.
int32_t swap_key_columns(int32_t code);

bool is_encoder_step(int32_t code);
bool is_midi_code(int32_t code);
// 1..8 for the first action of a track key (after the panel version's column swap), else 0.
int track_key_number(int32_t code);
// 0..3 for a user button key, else -1.
int user_key_number(int32_t code);

// Tests: no key, no encoder steps, not polling.
void panel_input_reset();
