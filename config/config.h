// The persistent configuration record: one fixed-layout, little-endian record of 9972 bytes kept
// in static memory and stored byte for byte in ".zt4.config.1". Read by every thread (the engine
// with single 16-bit loads, no lock); written by the main and network threads; written to the
// file by the storage thread.
#pragma once

#include <atomic>
#include <bit>
#include <cstddef>
#include <cstdint>

#include "core/constants.h"

static_assert(std::endian::native == std::endian::little,
              "the record is stored and checksummed as little-endian words");

constexpr int config_version = 2;
constexpr int config_size = 9972;                   // bytes in the file
constexpr int config_word_count = config_size / 2;  // 4986 16-bit words
constexpr int config_list_length = 8;               // function ids per function list
// 128 program changes, 128 controllers as switches, 128 notes, 128 spare.
constexpr int config_list_count = 512;
constexpr int config_cc_count = 128;
constexpr int config_preset_count = 11;  // presets 0-10
constexpr int config_group_count = 10;
constexpr int config_user_button_count = 4;

// First list of each kind in midi_lists.
constexpr int list_program_base = 0;   // list p = program change p
constexpr int list_switch_base = 128;  // list 128 + c = controller c used as a switch
constexpr int list_note_base = 256;    // list 256 + n = note n

constexpr char config_file_name[] = ".zt4.config.1";
constexpr char config_refused_file_name[] = ".zt4.config.1.bad";  // the last file load refused

// One mix preset: the live mix of the eight tracks and the main level when it was saved.
struct Preset {
  int16_t levels[track_count];     // 0 = full, negative = attenuation
  int16_t feedbacks[track_count];  // percent, 100 = full
  int16_t pans[track_count];
  int16_t main_level;  // all_main_level at the time of saving
};
static_assert(sizeof(Preset) == 50);

// config.drums_clock_out "Off": the drum machine is no clock for the tracks or MIDI out.
constexpr int16_t drums_clock_off = 2;

struct ConfigRecord {
  uint16_t version;
  uint16_t checksum;    // Internet checksum: the words of a valid record sum to 0xFFFF
  uint32_t ip_address;  // first octet in the most significant byte
  uint32_t gateway_address;
  uint32_t netmask;
  uint32_t dns_server;
  int16_t switched[track_count];  // bit 0: track belongs to the switched set
  int16_t reserved_36[7];         // bytes 36-49, cleared by the version-1 upgrade
  int16_t mono_input_mode;        // 0 off, 1 on
  uint16_t zt6_display;           // 0 "old", 1 "new"
  int16_t midi_clock_in;          // set by the host: 0xF8 on MIDIIN drives the clock
  int16_t brightness;             // 0, 3 or 7
  int16_t mono_aux_out;           // 0 off, 1 on
  int16_t drum_audio_port;        // 0 main, 1 aux 1, 2 aux 2
  int16_t drums_clock_out;        // 0 internal, 1 internal + MIDI out, 2 off
  int16_t track_file_set;         // nonzero: track files are "track%d-%d.dat"
  int16_t cc_trace;               // cleared at every load
  int16_t reserved_68;            // 770 in the defaults
  int16_t quant_cc;               // 1-127
  int16_t cc_dejitter;            // 0-4
  int16_t rnd_restart_min;        // 0-200
  int16_t rnd_restart_max;        // 0-200
  int16_t loop_start_flash;       // 0 none, 1 red, 2 yellow
  int16_t switch_priority;        // 0 switch track, 1 clock source track
  int16_t all_aux_level;          // -8..8, 6 dB steps
  int16_t all_main_level;         // -8..8, 6 dB steps ("primary_gain")
  int16_t noise_gate_level;       // gate threshold is 1 << level
  int16_t noise_gate_delay;       // gate delay is 50 frames per unit
  int16_t record_trigger;         // 0-23
  int16_t wet_only;               // 0 wet + dry, 1 wet only
  int16_t midi_channel;           // 0-15, shown 1-16
  int16_t midi_lists[config_list_count][config_list_length];  // function lists, -1 ends a list
  int16_t cc_max[config_cc_count];
  int16_t cc_min[config_cc_count];
  int16_t cc_controller[config_cc_count];  // controller function id, -1 none
  int16_t reserved_9056[config_cc_count];
  int16_t beats_per_measure;  // 1-16
  int16_t midi_clock_out;     // 0 off, 1 on
  int16_t user_button_lists[config_user_button_count][config_list_length];
  uint8_t groups[config_group_count];  // bit t: track t + 1 is a member
  int16_t panel_version;               // 1 swaps the third and fourth key columns
  int16_t time_display;                // 0 forward, 1 reverse
  int16_t simple_display;              // 0 original, 1 basic, 2 expert
  int16_t pedal_mode;                  // 0 change now, 1 catch first
  int16_t track_follows_cc;            // 0 no, 1 yes
  int16_t reserved_9400;
  int16_t fade_time;       // 1-100
  int16_t volume_minimum;  // -128..-10
  int16_t q_steps[track_count];
  Preset presets[config_preset_count];
};

static_assert(sizeof(ConfigRecord) == config_size);
static_assert(track_count == 8, "the stored record holds per-track fields for eight tracks");
static_assert(offsetof(ConfigRecord, checksum) == 2);
static_assert(offsetof(ConfigRecord, ip_address) == 4);
static_assert(offsetof(ConfigRecord, gateway_address) == 8);
static_assert(offsetof(ConfigRecord, netmask) == 12);
static_assert(offsetof(ConfigRecord, dns_server) == 16);
static_assert(offsetof(ConfigRecord, switched) == 20);
static_assert(offsetof(ConfigRecord, reserved_36) == 36);
static_assert(offsetof(ConfigRecord, mono_input_mode) == 50);
static_assert(offsetof(ConfigRecord, zt6_display) == 52);
static_assert(offsetof(ConfigRecord, midi_clock_in) == 54);
static_assert(offsetof(ConfigRecord, brightness) == 56);
static_assert(offsetof(ConfigRecord, mono_aux_out) == 58);
static_assert(offsetof(ConfigRecord, drum_audio_port) == 60);
static_assert(offsetof(ConfigRecord, drums_clock_out) == 62);
static_assert(offsetof(ConfigRecord, track_file_set) == 64);
static_assert(offsetof(ConfigRecord, cc_trace) == 66);
static_assert(offsetof(ConfigRecord, reserved_68) == 68);
static_assert(offsetof(ConfigRecord, quant_cc) == 70);
static_assert(offsetof(ConfigRecord, cc_dejitter) == 72);
static_assert(offsetof(ConfigRecord, rnd_restart_min) == 74);
static_assert(offsetof(ConfigRecord, rnd_restart_max) == 76);
static_assert(offsetof(ConfigRecord, loop_start_flash) == 78);
static_assert(offsetof(ConfigRecord, switch_priority) == 80);
static_assert(offsetof(ConfigRecord, all_aux_level) == 82);
static_assert(offsetof(ConfigRecord, all_main_level) == 84);
static_assert(offsetof(ConfigRecord, noise_gate_level) == 86);
static_assert(offsetof(ConfigRecord, noise_gate_delay) == 88);
static_assert(offsetof(ConfigRecord, record_trigger) == 90);
static_assert(offsetof(ConfigRecord, wet_only) == 92);
static_assert(offsetof(ConfigRecord, midi_channel) == 94);
static_assert(offsetof(ConfigRecord, midi_lists) == 96);
static_assert(offsetof(ConfigRecord, cc_max) == 8288);
static_assert(offsetof(ConfigRecord, cc_min) == 8544);
static_assert(offsetof(ConfigRecord, cc_controller) == 8800);
static_assert(offsetof(ConfigRecord, reserved_9056) == 9056);
static_assert(offsetof(ConfigRecord, beats_per_measure) == 9312);
static_assert(offsetof(ConfigRecord, midi_clock_out) == 9314);
static_assert(offsetof(ConfigRecord, user_button_lists) == 9316);
static_assert(offsetof(ConfigRecord, groups) == 9380);
static_assert(offsetof(ConfigRecord, panel_version) == 9390);
static_assert(offsetof(ConfigRecord, time_display) == 9392);
static_assert(offsetof(ConfigRecord, simple_display) == 9394);
static_assert(offsetof(ConfigRecord, pedal_mode) == 9396);
static_assert(offsetof(ConfigRecord, track_follows_cc) == 9398);
static_assert(offsetof(ConfigRecord, reserved_9400) == 9400);
static_assert(offsetof(ConfigRecord, fade_time) == 9402);
static_assert(offsetof(ConfigRecord, volume_minimum) == 9404);
static_assert(offsetof(ConfigRecord, q_steps) == 9406);
static_assert(offsetof(ConfigRecord, presets) == 9422);

extern ConfigRecord config;

// Set by every change of a field (and by a failed load, an upgrade, a save that found the storage
// thread busy); cleared when a save is handed over. The idle tick saves while it is set.
extern std::atomic<int> config_dirty;

// State kept beside the record but not stored in it (main thread; the network thread reads it).
struct ConfigLive {
  int16_t mix_level[track_count];     // 0 = full, negative = attenuation
  int16_t mix_feedback[track_count];  // percent
  int16_t mix_pan[track_count];
  int16_t mix_spare[track_count];  // kept at 100 beside the mix; no reader yet
  // Last value seen by the controller-as-switch test, -1 when none since the last load.
  int16_t cc_switch_value[config_cc_count];
  // errno of the last failed write of the file, 0 after a success (storage thread).
  int write_error;
};
extern ConfigLive config_live;

// A word of the live mix, written by the main thread and read by the network thread for the
// status reports: one relaxed atomic access each, so a reader never sees a torn or raced word.
inline void set_live_word(int16_t& word, int32_t value) {
  std::atomic_ref<int16_t>(word).store(int16_t(value), std::memory_order_relaxed);
}
inline int16_t live_word(int16_t& word) {
  return std::atomic_ref<int16_t>(word).load(std::memory_order_relaxed);
}

// Fills the record with the defaults and resets the live mix and cc_switch_value.
void config_defaults();
// Start-up: defaults, the stored file when valid (version 1 upgraded), then the repairs. The
// caller carries the levels and the noise gate into the engine. Prints "Size of config %d". A
// file that exists but is refused is renamed to config_refused_file_name first.
void config_load();

// What the configuration calls in the folders above it, installed by them at start-up.
struct ConfigHooks {
  // Hands a copy of the record (length bytes) to the file writer: 0 when handed over, -1 when
  // the writer is busy. Installed by the storage thread's set-up; null: nothing is saved.
  int (*write)(const void* data, int length);
};
extern ConfigHooks config_hooks;
// Idle tick: stamps the checksum and hands the record to the file writer; when the writer is
// busy or missing, config_dirty is set again so a later tick retries. Returns 0 when handed over,
// -1 when busy.
int config_save();
// Internet checksum (ones' complement sum, complemented) of count 16-bit words; 0xFFFF when empty.
uint16_t config_checksum(const uint16_t* words, int count);
// Stores the checksum of the live record in its checksum field.
void config_stamp_checksum();

// Storage thread, after each write of the file: 0, or the errno of the failure. A failure is
// printed once; the same failure again stays quiet, and the first success after it is printed.
void config_write_result(int error);

// The idle tick's configuration service: saves when config_dirty is set.
void config_save_service();

// Tests: the record, config_dirty and the live state as at program load (all zero).
void config_reset();
