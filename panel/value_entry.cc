#include "panel/value_entry.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "config/config.h"
#include "core/console.h"
#include "panel/input.h"

ValueEntry value_entry;

namespace {

constexpr uintptr_t lowest_descriptor_address = 256;  // smaller "pointers" are not descriptors

const char* entry_title() { return value_entry.title; }

constexpr MenuItem entry_item[] = {{value_entry.number_text, commit_value, nullptr, 0}};

int32_t read_variable(const ValueDescriptor& d) {
  switch (d.size) {
    case 1: return *static_cast<const uint8_t*>(d.variable);
    case 2: return *static_cast<const int16_t*>(d.variable);
    default: return *static_cast<const int32_t*>(d.variable);
  }
}

void write_variable(const ValueDescriptor& d, int32_t value) {
  switch (d.size) {
    case 1: *static_cast<uint8_t*>(d.variable) = uint8_t(value); break;
    case 2: *static_cast<int16_t*>(d.variable) = int16_t(value); break;
    default: *static_cast<int32_t*>(d.variable) = value; break;
  }
}

bool inside_configuration(const void* p) {
  const auto* first = reinterpret_cast<const uint8_t*>(&config);
  const auto* byte = static_cast<const uint8_t*>(p);
  return byte >= first && byte < first + sizeof config;
}

void show_number() {
  const ValueEntry& e = value_entry;
  format_to(value_entry.number_text, "%d", int(e.value + e.active->display_offset));
}

}  // namespace

constexpr Menu value_entry_screen = {nullptr, entry_title, entry_item, 1, nullptr};

void get_integer(const ValueDescriptor* descriptor) {
  if (reinterpret_cast<uintptr_t>(descriptor) < lowest_descriptor_address) return;
  ValueEntry& e = value_entry;
  if (e.active != nullptr) {
    console_printf("get_integer while in get_integer\n");
    return;
  }
  const ValueDescriptor& d = *descriptor;
  e.active = descriptor;
  e.value = std::clamp(read_variable(d), d.min, std::max(d.min, d.max));
  e.title = d.title;
  show_number();
  // Without a free level there is no screen to enter on, and so no entry.
  if (push_menu(&value_entry_screen, 0, nullptr) != 0) e.active = nullptr;
}

void get_integer_generic(const char* title, int16_t live, int32_t min, int32_t max,
                         int32_t display_offset, void* variable, int16_t size,
                         void (*on_set)(int32_t value)) {
  ValueEntry& e = value_entry;
  if (e.active != nullptr) {
    console_printf("get_integer_generic while in get_integer\n");
    return;
  }
  strncpy(e.generic_title, title, value_title_max);
  e.generic_title[value_title_max] = '\0';
  e.generic = {e.generic_title, live, min, max, display_offset, variable, size, on_set};
  get_integer(&e.generic);
}

int32_t commit_value(int32_t stay) {
  ValueEntry& e = value_entry;
  if (e.active != nullptr) {
    const ValueDescriptor& d = *e.active;
    write_variable(d, e.value);
    if (inside_configuration(d.variable)) config_dirty = 1;
    if (d.on_set != nullptr) d.on_set(e.value);
  }
  if (stay == 0 && menu_stack.depth > 0) pop_menu(nullptr, 0);
  draw_menu();
  return 0;
}

void value_entry_step(int32_t code) {
  ValueEntry& e = value_entry;
  if (e.active == nullptr) return;
  const ValueDescriptor& d = *e.active;
  if (code == code_encoder_up && e.value < d.max) e.value++;
  if (code == code_encoder_down && e.value > d.min) e.value--;
  show_number();
  if (d.live) {
    commit_value(1);
  } else {
    draw_menu();
  }
}

int32_t value_read(const ValueDescriptor& descriptor) { return read_variable(descriptor); }

void value_entry_set(int32_t shown) {
  ValueEntry& e = value_entry;
  if (e.active == nullptr || !value_entry_on_top()) return;
  const ValueDescriptor& d = *e.active;
  e.value = std::clamp(shown - d.display_offset, d.min, std::max(d.min, d.max));
  show_number();
  commit_value(0);
}

bool value_entry_on_top() { return menu_on_top(&value_entry_screen); }

void value_entry_end() { value_entry.active = nullptr; }

void value_entry_reset() { value_entry = ValueEntry{}; }
