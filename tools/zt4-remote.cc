// zt4-remote: drives and watches the looper from a shell over its UDP control port. Sends
// functions by name, lists them, prints or watches the status, follows the log, and reads or
// sets the MIDI mapping. A standalone client: it starts none of the looper's threads.
#include <getopt.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "net/network_thread.h"
#include "net/sysex_codec.h"
#include "tools/remote_functions.h"
#include "tools/remote_link.h"
#include "tools/remote_status.h"
#include "tools/remote_takes.h"

namespace {

constexpr int command_text_limit = 62;  // longer command texts are dropped by the looper
constexpr int list_ids = 8;
constexpr int follow_interval_ms = 250;
constexpr int port_max = 65535;

const char* const usage_text =
    "usage: zt4-remote [OPTION]... COMMAND [ARGUMENTS]\n"
    "\n"
    "Drives the looper over its UDP control port. Every command first checks that the looper\n"
    "answers; without an answer within the time-out it prints an error and exits with status 1.\n"
    "Usage errors, unknown functions and unknown ids exit with status 2.\n"
    "\n"
    "Options:\n"
    "  -H, --host ADDRESS    the looper's address (default 127.0.0.1)\n"
    "  -p, --port PORT       its UDP port (default: $ZT4_PORT, else 5667)\n"
    "  -t, --timeout SECONDS how long to wait for an answer (default 1)\n"
    "      --raw             send the words after the options, joined by blanks, as the\n"
    "                        function text exactly as written, unchecked (the looper runs the\n"
    "                        first function whose name begins the text, or nothing)\n"
    "  -h, --help            print this text\n"
    "\n"
    "Commands:\n"
    "  FUNCTION [NUMBER]     run a function of the looper, as a mapped button would: \"Rec/Dub\",\n"
    "                        \"Play/Stop\", \"Select Track 3\". The whole name, in any letter\n"
    "                        case; a whole number in the function's range replaces its own\n"
    "                        value. Anything else is refused (status 2) with the closest names\n"
    "                        or the numbers the function takes. A number given as a word of its\n"
    "                        own goes with the name before it: 'Track Level' -5 sets -5 dB,\n"
    "                        'Track Level -5' (one word, a function's name) steps 5 dB down.\n"
    "  run TEXT...           the same, for a function whose name is one of these commands\n"
    "  functions             list every function: id, name and the number it takes\n"
    "  status                print the eight tracks as a table: track (* marks the selected\n"
    "                        one), state, loop length and position in seconds, level, pan\n"
    "                        and feedback\n"
    "  watch                 the same table redrawn ten times a second, with each track's\n"
    "                        position in its loop as a bar, until Ctrl-C\n"
    "  log                   print what the looper has logged since the last log request\n"
    "  follow                print the log as it grows, until interrupted (Ctrl-C)\n"
    "  id                    print the looper's version\n"
    "  key CHARACTER         press a console key: m prints the MIDI statistics, s the looper\n"
    "                        statistics (read them with log)\n"
    "  map get KIND N        print the function ids that a MIDI message runs, in order;\n"
    "                        KIND is program, cc or note and N is 0-127\n"
    "  map set KIND N ID...  store up to eight function ids (see functions) for that message;\n"
    "                        the list ends after the last id given. Prints the stored list.\n"
    "  map clear KIND N      empty that message's list\n"
    "  sessions              list the sessions of archived takes\n"
    "  takes SESSION         list a session's takes: track and take numbers\n"
    "  take load SESSION TRACK TAKE DEST\n"
    "                        load a take into track DEST (1-8), printing the percentage\n"
    "                        loaded until it is complete; exits with status 1 when it fails\n"
    "  take delete SESSION TRACK TAKE\n"
    "                        delete one take\n"
    "  session delete SESSION\n"
    "                        delete a session and all of its takes\n"
    "  latency               print the latency figures in use: what JACK reports for the\n"
    "                        capture and playback, the measured extra, and whether the\n"
    "                        input is moved back by their sum (compensation)\n"
    "  latency measure       with a cable from OUTL to INL, measure the round trip (the\n"
    "                        looper plays a short noise on OUTL); prints it, and keeps the\n"
    "                        extra for the next start. Exit status 1 when nothing is found\n"
    "\n"
    "Numbers the functions take (functions lists them all):\n"
    "  Track Level N         0 (full) down to -96 dB\n"
    "  Track Level +5 / -5   steps of 5 dB within 0 to -96\n"
    "  Feedback 100% N       0 to 100 percent\n"
    "  Pan Center N          -127 (left) to 127 (right)\n"
    "  Select Track 1 N      track 1 to 8, 0 all tracks\n"
    "  Quant Value 1 N       1 to 64 quantise steps\n"
    "  Use Preset (0) N      preset 0 to 10\n";

// zt4-remote's own commands, offered beside the function names when a name is unknown.
const std::vector<std::string> command_words = {
    "functions", "status", "watch",    "log",   "follow", "id",      "key",
    "map",       "run",    "sessions", "takes", "take",   "session", "latency"};

// How long a measurement may take: the burst and its window are half a second, the search a
// moment more, on a slow machine several.
constexpr double measure_timeout_s = 10.0;

bool parse_number(const char* s, long low, long high, long& out) {
  char* end = nullptr;
  errno = 0;
  out = strtol(s, &end, 10);
  return end != s && *end == '\0' && errno == 0 && out >= low && out <= high;
}

int cmd_id(const Remote& r) {
  std::string id;
  if (!query_id(r, id)) return no_answer(r);
  printf("%s\n", id.c_str());
  return 0;
}

int send_function_text(const Remote& r, const std::string& text) {
  if (text.size() > size_t(command_text_limit)) {
    fprintf(stderr, "zt4-remote: a function text has at most %d characters\n", command_text_limit);
    return exit_usage;
  }
  std::string id;
  if (!query_id(r, id)) return no_answer(r);
  send_text(r, "<command>" + text + "</command>");
  return 0;
}

int cmd_function(const Remote& r, const std::vector<std::string>& words) {
  FunctionCall call;
  if (!parse_function_call(words, command_words, call, stderr)) return exit_usage;
  return send_function_text(r, function_call_text(call));
}

int cmd_key(const Remote& r, const std::string& key) {
  if (key.size() != 1) {
    fprintf(stderr, "zt4-remote: key takes one character\n");
    return exit_usage;
  }
  std::string id;
  if (!query_id(r, id)) return no_answer(r);
  send_text(r, "<userinput>" + key);
  return 0;
}

// One log request: what the looper logged since the last one; false on time-out.
bool fetch_log_text(const Remote& r, std::string& text) {
  send_text(r, "<query>log");
  std::vector<uint8_t> reply;
  if (!receive(r, bytes_of("<log>"), reply)) return false;
  const std::string s(reply.begin(), reply.end());
  const size_t close = s.rfind("</log>");
  const size_t end = close == std::string::npos ? s.size() : close;
  text = s.substr(5, end - 5);
  return true;
}

// One log request; prints what came and returns the number of characters, or -1 on time-out.
int fetch_log(const Remote& r) {
  std::string text;
  if (!fetch_log_text(r, text)) return -1;
  fwrite(text.data(), 1, text.size(), stdout);
  fflush(stdout);
  return int(text.size());
}

int cmd_log(const Remote& r, bool follow) {
  for (;;) {
    const int n = fetch_log(r);
    if (n < 0) return no_answer(r);
    if (n > 0) continue;  // a reply carries at most 500 characters: drain
    if (!follow) return 0;
    usleep(follow_interval_ms * 1000);
  }
}

// The function list of a MIDI message: program p is list p, controller c list 128 + c, note n
// list 256 + n.
bool list_index(const char* kind, const char* number, int& index) {
  long n;
  if (!parse_number(number, 0, 127, n)) return false;
  if (strcmp(kind, "program") == 0)
    index = int(n);
  else if (strcmp(kind, "cc") == 0)
    index = 128 + int(n);
  else if (strcmp(kind, "note") == 0)
    index = 256 + int(n);
  else
    return false;
  return true;
}

std::vector<uint8_t> host_message(uint8_t command, const std::vector<uint8_t>& payload) {
  std::vector<uint8_t> m(host_sysex_header, host_sysex_header + host_sysex_header_length);
  m.push_back(command);
  m.insert(m.end(), payload.begin(), payload.end());
  m.push_back(sysex_end);
  return m;
}

int print_list(const Remote& r, int index, const char* kind, const char* number) {
  uint8_t at[2];
  put_14bit(at, index);
  send_bytes(r, host_message(14, {at[0], at[1], 1}));
  std::vector<uint8_t> prefix(host_sysex_header, host_sysex_header + host_sysex_header_length);
  prefix.push_back(15);
  prefix.insert(prefix.end(), {at[0], at[1]});
  std::vector<uint8_t> reply;
  if (!receive(r, prefix, reply)) return no_answer(r);
  if (reply.size() < size_t(8 + 2 * list_ids)) {
    fprintf(stderr, "zt4-remote: short function list reply\n");
    return exit_no_answer;
  }
  printf("%s %s:", kind, number);
  int shown = 0;
  for (int i = 0; i < list_ids; ++i) {
    const int16_t id = get_function_id(reply.data() + 8 + 2 * i);
    if (id < 0) break;
    printf(" %d", id);
    ++shown;
  }
  printf(shown == 0 ? " (empty)\n" : "\n");
  return 0;
}

int cmd_map(const Remote& r, int argc, char** argv) {
  if (argc < 3) {
    fprintf(stderr, "zt4-remote: map get|set|clear KIND N [ID...]\n");
    return exit_usage;
  }
  const std::string verb = argv[0];
  int index;
  if (!list_index(argv[1], argv[2], index)) {
    fprintf(stderr, "zt4-remote: KIND is program, cc or note and N is 0-127\n");
    return exit_usage;
  }
  if (verb == "get") return print_list(r, index, argv[1], argv[2]);
  if (verb != "set" && verb != "clear") {
    fprintf(stderr, "zt4-remote: map get, map set or map clear\n");
    return exit_usage;
  }
  const int ids = argc - 3;
  if ((verb == "set" && (ids < 1 || ids > list_ids)) || (verb == "clear" && ids != 0)) {
    fprintf(stderr, "zt4-remote: map set takes one to eight ids, map clear none\n");
    return exit_usage;
  }
  std::vector<uint8_t> payload(2 + 2 * list_ids);
  put_14bit(payload.data(), index);
  for (int i = 0; i < list_ids; ++i) {
    long id = -1;
    if (i < ids && (!parse_number(argv[3 + i], 0, fourteen_bit_none - 1, id) ||
                    !function_id_exists(int32_t(id)))) {
      fprintf(stderr, "zt4-remote: no function has the id '%s'; zt4-remote functions lists them\n",
              argv[3 + i]);
      return exit_usage;
    }
    put_14bit(payload.data() + 2 + 2 * i, int32_t(id));
  }
  std::string version;
  if (!query_id(r, version)) return no_answer(r);
  send_bytes(r, host_message(16, payload));
  return print_list(r, index, argv[1], argv[2]);
}

// The looper's port: ZT4_PORT when set, else the default. False when ZT4_PORT is not a port.
bool port_from_environment(Remote& r) {
  r.port = remote_udp_port;
  const char* text = getenv("ZT4_PORT");
  if (text == nullptr || *text == '\0') return true;
  long port;
  if (!parse_number(text, 1, port_max, port)) {
    fprintf(stderr, "zt4-remote: ZT4_PORT is a port number from 1 to %d, not '%s'\n", port_max,
            text);
    return false;
  }
  r.port = int(port);
  return true;
}

int cmd_latency(const Remote& r) {
  send_text(r, "<query>latency");
  std::vector<uint8_t> reply;
  if (!receive(r, bytes_of("<latency>"), reply)) return no_answer(r);
  std::string s(reply.begin(), reply.end());
  const size_t close = s.find("</latency>");
  s = s.substr(9, close == std::string::npos ? std::string::npos : close - 9);
  printf("%s\n", s.c_str());
  return 0;
}

// Runs "Measure Latency" and prints the looper's lines about it from its log: the measured round
// trip and the figures now in use, or why nothing changed.
int cmd_latency_measure(const Remote& r) {
  std::string id;
  if (!query_id(r, id)) return no_answer(r);
  for (std::string old; fetch_log_text(r, old) && !old.empty();) {
  }  // what was logged before is not this measurement's
  send_text(r, "<command>Measure Latency</command>");
  std::string log;
  const double deadline = now_s() + measure_timeout_s;
  for (size_t shown = 0; now_s() < deadline;) {
    std::string more;
    if (fetch_log_text(r, more)) log += more;
    for (size_t end; (end = log.find('\n', shown)) != std::string::npos; shown = end + 1) {
      const std::string line = log.substr(shown, end - shown);
      if (line.rfind("Latency", 0) != 0) continue;
      printf("%s\n", line.c_str());
      if (line.rfind("Latency: ", 0) == 0) return 0;  // the figures in use close a measurement
      if (line.rfind("Latency measurement failed", 0) == 0 ||
          line.rfind("Latency measurement refused", 0) == 0)
        return exit_no_answer;
    }
    usleep(follow_interval_ms * 1000);
  }
  fprintf(stderr, "zt4-remote: the looper did not finish the measurement\n");
  return exit_no_answer;
}

}  // namespace

int main(int argc, char** argv) {
  Remote r;
  if (!port_from_environment(r)) return exit_usage;
  static const option long_options[] = {
      {"help", no_argument, nullptr, 'h'},       {"host", required_argument, nullptr, 'H'},
      {"port", required_argument, nullptr, 'p'}, {"timeout", required_argument, nullptr, 't'},
      {"raw", no_argument, nullptr, 'r'},        {nullptr, 0, nullptr, 0},
  };
  bool raw = false;
  opterr = 0;
  // Options end at the command: what follows it ("Track Level" -5) is the command's own.
  for (int c; (c = getopt_long(argc, argv, "+:hH:p:t:", long_options, nullptr)) != -1;) {
    long port;
    switch (c) {
      case 'h': fputs(usage_text, stdout); return 0;
      case 'H': r.host = optarg; break;
      case 'p':
        if (!parse_number(optarg, 1, port_max, port)) {
          fprintf(stderr, "zt4-remote: the port is a number from 1 to %d, not '%s'\n", port_max,
                  optarg);
          return exit_usage;
        }
        r.port = int(port);
        break;
      case 'r': raw = true; break;
      case 't':
        r.timeout_s = atof(optarg);
        if (r.timeout_s <= 0) r.timeout_s = default_timeout_s;
        break;
      case ':':
        fprintf(stderr,
                "zt4-remote: option '%s' needs a value; zt4-remote --help lists the options\n",
                argv[optind - 1]);
        return exit_usage;
      default:
        fprintf(stderr, "zt4-remote: unknown option '%s'; zt4-remote --help lists the options\n",
                argv[optind - 1]);
        return exit_usage;
    }
  }
  if (optind >= argc) {
    fputs(usage_text, stderr);
    return exit_usage;
  }

  std::vector<std::string> words(argv + optind, argv + argc);
  if (raw) {
    std::string text;
    for (const std::string& w : words) text += (text.empty() ? "" : " ") + w;
    if (!open_remote(r)) return exit_no_answer;
    return send_function_text(r, text);
  }
  const std::string command = words[0];
  const int rest = argc - optind - 1;
  char** args = argv + optind + 1;
  if (command == "functions" && rest == 0) {
    print_functions(stdout);
    return 0;
  }
  if (command == "run") {
    if (rest == 0) {
      fputs(usage_text, stderr);
      return exit_usage;
    }
    words.erase(words.begin());
  }
  // A misspelt function is refused before anything is sent.
  FunctionCall call;
  const bool own_command = command != "run" && std::find(command_words.begin(), command_words.end(),
                                                         command) != command_words.end();
  if (!own_command && !parse_function_call(words, command_words, call, stderr)) return exit_usage;
  if (!open_remote(r)) return exit_no_answer;
  if (!own_command) return send_function_text(r, function_call_text(call));
  if (command == "status" && rest == 0) return cmd_status(r);
  if (command == "watch" && rest == 0) return cmd_watch(r);
  if (command == "log" && rest == 0) return cmd_log(r, false);
  if (command == "follow" && rest == 0) return cmd_log(r, true);
  if (command == "id" && rest == 0) return cmd_id(r);
  if (command == "key" && rest == 1) return cmd_key(r, args[0]);
  if (command == "map") return cmd_map(r, rest, args);
  if (command == "sessions" && rest == 0) return cmd_sessions(r);
  if (command == "takes" && rest == 1) return cmd_takes(r, args[0]);
  if (command == "take" && rest == 5 && strcmp(args[0], "load") == 0)
    return cmd_take_load(r, args + 1);
  if (command == "take" && rest == 4 && strcmp(args[0], "delete") == 0)
    return cmd_take_delete(r, args + 1);
  if (command == "session" && rest == 2 && strcmp(args[0], "delete") == 0)
    return cmd_session_delete(r, args[1]);
  if (command == "latency" && rest == 0) return cmd_latency(r);
  if (command == "latency" && rest == 1 && strcmp(args[0], "measure") == 0)
    return cmd_latency_measure(r);
  return cmd_function(r, words);
}
