#include "host/statistics.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "core/log_ring.h"
#include "drums/count_in_settings.h"
#include "engine/engine.h"
#include "engine/track.h"
#include "host/looper.h"
#include "midi/clock.h"

namespace {

// The reports only count references, so any non-null address serves as a block here.
int32_t fake_block[1];

class StatisticsTest : public testing::Test {
 protected:
  void SetUp() override {
    looper_reset();
    for (Track& t : tracks) t.trigger_position = -1;  // no pending action, as after an erase
  }

  // Runs a report with standard output sent to /dev/null and returns its text from the log.
  static std::string run(void (*report)()) {
    std::fflush(stdout);
    int saved = dup(1);
    std::FILE* sink = std::fopen("/dev/null", "w");
    dup2(fileno(sink), 1);
    report();
    std::fflush(stdout);
    dup2(saved, 1);
    close(saved);
    std::fclose(sink);
    std::string text;
    char chunk[500];
    while (int n = log_take(console_log.udp_log_ring, chunk, 500)) text.append(chunk, size_t(n));
    return text;
  }

  static void expect_contains(const std::string& text, const std::string& part) {
    EXPECT_NE(text.find(part), std::string::npos) << "missing:\n" << part << "\nin:\n" << text;
  }
};

TEST_F(StatisticsTest, LooperReportOfResetTracks) {
  std::string text = run(report_looper_statistics);
  EXPECT_EQ(
      text.rfind("ZT4 Looper statistics:\nTrack 1 blocks 0, undo blocks 0, unscramble_blocks 0\n",
                 0),
      0u);
  expect_contains(
      text,
      "Track 8 blocks 0, undo blocks 0, unscramble_blocks 0\nRedo blocks 0, total blocks 0\n");
  // A track with no undo levels.
  expect_contains(text,
                  " Track 1: len 0 (0.0 sec) pos 0, vsp 0, undo: -1/-1/-1 0\n"
                  "          Atten 0, Pan 0, Tgt 0,0, Cur 0,0, Dup Cur 0,0, Max Val 0\n");
  expect_contains(text, "Max Val 0\n\nAvg value 0, 0\n");
  expect_contains(
      text, "Min value 0 (x00000000), 0 (x00000000)\nMax value 0 (x00000000), 0 (x00000000)\n");
  EXPECT_EQ(text.substr(text.find("Noise Gate")),
            "Noise Gate: lvl 4096, delay 1000, time 0:0, release 0:0\nDC Offset:  0 0\n");
}

TEST_F(StatisticsTest, LooperReportOfBusyTracks) {
  for (int k = 0; k < 5; k++) set_block_ref(track_blocks[2][k], fake_block);
  set_block_ref(track_blocks[0][8191], fake_block);
  set_block_ref(undo_areas[2].levels[0].blocks[0], fake_block);
  for (int k = 0; k < 5; k++) set_block_ref(undo_areas[2].levels[31].blocks[176 + k], fake_block);
  set_block_ref(unscramble_blocks[2][7], fake_block);
  set_block_ref(unscramble_blocks[2][8000], fake_block);
  for (int k : {0, 1, 180}) set_block_ref(redo_blocks[k], fake_block);

  Track& t = tracks[2];
  t.length = 110400;  // 2.3 s
  t.position = 4321;
  t.vsp = -17;
  t.multiple = 2;
  t.trigger_position = 500;
  t.trigger_argument = 7;
  t.clock_source = 0;
  t.atten = 6;
  t.pan = -20;
  t.target_level[0] = 6;
  t.target_level[1] = 26;
  t.current_level[0] = 8;
  t.current_level[1] = 30;
  fading_voices[2].current_level[0] = 90;
  fading_voices[2].current_level[1] = 91;
  t.peak_last_pass = 1234567;
  undo_areas[2].header.oldest_level = 1;
  undo_areas[2].header.newest_level = 3;
  undo_areas[2].levels[3].block_count = 14;

  tracks[1].length = 48000;
  tracks[1].clock_source = -2;
  tracks[1].midi_error = 35;  // shown as 35 / 16
  tracks[1].loop_count = 9;
  tracks[0].clock_source = -2;  // the clock source track says so whatever it follows
  engine_state.clock_source_track = 0;
  engine_state.record_track = 2;
  engine_state.overdub_track = 0;
  engine_state.replace_track = 7;
  engine_state.play_list = 0x05;
  engine_state.muted_list = 0x82;

  for (int f = 0; f < capture_ring_words / 2; f++) {
    engine.capture_ring[2 * f] = f % 2 == 0 ? 4096 : -2048;  // mean 1024
    engine.capture_ring[2 * f + 1] = -3;
  }
  engine.capture_ring[10] = -5000;
  engine.capture_ring[20] = 7000;
  engine.gate_quiet_count[0] = 12;
  engine.gate_quiet_count[1] = 1001;
  engine.gate_loud_count[0] = 3;
  engine.gate_loud_count[1] = 0;
  engine_state.dc_state[0] = int64_t(123) << 16;
  engine_state.dc_state[1] = -(int64_t(5) << 16);

  std::string text = run(report_looper_statistics);
  expect_contains(text, "Track 1 blocks 1, undo blocks 0, unscramble_blocks 0\n");
  expect_contains(text, "Track 3 blocks 5, undo blocks 6, unscramble_blocks 2\n");
  expect_contains(text, "Redo blocks 3, total blocks 15\n");  // scramble blocks not in the total
  expect_contains(
      text,
      " Track 1: len 0 (0.0 sec) pos 0, vsp 0, undo: -1/-1/-1 0, is clk src, OVERDUB, PLAY\n");
  expect_contains(
      text,
      " Track 2: len 48000 (1.0 sec) pos 0, vsp 0, undo: -1/-1/-1 0, midi error 2, loops 9, MUTED\n");
  expect_contains(
      text,
      " Track 3: len 110400 (2.3 sec) pos 4321, vsp -17, undo: 1/3/-1 14, x2, TRIGGER 500 7, clk src 1, "
      "RECORD, PLAY\n"
      "          Atten 6, Pan -20, Tgt 6,26, Cur 8,30, Dup Cur 90,91, Max Val 1234567\n");
  expect_contains(text,
                  " Track 8: len 0 (0.0 sec) pos 0, vsp 0, undo: -1/-1/-1 0, REPLACE, MUTED\n");
  // Left: 1024 on average, less 48 / 2048 for the two changed frames (truncated); right: -3.
  expect_contains(text, "Avg value 1023, -3\n");
  expect_contains(text, "Min value -5000 (xFFFFEC78), -3 (xFFFFFFFD)\n");
  expect_contains(text, "Max value 7000 (x00001B58), -3 (xFFFFFFFD)\n");
  expect_contains(
      text, "Noise Gate: lvl 4096, delay 1000, time 12:1001, release 3:0\nDC Offset:  123 -5\n");
  EXPECT_EQ(engine_state.capture_index, 0);  // capturing resumes after the scan
}

TEST_F(StatisticsTest, MidiReportPhasesOffsetsAndDriftHistory) {
  Track& r = tracks[1];  // the reference: first track following MIDI clock
  r.clock_source = -2;
  r.length = 48000;
  r.position = 100;
  for (int i = 0; i < 20; i++) engine.drift_history[1][i] = i + 1;
  r.drift_count = 20;

  Track& t = tracks[4];
  t.clock_source = -2;
  t.length = 10000;
  t.position = 9000;  // 8900 ahead of the reference: more than half a loop, so -1100
  t.measure_offset = 2000;
  t.midi_error = -48;
  t.multiple = 2;
  t.loop_count = 7;
  t.stop_countdown = 300;
  t.start_after = 40;
  for (int i = 0; i < 16; i++) engine.drift_history[4][i] = -i;
  t.drift_count = 16;

  tracks[6].clock_source = -2;  // still being recorded: no phase yet
  tracks[6].length = 0;
  tracks[6].position = 0;
  tracks[3].clock_source = 1;  // follows a track, not the MIDI clock: not listed

  clock_follower.beat_position = 500;
  clock_follower.clock_period = 1000.0;  // 120 BPM
  clock_follower.clock_lock = 0;
  clock_follower.min_diff = 990;
  clock_follower.max_diff = 1010;
  clock_follower.flywheel_drift = -3.7;
  for (int i = 0; i < clock_pulses_per_beat; i++) clock_follower.intervals[i] = 1000 + i;
  engine.clock_out_track = 2;

  std::string text = run(report_midi_statistics);
  std::string expected =
      "ZT4 Looper MIDI statistics:\n"
      " Track 2: len 48000 (1.0 sec) pos 100, vsp 0\n"
      "          1-1 0, measure offset 400, me 0, loops 0\n"
      "          stop 0, start after 0\n"
      "          1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16,\n"
      "                    17,18,19,20,\n"
      " Track 5: len 10000 (0.2 sec) pos 9000, vsp 0\n"
      "          4-1 -1100, measure offset 9500, me -3, x2, loops 7\n"
      "          stop 300, start after 40\n"
      "          0,-1,-2,-3,-4,-5,-6,-7,-8,-9,-10,-11,-12,-13,-14,-15,\n"
      "          "
      " Track 7: len 0 (0.0 sec) pos 0, vsp 0\n"
      "          6-1 0, measure offset 500, me 0, loops 0\n"
      "          stop 0, start after 0\n"
      "\n"
      " MIDI  clock out track: 2\n"
      " MIDI     clock in BPM: 120\n"
      " MIDI clock in average: 1000\n"
      " MIDI    clock in lock: 0\n"
      " MIDI   flywheel drift: -3\n"
      " MIDI      last adjust: 0\n"
      " MIDI  lock lost count: 0\n"
      " MIDI         min diff: 990\n"
      " MIDI         max diff: 1010\n"
      " MIDI  received clocks: 0\n"
      " MIDI    missed clocks: 0\n"
      " MIDI clk last measure: 0\n"
      " MIDI clk/measure errs: 0\n"
      " MIDI    measure start: 0\n"
      " MIDI diffs: 1000 1001 1002 1003 1004 1005 1006 1007 1008 1009\n"
      "             1010 1011 1012 1013 1014 1015 1016 1017 1018 1019\n"
      "             1020 1021 1022 1023\n"
      "Transport: off\n"
      "Count-in: free length, no count-in, click off\n";
  EXPECT_EQ(text, expected);
  EXPECT_EQ(clock_follower.min_diff, 1000000);
  EXPECT_EQ(clock_follower.max_diff, 0);
}

TEST_F(StatisticsTest, MidiReportWithoutClock) {
  std::string text = run(report_midi_statistics);
  EXPECT_EQ(
      text.rfind(
          "ZT4 Looper MIDI statistics:\n\n MIDI  clock out track: 0\n MIDI     clock in BPM: 0\n",
          0),
      0u);
  expect_contains(text, " MIDI diffs: 0 0 0 0 0 0 0 0 0 0\n");
}

TEST_F(StatisticsTest, MidiReportShowsTheCountInSettings) {
  ASSERT_TRUE(set_rec_length(2));
  ASSERT_TRUE(set_count_in_bars(1));
  ASSERT_TRUE(set_click(click_always));
  expect_contains(run(report_midi_statistics),
                  "Count-in: record 2 bars, count 1 bar in, click always\n");
}

}  // namespace
