#include "engine/count_in.h"

#include "config/config.h"
#include "core/console.h"
#include "drums/count_in_settings.h"
#include "drums/drum_machine.h"
#include "engine/click.h"
#include "engine/timing.h"
#include "engine/track_ops.h"
#include "engine/transport.h"
#include "midi/clock.h"

CountIn count_in;

namespace {

constexpr int32_t default_beats_per_bar = 4;

// Beats in the current bar of the clock: the ticks of the last whole measure, else the
// configured beats per measure.
int32_t beats_per_bar(const ClockFollower& f) {
  if (f.clocks_last_measure >= clock_pulses_per_beat)
    return f.clocks_last_measure / clock_pulses_per_beat;
  return config.beats_per_measure >= 1 ? config.beats_per_measure : default_beats_per_bar;
}

// Caller holds the engine lock (or is the engine step).
bool bar_clock_running_locked() {
  const ClockFollower& f = clock_follower;
  if (!(f.clock_period > 0) || f.clock_lock < 0) return false;
  const bool drums_clock = drums.transport.running != 0 && config.drums_clock_out != 2;
  return drums_clock || f.outside_running != 0;
}

// The take's first frame: the track must still be free for it.
void start_take(CountIn& c) REQUIRES(engine_capability) {
  EngineState& s = engine_state;
  const int32_t t = c.track;
  c.beats_left = 0;
  if (any_role_active() || on_list(s.play_list, t) || tracks[t].length != 0) {
    c.phase = count_in_dropped;
    return;
  }
  punch_in_now(s.record_track, t);
  c.bars_recorded = 0;
  c.phase = count_in_recording;
}

// Back to idle; the armed track gives back the clock source role it took. Engine lock held.
void disarm(CountIn& c) REQUIRES(engine_capability) {
  EngineState& s = engine_state;
  if (c.became_source && s.clock_source_track == c.track && tracks[c.track].length == 0)
    s.clock_source_track = -1;
  c.phase = count_in_idle;
  c.beats_left = 0;
  c.became_source = 0;
}

}  // namespace

void count_in_reset() {
  count_in.phase = count_in_idle;
  count_in.beats_left = 0;
  count_in.track = -1;
  count_in.count_bars = 0;
  count_in.bars_to_count = 0;
  count_in.beats_per_bar = 0;
  count_in.take_bars = 0;
  count_in.bars_recorded = 0;
  count_in.close_at_bar = 0;
  count_in.became_source = 0;
  count_in.closed_length = 0;
  click_reset();
}

bool bar_clock_running() {
  EngineLockGuard lock;
  return bar_clock_running_locked();
}

void count_in_frame() {
  CountIn& c = count_in;
  const ClockFollower& f = clock_follower;
  const int32_t phase = c.phase;
  if (phase == count_in_recording && engine_state.record_track != c.track) {
    c.phase = count_in_idle;  // closed, stopped or abandoned by other means
    return;
  }
  if (f.pending_ticks == 0 || f.clocks_in_measure < 1 ||
      (f.clocks_in_measure - 1) % clock_pulses_per_beat != 0) {
    return;
  }
  // A beat begins in this frame; a bar when it is the measure's first tick.
  const bool bar = f.clocks_in_measure == 1;
  if (phase == count_in_waiting && bar) {
    c.beats_per_bar = beats_per_bar(f);
    if (c.count_bars == 0) {
      start_take(c);
    } else {
      c.bars_to_count = c.count_bars - 1;
      c.beats_left = c.count_bars * c.beats_per_bar;
      c.phase = count_in_counting;
    }
  } else if (phase == count_in_counting) {
    if (!bar) {
      if (c.beats_left > 1) c.beats_left = c.beats_left - 1;
    } else if (c.bars_to_count > 0) {
      // A tempo or metre change shows in the beats left of the next bar.
      c.bars_to_count--;
      c.beats_per_bar = beats_per_bar(f);
      c.beats_left = (c.bars_to_count + 1) * c.beats_per_bar;
    } else {
      start_take(c);
    }
  } else if (phase == count_in_recording && bar) {
    c.bars_recorded++;
    if (c.close_at_bar || (c.take_bars > 0 && c.bars_recorded >= c.take_bars)) {
      close_free_loop_now(c.track);
      c.closed_length = tracks[c.track].length;
      c.phase = count_in_closed;
    }
  }
  const int16_t mode = click_mode();
  if (mode == click_always || (mode == click_count_in && c.phase == count_in_counting))
    click_start(engine_state.frame_counter, bar);
}

CountInPress count_in_press(int32_t t) {
  CountIn& c = count_in;
  const CountInSettings settings = count_in_store.live;
  {
    EngineLockGuard lock;
    const int32_t phase = c.phase;
    if (phase == count_in_waiting || phase == count_in_counting) {
      disarm(c);
      console_printf("Count-in cancelled: track %d stays empty\n", c.track + 1);
      return CountInPress::taken;
    }
    if (phase == count_in_recording && engine_state.record_track == c.track) {
      c.close_at_bar = 1;
      console_printf("Track %d closes at the next bar start\n", c.track + 1);
      return CountInPress::taken;
    }
    if (settings.rec_length == 0 && settings.count_in_bars == 0) return CountInPress::not_taken;
    if (!valid_track_index(t) || tracks[t].length != 0 || any_role_active() ||
        on_list(engine_state.play_list, t) || on_list(engine_state.muted_list, t)) {
      return CountInPress::not_taken;
    }
  }
  if (!bar_clock_running()) {
    console_printf(
        "Count-in off: no clock runs (start the drums, MIDI clock or JACK transport); "
        "recording free\n");
    return CountInPress::no_clock;
  }
  bool became_source = false;
  if (prepare_record(t, sync_free, 0, &became_source) != 0) return CountInPress::not_taken;
  {
    EngineLockGuard lock;
    c.track = t;
    c.count_bars = settings.count_in_bars;
    c.take_bars = settings.rec_length;
    c.close_at_bar = 0;
    c.bars_recorded = 0;
    c.closed_length = 0;
    c.became_source = became_source ? 1 : 0;
    c.beats_per_bar = beats_per_bar(clock_follower);
    c.beats_left = c.count_bars * c.beats_per_bar;
    c.phase = count_in_waiting;
  }
  if (settings.rec_length > 0) {
    console_printf("Count-in: track %d records %d bar%s after %d bar%s of count-in\n", t + 1,
                   int(settings.rec_length), settings.rec_length == 1 ? "" : "s",
                   int(settings.count_in_bars), settings.count_in_bars == 1 ? "" : "s");
  } else {
    console_printf("Count-in: track %d records after %d bar%s of count-in until closed\n", t + 1,
                   int(settings.count_in_bars), settings.count_in_bars == 1 ? "" : "s");
  }
  return CountInPress::taken;
}

int32_t count_in_beats() {
  const int32_t phase = count_in.phase.load();
  if (phase != count_in_waiting && phase != count_in_counting) return 0;
  return count_in.beats_left.load();
}

void count_in_service() {
  CountIn& c = count_in;
  if (c.phase.load() == count_in_idle) return;
  int32_t phase, t, length, bars;
  {
    EngineLockGuard lock;
    phase = c.phase;
    t = c.track;
    length = c.closed_length;
    bars = c.bars_recorded;
    if (phase == count_in_closed) {
      c.phase = count_in_idle;
      c.became_source = 0;
    } else if (phase == count_in_idle || bar_clock_running_locked()) {
      if (phase != count_in_dropped) return;  // still counting, or recording
      disarm(c);
    } else if (phase == count_in_recording) {
      c.phase = count_in_idle;  // the take goes on as a free one
    } else {
      disarm(c);
    }
  }
  switch (phase) {
    case count_in_closed:
      build_clock_pulses(t, length);
      console_printf("Track %d closed after %d bar%s: %d frames\n", t + 1, int(bars),
                     bars == 1 ? "" : "s", int(length));
      break;
    case count_in_dropped:
      console_printf("Count-in dropped: track %d was taken before its bar start\n", t + 1);
      break;
    case count_in_recording:
      console_printf("Count-in: the clock stopped; track %d records on until closed\n", t + 1);
      break;
    default: console_printf("Count-in cancelled: the clock stopped\n"); break;
  }
}
