#include "midi/transport_clock.h"

#include <cmath>
#include <cstdio>

#include "core/console.h"
#include "core/constants.h"

TransportShared transport_shared;
TransportHooks transport_hooks;
TransportFollow transport_follow;

namespace {

constexpr double seconds_per_minute = 60.0;
// How far the master's position may stray from the follower's before it counts as a jump
// (ticks), and the share of the difference taken up in each period otherwise.
constexpr double relocation_ticks = 2.0;
constexpr double pull_share = 1.0 / 32;

// The main thread's memory of what it last said.
struct TransportNotices {
  int32_t follow_state;
  int32_t relocations;
  int64_t bpm_hundredths;
};
TransportNotices notices;

void add_event(ClockInputEvents& events, uint32_t frame, uint8_t code) {
  if (events.count >= clock_input_capacity) {
    events.dropped++;
    return;
  }
  events.frame[events.count] = frame;
  events.byte[events.count] = code;
  events.count++;
}

void publish(TransportFollowState state) {
  transport_shared.follow_state.store(int32_t(state), std::memory_order_relaxed);
}

// A position that holds together: a tempo in range and bar, beat and tick inside their bounds.
bool position_sound(const TransportPosition& p) {
  return std::isfinite(p.beats_per_minute) && p.beats_per_minute >= transport_bpm_min &&
         p.beats_per_minute <= transport_bpm_max && std::isfinite(p.beats_per_bar) &&
         p.beats_per_bar >= 1 && p.beats_per_bar <= transport_beats_per_bar_max &&
         std::isfinite(p.ticks_per_beat) && p.ticks_per_beat >= 1 && p.bar >= 1 && p.beat >= 1 &&
         p.beat <= int32_t(p.beats_per_bar) && p.tick >= 0 && p.tick < p.ticks_per_beat;
}

// The master is gone or faulty: the measure count stops, and the next sound position starts
// afresh.
void lose_master(TransportFollow& follow, ClockInputEvents& events, TransportFollowState state) {
  if (follow.rolling) add_event(events, 0, midi_byte_stop);
  follow = TransportFollow{};
  events.period = 0;
  events.has_period = true;
  publish(state);
}

// A tempo in hundredths of a BPM as "100.00".
void bpm_text(char* text, size_t size, int64_t hundredths) {
  snprintf(text, size, "%s%lld.%02d", hundredths < 0 ? "-" : "",
           static_cast<long long>(std::llabs(hundredths) / 100),
           static_cast<int>(std::llabs(hundredths) % 100));
}

}  // namespace

void transport_clock_reset() {
  transport_shared.mode.store(0, std::memory_order_relaxed);
  transport_shared.follow_state.store(0, std::memory_order_relaxed);
  transport_shared.relocations.store(0, std::memory_order_relaxed);
  transport_shared.bpm_hundredths.store(0, std::memory_order_relaxed);
  transport_shared.bar.store(0, std::memory_order_relaxed);
  transport_shared.beat.store(0, std::memory_order_relaxed);
  transport_shared.leading.store(0, std::memory_order_relaxed);
  transport_follow = TransportFollow{};
  notices = TransportNotices{};
}

TransportMode transport_mode() {
  return TransportMode(transport_shared.mode.load(std::memory_order_relaxed));
}

const char* transport_mode_name(TransportMode mode) {
  switch (mode) {
    case TransportMode::follow: return "follow";
    case TransportMode::master: return "master";
    default: return "off";
  }
}

bool transport_follows() { return transport_mode() == TransportMode::follow; }

int32_t transport_set_mode(int32_t mode, bool force) {
  if (mode < 0 || mode >= transport_mode_count) {
    console_printf("Transport mode %d refused: 0 off, 1 follow, 2 master\n", int(mode));
    return status_refused;
  }
  const auto wanted = TransportMode(mode);
  if (wanted != TransportMode::master && transport_shared.leading.load() != 0 &&
      transport_hooks.release_timebase != nullptr) {
    transport_hooks.release_timebase();
  }
  transport_shared.mode.store(mode, std::memory_order_relaxed);
  switch (wanted) {
    case TransportMode::off: console_printf("Transport: off\n"); break;
    case TransportMode::follow:
      console_printf("Transport: follow the JACK timebase master\n");
      break;
    case TransportMode::master: {
      const char* why = "no JACK client";
      if (transport_hooks.take_timebase != nullptr && transport_hooks.take_timebase(force, &why)) {
        console_printf("Transport: master, the looper is the JACK timebase master\n");
      } else {
        console_printf("Transport: master, but not the timebase master yet: %s\n", why);
      }
      break;
    }
  }
  return status_ok;
}

void transport_follow_period(TransportFollow& follow, const TransportPosition& p, uint32_t frames,
                             ClockInputEvents& events) {
  if (!p.bbt_valid) {
    lose_master(follow, events, TransportFollowState::no_master);
    return;
  }
  // What the master says, shown even when refused (a NaN as 0).
  const double shown =
      std::isfinite(p.beats_per_minute) ? std::fmax(-1e6, std::fmin(1e6, p.beats_per_minute)) : 0;
  transport_shared.bpm_hundredths.store(std::llround(shown * 100), std::memory_order_relaxed);
  transport_shared.bar.store(p.bar, std::memory_order_relaxed);
  transport_shared.beat.store(p.beat, std::memory_order_relaxed);
  transport_shared.tick.store(p.tick, std::memory_order_relaxed);
  transport_shared.ticks_per_beat.store(
      std::isfinite(p.ticks_per_beat) && std::fabs(p.ticks_per_beat) < 1e9
          ? int32_t(p.ticks_per_beat)
          : 0,
      std::memory_order_relaxed);
  if (!position_sound(p)) {
    lose_master(follow, events, TransportFollowState::tempo_refused);
    return;
  }
  const double rate = p.frame_rate > 0 ? double(p.frame_rate) : double(frames_per_second);
  const double ticks_per_frame =
      p.beats_per_minute * clock_pulses_per_beat / (seconds_per_minute * rate);
  events.period = 1.0 / ticks_per_frame;
  events.has_period = true;
  if (!p.rolling) {
    if (follow.rolling) add_event(events, 0, midi_byte_stop);
    follow.rolling = false;
    follow.have_position = false;
    publish(TransportFollowState::stopped);
    return;
  }
  publish(TransportFollowState::rolling);
  if (!follow.rolling) add_event(events, 0, clock_event_roll);
  follow.rolling = true;

  const auto beats_per_bar = int64_t(p.beats_per_bar);
  const int64_t ticks_per_bar = beats_per_bar * clock_pulses_per_beat;
  // Where the master says the period begins, in ticks from bar 1 beat 1 (fractional). Its
  // whole ticks are truncated: half of one is added, so that the pull centres on the truth.
  const double truncated =
      double((int64_t(p.bar) - 1) * beats_per_bar + (p.beat - 1)) * clock_pulses_per_beat +
      p.tick * clock_pulses_per_beat / p.ticks_per_beat;
  const double said = truncated + 0.5 * clock_pulses_per_beat / p.ticks_per_beat;
  double start = said;
  int64_t next = int64_t(std::ceil(truncated));  // a tick the master names exactly is given
  if (follow.have_position) {
    const double run = follow.position + follow.ticks_per_frame * follow.frames;
    if (std::fabs(said - run) <= relocation_ticks) {
      start = run + (said - run) * pull_share;
      next = follow.last_tick + 1;
    } else {
      transport_shared.relocated_bar.store(p.bar, std::memory_order_relaxed);
      transport_shared.relocated_beat.store(p.beat, std::memory_order_relaxed);
      transport_shared.relocations.fetch_add(1, std::memory_order_relaxed);
    }
  }
  for (;; ++next) {
    const double offset = std::ceil((double(next) - start) / ticks_per_frame);
    if (offset >= double(frames)) break;
    const uint32_t frame = offset > 0 ? uint32_t(offset) : 0;
    const uint8_t code = next % ticks_per_bar == 0           ? clock_event_bar_tick
                         : next % clock_pulses_per_beat == 0 ? clock_event_beat_tick
                                                             : clock_event_tick;
    add_event(events, frame, code);
  }
  follow.last_tick = next - 1;
  follow.position = start;
  follow.ticks_per_frame = ticks_per_frame;
  follow.frames = frames;
  follow.have_position = true;
}

void transport_follow_end(TransportFollow& follow, ClockInputEvents& events) {
  if (follow.rolling || follow.have_position || clock_follower.transport_period > 0) {
    lose_master(follow, events, TransportFollowState::idle);
  }
}

void transport_notice_service() {
  const int32_t state = transport_shared.follow_state.load(std::memory_order_relaxed);
  const int32_t relocations = transport_shared.relocations.load(std::memory_order_relaxed);
  const int64_t bpm = transport_shared.bpm_hundredths.load(std::memory_order_relaxed);
  if (transport_mode() != TransportMode::follow) {
    notices.follow_state = state;
    notices.relocations = relocations;
    return;
  }
  const bool tempo_changed =
      bpm != notices.bpm_hundredths && (state == int32_t(TransportFollowState::rolling) ||
                                        state == int32_t(TransportFollowState::tempo_refused));
  char tempo[32];
  bpm_text(tempo, sizeof tempo, bpm);
  char line[200] = "";
  if (state != notices.follow_state || tempo_changed) {
    switch (TransportFollowState(state)) {
      case TransportFollowState::no_master:
        snprintf(line, sizeof line,
                 "Transport: no JACK timebase master; the clock runs on its flywheel\n");
        break;
      case TransportFollowState::tempo_refused:
        snprintf(line, sizeof line,
                 "Transport: the timebase master's position refused (tempo %s BPM, %d to %d "
                 "allowed; bar %d beat %d tick %d of %d); the clock runs on its flywheel\n",
                 tempo, int(transport_bpm_min), int(transport_bpm_max),
                 int(transport_shared.bar.load()), int(transport_shared.beat.load()),
                 int(transport_shared.tick.load()), int(transport_shared.ticks_per_beat.load()));
        break;
      case TransportFollowState::stopped:
        snprintf(line, sizeof line, "Transport: stopped at %s BPM; the measure count stops\n",
                 tempo);
        break;
      case TransportFollowState::rolling:
        snprintf(line, sizeof line, "Transport: following the timebase master at %s BPM\n", tempo);
        break;
      default: break;
    }
    notices.follow_state = state;
    notices.bpm_hundredths = bpm;
  }
  if (line[0] != '\0') console_printf("%s", line);
  if (relocations != notices.relocations) {
    console_printf("Transport: the master relocated to bar %d beat %d\n",
                   int(transport_shared.relocated_bar.load(std::memory_order_relaxed)),
                   int(transport_shared.relocated_beat.load(std::memory_order_relaxed)));
    notices.relocations = relocations;
  }
}

void transport_report_line(char* line, int size) {
  const TransportMode mode = transport_mode();
  char tempo[32];
  bpm_text(tempo, sizeof tempo, transport_shared.bpm_hundredths.load(std::memory_order_relaxed));
  switch (mode) {
    case TransportMode::follow: {
      const auto state = TransportFollowState(transport_shared.follow_state.load());
      if (state == TransportFollowState::rolling || state == TransportFollowState::stopped) {
        snprintf(line, size_t(size), "Transport: follow, %s BPM, bar %d beat %d%s\n", tempo,
                 int(transport_shared.bar.load()), int(transport_shared.beat.load()),
                 state == TransportFollowState::stopped ? ", stopped" : "");
      } else {
        snprintf(line, size_t(size), "Transport: follow, %s\n",
                 state == TransportFollowState::tempo_refused ? "master refused" : "no master");
      }
      break;
    }
    case TransportMode::master:
      if (transport_shared.leading.load() != 0) {
        snprintf(line, size_t(size), "Transport: master, %s BPM, bar %d beat %d\n", tempo,
                 int(transport_shared.bar.load()), int(transport_shared.beat.load()));
      } else {
        snprintf(line, size_t(size), "Transport: master, not the timebase master\n");
      }
      break;
    default: snprintf(line, size_t(size), "Transport: off\n"); break;
  }
}

void transport_drums_started() {
  if (transport_mode() != TransportMode::master) return;
  if (transport_shared.leading.load() == 0) {
    const char* why = "no JACK client";
    if (transport_hooks.take_timebase == nullptr || !transport_hooks.take_timebase(false, &why)) {
      console_printf("Transport: the drums run without leading the transport: %s\n", why);
      return;
    }
  }
  if (transport_hooks.roll != nullptr) transport_hooks.roll();
}

void transport_drums_stopped() {
  if (transport_mode() != TransportMode::master || transport_shared.leading.load() == 0) return;
  if (transport_hooks.stop != nullptr) transport_hooks.stop();
}
