#include "net/host_sysex.h"

#include <cstring>

#include "config/config.h"
#include "engine/config_apply.h"
#include "core/console.h"
#include "core/log_ring.h"
#include "net/remote_send.h"
#include "net/status_report.h"
#include "net/sysex_upgrade.h"
#include "net/sysex_codec.h"
#include "core/constants.h"
#include "panel/text_command.h"
#include "storage/sessions.h"
#include "storage/storage_thread.h"

HostSysex host_sysex_state{run_text_command, nullptr, nullptr, 0};

namespace {

constexpr int host_command_index = 4;  // the command byte follows the header
constexpr int payload_index = 5;

constexpr uint8_t launchpad_programmer_echo[] = {0xF0, 0x00, 0x20, 0x29, 0x02,
                                                 0x0D, 0x00, 0x7F, 0xF7};
// Identity reply: F0 7E <device> 06 02 <manufacturer> <family> ...
constexpr int identity_min_length = 10;
constexpr uint8_t universal_non_realtime = 0x7E;
constexpr uint8_t general_information = 0x06;
constexpr uint8_t identity_reply = 0x02;
constexpr uint8_t akai_id = 0x47;
constexpr uint8_t apc_family = 0x4F;
constexpr uint8_t novation_id[3] = {0x00, 0x20, 0x29};
constexpr uint8_t launchpad_family = 0x13;

constexpr int midi_channel_max = 15;
constexpr int host_gate_level_max = 16;
constexpr int beats_per_measure_max = 16;
constexpr int controller_none_7bit = 127;  // "no controller function" in 7 bits

// Lengths that a list or controller command must carry exactly.
constexpr int set_list_payload = 2 + 2 * config_list_length;  // list 14-bit, eight ids 14-bit
constexpr int set_controller_payload = 4;                     // cc, controller, min, max

// Reply sizes.
constexpr int reply_head = host_sysex_header_length + 1;  // header and reply code
constexpr int log_reply_max = reply_head + host_log_max + 1;
constexpr int lists_reply_max = reply_head + 3 + host_lists_max * 2 * config_list_length + 1;
static_assert(host_controllers_length == reply_head + 3 * config_cc_count + 1);
constexpr int config_chunk_record_bytes = host_config_chunk_groups * 7;  // 133
constexpr int config_reply_max = reply_head + 1 + packed_length(config_chunk_record_bytes) + 1;
constexpr int version_reply_max = reply_head + 64;

int start_reply(uint8_t* out, uint8_t code) {
  int n = 0;
  for (uint8_t b : host_sysex_header) out[n++] = b;
  out[n++] = code;
  return n;
}

void finish_reply(uint8_t* out, int n) {
  out[n++] = sysex_end;
  host_reply(out, n);
}

void mark_changed() { config_dirty = 1; }

// Each handler gets the payload between the command byte and the closing F7.
void cmd_status(const uint8_t*, int) {
  RemoteStatus status;
  remote_status_read(status);
  uint8_t out[sysex_status_length];
  build_sysex_status(status, out);
  host_reply(out, sysex_status_length);
}

void cmd_log(const uint8_t*, int) {
  uint8_t out[log_reply_max];
  int n = start_reply(out, host_reply_log);
  char text[host_log_max];
  const int count = log_take(console_log.sysex_log_ring, text, host_log_max);
  // A character with its top bit set would end the SysEx message early; it travels as '?'.
  for (int i = 0; i < count; ++i) {
    const uint8_t c = uint8_t(text[i]);
    out[n++] = c <= seven_bit_mask ? c : uint8_t('?');
  }
  finish_reply(out, n);
}

// The byte lives outside the configuration record: storing it leaves config_dirty alone.
void cmd_store_byte(const uint8_t* p, int) {
  if (p[0] == 0 || p[0] == 'U' || p[0] == 'u') return;
  host_sysex_state.stored_byte = p[0];
}

void cmd_midi_channel(const uint8_t* p, int) {
  if (p[0] > midi_channel_max) return;
  config.midi_channel = p[0];
  mark_changed();
  console_printf("MIDI channel set to %d\n", int(p[0]));
}

void cmd_noise_gate(const uint8_t* p, int) {
  if (p[0] > host_gate_level_max) return;
  config.noise_gate_level = p[0];
  config_apply_noise_gate();
  mark_changed();
  console_printf("Noise gate set to %d\n", int(p[0]));
}

void cmd_brightness(const uint8_t* p, int) {
  if (p[0] != 0 && p[0] != 3 && p[0] != 7) return;  // the display knows three steps
  config.brightness = p[0];
  mark_changed();
  console_printf("Brightness set to %d\n", int(p[0]));
}

// Modes: 1 clock out off, 2 clock out on, 3 clock in on, 4 clock in off.
void cmd_midi_clock(const uint8_t* p, int) {
  switch (p[0]) {
    case 1: config.midi_clock_out = 0; break;
    case 2: config.midi_clock_out = 1; break;
    case 3:  // the audio thread reads the flag per period
      std::atomic_ref<int16_t>(config.midi_clock_in).store(1, std::memory_order_relaxed);
      break;
    case 4:
      std::atomic_ref<int16_t>(config.midi_clock_in).store(0, std::memory_order_relaxed);
      break;
    default: return;
  }
  mark_changed();
  console_printf("MIDI clock: out %d, in %d\n", int(config.midi_clock_out),
                 int(config.midi_clock_in));
}

void cmd_nothing(const uint8_t*, int) {}

void cmd_upgrade_data(const uint8_t* p, int length) { sysex_upgrade_append(p, length); }

void cmd_upgrade_finish(const uint8_t* p, int length) {
  sysex_upgrade_append(p, length);
  sysex_upgrade_finish();
}

void cmd_beats_per_measure(const uint8_t* p, int) {
  if (p[0] < 1 || p[0] > beats_per_measure_max) return;
  config.beats_per_measure = p[0];
  mark_changed();
  console_printf("Beats per measure set to %d\n", int(p[0]));
}

void cmd_zt6_display(const uint8_t* p, int) {
  if (p[0] > 1) return;
  config.zt6_display = p[0];
  mark_changed();
  console_printf("ZT6 display set to %s\n", p[0] ? "new" : "old");
}

// Lists that would run past the last one are not reported: the reply's count says how many
// lists it carries, and it never carries the controller tables that follow them in the record.
void cmd_get_lists(const uint8_t* p, int) {
  const int list = get_14bit(p);
  int count = p[2];
  if (count < 1 || count > host_lists_max || list >= config_list_count) return;
  if (count > config_list_count - list) count = config_list_count - list;
  uint8_t out[lists_reply_max];
  int n = start_reply(out, host_reply_lists);
  put_14bit(out + n, list);
  n += 2;
  out[n++] = uint8_t(count);
  for (int l = list; l < list + count; ++l) {
    for (int i = 0; i < config_list_length; ++i) {
      put_14bit(out + n, config.midi_lists[l][i]);
      n += 2;
    }
  }
  finish_reply(out, n);
}

void cmd_set_list(const uint8_t* p, int length) {
  if (length != set_list_payload) {
    console_printf("set_midi_button_config length error %d\n", length);
    return;
  }
  const int list = get_14bit(p);
  if (list >= config_list_count) {
    console_printf("set_midi_button_config button error %d\n", list);
    return;
  }
  for (int i = 0; i < config_list_length; ++i) {
    config.midi_lists[list][i] = get_function_id(p + 2 + 2 * i);
  }
  mark_changed();
}

void cmd_get_controllers(const uint8_t*, int) {
  uint8_t out[host_controllers_length];
  int n = start_reply(out, host_reply_controllers);
  for (int c = 0; c < config_cc_count; ++c) {
    out[n++] = uint8_t(config.cc_controller[c] & seven_bit_mask);
  }
  for (int c = 0; c < config_cc_count; ++c) out[n++] = uint8_t(config.cc_min[c] & seven_bit_mask);
  for (int c = 0; c < config_cc_count; ++c) out[n++] = uint8_t(config.cc_max[c] & seven_bit_mask);
  finish_reply(out, n);
}

// The controller number is 7-bit (checked with the message), so it always names a table entry.
// 127, the form "none" takes in the controller report, stores -1 again.
void cmd_set_controller(const uint8_t* p, int length) {
  if (length != set_controller_payload) {
    console_printf("set_controller_config length error %d\n", length);
    return;
  }
  const int cc = p[0];
  config.cc_controller[cc] = p[1] == controller_none_7bit ? int16_t(-1) : int16_t(p[1]);
  config.cc_min[cc] = p[2];
  config.cc_max[cc] = p[3];
  mark_changed();
}

// 133 record bytes from chunk × 128, cut at the end of the record; none past it.
void cmd_get_config(const uint8_t* p, int) {
  const int chunk = p[0];
  const int start = chunk * host_config_chunk_bytes;
  uint8_t out[config_reply_max];
  int n = start_reply(out, host_reply_config);
  out[n++] = uint8_t(chunk);
  if (start < config_size) {
    int count = config_size - start;
    if (count > config_chunk_record_bytes) count = config_chunk_record_bytes;
    n += pack_8bit(reinterpret_cast<const uint8_t*>(&config) + start, count, out + n);
  }
  finish_reply(out, n);
}

void cmd_version(const uint8_t*, int) {
  uint8_t out[version_reply_max];
  int n = start_reply(out, host_reply_version);
  n += format_to(reinterpret_cast<char*>(out + n), "ZT4 Version %s%s", zt4_version, "");
  out[n++] = 0;
  finish_reply(out, n);
}

void cmd_text(const uint8_t* p, int length) {
  if (host_sysex_state.run_text != nullptr) {
    host_sysex_state.run_text(reinterpret_cast<const char*>(p), length);
  }
}

// Archived sessions and takes. Numbers come as 14-bit values, so none is negative.
constexpr int load_take_payload = 6;       // session 14-bit, track, take 14-bit, destination 1-8
constexpr int delete_take_payload = 6;     // session 14-bit, track, take 14-bit, any
constexpr int delete_session_payload = 3;  // session 14-bit, any
constexpr int sessions_reply_max = reply_head + 2 * host_sessions_max + 1;
constexpr int takes_reply_max = reply_head + 4 * host_takes_max + 1;
constexpr int track_name_reply_max = reply_head + 1 + track_name_max + 1;
constexpr int take_track_shift = 16;
constexpr int32_t take_field_mask = 0xFFFF;

// No reply when there is no session.
void cmd_list_sessions(const uint8_t*, int) {
  int32_t sessions[host_sessions_max];
  const int count = list_sessions(sessions, host_sessions_max);
  if (count == 0) return;
  uint8_t out[sessions_reply_max];
  int n = start_reply(out, host_reply_sessions);
  for (int i = 0; i < count; ++i) {
    put_14bit(out + n, sessions[i]);
    n += 2;
  }
  finish_reply(out, n);
}

void cmd_list_takes(const uint8_t* p, int) {
  int32_t takes[host_takes_max];
  const int count = list_takes(get_14bit(p), takes, host_takes_max);
  uint8_t out[takes_reply_max];
  int n = start_reply(out, host_reply_takes);
  for (int i = 0; i < count; ++i) {
    put_14bit(out + n, takes[i] >> take_track_shift);
    put_14bit(out + n + 2, takes[i] & take_field_mask);
    n += 4;
  }
  finish_reply(out, n);
}

void cmd_load_take(const uint8_t* p, int length) {
  const int destination = p[5];
  if (length != load_take_payload || destination < 1 || destination > track_count) return;
  request_take_load(get_14bit(p), p[2], get_14bit(p + 3), destination - 1);
}

void cmd_delete_take(const uint8_t* p, int length) {
  if (length != delete_take_payload) return;
  delete_take(get_14bit(p), p[2], get_14bit(p + 3));
}

void cmd_delete_session(const uint8_t* p, int length) {
  if (length != delete_session_payload) return;
  delete_session(get_14bit(p));
}

void cmd_load_progress(const uint8_t*, int) {
  const bool busy = storage.load_busy.load() != 0;
  const int32_t result = load_result();
  uint8_t out[reply_head + 4];
  int n = start_reply(out, host_reply_load_progress);
  out[n++] = busy ? 1 : 0;
  out[n++] = uint8_t(result >= 0 ? result : 0);
  out[n++] = uint8_t(result < 0 ? -result : 0);
  finish_reply(out, n);
}

struct HostCommandRow {
  int command;
  int min_payload;  // bytes the handler reads; shorter messages are ignored
  void (*handler)(const uint8_t* payload, int length);
};

constexpr HostCommandRow host_commands[] = {
    {host_cmd_upgrade_data, 0, cmd_upgrade_data},
    {host_cmd_upgrade_finish, 0, cmd_upgrade_finish},
    {host_cmd_status, 0, cmd_status},
    {host_cmd_log, 0, cmd_log},
    {host_cmd_store_byte, 1, cmd_store_byte},
    {host_cmd_midi_channel, 1, cmd_midi_channel},
    {host_cmd_noise_gate, 1, cmd_noise_gate},
    {host_cmd_brightness, 1, cmd_brightness},
    {host_cmd_midi_clock, 1, cmd_midi_clock},
    {host_cmd_nothing_9, 0, cmd_nothing},
    {host_cmd_nothing_10, 0, cmd_nothing},
    {host_cmd_beats_per_measure, 1, cmd_beats_per_measure},
    {host_cmd_zt6_display, 1, cmd_zt6_display},
    {host_cmd_get_lists, 3, cmd_get_lists},
    {host_cmd_set_list, 0, cmd_set_list},
    {host_cmd_get_controllers, 0, cmd_get_controllers},
    {host_cmd_set_controller, 0, cmd_set_controller},
    {host_cmd_get_config, 1, cmd_get_config},
    {host_cmd_version, 0, cmd_version},
    {host_cmd_text, 0, cmd_text},
    {host_cmd_list_sessions, 0, cmd_list_sessions},
    {host_cmd_list_takes, 2, cmd_list_takes},
    {host_cmd_load_take, load_take_payload, cmd_load_take},
    {host_cmd_delete_take, delete_take_payload, cmd_delete_take},
    {host_cmd_delete_session, delete_session_payload, cmd_delete_session},
    {host_cmd_load_progress, 0, cmd_load_progress},
    {-1, 0, nullptr},
};

void run_host_command(const uint8_t* bytes, int length) {
  const int command = bytes[host_command_index];
  const int payload_length = length - host_command_overhead;
  for (const HostCommandRow* row = host_commands; row->command != -1; ++row) {
    if (row->command != command) continue;
    if (payload_length >= row->min_payload) row->handler(bytes + payload_index, payload_length);
    return;
  }
}

}  // namespace

SysexKind classify_sysex(const uint8_t* b, int n) {
  if (b == nullptr || n < host_sysex_header_length || b[0] != sysex_start) {
    return SysexKind::ignored;
  }
  if (memcmp(b, host_sysex_header, host_sysex_header_length) == 0) {
    // A host command needs its command byte and the closing F7, and carries 7-bit data only:
    // a byte with its top bit set would be read as a status byte or as an oversized value.
    if (n >= host_command_overhead && b[n - 1] == sysex_end &&
        all_7bit(b + host_command_index, n - host_command_index - 1)) {
      return SysexKind::host_command;
    }
    return SysexKind::ignored;
  }
  if (n == int(sizeof launchpad_programmer_echo) &&
      memcmp(b, launchpad_programmer_echo, sizeof launchpad_programmer_echo) == 0) {
    return SysexKind::launchpad_programmer_mode;
  }
  if (n >= identity_min_length && b[1] == universal_non_realtime && b[3] == general_information &&
      b[4] == identity_reply) {
    if (b[5] == akai_id && b[6] == apc_family) return SysexKind::apc_identity;
    if (memcmp(b + 5, novation_id, sizeof novation_id) == 0 && b[8] == launchpad_family) {
      return SysexKind::launchpad_identity;
    }
  }
  return SysexKind::ignored;
}

void host_sysex(const uint8_t* bytes, int length) {
  switch (classify_sysex(bytes, length)) {
    case SysexKind::host_command: run_host_command(bytes, length); break;
    case SysexKind::launchpad_programmer_mode:
      console_printf("Novation LaunchPad confirmed programmer mode.\n");
      break;
    case SysexKind::apc_identity:
      if (host_sysex_state.apc_found != nullptr) host_sysex_state.apc_found();
      break;
    case SysexKind::launchpad_identity:
      if (host_sysex_state.launchpad_found != nullptr) host_sysex_state.launchpad_found();
      break;
    case SysexKind::ignored: break;
  }
}

void host_sysex_reset() {
  host_sysex_state.run_text = run_text_command;
  host_sysex_state.apc_found = nullptr;
  host_sysex_state.launchpad_found = nullptr;
  host_sysex_state.stored_byte = 0;
}

void host_report_track_name(int32_t t, const char* name) {
  uint8_t out[track_name_reply_max];
  int n = start_reply(out, host_reply_track_name);
  out[n++] = uint8_t(t);
  for (const char* c = name; *c != '\0' && n < track_name_reply_max - 2; ++c)
    out[n++] = uint8_t(*c) & seven_bit_mask;
  out[n++] = 0;
  finish_reply(out, n);
}
