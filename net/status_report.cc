#include "net/status_report.h"

#include <cstring>

#include "core/console.h"
#include "net/sysex_codec.h"

namespace {

constexpr int frames_per_ms = frames_per_second / 1000;  // 48
constexpr int ms_per_second = 1000;
constexpr int line_max = 96;           // longest single line of the document, with room to spare
constexpr int sysex_level_none = 127;  // levels below -127 are sent as 127
constexpr int pan_scale_num = 50;      // pans travel as -50..50 of the panel's -128..128
constexpr int pan_scale_den = 128;
constexpr int groups_35bit = 5;  // a frame count travels as five 7-bit groups

// State codes of the transport's state word.
constexpr int code_playing = 1;
constexpr int code_stopped = 2;
constexpr int code_recording = 3;
constexpr int code_overdubbing = 4;
constexpr int code_replacing = 5;

int state_nibble(const RemoteStatus& status, int t) {
  return int((status.state_word >> (4 * t)) & 0xF);
}

// Appends formatted text while it fits (the document is sized so it always does).
struct DocumentWriter {
  char* out;
  int length = 0;

  void add(const char* text, int n) {
    if (length + n >= status_document_max) return;
    memcpy(out + length, text, size_t(n));
    length += n;
    out[length] = '\0';
  }
  void add(const char* text) { add(text, int(strlen(text))); }
  template <typename... Args>
  void format(const char* fmt, Args... args) {
    char line[line_max];
    add(line, format_to(line, fmt, args...));
  }
  // Seconds and milliseconds of a frame count; the milliseconds are not zero-padded.
  void seconds(const char* open, int32_t frames, const char* close) {
    add(open);
    format("%d.%d", int(frames / frames_per_second), int((frames / frames_per_ms) % ms_per_second));
    add(close);
  }
};

void put_be32(uint8_t* out, uint32_t v) {
  out[0] = uint8_t(v >> 24);
  out[1] = uint8_t(v >> 16);
  out[2] = uint8_t(v >> 8);
  out[3] = uint8_t(v);
}

}  // namespace

// The remote program's numbering of the states.
int compact_state_code(const RemoteStatus& status, int t) {
  constexpr int remote_recording = 1, remote_overdubbing = 2, remote_stopped = 3,
                remote_playing = 4, remote_replacing = 5, remote_busy = 6, remote_empty = 0;
  switch (state_nibble(status, t)) {
    case code_playing: return remote_playing;
    case code_stopped: return remote_stopped;
    case code_recording: return remote_recording;
    case code_overdubbing: return remote_overdubbing;
    case code_replacing: return remote_replacing;
    case state_code_busy: return remote_busy;
    default: return remote_empty;
  }
}

const char* state_word_text(const RemoteStatus& status, int t) {
  switch (state_nibble(status, t)) {
    case code_playing: return "playing";
    case code_stopped: return "stopped";
    case code_recording: return "recording";
    case code_overdubbing: return "overdubbing";
    case code_replacing: return "replacing";
    case state_code_busy: return "busy";
    default: return "empty";
  }
}

int build_status_document(const RemoteStatus& status, char* out) {
  DocumentWriter w{out};
  out[0] = '\0';
  w.add("<status>\n");
  for (int t = 0; t < track_count; ++t) {
    const int n = t + 1;
    w.format("  <track%d>\n", n);
    w.add("    <state>");
    w.add(state_word_text(status, t));
    w.add("</state>\n");
    w.seconds("    <length>", status.length[t], "</length>\n");
    w.seconds("    <position>", status.position[t], "</position>\n");
    w.format("    <level>%+04d</level>\n", int(status.level[t]));
    w.format("    <pan>%+04d</pan>\n", int(status.pan[t]));
    w.format("    <feedback>%03d</feedback>\n", int(status.feedback[t]));
    w.add(status.selected == n ? "<selected>yes</selected>\n" : "<selected>no</selected>\n");
    w.format("  </track%d>\n", n);
  }
  w.add("</status>\n");
  return w.length + 1;
}

void build_compact_status(const RemoteStatus& status, uint8_t* out) {
  constexpr int words = compact_status_length / 4;
  static_assert(words == 2 + 7 * track_count);
  uint32_t v[words];
  v[0] = frames_per_second;
  v[1] = track_count;
  for (int t = 0; t < track_count; ++t) {
    // Two header words, then seven groups of one word per track.
    uint32_t* group = v + 2 + t;
    constexpr int g = track_count;
    group[0 * g] = uint32_t(compact_state_code(status, t));
    group[1 * g] = uint32_t(status.length[t]);
    group[2 * g] = uint32_t(status.position[t]);
    group[3 * g] = uint32_t(int32_t(status.level[t]));  // sign-extended
    group[4 * g] = uint32_t(int32_t(status.pan[t]));
    group[5 * g] = uint32_t(int32_t(status.feedback[t]));
    group[6 * g] = status.selected == t + 1 ? 1u : 0u;
  }
  for (int i = 0; i < words; ++i) put_be32(out + 4 * i, v[i]);
}

void build_sysex_status(const RemoteStatus& status, uint8_t* out) {
  int n = 0;
  for (uint8_t b : host_sysex_header) out[n++] = b;
  out[n++] = sysex_status_code;
  out[n++] = track_count;
  // Only a single selected track is a 7-bit number; "all tracks" or a group show as 0.
  out[n++] = uint8_t(status.selected >= 1 && status.selected <= track_count ? status.selected : 0);
  for (int t = 0; t < track_count; ++t) {
    out[n++] = uint8_t(compact_state_code(status, t));
    // The attenuation as a positive number; a level above full (never set by the panel) is 0.
    const int level = status.level[t];
    int attenuation = level < -sysex_level_none ? sysex_level_none : -level;
    if (attenuation < 0) attenuation = 0;
    out[n++] = uint8_t(attenuation);
    out[n++] = uint8_t((int(status.pan[t]) * pan_scale_num / pan_scale_den) & seven_bit_mask);
    out[n++] = uint8_t(status.feedback[t] & seven_bit_mask);
    put_35bit(out + n, uint32_t(status.length[t]));
    n += groups_35bit;
    put_35bit(out + n, uint32_t(status.position[t]));
    n += groups_35bit;
  }
  out[n++] = sysex_end;
}
