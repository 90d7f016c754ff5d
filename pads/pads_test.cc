#include "pads/pads.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/log_ring.h"
#include "tests/fixtures/test_workdir.h"
#include "host/looper.h"
#include "midi/midi_queue.h"
#include "net/host_sysex.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Messages = std::vector<Bytes>;

const Bytes identity = {0xF0, 0x7E, 0x7F, 0x06, 0x01, 0xF7};
const Bytes programmer = {0xF0, 0x00, 0x20, 0x29, 0x02, 0x0D, 0x00, 0x7F, 0xF7};
const Bytes apc_reply = {0xF0, 0x7E, 0x00, 0x06, 0x02, 0x47, 0x4F, 0x00, 0x19, 0x00, 0xF7};
const Bytes launchpad_reply = {0xF0, 0x7E, 0x00, 0x06, 0x02, 0x00,
                               0x20, 0x29, 0x13, 0x01, 0x00, 0xF7};

Bytes apc(int note, int colour) { return {0x96, uint8_t(note), uint8_t(colour)}; }
Bytes launchpad(int pad, int colour) {
  return {0xF0, 0x00, 0x20, 0x29, 0x02, 0x0D, 0x03, 0x00, uint8_t(pad), uint8_t(colour), 0xF7};
}
Bytes launchpad_rgb(int pad, int r, int g, int b) {
  return {0xF0, 0x00,         0x20,       0x29,       0x02,       0x0D, 0x03,
          0x03, uint8_t(pad), uint8_t(r), uint8_t(g), uint8_t(b), 0xF7};
}

// A looper at rest as the pads see it: track 1 selected, all empty, full level, no feedback.
PadView quiet_view() {
  PadView v{};
  v.selected = 1;
  for (int t = 0; t < track_count; ++t) v.speed[t] = 400;
  return v;
}

class PadsTest : public ::testing::Test {
 protected:
  void SetUp() override { looper_reset(); }

  // Every message queued for MIDI out since the last call.
  static Messages sent() {
    Messages out;
    while (midi_out_pending() > 0) {
      const int n = midi_out_length();
      const uint8_t* b = midi_out_take();
      out.emplace_back(b, b + n);
    }
    return out;
  }
  static int count(const Messages& m, const Bytes& b) {
    int n = 0;
    for (const Bytes& x : m) n += x == b;
    return n;
  }
  static void reply(const Bytes& b) { host_sysex(b.data(), int(b.size())); }
  static void polls(int n) {
    for (int i = 0; i < n; ++i) pad_poll();
  }
};

TEST_F(PadsTest, IdentityRequestsGoOutEveryTenSecondsAndNothingElseWithoutADevice) {
  polls(9);
  EXPECT_TRUE(sent().empty());
  pad_poll();
  EXPECT_EQ(sent(), Messages{identity});
  for (int i = 0; i < 4 * 4; ++i) pad_refresh();  // four seconds of refreshes: no device, no LEDs
  polls(10);
  EXPECT_EQ(sent(), Messages{identity});
}

TEST_F(PadsTest, EachKindIsFoundAndLostAfterFourUnansweredRequests) {
  struct Case {
    const Bytes& reply;
    const char* found;
    const char* lost;
  } const cases[] = {
      {apc_reply, "Akai APC found\n", "Akai APC lost\n"},
      {launchpad_reply, "Novation LaunchPad found\n", "Novation LaunchPad lost\n"},
  };
  for (const Case& c : cases) {
    looper_reset();
    polls(10);
    reply(c.reply);
    EXPECT_EQ(take_console_output(), c.found);
    polls(30);  // three requests unanswered
    EXPECT_EQ(take_console_output(), "");
    polls(10);  // the fourth poll declares it lost
    EXPECT_EQ(take_console_output(), c.lost);
    EXPECT_EQ(pads.apc_present + pads.launchpad_present, 0);
    polls(40);
    EXPECT_EQ(take_console_output(), "");
    reply(c.reply);  // back again: announced again
    EXPECT_EQ(take_console_output(), c.found);
  }
}

TEST_F(PadsTest, ALaunchpadGoesToProgrammerModeAndIsClearedRowByRowOnlyOnce) {
  reply(launchpad_reply);
  const Messages m = sent();
  ASSERT_EQ(m.size(), 1u + 64u);
  EXPECT_EQ(m[0], programmer);
  // The first message of the top row turns off pad 81 only; the last of the bottom row 11-18.
  Bytes first = {0xF0, 0x00, 0x20, 0x29, 0x02, 0x0D, 0x03};
  first.insert(first.end(), {0x00, 81, 0x00});
  for (int k = 1; k < 8; ++k) first.insert(first.end(), {0x00, 0x00, 0x00});
  first.push_back(0xF7);
  EXPECT_EQ(m[1], first);
  Bytes last = {0xF0, 0x00, 0x20, 0x29, 0x02, 0x0D, 0x03};
  for (int pad = 11; pad <= 18; ++pad) last.insert(last.end(), {0x00, uint8_t(pad), 0x00});
  last.push_back(0xF7);
  EXPECT_EQ(m[64], last);
  for (const Bytes& b : m) EXPECT_EQ(b.size(), b == programmer ? 9u : 32u);

  polls(10);
  reply(launchpad_reply);  // a present Launchpad that answers is not cleared again
  EXPECT_EQ(sent(), Messages{identity});
  EXPECT_EQ(pads.launchpad_present, 1);
}

TEST_F(PadsTest, TheDeviceWhoseReplyArrivesLastIsServed) {
  reply(launchpad_reply);
  reply(apc_reply);
  EXPECT_EQ(take_console_output(), "Novation LaunchPad found\nAkai APC found\n");
  EXPECT_EQ(pads.launchpad_present, 0);
  sent();
  for (int i = 0; i < 3; ++i) pad_refresh();
  for (const Bytes& b : sent()) EXPECT_EQ(b[0], 0x96) << "only APC messages";
  reply(launchpad_reply);  // announced, programmer mode and cleared again
  EXPECT_EQ(pads.apc_present, 0);
  EXPECT_EQ(count(sent(), programmer), 1);
}

TEST_F(PadsTest, ARecordingTrackBlinksItsRecordSidePad) {
  PadView v = quiet_view();
  v.state_word = 3u << (4 * 2);  // track 3 recording
  pad_shadow_reset(PadKind::apc, pads.apc);
  pad_refresh_device(PadKind::apc, pads.apc, v);
  Messages m = sent();
  EXPECT_EQ(count(m, apc(42, 5)), 2);  // its state colour, then the blink's lit phase
  EXPECT_EQ(m.back(), apc(42, 5));
  pad_refresh_device(PadKind::apc, pads.apc, v);
  EXPECT_EQ(sent(), Messages{apc(42, 0)});
  pad_refresh_device(PadKind::apc, pads.apc, v);  // the full refresh: everything again
  m = sent();
  EXPECT_EQ(m.back(), apc(42, 5));
  EXPECT_EQ(count(m, apc(43, 0)), 1);  // play side dark while recording
  pad_refresh_device(PadKind::apc, pads.apc, v);
  EXPECT_EQ(sent(), Messages{apc(42, 0)});

  v.state_word = 4u << (4 * 2);  // overdubbing: both sides green, the record side blinking
  pad_refresh_device(PadKind::apc, pads.apc, v);
  EXPECT_EQ(sent(), (Messages{apc(42, 21), apc(43, 21), apc(42, 21)}));
}

TEST_F(PadsTest, AFullRefreshShowsTrackColoursAndSelectionAndResendsEveryPad) {
  const PadView v = quiet_view();
  pad_shadow_reset(PadKind::launchpad, pads.launchpad);  // a Launchpad's first refresh is full
  pad_refresh_device(PadKind::launchpad, pads.launchpad, v);
  const Messages m = sent();
  const int colours[8] = {45, 13, 53, 33, 5, 21, 127, 3};
  for (int t = 0; t < 8; ++t) {
    const int row = 81 - 10 * t;
    EXPECT_EQ(count(m, launchpad(row + 1, colours[t])), 1) << t;
    EXPECT_EQ(count(m, launchpad(row, t == 0 ? 3 : 0)), 1) << t;
    EXPECT_EQ(count(m, launchpad_rgb(row + 6, 127, 127, 127)), 1) << t;  // level 0
    EXPECT_EQ(count(m, launchpad_rgb(row + 7, 3, 7, 7)), 1) << t;        // feedback 0
  }
  EXPECT_EQ(m.size(), 8u * 8u);  // every pad once

  // Nothing changes: nothing is sent until the next full refresh, after 120 quiet ones (30 s).
  for (int i = 0; i < 120; ++i) pad_refresh_device(PadKind::launchpad, pads.launchpad, v);
  EXPECT_TRUE(sent().empty());
  pad_refresh_device(PadKind::launchpad, pads.launchpad, v);
  EXPECT_EQ(sent().size(), 64u);
}

TEST_F(PadsTest, BetweenFullRefreshesOnlyChangedPadsAreSent) {
  PadView v = quiet_view();
  for (int i = 0; i < 3; ++i) pad_refresh_device(PadKind::apc, pads.apc, v);
  sent();
  v.selected = 4;
  v.level[1] = -20;
  v.feedback[7] = 85;
  v.reverse[5] = true;
  v.speed[6] = 200;
  v.state_word = 2u << (4 * 0);  // track 1 muted
  pad_refresh_device(PadKind::apc, pads.apc, v);
  EXPECT_EQ(sent(), (Messages{apc(56, 0), apc(32, 3), apc(59, 5), apc(54, 68), apc(21, 3),
                              apc(12, 3), apc(7, 33)}));
  pad_refresh_device(PadKind::apc, pads.apc, v);
  EXPECT_TRUE(sent().empty());
}

TEST(PadColoursTest, LevelAndFeedbackColours) {
  struct Level {
    int level;
    uint8_t apc;
    Rgb launchpad;
  } const levels[] = {
      {0, 3, {127, 127, 127}}, {5, 3, {127, 127, 127}}, {-8, 33, {47, 95, 95}},
      {-9, 34, {45, 91, 91}},  {-16, 34, {31, 63, 63}}, {-17, 68, {29, 59, 59}},
      {-24, 68, {15, 31, 31}}, {-25, 35, {13, 27, 27}}, {-40, 35, {1, 3, 3}},
  };
  for (const Level& c : levels) {
    EXPECT_EQ(apc_level_colour(c.level), c.apc) << c.level;
    const Rgb rgb = launchpad_level_colour(c.level);
    EXPECT_EQ(rgb.red, c.launchpad.red) << c.level;
    EXPECT_EQ(rgb.green, c.launchpad.green) << c.level;
    EXPECT_EQ(rgb.blue, c.launchpad.blue) << c.level;
  }
  struct Feedback {
    int feedback;
    uint8_t apc;
    Rgb launchpad;
  } const feedbacks[] = {
      {100, 3, {127, 127, 127}}, {99, 33, {57, 115, 115}},  {80, 33, {51, 103, 103}},
      {79, 34, {45, 91, 91}},    {60, 34, {39, 79, 79}},    {59, 68, {33, 67, 67}},
      {40, 68, {27, 55, 55}},    {39, 35, {21, 43, 43}},    {0, 35, {3, 7, 7}},
      {-5, 35, {3, 7, 7}},       {150, 3, {127, 127, 127}},
  };
  for (const Feedback& c : feedbacks) {
    EXPECT_EQ(apc_feedback_colour(c.feedback), c.apc) << c.feedback;
    const Rgb rgb = launchpad_feedback_colour(c.feedback);
    EXPECT_EQ(rgb.red, c.launchpad.red) << c.feedback;
    EXPECT_EQ(rgb.green, c.launchpad.green) << c.feedback;
  }
}

}  // namespace
