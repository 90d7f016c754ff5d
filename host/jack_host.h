// The JACK side of the process host: the client "ZT4", its six ports and the process callback.
// The process callback runs in JACK's real-time thread.
#pragma once

#include <jack/jack.h>

struct Host {
  jack_client_t* client = nullptr;
  jack_port_t* port_midi_in = nullptr;
  jack_port_t* port_midi_out = nullptr;
  jack_port_t* port_in_l = nullptr;
  jack_port_t* port_in_r = nullptr;
  jack_port_t* port_out_l = nullptr;
  jack_port_t* port_out_r = nullptr;
};

extern Host host;

// Converts a float sample (full scale ±1.0) to the engine's integer format (±2^24), by truncation.
inline int32_t sample_from_float(float x) { return int32_t(x * 16777216.0f); }
inline float sample_to_float(int32_t x) { return float(x) * 5.9604645e-08f; }

int process_callback(jack_nframes_t nframes, void* arg);
void shutdown_callback(void* arg);
void latency_callback(jack_latency_callback_mode_t mode, void* arg);
// Takes INL/INR's capture and OUTL/OUTR's playback latency (the maximum of each range) as the
// reported figures of the latency compensation. Any thread but the audio thread.
void host_read_latency();

// Opens the client on the named JACK server (null: JACK's default), registers callbacks and
// ports (start-up steps 2-8); exits 1 on failure, saying how to start a server when none answered.
void host_open(const char* server_name);
// Quitting: deactivates and closes the client (the process callback runs no more).
void host_close();
