// Crash test of track saving: while loops are overdubbed on three tracks so that the storage
// thread saves continuously, the real binary is killed with SIGKILL at random moments, many of
// them aimed at a save under way. After
// every restart each track file that existed before is still there, loads with a valid header
// and a size that matches its loop, and the looper reports that length: a save either replaced
// a file whole or left it as it was. ZT4_CRASH_TRIALS sets the number of kills (default 100),
// ZT4_CRASH_SEED the random seed.
#include <signal.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
#include <random>
#include <string>
#include <thread>

#include "config/config.h"
#include "tests/support/harness.h"

namespace zt4test {
namespace {

constexpr int tracks_used = 3;
constexpr int header_bytes = 512;
constexpr int header_words = header_bytes / 2;
constexpr uint16_t track_format = 48;
constexpr int loop_end_at = 20;  // the header's fifth word: loop_end

int env_int(const char* name, int fallback) {
  const char* v = getenv(name);
  return v != nullptr && *v != '\0' ? atoi(v) : fallback;
}

std::string track_name(int n) { return "track" + std::to_string(n) + ".dat"; }

// Whether bytes are a whole track file: valid header (checksum and format) and a size that
// matches the loop end it records. On failure, why.
bool whole_track_file(const std::string& bytes, std::string& why) {
  if (bytes.size() <= size_t(header_bytes) || (bytes.size() - header_bytes) % 8 != 0) {
    why = "size " + std::to_string(bytes.size());
    return false;
  }
  uint32_t sum = 0;
  for (int i = 0; i < header_words; i++) {
    uint16_t w;
    memcpy(&w, bytes.data() + 2 * i, 2);
    sum += w;
  }
  while (sum > 0xFFFF) sum = (sum & 0xFFFF) + (sum >> 16);
  uint16_t format;
  memcpy(&format, bytes.data(), 2);
  int32_t loop_end;
  memcpy(&loop_end, bytes.data() + loop_end_at, 4);
  const int64_t frames = int64_t(bytes.size() - header_bytes) / 8;
  if (sum != 0xFFFF || format != track_format) {
    why = "header";
    return false;
  }
  if (loop_end != frames) {
    why = "loop end " + std::to_string(loop_end) + " for " + std::to_string(frames) + " frames";
    return false;
  }
  return true;
}

std::string length_text(int64_t frames) {
  return std::to_string(frames / 48000) + "." + std::to_string(frames / 48 % 1000);
}

class StorageCrash : public Zt4Test {
 protected:
  void command(const std::string& text) { udp.send("<command>" + text + "</command>"); }

  void pass_s(double seconds) {
    const uint64_t until = client.frames_processed() + uint64_t(seconds * 48000);
    ASSERT_TRUE(wait_until([&] { return client.frames_processed() >= until; }, 60));
  }

  // Lets seconds of frames pass on the server, or less when stop is set.
  void frames_pass(double seconds, const std::atomic<bool>& stop) {
    const uint64_t until = client.frames_processed() + uint64_t(seconds * 48000);
    wait_until([&] { return stop || client.frames_processed() >= until; }, 10);
  }

  // Starts the looper and connects the probe, which stays open across the looper's restarts.
  void start() {
    start_zt4();
    ASSERT_FALSE(HasFatalFailure());
    udp.aim(udp_port);
    const bool connected = wait_until([&] { return client.connect_ports(); }, 10);
    ASSERT_TRUE(connected) << "test client cannot connect";
    ASSERT_TRUE(wait_until([&] { return !status_document(udp).empty(); }, 10));
  }

  UdpPeer udp;
};

TEST_F(StorageCrash, SavesKilledAtRandomLeaveEveryTrackFileWhole) {
  const int trials = env_int("ZT4_CRASH_TRIALS", 100);
  const unsigned seed = unsigned(env_int("ZT4_CRASH_SEED", int(time(nullptr))));
  std::mt19937 random(seed);
  std::uniform_real_distribution<double> kill_after(0.2, 3.0);
  printf("crash test: %d trials, seed %u\n", trials, seed);

  config_defaults();
  config_stamp_checksum();
  dir.write(config_file_name, std::string(reinterpret_cast<const char*>(&config), sizeof config));
  start_zt4();
  ASSERT_FALSE(HasFatalFailure());
  udp.aim(udp_port);
  open_client();
  ASSERT_FALSE(HasFatalFailure());
  ASSERT_TRUE(wait_until([&] { return !status_document(udp).empty(); }, 10));
  // Three loops of two to four seconds.
  for (int n = 1; n <= tracks_used; n++) {
    command("Select Track " + std::to_string(n));
    client.play_sine(150.0 * n + 11.3, 0.2f);
    pass_s(0.1);
    command("Rec/Dub");
    pass_s(1.0 + n);
    command("Rec/Dub");
    pass_s(0.1);
    command("Rec/Dub");
    pass_s(0.1);
  }

  int kills = 0, mid_save = 0, file_missing = 0, files_checked = 0, lost = 0, torn = 0;
  std::set<std::string> before;  // track files that existed before the kill
  for (int trial = 0; trial < trials; trial++) {
    // Overdub the tracks in turn with a tone of this trial, so every save differs from the last.
    command("All Play Now");
    client.play_sine(97.0 + 13.7 * trial, 0.1f);
    std::atomic<bool> stop{false};
    std::thread overdubs([&] {
      for (int step = 0; !stop; step++) {
        command("Select Track " + std::to_string(step % tracks_used + 1));
        command("Rec/Dub");  // overdub on
        frames_pass(0.15, stop);
        command("Rec/Dub");  // off: the track's audio changed, a save follows
        frames_pass(0.05, stop);
      }
    });
    // Files that exist now must exist after the kill: only an erase deletes one.
    before.clear();
    for (int n = 1; n <= tracks_used; n++)
      if (dir.exists(track_name(n))) before.insert(track_name(n));
    // A third of the kills land anywhere; a third as soon as a save has begun writing
    // "tmp.dat"; a third at a moment when a track file is missing while "tmp.dat" exists (a
    // save that removes the old file before renaming the new one), or after three seconds.
    const auto kill_at =
        std::chrono::steady_clock::now() + std::chrono::duration<double>(kill_after(random));
    const int aim = trial % 3;
    const auto give_up = kill_at + std::chrono::seconds(3);
    auto aimed = [&] {
      if (aim == 0) return true;
      if (!dir.exists("tmp.dat")) return false;
      if (aim == 1) return true;
      for (const std::string& name : before)
        if (!dir.exists(name)) return true;
      return false;
    };
    bool hit = false;
    while (std::chrono::steady_clock::now() < kill_at ||
           (!(hit = aimed()) && std::chrono::steady_clock::now() < give_up)) {
      std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
    if (aim == 2 && hit) file_missing++;
    kill(zt4->pid(), SIGKILL);
    kills++;
    stop = true;
    overdubs.join();
    ASSERT_EQ(zt4->wait_exit(10), 128 + SIGKILL);
    if (dir.exists("tmp.dat")) mid_save++;

    // Every file that existed is still there and whole.
    std::map<int, std::string> expected_length;
    for (int n = 1; n <= tracks_used; n++) {
      const auto bytes = dir.read(track_name(n));
      if (!bytes) {
        if (before.count(track_name(n))) {
          lost++;
          ADD_FAILURE() << "trial " << trial << ": " << track_name(n) << " is gone";
        }
        continue;
      }
      files_checked++;
      std::string why;
      if (!whole_track_file(*bytes, why)) {
        torn++;
        ADD_FAILURE() << "trial " << trial << ": " << track_name(n) << " is torn: " << why;
        continue;
      }
      expected_length[n] = length_text(int64_t(bytes->size() - header_bytes) / 8);
    }
    start();
    ASSERT_FALSE(HasFatalFailure());
    // The looper loads each of them with the length its file holds.
    for (const auto& [n, length] : expected_length) {
      EXPECT_TRUE(wait_until(
          [&, n = n] {
            const std::string doc = status_document(udp);
            return track_field(doc, n, "state") == "stopped" &&
                   track_field(doc, n, "length") == length;
          },
          20))
          << "trial " << trial << ": track " << n << " did not load with length " << length << "\n"
          << track_field(status_document(udp), n, "length");
    }
  }
  printf(
      "crash test: %d kills, %d during a save, %d while a track file was missing, %d track "
      "files checked, %d lost, %d torn\n",
      kills, mid_save, file_missing, files_checked, lost, torn);
  EXPECT_EQ(lost, 0);
  EXPECT_EQ(torn, 0);
}

}  // namespace
}  // namespace zt4test
