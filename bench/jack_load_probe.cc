// jack_load_probe: the load benchmark's own JACK client (bench/jack_load). It plays a two-tone
// test signal on its outputs "out_l" and "out_r", counts the xruns the server reports, and samples
// the server's DSP load every 50 ms. SIGUSR1 opens a measuring window (counters start from zero);
// SIGUSR2 closes it and prints one line:
//   window frames F load_mean M load_max X xruns N
// F is the number of frames the server ran in the window (the audio time), M and X the mean and
// largest DSP load in percent. SIGTERM ends the client.
//   usage: jack_load_probe SERVER_NAME
#include <jack/jack.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstdio>

namespace {

constexpr double frames_per_second = 48000.0;
constexpr double tone_left_hz = 220.0;
constexpr double tone_right_hz = 330.0;
constexpr float tone_amplitude = 0.25f;  // -12 dBFS: the looper's gate stays open
constexpr useconds_t sample_interval_us = 50000;

struct Probe {
  jack_client_t* client = nullptr;
  jack_port_t* out_l = nullptr;
  jack_port_t* out_r = nullptr;
  uint64_t frame = 0;  // audio thread only
  std::atomic<int> xruns{0};
};
Probe probe;

std::atomic<int> window_request{0};  // 1 open, 2 close; set by the signal handlers
std::atomic<bool> quit{false};

int process(jack_nframes_t n, void*) {
  auto* l = static_cast<float*>(jack_port_get_buffer(probe.out_l, n));
  auto* r = static_cast<float*>(jack_port_get_buffer(probe.out_r, n));
  for (jack_nframes_t i = 0; i < n; ++i) {
    const double t = double(probe.frame + i) / frames_per_second;
    l[i] = tone_amplitude * float(std::sin(2.0 * M_PI * tone_left_hz * t));
    r[i] = tone_amplitude * float(std::sin(2.0 * M_PI * tone_right_hz * t));
  }
  probe.frame += n;
  return 0;
}

int on_xrun(void*) {
  probe.xruns.fetch_add(1, std::memory_order_relaxed);
  return 0;
}

void on_signal(int sig) {
  if (sig == SIGUSR1) window_request = 1;
  if (sig == SIGUSR2) window_request = 2;
  if (sig == SIGTERM || sig == SIGINT) quit = true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: jack_load_probe SERVER_NAME\n");
    return 2;
  }
  jack_status_t status;
  probe.client = jack_client_open("loadprobe", jack_options_t(JackServerName | JackNoStartServer),
                                  &status, argv[1]);
  if (probe.client == nullptr) {
    fprintf(stderr, "jack_load_probe: cannot reach JACK server %s\n", argv[1]);
    return 1;
  }
  probe.out_l =
      jack_port_register(probe.client, "out_l", JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput, 0);
  probe.out_r =
      jack_port_register(probe.client, "out_r", JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput, 0);
  if (probe.out_l == nullptr || probe.out_r == nullptr) return 1;
  jack_set_process_callback(probe.client, process, nullptr);
  jack_set_xrun_callback(probe.client, on_xrun, nullptr);
  struct sigaction sa = {};
  sa.sa_handler = on_signal;
  for (int sig : {SIGUSR1, SIGUSR2, SIGTERM, SIGINT}) sigaction(sig, &sa, nullptr);
  if (jack_activate(probe.client) != 0) return 1;
  printf("ready\n");
  fflush(stdout);

  bool open = false;
  double load_sum = 0, load_max = 0;
  long samples = 0;
  int xruns_at_open = 0;
  jack_nframes_t frames_at_open = 0;
  while (!quit) {
    usleep(sample_interval_us);
    const int request = window_request.exchange(0);
    if (request == 1) {
      open = true;
      load_sum = load_max = 0;
      samples = 0;
      xruns_at_open = probe.xruns.load();
      frames_at_open = jack_frame_time(probe.client);
    } else if (request == 2 && open) {
      open = false;
      const jack_nframes_t frames = jack_frame_time(probe.client) - frames_at_open;
      printf("window frames %u load_mean %.2f load_max %.2f xruns %d\n", unsigned(frames),
             samples > 0 ? load_sum / double(samples) : 0.0, load_max,
             probe.xruns.load() - xruns_at_open);
      fflush(stdout);
    }
    if (open) {
      const double load = jack_cpu_load(probe.client);
      load_sum += load;
      if (load > load_max) load_max = load;
      ++samples;
    }
  }
  jack_client_close(probe.client);
  return 0;
}
