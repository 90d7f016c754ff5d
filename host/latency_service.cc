#include "host/latency_service.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/atomic_file.h"
#include "core/console.h"
#include "core/constants.h"
#include "engine/latency.h"
#include "engine/latency_measure.h"

namespace {

constexpr char first_line[] = "ZT4 latency 1";
constexpr int file_max = 128;  // longer than any file of ours
constexpr int line_max = 160;

// Tenths of a millisecond in `frames`, rounded.
int32_t tenths_of_ms(int32_t frames) {
  return int32_t((int64_t(frames) * 10000 + (frames < 0 ? -1 : 1) * frames_per_second / 2) /
                 frames_per_second);
}

// The whole file; -1 when it is missing.
int read_latency_file(char (&buffer)[file_max]) {
  const int fd = open(latency_file_name, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return errno == ENOENT ? -1 : 0;
  int total = 0;
  while (total < file_max) {
    const ssize_t n = read(fd, buffer + total, size_t(file_max - total));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    total += int(n);
  }
  close(fd);
  return total;
}

}  // namespace

int latency_file_encode(int32_t extra, char* out, int size) {
  const int n = snprintf(out, size_t(size), "%s\nextra %d\n", first_line, int(extra));
  return n < size ? n : size - 1;
}

bool latency_file_decode(const char* text, int length, int32_t& extra, const char*& why) {
  char copy[file_max + 1];
  if (length >= file_max) {
    why = "too long";
    return false;
  }
  memcpy(copy, text, size_t(length));
  copy[length] = '\0';
  int value = 0;
  int used = -1;
  const int head = int(sizeof first_line) - 1;
  if (strncmp(copy, first_line, size_t(head)) != 0 || copy[head] != '\n') {
    why = "not a latency file";
    return false;
  }
  if (sscanf(copy + head + 1, "extra %d%n", &value, &used) != 1 ||
      strcmp(copy + head + 1 + used, "\n") != 0) {
    why = "the extra line is not as written";
    return false;
  }
  if (value < -max_compensation_frames || value > max_compensation_frames) {
    why = "extra out of range";
    return false;
  }
  extra = value;
  return true;
}

void latency_startup(const LatencyOptions& options) {
  int32_t extra = 0;
  if (options.has_extra) {
    extra = options.extra;
  } else {
    char text[file_max];
    const int length = read_latency_file(text);
    const char* why = nullptr;
    if (length >= 0 && !latency_file_decode(text, length, extra, why)) {
      console_printf("Latency file refused: %s, extra 0 used\n", why);
      extra = 0;
    }
  }
  latency_set_extra(extra);
  latency_set_enabled(options.compensation);
}

void report_latency() {
  char line[line_max];
  latency_line(line, sizeof line);
  console_printf("%s\n", line);
}

void latency_measure_service() {
  LatencyMeasure& m = latency_measure;
  if (m.state.load(std::memory_order_acquire) != measure_captured) return;
  const RoundTrip r =
      find_round_trip(m.burst, measure_burst_frames, m.capture, measure_capture_frames);
  m.state.store(measure_idle, std::memory_order_release);
  if (r.outcome == RoundTripOutcome::silent) {
    console_printf(
        "Latency measurement failed: nothing came back on INL (connect OUTL to INL "
        "with a cable); nothing changed\n");
    return;
  }
  if (r.outcome == RoundTripOutcome::no_peak) {
    console_printf(
        "Latency measurement failed: no clear peak on INL (noise, no cable from OUTL, "
        "or a round trip beyond %d frames); nothing changed\n",
        int(max_measured_round_trip));
    return;
  }
  const int32_t reported = latency.capture.load() + latency.playback.load();
  const int32_t extra = r.frames - reported;
  const int32_t tenths = tenths_of_ms(r.frames);
  char text[file_max];
  const int length = latency_file_encode(extra, text, sizeof text);
  const bool kept = write_file_atomically(latency_file_name, text, length) == 0;
  const char* why = kept ? "" : strerror(errno);
  latency_set_extra(extra);
  if (kept) {
    console_printf(
        "Latency measured: round trip %d frames (%d.%d ms), JACK reports %d, extra %d "
        "frames kept in %s\n",
        int(r.frames), int(tenths / 10), int(tenths % 10), int(reported), int(extra),
        latency_file_name);
  } else {
    console_printf(
        "Latency measured: round trip %d frames (%d.%d ms), JACK reports %d, extra %d "
        "frames in use, not kept in %s: %s\n",
        int(r.frames), int(tenths / 10), int(tenths % 10), int(reported), int(extra),
        latency_file_name, why);
  }
  report_latency();
}
