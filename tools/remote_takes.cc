#include "tools/remote_takes.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "core/constants.h"
#include "net/sysex_codec.h"

namespace {

constexpr int progress_interval_ms = 100;
constexpr int number_14bit_max = 16383;
constexpr int reply_payload_at = host_sysex_header_length + 1;  // after the header and code

// Host commands and replies of the take archive.
constexpr uint8_t cmd_list_sessions = 31, reply_sessions = 32;
constexpr uint8_t cmd_list_takes = 33, reply_takes = 34;
constexpr uint8_t cmd_load_take = 35, cmd_delete_take = 36, cmd_delete_session = 37;
constexpr uint8_t cmd_load_progress = 39, reply_load_progress = 40;

std::vector<uint8_t> message(uint8_t command, const std::vector<uint8_t>& payload) {
  std::vector<uint8_t> m(host_sysex_header, host_sysex_header + host_sysex_header_length);
  m.push_back(command);
  m.insert(m.end(), payload.begin(), payload.end());
  m.push_back(sysex_end);
  return m;
}

std::vector<uint8_t> reply_prefix(uint8_t code) {
  std::vector<uint8_t> prefix(host_sysex_header, host_sysex_header + host_sysex_header_length);
  prefix.push_back(code);
  return prefix;
}

// Numbers 0-16383, the last one a track 1-8 when last_is_track.
bool parse_numbers(int count, const char* const* texts, long* out, bool last_is_track) {
  for (int i = 0; i < count; ++i) {
    const bool track = last_is_track && i == count - 1;
    char* end = nullptr;
    errno = 0;
    out[i] = strtol(texts[i], &end, 10);
    const long high = track ? track_count : number_14bit_max;
    if (end == texts[i] || *end != '\0' || errno != 0 || out[i] < (track ? 1 : 0) ||
        out[i] > high) {
      fprintf(stderr, "zt4-remote: '%s' is not %s\n", texts[i], track ? "a track 1-8" : "0-16383");
      return false;
    }
  }
  return true;
}

void put_take(std::vector<uint8_t>& payload, long session, long track, long take) {
  uint8_t n[2];
  put_14bit(n, int32_t(session));
  payload.insert(payload.end(), n, n + 2);
  payload.push_back(uint8_t(track));
  put_14bit(n, int32_t(take));
  payload.insert(payload.end(), n, n + 2);
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

}  // namespace

int cmd_sessions(const Remote& r) {
  std::string version;
  if (!query_id(r, version)) return no_answer(r);
  send_bytes(r, message(cmd_list_sessions, {}));
  std::vector<uint8_t> reply;
  if (!receive(r, reply_prefix(reply_sessions), reply)) {
    printf("(no sessions)\n");
    return 0;
  }
  for (size_t i = reply_payload_at; i + 2 < reply.size(); i += 2)
    printf("session %d\n", int(get_14bit(&reply[i])));
  return 0;
}

int cmd_takes(const Remote& r, const char* session_text) {
  long session;
  if (!parse_numbers(1, &session_text, &session, false)) return exit_usage;
  uint8_t at[2];
  put_14bit(at, int32_t(session));
  send_bytes(r, message(cmd_list_takes, {at[0], at[1]}));
  std::vector<uint8_t> reply;
  if (!receive(r, reply_prefix(reply_takes), reply)) return no_answer(r);
  if (reply.size() <= size_t(reply_payload_at) + 1) printf("(no takes)\n");
  for (size_t i = reply_payload_at; i + 4 < reply.size(); i += 4)
    printf("track %d take %d\n", int(get_14bit(&reply[i])), int(get_14bit(&reply[i + 2])));
  return 0;
}

int cmd_take_load(const Remote& r, char** args) {
  long n[4];
  if (!parse_numbers(4, args, n, true)) return exit_usage;
  std::string version;
  if (!query_id(r, version)) return no_answer(r);
  std::vector<uint8_t> payload;
  put_take(payload, n[0], n[1], n[2]);
  payload.push_back(uint8_t(n[3]));
  send_bytes(r, message(cmd_load_take, payload));
  int shown = -1;
  for (;;) {
    send_bytes(r, message(cmd_load_progress, {}));
    std::vector<uint8_t> reply;
    // Busy (0/1), percent, load status.
    if (!receive(r, reply_prefix(reply_load_progress), reply) ||
        reply.size() < size_t(reply_payload_at) + 4)
      return no_answer(r);
    const bool busy = reply[reply_payload_at] != 0;
    const int percent = reply[reply_payload_at + 1], status = reply[reply_payload_at + 2];
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
  put_take(payload, n[0], n[1], n[2]);
  payload.push_back(0);
  send_bytes(r, message(cmd_delete_take, payload));
  return 0;
}

int cmd_session_delete(const Remote& r, const char* session_text) {
  long session;
  if (!parse_numbers(1, &session_text, &session, false)) return exit_usage;
  std::string version;
  if (!query_id(r, version)) return no_answer(r);
  uint8_t at[2];
  put_14bit(at, int32_t(session));
  send_bytes(r, message(cmd_delete_session, {at[0], at[1], 0}));
  return 0;
}
