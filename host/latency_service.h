// The looper's latency figures between runs and the end of a round-trip measurement: the extra
// kept in .zt4.latency in the data directory, the start-up line and the idle tick's service that
// finds the measured burst and keeps the new extra. Main thread.
#pragma once

#include <cstdint>

constexpr char latency_file_name[] = ".zt4.latency";

// What the command line asks for: an extra in frames (has_extra), compensation on or off.
struct LatencyOptions {
  bool has_extra = false;
  int32_t extra = 0;
  bool compensation = true;
};

// Start-up: the extra from the options, else from .zt4.latency (a damaged file is refused in one
// line and 0 used), and compensation on or off.
void latency_startup(const LatencyOptions& options);

// The file's text for an extra, and the extra a text holds (false, with why, when it holds none).
int latency_file_encode(int32_t extra, char* out, int size);
bool latency_file_decode(const char* text, int length, int32_t& extra, const char*& why);

// Prints the "Latency: ..." line of the figures in use.
void report_latency();

// Idle tick: once a measurement's capture is complete, finds the round trip, prints it and keeps
// the new extra (or says in one line why nothing changed).
void latency_measure_service();
