// The OSC address space: what one received message asks for, checked before anything happens.
// A message with an unknown address, a wrong type or a value out of range is refused with a reason
// and changes nothing. Pure; any thread (the OSC thread, the fuzz target, tests).
#pragma once

#include <lo/lo.h>

#include <cstdint>

#include "panel/command_queue.h"

constexpr int osc_level_min = -96;       // dB; 0 is full level
constexpr int osc_pan_scale = 127;       // pan -1..1 is the panel's -127..127
constexpr int osc_feedback_scale = 100;  // feedback 0..1 is 0..100 percent
constexpr int osc_token_max = 64;        // longest token text read from a hello

enum class OscAction {
  none,      // refused: error says why
  hello,     // text: the token offered
  function,  // text: the text command to queue
  key,       // value: a front-panel scan code
  encoder,   // value: steps, -16..16, not 0
  level,     // track 1..8, value: dB 0..-96
  pan,       // track 1..8, value: -127..127
  feedback,  // track 1..8, value: percent 0..100
  status,
  subscribe,    // value: the port to send to, 0: the sender's own
  unsubscribe,  // value: the port, 0: the sender's own
};

struct OscRequest {
  OscAction action = OscAction::none;
  int track = 0;
  int32_t value = 0;
  char text[(command_text_max > osc_token_max ? command_text_max : osc_token_max) + 1] = {};
  const char* error = nullptr;
};

// Reads one message: its address, type tags and arguments as liblo parsed them. Numbers may be
// sent as int32, float, double or int64; where a whole number is wanted, a float must be one.
OscRequest osc_parse_request(const char* path, const char* types, lo_arg** argv, int argc);
