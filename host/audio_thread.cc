#include "host/audio_thread.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "core/console.h"

AudioThread audio_thread;

namespace {
// In /proc/self/task/TID/stat, after the ")" that ends the name: field 3 is the state, minflt is
// field 10 and majflt field 12.
constexpr int minor_field = 10;
constexpr int major_field = 12;
constexpr int first_field_after_name = 3;
}  // namespace

void audio_thread_note_started() {
  AudioThread& a = audio_thread;
  const int32_t entry = a.started.fetch_add(1);
  if (entry >= jack_threads_max) return;
  a.threads[entry] = pthread_self();
  a.tids[entry].store(int32_t(syscall(SYS_gettid)), std::memory_order_release);
}

void audio_thread_set_process_thread(pthread_t thread) {
  audio_thread.process_thread = thread;
  audio_thread.process_thread_known = true;
}

int32_t audio_thread_tid() {
  const AudioThread& a = audio_thread;
  if (!a.process_thread_known) return 0;
  const int32_t entries = a.started.load();
  for (int32_t i = 0; i < entries && i < jack_threads_max; i++) {
    const int32_t tid = a.tids[i].load(std::memory_order_acquire);
    if (tid != 0 && pthread_equal(a.threads[i], a.process_thread)) return tid;
  }
  return 0;
}

PageFaults audio_thread_faults() {
  PageFaults faults;
  const int32_t tid = audio_thread_tid();
  if (tid == 0) return faults;
  char path[64];
  snprintf(path, sizeof path, "/proc/self/task/%d/stat", int(tid));
  FILE* f = fopen(path, "r");
  if (f == nullptr) return faults;
  char line[1024];
  const bool read = fgets(line, sizeof line, f) != nullptr;
  fclose(f);
  if (!read) return faults;
  const char* p = strrchr(line, ')');  // the name may itself hold blanks and parentheses
  if (p == nullptr) return faults;
  p++;
  for (int field = first_field_after_name; field <= major_field && p != nullptr; field++) {
    while (*p == ' ') p++;
    if (field == minor_field) faults.minor = strtoll(p, nullptr, 10);
    if (field == major_field) faults.major = strtoll(p, nullptr, 10);
    p = strchr(p, ' ');
  }
  return faults;
}

void report_audio_thread_faults() {
  const PageFaults faults = audio_thread_faults();
  console_printf("Audio thread page faults: minor %d, major %d\n", int(faults.minor),
                 int(faults.major));
}

void audio_thread_reset() {
  AudioThread& a = audio_thread;
  for (auto& tid : a.tids) tid.store(0);
  a.started.store(0);
  a.process_thread_known = false;
}
