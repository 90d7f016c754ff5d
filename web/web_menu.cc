// The panel as touch lists: the screen the panel shows, read from the panel's own menu stack and
// menu tables (the page holds no copy of them), and the page's choices run through the panel's
// own actions, so that a choice on the page is the same as walking to it with the encoder and
// pressing select. Also the drum machine and clock, and the MIDI mappings with their removal.
// Main thread, except web_functions_json.
#include <cstdio>
#include <cstring>
#include <string>

#include "config/config.h"
#include "core/console.h"
#include "core/lock.h"
#include "drums/drum_machine.h"
#include "engine/track.h"
#include "midi/clock.h"
#include "midi/transport_clock.h"
#include "panel/editors.h"
#include "panel/function_names.h"
#include "panel/function_table.h"
#include "panel/handlers.h"
#include "panel/handlers_drums.h"
#include "panel/menu.h"
#include "panel/menus.h"
#include "panel/value_entry.h"
#include "web/web_panel.h"

static_assert(int(TrackMix::level) == web_mix_level && int(TrackMix::pan) == web_mix_pan &&
              int(TrackMix::feedback) == web_mix_feedback);

namespace {

constexpr double frames_per_minute = 60.0 * frames_per_second;
constexpr int bpm_shown_below = 400;

std::string quoted(const char* text) {
  return '"' + web_json_text(text, text != nullptr ? strlen(text) : 0) + '"';
}

// What a menu item currently holds: the chosen entry of its choice list, or its setting's number.
std::string item_value(const MenuItem& item) {
  if (item.submenu != nullptr && item.submenu->selection != nullptr) {
    const int chosen = *item.submenu->selection;
    if (chosen >= 0 && chosen < item.submenu->count && item.submenu->items[chosen].text != nullptr)
      return item.submenu->items[chosen].text;
  }
  if (item.action == open_setting && item.user_data >= 0 && item.user_data < setting_count) {
    const ValueDescriptor& d = setting_descriptors[item.user_data];
    return std::to_string(value_read(d) + d.display_offset);
  }
  return "";
}

void add_screen(std::string& out) {
  const MenuLevel& level = top_level();
  const Menu* menu = level.menu;
  const char* title = menu == nullptr             ? ""
                      : menu->title != nullptr    ? menu->title
                      : menu->title_fn != nullptr ? menu->title_fn()
                                                  : "";
  const char* kind = value_entry_on_top()            ? "entry"
                     : level.key_callback != nullptr ? "editor"
                                                     : "list";
  out += "\"depth\":" + std::to_string(menu_stack.depth) + ",\"kind\":\"" + kind +
         "\",\"title\":" + quoted(title) + ",\"cursor\":" + std::to_string(level.cursor);
  if (value_entry_on_top() && value_entry.active != nullptr) {
    const ValueDescriptor& d = *value_entry.active;
    char entry[96];
    snprintf(entry, sizeof entry, ",\"entry\":[%d,%d,%d]", int(d.min + d.display_offset),
             int(d.max + d.display_offset), int(value_entry.value + d.display_offset));
    out += entry;
  }
  out += ",\"items\":[";
  for (int i = 0; menu != nullptr && i < menu->count; ++i) {
    const MenuItem& item = menu->items[i];
    if (i > 0) out += ',';
    out += '[' + quoted(item.text) + ',' + quoted(item_value(item).c_str()) + ']';
  }
  out += ']';
  const int armed = editors.learn_armed_row >= 0 ? 1 : editors.pedal_armed_id >= 0 ? 2 : 0;
  out += ",\"learn\":" + std::to_string(armed);
}

// The clock the looper follows: the JACK transport's, an outside MIDI clock, the drum machine's,
// or none; with its tempo, the loop synchronised operations follow, and the drum machine.
void add_drums(std::string& out) {
  ClockFollower c;
  int32_t running;
  int32_t source_track;
  {
    EngineLockGuard lock;
    c = clock_follower;
    running = drums.transport.running;
    source_track = engine_state.clock_source_track;
  }
  const char* source = c.transport_period > 0 || transport_follows() ? "JACK transport"
                       : config.midi_clock_in != 0                   ? "MIDI clock in"
                       : running != 0 && config.drums_clock_out != drums_clock_off ? "Drum machine"
                                                                                   : "None";
  int bpm = 0;
  if (c.clock_lock >= 0 && c.clock_period > 0) {
    const double b = frames_per_minute / (c.clock_period * clock_pulses_per_beat);
    bpm = b < bpm_shown_below ? int(b + 0.5) : 0;
  }
  char text[160];
  snprintf(text, sizeof text, ",\"drums\":[%d,%d,%d,\"%s\",%d,%d,%d]", running != 0 ? 1 : 0,
           int(drum_menu_bpm()), int(drum_menu_pattern_number()), source, bpm,
           int(source_track + 1), int(config.drums_clock_out));
  out += text;
}

std::string source_name(int list) {
  char name[32];
  if (list >= list_note_base) {
    snprintf(name, sizeof name, "Note %d", list - list_note_base);
  } else if (list >= list_switch_base) {
    snprintf(name, sizeof name, "CC %d", list - list_switch_base);
  } else {
    snprintf(name, sizeof name, "Program %d", list + 1);
  }
  return name;
}

// Each trigger list that runs something and each controller that drives a controller function.
void add_mappings(std::string& out) {
  out += ",\"maps\":[";
  bool first = true;
  for (int list = 0; list < web_list_count; ++list) {
    const int16_t* ids = config.midi_lists[list];
    if (ids[0] < 0) continue;
    std::string names;
    for (int i = 0; i < config_list_length && ids[i] >= 0; ++i) {
      const int row = function_row_of_id(ids[i]);
      if (row < 0) continue;
      if (!names.empty()) names += ", ";
      names += function_display_name(function_table[row].name);
    }
    out += first ? "" : ",";
    out += '[' + std::to_string(list) + ',' + quoted(source_name(list).c_str()) + ',' +
           quoted(names.c_str()) + ']';
    first = false;
  }
  out += "],\"pedals\":[";
  first = true;
  for (int c = 0; c < config_cc_count; ++c) {
    const FunctionEntry* row =
        config.cc_controller[c] > 0 ? controller_function(config.cc_controller[c]) : nullptr;
    if (row == nullptr) continue;
    out += first ? "" : ",";
    out += '[' + std::to_string(c) + ',' + quoted(row->name) + ']';
    first = false;
  }
  out += ']';
}

}  // namespace

std::string web_panel_json() {
  std::string out = "{\"t\":\"panel\",";
  add_screen(out);
  add_drums(out);
  add_mappings(out);
  out += '}';
  return out;
}

const std::string& web_functions_json() {
  static const std::string json = [] {
    std::string out = "{\"t\":\"functions\",\"fn\":[";
    for (int row = 0; row < function_row_count(); ++row) {
      if (row > 0) out += ',';
      out += quoted(function_display_name(function_table[row].name).c_str());
    }
    out += "],\"cc\":[";
    for (int id = 1; id < controller_function_count; ++id) {
      if (id > 1) out += ',';
      const FunctionEntry* row = controller_function(id);
      out += quoted(row != nullptr ? row->name : "");
    }
    out += "]}";
    return out;
  }();
  return json;
}

void web_run_event(const WebEvent& e) {
  switch (e.action) {
    case WebAction::item: {
      const MenuLevel& level = top_level();
      if (level.key_callback != nullptr || level.menu == nullptr || e.value >= level.menu->count) {
        console_printf("Web panel: no item %d on the panel's screen\n", int(e.value));
        return;
      }
      menu_stack.levels[menu_stack.depth].cursor = int16_t(e.value);
      draw_menu();
      activate_item();
      return;
    }
    case WebAction::entry:
      if (!value_entry_on_top()) {
        console_printf("Web panel: no value entry on the panel's screen\n");
        return;
      }
      value_entry_set(e.value);
      return;
    case WebAction::learn:
      if (e.part == web_learn_controller) {
        learn_next_controller(e.value);
      } else {
        learn_next_trigger(e.value);
      }
      return;
    case WebAction::unmap:
      if (e.part == web_unmap_controller) {
        config.cc_controller[e.value] = -1;
        console_printf("Controller %d drives nothing now\n", int(e.value));
      } else {
        for (int16_t& id : config.midi_lists[e.value]) id = -1;
        console_printf("%s runs nothing now\n", source_name(e.value).c_str());
      }
      config_dirty = 1;
      return;
    case WebAction::drums:
      if (e.part == web_drums_bpm) {
        drum_menu_set_bpm(e.value);
      } else {
        drum_menu_select_pattern(e.value);
      }
      return;
    default: return;
  }
}
