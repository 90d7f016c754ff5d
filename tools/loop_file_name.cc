#include "tools/loop_file_name.h"

#include <cstdint>
#include <cstring>

#include "core/constants.h"
#include "panel/audio_slots.h"
#include "storage/track_file.h"

namespace {

constexpr int32_t file_set_max = INT16_MAX;  // the configuration keeps the file set in 16 bits

// The whole number at s[at], digits only; false when there is none or it passes INT32_MAX.
bool read_number(const std::string& s, size_t& at, int32_t& value) {
  int64_t v = 0;
  const size_t start = at;
  while (at < s.size() && s[at] >= '0' && s[at] <= '9') {
    v = v * 10 + (s[at++] - '0');
    if (v > INT32_MAX) return false;
  }
  value = int32_t(v);
  return at > start;
}

bool skip(const std::string& s, size_t& at, const char* text) {
  if (s.compare(at, strlen(text), text) != 0) return false;
  at += strlen(text);
  return true;
}

std::string base_name(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The directory part's own last name: "data/sess3" for "data/sess3/tr1_2.raw" gives "sess3".
std::string parent_name(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return "";
  return base_name(path.substr(0, slash));
}

std::string tracks_text() { return "the looper has tracks 1 to " + std::to_string(track_count); }

LoopFileKind track_or_slot(const std::string& name, std::string& why) {
  char canonical[track_name_max];
  size_t at = 0;
  int32_t first = 0, second = 0;
  if (skip(name, at, "track") && read_number(name, at, first)) {
    const bool with_set = skip(name, at, "-");
    if (with_set && !read_number(name, at, second)) at = std::string::npos;
    if (at != std::string::npos && name.compare(at, std::string::npos, ".dat") == 0) {
      const int32_t number = with_set ? second : first;
      const int32_t set = with_set ? first : 0;
      if (number < 1 || number > track_count) {
        why = name + ": " + tracks_text();
        return LoopFileKind::none;
      }
      if (with_set && (set < 1 || set > file_set_max)) {
        why = name + ": track file sets are 1 to " + std::to_string(file_set_max);
        return LoopFileKind::none;
      }
      track_file_name(canonical, number - 1, set);
      if (name == canonical) return LoopFileKind::track;
      why = name + ": the looper spells that file " + canonical;
      return LoopFileKind::none;
    }
  }
  at = 0;
  if (skip(name, at, "save") && read_number(name, at, first) &&
      name.compare(at, std::string::npos, ".dat") == 0) {
    if (first < 1 || first > audio_slot_max) {
      why = name + ": save slots are save1.dat to save" + std::to_string(audio_slot_max) + ".dat";
      return LoopFileKind::none;
    }
    slot_file_name(canonical, first);
    if (name == canonical) return LoopFileKind::slot;
    why = name + ": the looper spells that file " + canonical;
    return LoopFileKind::none;
  }
  why = name + ": the looper loads track files trackN.dat or trackS-N.dat (N 1 to " +
        std::to_string(track_count) + ") and save slots saveN.dat";
  return LoopFileKind::none;
}

LoopFileKind take(const std::string& path, std::string& why) {
  const std::string name = base_name(path);
  const std::string dir = parent_name(path);
  size_t at = 0;
  int32_t track_number = 0, take_number = 0, session = 0;
  if (!skip(name, at, "tr") || !read_number(name, at, track_number) || !skip(name, at, "_") ||
      !read_number(name, at, take_number) || name.compare(at, std::string::npos, ".raw") != 0) {
    why = name + ": a take is named trN_K.raw (track N, take K)";
    return LoopFileKind::none;
  }
  if (track_number < 1 || track_number > track_count) {
    why = name + ": " + tracks_text();
    return LoopFileKind::none;
  }
  at = 0;
  if (!skip(dir, at, "sess") || !read_number(dir, at, session) || at != dir.size()) {
    why = name + ": a take lives in a session directory, sessS/trN_K.raw";
    return LoopFileKind::none;
  }
  char canonical[track_name_max];
  take_file_name(canonical, session, track_number, take_number);
  if (dir + "/" + name == canonical) return LoopFileKind::take;
  why = dir + "/" + name + ": the looper spells that file " + canonical;
  return LoopFileKind::none;
}

}  // namespace

LoopFileKind loop_file_kind(const std::string& path, std::string& why) {
  why.clear();
  const std::string name = base_name(path);
  if (name.size() > 4 && name.compare(name.size() - 4, 4, ".raw") == 0) return take(path, why);
  return track_or_slot(name, why);
}
