// Drives the front panel with arbitrary sequences of scan codes, encoder steps, MIDI messages,
// functions (also as text commands with numbers of any size) and the display's periodic services
// through ui_poll, with the engine running inline and a storage stand-in that completes saves and
// loads after a while. After every step the menu stack, value entry, the editors, the display
// records and the settings the menus change must be consistent and within their ranges.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string>

#include "config/config.h"
#include "core/lock.h"
#include "core/log_ring.h"
#include "engine/engine.h"
#include "engine/engine_wait.h"
#include "engine/fades.h"
#include "engine/transport.h"
#include "host/looper.h"
#include "midi/midi_queue.h"
#include "panel/audio_slots.h"
#include "panel/display.h"
#include "panel/display_state.h"
#include "panel/editors.h"
#include "panel/function_table.h"
#include "panel/handlers.h"
#include "panel/handlers_editing.h"
#include "panel/input.h"
#include "panel/menu.h"
#include "panel/menus.h"
#include "panel/panel_hooks.h"
#include "panel/random_restart.h"
#include "panel/selection.h"
#include "panel/text_command.h"
#include "panel/value_entry.h"
#include "pool/pool.h"
#include "fuzz/fuzz_support.h"

namespace {

constexpr int32_t wait_frame_limit = 4096;  // inline frames before a wait gives up
constexpr int clean_blocks = 64;            // zeroed blocks ready for recordings
constexpr int frames_per_unit = 16;

// Every scan code of the key map, the track keys' second actions and two unknown codes.
constexpr int32_t scan_codes[] = {
    key_none,      key_user_1,   key_user_2, key_user_3, key_user_4,     key_rec_dub,   key_erase,
    key_play_stop, key_stop_now, key_back,   key_select, key_all_tracks, key_drum_menu, 0x2080,
    0x2040,        0x2010,       0x2020,     0x4080,     0x4040,         0x4010,        0x4020,
    0x2081,        0x2041,       0x2011,     0x2021,     0x4081,         0x4041,        0x4011,
    0x4021,        0x1234,       0x0101,     key_back,   key_select,     key_select,
};

// The storage thread as the panel sees it: results arrive after a number of one-second ticks.
struct FakeStorage {
  int ticks_left;
  int result;
};
FakeStorage fake_storage;

int fake_request(int32_t t, int32_t slot) {
  require(t >= 0 && t < track_count && slot >= 1 && slot <= audio_slot_max);
  return 0;
}
int fake_save_state() { return fake_storage.ticks_left-- > 0 ? -1 : fake_storage.result; }
int fake_percent() { return 50; }
int fake_load_result() {
  if (fake_storage.ticks_left-- > 0) return 50;
  return fake_storage.result == 0 ? 100 : -fake_storage.result;
}
void no_exit(int) {}
ConfigOutcome fake_backup() { return {0, "Backup", " Successful"}; }
ConfigOutcome fake_restore() { return {-1, "Restore", " Failed verify"}; }

void reset_all(const uint8_t* data) {
  looper_reset();
  config_defaults();
  for (int i = 0; i < clean_blocks; ++i) pool_clean_one();
  ConfigRecord& c = config;
  c.panel_version = data[0] & 1;
  c.pedal_mode = (data[0] >> 1) & 1;
  c.simple_display = int16_t((data[0] >> 2) % 3);
  c.time_display = (data[0] >> 4) & 1;
  for (int n = 0; n < 128; ++n) c.midi_lists[list_note_base + n][0] = int16_t(n);
  for (int p = 0; p < 128; ++p) c.midi_lists[list_program_base + p][0] = int16_t(p + 6);
  for (int cc = 0; cc < 128; ++cc) {
    c.cc_controller[cc] = int16_t(cc % controller_function_limit);
  }
  c.user_button_lists[0][0] = 12;  // "Track Level": value entry
  c.user_button_lists[1][0] = 2;   // "All Tracks"
  c.groups[0] = 0x05;
  c.groups[1] = data[1];
  engine_wait.run_frame = run_inline_frame;
  engine_wait.inline_frame_limit = wait_frame_limit;
  fake_storage = {data[1] % 5, (data[1] >> 3) % 3};
  panel_hooks.request_save = fake_request;
  panel_hooks.save_state = fake_save_state;
  panel_hooks.save_percent = fake_percent;
  panel_hooks.request_load = fake_request;
  panel_hooks.load_result = fake_load_result;
  editing_panel_hooks = {show_progress_line, leave_new_length_menu};
  panel_hooks.exit_process = no_exit;
  panel_hooks.backup_config = fake_backup;
  panel_hooks.restore_config = fake_restore;
}

bool in_range(int value, int low, int high) { return value >= low && value <= high; }

void check_menus() {
  const MenuStack& m = menu_stack;
  require(in_range(m.depth, 0, menu_levels - 1));
  require(m.levels[0].menu == &main_menu);
  bool entry_screen_open = false;
  for (int level = 0; level <= m.depth; ++level) {
    const MenuLevel& l = m.levels[level];
    require(l.menu != nullptr && l.menu->count >= 1);
    require(in_range(l.cursor, 0, l.menu->count - 1));
    if (l.menu == &value_entry_screen) entry_screen_open = true;
  }
  if (m.pending.menu != nullptr) require(in_range(m.pending.cursor, 0, m.pending.menu->count - 1));
  const ValueEntry& e = value_entry;
  if (e.active != nullptr) {
    require(entry_screen_open);
    require(in_range(e.value, e.active->min, e.active->max));
  }
  const Editors& ed = editors;
  require(in_range(ed.learn_source, -1, 383));
  require(in_range(ed.learn_button, -1, 3));
  require(ed.learn_source < 0 || ed.learn_button < 0);
  require(in_range(ed.learn_position, 0, 7));
  require(in_range(ed.learn_row, -1, function_row_count() - 1));
  require(in_range(ed.pedal_step, 1, 4));
  require(in_range(ed.pedal_controller, -1, 127));
  require(ed.pedal_step == 1 || ed.pedal_controller >= 0);
  require(in_range(ed.octet, 0, 3));
  require(in_range(ed.group, 1, config_group_count));
  require(in_range(audio_slots.seconds, 0, audio_slot_seconds));
}

void check_display() {
  for (int line = 0; line < display_line_count; ++line) {
    const uint8_t* r = display.line_records[line];
    require(r[0] == 0x00 && r[1] == 0x1F && r[2] == 0x24 && r[3] == 0 && r[4] == 0);
    require(r[line_number_offset] == line && r[6] == 0);
    for (int i = line_record_sent; i < line_record_bytes; ++i) require(r[i] == 0);
  }
  require(in_range(display.idle_counter, 0, meter_idle_seconds + 1));
  require(strlen(display_state.tag_text) <= size_t(tag_text_max));
}

void check_settings() {
  const ConfigRecord& c = config;
  require(in_range(c.midi_channel, 0, 15));
  require(in_range(c.record_trigger, 0, 23));
  require(in_range(c.volume_minimum, -128, -10));
  require(in_range(c.noise_gate_level, 0, 24));
  require(in_range(c.noise_gate_delay, 0, 200));
  require(in_range(c.cc_dejitter, 0, 4));
  require(in_range(c.quant_cc, 1, 127));
  require(in_range(c.panel_version, 0, 1));
  require(in_range(c.rnd_restart_min, 0, 200) && in_range(c.rnd_restart_max, 0, 200));
  require(in_range(c.fade_time, 1, 100));
  require(in_range(c.beats_per_measure, 1, 100));
  require(in_range(c.all_main_level, -8, 8) && in_range(c.all_aux_level, -8, 8));
  for (int16_t choice : {c.wet_only, c.time_display, c.pedal_mode, c.track_follows_cc,
                         c.midi_clock_out, c.mono_aux_out, c.mono_input_mode, c.switch_priority}) {
    require(in_range(choice, 0, 1));
  }
  require(in_range(c.simple_display, 0, 2) && in_range(c.loop_start_flash, 0, 2));
  for (int cc = 0; cc < 128; ++cc) {
    require(in_range(c.cc_controller[cc], -1, controller_function_limit - 1));
  }
  const Selection& s = selection;
  require(in_range(s.current_track, -config_group_count, track_count));
  for (int t = 0; t < track_count; ++t) {
    require(in_range(shown_level[t], -128, 0));
    require(in_range(shown_feedback[t], 0, 100));
    require(in_range(shown_pan[t], -128, 128));
    require(in_range(c.q_steps[t], 1, 128));
  }
}

void midi_message(uint8_t kind, uint8_t a, uint8_t b) {
  const uint8_t channel = uint8_t(config.midi_channel);
  const uint8_t status[] = {0x90, 0x80, 0xB0, 0xC0};
  midi_in_put(uint8_t(status[kind % 4] | channel));
  midi_in_put(a & 0x7F);
  if (kind % 4 != 3) midi_in_put(b & 0x7F);
}

// A text command as a remote program could send it: a function's name, then a number of any
// size (from the next five bytes), with or without a blank between them.
template <typename Next>
std::string number_text(uint8_t pick, Next& next) {
  const int row = (pick & 0x3F) * function_row_count() / 64 + (next() & 1);
  const uint8_t form = next();
  uint32_t bits = 0;
  for (int i = 0; i < 4; ++i) bits = bits << 8 | next();
  int64_t number = int32_t(bits);
  if (form & 1) number *= 1000003;  // past the 32-bit range
  std::string text = function_name(row < function_row_count() ? row : 0);
  if (!(form & 2)) text += ' ';
  return text + std::to_string(number);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // Handlers report on the console; the fuzzer's own output goes to standard error.
  if (freopen("/dev/null", "w", stdout) == nullptr) return 0;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  reset_all(data);
  size_t i = 2;
  const auto next = [&]() -> uint8_t { return i < size ? data[i++] : 0; };
  while (i < size) {
    const uint8_t op = next();
    bool poll = true;
    switch (op % 10) {
      case 0:
      case 1: panel_key_event(uint16_t(scan_codes[next() % std::size(scan_codes)])); break;
      case 2: panel_key_event(uint16_t(next() << 8 | next())); break;
      case 3: panel_encoder_steps(1); break;
      case 4: panel_encoder_steps(-1); break;
      case 5: panel_encoder_steps(int8_t(next())); break;
      case 6: {
        const uint8_t kind = next(), a = next(), b = next();
        midi_message(kind, a, b);
        break;
      }
      case 7: {
        poll = false;
        const int runs = 1 + next() % 64;
        for (int r = 0; r < runs; ++r) display_ten_ms_service();
        meter_tick();
        audio_slots_tick();
        break;
      }
      case 8: {
        poll = false;
        const int frames = (1 + next() % 64) * frames_per_unit;
        for (int f = 0; f < frames; ++f) run_inline_frame();
        transport_update();
        fade_service();
        random_restart_service();
        break;
      }
      default: {
        poll = false;
        const uint8_t pick = next();
        if (pick & 0x80) {
          invoke_function(pick % function_id_count);
        } else if (pick & 0x40) {
          run_text_command(number_text(pick, next).c_str());
        } else {
          run_function_with_argument(pick % function_id_count, value_not_given);
        }
        break;
      }
    }
    if (poll) ui_poll();
    while (midi_out_pending() > 0) midi_out_take();
    check_menus();
    check_display();
    check_settings();
  }
  console_log_reset();
  return 0;
}
