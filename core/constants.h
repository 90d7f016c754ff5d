// What every folder shares: the track count, the frame rate, the version text, the status codes
// that handlers and operations return, and the handler argument that means "no value given".
#pragma once

#include <cstdint>

constexpr int track_count = 8;            // tracks 0..7 inside; users and the protocol say 1..8
constexpr int frames_per_second = 48000;  // the JACK server's rate; every length is in frames
constexpr char zt4_version[] = "V3.07";   // printed at start-up, reported to the remote

// Status codes: 0 success, negative failure.
constexpr int32_t status_ok = 0;
constexpr int32_t status_busy = -1;        // busy, or not found
constexpr int32_t status_no_blocks = -12;  // the audio block pool ran out
constexpr int32_t status_refused = -22;    // wrong state, bad track or argument

// A handler argument meaning no value was given: the handler opens a value entry instead.
constexpr int32_t value_not_given = 30000;
