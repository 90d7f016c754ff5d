// Track storage in the real binary: loops recorded from the input survive the process being
// killed and play back sample for sample; a loop that a full disk kept from its file reaches it
// once there is room, or at the quit; a WAV file goes in as a take, comes back out of the
// automatically saved track file bit for bit.
#include <fcntl.h>
#include <signal.h>
#include <sndfile.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "config/config.h"
#include "tests/support/harness.h"

namespace zt4test {
namespace {

constexpr double first_hz = 311.3;
constexpr double second_hz = 1231.7;
constexpr float amplitude = 0.25f;
constexpr int header_bytes = 512;

class StorageIntegration : public Zt4Test {
 protected:
  void place_config() {
    config_defaults();
    config.all_main_level = 0;  // unity: the output is the stored loop itself
    config_stamp_checksum();
    dir.write(config_file_name, std::string(reinterpret_cast<const char*>(&config), sizeof config));
  }

  void command(const std::string& text) { udp.send("<command>" + text + "</command>"); }

  // Records a loop of `frames` frames of a sine on the selected track and plays it.
  void record_loop(int track, double hz, uint64_t frames) {
    command("Select Track " + std::to_string(track));
    client.play_sine(hz, amplitude);
    pass(4800);
    command("Rec/Dub");
    pass(frames);
    client.play_silence();
    command("Rec/Dub");  // the loop closes; the rest of the pass is overdubbed from silence
    pass(4800);
    command("Rec/Dub");  // plays
    pass(4800);
  }

  // The track file of track n once its size matches the length in the status document.
  std::string saved_file(int n) {
    const std::string name = "track" + std::to_string(n) + ".dat";
    std::string file;
    EXPECT_TRUE(wait_until(
        [&] {
          file = dir.read(name).value_or("");
          return file.size() > size_t(header_bytes) &&
                 track_field(status_document(udp), n, "state") == "playing";
        },
        20))
        << name << " was not saved\n"
        << zt4->output();
    return file;
  }

  // Plays track n alone and records a loop and a half of the output.
  std::vector<std::pair<float, float>> listen_to(int n, size_t loop_frames) {
    command("All Stop Now");
    pass(9600);
    command("Select Track " + std::to_string(n));
    command("Play Now");
    pass(9600);
    return client.record(loop_frames * 3 / 2);
  }

  // Whether track n, played alone, plays the loop. Two pieces are forgiven for each xrun the
  // server reports meanwhile, and a recording that xruns spoilt is taken again (up to three
  // times): a lost or wrong loop fails every time.
  testing::AssertionResult plays_loop(int n, const std::vector<int32_t>& loop) {
    LoopCheck c;
    for (int attempt = 0; attempt < 3; attempt++) {
      const int xruns_before = xruns.count();
      c = check_loop(listen_to(n, loop.size()), loop);
      if (c.plays(2 + 2 * size_t(xruns.count() - xruns_before))) return testing::AssertionSuccess();
    }
    return testing::AssertionFailure() << c.following << " of " << c.pieces
                                       << " pieces follow the loop of " << loop.size() << " frames";
  }

  void start() {
    if (!xruns_open) {
      xruns_open = xruns.open();
      ASSERT_TRUE(xruns_open);
    }
    start_zt4();
    ASSERT_FALSE(HasFatalFailure());
    udp.aim(udp_port);
  }

  void restart() {
    client.close();
    kill(zt4->pid(), SIGKILL);
    EXPECT_EQ(zt4->wait_exit(10), 128 + SIGKILL);
    start();
    ASSERT_FALSE(HasFatalFailure());
    open_client();
  }

  // zt4-remote aimed at this looper.
  std::string remote() { return tool_path("zt4-remote") + " --port " + std::to_string(udp_port); }

  UdpPeer udp;
  XrunCounter xruns;
  bool xruns_open = false;
};

TEST_F(StorageIntegration, LoopsComeBackAfterTheProcessIsKilled) {
  place_config();
  start();
  ASSERT_FALSE(HasFatalFailure());
  open_client();
  ASSERT_FALSE(HasFatalFailure());

  record_loop(1, first_hz, 48000);
  record_loop(2, second_hz, 36000);
  const std::string file1 = saved_file(1), file2 = saved_file(2);
  const std::vector<int32_t> loop1 = left_of(file1), loop2 = left_of(file2);
  const std::string doc = status_document(udp);
  const std::string length1 = track_field(doc, 1, "length"),
                    length2 = track_field(doc, 2, "length");
  EXPECT_EQ(length1,
            std::to_string(loop1.size() / 48000) + "." + std::to_string(loop1.size() / 48 % 1000));
  EXPECT_TRUE(plays_loop(1, loop1)) << "track 1 before the kill";
  EXPECT_TRUE(plays_loop(2, loop2)) << "track 2 before the kill";

  restart();
  ASSERT_FALSE(HasFatalFailure());
  ASSERT_TRUE(wait_until(
      [&] {
        const std::string d = status_document(udp);
        return track_field(d, 1, "state") == "stopped" && track_field(d, 2, "state") == "stopped";
      },
      20))
      << zt4->output();
  const std::string after = status_document(udp);
  EXPECT_EQ(track_field(after, 1, "length"), length1);
  EXPECT_EQ(track_field(after, 2, "length"), length2);
  EXPECT_EQ(track_field(after, 3, "state"), "empty");
  EXPECT_TRUE(plays_loop(1, loop1)) << "track 1 after the restart";
  const LoopCheck other = check_loop(listen_to(1, loop1.size()), loop2);
  EXPECT_EQ(other.following, 0u);  // the comparison tells loops apart
  EXPECT_TRUE(plays_loop(2, loop2)) << "track 2 after the restart";
  EXPECT_EQ(dir.read("track1.dat").value_or(""), file1);
  EXPECT_EQ(dir.read("track2.dat").value_or(""), file2);
}

// A small tmpfs mounted over a directory, so that a test can fill the looper's disk; detached at
// the end (lazily: the looper may still be in it).
// A loop length as the status document shows it.
std::string seconds_of(size_t frames) {
  return std::to_string(frames / 48000) + "." + std::to_string(frames / 48 % 1000);
}

class SmallDisk {
 public:
  explicit SmallDisk(std::string path) : path_(std::move(path)) {
    mounted_ = mount("tmpfs", path_.c_str(), "tmpfs", 0, "size=8m") == 0;
  }
  ~SmallDisk() {
    if (mounted_) umount2(path_.c_str(), MNT_DETACH);
  }
  bool mounted() const { return mounted_; }
  // Writes the file "filler" until not one byte more fits.
  bool fill() const {
    const int fd = open((path_ + "/filler").c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (fd < 0) return false;
    const std::vector<char> chunk(65536, 'x');
    for (size_t size = chunk.size(); size > 0; size /= 2)
      while (write(fd, chunk.data(), size) == ssize_t(size)) {}
    const bool full = errno == ENOSPC;
    close(fd);
    return full;
  }
  void make_room() const { unlink((path_ + "/filler").c_str()); }

 private:
  std::string path_;
  bool mounted_ = false;
};

TEST_F(StorageIntegration, ALoopThatDidNotFitIsSavedOnceThereIsRoomAndAtAQuit) {
  SmallDisk disk(dir.path());
  if (!disk.mounted()) GTEST_SKIP() << "cannot mount a tmpfs here (needs root)";
  place_config();
  start();
  ASSERT_FALSE(HasFatalFailure());
  open_client();
  ASSERT_FALSE(HasFatalFailure());

  ASSERT_TRUE(disk.fill());
  record_loop(1, first_hz, 48000);
  ASSERT_TRUE(zt4->wait_for_output("Track 1 not saved: No space left on device; trying again", 20))
      << zt4->output();
  EXPECT_FALSE(dir.exists("track1.dat"));
  disk.make_room();
  ASSERT_TRUE(zt4->wait_for_output("Track 1 saved", 5)) << zt4->output();
  const std::string file1 = saved_file(1);
  EXPECT_EQ(track_field(status_document(udp), 1, "length"), seconds_of(left_of(file1).size()));
  EXPECT_TRUE(plays_loop(1, left_of(file1)));

  // Full again, and the looper is told to quit: it waits for the loop, and writes it as soon as
  // there is room.
  ASSERT_TRUE(disk.fill());
  record_loop(2, second_hz, 36000);
  ASSERT_TRUE(zt4->wait_for_output("Track 2 not saved: No space left on device; trying again", 20))
      << zt4->output();
  EXPECT_FALSE(dir.exists("track2.dat"));
  const std::string length2 = track_field(status_document(udp), 2, "length");
  client.close();
  kill(zt4->pid(), SIGTERM);
  ASSERT_TRUE(zt4->wait_for_output("Quitting: saving changed tracks", 5)) << zt4->output();
  disk.make_room();
  EXPECT_EQ(zt4->wait_exit(15), 0) << zt4->output();
  const std::string out = zt4->output();
  EXPECT_NE(out.find("Track 2 saved"), std::string::npos) << out;
  EXPECT_LT(out.find("Track 2 saved"), out.find("Bye")) << out;
  EXPECT_EQ(length2, seconds_of(left_of(dir.read("track2.dat").value_or("")).size()));
  EXPECT_EQ(dir.read("track1.dat").value_or(""), file1);
}

// 24-bit stereo samples spanning the whole range, extremes included.
std::vector<int32_t> test_samples(int frames) {
  std::vector<int32_t> s(size_t(frames) * 2);
  uint32_t x = 12345;
  for (int32_t& v : s) {
    x = x * 1103515245u + 12345u;
    v = int32_t(x >> 8) - (1 << 23);
  }
  s[0] = -(1 << 23);
  s[1] = (1 << 23) - 1;
  return s;
}

bool write_wav(const std::string& path, const std::vector<int32_t>& samples24) {
  SF_INFO info = {};
  info.samplerate = 48000;
  info.channels = 2;
  info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_24;
  SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
  if (f == nullptr) return false;
  std::vector<int32_t> scaled(samples24.size());
  for (size_t i = 0; i < scaled.size(); i++) scaled[i] = int32_t(uint32_t(samples24[i]) << 8);
  const sf_count_t frames = sf_count_t(scaled.size() / 2);
  const bool ok = sf_writef_int(f, scaled.data(), frames) == frames;
  return sf_close(f) == 0 && ok;
}

std::vector<int32_t> read_wav(const std::string& path, SF_INFO& info) {
  info = {};
  SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
  if (f == nullptr) return {};
  std::vector<int32_t> s(size_t(info.frames) * size_t(info.channels));
  sf_readf_int(f, s.data(), info.frames);
  sf_close(f);
  for (int32_t& v : s) v >>= 8;
  return s;
}

TEST_F(StorageIntegration, AWavFileRoundTripsThroughATakeAndTheAutomaticSave) {
  constexpr int frames = 30000;
  const std::vector<int32_t> samples = test_samples(frames);
  ASSERT_TRUE(write_wav(dir.file("in.wav"), samples));
  ASSERT_EQ(mkdir(dir.file("sess0").c_str(), 0755), 0);
  std::string out;
  ASSERT_EQ(run_shell(tool_path("zt4-audio") + " import " + dir.file("in.wav") + " " +
                          dir.file("sess0/tr1_1.raw"),
                      out),
            0)
      << out;

  start();
  ASSERT_FALSE(HasFatalFailure());
  ASSERT_EQ(run_shell(remote() + " --timeout 5 take load 0 1 1 3", out), 0) << out;
  EXPECT_NE(out.find("Loaded 100%"), std::string::npos) << out;
  ASSERT_TRUE(wait_until(
      [&] {
        return dir.read("track3.dat").value_or("").size() == size_t(header_bytes) + frames * 8;
      },
      20))
      << zt4->output();
  ASSERT_EQ(run_shell(remote() + " sessions", out), 0) << out;
  EXPECT_NE(out.find("session 0\n"), std::string::npos) << out;
  ASSERT_EQ(run_shell(remote() + " takes 0", out), 0) << out;
  EXPECT_EQ(out, "track 1 take 1\n");

  ASSERT_EQ(run_shell(tool_path("zt4-audio") + " export " + dir.file("track3.dat") + " " +
                          dir.file("out.wav"),
                      out),
            0)
      << out;
  SF_INFO info;
  const std::vector<int32_t> back = read_wav(dir.file("out.wav"), info);
  EXPECT_EQ(info.samplerate, 48000);
  EXPECT_EQ(info.channels, 2);
  EXPECT_EQ(info.format, SF_FORMAT_WAV | SF_FORMAT_PCM_24);
  EXPECT_TRUE(back == samples) << "the exported loop differs from the imported file";

  ASSERT_EQ(run_shell(remote() + " --timeout 5 take load 0 1 9 3", out), 1) << out;
  EXPECT_NE(out.find("Take load failed: no such take"), std::string::npos) << out;
}

// zt4-audio writes only names the looper loads, and replaces nothing without --force.
TEST(AudioToolTest, RefusesNamesTheLooperNeverLoadsAndExistingFilesWithoutForce) {
  TempDir dir;
  ASSERT_TRUE(write_wav(dir.file("in.wav"), test_samples(4800)));
  ASSERT_EQ(mkdir(dir.file("sess0").c_str(), 0755), 0);
  const auto audio = [&](const std::string& arguments, std::string& out) {
    return run_shell(tool_path("zt4-audio") + " " + arguments, out);
  };
  const struct {
    const char* destination;
    const char* message;
  } refused[] = {
      {"track9.dat", "track9.dat: the looper has tracks 1 to 8"},
      {"track0.dat", "track0.dat: the looper has tracks 1 to 8"},
      {"track01.dat", "track01.dat: the looper spells that file track1.dat"},
      {"save0.dat", "save0.dat: save slots are save1.dat to save100.dat"},
      {"beat.dat",
       "beat.dat: the looper loads track files trackN.dat or trackS-N.dat (N 1 to 8) "
       "and save slots saveN.dat"},
      {"sess0/tr9_1.raw", "tr9_1.raw: the looper has tracks 1 to 8"},
      {"tr1_1.raw", "tr1_1.raw: a take lives in a session directory, sessS/trN_K.raw"},
  };
  for (const auto& c : refused) {
    std::string out;
    EXPECT_EQ(audio("import " + dir.file("in.wav") + " " + dir.file(c.destination), out), 2)
        << c.destination;
    EXPECT_EQ(out, std::string("zt4-audio: ") + c.message + "\n") << c.destination;
    EXPECT_FALSE(dir.exists(c.destination)) << c.destination;
  }

  std::string out;
  ASSERT_EQ(audio("import " + dir.file("in.wav") + " " + dir.file("track2.dat"), out), 0) << out;
  ASSERT_EQ(audio("import " + dir.file("in.wav") + " " + dir.file("sess0/tr2_1.raw"), out), 0)
      << out;
  ASSERT_EQ(audio("export " + dir.file("track2.dat") + " " + dir.file("out.wav"), out), 0) << out;
  // Every existing file stays as it was without --force.
  dir.write("track3.dat", "a loop of the user's");
  dir.write("sess0/tr3_1.raw", "a take of the user's");
  dir.write("kept.wav", "an export of the user's");
  const struct {
    const char* arguments;
    const char* existing;
  } existing[] = {
      {"import in.wav track3.dat", "track3.dat"},
      {"import in.wav sess0/tr3_1.raw", "sess0/tr3_1.raw"},
      {"export track2.dat kept.wav", "kept.wav"},
  };
  for (const auto& c : existing) {
    const std::string before = dir.read(c.existing).value_or("");
    EXPECT_EQ(
        run_shell("cd " + dir.path() + " && " + tool_path("zt4-audio") + " " + c.arguments, out), 2)
        << c.arguments;
    EXPECT_EQ(out,
              std::string("zt4-audio: ") + c.existing + " exists; add --force to replace it\n");
    EXPECT_EQ(dir.read(c.existing).value_or(""), before) << c.existing;
    EXPECT_EQ(run_shell("cd " + dir.path() + " && " + tool_path("zt4-audio") + " " + c.arguments +
                            " --force",
                        out),
              0)
        << c.arguments << ": " << out;
    EXPECT_NE(dir.read(c.existing).value_or(""), before) << c.existing;
  }
}

}  // namespace
}  // namespace zt4test
