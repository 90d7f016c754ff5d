// Per-track playback parameters set from the panel: feedback (the destructive fade target),
// output routing and the speed of the interval and speed controls. Main thread; each takes the
// engine lock for its store.
#pragma once

#include <cstdint>

constexpr int speed_step_max = 64;  // speed b: rate (b + 64) × 2 / 256, so 64 is normal speed

// Track t, percent 0..100 (else status_refused): the stored audio decays toward percent / 100 of
// itself on every pass; 100 keeps it unchanged.
int set_track_feedback(int t, int percent);

// Routes every track whose bit (bit t = track t) is set to dest: 0 main, 1 aux 1, 2 aux 2.
void assign_output(uint8_t mask, int dest);

// Track t, b 0..64 (else status_refused): rate = b + 64, doubled unless the track plays at half
// speed, keeping the direction of play. 64 is normal speed, 0 an octave lower.
int set_track_speed(int t, int b);
