// The host commands of the take archive (31, 33, 35, 36, 37, and 39 for a waiting remote) and
// the track-name reply 38, through host_sysex as the MIDI parser and the network thread call it.
#include <sys/stat.h>

#include <string>
#include <vector>

#include "midi/midi_queue.h"
#include "net/host_sysex.h"
#include "tests/fixtures/storage_test_fixture.h"

namespace {

using Bytes = std::vector<uint8_t>;

class HostStorageTest : public StorageTest {
 protected:
  static std::vector<Bytes> send(int command, const Bytes& payload) {
    Bytes m = {0xF0, 0x00, 0x3F, 0x6A, uint8_t(command)};
    m.insert(m.end(), payload.begin(), payload.end());
    m.push_back(0xF7);
    host_sysex(m.data(), int(m.size()));
    std::vector<Bytes> replies;
    while (midi_out_pending() > 0) {
      const int n = midi_out_length();
      const uint8_t* b = midi_out_take();
      replies.emplace_back(b, b + n);
    }
    return replies;
  }
  static Bytes reply(int code, const Bytes& payload) {
    Bytes m = {0xF0, 0x00, 0x3F, 0x6A, uint8_t(code)};
    m.insert(m.end(), payload.begin(), payload.end());
    m.push_back(0xF7);
    return m;
  }
};

TEST_F(HostStorageTest, SessionsAndTakesAreListed) {
  EXPECT_TRUE(send(31, {}).empty());  // no session: no reply
  mkdir("sess3", 0755);
  mkdir("sess200", 0755);
  write("sess200/tr2_130.raw", std::string(8, '\0'));
  write("sess200/tr8_1.raw", std::string(8, '\0'));
  EXPECT_EQ(send(31, {}), std::vector<Bytes>{reply(32, {0x00, 0x03, 0x01, 0x48})});
  EXPECT_EQ(send(33, {0x01, 0x48}),
            std::vector<Bytes>{reply(34, {0x00, 0x02, 0x01, 0x02, 0x00, 0x08, 0x00, 0x01})});
  EXPECT_EQ(send(33, {0x00, 0x03}), std::vector<Bytes>{reply(34, {})});
  EXPECT_TRUE(send(33, {0x00}).empty());  // session number cut short
}

TEST_F(HostStorageTest, ATakeLoadsIntoTheDestinationTrackAndReportsItsProgress) {
  mkdir("sess1", 0755);
  write("sess1/tr3_2.raw", std::string(800, '\x01'));
  EXPECT_TRUE(send(35, {0x00, 0x01, 0x03, 0x00, 0x02, 0x09}).empty());  // destination 9
  EXPECT_TRUE(send(35, {0x00, 0x01, 0x03, 0x00, 0x02}).empty());        // five bytes
  EXPECT_EQ(storage.load_busy.load(), 0);
  send(35, {0x00, 0x01, 0x03, 0x00, 0x02, 0x05});
  EXPECT_EQ(storage.load_busy.load(), 1);
  EXPECT_STREQ(storage.load_raw_path, "sess1/tr3_2.raw");
  EXPECT_EQ(send(39, {}), std::vector<Bytes>{reply(40, {1, 0, 0})});
  pass();
  EXPECT_EQ(tracks[4].length, 100);
  EXPECT_EQ(send(39, {}), std::vector<Bytes>{reply(40, {0, 100, 0})});

  send(35, {0x00, 0x01, 0x03, 0x00, 0x07, 0x05});  // no such take
  pass();
  EXPECT_EQ(send(39, {}), std::vector<Bytes>{reply(40, {0, 0, load_missing})});
}

TEST_F(HostStorageTest, TakesAndSessionsAreDeletedOnlyWithTheirExactLength) {
  mkdir("sess5", 0755);
  write("sess5/tr1_4.raw", std::string(8, '\0'));
  write("sess5/tr1_6.raw", std::string(8, '\0'));
  send(36, {0x00, 0x05, 0x01, 0x00, 0x04});  // five bytes
  EXPECT_TRUE(exists("sess5/tr1_4.raw"));
  send(36, {0x00, 0x05, 0x01, 0x00, 0x04, 0x00});
  EXPECT_FALSE(exists("sess5/tr1_4.raw"));
  send(37, {0x00, 0x05});  // two bytes
  EXPECT_TRUE(exists("sess5"));
  send(37, {0x00, 0x05, 0x00});
  EXPECT_FALSE(exists("sess5"));
}

TEST_F(HostStorageTest, ATrackNameGoesOutAsReply38) {
  midi_queue_reset();
  host_report_track_name(6, "save12.dat");
  Bytes expected = {0x06};
  for (char c : std::string("save12.dat")) expected.push_back(uint8_t(c));
  expected.push_back(0x00);
  ASSERT_EQ(midi_out_pending(), 1);
  const int n = midi_out_length();
  const uint8_t* b = midi_out_take();
  EXPECT_EQ(Bytes(b, b + n), reply(38, expected));
}

}  // namespace
