// The web panel's socket messages: what a browser may send, checked before anything happens. A
// message is one text frame of one of three forms:
//   fn NAME      run the function NAME from the function table (a text command)
//   key CODE     press the front-panel key with scan code CODE (hexadecimal, e.g. 0840)
//   enc STEPS    turn the encoder by STEPS (-16..16, not 0)
// Anything else is refused with a reason and changes nothing. Any thread.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr int web_message_max = 80;  // longest message accepted
constexpr int web_encoder_step_max = 16;

enum class WebAction { none, function, key, encoder };

struct WebMessage {
  WebAction action = WebAction::none;
  char text[web_message_max + 1] = {};  // function: the name as sent
  int32_t value = 0;                    // key: the scan code; encoder: the steps
  const char* error = nullptr;          // none: why the message was refused
};

// Parses and checks one message of `length` bytes (not NUL-terminated).
WebMessage web_message_parse(const char* data, size_t length);

// Whether code is one of the front panel's key scan codes.
bool web_key_known(int32_t code);
