#include "tools/remote_status.h"

#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>

namespace {

constexpr int compact_words = 58;  // the compact status: 58 big-endian 32-bit words
constexpr int word_rate = 0, word_state = 2, word_length = 10, word_position = 18, word_level = 26,
              word_pan = 34, word_feedback = 42, word_selected = 50;
constexpr int watch_interval_ms = 100;  // ten redraws a second
constexpr int bar_width = 24;

std::atomic<int> interrupted{0};

void on_interrupt(int) { interrupted = 1; }

uint32_t be32(const uint8_t* p) {
  return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]);
}

const char* state_name(uint32_t code) {
  switch (code) {
    case 1: return "recording";
    case 2: return "overdubbing";
    case 3: return "stopped";
    case 4: return "playing";
    case 5: return "replacing";
    case 6: return "busy";
    default: return "empty";
  }
}

// "[#######.................]" with the filled part at position / length of the loop.
std::string position_bar(const TrackStatus& t) {
  if (t.length <= 0) return "";
  int64_t filled = int64_t(t.position) * bar_width / t.length;
  filled = std::max<int64_t>(0, std::min<int64_t>(bar_width, filled));
  std::string bar(bar_width + 2, '.');
  bar.front() = '[';
  bar.back() = ']';
  std::fill_n(bar.begin() + 1, filled, '#');
  return bar;
}

}  // namespace

bool fetch_status(const Remote& r, LooperStatus& status) {
  send_text(r, "<query>status compact");
  std::vector<uint8_t> reply;
  const uint8_t head[] = {0x00, 0x00, 0xBB, 0x80};  // 48000 frames per second
  if (!receive(r, std::vector<uint8_t>(head, head + 4), reply)) return false;
  if (reply.size() != size_t(compact_words * 4)) {
    fprintf(stderr, "zt4-remote: status of %zu bytes, expected %d\n", reply.size(),
            compact_words * 4);
    return false;
  }
  uint32_t w[compact_words];
  for (int i = 0; i < compact_words; ++i) w[i] = be32(reply.data() + 4 * i);
  status.frames_per_second = w[word_rate];
  for (int t = 0; t < track_count; ++t) {
    TrackStatus& s = status.tracks[t];
    s.state = w[word_state + t];
    s.length = int32_t(w[word_length + t]);
    s.position = int32_t(w[word_position + t]);
    s.level = int32_t(w[word_level + t]);
    s.pan = int32_t(w[word_pan + t]);
    s.feedback = int32_t(w[word_feedback + t]);
    s.selected = w[word_selected + t] != 0;
  }
  return true;
}

std::string format_status(const LooperStatus& status, bool bars) {
  const double rate = status.frames_per_second > 0 ? double(status.frames_per_second) : 1;
  char line[256];
  snprintf(line, sizeof line, "%-6s %-12s %10s %10s %6s %5s %9s%s\n", "Track", "State", "Length",
           "Position", "Level", "Pan", "Feedback", bars ? "  Position in the loop" : "");
  std::string text = line;
  for (int t = 0; t < track_count; ++t) {
    const TrackStatus& s = status.tracks[t];
    snprintf(line, sizeof line, "%c%-5d %-12s %10.3f %10.3f %6d %5d %9d%s%s\n",
             s.selected ? '*' : ' ', t + 1, state_name(s.state), double(s.length) / rate,
             double(s.position) / rate, s.level, s.pan, s.feedback, bars ? "  " : "",
             bars ? position_bar(s).c_str() : "");
    text += line;
  }
  return text;
}

int cmd_status(const Remote& r) {
  LooperStatus status;
  if (!fetch_status(r, status)) return no_answer(r);
  fputs(format_status(status, false).c_str(), stdout);
  return 0;
}

int cmd_watch(const Remote& r) {
  struct sigaction action = {};
  action.sa_handler = on_interrupt;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);  // no SA_RESTART: Ctrl-C ends the wait at once
  sigaction(SIGTERM, &action, nullptr);

  const bool terminal = isatty(STDOUT_FILENO) != 0;
  if (terminal) fputs("\x1b[?25l", stdout);  // hide the cursor while redrawing
  int lines_drawn = 0;
  while (!interrupted) {
    const double started = now_s();
    LooperStatus status;
    std::string frame;
    if (fetch_status(r, status)) {
      frame = format_status(status, true);
    } else {
      char line[160];
      snprintf(line, sizeof line, "no answer from the looper at %s port %d; still asking\n",
               r.host.c_str(), r.port);
      frame = line;
    }
    frame += "Ctrl-C ends the watch\n";
    // Back to the first line of the previous frame, each line cleared before it is rewritten.
    if (lines_drawn > 0) printf("\x1b[%dA", lines_drawn);
    lines_drawn = 0;
    for (size_t start = 0; start < frame.size();) {
      const size_t end = frame.find('\n', start);
      printf("\x1b[2K%s\n", frame.substr(start, end - start).c_str());
      ++lines_drawn;
      start = end + 1;
    }
    printf("\x1b[J");  // a shorter frame leaves nothing of the longer one below it
    fflush(stdout);
    const int wait_ms = watch_interval_ms - int((now_s() - started) * 1000);
    if (wait_ms > 0 && !interrupted) poll(nullptr, 0, wait_ms);
  }
  if (terminal) fputs("\x1b[?25h", stdout);
  fflush(stdout);
  return 0;
}
