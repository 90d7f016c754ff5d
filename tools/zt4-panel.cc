// zt4-panel: the looper's front panel in a terminal. Draws the two 16-character display lines
// and turns computer keys into the panel's keys, encoder steps and track keys, through the
// looper's panel socket (".zt4.panel" in its data directory). Scripted: "show" prints the two
// lines, "press KEY..." presses keys by name and then prints them. A standalone client: it
// starts none of the looper's threads.
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "host/panel_link.h"
#include "panel/display.h"
#include "panel/input.h"

namespace {

constexpr double answer_timeout_s = 1.0;
constexpr int send_timeout_s = 2;  // a full socket queue waits this long for the looper
constexpr int answer_attempts = 3;
constexpr int resubscribe_ms = 2000;  // also notices a looper that was restarted
constexpr int exit_no_answer = 1;
constexpr int exit_usage = 2;
constexpr uint8_t escape = 0x1B;
constexpr uint8_t delete_key = 0x7F;
constexpr uint8_t backspace_key = 0x08;
constexpr uint8_t ctrl_c = 0x03;

const char* const usage_text =
    "usage: zt4-panel [--dir DIR | --socket PATH] [--panel-version N] [show | press KEY...]\n"
    "\n"
    "The looper's front panel in a terminal, through the panel socket .zt4.panel in the looper's\n"
    "data directory: DIR, else $ZT4_DATA, else the current directory when a looper runs there,\n"
    "else ~/zt4-data (scripts/run's default).\n"
    "\n"
    "  (no command)     draw the display and play the panel from the keyboard; the key map\n"
    "                   is shown under the display. q or Ctrl-C quits.\n"
    "  show             print the two display lines and exit\n"
    "  press KEY...     press keys in order, then print the two display lines. KEY is one of\n"
    "                   track1..track8, group1..group8 (a track key's second action: the\n"
    "                   temporary group), all, drums, select, back, enc+, enc-, rec, erase,\n"
    "                   play, stop, user1..user4, or a scan code such as 0x2080; NAME*N\n"
    "                   presses it N times (enc+*5)\n"
    "  --panel-version  the panel hardware emulated: 1 (default, the looper's default \"Panel\n"
    "                   Version\") or 0; it decides the scan codes of the keys in the third\n"
    "                   and fourth column\n"
    "\n"
    "Exit status 1 when the looper does not answer, 2 for usage errors.\n";

const char* const key_map_text =
    "  1-8        track keys 1-8        ! @ # $ % ^ & *  second action: temporary group\n"
    "  0          all tracks            d                drum machine\n"
    "  + = Right  encoder up (next)     - Left           encoder down (previous)\n"
    "  Enter      select                Backspace b      back\n"
    "  r          Rec/Dub               e                erase\n"
    "  Space p    Play/Stop             s                Stop Now\n"
    "  z x c v    user buttons 1-4      q Ctrl-C         quit\n";

// What the display's fields mean; shown by --help and under the interactive panel's key map.
const char* const display_legend_text =
    "The display with a track selected, e.g. \"*Track 2 +003.4\xE2\x80\xA2\" over \"-010 100% 1.00 F\":\n"
    "  *          the clock source track, which synchronised loops follow\n"
    "  +003.4     seconds into the loop (-002.1: seconds left, with \"Time display\" Reverse)\n"
    "  \xE2\x80\xA2          the loop is saved\n"
    "  Lvl-10     in place of the time, the value the last action changed (also Fbk, Pan,\n"
    "             Sp, BPM)\n"
    "  -010       the track's level in dB: +000 full, -010 ten dB down, -096 the lowest\n"
    "  100%       feedback: the share of the loop an overdub keeps (100% all of it)\n"
    "  1.00       speed: 1.00 normal, 0.50 half speed\n"
    "  F          direction: F forward, R reverse\n";

// A panel event: a scan code, or an encoder step (scan code 0).
struct Event {
  int32_t code;
  int8_t steps;
};

struct Panel {
  int fd = -1;
  sockaddr_un looper{};
  int panel_version = 1;
  uint8_t lines[display_line_count][display_columns] = {};
  bool have_line[display_line_count] = {};
  bool connected = false;
};

// The scan code the panel hardware sends for a key that the looper, after its column swap for
// panel version 1, reads as `logical`.
int32_t physical_code(const Panel& p, int32_t logical) {
  return p.panel_version == 0 ? logical : swap_key_columns(logical);
}

double now_s() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

// The data directory as the looper finds it: $ZT4_DATA, else the current directory when a looper
// runs there, else scripts/run's default ~/zt4-data.
std::string default_socket_path() {
  if (const char* data = getenv("ZT4_DATA"); data != nullptr && *data != '\0') {
    return std::string(data) + "/" + panel_socket_name;
  }
  if (access(panel_socket_name, F_OK) == 0) return std::string("./") + panel_socket_name;
  const char* home = getenv("HOME");
  return std::string(home != nullptr ? home : ".") + "/zt4-data/" + panel_socket_name;
}

bool open_panel(Panel& p, const std::string& path) {
  if (path.size() >= sizeof p.looper.sun_path) {
    fprintf(stderr, "zt4-panel: socket path too long: %s\n", path.c_str());
    return false;
  }
  p.looper.sun_family = AF_UNIX;
  strcpy(p.looper.sun_path, path.c_str());
  p.fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  // An address of the family alone binds an unnamed abstract address the looper can answer.
  sockaddr_un self{};
  self.sun_family = AF_UNIX;
  if (p.fd < 0 || bind(p.fd, reinterpret_cast<const sockaddr*>(&self), sizeof(sa_family_t)) != 0) {
    perror("zt4-panel: socket");
    return false;
  }
  // Sends wait while the looper's queue is full (it takes one key per idle tick), so that no
  // key of a quick series is lost.
  const timeval limit = {send_timeout_s, 0};
  setsockopt(p.fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
  return true;
}

bool send_message(Panel& p, const std::vector<uint8_t>& bytes) {
  const ssize_t n = sendto(p.fd, bytes.data(), bytes.size(), 0,
                           reinterpret_cast<const sockaddr*>(&p.looper), sizeof p.looper);
  p.connected = n >= 0;
  return p.connected;
}

bool send_event(Panel& p, const Event& e) {
  if (e.code == 0) return send_message(p, {panel_message_encoder, uint8_t(e.steps)});
  const int32_t code = physical_code(p, e.code);
  return send_message(p, {panel_message_key, uint8_t(code & 0xFF), uint8_t(code >> 8)});
}

// Takes one line record from the socket if one is waiting within timeout_ms.
bool receive_record(Panel& p, int timeout_ms) {
  pollfd pf = {p.fd, POLLIN, 0};
  if (poll(&pf, 1, timeout_ms) <= 0) return false;
  uint8_t record[line_record_bytes];
  const ssize_t n = recv(p.fd, record, sizeof record, 0);
  if (n < line_record_sent) return false;
  const int line = record[line_number_offset];
  if (line < 0 || line >= display_line_count) return false;
  memcpy(p.lines[line], record + line_text_offset, display_columns);
  p.have_line[line] = true;
  return true;
}

// Asks for both lines and waits for them.
bool fetch_lines(Panel& p) {
  for (int attempt = 0; attempt < answer_attempts; ++attempt) {
    p.have_line[0] = p.have_line[1] = false;
    if (!send_message(p, {panel_message_lines})) return false;
    const double deadline = now_s() + answer_timeout_s;
    while (!(p.have_line[0] && p.have_line[1])) {
      const int left_ms = int((deadline - now_s()) * 1000);
      if (left_ms <= 0) break;
      receive_record(p, left_ms);
    }
    if (p.have_line[0] && p.have_line[1]) return true;
  }
  return false;
}

std::string line_text(const Panel& p, int line) {
  std::string text;
  for (uint8_t c : p.lines[line]) text += display_char_utf8(c);
  return text;
}

// Parses NAME or NAME*N into events.
bool parse_key(const std::string& word, std::vector<Event>& out) {
  std::string name = word;
  int repeat = 1;
  if (const size_t star = word.find('*'); star != std::string::npos) {
    name = word.substr(0, star);
    char* end = nullptr;
    const long n = strtol(word.c_str() + star + 1, &end, 10);
    if (*end != '\0' || n < 1 || n > 1000) return false;
    repeat = int(n);
  }
  Event e{0, 0};
  int number = 0;
  const auto numbered = [&](const char* prefix, int count) {
    const size_t n = strlen(prefix);
    if (name.compare(0, n, prefix) != 0 || name.size() != n + 1) return false;
    number = name[n] - '0';
    return number >= 1 && number <= count;
  };
  if (name == "enc+") {
    e.steps = 1;
  } else if (name == "enc-") {
    e.steps = -1;
  } else if (numbered("track", 8)) {
    e.code = track_keys[number - 1];
  } else if (numbered("group", 8)) {
    e.code = track_keys[number - 1] | key_second_action;
  } else if (numbered("user", 4)) {
    e.code = user_keys[number - 1];
  } else if (name == "all") {
    e.code = key_all_tracks;
  } else if (name == "drums") {
    e.code = key_drum_menu;
  } else if (name == "select") {
    e.code = key_select;
  } else if (name == "back") {
    e.code = key_back;
  } else if (name == "rec") {
    e.code = key_rec_dub;
  } else if (name == "erase") {
    e.code = key_erase;
  } else if (name == "play") {
    e.code = key_play_stop;
  } else if (name == "stop") {
    e.code = key_stop_now;
  } else if (name.compare(0, 2, "0x") == 0 && name.size() > 2) {
    char* end = nullptr;
    const long code = strtol(name.c_str() + 2, &end, 16);
    if (*end != '\0' || code <= 0 || code > 0xFFFF) return false;
    e.code = int32_t(code);
  } else {
    return false;
  }
  for (int i = 0; i < repeat; ++i) out.push_back(e);
  return true;
}

int no_answer(const Panel& p) {
  fprintf(stderr, "zt4-panel: no answer from the looper's panel socket %s\n", p.looper.sun_path);
  return exit_no_answer;
}

int run_show(Panel& p) {
  if (!fetch_lines(p)) return no_answer(p);
  printf("%s\n%s\n", line_text(p, 0).c_str(), line_text(p, 1).c_str());
  return 0;
}

int run_press(Panel& p, const std::vector<Event>& events) {
  for (const Event& e : events) {
    if (!send_event(p, e)) return no_answer(p);
  }
  return run_show(p);
}

// The terminal in raw mode while the interactive panel runs.
struct RawTerminal {
  termios saved{};
  bool active = false;
  void enter() {
    if (tcgetattr(STDIN_FILENO, &saved) != 0) return;
    termios raw = saved;
    raw.c_lflag &= tcflag_t(~(ICANON | ECHO | ISIG));
    raw.c_iflag &= tcflag_t(~(IXON | ICRNL));
    raw.c_cc[VMIN] = 0;
    raw.c_cc[VTIME] = 0;
    active = tcsetattr(STDIN_FILENO, TCSANOW, &raw) == 0;
  }
  void leave() {
    if (active) tcsetattr(STDIN_FILENO, TCSANOW, &saved);
    active = false;
  }
};

void draw_screen(const Panel& p, const std::string& path) {
  std::string s = "\x1B[H\x1B[2J";
  s += "ZT4 front panel  " + path + (p.connected ? "  connected" : "  waiting for the looper");
  s += "\r\n\r\n";
  s += "  +----------------+\r\n";
  for (int line = 0; line < display_line_count; ++line) s += "  |" + line_text(p, line) + "|\r\n";
  s += "  +----------------+\r\n\r\n";
  const std::string text = std::string(key_map_text) + "\n" + display_legend_text;
  for (char c : text) {
    if (c == '\n') s += '\r';
    s += c;
  }
  fwrite(s.data(), 1, s.size(), stdout);
  fflush(stdout);
}

// One computer key (an escape sequence for the arrows) as a panel event; quit sets `quit`.
bool key_event(const uint8_t* bytes, int n, int& used, Event& e, bool& quit) {
  used = 1;
  e = {0, 0};
  const uint8_t c = bytes[0];
  if (c == escape) {
    if (n >= 3 && bytes[1] == '[') {
      used = 3;
      if (bytes[2] == 'C') e.steps = 1;
      if (bytes[2] == 'D') e.steps = -1;
      return e.steps != 0;
    }
    return false;
  }
  static constexpr char shifted_digits[] = "!@#$%^&*";
  if (c >= '1' && c <= '8') {
    e.code = track_keys[c - '1'];
  } else if (const char* at = c != 0 ? strchr(shifted_digits, c) : nullptr) {
    e.code = track_keys[at - shifted_digits] | key_second_action;
  } else {
    switch (c) {
      case '0': e.code = key_all_tracks; break;
      case 'd': e.code = key_drum_menu; break;
      case '+':
      case '=': e.steps = 1; break;
      case '-': e.steps = -1; break;
      case '\r':
      case '\n': e.code = key_select; break;
      case delete_key:
      case backspace_key:
      case 'b': e.code = key_back; break;
      case 'r': e.code = key_rec_dub; break;
      case 'e': e.code = key_erase; break;
      case ' ':
      case 'p': e.code = key_play_stop; break;
      case 's': e.code = key_stop_now; break;
      case 'z': e.code = key_user_1; break;
      case 'x': e.code = key_user_2; break;
      case 'c': e.code = key_user_3; break;
      case 'v': e.code = key_user_4; break;
      case 'q':
      case ctrl_c: quit = true; return false;
      default: return false;
    }
  }
  return true;
}

int run_interactive(Panel& p, const std::string& path) {
  RawTerminal terminal;
  terminal.enter();
  signal(SIGPIPE, SIG_IGN);
  double next_subscribe = 0;
  bool quit = false;
  draw_screen(p, path);
  while (!quit) {
    if (now_s() >= next_subscribe) {
      const bool was = p.connected;
      send_message(p, {panel_message_subscribe});
      next_subscribe = now_s() + resubscribe_ms / 1000.0;
      if (was != p.connected) draw_screen(p, path);
    }
    pollfd fds[2] = {{STDIN_FILENO, POLLIN, 0}, {p.fd, POLLIN, 0}};
    if (poll(fds, 2, 100) <= 0) continue;
    if (fds[1].revents & POLLIN) {
      while (receive_record(p, 0)) {}
      draw_screen(p, path);
    }
    if (fds[0].revents & (POLLIN | POLLHUP)) {
      uint8_t bytes[64];
      const ssize_t n = read(STDIN_FILENO, bytes, sizeof bytes);
      if (n <= 0) {
        if (fds[0].revents & POLLHUP) quit = true;
        continue;
      }
      for (int i = 0; i < n && !quit;) {
        Event e;
        int used;
        if (key_event(bytes + i, int(n) - i, used, e, quit)) send_event(p, e);
        i += used;
      }
    }
  }
  send_message(p, {panel_message_unsubscribe});
  terminal.leave();
  printf("\r\n");
  return 0;
}

int usage_error(const char* message) {
  fprintf(stderr, "zt4-panel: %s\n%s", message, usage_text);
  return exit_usage;
}

}  // namespace

int main(int argc, char** argv) {
  Panel panel;
  std::string path = default_socket_path();
  int i = 1;
  for (; i < argc && argv[i][0] == '-' && argv[i][1] == '-'; ++i) {
    const std::string option = argv[i];
    if (option == "--help") {
      printf("%s\nKeys of the interactive panel:\n%s\n%s", usage_text, key_map_text,
             display_legend_text);
      return 0;
    }
    if (i + 1 >= argc) return usage_error("missing value");
    const std::string value = argv[++i];
    if (option == "--dir") {
      path = value + "/" + panel_socket_name;
    } else if (option == "--socket") {
      path = value;
    } else if (option == "--panel-version") {
      if (value != "0" && value != "1") return usage_error("--panel-version is 0 or 1");
      panel.panel_version = value[0] - '0';
    } else {
      return usage_error(("unknown option " + option).c_str());
    }
  }
  const std::string command = i < argc ? argv[i++] : "";
  std::vector<Event> events;
  if (command == "press") {
    if (i >= argc) return usage_error("press needs at least one key");
    for (; i < argc; ++i) {
      if (!parse_key(argv[i], events))
        return usage_error(("unknown key " + std::string(argv[i])).c_str());
    }
  } else if (command != "show" && !command.empty()) {
    return usage_error(("unknown command " + command).c_str());
  } else if (i < argc) {
    return usage_error("too many arguments");
  }
  if (!open_panel(panel, path)) return exit_no_answer;
  if (command == "show") return run_show(panel);
  if (command == "press") return run_press(panel, events);
  return run_interactive(panel, path);
}
