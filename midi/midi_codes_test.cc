#include "midi/midi_codes.h"

#include <gtest/gtest.h>

#include <vector>

#include "config/config.h"
#include "host/looper.h"
#include "midi/midi_map.h"
#include "midi/midi_queue.h"

namespace {

using Codes = std::vector<int32_t>;

// Codes handed out and SysEx messages run, in the order the looper took them; a SysEx message
// is logged as the negated value of its first data byte.
Codes taken;
void log_sysex(const uint8_t* bytes, int length) {
  if (length > 2) taken.push_back(-int32_t(bytes[1]));
}
int32_t sysex(int n) { return -n; }

int32_t cc(int controller, int value) {
  return code_control_change + value + (controller << code_controller_shift);
}
int32_t note(int n) { return code_note_on + n; }

class MidiCodesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    looper_reset();
    config_defaults();  // no controller runs a switch list
    config.midi_channel = 0;
    config.quant_cc = 126;
    config.cc_dejitter = 0;
    taken.clear();
    midi_set_sysex_handler(log_sysex);
  }
  static void put(std::initializer_list<uint8_t> bytes) {
    for (uint8_t b : bytes) midi_in_put(b);
  }
  // Polls as the idle tick does until nothing is left.
  static Codes drain() {
    Codes codes;
    for (int32_t code = midi_poll(); code != 0; code = midi_poll()) codes.push_back(code);
    return codes;
  }
  // The same, returning SysEx messages run among the codes.
  static Codes drain_with_sysex() {
    for (int32_t code = midi_poll(); code != 0; code = midi_poll()) taken.push_back(code);
    return taken;
  }
};

TEST_F(MidiCodesTest, ARunOfOneContinuousControllerGivesItsNewestValue) {
  put({0xB0, 7, 10, 7, 20, 7, 30, 0x90, 60, 100, 0xB0, 7, 40, 7, 50, 8, 5, 7, 60});
  EXPECT_TRUE(midi_input_waiting());
  // The note keeps its place: the values before it are not merged with those after it, and a
  // second controller in between ends a run.
  EXPECT_EQ(drain(), (Codes{cc(7, 30), note(60), cc(7, 50), cc(8, 5), cc(7, 60)}));
  EXPECT_EQ(midi_code_queue.coalesced, 3u);
  EXPECT_FALSE(midi_input_waiting());
}

TEST_F(MidiCodesTest, SwitchesNotesProgramsAndSpecialControllersAreNeverPassedOver) {
  config.midi_lists[list_switch_base + 64][0] = 0;  // controller 64 runs a list: a switch
  put({0xB0, 64, 0, 64, 127, 64, 0, 64, 127});
  put({0xB0, 126, 4, 126, 8});  // the quantise controller
  put({0xB0, 119, 2, 119, 3});  // the bounce destination
  put({0x90, 60, 100, 60, 100, 0xC0, 3, 4});
  EXPECT_EQ(drain(), (Codes{cc(64, 0), cc(64, 127), cc(64, 0), cc(64, 127), cc(126, 4), cc(126, 8),
                            cc(119, 2), cc(119, 3), note(60), note(60), code_program_change + 3,
                            code_program_change + 4}));
  EXPECT_EQ(midi_code_queue.coalesced, 0u);
}

TEST_F(MidiCodesTest, ARunLongerThanTheQueueStillEndsOnItsNewestValue) {
  // A pedal swept for longer than the queue holds, then a note: two polls reach the note.
  midi_in_put(0xB0);
  constexpr int values = 3 * int(midi_code_queue_size) + 7;
  for (int i = 0; i < values; ++i) {
    midi_in_put(7);
    midi_in_put(uint8_t(i % 2 == 0 ? 10 : 90));
  }
  put({0x90, 62, 100});
  EXPECT_EQ(midi_poll(), cc(7, (values - 1) % 2 == 0 ? 10 : 90));
  EXPECT_EQ(midi_poll(), note(62));
  EXPECT_EQ(midi_poll(), 0);
  EXPECT_EQ(midi_code_queue.coalesced, uint32_t(values - 1));
}

TEST_F(MidiCodesTest, SysexRunsInItsTurnAndEndsAControllerRun) {
  put({0x90, 60, 100, 0xF0, 1, 0xF7, 0xB0, 7, 10, 7, 20, 0xF0, 2, 3, 0xF7});
  put({0xB0, 7, 30, 7, 40, 0xF0, 4, 0xF8, 0xF7, 0x90, 61, 100});
  EXPECT_EQ(drain_with_sysex(),
            (Codes{note(60), sysex(1), cc(7, 20), sysex(2), cc(7, 40), sysex(4), note(61)}));
  EXPECT_EQ(midi_code_queue.coalesced, 2u);
}

TEST_F(MidiCodesTest, MoreSysexThanTheQueueHoldsKeepsTheOrder) {
  // Parsing pauses while every SysEx slot is taken and goes on as they run.
  Codes expected;
  for (int i = 1; i <= 3 * int(midi_sysex_slots); ++i) {
    put({0xF0, uint8_t(i), 0xF7, 0x90, uint8_t(i), 100});
    expected.push_back(sysex(i));
    expected.push_back(note(i));
  }
  EXPECT_EQ(drain_with_sysex(), expected);
  EXPECT_FALSE(midi_input_waiting());
}

TEST_F(MidiCodesTest, AMergedRunStandsForEveryValueItCrossed) {
  put({0xB0, 7, 50, 7, 90, 7, 20, 7, 60, 0x90, 60, 100, 0xB0, 7, 70});
  const int32_t merged = midi_poll();
  EXPECT_EQ(merged, cc(7, 60));
  EXPECT_EQ(midi_code_range(merged).low, 20);
  EXPECT_EQ(midi_code_range(merged).high, 90);
  EXPECT_EQ(midi_code_range(cc(7, 61)).low, 61) << "another code stands for itself";
  EXPECT_EQ(midi_poll(), note(60));
  EXPECT_EQ(midi_code_range(merged).high, 60) << "only the code handed out last";
  const int32_t single = midi_poll();
  EXPECT_EQ(single, cc(7, 70));
  EXPECT_EQ(midi_code_range(single).low, 70);
  EXPECT_EQ(midi_code_range(single).high, 70);
}

TEST_F(MidiCodesTest, NothingWaitingAfterOnlyClockAndForeignChannelBytes) {
  put({0xF8, 0xF8, 0x91, 60, 100});  // clock, and a note on channel 2
  EXPECT_TRUE(midi_input_waiting());
  EXPECT_EQ(midi_poll(), 0);
  EXPECT_FALSE(midi_input_waiting());
}

}  // namespace
