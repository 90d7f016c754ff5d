#include "host/main_loop.h"

#include <time.h>
#include <unistd.h>

#include <cstdlib>

#include "core/console.h"
#include "core/lock.h"
#include "host/idle_services.h"
#include "host/quit.h"
#include "midi/midi_codes.h"

namespace {
constexpr int64_t idle_wait_ns = 50000000;  // 50 ms: a pass at least this often with nothing to do
}

MainLoop main_loop;
MainLoopHooks main_loop_hooks;

void main_loop_reset() {
  MainLoop& m = main_loop;
  m.idle_enabled = 0;
  m.more_idle_work = 0;
  m.idle_depth = 0;
  m.last_idle_ms = 0;
  m.last_quarter = 0;
  m.last_second = 0;
  m.restart_countdown = 0;
  m.ten_ms_countdown = 0;
  main_loop_lock.console_mailbox = 0;
}

int32_t now_ms() {
  timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  // Wraps every 49.7 days; only differences and changes of value are used.
  uint32_t ms = uint32_t(ts.tv_sec) * 1000u + uint32_t(ts.tv_nsec / 1000000);
  return int32_t(ms);
}

void idle_tick() {
  MainLoop& m = main_loop;
  if (main_loop_hooks.midi_autoconnect != nullptr) main_loop_hooks.midi_autoconnect();

  int32_t now = now_ms();
  int32_t elapsed = int32_t(uint32_t(now) - uint32_t(m.last_idle_ms));
  if (elapsed < 0) elapsed = 0;
  m.last_idle_ms = now;

  if (++m.idle_depth > 2) {
    console_printf("IDLE CHECKS ERROR\n");
    --m.idle_depth;
    return;
  }

  if (m.idle_depth == 1) {
    uint32_t quarter = uint32_t(now_ms()) / 250;
    if (quarter != m.last_quarter) {
      m.last_quarter = quarter;
      idle_quarter_service();
    }
    timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    if (uint32_t(ts.tv_sec) != m.last_second) {
      idle_second_service();
      if (main_loop_hooks.connections_second != nullptr) main_loop_hooks.connections_second();
      if (m.restart_countdown > 0 && --m.restart_countdown == 0) exit(0);
      m.last_second = uint32_t(ts.tv_sec);
    }
    idle_input_service();
    idle_config_service();
  }

  m.ten_ms_countdown -= elapsed;
  if (m.ten_ms_countdown <= 0) {
    idle_ten_ms_service();
    m.ten_ms_countdown = 10;
  }

  if (idle_clean_service() != 0) m.more_idle_work = 1;
  idle_track_service();
  --m.idle_depth;
}

void idle_service() {
  if (main_loop.idle_enabled) idle_tick();
}

void console_command(int c) {
  switch (c) {
    case 'm': idle_report_midi(); break;
    case 's': idle_report_looper(); break;
    default: break;
  }
}

void main_loop_pass() {
  MainLoop& m = main_loop;
  if (m.idle_enabled) idle_tick();
  idle_command_service();

  uint32_t mailbox = main_loop_lock.console_mailbox.exchange(0);
  if (mailbox != 0) {
    console_command(int(mailbox & 0xFF));
  } else {
    unsigned char c;
    if (read(STDIN_FILENO, &c, 1) == 1) console_command(c);
  }

  // Dirty blocks, or MIDI input not yet dispatched: the next pass follows at once.
  if (m.more_idle_work || (m.idle_enabled && midi_input_waiting())) {
    m.more_idle_work = 0;
    return;
  }
  const timespec deadline = deadline_after(idle_wait_ns);
  pthread_cond_timedwait(&main_loop_lock.cond, &main_loop_lock.mutex, &deadline);
}

void main_loop_run() {
  while (!quit_requested()) main_loop_pass();
}
