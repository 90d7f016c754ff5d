// The host SysEx command set: messages that open with F0 00 3F 6A, from the MIDI parser (main
// thread) and from UDP datagrams (network thread), plus the pad controllers' replies that
// arrive the same way. Every length and index in a message is checked before it is used.
#pragma once

#include <cstdint>

#include "core/lock.h"

// Host command numbers.
enum HostCommand : int {
  host_cmd_upgrade_data = 0,
  host_cmd_upgrade_finish = 1,
  host_cmd_status = 2,
  host_cmd_log = 3,
  host_cmd_store_byte = 4,
  host_cmd_midi_channel = 5,
  host_cmd_noise_gate = 6,
  host_cmd_brightness = 7,
  host_cmd_midi_clock = 8,
  host_cmd_nothing_9 = 9,
  host_cmd_nothing_10 = 10,
  host_cmd_beats_per_measure = 11,
  host_cmd_zt6_display = 12,
  host_cmd_get_lists = 14,
  host_cmd_set_list = 16,
  host_cmd_get_controllers = 17,
  host_cmd_set_controller = 19,
  host_cmd_get_config = 20,
  host_cmd_version = 22,
  host_cmd_text = 27,
  host_cmd_list_sessions = 31,
  host_cmd_list_takes = 33,
  host_cmd_load_take = 35,
  host_cmd_delete_take = 36,
  host_cmd_delete_session = 37,
  host_cmd_load_progress = 39,  // the progress of the running load, for a remote that waits
};

// Reply codes.
constexpr uint8_t host_reply_log = 3;
constexpr uint8_t host_reply_lists = 15;
constexpr uint8_t host_reply_controllers = 18;
constexpr uint8_t host_reply_config = 21;
constexpr uint8_t host_reply_version = 23;
constexpr uint8_t host_reply_sessions = 32;
constexpr uint8_t host_reply_takes = 34;
constexpr uint8_t host_reply_track_name = 38;
constexpr uint8_t host_reply_load_progress = 40;  // busy (0/1), percent (0-100), load status

constexpr int host_log_max = 245;             // characters in one log reply
constexpr int host_lists_max = 8;             // function lists in one list reply
constexpr int host_config_chunk_bytes = 128;  // record bytes between chunk starts
constexpr int host_config_chunk_groups = 19;  // 133 record bytes per chunk, 5 overlapping
constexpr int host_controllers_length = 390;  // reply 18: header, code, 3 × 128 bytes, F7
constexpr int host_sessions_max = 500;        // sessions in one listing
constexpr int host_takes_max = 250;           // takes in one listing

// What a SysEx message is.
enum class SysexKind {
  ignored,
  host_command,               // F0 00 3F 6A cmd payload F7
  launchpad_programmer_mode,  // the Launchpad's echo of the programmer-mode request
  apc_identity,               // identity reply of an Akai APC
  launchpad_identity,         // identity reply of a Novation Launchpad
};

SysexKind classify_sysex(const uint8_t* bytes, int length);

// Hooks of the host command handler. The pad-controller hooks are null until those are served.
struct HostSysex {
  int32_t (*run_text)(const char* text, int length);  // command 27
  void (*apc_found)();
  void (*launchpad_found)();
  uint8_t stored_byte;  // command 4; 0 until one is stored
};

extern HostSysex host_sysex_state;

// Handles one message of `length` bytes; replies go out through host_reply.
void host_sysex(const uint8_t* bytes, int length) REQUIRES(main_loop_lock);

// Start-of-program hooks (command 27 runs text commands, no pad controllers) and stored byte.
void host_sysex_reset();

// Reply 38: the name of track t (0-7). Installed as the storage thread's name report.
void host_report_track_name(int32_t t, const char* name);
