#include "host/jack_transport.h"

#include <cerrno>
#include <algorithm>
#include <cmath>

#include "core/constants.h"
#include "config/config.h"
#include "drums/drum_machine.h"
#include "engine/engine.h"
#include "engine/track.h"
#include "host/jack_host.h"
#include "midi/transport_clock.h"

namespace {

constexpr double lead_ticks_per_beat = 1920.0;
constexpr int32_t lead_beats_per_bar = drum_steps_per_measure / drum_steps_per_beat;
constexpr int32_t lead_bars_per_pattern = drum_steps / drum_steps_per_measure;

// The drums as the timebase callback publishes them: written by the process callback at the
// end of each period, read by the timebase callback right after it on the same thread. Atomic
// for the report on the main thread.
struct LeadSnapshot {
  std::atomic<int32_t> counter{0};      // sample within the pattern at the next period's start
  std::atomic<int32_t> loop_length{1};  // samples in the pattern
  std::atomic<double> pattern_beats{double(lead_bars_per_pattern * lead_beats_per_bar)};
  std::atomic<int32_t> beats_per_bar{lead_beats_per_bar};
  std::atomic<int64_t> patterns_done{0};  // whole patterns played since the drums started
  std::atomic<double> bpm{double(drum_bpm_default)};
  int32_t previous_counter = 0;  // process thread only
};
LeadSnapshot lead;

TransportPosition position_of(jack_transport_state_t state, const jack_position_t& pos) {
  TransportPosition p{};
  p.rolling = state == JackTransportRolling;
  p.bbt_valid = (pos.valid & JackPositionBBT) != 0;
  p.frame_rate = pos.frame_rate;
  if (p.bbt_valid) {
    p.bar = pos.bar;
    p.beat = pos.beat;
    p.tick = pos.tick;
    p.beats_per_bar = double(pos.beats_per_bar);
    p.ticks_per_beat = pos.ticks_per_beat;
    p.beats_per_minute = pos.beats_per_minute;
  }
  return p;
}

// Bar, beat and tick of the leader (the drums, or the clock-out track) at the start of the
// period JACK asks about.
void timebase(jack_transport_state_t, jack_nframes_t, jack_position_t* pos, int, void*) {
  const double bpm = lead.bpm.load(std::memory_order_relaxed);
  const double pattern_beats = lead.pattern_beats.load(std::memory_order_relaxed);
  const int32_t beats_per_bar = std::max(1, lead.beats_per_bar.load(std::memory_order_relaxed));
  const double beat_frames =
      double(lead.loop_length.load(std::memory_order_relaxed)) / std::max(1.0, pattern_beats);
  const double beats_total =
      double(lead.patterns_done.load(std::memory_order_relaxed)) * pattern_beats +
      (beat_frames > 0 ? double(lead.counter.load(std::memory_order_relaxed)) / beat_frames : 0);
  const auto beats = int64_t(beats_total);
  const int64_t bars = beats / beats_per_bar;
  pos->valid = JackPositionBBT;
  pos->beats_per_bar = float(beats_per_bar);
  pos->beat_type = 4;
  pos->ticks_per_beat = lead_ticks_per_beat;
  pos->beats_per_minute = bpm;
  pos->bar = int32_t(bars + 1);
  pos->beat = int32_t(beats % beats_per_bar + 1);
  pos->tick = int32_t((beats_total - double(beats)) * lead_ticks_per_beat);
  if (pos->tick >= int32_t(lead_ticks_per_beat)) pos->tick = int32_t(lead_ticks_per_beat) - 1;
  pos->bar_start_tick = double(bars) * beats_per_bar * lead_ticks_per_beat;
  transport_shared.bar.store(pos->bar, std::memory_order_relaxed);
  transport_shared.beat.store(pos->beat, std::memory_order_relaxed);
}

bool take_timebase(bool force, const char** why) {
  const int result = jack_set_timebase_callback(host.client, force ? 0 : 1, timebase, nullptr);
  if (result == 0) {
    transport_shared.leading.store(1);
    return true;
  }
  *why = result == EBUSY ? "another program is the timebase master (--transport master-force "
                           "takes over)"
                         : "JACK refused the timebase";
  return false;
}

void release_timebase() {
  jack_release_timebase(host.client);
  transport_shared.leading.store(0);
}

void roll() {
  jack_transport_locate(host.client, 0);
  jack_transport_start(host.client);
}

void stop() { jack_transport_stop(host.client); }

}  // namespace

TransportHooks jack_transport_calls() {
  TransportHooks calls;
  calls.take_timebase = take_timebase;
  calls.release_timebase = release_timebase;
  calls.roll = roll;
  calls.stop = stop;
  return calls;
}

void jack_transport_period(jack_nframes_t frames, ClockInputEvents& events) {
  if (transport_mode() != TransportMode::follow) {
    transport_follow_end(transport_follow, events);
    return;
  }
  jack_position_t pos;
  const jack_transport_state_t state = jack_transport_query(host.client, &pos);
  transport_follow_period(transport_follow, position_of(state, pos), frames, events);
}

void jack_transport_lead_snapshot() {
  if (transport_mode() != TransportMode::master) return;
  const DrumTiming& timing = drums.timing[drums.active];
  const DrumTransport& tr = drums.transport;
  // While the drums run they lead; otherwise the clock-out track does while it plays with
  // pulses, at the tempo its MIDI clock out has (its loop is one measure, or a power of two of
  // them: pulses a 24th of a beat apart).
  const int32_t t = engine.clock_out_track;
  const bool track_leads = tr.running == 0 && t >= 0 && t < track_count &&
                           (engine_state.play_list & (1u << t)) != 0 &&
                           engine.clock_pulse_count[t] > 0 && tracks[t].length > 0;
  int32_t counter = tr.running != 0 ? tr.counter : 0;
  int32_t length = timing.loop_length;
  double pattern_beats = lead_bars_per_pattern * lead_beats_per_bar;
  int32_t beats_per_bar = lead_beats_per_bar;
  if (track_leads) {
    counter = int32_t(tracks[t].position);
    length = int32_t(tracks[t].length);
    pattern_beats = double(engine.clock_pulse_count[t]) / drum_steps_per_beat;
    beats_per_bar = config.beats_per_measure >= 1 ? config.beats_per_measure : lead_beats_per_bar;
  }
  if (tr.running == 0 && !track_leads) {
    lead.patterns_done.store(0, std::memory_order_relaxed);
  } else if (counter < lead.previous_counter) {
    lead.patterns_done.fetch_add(1, std::memory_order_relaxed);
  }
  lead.previous_counter = counter;
  lead.counter.store(counter, std::memory_order_relaxed);
  lead.loop_length.store(length > 0 ? length : 1, std::memory_order_relaxed);
  lead.pattern_beats.store(pattern_beats, std::memory_order_relaxed);
  lead.beats_per_bar.store(beats_per_bar, std::memory_order_relaxed);
  const double bpm = length > 0 ? double(frames_per_second) * 60.0 * pattern_beats / double(length)
                                : double(drum_bpm_default);
  lead.bpm.store(bpm, std::memory_order_relaxed);
  transport_shared.bpm_hundredths.store(std::llround(bpm * 100), std::memory_order_relaxed);
}
