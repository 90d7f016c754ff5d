#include "host/statistics.h"

#include <cstdint>

#include "core/console.h"
#include "core/constants.h"
#include "core/lock.h"
#include "core/lock_statistics.h"
#include "engine/count_in.h"
#include "engine/engine.h"
#include "engine/track.h"
#include "midi/clock.h"
#include "midi/transport_clock.h"

namespace {

constexpr int frames_per_tenth = 4800;
constexpr int capture_frames = capture_ring_words / 2;
constexpr int midi_error_scale = 16;  // midi_error holds the smoothed error × 16
constexpr int drift_entries_per_line = 16;
constexpr double frames_per_minute = 60.0 * frames_per_second;  // 2880000
constexpr int32_t min_diff_reset = 1000000;
constexpr const char* indent = "          ";  // ten blanks

// Everything the reports show from the track records, copied under the engine lock so that
// words the audio thread keeps changing (position, loop count, levels, peaks) are consistent.
struct TrackSnapshot {
  Track tracks[track_count];
  int32_t duplicate_level[track_count][2];  // the fading voice's current levels
};

void snapshot_tracks(TrackSnapshot& s) {
  for (int n = 0; n < track_count; n++) {
    s.tracks[n] = tracks[n];
    s.duplicate_level[n][0] = fading_voices[n].current_level[0];
    s.duplicate_level[n][1] = fading_voices[n].current_level[1];
  }
}

// A double shown as an integer: truncated toward zero, clamped to the 32-bit range.
int32_t truncate_to_int(double value) {
  if (!(value > -2147483648.0)) return value < 0 ? INT32_MIN : 0;  // also catches NaN
  if (value >= 2147483647.0) return INT32_MAX;
  return int32_t(value);
}

// " Track %d: len %d (%d.%d sec) pos %d, vsp %d" — shared by both reports.
void print_track_head(int n, const Track& t) {
  int32_t length = t.length;
  console_printf(" Track %d: len %d (%d.%d sec) pos %d, vsp %d", n + 1, length,
                 length / frames_per_second, (length / frames_per_tenth) % 10, int32_t(t.position),
                 t.vsp);
}

void print_track_flags(int n, const Track& t) {
  if (t.multiple != 0) console_printf(", x%d", t.multiple);
  if (t.trigger_position >= 0)
    console_printf(", TRIGGER %d %d", t.trigger_position, t.trigger_argument);
  if (n == engine_state.clock_source_track) {
    console_printf(", is clk src");
  } else if (t.clock_source >= 0) {
    console_printf(", clk src %d", t.clock_source + 1);
  } else if (t.clock_source == -2) {
    console_printf(", midi error %d, loops %d", t.midi_error / midi_error_scale, t.loop_count);
  }
  uint32_t bit = 1u << n;
  if (n == engine_state.record_track) console_printf(", RECORD");
  if (n == engine_state.overdub_track) console_printf(", OVERDUB");
  if (n == engine_state.replace_track) console_printf(", REPLACE");
  if ((engine_state.play_list & bit) != 0) console_printf(", PLAY");
  if ((engine_state.muted_list & bit) != 0) console_printf(", MUTED");
  console_printf("\n");
}

void report_input_capture() {
  {
    EngineLockGuard hold;  // the engine is not in the middle of a capture write once this returns
    engine_state.capture_index = -1;
  }
  int64_t sum[2] = {0, 0};
  int32_t min[2] = {1000000, 1000000};
  int32_t max[2] = {-1000000, -1000000};
  for (int f = 0; f < capture_frames; f++) {
    for (int c = 0; c < 2; c++) {
      int32_t x = engine.capture_ring[2 * f + c];
      sum[c] += x;
      if (x < min[c]) min[c] = x;
      if (x > max[c]) max[c] = x;
    }
  }
  {
    EngineLockGuard hold;
    engine_state.capture_index = 0;
  }
  console_printf("Avg value %d, %d\n", int32_t(sum[0] / capture_frames),
                 int32_t(sum[1] / capture_frames));
  console_printf("Min value %d (x%x), %d (x%x)\n", min[0], min[0], min[1], min[1]);
  console_printf("Max value %d (x%x), %d (x%x)\n", max[0], max[0], max[1], max[1]);
}

void print_drift_history(int n, int count) {
  if (count < 0) count = 0;
  if (count > drift_history_length) count = drift_history_length;
  for (int i = 0; i < count; i++) {
    if (i % drift_entries_per_line == 0) console_printf("%s", indent);
    console_printf("%d,", engine.drift_history[n][i]);
    if (i % drift_entries_per_line == drift_entries_per_line - 1) console_printf("\n%s", indent);
  }
  if (count % drift_entries_per_line != 0) console_printf("\n");
}

void print_clock_lines(const ClockFollower& f, int32_t clock_out_track) {
  int32_t bpm = f.clock_period > 0
                    ? truncate_to_int(frames_per_minute / (f.clock_period * clock_pulses_per_beat))
                    : 0;
  console_printf(" MIDI  clock out track: %d\n", clock_out_track);
  console_printf(" MIDI     clock in BPM: %d\n", bpm);
  console_printf(" MIDI clock in average: %d\n", truncate_to_int(f.clock_period));
  console_printf(" MIDI    clock in lock: %d\n", f.clock_lock);
  console_printf(" MIDI   flywheel drift: %d\n", truncate_to_int(f.flywheel_drift));
  console_printf(" MIDI      last adjust: %d\n", truncate_to_int(f.last_adjust));
  console_printf(" MIDI  lock lost count: %d\n", f.lock_lost_count);
  console_printf(" MIDI         min diff: %d\n", f.min_diff);
  console_printf(" MIDI         max diff: %d\n", f.max_diff);
  console_printf(" MIDI  received clocks: %d\n", f.received_clocks);
  console_printf(" MIDI    missed clocks: %d\n", f.missed_clocks);
  console_printf(" MIDI clk last measure: %d\n", f.clocks_last_measure);
  console_printf(" MIDI clk/measure errs: %d\n", f.measure_errors);
  console_printf(" MIDI    measure start: %d\n", f.measure_start_time);
}

void print_intervals(const int32_t (&v)[clock_pulses_per_beat]) {
  console_printf(" MIDI diffs: %d %d %d %d %d %d %d %d %d %d\n", v[0], v[1], v[2], v[3], v[4], v[5],
                 v[6], v[7], v[8], v[9]);
  console_printf("             %d %d %d %d %d %d %d %d %d %d\n", v[10], v[11], v[12], v[13], v[14],
                 v[15], v[16], v[17], v[18], v[19]);
  console_printf("             %d %d %d %d\n", v[20], v[21], v[22], v[23]);
}

// The last two components of a source path: "engine/undo.cc".
const char* short_path(const char* path) {
  const char* last = nullptr;
  const char* before_last = path;
  for (const char* p = path; *p != '\0'; ++p) {
    if (*p != '/') continue;
    if (last != nullptr) before_last = last + 1;
    last = p;
  }
  return before_last;
}

int32_t microseconds(int64_t ns) { return int32_t(ns / 1000); }

}  // namespace

void report_lock_statistics() {
  LockReport r;
  lock_statistics_take(r);
  console_printf("Engine lock: %d holds by other threads", int32_t(r.holds));
  if (r.site_count > 0) {
    const LockSite& top = r.longest[0];
    console_printf(", longest %d us at %s:%d (%s)", microseconds(top.longest_ns),
                   short_path(top.file), int32_t(top.line), top.function);
  }
  console_printf("\n");
  for (int i = 1; i < r.site_count; i++) {
    const LockSite& site = r.longest[i];
    console_printf("             then %d us at %s:%d, %d holds\n", microseconds(site.longest_ns),
                   short_path(site.file), int32_t(site.line), int32_t(site.holds));
  }
  if (r.unplaced_longest_ns > 0)
    console_printf("             other sites: longest %d us\n",
                   microseconds(r.unplaced_longest_ns));
  const int32_t period_us = int32_t(int64_t(r.callback_frames) * 1000000 / frames_per_second);
  console_printf("Process callback: longest %d us of a %d us period, %d callbacks, xruns %d\n",
                 microseconds(r.callback_longest_ns), period_us, int32_t(r.callbacks),
                 int32_t(r.xruns));
}

void report_looper_statistics() {
  console_printf("ZT4 Looper statistics:\n");
  BlockCounts counts;
  {
    EngineLockGuard hold;  // the table writers keep the counts; a copy of a few words
    counts = block_counts;
  }
  int total = 0;
  for (int n = 0; n < track_count; n++) {
    console_printf("Track %d blocks %d, undo blocks %d, unscramble_blocks %d\n", n + 1,
                   counts.track[n], counts.undo[n], counts.unscramble[n]);
    total += counts.track[n] + counts.undo[n];
  }
  console_printf("Redo blocks %d, total blocks %d\n", counts.redo, total + counts.redo);

  TrackSnapshot snap;
  int32_t dc_estimate[2];
  int32_t gate_quiet[2], gate_loud[2];  // the audio thread counts them every frame
  {
    EngineLockGuard hold;
    snapshot_tracks(snap);
    for (int c = 0; c < 2; c++) {
      dc_estimate[c] = int32_t(engine_state.dc_state[c] >> 16);
      gate_quiet[c] = engine.gate_quiet_count[c];
      gate_loud[c] = engine.gate_loud_count[c];
    }
  }

  for (int n = 0; n < track_count; n++) {
    const Track& t = snap.tracks[n];
    const UndoHeader& undo = undo_areas[n].header;
    int32_t newest = undo.newest_level;
    int32_t newest_blocks =
        newest >= 0 && newest < undo_levels ? undo_areas[n].levels[newest].block_count : 0;
    print_track_head(n, t);
    console_printf(", undo: %d/%d/%d %d", undo.oldest_level, newest, undo.saving_level,
                   newest_blocks);
    print_track_flags(n, t);
    console_printf("          Atten %d, Pan %d, Tgt %d,%d, Cur %d,%d, Dup Cur %d,%d, Max Val %d\n",
                   t.atten, t.pan, t.target_level[0], t.target_level[1], t.current_level[0],
                   t.current_level[1], snap.duplicate_level[n][0], snap.duplicate_level[n][1],
                   t.peak_last_pass);
  }
  console_printf("\n");

  report_input_capture();
  console_printf("Noise Gate: lvl %d, delay %d, time %d:%d, release %d:%d\n",
                 engine_state.gate_level, engine_state.gate_delay, gate_quiet[0], gate_quiet[1],
                 gate_loud[0], gate_loud[1]);
  console_printf("DC Offset:  %d %d\n", dc_estimate[0], dc_estimate[1]);
}

namespace {

// The count-in settings and, while a count runs, the beats still to go.
void print_count_in_line() {
  const CountInSettings c = count_in_store.live;
  static constexpr const char* clicks[] = {"off", "during the count-in", "always"};
  console_printf("Count-in: ");
  if (c.rec_length == 0)
    console_printf("free length");
  else
    console_printf("record %d bar%s", c.rec_length, c.rec_length == 1 ? "" : "s");
  if (c.count_in_bars == 0)
    console_printf(", no count-in");
  else
    console_printf(", count %d bar%s in", c.count_in_bars, c.count_in_bars == 1 ? "" : "s");
  console_printf(", click %s",
                 clicks[c.click >= click_off && c.click <= click_always ? c.click : 0]);
  const int32_t beats = count_in_beats();
  if (beats > 0) console_printf(", counting: %d beat%s to go", beats, beats == 1 ? "" : "s");
  console_printf("\n");
}

}  // namespace

void report_midi_statistics() {
  console_printf("ZT4 Looper MIDI statistics:\n");
  TrackSnapshot snap;
  ClockFollower follower;
  int32_t clock_out_track;
  {
    EngineLockGuard hold;
    snapshot_tracks(snap);
    follower = clock_follower;
    clock_out_track = engine.clock_out_track;
  }

  int reference = -1;
  for (int n = 0; n < track_count; n++) {
    const Track& t = snap.tracks[n];
    if (t.clock_source != -2) continue;
    if (reference < 0) reference = n;
    int64_t length = int32_t(t.length);
    int64_t position = int32_t(t.position);
    // Phase against the reference track in -length/2..length/2; a track still being recorded
    // (length 0) has none.
    int64_t phase = 0;
    if (length > 0) {
      phase = (position - int32_t(snap.tracks[reference].position)) % length;
      if (phase < 0) phase += length;
      if (phase > length / 2) phase -= length;
    }
    int64_t offset = follower.beat_position - position;
    if (offset < 0) offset += length;
    offset -= t.measure_offset;
    if (offset < 0) offset += length;

    print_track_head(n, t);
    console_printf("\n          %d-%d %d, measure offset %d, me %d", n, reference, int32_t(phase),
                   int32_t(offset), t.midi_error / midi_error_scale);
    if (t.multiple != 0) console_printf(", x%d", t.multiple);
    console_printf(", loops %d\n", t.loop_count);
    console_printf("          stop %d, start after %d\n", t.stop_countdown, t.start_after);
    print_drift_history(n, t.drift_count);
  }
  console_printf("\n");

  print_clock_lines(follower, clock_out_track);
  print_intervals(follower.intervals);
  char transport_line[128];
  transport_report_line(transport_line, sizeof transport_line);
  console_printf("%s", transport_line);
  print_count_in_line();

  EngineLockGuard hold;
  clock_follower.min_diff = min_diff_reset;
  clock_follower.max_diff = 0;
}
