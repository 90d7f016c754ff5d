#include "midi/midi_map.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

#include "config/config.h"
#include "host/looper.h"
#include "midi/midi_queue.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Codes = std::vector<int32_t>;

std::vector<Bytes> peer_copies;

void capture_peer(const uint8_t* bytes, int length) {
  peer_copies.emplace_back(bytes, bytes + length);
}

constexpr int channel = 2;  // messages below use status nibble 2 (channel 3)

int32_t cc_code(int controller, int value) {
  return code_control_change + value + (controller << code_controller_shift);
}

Bytes echo(uint8_t type, Bytes data) {
  Bytes reply = {0xF0, 0x00, 0x3F, 0x6A, echo_reply_code, type};
  reply.insert(reply.end(), data.begin(), data.end());
  reply.push_back(0xF7);
  return reply;
}

// A case's text as a test name: letters and digits, the rest underscores.
template <typename Case>
std::string case_name(const testing::TestParamInfo<Case>& info) {
  std::string name = info.param.name;
  for (char& c : name)
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  return name;
}

// The mapper, fed whole messages as the parser hands them on.
class MidiMapTest : public ::testing::Test {
 protected:
  void SetUp() override {
    looper_reset();
    config.midi_channel = channel;
    config.quant_cc = 126;
    config.cc_dejitter = 1;
    std::fill(std::begin(config_live.cc_switch_value), std::end(config_live.cc_switch_value),
              int16_t{-1});
    peer_copies.clear();
  }

  static int32_t map(const Bytes& message) { return midi_map(message.data(), int(message.size())); }

  static std::vector<Bytes> sent() {
    std::vector<Bytes> messages;
    while (midi_out_pending() > 0) {
      int n;
      const uint8_t* bytes = midi_out_take(&n);
      messages.emplace_back(bytes, bytes + n);
    }
    return messages;
  }
};

TEST_F(MidiMapTest, EchoAlsoGoesToThePeer) {
  midi_set_echo_peer(capture_peer);
  map({0xB2, 0x07, 0x0A});
  map({0x82, 0x3C, 0x00});  // a note off is not reported
  const std::vector<Bytes> expected = {echo(1, {0x07, 0x0A})};
  EXPECT_EQ(peer_copies, expected);
  EXPECT_EQ(sent(), expected);
}

struct DejitterCase {
  const char* name;
  int width;
  int controller;
  Bytes values;
  Bytes accepted;
};

class DejitterTest : public MidiMapTest, public testing::WithParamInterface<DejitterCase> {};

TEST_P(DejitterTest, DropsSmallMovesButStillReportsThem) {
  const DejitterCase& c = GetParam();
  config.cc_dejitter = int16_t(c.width);
  Codes expected;
  for (uint8_t v : c.accepted) expected.push_back(cc_code(c.controller, v));
  Codes codes;
  for (uint8_t v : c.values) {
    if (const int32_t code = map({0xB2, uint8_t(c.controller), v})) codes.push_back(code);
  }
  EXPECT_EQ(codes, expected);
  EXPECT_EQ(sent().size(), c.values.size());
}

const DejitterCase dejitter_cases[] = {
    {"width 1", 1, 7, {10, 11, 12, 12, 14}, {10, 12, 14}},
    {"width 0 drops only repeats", 0, 7, {10, 10, 11, 11, 10}, {10, 11, 10}},
    {"width 4", 4, 7, {10, 14, 6, 15, 5}, {10, 15, 5}},
    {"first value, even 127", 4, 20, {127, 124, 0}, {127, 0}},
    {"quantise controller never filtered", 1, 126, {10, 10, 11}, {10, 10, 11}},
    {"bounce controller never filtered", 4, 119, {3, 3, 4}, {3, 3, 4}},
};

INSTANTIATE_TEST_SUITE_P(Widths, DejitterTest, testing::ValuesIn(dejitter_cases),
                         case_name<DejitterCase>);

TEST_F(MidiMapTest, DejitterKeepsEachControllerApart) {
  EXPECT_EQ(map({0xB2, 7, 10}), cc_code(7, 10));
  EXPECT_EQ(map({0xB2, 8, 11}), cc_code(8, 11));
  EXPECT_EQ(map({0xB2, 7, 11}), 0);
  EXPECT_EQ(map({0xB2, 8, 12}), 0);
}

TEST_F(MidiMapTest, SwitchControllerFiresWhenRisingToOrFrom64) {
  const int values[] = {0, 127, 100, 0, 64, 100};
  const bool fires[] = {false, true, false, false, true, true};
  for (size_t i = 0; i < std::size(values); ++i) {
    SCOPED_TRACE(values[i]);
    EXPECT_EQ(midi_switch_fires(20, values[i]), fires[i]);
  }
  // No value since the last load counts as "off"; each controller keeps its own.
  EXPECT_TRUE(midi_switch_fires(21, 64));
  EXPECT_FALSE(midi_switch_fires(20, 127));
  EXPECT_FALSE(midi_switch_fires(128, 127));
}

}  // namespace
