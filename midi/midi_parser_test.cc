#include "midi/midi_parser.h"

#include <gtest/gtest.h>

#include <cctype>
#include <string>
#include <vector>

#include "config/config.h"
#include "host/looper.h"
#include "midi/midi_codes.h"
#include "midi/midi_map.h"
#include "midi/midi_queue.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Codes = std::vector<int32_t>;

// What the parser handed on besides codes.
struct Captured {
  std::vector<Bytes> sysex;
};
Captured captured;

void capture_sysex(const uint8_t* bytes, int length) {
  captured.sysex.emplace_back(bytes, bytes + length);
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

class MidiParserTest : public ::testing::Test {
 protected:
  void SetUp() override {
    looper_reset();
    config.midi_channel = channel;
    config.quant_cc = 126;
    config.cc_dejitter = 1;
    captured = Captured{};
    midi_set_sysex_handler(capture_sysex);
  }

  // Codes the bytes complete; whole SysEx messages go to captured.sysex.
  static Codes feed(const Bytes& bytes) {
    Codes codes;
    for (uint8_t b : bytes) {
      const int32_t code = midi_parse_byte(b);
      if (code == code_sysex) {
        int length;
        const uint8_t* message = midi_parsed_sysex(&length);
        capture_sysex(message, length);
      } else if (code != 0) {
        codes.push_back(code);
      }
    }
    return codes;
  }

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

struct ParseCase {
  const char* name;
  Bytes input;
  Codes codes;
  std::vector<Bytes> echoes;
};

class ChannelMessageTest : public MidiParserTest, public testing::WithParamInterface<ParseCase> {};

TEST_P(ChannelMessageTest, BecomesInputCodesAndEchoes) {
  const ParseCase& c = GetParam();
  EXPECT_EQ(feed(c.input), c.codes);
  EXPECT_EQ(sent(), c.echoes);
}

const ParseCase parse_cases[] = {
    {"note on", {0x92, 0x3C, 0x64}, {0x903C}, {echo(2, {0x3C, 0x64})}},
    {"note on velocity 0", {0x92, 0x3C, 0x00}, {0xA03C}, {echo(2, {0x3C, 0x00})}},
    {"note off, not reported", {0x82, 0x3C, 0x40}, {0xA03C}, {}},
    {"program change", {0xC2, 0x05}, {0xC005}, {echo(0, {0x05})}},
    {"control change", {0xB2, 0x07, 0x0A}, {cc_code(7, 10)}, {echo(1, {0x07, 0x0A})}},
    {"other channel", {0x93, 0x3C, 0x64, 0xC0, 0x05, 0xB1, 0x07, 0x0A}, {}, {}},
    {"pressure and pitch bend", {0xA2, 0x3C, 0x10, 0xD2, 0x10, 0xE2, 0x00, 0x40}, {}, {}},
    {"running status",
     {0x92, 0x3C, 0x64, 0x3D, 0x00},
     {0x903C, 0xA03D},
     {echo(2, {0x3C, 0x64}), echo(2, {0x3D, 0x00})}},
    {"data before any status", {0x3C, 0x64, 0x12}, {}, {}},
    {"clock before the first data byte",
     {0x92, 0xF8, 0x3C, 0x64},
     {0x903C},
     {echo(2, {0x3C, 0x64})}},
    {"clock between the data bytes loses the first",
     {0x92, 0x3C, 0xF8, 0x64, 0x40},
     {0x9064},
     {echo(2, {0x64, 0x40})}},
    {"tune request restarts under running status",
     {0x92, 0x3C, 0xF6, 0x3D, 0x40},
     {0x903D},
     {echo(2, {0x3D, 0x40})}},
    {"song select then running status",
     {0x92, 0xF3, 0x01, 0x3C, 0x64},
     {0x903C},
     {echo(2, {0x3C, 0x64})}},
    {"song position then running status",
     {0xC2, 0xF2, 0x01, 0x02, 0x07},
     {0xC007},
     {echo(0, {0x07})}},
    {"running status after a SysEx",
     {0x92, 0xF0, 0x01, 0x02, 0xF7, 0x3C, 0x64},
     {0x903C},
     {echo(2, {0x3C, 0x64})}},
};

INSTANTIATE_TEST_SUITE_P(Messages, ChannelMessageTest, testing::ValuesIn(parse_cases),
                         case_name<ParseCase>);

struct SysexCase {
  const char* name;
  int data_bytes;  // between 0xF0 and 0xF7
  bool handed_on;
};

class SysexLengthTest : public MidiParserTest, public testing::WithParamInterface<SysexCase> {};

TEST_P(SysexLengthTest, IsHandedOnWholeUpTo255Bytes) {
  const SysexCase& c = GetParam();
  Bytes message = {0xF0};
  for (int i = 0; i < c.data_bytes; ++i) message.push_back(uint8_t(0x3C + i % 2));
  message.push_back(0xF7);
  // Running status 0x92 is in force: an overlong SysEx's data must not become notes.
  Bytes input = {0x92, 0x3C, 0x64};
  input.insert(input.end(), message.begin(), message.end());
  input.insert(input.end(), {0x3D, 0x64});
  EXPECT_EQ(feed(input), (Codes{0x903C, 0x903D}));
  if (c.handed_on) {
    ASSERT_EQ(captured.sysex.size(), 1u);
    EXPECT_EQ(captured.sysex[0], message);
  } else {
    EXPECT_TRUE(captured.sysex.empty());
  }
}

const SysexCase sysex_cases[] = {
    {"empty", 0, true},         {"short", 5, true},         {"255 in all", 253, true},
    {"256 in all", 254, false}, {"300 in all", 298, false}, {"2000 in all", 1998, false},
};

INSTANTIATE_TEST_SUITE_P(Lengths, SysexLengthTest, testing::ValuesIn(sysex_cases),
                         case_name<SysexCase>);

TEST_F(MidiParserTest, SysexSurvivesRealTimeBytesAndEndsAtAnyOtherStatus) {
  feed({0xF0, 0x00, 0xF8, 0x3F, 0xFE, 0x6A, 0xF7});
  ASSERT_EQ(captured.sysex.size(), 1u);
  EXPECT_EQ(captured.sysex[0], (Bytes{0xF0, 0x00, 0x3F, 0x6A, 0xF7}));

  // A channel status inside a SysEx abandons it: the end byte hands nothing on.
  EXPECT_EQ(feed({0xF0, 0x01, 0x92, 0x3C, 0x64, 0xF7}), (Codes{0x903C}));
  EXPECT_EQ(captured.sysex.size(), 1u);
  // A stray end byte hands nothing on either.
  feed({0xF7});
  EXPECT_EQ(captured.sysex.size(), 1u);
}

TEST_F(MidiParserTest, PollYieldsOneCodePerCall) {
  for (uint8_t b : {0xF8, 0x92, 0x3C, 0x64, 0xFE, 0x3D, 0x64, 0xB3, 0x07}) midi_in_put(b);
  EXPECT_EQ(midi_poll(), 0x903C);
  EXPECT_EQ(midi_poll(), 0x903D);
  EXPECT_EQ(midi_poll(), 0);
  midi_in_put(0x10);  // completes nothing: the controller is on another channel
  EXPECT_EQ(midi_poll(), 0);
  EXPECT_EQ(midi_in_get(), -1);
}

TEST_F(MidiParserTest, MessageLengthsByStatus) {
  const std::pair<int, int> cases[] = {{0x80, 3}, {0x9F, 3}, {0xA0, 3},   {0xB5, 3}, {0xC0, 2},
                                       {0xD7, 2}, {0xE0, 3}, {0xF0, 255}, {0xF1, 2}, {0xF2, 3},
                                       {0xF3, 2}, {0xF6, 1}, {0xF8, 1},   {0xFF, 1}, {0x00, 2}};
  for (const auto& [status, length] : cases) {
    EXPECT_EQ(midi_message_length(status), length) << std::hex << status;
  }
}

}  // namespace
