// Playing the looper from a MIDI controller: notes mapped to functions in the configuration file
// record a loop from the input, overdub a second sound, and undo the overdub, all heard on OUTL.
#include <cmath>
#include <string>
#include <vector>

#include "config/config.h"
#include "tests/support/harness.h"

namespace {

using zt4test::wait_until;

constexpr int16_t id_rec_dub = 0;
constexpr int16_t id_undo = 81;
constexpr uint8_t note_rec_dub = 60;
constexpr uint8_t note_undo = 62;
// Frequencies whose samples never fall exactly on zero crossings at regular intervals: such
// near-zero samples would keep the input noise gate from reopening after a silence.
constexpr double first_hz = 311.3;    // the first take
constexpr double second_hz = 1231.7;  // the overdub
constexpr float amplitude = 0.25f;
constexpr uint64_t loop_frames = 48000;  // about one second between the first two presses

constexpr size_t analysis_frames = 4800;

// Power of one frequency in the left channel (Goertzel), averaged over 0.1 s pieces so that the
// phase jump where the loop wraps spoils at most one piece. A full-scale sine gives 0.25.
double power_at(const std::vector<std::pair<float, float>>& frames, double hz) {
  const double coeff = 2 * std::cos(2 * M_PI * hz / zt4test::sample_rate);
  double total = 0;
  int pieces = 0;
  for (size_t start = 0; start + analysis_frames <= frames.size(); start += analysis_frames) {
    double s1 = 0, s2 = 0;
    for (size_t i = start; i < start + analysis_frames; ++i) {
      const double s = frames[i].first + coeff * s1 - s2;
      s2 = s1;
      s1 = s;
    }
    const double n = double(analysis_frames);
    total += (s1 * s1 + s2 * s2 - coeff * s1 * s2) / (n * n);
    ++pieces;
  }
  return pieces > 0 ? total / pieces : 0;
}

class MidiLoopTest : public zt4test::Zt4Test {
 protected:
  // A configuration with note 60 on "Rec/Dub" and note 62 on "Undo", main output at unity.
  void place_config() {
    config_defaults();
    config.midi_lists[list_note_base + note_rec_dub][0] = id_rec_dub;
    config.midi_lists[list_note_base + note_undo][0] = id_undo;
    config.all_main_level = 0;
    config_stamp_checksum();
    dir.write(config_file_name, std::string(reinterpret_cast<const char*>(&config), sizeof config));
  }
  void press(uint8_t note) {
    client.send_midi({0x90, note, 100});
    client.send_midi({0x80, note, 0});
  }
  // Lets `frames` frames pass on the server.
  // The looper statistics, for failure messages.
  std::string statistics() {
    zt4->send_console("s");
    pass(9600);
    return zt4->output();
  }
  // One loop's worth of the main output while the input is silent.
  std::vector<std::pair<float, float>> listen() {
    auto frames = client.record(loop_frames, 30);
    EXPECT_EQ(frames.size(), loop_frames);
    return frames;
  }
};

TEST_F(MidiLoopTest, RecordOverdubAndUndoFromNotes) {
  place_config();
  start_zt4();
  ASSERT_FALSE(HasFatalFailure());
  open_client();
  ASSERT_FALSE(HasFatalFailure());

  // First take: record the first sine, close the loop on silence and play it.
  client.play_sine(first_hz, amplitude);
  pass(4800);
  press(note_rec_dub);
  pass(loop_frames);
  client.play_silence();
  press(note_rec_dub);  // the loop closes; the rest would be overdubbed from silence
  pass(4800);
  press(note_rec_dub);  // plays
  pass(9600);
  const auto first_take = listen();
  const double first_alone = power_at(first_take, first_hz);
  EXPECT_GT(first_alone, amplitude * amplitude / 8) << "the first take does not play\n"
                                                    << statistics();
  EXPECT_LT(power_at(first_take, second_hz), first_alone / 1000);

  // Overdub the second sine over a whole pass of the loop.
  client.play_sine(second_hz, amplitude);
  press(note_rec_dub);
  pass(loop_frames + 9600);
  client.play_silence();
  press(note_rec_dub);
  pass(9600);
  const auto overdubbed = listen();
  EXPECT_GT(power_at(overdubbed, second_hz), first_alone / 10) << "the overdub is not heard\n"
                                                               << statistics();
  EXPECT_GT(power_at(overdubbed, first_hz), first_alone / 2);

  // Undo: the first take alone again.
  press(note_undo);
  pass(9600);
  const auto undone = listen();
  EXPECT_GT(power_at(undone, first_hz), first_alone / 2) << "the first take is gone\n"
                                                         << statistics();
  EXPECT_LT(power_at(undone, second_hz), first_alone / 1000) << "the overdub is still heard\n"
                                                             << statistics();
  const std::string out = zt4->output();
  EXPECT_EQ(out.find("Undo save failed"), std::string::npos) << out;
}

// Host replies asked for in one burst outgrow the MIDIOUT buffer of a period (about 32 KB): what
// does not fit leaves in the periods after, so every reply arrives, in the order asked.
TEST_F(MidiLoopTest, RepliesBeyondOnePeriodsOutputBufferAllArrive) {
  server.stop();
  server.period = 1024;  // a long period: the whole burst is answered within one
  ASSERT_TRUE(server.start());
  start_zt4();
  ASSERT_FALSE(HasFatalFailure());
  open_client();
  ASSERT_FALSE(HasFatalFailure());
  zt4test::XrunCounter xruns;
  ASSERT_TRUE(xruns.open()) << "cannot count the server's xruns";
  pass(4 * uint64_t(server.period));

  // Pairs of a controller report (390 bytes) and a one-list report naming its list: 240
  // replies, within the output queue's 255 slots.
  constexpr int pairs = 120;
  constexpr uint8_t get_lists = 14, lists_reply = 15, get_controllers = 17, controllers_reply = 18;
  std::vector<uint8_t> burst;
  std::string expected;
  for (int i = 0; i < pairs; ++i) {
    burst.insert(burst.end(), {0xF0, 0x00, 0x3F, 0x6A, get_controllers, 0xF7});
    burst.insert(burst.end(), {0xF0, 0x00, 0x3F, 0x6A, get_lists, 0, uint8_t(i), 1, 0xF7});
    expected += "c " + std::to_string(i) + " ";
  }
  // The replies as they arrived: "c" a controller report, a number the report of that list.
  auto arrived = [&] {
    std::string sequence;
    for (const auto& event : client.midi_events()) {
      const auto& b = event.bytes;
      if (b.size() < 8 || b[0] != 0xF0) continue;
      if (b[4] == controllers_reply) sequence += b.size() == 390 ? "c " : "short ";
      if (b[4] == lists_reply) sequence += std::to_string(b[6]) + " ";
    }
    return sequence;
  };
  // A server cycle the looper or the probe missed can lose or repeat a period's events on the
  // way, whatever the looper sends: the burst is then sent again, three times at most.
  std::string sequence;
  for (int tries = 0; tries < 3; ++tries) {
    const int xruns_before = xruns.count();
    client.clear_midi_received();
    client.send_midi(burst);
    wait_until([&] { return arrived().size() >= expected.size(); }, 10);
    pass(4 * uint64_t(server.period));
    sequence = arrived();
    if (sequence == expected || xruns.count() == xruns_before) break;
    printf("[ figures ] a burst met a missed server cycle and was sent again\n");
  }
  EXPECT_EQ(sequence, expected) << zt4->output();
}

}  // namespace
