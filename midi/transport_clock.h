// The JACK transport as the looper's clock, in either direction. Following: once per process
// period the process thread turns the timebase master's bar, beat and tick position into the
// period's clock ticks (24 per beat, each at its own frame), which reach the clock follower the
// way an outside MIDI clock's bytes do; the master's tempo sets the follower's period. Leading:
// the JACK client publishes the drum machine's tempo and position (while the drums rest, the
// playing clock-out track's) as the timebase master and rolls the transport with the drums. This
// part holds the mode, the follower's arithmetic and the notices; the JACK calls live with the JACK
// client, which installs the hooks below.
#pragma once

#include <atomic>
#include <cstdint>

#include "midi/clock.h"

enum class TransportMode : int32_t { off = 0, follow = 1, master = 2 };
constexpr int32_t transport_mode_count = 3;

// Tempos a timebase master may give; beyond them the master is taken as faulty and the clock
// runs on its flywheel.
constexpr double transport_bpm_min = 20.0;
constexpr double transport_bpm_max = 400.0;
constexpr int32_t transport_beats_per_bar_max = 64;

// The timebase master's position for one period, copied from JACK's position record.
struct TransportPosition {
  bool rolling;
  bool bbt_valid;  // the master supplies bar, beat and tick
  uint32_t frame_rate;
  int32_t bar;   // from 1
  int32_t beat;  // 1..beats_per_bar
  int32_t tick;  // 0..ticks_per_beat - 1
  double beats_per_bar;
  double ticks_per_beat;
  double beats_per_minute;
};

// What the follower made of the master, for the notices and the report.
enum class TransportFollowState : int32_t {
  idle = 0,       // not following
  no_master,      // no master supplies bar and beat
  tempo_refused,  // a tempo out of range, or a position that does not hold together
  stopped,        // a master, transport stopped
  rolling,        // a master, transport rolling: ticks flow
};

// The follower's bookkeeping across periods; the process thread's alone.
// A master's bar, beat and tick may lag by a period now and then (a master late in its cycle
// leaves the previous position standing), so the follower runs its own position at the master's
// tempo and pulls it a fraction of the way toward the master's each period; a jump of more than
// a couple of ticks is a relocation, taken at once.
struct TransportFollow {
  bool have_position;      // position and last_tick run
  double position;         // ticks (24 per beat, from bar 1 beat 1) at the period's start
  double ticks_per_frame;  // the tempo of the last period
  uint32_t frames;         // the length of the last period
  int64_t last_tick;       // the last tick given (or passed over)
  bool rolling;            // the transport rolled in the last period
};

// Shared words: the mode (set by the main thread, read by the process thread and the drums),
// and what the process thread saw, for the main thread's notices and report.
struct TransportShared {
  std::atomic<int32_t> mode{0};
  std::atomic<int32_t> follow_state{0};
  std::atomic<int32_t> relocations{0};    // jumps of the master's position
  std::atomic<int32_t> relocated_bar{0};  // where the last one landed
  std::atomic<int32_t> relocated_beat{0};
  std::atomic<int64_t> bpm_hundredths{0};  // the master's tempo as given (follow), or led
  std::atomic<int32_t> bar{0};             // the master's bar and beat at the last period
  std::atomic<int32_t> beat{0};
  std::atomic<int32_t> tick{0};  // of ticks_per_beat, as the master gave them
  std::atomic<int32_t> ticks_per_beat{0};
  std::atomic<int32_t> leading{0};  // the looper is the timebase master now
};

// The JACK client's entries for the main thread (installed at start-up; null in unit tests).
struct TransportHooks {
  // Becomes timebase master (unconditionally when force is set); false with a reason in
  // `why` (a constant string) when JACK refuses.
  bool (*take_timebase)(bool force, const char** why) = nullptr;
  void (*release_timebase)() = nullptr;
  void (*roll)() = nullptr;  // locate to the start and roll
  void (*stop)() = nullptr;
};

extern TransportShared transport_shared;
extern TransportHooks transport_hooks;
extern TransportFollow transport_follow;

// Start-of-program values: off, nothing seen. The hooks stay.
void transport_clock_reset();

TransportMode transport_mode();
const char* transport_mode_name(TransportMode mode);  // "off", "follow", "master"

// Main thread: switches the mode (the command line at start-up, function 135 later), taking or
// releasing the timebase as needed; force takes the timebase over from another master. Prints
// one line saying what became of it. status_refused for a mode out of range.
int32_t transport_set_mode(int32_t mode, bool force);
// Whether the clock follower takes its ticks from the transport (follow mode): the drums then
// leave the follower alone, as they do for an outside MIDI clock.
bool transport_follows();

// Process thread: the ticks of one period of `frames` frames for a master at `position`, added
// to events (with the period the master's tempo sets). Clears the follower's state and stops
// the measure count when the master goes away or its tempo is refused.
void transport_follow_period(TransportFollow& follow, const TransportPosition& position,
                             uint32_t frames, ClockInputEvents& events);

// Process thread, when the mode is no longer follow: the follower lets go of the transport
// (the measure count stops, the master's period is dropped). Cheap when already let go.
void transport_follow_end(TransportFollow& follow, ClockInputEvents& events);

// Main thread, from the idle tick: one line whenever what the follower sees changes ("Transport:
// following the timebase master at 100.00 BPM", "Transport: the timebase master is gone; the
// clock runs on its flywheel", ...).
void transport_notice_service();

// The report's line: "Transport: follow, 100.00 BPM, bar 3 beat 2" and the like.
void transport_report_line(char* line, int size);

// The drums' start and stop in master mode: take the timebase again if needed, roll or stop.
void transport_drums_started();
void transport_drums_stopped();
