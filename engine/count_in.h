// The count-in and fixed-length recording: a Rec/Dub press on an empty track while a bar clock
// runs (the drums, an outside MIDI clock, the JACK transport followed) waits for the next bar
// start, counts in the set number of bars, starts the take on the bar start after them and closes
// it by itself the set number of bars later, to the frame. The engine step (count_in_frame,
// audio thread) finds the beats and bars and starts and closes the take; the handlers and the
// idle tick's service (main thread) arm, cancel and report.
#pragma once

#include <cstdint>

#include "core/lock.h"
#include "drums/count_in_settings.h"
#include "engine/engine_word.h"

enum CountInPhase : int32_t {
  count_in_idle = 0,
  count_in_waiting = 1,    // armed: the count starts at the next bar start
  count_in_counting = 2,   // counting the bars in
  count_in_recording = 3,  // the take runs; it closes on a bar start
  count_in_closed = 4,     // the engine closed the take: the service finishes it
  count_in_dropped = 5,    // the track was busy at the take's bar start: nothing recorded
};

struct CountIn {
  EngineWord<int32_t> phase{count_in_idle};
  EngineWord<int32_t> beats_left;  // beats still to count before the take starts (shown)
  int32_t track = -1;              // 0-7
  int32_t count_bars;              // bars counted in
  int32_t bars_to_count;           // count-in bars not yet begun
  int32_t beats_per_bar;
  int32_t take_bars;      // the take's length in bars, 0 free (closed by a press)
  int32_t bars_recorded;  // bar starts passed since the take started
  int32_t close_at_bar;   // a second press: close at the next bar start
  int32_t became_source;  // the armed track took the clock source role (main thread)
  int32_t closed_length;  // the take's length when the engine closed it
};
extern CountIn count_in;

void count_in_reset();

// A bar clock runs: measures are counted from a clock that is followed. Takes the engine lock.
bool bar_clock_running();

// What a press of a record function does about the count-in.
enum class CountInPress {
  not_taken,  // nothing of the count-in applies: the function acts as it always does
  taken,      // armed, cancelled or set to close at the next bar
  no_clock,   // a count-in was asked for but no clock runs: the press records free
};
// Rec/Dub on track t (0-7): cancels a count-in, closes a counted take at the next bar, or arms a
// count-in on an empty track when the settings ask for one and a bar clock runs. Without a clock
// it says so in one line and leaves the press to the plain recording. Main thread.
CountInPress count_in_press(int32_t t);

// Beats still to count before the take starts; 0 when no count-in runs. Any thread.
int32_t count_in_beats();

// Ten-millisecond service (main thread): finishes a take the engine closed, reports a dropped
// one, and gives up a count whose clock stopped.
void count_in_service();

// Engine step, after the drums and the outside clock have signalled this frame's ticks and before
// the recording role runs: beats, bars, the take's start and close, the click's ticks. Only
// called while count_in_wanted() holds.
void count_in_frame() REQUIRES(engine_capability);
// Two loads: nothing else runs per frame while no count-in runs and the click is not always on.
inline bool count_in_wanted() {
  return count_in.phase.load() != count_in_idle || click_mode() == click_always;
}
