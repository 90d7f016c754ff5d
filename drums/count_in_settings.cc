#include "drums/count_in_settings.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "core/atomic_file.h"
#include "core/console.h"
#include "core/text_lines.h"

CountInStore count_in_store;

namespace {

constexpr char first_line[] = "ZT4 count-in settings 1";
constexpr const char* click_words[] = {"off", "count-in", "always"};
constexpr int click_word_count = 3;
constexpr int line_max = 64;

int rec_length_index(int32_t bars) {
  for (int i = 0; i < rec_length_choice_count; ++i)
    if (rec_length_choices[i] == bars) return i;
  return -1;
}

// "NAME N" with nothing after the number.
bool read_number(const char* line, const char* name, int& value) {
  const size_t n = strlen(name);
  if (strncmp(line, name, n) != 0 || line[n] != ' ') return false;
  int used = -1;
  return sscanf(line + n + 1, "%d%n", &value, &used) == 1 && line[n + 1 + used] == '\0';
}

void store_word(int16_t& word, int32_t value) {
  std::atomic_ref<int16_t>(word).store(int16_t(value), std::memory_order_relaxed);
}

void touch() {
  count_in_store.dirty = 1;
  count_in_store.countdown = count_in_save_delay;
}

// Takes decoded settings as the live ones.
void apply(const CountInSettings& s) {
  CountInStore& c = count_in_store;
  store_word(c.live.rec_length, s.rec_length);
  store_word(c.live.count_in_bars, s.count_in_bars);
  store_word(c.live.click, s.click);
  c.rec_length_choice = int16_t(rec_length_index(s.rec_length));
}

int read_settings_file(char (&text)[count_in_text_max]) {
  const int fd = open(count_in_file_name, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return errno == ENOENT ? -1 : 0;
  int total = 0;
  while (total < count_in_text_max) {
    const ssize_t n = read(fd, text + total, size_t(count_in_text_max - total));
    if (n <= 0) break;
    total += int(n);
  }
  close(fd);
  return total;
}

}  // namespace

int count_in_encode(const CountInSettings& s, char (&out)[count_in_text_max]) {
  const int click = s.click >= 0 && s.click < click_word_count ? s.click : 0;
  return snprintf(out, sizeof out, "%s\nrec_length %d\ncount_in_bars %d\nclick %s\n", first_line,
                  int(s.rec_length), int(s.count_in_bars), click_words[click]);
}

CountInFault count_in_decode(const char* text, int length, CountInSettings& settings) {
  const char* at = text;
  const char* end = text + length;
  char line[line_max];
  if (!next_text_line(at, end, line) || strcmp(line, first_line) != 0) return "not a count-in file";
  CountInSettings d{};
  int value = 0;
  if (!next_text_line(at, end, line) || !read_number(line, "rec_length", value))
    return "no rec_length line";
  if (rec_length_index(value) < 0) return "rec_length is not 0, 1, 2, 4, 8 or 16";
  d.rec_length = int16_t(value);
  if (!next_text_line(at, end, line) || !read_number(line, "count_in_bars", value))
    return "no count_in_bars line";
  if (value < 0 || value > count_in_bars_max) return "count_in_bars is not 0, 1 or 2";
  d.count_in_bars = int16_t(value);
  if (!next_text_line(at, end, line) || strncmp(line, "click ", 6) != 0) return "no click line";
  int click = -1;
  for (int i = 0; i < click_word_count; ++i)
    if (strcmp(line + 6, click_words[i]) == 0) click = i;
  if (click < 0) return "click is not off, count-in or always";
  d.click = int16_t(click);
  if (at != end) return "text after the click line";
  settings = d;
  return nullptr;
}

bool set_rec_length(int32_t bars) {
  if (rec_length_index(bars) < 0) return false;
  CountInSettings s = count_in_store.live;
  s.rec_length = int16_t(bars);
  apply(s);
  touch();
  return true;
}

bool set_count_in_bars(int32_t bars) {
  if (bars < 0 || bars > count_in_bars_max) return false;
  CountInSettings s = count_in_store.live;
  s.count_in_bars = int16_t(bars);
  apply(s);
  touch();
  return true;
}

bool set_click(int32_t mode) {
  if (mode < click_off || mode > click_always) return false;
  CountInSettings s = count_in_store.live;
  s.click = int16_t(mode);
  apply(s);
  touch();
  return true;
}

void count_in_settings_load() {
  char text[count_in_text_max];
  const int length = read_settings_file(text);
  if (length < 0) {
    console_printf("Count-in settings: no %s, defaults used (free length, no count-in, no click)\n",
                   count_in_file_name);
    return;
  }
  CountInSettings s{};
  const CountInFault fault =
      length >= count_in_text_max ? "too long" : count_in_decode(text, length, s);
  if (fault != nullptr) {
    console_printf("Count-in settings file refused: %s, defaults used\n", fault);
    apply(CountInSettings{});
    return;
  }
  apply(s);
  console_printf("Count-in settings loaded: rec length %d, count-in %d, click %s\n",
                 int(s.rec_length), int(s.count_in_bars), click_words[s.click]);
}

int count_in_settings_save() {
  char text[count_in_text_max];
  const int length = count_in_encode(count_in_store.live, text);
  return write_file_atomically(count_in_file_name, text, length);
}

void count_in_settings_service() {
  CountInStore& c = count_in_store;
  if (c.dirty.load() == 0 || --c.countdown > 0) return;
  c.dirty = 0;
  if (count_in_settings_save() != 0) {
    console_printf("Count-in settings save failed\n");
    touch();
  }
}

void count_in_settings_save_pending() {
  if (count_in_store.dirty.load() == 0) return;
  count_in_store.countdown = 1;
  count_in_settings_service();
}

void count_in_settings_reset() {
  apply(CountInSettings{});
  count_in_store.dirty = 0;
  count_in_store.countdown = 0;
}
