// zt4-remote: drives and watches the looper from a shell over its UDP control port. Sends
// functions by name, prints the status as a table, follows the log, and reads or sets the MIDI
// mapping. A standalone client: it starts none of the looper's threads.
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "core/constants.h"
#include "net/sysex_codec.h"

namespace {

constexpr const char* default_host = "127.0.0.1";
constexpr const char* control_port = "5667";
constexpr double default_timeout_s = 1.0;
constexpr int max_datagram = 2048;
constexpr int command_text_limit = 62;  // longer command texts are dropped by the looper
constexpr int list_ids = 8;
constexpr int compact_words = 58;
constexpr int follow_interval_ms = 250;
constexpr int progress_interval_ms = 100;
constexpr int number_14bit_max = 16383;

constexpr int exit_no_answer = 1;
constexpr int exit_usage = 2;

const char* const usage_text =
    "usage: zt4-remote [--host ADDRESS] [--timeout SECONDS] COMMAND [ARGUMENTS]\n"
    "\n"
    "Drives the looper over UDP port 5667 of ADDRESS (default 127.0.0.1). Every command first\n"
    "checks that the looper answers; without an answer within the time-out (default 1 second)\n"
    "it prints an error and exits with status 1. Usage errors exit with status 2.\n"
    "\n"
    "Commands:\n"
    "  FUNCTION [NUMBER]     run a function of the looper's function table, as a mapped button\n"
    "                        would: \"Rec/Dub\", \"Play/Stop\", \"Select Track 3\". Names match\n"
    "                        from their beginning, ignoring letter case; a number replaces the\n"
    "                        function's own argument. At most 62 characters.\n"
    "  run TEXT...           the same, for a function whose name is one of these commands\n"
    "  status                print the eight tracks as a table: track (* marks the selected\n"
    "                        one), state, loop length and position in seconds, level, pan\n"
    "                        and feedback\n"
    "  log                   print what the looper has logged since the last log request\n"
    "  follow                print the log as it grows, until interrupted (Ctrl-C)\n"
    "  id                    print the looper's version\n"
    "  key CHARACTER         press a console key: m prints the MIDI statistics, s the looper\n"
    "                        statistics (read them with log)\n"
    "  map get KIND N        print the function ids that a MIDI message runs, in order;\n"
    "                        KIND is program, cc or note and N is 0-127\n"
    "  map set KIND N ID...  store up to eight function ids (0-16382) for that message; the\n"
    "                        list ends after the last id given. Prints the stored list.\n"
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
    "  --help                print this text\n";

struct Remote {
  int fd = -1;
  double timeout_s = default_timeout_s;
  std::string host = default_host;
};

double now_s() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

bool open_remote(Remote& r) {
  addrinfo hints = {};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_DGRAM;
  addrinfo* found = nullptr;
  const int rc = getaddrinfo(r.host.c_str(), control_port, &hints, &found);
  if (rc != 0 || found == nullptr) {
    fprintf(stderr, "zt4-remote: cannot resolve %s: %s\n", r.host.c_str(), gai_strerror(rc));
    return false;
  }
  r.fd = socket(AF_INET, SOCK_DGRAM, 0);
  // Connected, so that only the looper's datagrams are received.
  const bool ok = r.fd >= 0 && connect(r.fd, found->ai_addr, found->ai_addrlen) == 0;
  freeaddrinfo(found);
  if (!ok) perror("zt4-remote: socket");
  return ok;
}

void send_bytes(const Remote& r, const std::vector<uint8_t>& bytes) {
  if (send(r.fd, bytes.data(), bytes.size(), 0) < 0) perror("zt4-remote: send");
}

void send_text(const Remote& r, const std::string& text) {
  send_bytes(r, std::vector<uint8_t>(text.begin(), text.end()));
}

// Waits for a datagram that begins with prefix; other traffic (the looper also reports MIDI
// input and pad lights to its last peer) is skipped. False after the time-out.
bool receive(const Remote& r, const std::vector<uint8_t>& prefix, std::vector<uint8_t>& out) {
  const double deadline = now_s() + r.timeout_s;
  for (;;) {
    const double left = deadline - now_s();
    if (left <= 0) return false;
    pollfd p = {r.fd, POLLIN, 0};
    if (poll(&p, 1, int(left * 1000) + 1) <= 0) continue;
    uint8_t buffer[max_datagram];
    const ssize_t n = recv(r.fd, buffer, sizeof buffer, 0);
    if (n < 0) continue;  // a refused earlier datagram reports here; keep waiting
    if (size_t(n) >= prefix.size() && memcmp(buffer, prefix.data(), prefix.size()) == 0) {
      out.assign(buffer, buffer + n);
      return true;
    }
  }
}

std::vector<uint8_t> bytes_of(const char* text) {
  return std::vector<uint8_t>(text, text + strlen(text));
}

int no_answer(const Remote& r) {
  fprintf(stderr, "zt4-remote: no answer from the looper at %s port %s within %g s\n",
          r.host.c_str(), control_port, r.timeout_s);
  return exit_no_answer;
}

// Asks for the version; the looper's answer proves it is there.
bool query_id(const Remote& r, std::string& id) {
  send_text(r, "<query>id");
  std::vector<uint8_t> reply;
  if (!receive(r, bytes_of("<id>"), reply)) return false;
  id.assign(reply.begin(), reply.end());
  if (!id.empty() && id.back() == '\0') id.pop_back();
  const size_t open = id.find('>'), close = id.rfind("</id>");
  if (open != std::string::npos && close != std::string::npos && close > open) {
    id = id.substr(open + 1, close - open - 1);
  }
  return true;
}

int cmd_id(const Remote& r) {
  std::string id;
  if (!query_id(r, id)) return no_answer(r);
  printf("%s\n", id.c_str());
  return 0;
}

int cmd_function(const Remote& r, const std::string& text) {
  if (text.size() > size_t(command_text_limit)) {
    fprintf(stderr, "zt4-remote: a function text has at most %d characters\n", command_text_limit);
    return exit_usage;
  }
  std::string id;
  if (!query_id(r, id)) return no_answer(r);
  send_text(r, "<command>" + text + "</command>");
  return 0;
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

uint32_t be32(const uint8_t* p) {
  return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]);
}

const char* state_name(uint32_t code) {
  switch (code) {
    case 1:
      return "recording";
    case 2:
      return "overdubbing";
    case 3:
      return "stopped";
    case 4:
      return "playing";
    case 5:
      return "replacing";
    default:
      return "empty";
  }
}

int cmd_status(const Remote& r) {
  send_text(r, "<query>status compact");
  std::vector<uint8_t> reply;
  const uint8_t head[] = {0x00, 0x00, 0xBB, 0x80};  // 48000 frames per second
  if (!receive(r, std::vector<uint8_t>(head, head + 4), reply)) return no_answer(r);
  if (reply.size() != size_t(compact_words * 4)) {
    fprintf(stderr, "zt4-remote: status of %zu bytes, expected %d\n", reply.size(),
            compact_words * 4);
    return exit_no_answer;
  }
  uint32_t w[compact_words];
  for (int i = 0; i < compact_words; ++i) w[i] = be32(reply.data() + 4 * i);
  const double rate = double(w[0]);
  printf("%-6s %-12s %10s %10s %6s %5s %9s\n", "Track", "State", "Length", "Position", "Level",
         "Pan", "Feedback");
  for (int t = 0; t < track_count; ++t) {
    const bool selected = w[50 + t] != 0;
    printf("%c%-5d %-12s %10.3f %10.3f %6d %5d %9d\n", selected ? '*' : ' ', t + 1,
           state_name(w[2 + t]), double(int32_t(w[10 + t])) / rate,
           double(int32_t(w[18 + t])) / rate, int32_t(w[26 + t]), int32_t(w[34 + t]),
           int32_t(w[42 + t]));
  }
  return 0;
}

// One log request; prints what came and returns the number of characters, or -1 on time-out.
int fetch_log(const Remote& r) {
  send_text(r, "<query>log");
  std::vector<uint8_t> reply;
  if (!receive(r, bytes_of("<log>"), reply)) return -1;
  const std::string s(reply.begin(), reply.end());
  const size_t close = s.rfind("</log>");
  const size_t end = close == std::string::npos ? s.size() : close;
  const std::string text = s.substr(5, end - 5);
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

bool parse_number(const char* s, long low, long high, long& out) {
  char* end = nullptr;
  out = strtol(s, &end, 10);
  return end != s && *end == '\0' && out >= low && out <= high;
}

// The function list of a MIDI message: program p is list p, controller c list 128 + c, note n
// list 256 + n.
bool list_index(const char* kind, const char* number, int& index) {
  long n;
  if (!parse_number(number, 0, 127, n)) return false;
  if (strcmp(kind, "program") == 0) index = int(n);
  else if (strcmp(kind, "cc") == 0) index = 128 + int(n);
  else if (strcmp(kind, "note") == 0) index = 256 + int(n);
  else return false;
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
    if (i < ids && !parse_number(argv[3 + i], 0, fourteen_bit_none - 1, id)) {
      fprintf(stderr, "zt4-remote: function id %s is not 0-16382\n", argv[3 + i]);
      return exit_usage;
    }
    put_14bit(payload.data() + 2 + 2 * i, int32_t(id));
  }
  std::string version;
  if (!query_id(r, version)) return no_answer(r);
  send_bytes(r, host_message(16, payload));
  return print_list(r, index, argv[1], argv[2]);
}

std::vector<uint8_t> reply_prefix(uint8_t code) {
  std::vector<uint8_t> prefix(host_sysex_header, host_sysex_header + host_sysex_header_length);
  prefix.push_back(code);
  return prefix;
}

// Numbers of a take or session command, each 0-16383 (a destination track 1-8).
bool parse_numbers(int argc, char** argv, long* out, bool last_is_track) {
  for (int i = 0; i < argc; ++i) {
    const bool track = last_is_track && i == argc - 1;
    if (!parse_number(argv[i], track ? 1 : 0, track ? track_count : number_14bit_max, out[i])) {
      fprintf(stderr, "zt4-remote: %s is not %s\n", argv[i], track ? "a track 1-8" : "0-16383");
      return false;
    }
  }
  return true;
}

void put_numbers(std::vector<uint8_t>& payload, long session, long track, long take) {
  uint8_t n[2];
  put_14bit(n, int32_t(session));
  payload.insert(payload.end(), n, n + 2);
  payload.push_back(uint8_t(track));
  put_14bit(n, int32_t(take));
  payload.insert(payload.end(), n, n + 2);
}

int cmd_sessions(const Remote& r) {
  std::string version;
  if (!query_id(r, version)) return no_answer(r);
  send_bytes(r, host_message(31, {}));
  std::vector<uint8_t> reply;
  if (!receive(r, reply_prefix(32), reply)) {
    printf("(no sessions)\n");  // the looper does not answer an empty listing
    return 0;
  }
  for (size_t i = 5; i + 2 < reply.size(); i += 2) printf("session %d\n", get_14bit(&reply[i]));
  return 0;
}

int cmd_takes(const Remote& r, char* session_text) {
  long session;
  if (!parse_numbers(1, &session_text, &session, false)) return exit_usage;
  uint8_t at[2];
  put_14bit(at, int32_t(session));
  send_bytes(r, host_message(33, {at[0], at[1]}));
  std::vector<uint8_t> reply;
  if (!receive(r, reply_prefix(34), reply)) return no_answer(r);
  if (reply.size() <= 6) printf("(no takes)\n");
  for (size_t i = 5; i + 4 < reply.size(); i += 4)
    printf("track %d take %d\n", get_14bit(&reply[i]), get_14bit(&reply[i + 2]));
  return 0;
}

const char* load_failure(int status) {
  switch (status) {
    case 1: return "no such take";
    case 2: return "short file or read error";
    case 5: return "no free audio block";
    case 6: return "the track records, overdubs or replaces";
    default: return "refused";
  }
}

// Loads a take and prints the load's percentage on one line until the looper reports the end.
int cmd_take_load(const Remote& r, char** args) {
  long n[4];
  if (!parse_numbers(4, args, n, true)) return exit_usage;
  std::string version;
  if (!query_id(r, version)) return no_answer(r);
  std::vector<uint8_t> payload;
  put_numbers(payload, n[0], n[1], n[2]);
  payload.push_back(uint8_t(n[3]));
  send_bytes(r, host_message(35, payload));
  int shown = -1;
  for (;;) {
    send_bytes(r, host_message(39, {}));
    std::vector<uint8_t> reply;
    if (!receive(r, reply_prefix(40), reply) || reply.size() < 9) return no_answer(r);
    const bool busy = reply[5] != 0;
    const int percent = reply[6], status = reply[7];
    if (!busy && status != 0) {
      printf("%sTake load failed: %s\n", shown >= 0 ? "\n" : "", load_failure(status));
      return exit_no_answer;
    }
    if (percent != shown) {
      printf("\rLoaded %d%%", percent);
      fflush(stdout);
      shown = percent;
    }
    if (!busy) break;
    usleep(progress_interval_ms * 1000);
  }
  printf("\n");
  return 0;
}

int cmd_take_delete(const Remote& r, char** args) {
  long n[3];
  if (!parse_numbers(3, args, n, false)) return exit_usage;
  std::string version;
  if (!query_id(r, version)) return no_answer(r);
  std::vector<uint8_t> payload;
  put_numbers(payload, n[0], n[1], n[2]);
  payload.push_back(0);
  send_bytes(r, host_message(36, payload));
  return 0;
}

int cmd_session_delete(const Remote& r, char* session_text) {
  long session;
  if (!parse_numbers(1, &session_text, &session, false)) return exit_usage;
  std::string version;
  if (!query_id(r, version)) return no_answer(r);
  uint8_t at[2];
  put_14bit(at, int32_t(session));
  send_bytes(r, host_message(37, {at[0], at[1], 0}));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  Remote r;
  int i = 1;
  for (; i < argc && argv[i][0] == '-' && argv[i][1] == '-'; ++i) {
    const std::string option = argv[i];
    if (option == "--help") {
      fputs(usage_text, stdout);
      return 0;
    }
    if (i + 1 >= argc) {
      fputs(usage_text, stderr);
      return exit_usage;
    }
    if (option == "--host") {
      r.host = argv[++i];
    } else if (option == "--timeout") {
      r.timeout_s = atof(argv[++i]);
      if (r.timeout_s <= 0) r.timeout_s = default_timeout_s;
    } else {
      fputs(usage_text, stderr);
      return exit_usage;
    }
  }
  if (i >= argc) {
    fputs(usage_text, stderr);
    return exit_usage;
  }
  if (!open_remote(r)) return exit_no_answer;

  const std::string command = argv[i];
  const int rest = argc - i - 1;
  char** args = argv + i + 1;
  if (command == "status" && rest == 0) return cmd_status(r);
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
  int first = i;
  if (command == "run") {
    if (rest == 0) {
      fputs(usage_text, stderr);
      return exit_usage;
    }
    first = i + 1;
  }
  std::string text;
  for (int k = first; k < argc; ++k) text += (k > first ? " " : "") + std::string(argv[k]);
  return cmd_function(r, text);
}
