#include "osc/osc_request.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "panel/function_names.h"
#include "panel/function_numbers.h"
#include "panel/function_table.h"
#include "web/web_message.h"

namespace {

constexpr char track_prefix[] = "/zt4/track/";
constexpr int udp_port_max = 65535;

OscRequest refused(const char* why) {
  OscRequest r;
  r.error = why;
  return r;
}

// An argument's value. liblo's arguments lie on 4-byte boundaries inside the message, short of
// the union's own alignment, so they are copied out rather than read through it.
template <typename T>
T value_of(const lo_arg* arg) {
  T v;
  memcpy(&v, arg, sizeof v);
  return v;
}

// Argument i as a number; false when it is not one (or not a finite one).
bool number_at(const char* types, lo_arg** argv, int argc, int i, double& out) {
  if (i >= argc) return false;
  switch (types[i]) {
    case LO_INT32: out = value_of<int32_t>(argv[i]); break;
    case LO_FLOAT: out = value_of<float>(argv[i]); break;
    case LO_DOUBLE: out = value_of<double>(argv[i]); break;
    case LO_INT64: out = double(value_of<int64_t>(argv[i])); break;
    default: return false;
  }
  return std::isfinite(out);
}

// Argument i as a whole number within [low, high].
bool whole_at(const char* types, lo_arg** argv, int argc, int i, int64_t low, int64_t high,
              int32_t& out) {
  double v;
  if (!number_at(types, argv, argc, i, v) || v != std::floor(v) || v < double(low) ||
      v > double(high))
    return false;
  out = int32_t(v);
  return true;
}

bool is_string(const char* types, int argc, int i) {
  return i < argc && (types[i] == LO_STRING || types[i] == LO_SYMBOL);
}

// /zt4/fn and /zt4/fn/id: the row, then an optional number in the range its function takes.
OscRequest function_request(int row, const char* types, lo_arg** argv, int argc) {
  if (row < 0) return refused("no such function");
  if (argc > 2) return refused("a function takes at most one number");
  int32_t number = 0;
  const bool has_number = argc == 2;
  if (has_number) {
    const FunctionNumbers* n = function_numbers(function_table[row].handler);
    double v;
    if (!number_at(types, argv, argc, 1, v)) return refused("the number must be a number");
    if (n == nullptr || n->meaning == nullptr) return refused("this function takes no number");
    if (!whole_at(types, argv, argc, 1, n->low, n->high, number))
      return refused("the number is outside what this function takes");
  }
  OscRequest r;
  snprintf(r.text, sizeof r.text, "%s", function_call_text(row, has_number, number).c_str());
  r.action = OscAction::function;
  return r;
}

// /zt4/track/N/level, /pan, /feedback: one number.
OscRequest track_request(const char* rest, const char* types, lo_arg** argv, int argc) {
  if (rest[0] < '1' || rest[0] > '8' || rest[1] != '/') return refused("unknown address");
  OscRequest r;
  r.track = rest[0] - '0';
  const char* what = rest + 2;
  double v = 0;
  const bool one_number = argc == 1 && number_at(types, argv, argc, 0, v);
  if (strcmp(what, "level") == 0) {
    if (!one_number || v < osc_level_min || v > 0) return refused("level is 0 down to -96 (dB)");
    r.action = OscAction::level;
    r.value = int32_t(std::lround(v));
  } else if (strcmp(what, "pan") == 0) {
    if (!one_number || v < -1 || v > 1) return refused("pan is -1 (left) to 1 (right)");
    r.action = OscAction::pan;
    r.value = int32_t(std::lround(v * osc_pan_scale));
  } else if (strcmp(what, "feedback") == 0) {
    if (!one_number || v < 0 || v > 1) return refused("feedback is 0 to 1");
    r.action = OscAction::feedback;
    r.value = int32_t(std::lround(v * osc_feedback_scale));
  } else {
    return refused("unknown address");
  }
  return r;
}

// /zt4/subscribe and /zt4/unsubscribe: an optional port.
OscRequest port_request(OscAction action, const char* types, lo_arg** argv, int argc) {
  OscRequest r;
  if (argc > 1 || (argc == 1 && !whole_at(types, argv, argc, 0, 1, udp_port_max, r.value)))
    return refused("the port is a number from 1 to 65535, or none for the sender's own");
  r.action = action;
  return r;
}

}  // namespace

OscRequest osc_parse_request(const char* path, const char* types, lo_arg** argv, int argc) {
  if (path == nullptr || types == nullptr || argc < 0) return refused("unknown address");
  if (strcmp(path, "/zt4/fn") == 0) {
    if (argc < 1 || !is_string(types, argc, 0)) return refused("/zt4/fn takes a function name");
    const int row = function_row_named(reinterpret_cast<const char*>(argv[0]));
    return function_request(row, types, argv, argc);
  }
  if (strcmp(path, "/zt4/fn/id") == 0) {
    int32_t id;
    if (argc < 1 || !whole_at(types, argv, argc, 0, 0, INT32_MAX, id))
      return refused("/zt4/fn/id takes a function id");
    return function_request(function_row_of_id(id), types, argv, argc);
  }
  if (strncmp(path, track_prefix, sizeof track_prefix - 1) == 0)
    return track_request(path + sizeof track_prefix - 1, types, argv, argc);
  OscRequest r;
  if (strcmp(path, "/zt4/select") == 0) {
    int32_t n;
    if (argc != 1 || !whole_at(types, argv, argc, 0, 0, 8, n))
      return refused("select takes a track 1 to 8, or 0 for all tracks");
    const int row = function_row_named(n == 0 ? "All Tracks" : "Select Track " + std::to_string(n));
    return function_request(row, types, argv, 0);
  }
  if (strcmp(path, "/zt4/key") == 0) {
    if (argc != 1 || !whole_at(types, argv, argc, 0, 0, INT32_MAX, r.value) ||
        !web_key_known(r.value))
      return refused("no such key");
    r.action = OscAction::key;
    return r;
  }
  if (strcmp(path, "/zt4/enc") == 0) {
    if (argc != 1 ||
        !whole_at(types, argv, argc, 0, -web_encoder_step_max, web_encoder_step_max, r.value) ||
        r.value == 0)
      return refused("encoder steps are -16..16, not 0");
    r.action = OscAction::encoder;
    return r;
  }
  if (strcmp(path, "/zt4/status") == 0) {
    if (argc != 0) return refused("/zt4/status takes no arguments");
    r.action = OscAction::status;
    return r;
  }
  if (strcmp(path, "/zt4/subscribe") == 0)
    return port_request(OscAction::subscribe, types, argv, argc);
  if (strcmp(path, "/zt4/unsubscribe") == 0)
    return port_request(OscAction::unsubscribe, types, argv, argc);
  if (strcmp(path, "/zt4/hello") == 0) {
    if (argc != 1 || !is_string(types, argc, 0)) return refused("/zt4/hello takes the token");
    snprintf(r.text, sizeof r.text, "%s", reinterpret_cast<const char*>(argv[0]));
    r.action = OscAction::hello;
    return r;
  }
  return refused("unknown address");
}
