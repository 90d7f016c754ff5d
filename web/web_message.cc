#include "web/web_message.h"

#include <cctype>
#include <cstring>

#include "core/constants.h"

#include "panel/command_queue.h"
#include "panel/function_names.h"
#include "panel/function_table.h"
#include "panel/input.h"
#include "panel/text_command.h"

namespace {

constexpr int32_t panel_keys[] = {key_user_1,  key_user_2, key_user_3,     key_user_4,
                                  key_rec_dub, key_erase,  key_play_stop,  key_stop_now,
                                  key_back,    key_select, key_all_tracks, key_drum_menu};

WebMessage refused(const char* why) {
  WebMessage m;
  m.error = why;
  return m;
}

// A whole number in `base` filling [p, end), with an optional leading '-' when signed_ok.
bool parse_number(const char* p, const char* end, int base, bool signed_ok, int32_t& out) {
  bool negative = false;
  if (signed_ok && p < end && (*p == '-' || *p == '+')) negative = *p++ == '-';
  if (p == end || end - p > 6) return false;
  int32_t value = 0;
  for (; p < end; ++p) {
    int digit;
    if (*p >= '0' && *p <= '9') {
      digit = *p - '0';
    } else if (base == 16 && *p >= 'a' && *p <= 'f') {
      digit = *p - 'a' + 10;
    } else if (base == 16 && *p >= 'A' && *p <= 'F') {
      digit = *p - 'A' + 10;
    } else {
      return false;
    }
    value = value * base + digit;
  }
  out = negative ? -value : value;
  return true;
}

// One whole number within lo..hi filling [p, end).
bool number_within(const char* p, const char* end, int32_t lo, int32_t hi, int32_t& out) {
  return parse_number(p, end, 10, lo < 0, out) && out >= lo && out <= hi;
}

// Whether [p, end) is the word w.
bool is_word(const char* p, const char* end, const char* w) {
  const size_t n = strlen(w);
  return size_t(end - p) == n && memcmp(p, w, n) == 0;
}

bool same_letters(const char* a, const char* b) {
  for (; *a != '\0' && *b != '\0'; ++a, ++b) {
    if (tolower(static_cast<unsigned char>(*a)) != tolower(static_cast<unsigned char>(*b)))
      return false;
  }
  return *a == *b;
}

WebMessage parse_mix(const char* p, const char* end) {
  const char* space = static_cast<const char*>(memchr(p, ' ', size_t(end - p)));
  const char* second =
      space != nullptr ? static_cast<const char*>(memchr(space + 1, ' ', size_t(end - space - 1)))
                       : nullptr;
  WebMessage m;
  if (second == nullptr || !number_within(p, space, 1, track_count, m.track))
    return refused("mix wants a track 1..8, level, pan or feedback, and a value");
  const char* what = space + 1;
  if (is_word(what, second, "level")) {
    m.part = web_mix_level;
    if (!number_within(second + 1, end, web_mix_level_min, 0, m.value))
      return refused("level must be -96..0");
  } else if (is_word(what, second, "pan")) {
    m.part = web_mix_pan;
    if (!number_within(second + 1, end, -web_mix_pan_limit, web_mix_pan_limit, m.value))
      return refused("pan must be -127..127");
  } else if (is_word(what, second, "feedback")) {
    m.part = web_mix_feedback;
    if (!number_within(second + 1, end, 0, web_mix_feedback_max, m.value))
      return refused("feedback must be 0..100");
  } else {
    return refused("mix sets level, pan or feedback");
  }
  m.action = WebAction::mix;
  return m;
}

WebMessage parse_learn(const char* p, const char* end) {
  WebMessage m;
  const size_t n = size_t(end - p);
  if (n == 0 || n > size_t(command_text_max)) return refused("learn wants a function's name");
  memcpy(m.text, p, n);
  m.text[n] = '\0';
  for (int id = 1; id < controller_function_count; ++id) {
    const FunctionEntry* row = controller_function(id);
    if (row != nullptr && same_letters(row->name, m.text)) {
      m.part = web_learn_controller;
      m.value = id;
      m.action = WebAction::learn;
      return m;
    }
  }
  m.value = function_row_named(m.text);
  if (m.value < 0) return refused("no such function to learn");
  m.part = web_learn_function;
  m.action = WebAction::learn;
  return m;
}

WebMessage parse_unmap(const char* p, const char* end) {
  WebMessage m;
  if (end - p > 3 && memcmp(p, "cc ", 3) == 0) {
    if (!number_within(p + 3, end, 0, web_controller_count - 1, m.value))
      return refused("controller must be 0..127");
    m.part = web_unmap_controller;
  } else if (!number_within(p, end, 0, web_list_count - 1, m.value)) {
    return refused("MIDI list must be 0..383");
  }
  m.action = WebAction::unmap;
  return m;
}

WebMessage parse_drums(const char* p, const char* end) {
  WebMessage m;
  if (end - p > 4 && memcmp(p, "bpm ", 4) == 0) {
    if (!number_within(p + 4, end, web_drum_bpm_min, web_drum_bpm_max, m.value))
      return refused("drum tempo must be 60..200 BPM");
    m.part = web_drums_bpm;
  } else if (end - p > 8 && memcmp(p, "pattern ", 8) == 0) {
    if (!number_within(p + 8, end, 1, web_drum_pattern_max, m.value))
      return refused("drum pattern must be 1..64");
    m.part = web_drums_pattern;
  } else {
    return refused("drums sets bpm or pattern");
  }
  m.action = WebAction::drums;
  return m;
}

}  // namespace

bool web_key_known(int32_t code) {
  for (int32_t k : panel_keys) {
    if (k == code) return true;
  }
  for (int32_t k : track_keys) {
    if (k == code || (k | key_second_action) == code) return true;
  }
  return false;
}

WebMessage web_message_parse(const char* data, size_t length) {
  if (data == nullptr || length == 0) return refused("empty message");
  if (length > size_t(web_message_max)) return refused("message too long");
  for (size_t i = 0; i < length; ++i) {
    const unsigned char c = static_cast<unsigned char>(data[i]);
    if (c < 0x20 || c > 0x7E) return refused("message is not printable text");
  }
  const char* end = data + length;
  const char* space = static_cast<const char*>(memchr(data, ' ', length));
  if (space == nullptr) return refused("unknown message");
  const size_t word = size_t(space - data);
  const char* rest = space + 1;
  WebMessage m;
  if (word == 2 && memcmp(data, "fn", 2) == 0) {
    const size_t n = size_t(end - rest);
    if (n == 0) return refused("no function named");
    if (n > size_t(command_text_max)) return refused("function name too long");
    memcpy(m.text, rest, n);
    m.text[n] = '\0';
    if (resolve_text_command(m.text).row < 0) return refused("no such function");
    m.action = WebAction::function;
    return m;
  }
  if (word == 3 && memcmp(data, "key", 3) == 0) {
    if (!parse_number(rest, end, 16, false, m.value) || !web_key_known(m.value))
      return refused("no such key");
    m.action = WebAction::key;
    return m;
  }
  if (word == 3 && memcmp(data, "enc", 3) == 0) {
    if (!parse_number(rest, end, 10, true, m.value) || m.value == 0 ||
        m.value > web_encoder_step_max || m.value < -web_encoder_step_max)
      return refused("encoder steps must be -16..16, not 0");
    m.action = WebAction::encoder;
    return m;
  }
  if (is_word(data, space, "item")) {
    if (!number_within(rest, end, 0, web_menu_item_max, m.value))
      return refused("menu item must be 0..99");
    m.action = WebAction::item;
    return m;
  }
  if (is_word(data, space, "value")) {
    if (!number_within(rest, end, -web_entry_limit, web_entry_limit, m.value))
      return refused("value must be a whole number -99999..99999");
    m.action = WebAction::entry;
    return m;
  }
  if (is_word(data, space, "mix")) return parse_mix(rest, end);
  if (is_word(data, space, "learn")) return parse_learn(rest, end);
  if (is_word(data, space, "unmap")) return parse_unmap(rest, end);
  if (is_word(data, space, "drums")) return parse_drums(rest, end);
  return refused("unknown message");
}
