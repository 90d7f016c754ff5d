#include "host/quit.h"

#include <pthread.h>
#include <time.h>

#include <cstring>

#include "config/config.h"
#include "core/console.h"
#include "core/lock.h"
#include "drums/count_in_settings.h"
#include "drums/drum_bank_file.h"
#include "engine/track.h"
#include "engine/track_ops.h"
#include "engine/transport.h"
#include "host/idle_services.h"
#include "storage/mixer_file.h"
#include "storage/storage_thread.h"

QuitState quit_state;

namespace {

constexpr long poll_ns = 10000000;  // 10 ms between looks at the storage thread

void default_second_signal(int signal_number) {
  signal(signal_number, SIG_DFL);
  raise(signal_number);  // delivered when the handler returns: the default action ends us
}

sigset_t quit_signal_set() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGINT);
  return set;
}

double monotonic_seconds() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return double(now.tv_sec) + double(now.tv_nsec) * 1e-9;
}

// Ends the role of every track that records, overdubs or replaces.
void end_roles() {
  for (int32_t t = 0; t < track_count; ++t) {
    int32_t record, overdub, replace;
    {
      EngineLockGuard lock;
      const EngineState& s = engine_state;
      record = s.record_track;
      overdub = s.overdub_track;
      replace = s.replace_track;
    }
    if (record == t) {
      close_loop(t);   // as a second Rec/Dub press: the loop closes here ...
      end_overdub(t);  // ... and plays, without the overdub that press would start
    } else if (overdub == t) {
      end_overdub(t);
    } else if (replace == t) {
      end_replace(t);
    }
  }
}

// Anything left for the storage thread: a role still ending, a changed track, a configuration,
// the mixer settings.
bool work_left() {
  if (config_dirty.load() != 0) return true;
  if (!mixer_save_now()) return true;
  EngineLockGuard lock;
  if (any_role_active()) return true;
  for (int32_t t = 0; t < track_count; ++t)
    if (tracks[t].length != 0 && tracks[t].audio_changed != 0) return true;
  return unsaved_tracks() != 0;
}

// Names every track whose save failed, with the reason the storage thread met last.
void report_unsaved() {
  const uint32_t unsaved = unsaved_tracks();
  for (int32_t t = 0; t < track_count; ++t) {
    if (!(unsaved & (1u << t))) continue;
    console_printf("Quit: track %d not saved: %s\n", int(t + 1),
                   strerror(storage.save_error[t].load()));
  }
}

}  // namespace

void quit_signal_handler(int signal_number) {
  if (quit_state.signal_number.exchange(signal_number) == 0) return;
  void (*second)(int) = quit_state.second_signal;
  (second != nullptr ? second : default_second_signal)(signal_number);
}

void quit_signals_install() {
  const sigset_t set = quit_signal_set();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  struct sigaction action {};
  action.sa_handler = quit_signal_handler;
  sigemptyset(&action.sa_mask);
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGINT, &action, nullptr);
  signal(SIGPIPE, SIG_IGN);
}

void quit_signals_accept() {
  const sigset_t set = quit_signal_set();
  pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
}

bool quit_requested() { return quit_state.signal_number.load() != 0; }

bool quit_save_everything(double seconds) {
  const double deadline = monotonic_seconds() + seconds;
  storage_retry_at_once();  // a save that failed earlier is tried now, not after its back-off
  count_in_settings_save_pending();
  drum_bank_save_pending();
  end_roles();
  // A pass of the storage thread that began after the last time work was left has written it.
  bool clean = false;
  uint32_t clean_since = 0;
  while (monotonic_seconds() < deadline) {
    idle_track_service();  // roles that end at a zero crossing or a fade end here
    idle_config_service();
    if (work_left()) {
      clean = false;
    } else if (!clean) {
      clean = true;
      clean_since = storage.passes.load();
    } else if (storage.passes.load() > clean_since + 1 || !storage.running) {
      return true;
    }
    storage_wake();
    const timespec pause{0, poll_ns};
    nanosleep(&pause, nullptr);
  }
  report_unsaved();
  console_printf("Quit: tracks still unsaved after %d s\n", int(seconds));
  return false;
}

void quit_reset() {
  quit_state.signal_number = 0;
  quit_state.second_signal = nullptr;
}
