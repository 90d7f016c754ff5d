#include "storage/mixer_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "config/config.h"
#include "core/atomic_file.h"
#include "core/console.h"
#include "core/text_lines.h"
#include "engine/fades.h"
#include "engine/track_ops.h"
#include "engine/track_params.h"
#include "engine/transport.h"
#include "storage/storage_thread.h"

MixerStore mixer_store;

namespace {

constexpr char first_line[] = "ZT4 mixer settings 1";
constexpr int line_max = 128;
constexpr int state_word_max = 16;

bool in_range(int v, int lo, int hi) { return v >= lo && v <= hi; }

MixerFault decode_track(const char* line, int t, MixerSettings& s) {
  int number, level, pan, feedback, used = -1;
  char state[state_word_max];
  if (sscanf(line, "track %d level %d pan %d feedback %d %15s%n", &number, &level, &pan, &feedback,
             state, &used) != 5 ||
      line[used] != '\0' || number != t + 1)
    return "a track line is not as written";
  if (!in_range(level, mixer_level_min, 0)) return "level out of range";
  if (!in_range(pan, -mixer_pan_limit, mixer_pan_limit)) return "pan out of range";
  if (!in_range(feedback, 0, mixer_feedback_max)) return "feedback out of range";
  if (strcmp(state, "playing") == 0) {
    s.playing = uint8_t(s.playing | track_bit(t));
  } else if (strcmp(state, "stopped") != 0) {
    return "a track is neither playing nor stopped";
  }
  s.level[t] = int16_t(level);
  s.pan[t] = int16_t(pan);
  s.feedback[t] = int16_t(feedback);
  return nullptr;
}

// The whole file, or -1 when it is missing; a file longer than any of ours reads as too long.
int read_mixer_file(char (&buffer)[mixer_text_max]) {
  const int fd = open(mixer_file_name, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return errno == ENOENT ? -1 : 0;
  int total = 0;
  while (total < mixer_text_max) {
    const ssize_t n = read(fd, buffer + total, size_t(mixer_text_max - total));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    total += int(n);
  }
  close(fd);
  return total;
}

// Hands the settings to the storage thread; false while it still writes the previous ones.
bool hand_over(const MixerSettings& settings) {
  MixerStore& m = mixer_store;
  if (m.pending_length.load(std::memory_order_acquire) != 0) return false;
  const int length = mixer_encode(settings, m.pending_text);
  m.written = settings;
  m.pending_length.store(length, std::memory_order_release);
  storage_wake();
  return true;
}

// "track 1" or "tracks 1 3 8" for the tracks of mask.
void name_tracks(uint8_t mask, char (&out)[sizeof "tracks" + 2 * track_count]) {
  const bool one = (mask & (mask - 1)) == 0;
  int at = snprintf(out, sizeof out, "%s", one ? "track" : "tracks");
  for (int t = 0; t < track_count; ++t) {
    if (!(mask & track_bit(t))) continue;
    out[at++] = ' ';
    out[at++] = char('1' + t);
  }
  out[at] = '\0';
}

// The loaded tracks get the shown mix. Without a file, the mix is taken from what the track
// files gave the tracks instead, so that an older data directory keeps its levels.
void apply_to_tracks() {
  MixerStore& m = mixer_store;
  ConfigLive& live = config_live;
  for (int t = 0; t < track_count; ++t) {
    if (!m.from_file && tracks[t].length != 0) {
      set_live_word(live.mix_level[t], -tracks[t].atten);
      set_live_word(live.mix_pan[t], tracks[t].pan);
      continue;
    }
    set_track_atten(t, -live.mix_level[t]);
    set_track_pan(t, live.mix_pan[t]);
    set_track_feedback(t, live.mix_feedback[t]);
  }
}

// Plays the tracks that were playing, with --resume or the setting on; otherwise says how.
void resume_playing() {
  MixerStore& m = mixer_store;
  uint8_t loaded = 0;
  for (int t = 0; t < track_count; ++t) {
    if (tracks[t].length != 0 && (m.restored_playing & track_bit(t))) loaded |= track_bit(t);
  }
  if (loaded == 0) return;
  char names[sizeof "tracks" + 2 * track_count];
  name_tracks(loaded, names);
  const bool one = (loaded & (loaded - 1)) == 0;
  if (!m.resume_requested && !m.resume_playing) {
    names[0] = 'T';
    console_printf("%s %s playing: zt4 --resume or the menu's Resume Playing starts %s again\n",
                   names, one ? "was" : "were", one ? "it" : "them");
    return;
  }
  for (int t = 0; t < track_count; ++t) {
    if (loaded & track_bit(t)) play_track(t);
  }
  console_printf("Resumed: %s %s as %s did\n", names, one ? "plays" : "play", one ? "it" : "they");
}

}  // namespace

int mixer_encode(const MixerSettings& s, char (&out)[mixer_text_max]) {
  int at = snprintf(out, sizeof out, "%s\nresume %s\n", first_line, s.resume ? "on" : "off");
  for (int t = 0; t < track_count; ++t) {
    at += snprintf(out + at, sizeof out - size_t(at), "track %d level %d pan %d feedback %d %s\n",
                   t + 1, int(s.level[t]), int(s.pan[t]), int(s.feedback[t]),
                   (s.playing & track_bit(t)) ? "playing" : "stopped");
  }
  return at;
}

MixerFault mixer_decode(const char* text, int length, MixerSettings& settings) {
  const char* at = text;
  const char* end = text + length;
  char line[line_max];
  if (!next_text_line(at, end, line) || strcmp(line, first_line) != 0) return "not a mixer file";
  MixerSettings decoded{};
  if (!next_text_line(at, end, line)) return "cut short";
  if (strcmp(line, "resume on") == 0) {
    decoded.resume = 1;
  } else if (strcmp(line, "resume off") != 0) {
    return "the resume line is neither on nor off";
  }
  for (int t = 0; t < track_count; ++t) {
    if (!next_text_line(at, end, line)) return "cut short";
    if (MixerFault fault = decode_track(line, t, decoded)) return fault;
  }
  if (at != end) return "text after the eighth track";
  settings = decoded;
  return nullptr;
}

MixerSettings mixer_snapshot() {
  const ConfigLive& live = config_live;
  const EngineState& e = engine_state;
  MixerSettings s{};
  for (int t = 0; t < track_count; ++t) {
    s.level[t] = live.mix_level[t];
    s.pan[t] = live.mix_pan[t];
    s.feedback[t] = live.mix_feedback[t];
    // A track that records, overdubs or replaces plays once that ends (quitting ends it so).
    if (on_list(e.play_list, t) || track_in_role(t)) s.playing = uint8_t(s.playing | track_bit(t));
  }
  s.resume = mixer_store.resume_playing;
  return s;
}

void mixer_load() {
  MixerStore& m = mixer_store;
  char text[mixer_text_max];
  const int length = read_mixer_file(text);
  if (length < 0) return;
  MixerSettings s{};
  const MixerFault fault = length >= mixer_text_max ? "too long" : mixer_decode(text, length, s);
  if (fault != nullptr) {
    console_printf("Mixer settings file refused: %s, defaults used\n", fault);
    return;
  }
  ConfigLive& live = config_live;
  for (int t = 0; t < track_count; ++t) {
    set_live_word(live.mix_level[t], s.level[t]);
    set_live_word(live.mix_pan[t], s.pan[t]);
    set_live_word(live.mix_feedback[t], s.feedback[t]);
  }
  m.resume_playing = s.resume;
  m.restored_playing = s.playing;
  m.from_file = 1;
}

void mixer_service() {
  MixerStore& m = mixer_store;
  if (!m.restored) {
    if (storage.passes.load() == 0) return;  // the track files are still loading
    apply_to_tracks();
    resume_playing();
    m.restored = 1;
    m.written = m.seen = mixer_snapshot();
    return;
  }
  if (m.write_failed.exchange(0) != 0) {
    m.unsaved = 1;
    m.countdown = mixer_save_delay;
  }
  const MixerSettings now = mixer_snapshot();
  if (!(now == m.seen)) {
    m.seen = now;
    m.countdown = mixer_save_delay;
  }
  if (m.countdown > 0 && --m.countdown > 0) return;
  if (m.seen == m.written && !m.unsaved) return;
  if (hand_over(m.seen)) {
    m.unsaved = 0;
  } else {
    m.countdown = 1;  // the writer is busy: the next tick tries again
  }
}

bool mixer_save_now() {
  MixerStore& m = mixer_store;
  if (!m.restored) return true;  // never replace the file before it was applied
  if (m.write_failed.exchange(0) != 0) m.unsaved = 1;
  m.seen = mixer_snapshot();
  if (!(m.seen == m.written) || m.unsaved) {
    if (!hand_over(m.seen)) return false;
    m.unsaved = 0;
    m.countdown = 0;
  }
  return m.pending_length.load(std::memory_order_acquire) == 0;
}

void mixer_write_pending() {
  MixerStore& m = mixer_store;
  const int32_t length = m.pending_length.load(std::memory_order_acquire);
  if (length == 0) return;
  const int error = write_file_atomically(mixer_file_name, m.pending_text, length) == 0 ? 0 : errno;
  if (error != m.write_error) {
    if (error != 0) {
      console_printf("Cannot save the mixer settings in %s: %s; trying again\n", mixer_file_name,
                     strerror(error));
    } else {
      console_printf("The mixer settings are saved again\n");
    }
  }
  m.write_error = error;
  if (error != 0) m.write_failed.store(1);
  m.pending_length.store(0, std::memory_order_release);
}

void mixer_set_resume(int32_t on) { mixer_store.resume_playing = int16_t(on != 0); }

void mixer_store_reset() {
  MixerStore& m = mixer_store;
  m.resume_playing = 0;
  m.resume_requested = 0;
  m.from_file = 0;
  m.restored_playing = 0;
  m.restored = 0;
  m.written = MixerSettings{};
  m.seen = MixerSettings{};
  m.unsaved = 0;
  m.countdown = 0;
  m.pending_length = 0;
  m.write_failed = 0;
  m.write_error = 0;
}
