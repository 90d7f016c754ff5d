#include "net/upgrade.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "tests/fixtures/test_workdir.h"
#include "host/looper.h"
#include "host/main_loop.h"
#include "net/host_sysex.h"
#include "net/lz77.h"
#include "net/sysex_upgrade.h"
#include "net/tftp.h"
#include "net/upgrade_key.h"
#include "net/upgrade_signature.h"
#include "tests/support/tftp_test_server.h"
#include "tools/signing/upgrade_signing.h"

namespace {

// --- LZ77 ---------------------------------------------------------------------------------

Bytes lz77(uint32_t length, uint8_t bits, const std::vector<std::pair<uint16_t, uint8_t>>& tokens) {
  Bytes b = {'L',
             'Z',
             '7',
             '7',
             uint8_t(length),
             uint8_t(length >> 8),
             uint8_t(length >> 16),
             uint8_t(length >> 24),
             bits};
  for (const auto& [w, literal] : tokens) b.insert(b.end(), {uint8_t(w), uint8_t(w >> 8), literal});
  return b;
}

int32_t expand(const Bytes& in, Bytes& out, int capacity = 64) {
  out.assign(size_t(capacity), 0);
  const int32_t n = lz77_expand(in.data(), int32_t(in.size()), out.data(), capacity);
  if (n >= 0) out.resize(size_t(n));
  return n;
}

TEST(Lz77Test, ExpandsLiteralsAndRepeatingCopies) {
  Bytes out;
  EXPECT_EQ(expand(lz77(5, 4, {{0, 'a'}, {(1 << 4) + 2, 'b'}}), out), 5);
  EXPECT_EQ(out, (Bytes{'a', 'a', 'a', 'a', 'b'}));
  // A copy that reaches the expanded length ends the image without its literal.
  EXPECT_EQ(expand(lz77(4, 4, {{0, 'x'}, {(1 << 4) + 7, 'y'}}), out), 4);
  EXPECT_EQ(out, (Bytes{'x', 'x', 'x', 'x'}));
  // Distance 2 repeats a two-byte pattern; s = 0 makes every count 1.
  EXPECT_EQ(expand(lz77(6, 0, {{0, 'p'}, {0, 'q'}, {2, 'r'}, {3, 's'}}), out), 6);
  EXPECT_EQ(out, (Bytes{'p', 'q', 'p', 'r', 'q', 's'}));
  EXPECT_EQ(expand(lz77(0, 4, {}), out), 0);
}

TEST(Lz77Test, RefusesWhatWouldReadOrWriteOutsideTheBuffers) {
  struct Case {
    Bytes in;
    int32_t result;
  } const cases[] = {
      {lz77(3, 4, {{1 << 4, 'a'}}), lz77_bad_distance},  // copies before byte 0
      {lz77(9, 4, {{0, 'a'}, {(2 << 4) + 3, 'b'}}), lz77_bad_distance},
      {lz77(65, 4, {{0, 'a'}}), lz77_too_long},  // longer than the output
      {lz77(0xFFFFFFFF, 4, {}), lz77_too_long},
      {lz77(5, 4, {{0, 'a'}, {(1 << 4) + 1, 'b'}}), lz77_truncated},  // tokens run out
      {lz77(2, 17, {{0, 'a'}, {0, 'b'}}), lz77_bad_header},
      {Bytes{'L', 'Z', '7', '7', 1, 0, 0, 0}, lz77_bad_header},
      {Bytes{'L', 'Z', '7', '8', 1, 0, 0, 0, 4, 0, 0, 'a'}, lz77_bad_header},
  };
  for (const Case& c : cases) {
    Bytes out;
    EXPECT_EQ(expand(c.in, out), c.result);
  }
}

// --- TFTP packets -------------------------------------------------------------------------

Bytes data_packet(uint16_t block, int payload, uint8_t fill) {
  Bytes p = {0, 3, uint8_t(block >> 8), uint8_t(block)};
  p.insert(p.end(), size_t(payload), fill);
  return p;
}

TEST(TftpTest, StoresEachBlockOnceAndAcknowledgesRepeatsOfTheLast) {
  uint8_t request[tftp_read_request_length];
  tftp_read_request(request);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(request), sizeof request),
            std::string("\0\1upgrade\0octet\0", 16));

  uint8_t buffer[1100] = {};
  TftpReceive r{buffer, int32_t(sizeof buffer), 1030, 0, 0};
  uint8_t ack[4];
  auto receive = [&](const Bytes& p) { return tftp_receive(r, p.data(), int(p.size()), ack); };

  EXPECT_EQ(receive(data_packet(2, 512, 'x')), TftpStep::ignore);  // out of order: not stored
  EXPECT_EQ(receive(data_packet(0, 512, 'x')), TftpStep::ignore);
  EXPECT_EQ(receive(data_packet(1, 512, 'a')), TftpStep::acknowledge);
  EXPECT_EQ(Bytes(ack, ack + 4), (Bytes{0, 4, 0, 1}));
  EXPECT_EQ(receive(data_packet(1, 512, 'z')), TftpStep::acknowledge);  // the duplicate
  EXPECT_EQ(Bytes(ack, ack + 4), (Bytes{0, 4, 0, 1}));
  EXPECT_EQ(r.received, 512);
  EXPECT_EQ(buffer[511], 'a');
  EXPECT_EQ(receive(Bytes{0, 4, 0, 1}), TftpStep::ignore);  // not DATA
  EXPECT_EQ(receive(Bytes{0, 3, 0}), TftpStep::ignore);     // shorter than a header
  EXPECT_EQ(receive(data_packet(3, 512, 'x')), TftpStep::ignore);
  EXPECT_EQ(receive(data_packet(2, 512, 'b')), TftpStep::acknowledge);
  EXPECT_EQ(receive(data_packet(3, 512, 'c')), TftpStep::acknowledge);  // beyond the image size
  EXPECT_EQ(r.received, 1030);
  EXPECT_EQ(buffer[1029], 'c');
  EXPECT_EQ(buffer[1030], 0);

  EXPECT_EQ(receive(data_packet(4, 1020, 'd')), TftpStep::end);       // 1024 bytes
  EXPECT_EQ(receive(Bytes{0, 5, 0, 1, 'n', 'o', 0}), TftpStep::end);  // the server's error
}

// --- SysEx images -------------------------------------------------------------------------

// Groups of seven bytes followed by their top bits (bit k for byte k).
Bytes encode_7bit(const Bytes& decoded) {
  Bytes out;
  for (size_t g = 0; g < decoded.size(); g += 7) {
    uint8_t top = 0;
    for (size_t k = 0; k < 7; ++k) {
      const uint8_t b = g + k < decoded.size() ? decoded[g + k] : 0;
      out.push_back(b & 0x7F);
      top = uint8_t(top | (b >> 7) << k);
    }
    out.push_back(top);
  }
  return out;
}

// An image padded to whole groups, then its checksum group.
Bytes sysex_image(Bytes image, int32_t checksum_delta = 0) {
  while (image.size() % 7 != 0) image.push_back(0);
  uint32_t sum = 0;
  for (uint8_t b : image) sum += b;
  sum += uint32_t(checksum_delta);
  image.insert(image.end(),
               {uint8_t(sum), uint8_t(sum >> 8), uint8_t(sum >> 16), uint8_t(sum >> 24), 0, 0, 0});
  return encode_7bit(image);
}

TEST(SysexDecodeTest, DecodesGroupsAndSumsAllButTheLast) {
  Bytes image = {0x00, 0xFF, 0x80, 0x7F, 0x12, 0x34, 0x56, 0xAB};
  Bytes received = sysex_image(image);
  ASSERT_EQ(received.size(), 24u);
  const SysexImage d = sysex_decode_image(received.data(), int32_t(received.size()));
  EXPECT_EQ(d.size, 14);
  EXPECT_EQ(d.computed, 0x00u + 0xFF + 0x80 + 0x7F + 0x12 + 0x34 + 0x56 + 0xAB);
  EXPECT_EQ(d.received, d.computed);
  EXPECT_EQ(Bytes(received.begin(), received.begin() + 8), image);

  Bytes short_tail = {1, 2, 3, 4, 5, 6, 7, 0, 9, 0};  // one group, then two bytes
  const SysexImage s = sysex_decode_image(short_tail.data(), int32_t(short_tail.size()));
  EXPECT_EQ(s.size, 7);
  EXPECT_EQ(s.computed, 28u);
  EXPECT_EQ(s.received, 9u);
  EXPECT_EQ(sysex_decode_image(short_tail.data(), 0).size, 0);
}

struct Written {
  int calls = 0;
  Bytes image;
  int32_t result = 0;
  int restart = 0;
};
Written written;

int32_t record_writer(const uint8_t* data, int32_t size) {
  ++written.calls;
  written.image.assign(data, data + size);
  return written.result;
}
void record_restart(int32_t seconds) { written.restart = seconds; }

// Sends the image as host commands 0 (data) and 1 (last data, then the check).
void send_sysex_image(const Bytes& received, int chunk = 40) {
  for (size_t at = 0; at < received.size(); at += size_t(chunk)) {
    const bool last = at + size_t(chunk) >= received.size();
    Bytes m = {0xF0, 0x00, 0x3F, 0x6A, uint8_t(last ? 1 : 0)};
    m.insert(m.end(), received.begin() + long(at),
             received.begin() + long(std::min(received.size(), at + size_t(chunk))));
    m.push_back(0xF7);
    host_sysex(m.data(), int(m.size()));
  }
}

class SysexUpgradeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    looper_reset();
    written = Written{};
    upgrade.hooks = UpgradeHooks{record_writer, record_restart};
  }
  static void send(const Bytes& received) { send_sysex_image(received); }
  // The console since the last call with the "<seconds>: " prefixes taken out.
  static std::string printed() {
    std::string text = take_console_output(), out;
    size_t at = 0;
    while (at < text.size()) {
      const size_t colon = text.find(": ", at);
      const size_t end = text.find('\n', at);
      if (colon != std::string::npos && colon < end) at = colon + 2;
      out += text.substr(at, end - at + 1);
      at = end + 1;
    }
    return out;
  }
};

TEST_F(SysexUpgradeTest, AWrongChecksumPrintsBothValuesAndChangesNothing) {
  Bytes image(100, 0x11);
  send(sysex_image(image, 1));
  EXPECT_EQ(printed(), "midi_upgrade\ncsum computed 000006A4, csum received 000006A5\n");
  EXPECT_EQ(written.calls, 0);
  EXPECT_EQ(written.restart, 0);
  EXPECT_EQ(upgrade.sysex_collected, 0);
}

TEST_F(SysexUpgradeTest, AGoodImageIsWrittenAndArmsTheRestart) {
  Bytes image;
  for (int i = 0; i < 300; ++i) image.push_back(uint8_t(i * 7));
  send(sysex_image(image));
  ASSERT_EQ(written.calls, 1);
  EXPECT_EQ(Bytes(written.image.begin(), written.image.begin() + 300), image);
  EXPECT_EQ(written.restart, 2);
  EXPECT_NE(printed().find("MIDI upgrade succeeded\n"), std::string::npos);
}

TEST_F(SysexUpgradeTest, CompressedImagesAreExpandedAndBadOnesRefused) {
  send(sysex_image(lz77(5, 4, {{0, 'a'}, {(1 << 4) + 2, 'b'}})));
  ASSERT_EQ(written.calls, 1);
  EXPECT_EQ(written.image, (Bytes{'a', 'a', 'a', 'a', 'b'}));
  EXPECT_NE(printed().find("decompressed size 5\n"), std::string::npos);

  send(sysex_image(lz77(5, 4, {{3 << 4, 'a'}})));  // reaches before the first byte
  EXPECT_EQ(written.calls, 1);
  EXPECT_NE(printed().find("LZ77 image bad"), std::string::npos);
}

TEST_F(SysexUpgradeTest, OnThisBoardTheFirmwareWriterFails) {
  upgrade_reset();  // the board's own writer
  upgrade.hooks.arm_restart = record_restart;
  send(sysex_image(Bytes(20, 1)));
  EXPECT_EQ(printed(),
            "midi_upgrade\ncsum computed 00000014, csum received 00000014\n"
            "MIDI upgrade image failed\n");
  EXPECT_EQ(written.restart, 0);
}

// --- Network upgrades against a TFTP server on loopback -----------------------------------

Bytes test_key() {
  Bytes key;
  read_file_bytes(ZT4_SOURCE_DIR "/tests/keys/upgrade_test_key.der", key);
  return key;
}

Bytes archive_bytes(size_t n) {
  Bytes a(n);
  for (size_t i = 0; i < n; ++i) a[i] = uint8_t(i * 31 + i / 256);
  return a;
}

class NetworkUpgradeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    looper_reset();
    upgrade.local_port = 0;
    upgrade.image_path = "upgrade.tgz";
    upgrade.install_command = "echo installed > installed.txt";
  }
  // Runs one upgrade of the announced size against the server; waits for its thread to end.
  static void run(tftp_test::Server& server, int32_t size) {
    server.start();
    upgrade_request(size, server.address());
    ASSERT_TRUE(wait_idle(10.0));
    server.join();  // what it received is read once its thread has ended
  }
  static bool wait_idle(double seconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (upgrade.busy.load()) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
  }
  TestWorkdir workdir;
};

// The build gives these tests the test key through the same `zt4-sign key-table` step that keys
// a release.
TEST_F(NetworkUpgradeTest, TheTestBuildsKeyIsTheTestKeysPublicHalf) {
  ASSERT_NE(upgrade_builtin_key, nullptr);
  ASSERT_EQ(upgrade.key, upgrade_builtin_key);
  uint8_t key[upgrade_key_length];
  upgrade_key_rebuild(*upgrade_builtin_key, key);
  EXPECT_EQ(Bytes(key, key + upgrade_key_length), upgrade_public_key(test_key()));
}

// A build without a key refuses every upgrade in one line, over UDP and SysEx alike: no fetch,
// no check, nothing written, however the image is signed.
TEST_F(NetworkUpgradeTest, WithoutAKeyEveryUpgradeIsRefusedInOneLine) {
  upgrade.key = nullptr;
  const Bytes image = upgrade_signed_image(test_key(), archive_bytes(2000));
  sockaddr_in host = {};
  host.sin_family = AF_INET;
  host.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  host.sin_port = htons(9);
  upgrade_request(int32_t(image.size()), host);
  EXPECT_FALSE(upgrade.busy.load());  // no fetch thread
  EXPECT_EQ(take_console_output(), "Upgrade refused: this build has no upgrade key\n");

  upgrade.hooks = UpgradeHooks{record_writer, record_restart};
  written = Written{};
  send_sysex_image(sysex_image(Bytes(300, 7)));
  EXPECT_EQ(take_console_output(), "Upgrade refused: this build has no upgrade key\n");
  EXPECT_EQ(upgrade.sysex_collected, 0);
  EXPECT_EQ(written.calls, 0);
  EXPECT_EQ(written.restart, 0);

  EXPECT_EQ(upgrade_verify_install(image.data(), int32_t(image.size())), 3);
  EXPECT_EQ(take_console_output(), "process upgrade 2256\nUpgrade error 3\n");
  EXPECT_EQ(access("upgrade.tgz", F_OK), -1);
  EXPECT_EQ(access("installed.txt", F_OK), -1);
}

TEST_F(NetworkUpgradeTest, ASignedImageIsFetchedVerifiedWrittenAndInstalled) {
  const Bytes archive = archive_bytes(3000);
  const Bytes image = upgrade_signed_image(test_key(), archive);
  ASSERT_EQ(image.size(), 3256u);
  tftp_test::Server server({image, true, false});  // blocks arrive twice
  run(server, int32_t(image.size()));
  EXPECT_EQ(server.request,
            Bytes(std::begin("\0\1upgrade\0octet"), std::end("\0\1upgrade\0octet")));
  EXPECT_EQ(take_console_output(), "process upgrade 3256\nUpgrade valid.\n");
  const std::string stored = read_whole_file("upgrade.tgz");
  EXPECT_EQ(Bytes(stored.begin(), stored.end()), archive);
  EXPECT_EQ(read_whole_file("installed.txt"), "installed\n");
  EXPECT_EQ(server.acks, (std::vector<int>{2, 2, 2, 2, 2, 2, 1}));  // duplicates acknowledged
}

TEST_F(NetworkUpgradeTest, BadImagesAreRefusedAndNothingIsInstalled) {
  const Bytes key = test_key();
  Bytes tampered = upgrade_signed_image(key, archive_bytes(2000));
  tampered[100] ^= 1;
  Bytes bad_signature = upgrade_signed_image(key, archive_bytes(2000));
  bad_signature.back() ^= 0x40;
  struct Case {
    Bytes image;
    const char* printed;
  } const cases[] = {
      {archive_bytes(1023), "process upgrade 1023\nUpgrade error 1\n"},
      {tampered, "process upgrade 2256\nUpgrade error 4\n"},
      {bad_signature, "process upgrade 2256\nUpgrade error 4\n"},
  };
  for (const Case& c : cases) {
    tftp_test::Server server({c.image, false, false});
    run(server, int32_t(c.image.size()));
    EXPECT_EQ(take_console_output(), c.printed);
    EXPECT_FALSE(workdir.path().empty());
    EXPECT_EQ(access("upgrade.tgz", F_OK), -1);
    EXPECT_EQ(access("installed.txt", F_OK), -1);
  }
}

TEST_F(NetworkUpgradeTest, ASilentServerEndsTheFetchAfterASecond) {
  tftp_test::Server server({archive_bytes(2000), false, true});
  run(server, 2000);
  EXPECT_EQ(take_console_output(), "Upgrade fetch ended after 0 of 2000 bytes\n");
}

TEST_F(NetworkUpgradeTest, ARequestWhileOneRunsIsRefused) {
  tftp_test::Server server({archive_bytes(2000), false, true});
  server.start();
  upgrade_request(2000, server.address());
  upgrade_request(2000, server.address());
  sysex_upgrade_append(reinterpret_cast<const uint8_t*>("abc"), 3);  // the SysEx path waits too
  EXPECT_EQ(upgrade.sysex_collected, 0);
  ASSERT_TRUE(wait_idle(10.0));
  EXPECT_EQ(take_console_output(),
            "Upgrade refused: another upgrade is running\n"
            "Upgrade refused: another upgrade is running\n"
            "Upgrade fetch ended after 0 of 2000 bytes\n");
}

TEST_F(NetworkUpgradeTest, TheArchiveIsNotWrittenThroughALink) {
  write_whole_file("target", "keep", 4);
  ASSERT_EQ(symlink("target", "upgrade.tgz"), 0);
  const Bytes image = upgrade_signed_image(test_key(), archive_bytes(1000));
  EXPECT_EQ(upgrade_verify_install(image.data(), int32_t(image.size())), 5);
  EXPECT_EQ(take_console_output(), "process upgrade 1256\nUpgrade valid.\nUpgrade error 5.\n");
  EXPECT_EQ(read_whole_file("target"), "keep");
  EXPECT_EQ(access("installed.txt", F_OK), -1);
}

}  // namespace
