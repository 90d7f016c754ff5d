// Upgrades against the real binary: zt4-testkey, the looper keyed with the test key, fetches an
// image announced over UDP by TFTP from a test server on loopback, verifies it and installs it
// by its own script; tampered images, overlapping requests and silent servers; a SysEx image
// with a bad checksum; the network button, which has no pin here. zt4 itself, built without the
// test key, refuses the same image.
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "net/upgrade.h"
#include "tests/support/harness.h"
#include "tests/support/tftp_test_server.h"
#include "tools/signing/upgrade_signing.h"

namespace zt4test {
namespace {

class UpgradeTest : public Zt4Test {
 protected:
  void SetUp() override {
    Zt4Test::SetUp();
    remove_installer_files();
  }
  void TearDown() override {
    Zt4Test::TearDown();
    remove_installer_files();
  }
  // The installer works in /tmp by its fixed command line.
  static void remove_installer_files() {
    std::error_code ec;
    std::filesystem::remove_all("/tmp/install", ec);
    std::filesystem::remove(upgrade_image_path, ec);
  }

  // A gzip tar archive holding install/install.sh, which writes "installed" into the marker.
  Bytes installer_archive() {
    const std::string stage = dir.file("stage");
    std::filesystem::create_directories(stage + "/install");
    dir.write("stage/install/install.sh", "echo installed > '" + dir.file("marker") + "'\n");
    std::string filler(4000, '\0');  // incompressible, so that the image is well above 1024 bytes
    uint32_t x = 12345;
    for (char& c : filler) c = char((x = x * 1103515245u + 12345u) >> 24);
    dir.write("stage/install/payload.bin", filler);
    const std::string command =
        "tar czf '" + dir.file("archive.tgz") + "' -C '" + stage + "' install";
    EXPECT_EQ(system(command.c_str()), 0);
    Bytes archive;
    EXPECT_TRUE(read_file_bytes(dir.file("archive.tgz"), archive));
    return archive;
  }
  static Bytes test_key() {
    Bytes key;
    EXPECT_TRUE(read_file_bytes(ZT4_SOURCE_DIR "/tests/keys/upgrade_test_key.der", key));
    return key;
  }
  static std::string request(size_t size) {
    return "<command>upgrade " + std::to_string(size) + "</command>";
  }
};

TEST_F(UpgradeTest, ASignedImageIsFetchedVerifiedAndInstalled) {
  start_zt4(ZT4_TESTKEY_BINARY);
  EXPECT_TRUE(zt4->wait_for_output("button thread failed.", 5));  // no GPIO 17 here
  const Bytes image = upgrade_signed_image(test_key(), installer_archive());
  ASSERT_FALSE(image.empty());
  tftp_test::Server server({image, true, false});
  server.start();
  server.announce(request(image.size()), udp_port);
  ASSERT_TRUE(zt4->wait_for_output("Upgrade valid.", 20)) << zt4->output();
  EXPECT_TRUE(wait_until([&] { return dir.read("marker") == std::string("installed\n"); }, 20))
      << zt4->output();
  server.join();
  EXPECT_NE(zt4->output().find("process upgrade " + std::to_string(image.size())),
            std::string::npos);
  for (size_t b = 0; b + 1 < server.acks.size(); ++b) EXPECT_EQ(server.acks[b], 2) << b;
  struct stat st;
  ASSERT_EQ(stat(upgrade_image_path, &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_EQ(size_t(st.st_size), image.size() - 256);
}

TEST_F(UpgradeTest, TamperedImagesAndOverlappingRequestsInstallNothing) {
  start_zt4(ZT4_TESTKEY_BINARY);
  Bytes image = upgrade_signed_image(test_key(), installer_archive());
  image[image.size() / 2] ^= 0x01;
  tftp_test::Server server({image, false, false});
  server.start();
  server.announce(request(image.size()), udp_port);
  ASSERT_TRUE(zt4->wait_for_output("Upgrade error 4", 20)) << zt4->output();
  server.join();

  tftp_test::Server silent({image, false, true});
  silent.start();
  silent.announce(request(image.size()), udp_port);
  ASSERT_TRUE(wait_until([&] { return silent.has_request(); }, 10));
  silent.announce(request(image.size()), udp_port);  // while the first is fetching
  EXPECT_TRUE(zt4->wait_for_output("Upgrade refused: another upgrade is running", 10));
  EXPECT_TRUE(zt4->wait_for_output(
      "Upgrade fetch ended after 0 of " + std::to_string(image.size()) + " bytes", 10));

  EXPECT_FALSE(dir.exists("marker"));
  EXPECT_FALSE(std::filesystem::exists(upgrade_image_path));
}

TEST_F(UpgradeTest, ASysexImageWithAWrongChecksumChangesNothing) {
  start_zt4(ZT4_TESTKEY_BINARY);
  open_client();
  // Two groups of image bytes (all 1) and a checksum group claiming 0x15 instead of 0x0E.
  std::vector<uint8_t> m = {0xF0, 0x00, 0x3F, 0x6A, 0x01};
  for (int g = 0; g < 2; ++g) m.insert(m.end(), {1, 1, 1, 1, 1, 1, 1, 0});
  m.insert(m.end(), {0x15, 0, 0, 0, 0, 0, 0, 0, 0xF7});
  client.send_midi(m);
  EXPECT_TRUE(zt4->wait_for_output(": csum computed 0000000E, csum received 00000015", 10))
      << zt4->output();
  EXPECT_EQ(zt4->output().find("MIDI upgrade"), std::string::npos);
  EXPECT_EQ(zt4->wait_exit(3), -1);  // no restart
}

// The looper as every user build makes it carries no test key: an image signed with the test
// key is never installed. Without a configured key (ZT4_UPGRADE_KEY) every request is refused
// in one line, over UDP and over SysEx, before anything is fetched.
TEST_F(UpgradeTest, TheNormalBinaryRefusesAnImageSignedWithTheTestKey) {
  start_zt4();
  const Bytes image = upgrade_signed_image(test_key(), installer_archive());
  ASSERT_FALSE(image.empty());
  tftp_test::Server server({image, false, false});
  server.start();
  server.announce(request(image.size()), udp_port);
  if (ZT4_UPGRADE_KEYED) {
    ASSERT_TRUE(zt4->wait_for_output("Upgrade error 4", 20)) << zt4->output();
  } else {
    const std::string refusal = "Upgrade refused: this build has no upgrade key";
    ASSERT_TRUE(zt4->wait_for_output(refusal, 10)) << zt4->output();
    open_client();
    std::vector<uint8_t> m = {0xF0, 0x00, 0x3F, 0x6A, 0x01};
    for (int g = 0; g < 2; ++g) m.insert(m.end(), {1, 1, 1, 1, 1, 1, 1, 0});
    m.insert(m.end(), {0x0E, 0, 0, 0, 0, 0, 0, 0, 0xF7});
    client.send_midi(m);
    ASSERT_TRUE(zt4->wait_for_count(refusal, 2, 10)) << zt4->output();
    EXPECT_FALSE(server.has_request());
    EXPECT_EQ(zt4->output().find("midi_upgrade"), std::string::npos);
  }
  EXPECT_EQ(zt4->output().find("Upgrade valid."), std::string::npos);
  EXPECT_FALSE(dir.exists("marker"));
  EXPECT_FALSE(std::filesystem::exists(upgrade_image_path));
}

}  // namespace
}  // namespace zt4test
