#include "storage/track_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "config/config.h"

namespace {

constexpr int header_word_count = track_header_bytes / 2;  // 16-bit words under the checksum
constexpr int checksum_at = 2;

void put_u16(uint8_t* p, uint16_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
}
void put_u32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; i++) p[i] = uint8_t(v >> (8 * i));
}
uint16_t get_u16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }
uint32_t get_u32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// The Internet checksum over the header's 16-bit little-endian words.
uint16_t header_checksum(const uint8_t* header) {
  uint16_t words[header_word_count];
  for (int i = 0; i < header_word_count; i++) words[i] = get_u16(header + 2 * i);
  return config_checksum(words, header_word_count);
}

}  // namespace

void build_track_header(const TrackFileWords& w, uint8_t header[track_header_bytes]) {
  memset(header, 0, track_header_bytes);
  put_u16(header, track_file_format);
  const int32_t ints[] = {w.word_1,     w.multiple, w.rate, w.half_speed, w.loop_end,
                          w.loop_start, w.atten,    w.pan,  w.vsp,        w.clock_source};
  uint8_t* p = header + track_header_words_at;
  for (int32_t v : ints) {
    put_u32(p, uint32_t(v));
    p += 4;
  }
  uint64_t period;
  static_assert(sizeof period == sizeof w.clock_period);
  memcpy(&period, &w.clock_period, sizeof period);
  put_u32(p, uint32_t(period));
  put_u32(p + 4, uint32_t(period >> 32));
  put_u16(header + checksum_at, header_checksum(header));
}

LoadStatus parse_track_header(const uint8_t* bytes, size_t length, TrackFileWords& w) {
  if (length < size_t(track_header_bytes)) return load_short;
  if (header_checksum(bytes) != 0) return load_bad_checksum;
  if (get_u16(bytes) != track_file_format) return load_bad_format;
  int32_t ints[10];
  const uint8_t* p = bytes + track_header_words_at;
  for (int32_t& v : ints) {
    v = int32_t(get_u32(p));
    p += 4;
  }
  w.word_1 = ints[0];
  w.multiple = ints[1];
  w.rate = ints[2];
  w.half_speed = ints[3];
  w.loop_end = ints[4];
  w.loop_start = ints[5];
  w.atten = ints[6];
  w.pan = ints[7];
  w.vsp = ints[8];
  w.clock_source = ints[9];
  const uint64_t period = uint64_t(get_u32(p)) | uint64_t(get_u32(p + 4)) << 32;
  memcpy(&w.clock_period, &period, sizeof period);
  return load_ok;
}

void track_file_name(char (&out)[track_name_max], int32_t t, int32_t file_set) {
  if (file_set != 0) {
    snprintf(out, sizeof out, "track%d-%d.dat", int(file_set), int(t + 1));
  } else {
    snprintf(out, sizeof out, "track%d.dat", int(t + 1));
  }
}

void slot_file_name(char (&out)[track_name_max], int32_t slot) {
  snprintf(out, sizeof out, "save%d.dat", int(slot));
}

bool session_dir_name(char (&out)[track_name_max], int32_t session) {
  out[0] = '\0';
  if (session < 0) return false;
  snprintf(out, sizeof out, "sess%d", int(session));
  return true;
}

bool take_file_name(char (&out)[track_name_max], int32_t session, int32_t track_number,
                    int32_t take) {
  out[0] = '\0';
  if (session < 0 || track_number < 0 || take < 0) return false;
  snprintf(out, sizeof out, "sess%d/tr%d_%d.raw", int(session), int(track_number), int(take));
  return true;
}

void save_target_name(char (&out)[track_name_max], int32_t t, int32_t slot) {
  if (slot > 0) {
    slot_file_name(out, slot);
  } else {
    track_file_name(out, t, config.track_file_set);
  }
}

void sync_directory_of(const char* path) {
  const char* slash = strrchr(path, '/');
  const std::string dir = slash == nullptr ? "." : std::string(path, size_t(slash - path));
  const int fd = open(dir.empty() ? "/" : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  fsync(fd);
  close(fd);
}

int commit_durably(int fd, const char* temporary, const char* target) {
  const bool synced = fsync(fd) == 0;
  const bool closed = close(fd) == 0;
  if (!synced || !closed || rename(temporary, target) != 0) return -1;
  sync_directory_of(target);
  return 0;
}
