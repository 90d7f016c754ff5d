#include "net/host_sysex.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "config/config.h"
#include "core/console.h"
#include "core/log_ring.h"
#include "engine/track.h"
#include "host/looper.h"
#include "midi/midi_codes.h"
#include "midi/midi_queue.h"
#include "net/remote_send.h"
#include "net/sysex_codec.h"
#include "panel/input.h"
#include "panel/selection.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes host_message(int command, const Bytes& payload) {
  Bytes m = {0xF0, 0x00, 0x3F, 0x6A, uint8_t(command)};
  m.insert(m.end(), payload.begin(), payload.end());
  m.push_back(0xF7);
  return m;
}

struct Recorded {
  int apc = 0;
  int launchpad = 0;
  std::vector<std::string> texts;
};
Recorded recorded;

int32_t record_text(const char* text, int length) {
  recorded.texts.emplace_back(text, size_t(length));
  return 0;
}
void record_apc() { ++recorded.apc; }
void record_launchpad() { ++recorded.launchpad; }

class HostSysexTest : public ::testing::Test {
 protected:
  void SetUp() override {
    looper_reset();
    config_defaults();
    host_sysex_state.run_text = record_text;
    host_sysex_state.apc_found = record_apc;
    host_sysex_state.launchpad_found = record_launchpad;
    recorded = Recorded{};
  }

  // Sends a message and returns every reply it put on the MIDI output queue.
  std::vector<Bytes> send(const Bytes& m) {
    host_sysex(m.data(), int(m.size()));
    std::vector<Bytes> replies;
    while (midi_out_pending() > 0) {
      int n;
      const uint8_t* b = midi_out_take(&n);
      replies.emplace_back(b, b + n);
    }
    return replies;
  }

  // Everything printed since the last call.
  std::string printed() {
    std::string all;
    char buffer[512];
    for (int n; (n = log_take(console_log.udp_log_ring, buffer, sizeof buffer)) > 0;) {
      all.append(buffer, size_t(n));
    }
    return all;
  }
};

TEST_F(HostSysexTest, ClassifiesMessagesByTheirExactShape) {
  struct Case {
    Bytes bytes;
    SysexKind kind;
  } const cases[] = {
      {{}, SysexKind::ignored},
      {{0xF0, 0x00, 0x3F}, SysexKind::ignored},
      {{0x90, 0x00, 0x3F, 0x6A, 0x02, 0xF7}, SysexKind::ignored},
      {{0xF0, 0x00, 0x3F, 0x6A}, SysexKind::ignored},
      {{0xF0, 0x00, 0x3F, 0x6A, 0xF7}, SysexKind::ignored},  // no command byte
      {{0xF0, 0x00, 0x3F, 0x6A, 0x02}, SysexKind::ignored},  // no closing F7
      {{0xF0, 0x00, 0x3F, 0x6A, 0x02, 0xF7}, SysexKind::host_command},
      {{0xF0, 0x00, 0x3F, 0x6A, 0x05, 0x83, 0xF7}, SysexKind::ignored},  // 8-bit data
      {{0xF0, 0x00, 0x3F, 0x6A, 0x85, 0xF7}, SysexKind::ignored},
      {{0xF0, 0x00, 0x20, 0x29, 0x02, 0x0D, 0x00, 0x7F, 0xF7},
       SysexKind::launchpad_programmer_mode},
      {{0xF0, 0x00, 0x20, 0x29, 0x02, 0x0D, 0x00, 0x7F, 0x00, 0xF7}, SysexKind::ignored},
      {{0xF0, 0x7E, 0x00, 0x06, 0x02, 0x47, 0x4F, 0x00, 0x19, 0xF7}, SysexKind::apc_identity},
      {{0xF0, 0x7E, 0x00, 0x06, 0x02, 0x47, 0x4F, 0x00, 0xF7}, SysexKind::ignored},  // 9 bytes
      {{0xF0, 0x7E, 0x7F, 0x06, 0x02, 0x00, 0x20, 0x29, 0x13, 0x01, 0xF7},
       SysexKind::launchpad_identity},
      {{0xF0, 0x7E, 0x7F, 0x06, 0x02, 0x00, 0x20, 0x29, 0x14, 0x01, 0xF7}, SysexKind::ignored},
      {{0xF0, 0x7E, 0x7F, 0x06, 0x01, 0xF7}, SysexKind::ignored},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(classify_sysex(c.bytes.data(), int(c.bytes.size())), c.kind)
        << "case of " << c.bytes.size() << " bytes";
  }
  EXPECT_EQ(classify_sysex(nullptr, 6), SysexKind::ignored);
}

TEST_F(HostSysexTest, PadControllerRepliesReachTheirHooks) {
  EXPECT_TRUE(send({0xF0, 0x7E, 0x00, 0x06, 0x02, 0x47, 0x4F, 0x00, 0x19, 0xF7}).empty());
  send({0xF0, 0x7E, 0x7F, 0x06, 0x02, 0x00, 0x20, 0x29, 0x13, 0x01, 0xF7});
  send({0xF0, 0x00, 0x20, 0x29, 0x02, 0x0D, 0x00, 0x7F, 0xF7});
  EXPECT_EQ(recorded.apc, 1);
  EXPECT_EQ(recorded.launchpad, 1);
  EXPECT_EQ(printed(), "Novation LaunchPad confirmed programmer mode.\n");
  host_sysex_state.apc_found = nullptr;  // not served yet: recognised, nothing happens
  send({0xF0, 0x7E, 0x00, 0x06, 0x02, 0x47, 0x4F, 0x00, 0x19, 0xF7});
  EXPECT_EQ(recorded.apc, 1);
}

struct SetterCase {
  int command;
  int value;
  int16_t ConfigRecord::*field;  // null: the field is checked below by hand
  int stored;                    // -1000: unchanged
  const char* message;
};

class SetterTest : public HostSysexTest, public testing::WithParamInterface<SetterCase> {};

TEST_P(SetterTest, AcceptsItsRangeAndIgnoresTheRest) {
  const SetterCase& c = GetParam();
  const ConfigRecord before = config;
  EXPECT_TRUE(send(host_message(c.command, {uint8_t(c.value)})).empty());
  EXPECT_EQ(printed(), c.message);
  const bool accepted = c.stored != -1000;
  EXPECT_EQ(config_dirty.load(), accepted ? 1 : 0);
  if (!accepted) {
    EXPECT_EQ(memcmp(&before, &config, sizeof config), 0);
  } else if (c.field != nullptr) {
    EXPECT_EQ(config.*c.field, c.stored);
  } else {
    EXPECT_EQ(config.zt6_display, c.stored);
  }
}

const SetterCase setter_cases[] = {
    {5, 15, &ConfigRecord::midi_channel, 15, "MIDI channel set to 15\n"},
    {5, 16, &ConfigRecord::midi_channel, -1000, ""},
    {6, 16, &ConfigRecord::noise_gate_level, 16, "Noise gate set to 16\n"},
    {6, 17, &ConfigRecord::noise_gate_level, -1000, ""},
    {6, 0, &ConfigRecord::noise_gate_level, 0, "Noise gate set to 0\n"},
    {7, 3, &ConfigRecord::brightness, 3, "Brightness set to 3\n"},
    {7, 7, &ConfigRecord::brightness, 7, "Brightness set to 7\n"},
    {7, 5, &ConfigRecord::brightness, -1000, ""},
    {8, 1, &ConfigRecord::midi_clock_out, 0, "MIDI clock: out 0, in 0\n"},
    {8, 3, &ConfigRecord::midi_clock_in, 1, "MIDI clock: out 1, in 1\n"},
    {8, 5, &ConfigRecord::midi_clock_out, -1000, ""},
    {11, 16, &ConfigRecord::beats_per_measure, 16, "Beats per measure set to 16\n"},
    {11, 0, &ConfigRecord::beats_per_measure, -1000, ""},
    {11, 17, &ConfigRecord::beats_per_measure, -1000, ""},
    {12, 1, nullptr, 1, "ZT6 display set to new\n"},
    {12, 2, nullptr, -1000, ""},
};

INSTANTIATE_TEST_SUITE_P(Commands, SetterTest, testing::ValuesIn(setter_cases),
                         [](const testing::TestParamInfo<SetterCase>& info) {
                           return "command" + std::to_string(info.param.command) + "_value" +
                                  std::to_string(info.param.value);
                         });

TEST_F(HostSysexTest, SettersWithoutTheirValueByteChangeNothing) {
  const ConfigRecord before = config;
  for (int command : {4, 5, 6, 7, 8, 11, 12, 14, 20}) {
    EXPECT_TRUE(send(host_message(command, {})).empty()) << command;
  }
  EXPECT_EQ(memcmp(&before, &config, sizeof config), 0);
  EXPECT_EQ(config_dirty.load(), 0);
  EXPECT_EQ(printed(), "");
}

TEST_F(HostSysexTest, CommandFourStoresAnyByteButZeroAndU) {
  send(host_message(4, {'A'}));
  EXPECT_EQ(host_sysex_state.stored_byte, 'A');
  EXPECT_EQ(config_dirty.load(), 0);  // the byte is not part of the configuration record
  for (uint8_t refused : {uint8_t(0), uint8_t('U'), uint8_t('u')}) {
    send(host_message(4, {refused}));
    EXPECT_EQ(host_sysex_state.stored_byte, 'A');
  }
}

TEST_F(HostSysexTest, UnknownAndLaterCommandsAreIgnored) {
  const ConfigRecord before = config;
  for (int command : {0, 1, 9, 10, 13, 15, 127}) {
    EXPECT_TRUE(send(host_message(command, {1, 2, 3, 4, 5, 6})).empty()) << command;
  }
  EXPECT_EQ(memcmp(&before, &config, sizeof config), 0);
}

TEST_F(HostSysexTest, FunctionListsRoundTripThroughCommandsSixteenAndFourteen) {
  // List 300 (note 44): ids 5, 133, then the end marker.
  Bytes set = {0x02, 0x2C, 0x00, 0x05, 0x01, 0x05};
  for (int i = 2; i < 8; ++i) set.insert(set.end(), {0x7F, 0x7F});
  EXPECT_TRUE(send(host_message(16, set)).empty());
  EXPECT_EQ(config.midi_lists[300][0], 5);
  EXPECT_EQ(config.midi_lists[300][1], 133);
  EXPECT_EQ(config.midi_lists[300][2], -1);
  EXPECT_EQ(config_dirty.load(), 1);

  const auto replies = send(host_message(14, {0x02, 0x2B, 2}));  // lists 299 and 300
  ASSERT_EQ(replies.size(), 1u);
  Bytes want = {0xF0, 0x00, 0x3F, 0x6A, 15, 0x02, 0x2B, 2};
  for (int i = 0; i < 8; ++i) want.insert(want.end(), {0x7F, 0x7F});
  want.insert(want.end(), set.begin() + 2, set.end());
  want.push_back(0xF7);
  EXPECT_EQ(replies[0], want);
}

TEST_F(HostSysexTest, FunctionListReportRefusesBadCountsAndStopsAtTheLastList) {
  EXPECT_TRUE(send(host_message(14, {0, 0, 9})).empty());
  EXPECT_TRUE(send(host_message(14, {0, 0, 0})).empty());
  EXPECT_TRUE(send(host_message(14, {0x04, 0x00, 1})).empty());  // list 512
  EXPECT_TRUE(send(host_message(14, {0x7F, 0x7F, 1})).empty());
  EXPECT_TRUE(send(host_message(14, {0x03, 0x7F})).empty());  // count missing

  config.midi_lists[511][0] = 42;
  auto replies = send(host_message(14, {0x03, 0x7E, 8}));  // lists 510 and 511 exist
  ASSERT_EQ(replies.size(), 1u);
  ASSERT_EQ(replies[0].size(), 8u + 2 * 16 + 1);
  EXPECT_EQ(replies[0][7], 2);
  EXPECT_EQ(replies[0][8 + 16], 0);
  EXPECT_EQ(replies[0][8 + 17], 42);

  replies = send(host_message(14, {0, 0, 8}));
  ASSERT_EQ(replies.size(), 1u);
  EXPECT_EQ(replies[0].size(), 8u + 8 * 16 + 1);
}

TEST_F(HostSysexTest, FunctionListStoreChecksLengthThenIndex) {
  const ConfigRecord before = config;
  EXPECT_TRUE(send(host_message(16, Bytes(17, 0))).empty());
  EXPECT_EQ(printed(), "set_midi_button_config length error 17\n");
  send(host_message(16, Bytes(19, 0)));
  EXPECT_EQ(printed(), "set_midi_button_config length error 19\n");
  Bytes big(18, 0);
  big[0] = 0x04;  // list 512
  send(host_message(16, big));
  EXPECT_EQ(printed(), "set_midi_button_config button error 512\n");
  big[0] = 0x7F;
  big[1] = 0x7F;
  send(host_message(16, big));
  EXPECT_EQ(printed(), "set_midi_button_config button error 16383\n");
  EXPECT_EQ(memcmp(&before, &config, sizeof config), 0);
  EXPECT_EQ(config_dirty.load(), 0);

  Bytes last(18, 0);  // list 511, all ids 0
  last[0] = 0x03;
  last[1] = 0x7F;
  send(host_message(16, last));
  for (int i = 0; i < 8; ++i) EXPECT_EQ(config.midi_lists[511][i], 0);
  EXPECT_EQ(config.cc_max[0], 127) << "the store ran past the lists";
}

TEST_F(HostSysexTest, ControllerBindingsReportAndStore) {
  auto replies = send(host_message(17, {}));
  ASSERT_EQ(replies.size(), 1u);
  const Bytes& r = replies[0];
  ASSERT_EQ(r.size(), size_t(host_controllers_length));
  EXPECT_EQ(r[4], 18);
  EXPECT_EQ(r[5], 127);              // controller 0: none
  EXPECT_EQ(r[5 + 128], 0);          // min
  EXPECT_EQ(r[5 + 256 + 127], 127);  // max of controller 127
  EXPECT_EQ(r.back(), 0xF7);

  EXPECT_TRUE(send(host_message(19, {7, 3, 10, 100})).empty());
  EXPECT_EQ(config.cc_controller[7], 3);
  EXPECT_EQ(config.cc_min[7], 10);
  EXPECT_EQ(config.cc_max[7], 100);
  EXPECT_EQ(config_dirty.load(), 1);
  send(host_message(19, {127, 127, 0, 127}));  // 127: no function
  EXPECT_EQ(config.cc_controller[127], -1);

  replies = send(host_message(17, {}));
  EXPECT_EQ(replies[0][5 + 7], 3);
  EXPECT_EQ(replies[0][5 + 128 + 7], 10);
  EXPECT_EQ(replies[0][5 + 256 + 7], 100);

  printed();
  const ConfigRecord before = config;
  send(host_message(19, {7, 3, 10}));
  EXPECT_EQ(printed(), "set_controller_config length error 3\n");
  send(host_message(19, {7, 3, 10, 100, 0}));
  EXPECT_EQ(printed(), "set_controller_config length error 5\n");
  EXPECT_EQ(memcmp(&before, &config, sizeof config), 0);
}

Bytes unpack_dump(const Bytes& reply) {
  // header, code, chunk ... F7
  Bytes record(reply.size());
  const int n = unpack_8bit(reply.data() + 6, int(reply.size()) - 7, record.data());
  record.resize(size_t(n));
  return record;
}

TEST_F(HostSysexTest, ConfigurationDumpCoversTheRecordInOverlappingChunks) {
  config.checksum = 0xBEEF;  // top bits set in the record
  config.presets[10].main_level = -3;
  const uint8_t* record = reinterpret_cast<const uint8_t*>(&config);

  auto replies = send(host_message(20, {0}));
  ASSERT_EQ(replies.size(), 1u);
  EXPECT_EQ(replies[0].size(), 159u);
  EXPECT_EQ(Bytes(replies[0].begin(), replies[0].begin() + 6),
            (Bytes{0xF0, 0x00, 0x3F, 0x6A, 21, 0}));
  EXPECT_EQ(unpack_dump(replies[0]), Bytes(record, record + 133));

  replies = send(host_message(20, {77}));
  ASSERT_EQ(replies.size(), 1u);
  EXPECT_EQ(replies[0].size(), 6u + 116 + 17 + 1);
  EXPECT_EQ(replies[0][5], 77);
  EXPECT_EQ(unpack_dump(replies[0]), Bytes(record + 77 * 128, record + config_size));

  for (int chunk : {78, 127}) {
    replies = send(host_message(20, {uint8_t(chunk)}));
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0], (Bytes{0xF0, 0x00, 0x3F, 0x6A, 21, uint8_t(chunk), 0xF7}));
  }
}

TEST_F(HostSysexTest, VersionReplyCarriesItsNul) {
  const auto replies = send(host_message(22, {}));
  ASSERT_EQ(replies.size(), 1u);
  const std::string text = "ZT4 Version V3.07";
  Bytes want = {0xF0, 0x00, 0x3F, 0x6A, 23};
  want.insert(want.end(), text.begin(), text.end());
  want.insert(want.end(), {0x00, 0xF7});
  EXPECT_EQ(replies[0], want);
}

TEST_F(HostSysexTest, LogReplyDrainsUpTo245CharactersInRingOrder) {
  std::string printed_text;
  for (int i = 0; i < 40; ++i) {
    console_printf("line %d\n", i);
    printed_text += "line " + std::to_string(i) + "\n";
  }
  console_putc(char(0xE9));  // not 7-bit
  ASSERT_GT(printed_text.size(), 245u);
  auto replies = send(host_message(3, {}));
  ASSERT_EQ(replies.size(), 1u);
  EXPECT_EQ(replies[0].size(), 5u + 245 + 1);
  EXPECT_EQ(std::string(replies[0].begin() + 5, replies[0].end() - 1), printed_text.substr(0, 245));

  replies = send(host_message(3, {}));
  ASSERT_EQ(replies.size(), 1u);
  EXPECT_EQ(std::string(replies[0].begin() + 5, replies[0].end() - 1),
            printed_text.substr(245) + "?");
  replies = send(host_message(3, {}));
  EXPECT_EQ(replies[0].size(), 6u);  // nothing left: an empty log reply
}

TEST_F(HostSysexTest, TextCommandRunsItsWholePayload) {
  const std::string text = "Select Track 3";
  send(host_message(27, Bytes(text.begin(), text.end())));
  ASSERT_EQ(recorded.texts.size(), 1u);
  EXPECT_EQ(recorded.texts[0], text);
  send(host_message(27, {}));
  ASSERT_EQ(recorded.texts.size(), 2u);
  EXPECT_EQ(recorded.texts[1], "");
}

// SysEx arriving on MIDIIN takes effect in its turn among the channel messages around it: note
// 60 selects track 2 and note 62 track 3, SysEx 27 "Select Track 5".
TEST_F(HostSysexTest, SysexFromMidiTakesEffectInArrivalOrder) {
  const std::string text = "Select Track 5";
  const Bytes select_5 = host_message(27, Bytes(text.begin(), text.end()));
  const Bytes note_60 = {0x90, 60, 100};
  const Bytes note_62 = {0x90, 62, 100};
  struct Case {
    std::vector<Bytes> burst;
    int selected;
  };
  const Case cases[] = {
      {{note_60, select_5}, 5},
      {{select_5, note_60}, 2},
      {{note_60, select_5, note_62}, 3},
      {{note_60, note_62, select_5}, 5},
  };
  for (const Case& c : cases) {
    looper_reset();
    config_defaults();
    config.midi_lists[list_note_base + 60][0] = 4;  // "Select Track 2"
    config.midi_lists[list_note_base + 62][0] = 5;  // "Select Track 3"
    midi_set_sysex_handler(host_sysex);
    for (const Bytes& message : c.burst)
      for (uint8_t b : message) midi_in_put(b);
    while (midi_input_waiting()) ui_poll();
    EXPECT_EQ(selection.current_track, c.selected) << c.burst.size() << " " << int(c.burst[0][0]);
  }
}

TEST_F(HostSysexTest, StatusRequestRepliesWith120Bytes) {
  const auto replies = send(host_message(2, {}));
  ASSERT_EQ(replies.size(), 1u);
  ASSERT_EQ(replies[0].size(), 120u);
  EXPECT_EQ(replies[0][4], 2);
  EXPECT_EQ(replies[0][5], 8);
  EXPECT_EQ(replies[0][6], 1);        // the selected track at start-up
  EXPECT_EQ(replies[0][7 + 3], 100);  // feedback of track 1 at the default mix
}

TEST_F(HostSysexTest, RepliesAlsoGoToTheLastPeer) {
  const int server = socket(AF_INET, SOCK_DGRAM, 0);
  const int peer = socket(AF_INET, SOCK_DGRAM, 0);
  ASSERT_GE(server, 0);
  ASSERT_GE(peer, 0);
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(bind(peer, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  socklen_t length = sizeof address;
  ASSERT_EQ(getsockname(peer, reinterpret_cast<sockaddr*>(&address), &length), 0);
  timeval timeout = {2, 0};
  setsockopt(peer, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);

  send(host_message(22, {}));  // no peer yet: MIDI only
  remote_set_socket(server);
  remote_record_peer(address);
  const auto replies = send(host_message(22, {}));
  ASSERT_EQ(replies.size(), 1u);
  uint8_t buffer[256];
  const ssize_t n = recv(peer, buffer, sizeof buffer, 0);
  EXPECT_EQ(Bytes(buffer, buffer + (n > 0 ? n : 0)), replies[0]);
  remote_peer_reset();
  close(server);
  close(peer);
}

}  // namespace
