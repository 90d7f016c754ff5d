#include "web/web_message.h"

#include <cstring>

#include "panel/command_queue.h"
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
  return refused("unknown message");
}
