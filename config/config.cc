#include "config/config.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "core/console.h"

ConfigRecord config;
ConfigHooks config_hooks;
std::atomic<int> config_dirty{0};
ConfigLive config_live;

namespace {

constexpr int16_t switched_default[track_count] = {0, 0, 0, 1, 1, 1, 1, 0};
constexpr int16_t reserved_68_default = 770;  // 0x0302, kept so stored files keep their bytes
constexpr int16_t quant_cc_default = 126;
constexpr int cc_bounce = 119;         // always reaches the general-use handler
constexpr int16_t cc_general_use = 0;  // controller function "General Use"
constexpr int16_t cc_travel_top = 127;
constexpr int16_t feedback_full = 100;  // percent

void fill(int16_t* values, int count, int16_t value) {
  for (int i = 0; i < count; ++i) values[i] = value;
}

const uint16_t* words_of(const ConfigRecord& record) {
  return reinterpret_cast<const uint16_t*>(&record);
}

// Makes controller c a general-use control over its whole travel with no switch functions.
void make_general_use(ConfigRecord& c, int controller) {
  c.cc_controller[controller] = cc_general_use;
  c.midi_lists[list_switch_base + controller][0] = -1;
}

// Version 1 had no switched set and one level for both outputs.
void upgrade_version_1(ConfigRecord& c) {
  memcpy(c.switched, switched_default, sizeof c.switched);
  memset(c.reserved_36, 0, sizeof c.reserved_36);
  c.all_aux_level = c.all_main_level;
  c.version = config_version;
}

// Corrections made at every load, whatever the file held.
void repair(ConfigRecord& c) {
  if (c.quant_cc == 0) {
    c.quant_cc = quant_cc_default;
    make_general_use(c, quant_cc_default);
  }
  c.cc_max[cc_bounce] = cc_travel_top;
  c.cc_min[cc_bounce] = 0;
  make_general_use(c, cc_bounce);
  c.cc_trace = 0;
  if (c.brightness != 0 && c.brightness != 3 && c.brightness != 7) c.brightness = 0;
  if (c.zt6_display > 1) c.zt6_display = 0;
}

enum class StoredFile { missing, short_or_unreadable, whole };

// Reads the whole stored record into c.
StoredFile read_config_file(ConfigRecord& c) {
  int fd = open(config_file_name, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return errno == ENOENT ? StoredFile::missing : StoredFile::short_or_unreadable;
  ssize_t n = read(fd, &c, sizeof c);
  close(fd);
  return n == ssize_t(sizeof c) ? StoredFile::whole : StoredFile::short_or_unreadable;
}

// A refused file would be overwritten by the defaults at the first save: it is kept aside, so
// that the user's mapping can still be recovered from it.
void keep_refused_file() {
  if (rename(config_file_name, config_refused_file_name) == 0) {
    console_printf("The refused configuration is kept as %s\n", config_refused_file_name);
  } else {
    console_printf(
        "The refused configuration cannot be kept as %s (%s): it is replaced at the "
        "next save\n",
        config_refused_file_name, strerror(errno));
  }
}

}  // namespace

uint16_t config_checksum(const uint16_t* words, int count) {
  uint32_t s = 0;
  for (int i = 0; i < count; ++i) s += words[i];  // at most 65535 × 4986: fits 32 bits
  s = (s & 0xFFFFu) + (s >> 16);
  s = s + (s >> 16);
  return uint16_t(~s & 0xFFFFu);
}

void config_stamp_checksum() {
  config.checksum = 0;
  config.checksum = config_checksum(words_of(config), config_word_count);
}

void config_defaults() {
  ConfigRecord& c = config;
  memset(&c, 0, sizeof c);
  c.version = config_version;
  memcpy(c.switched, switched_default, sizeof c.switched);
  c.reserved_68 = reserved_68_default;
  c.quant_cc = quant_cc_default;
  c.cc_dejitter = 1;
  c.rnd_restart_max = 5;
  c.all_aux_level = -2;
  c.all_main_level = -2;
  c.noise_gate_level = 12;
  c.noise_gate_delay = 20;
  fill(&c.midi_lists[0][0], config_list_count * config_list_length, -1);
  fill(c.cc_max, config_cc_count, cc_travel_top);
  fill(c.cc_controller, config_cc_count, -1);
  fill(c.reserved_9056, config_cc_count, -1);
  c.beats_per_measure = 4;
  c.midi_clock_out = 1;
  fill(&c.user_button_lists[0][0], config_user_button_count * config_list_length, -1);
  c.panel_version = 1;
  c.fade_time = 10;
  c.volume_minimum = -128;
  fill(c.q_steps, track_count, 1);

  ConfigLive& live = config_live;
  fill(live.mix_level, track_count, 0);
  fill(live.mix_pan, track_count, 0);
  fill(live.mix_feedback, track_count, feedback_full);
  fill(live.mix_spare, track_count, feedback_full);
  fill(live.cc_switch_value, config_cc_count, -1);
}

void config_load() {
  config_defaults();
  fill(config_live.cc_switch_value, config_cc_count, -1);
  console_printf("Size of config %d\n", config_size);

  // A short file is rejected outright rather than checked as a half-overwritten record.
  const StoredFile stored = read_config_file(config);
  if (stored == StoredFile::missing) {
    console_printf("no configuration yet: using defaults\n");
    config_defaults();
    config_dirty = 1;
  } else if (stored != StoredFile::whole ||
             config_checksum(words_of(config), config_word_count) != 0) {
    console_printf("Config checksum mismatch.  Using default config.\n");
    keep_refused_file();
    config_defaults();
    config_dirty = 1;
  }

  if (config.version == 1) {
    upgrade_version_1(config);
    config_dirty = 1;
  } else if (config.version != config_version) {
    console_printf("Config version mismatch.  Using default config.\n");
    keep_refused_file();
    config_defaults();
    config_dirty = 1;
  }

  repair(config);
}

int config_save() {
  // Cleared first, so a change made from here on (by the network thread) saves again.
  config_dirty = 0;
  config_stamp_checksum();
  if (config_hooks.write == nullptr || config_hooks.write(&config, config_size) != 0) {
    config_dirty = 1;  // the storage thread is busy: a later idle tick retries
    return -1;
  }
  return 0;
}

void config_write_result(int error) {
  ConfigLive& live = config_live;
  if (error == live.write_error) return;
  if (error != 0) {
    console_printf("Cannot save the configuration in %s: %s; the next change tries again\n",
                   config_file_name, strerror(error));
  } else {
    console_printf("The configuration is saved again\n");
  }
  live.write_error = error;
}

void config_save_service() {
  if (config_dirty.load() != 0) config_save();
}

void config_reset() {
  memset(&config, 0, sizeof config);
  memset(&config_live, 0, sizeof config_live);
  config_dirty = 0;
}
