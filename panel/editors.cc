// The switched-tracks, group and address editors.
#include "panel/editors.h"

#include <cstring>

#include "config/config.h"
#include "core/console.h"
#include "panel/input.h"
#include "panel/status_line.h"

Editors editors;

namespace {

constexpr int octet_count = 4;
constexpr int octet_bits = 8;

constexpr MenuItem editor_item[] = {{editors.second_line, nullptr, nullptr, 0}};

constexpr const char* address_titles[] = {"IP address", "Gateway addr", "Netmask", "DNS server"};

uint32_t& address_setting(int field) {
  switch (field) {
    case address_gateway: return config.gateway_address;
    case address_netmask: return config.netmask;
    case address_dns: return config.dns_server;
    default: return config.ip_address;
  }
}

uint8_t switched_mask() {
  uint8_t mask = 0;
  for (int t = 0; t < track_count; ++t) {
    if (config.switched[t] & 1) mask |= uint8_t(1u << t);
  }
  return mask;
}

void fill_switched() {
  format_to(editors.first_line, "Switched Tracks");
  format_track_digits(editors.second_line, switched_mask());
}

void show_switched() {
  fill_switched();
  draw_menu();
}

void switched_key(int32_t code) {
  if (const int t = track_key_number(code)) {
    config.switched[t - 1] ^= 1;
    config_dirty = 1;
    show_switched();
  } else if (code == key_select) {
    show_switched();
  } else {
    dispatch_key(code);
  }
}

void fill_group() {
  format_to(editors.first_line, "Group %d", int(editors.group));
  format_track_digits(editors.second_line, editors.group_mask);
}

void show_group() {
  fill_group();
  draw_menu();
}

// Every toggle is stored at once, so leaving keeps it.
void group_key(int32_t code) {
  Editors& e = editors;
  if (const int t = track_key_number(code)) {
    e.group_mask ^= uint8_t(1u << (t - 1));
    config.groups[e.group - 1] = e.group_mask;
    config_dirty = 1;
    show_group();
  } else if (code == key_select) {
    show_group();
  } else {
    dispatch_key(code);
  }
}

void fill_address() {
  const Editors& e = editors;
  format_to(editors.first_line, "%s", address_titles[e.address_field]);
  const int o[octet_count] = {e.octets[0], e.octets[1], e.octets[2], e.octets[3]};
  switch (e.octet) {
    case 0: format_to(editors.second_line, "%d", o[0]); break;
    case 1: format_to(editors.second_line, "%d.%d", o[0], o[1]); break;
    case 2: format_to(editors.second_line, "%d.%d.%d", o[0], o[1], o[2]); break;
    default: format_to(editors.second_line, "%d.%d.%d.%d", o[0], o[1], o[2], o[3]); break;
  }
}

void show_address() {
  fill_address();
  draw_menu();
}

// Octet by octet, most significant first; each wraps within 0..255.
void address_key(int32_t code) {
  Editors& e = editors;
  if (code == code_encoder_up || code == code_encoder_down) {
    e.octets[e.octet] = uint8_t(e.octets[e.octet] + (code == code_encoder_up ? 1 : -1));
    show_address();
  } else if (code == key_select) {
    if (e.octet < octet_count - 1) {
      e.octet++;
      show_address();
      return;
    }
    uint32_t value = 0;
    for (int i = 0; i < octet_count; ++i) value = (value << octet_bits) | e.octets[i];
    address_setting(e.address_field) = value;
    config_dirty = 1;
    dispatch_key(key_back);
  } else {
    dispatch_key(code);
  }
}

}  // namespace

constexpr Menu editor_screen = {editors.first_line, nullptr, editor_item, 1, nullptr};

int32_t open_switched_editor(int32_t) {
  fill_switched();
  push_menu(&editor_screen, 0, switched_key);
  return 0;
}

int32_t open_group_editor(int32_t group) {
  if (group < 1 || group > config_group_count) return status_refused;
  Editors& e = editors;
  e.group = int16_t(group);
  e.group_mask = config.groups[group - 1];
  fill_group();
  push_menu(&editor_screen, 0, group_key);
  return 0;
}

int32_t open_address_editor(int32_t field) {
  if (field < address_ip || field > address_dns) return status_refused;
  Editors& e = editors;
  e.address_field = int16_t(field);
  e.octet = 0;
  const uint32_t value = address_setting(field);
  for (int i = 0; i < octet_count; ++i) {
    e.octets[i] = uint8_t(value >> (octet_bits * (octet_count - 1 - i)));
  }
  fill_address();
  push_menu(&editor_screen, 0, address_key);
  return 0;
}

void editors_reset() { editors = Editors{}; }
