#include "host/jack_host.h"

#include <jack/midiport.h>
#include <jack/thread.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "core/console.h"
#include "core/constants.h"
#include "engine/click.h"
#include "engine/engine.h"
#include "engine/latency.h"
#include "engine/latency_measure.h"
#include "host/audio_thread.h"
#include "host/connections.h"
#include "host/jack_transport.h"
#include "core/lock.h"
#include "core/lock_statistics.h"
#include "midi/clock.h"
#include "midi/midi_queue.h"
#include "midi/transport_clock.h"

Host host;

namespace {

// The MIDIOUT buffer of one period and the frame its next messages are written at.
struct MidiOutTarget {
  void* buffer;
  jack_nframes_t frame;
};

// A message the buffer has no room for now waits for the next period; one longer than even the
// empty buffer holds would wait for ever, so it is dropped and counted.
bool write_midi_out(const uint8_t* bytes, int length, void* target) {
  const MidiOutTarget& out = *static_cast<MidiOutTarget*>(target);
  if (jack_midi_max_event_size(out.buffer) >= size_t(length)) {
    return jack_midi_event_write(out.buffer, out.frame, bytes, size_t(length)) == 0;
  }
  if (jack_midi_get_event_count(out.buffer) > 0) return false;
  midi_out_queue.dropped.fetch_add(1, std::memory_order_relaxed);
  return true;
}

}  // namespace

// The analysis cannot follow the audio thread's hold: it takes the raw mutex for the whole
// period (not engine_lock, whose depth count and statistics are for the other threads) and lets
// it go and takes it back between two runs of frames for a waiting thread
// (engine_hand_over_if_wanted).
// Between those points it holds the engine lock for every frame it runs.
int process_callback(jack_nframes_t nframes, void*) NO_THREAD_SAFETY_ANALYSIS {
  const int64_t began = lock_clock_ns();
  midi_out_register_audio_thread();  // the engine's clock bytes take the lock-free lane
  void* midi_in = jack_port_get_buffer(host.port_midi_in, nframes);
  void* midi_out = jack_port_get_buffer(host.port_midi_out, nframes);
  jack_midi_clear_buffer(midi_out);

  // Real-time bytes of an outside clock reach the follower at their own frames, not through the
  // main loop's parser.
  ClockInputEvents clock_in{};
  // Following the JACK transport, its master's position makes the clock; MIDI clock bytes on
  // the input are then left out.
  jack_transport_period(nframes, clock_in);
  const bool midi_clock = !transport_follows();
  bool input_for_main_loop = false;
  const jack_nframes_t events = jack_midi_get_event_count(midi_in);
  for (jack_nframes_t e = 0; e < events; ++e) {
    jack_midi_event_t event;
    if (jack_midi_event_get(&event, midi_in, e) != 0) continue;
    for (size_t b = 0; b < event.size; ++b) midi_in_put(event.buffer[b]);
    if (midi_clock) clock_input_collect(clock_in, event.time, event.buffer, uint32_t(event.size));
    if (event.size > 0 && event.buffer[0] < midi_byte_clock) input_for_main_loop = true;
  }
  // A message for the main loop is acted on at once rather than after the loop's 50 ms wait.
  // (Real-time bytes alone do not wake it: the engine takes the clock above.)
  if (input_for_main_loop) wake_main_loop();
  // What the buffer has no room for stays queued for the next period.
  MidiOutTarget out_target{midi_out, 0};
  midi_out_drain(write_midi_out, &out_target);

  const auto* in_l = static_cast<const float*>(jack_port_get_buffer(host.port_in_l, nframes));
  const auto* in_r = static_cast<const float*>(jack_port_get_buffer(host.port_in_r, nframes));
  auto* out_l = static_cast<float*>(jack_port_get_buffer(host.port_out_l, nframes));
  auto* out_r = static_cast<float*>(jack_port_get_buffer(host.port_out_r, nframes));
  // The engine lock is held across the period and handed over between two runs of frames
  // (engine_run_begin) to a thread that asked for it, so engine state is consistent between any
  // two runs, as with a lock taken per run, without a lock and unlock per run; a waiter waits
  // at most one run's work (about a microsecond). Hand-overs stop once the period's budget is
  // spent.
  // A round-trip measurement replaces the main output with its burst and keeps the raw INL.
  const bool measuring = latency_measure.state.load(std::memory_order_acquire) == measure_running;
  pthread_mutex_t* mutex = engine_mutex();
  int64_t hand_over_until =
      engine_hand_over_until(began, int64_t(nframes) * 1000000000 / frames_per_second);
  pthread_mutex_lock(mutex);
  for (jack_nframes_t i = 0; i < nframes; ++i) {
    int32_t in[2] = {sample_from_float(in_l[i]), sample_from_float(in_r[i])};
    int32_t out_main[2], out_aux1[2], out_aux2[2];
    if (i % engine_run_frames == 0) {
      if (i != 0) engine_hand_over_if_wanted(mutex, hand_over_until);
      engine_run_begin(int(std::min<jack_nframes_t>(engine_run_frames, nframes - i)));
    }
    clock_input_apply(clock_in, i);
    const int32_t raw_left = in[0];
    engine_process_sample(in, out_main, out_aux1, out_aux2);
    if (measuring) [[unlikely]]
      latency_measure_frame(latency_measure, raw_left, out_main);
    // Clock bytes the frame made leave at that frame.
    out_target.frame = i;
    midi_out_drain_audio_lane(write_midi_out, &out_target);
    out_l[i] = sample_to_float(out_main[0]);
    out_r[i] = sample_to_float(out_main[1]);
  }
  // The click goes to the main output after every frame is formed, so nothing records it.
  if (!measuring) click_mix_period(out_l, out_r, nframes, engine_state.frame_counter);
  jack_transport_lead_snapshot();
  pthread_mutex_unlock(mutex);
  lock_statistics_callback(lock_clock_ns() - began, nframes);
  return 0;
}

void shutdown_callback(void*) { exit(1); }

namespace {

// The wider of two ports' latency ranges in one direction.
jack_latency_range_t pair_range(jack_port_t* a, jack_port_t* b, jack_latency_callback_mode_t mode) {
  jack_latency_range_t ra{}, rb{};
  jack_port_get_latency_range(a, mode, &ra);
  jack_port_get_latency_range(b, mode, &rb);
  return {std::min(ra.min, rb.min), std::max(ra.max, rb.max)};
}

}  // namespace

void host_read_latency() {
  const Host& h = host;
  const jack_latency_range_t capture = pair_range(h.port_in_l, h.port_in_r, JackCaptureLatency);
  const jack_latency_range_t playback = pair_range(h.port_out_l, h.port_out_r, JackPlaybackLatency);
  latency_set_reported(int32_t(capture.max), int32_t(playback.max));
}

// JACK's notification thread, whenever the graph's latencies change. A client with a latency
// callback passes the latencies through itself, as JACK's default would: the outputs carry the
// inputs' capture latency and the inputs the outputs' playback latency (the looper adds none).
void latency_callback(jack_latency_callback_mode_t mode, void*) {
  Host& h = host;
  if (mode == JackCaptureLatency) {
    jack_latency_range_t range = pair_range(h.port_in_l, h.port_in_r, JackCaptureLatency);
    jack_port_set_latency_range(h.port_out_l, JackCaptureLatency, &range);
    jack_port_set_latency_range(h.port_out_r, JackCaptureLatency, &range);
  } else {
    jack_latency_range_t range = pair_range(h.port_out_l, h.port_out_r, JackPlaybackLatency);
    jack_port_set_latency_range(h.port_in_l, JackPlaybackLatency, &range);
    jack_port_set_latency_range(h.port_in_r, JackPlaybackLatency, &range);
  }
  host_read_latency();
}

int xrun_callback(void*) {
  lock_statistics.xruns.fetch_add(1, std::memory_order_relaxed);
  return 0;
}

namespace {
// How to get a server running, for a user who has none.
void print_server_hint(const char* server_name) {
  char name_option[256] = "";
  if (server_name != nullptr) snprintf(name_option, sizeof name_option, "-n %s ", server_name);
  fprintf(stderr,
          "Start a JACK server first: jackd %s-d alsa -d hw:0 -r 48000 for a sound card, "
          "jackd %s-d dummy -r 48000 without one (scripts/run starts one by itself)\n",
          name_option, name_option);
}

struct ThreadStart {
  void* (*function)(void*);
  void* argument;
};

// Every thread of the JACK library starts here: it notes itself, then runs JACK's routine.
void* start_noted_thread(void* start) {
  const ThreadStart s = *static_cast<ThreadStart*>(start);
  delete static_cast<ThreadStart*>(start);
  audio_thread_note_started();
  return s.function(s.argument);
}

int create_noted_thread(pthread_t* thread, const pthread_attr_t* attributes,
                        void* (*function)(void*), void* argument) {
  auto* start = new ThreadStart{function, argument};
  const int result = pthread_create(thread, attributes, start_noted_thread, start);
  if (result != 0) delete start;
  return result;
}

[[noreturn]] void no_ports() {
  fprintf(stderr, "no more JACK ports available\n");
  exit(1);
}
}  // namespace

void host_open(const char* server_name) {
  // The hand-over budget, for experiments: a percentage of the period, or "unbounded".
  if (const char* budget = getenv("ZT4_LOCK_BUDGET"); budget != nullptr) {
    if (const char* why = engine_hand_over_budget_set(budget); why != nullptr) {
      fprintf(stderr, "ZT4_LOCK_BUDGET refused: %s; %d%% of the period used\n", why,
              int(engine_hand_over_budget.load()));
    }
  }
  jack_set_thread_creator(create_noted_thread);
  jack_status_t status;
  // Never the JACK library's auto-start: a server it starts by itself (the ALSA default, seconds
  // of its output) is rarely the one wanted; without one the looper says how to start it.
  host.client = server_name != nullptr
                    ? jack_client_open("ZT4", jack_options_t(JackNoStartServer | JackServerName),
                                       &status, server_name)
                    : jack_client_open("ZT4", JackNoStartServer, &status);
  if (host.client == nullptr) {
    fprintf(stderr, "jack_client_open() failed, status = 0x%2.0x\n", unsigned(status));
    if (status & JackServerFailed) {
      fprintf(stderr, "Unable to connect to JACK server\n");
      print_server_hint(server_name);
    }
    exit(1);
  }
  if (status & JackServerStarted) fprintf(stderr, "JACK server started\n");
  if (status & JackNameNotUnique)
    fprintf(stderr, "unique name `%s' assigned\n", jack_get_client_name(host.client));

  jack_set_process_callback(host.client, process_callback, nullptr);
  jack_on_shutdown(host.client, shutdown_callback, nullptr);
  jack_set_xrun_callback(host.client, xrun_callback, nullptr);
  jack_set_latency_callback(host.client, latency_callback, nullptr);
  console_printf("engine sample rate: %d\n", int(jack_get_sample_rate(host.client)));

  host.port_in_l =
      jack_port_register(host.client, "INL", JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
  host.port_in_r =
      jack_port_register(host.client, "INR", JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
  host.port_out_l =
      jack_port_register(host.client, "OUTL", JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput, 0);
  host.port_out_r =
      jack_port_register(host.client, "OUTR", JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput, 0);
  if (!host.port_in_l || !host.port_in_r || !host.port_out_l || !host.port_out_r) no_ports();
  host.port_midi_in =
      jack_port_register(host.client, "MIDIIN", JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
  host.port_midi_out =
      jack_port_register(host.client, "MIDIOUT", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
  if (!host.port_midi_in || !host.port_midi_out) no_ports();

  jack_set_port_connect_callback(host.client, port_connect_callback, nullptr);
  jack_set_port_registration_callback(host.client, port_registration_callback, nullptr);
}

void host_close() {
  if (host.client == nullptr) return;
  jack_deactivate(host.client);
  jack_client_close(host.client);
  host.client = nullptr;
}
