// Capture Loop on the real binary: the input played before anyone pressed Record becomes a loop,
// in phase with the clock source track, as whole bars of the drums, or as the phrase just played;
// a capture with nothing usable is refused in one line.
#include <cmath>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "config/config.h"
#include "drums/drum_bank_file.h"
#include "engine/track_load.h"
#include "storage/track_file.h"
#include "tests/support/harness.h"

namespace zt4test {
namespace {

constexpr int loop_frames = 2 * sample_rate;  // the clock source track: 2 s
constexpr int match_frames = 64;              // frames compared to place one stretch in another
constexpr int search_frames = 4000;           // how far from the expected place a match is sought
constexpr float marker = 0.5f;                // track 1's frame 0, left channel only
constexpr int gate_hold = 1000;               // the noise gate's default hold time in frames

// A noise on the right channel only, different at every frame, far above the noise gate.
std::pair<float, float> noise(uint64_t f) {
  uint64_t x = (f + 1) * 0x9E3779B97F4A7C15ull;
  x ^= x >> 29;
  x *= 0xBF58476D1CE4E5B9ull;
  x ^= x >> 32;
  return {0.0f, 0.25f * (float(x % 2001) - 1000.0f) / 1000.0f};
}

struct Frame {
  int32_t left;
  int32_t right;
};

// The frames of a track file (after its 512-byte header).
std::vector<Frame> frames_of(const std::string& file) {
  std::vector<Frame> frames;
  for (size_t at = track_header_bytes; at + 8 <= file.size(); at += 8) {
    Frame f;
    memcpy(&f.left, file.data() + at, 4);
    memcpy(&f.right, file.data() + at + 4, 4);
    frames.push_back(f);
  }
  return frames;
}

int32_t sample_of(float x) { return int32_t(std::lround(double(x) * 16777216.0)); }

class CaptureTest : public Zt4Test {
 protected:
  // A valid configuration with the main output at unity.
  void place_config() {
    config_defaults();
    config.all_main_level = 0;
    config_stamp_checksum();
    dir.write(config_file_name, std::string(reinterpret_cast<const char*>(&config), sizeof config));
  }

  // Track n's file: `frames` frames of silence but for a marker on the left at frame 0.
  void place_track(int n, int frames) {
    uint8_t header[track_header_bytes];
    build_track_header(take_file_words(frames), header);
    std::string file(reinterpret_cast<const char*>(header), sizeof header);
    std::vector<int32_t> audio(size_t(2 * frames), 0);
    audio[0] = sample_of(marker);
    file.append(reinterpret_cast<const char*>(audio.data()), audio.size() * 4);
    dir.write("track" + std::to_string(n) + ".dat", file);
  }

  void start(const std::vector<std::string>& args = {"--port", "0"}) {
    zt4.emplace(dir.path());
    ASSERT_TRUE(zt4->start({}, args));
    ASSERT_TRUE(zt4->wait_ready(30)) << zt4->output() << zt4->errors();
    udp_port = zt4->udp_port();
    udp.aim(udp_port);
    open_client();
  }

  void command(const std::string& name) { udp.send("<command>" + name + "</command>"); }

  // Sends "Capture Loop" and waits for the looper's one line about it.
  std::string capture(const std::string& name = "Capture Loop") {
    const std::string before = zt4->output();
    command(name);
    std::string line;
    EXPECT_TRUE(wait_until(
        [&] {
          const std::string out = zt4->output();
          size_t at = out.find("Capture refused", before.size());
          if (at == std::string::npos) at = out.find(" captured: ", before.size());
          if (at == std::string::npos) return false;
          at = out.rfind('\n', at) + 1;
          line = out.substr(at, out.find('\n', at) - at);
          if (!line.empty() && line.back() == '\r') line.pop_back();
          return true;
        },
        10))
        << zt4->output();
    return line;
  }

  // Track n's file once it holds `frames` frames.
  std::vector<Frame> saved(int n, int frames) {
    std::vector<Frame> f;
    EXPECT_TRUE(wait_until(
        [&] {
          f = frames_of(dir.read("track" + std::to_string(n) + ".dat").value_or(""));
          return f.size() == size_t(frames);
        },
        20))
        << "track " << n << " not saved with " << frames << " frames\n"
        << zt4->output();
    return f;
  }

  // Where, within `search_frames` of `near`, the right channel of out holds loop[from ...]
  // (compared above the lowest `drop_bits` bits); INT32_MIN when nowhere.
  static int offset_of(const std::vector<std::pair<float, float>>& out, size_t near,
                       const std::vector<Frame>& loop, size_t from, int drop_bits,
                       int search = search_frames) {
    for (int d = 0; d <= search; d++) {
      for (int sign : {1, -1}) {
        const int64_t at = int64_t(near) + sign * d;
        if (at < 0 || size_t(at) + match_frames > out.size()) continue;
        bool all = true;
        for (int k = 0; k < match_frames && all; k++)
          all = (sample_of(out[size_t(at) + k].second) >> drop_bits) ==
                (loop[(from + size_t(k)) % loop.size()].right >> drop_bits);
        if (all) return sign * d;
      }
    }
    return INT32_MIN;
  }

  // The frames at which track 1's marker sounds on the left.
  static std::vector<size_t> markers(const std::vector<std::pair<float, float>>& out) {
    std::vector<size_t> at;
    for (size_t i = 0; i < out.size(); i++)
      if (out[i].first > marker / 2) at.push_back(i);
    return at;
  }

  UdpPeer udp;
};

TEST_F(CaptureTest, CaptureIsInPhaseWithTheClockSourceTrackAndSavedAsPlayed) {
  place_config();
  place_track(1, loop_frames);
  start();
  XrunCounter xruns;
  ASSERT_TRUE(xruns.open());
  ASSERT_FALSE(HasFatalFailure());
  EXPECT_NE(zt4->output().find("Capture ring: the last 60 s of input in 352 blocks"),
            std::string::npos)
      << zt4->output();
  command("Select Track 1");
  command("Set As Clock Src");
  command("Play");
  ASSERT_TRUE(
      wait_until([&] { return track_field(status_document(udp), 1, "state") == "playing"; }, 10));

  // A tone for 5 s, never recorded; the output (its dry part, and track 1's marker) is kept from
  // its start to a second after the press.
  std::vector<std::pair<float, float>> out;
  std::thread listener([&] { out = client.record(6 * sample_rate); });
  client.play(noise);
  pass(5 * sample_rate);
  const std::string line = capture();
  listener.join();
  EXPECT_EQ(line, "Track 8 captured: 96000 frames, in phase with the clock source track");
  ASSERT_EQ(out.size(), size_t(6 * sample_rate));

  // The saved loop is the input as it sounded, its frame 0 where track 1's marker sounded.
  const std::vector<Frame> loop = saved(8, loop_frames);
  ASSERT_EQ(loop.size(), size_t(loop_frames));
  const std::vector<size_t> before = markers(out);
  ASSERT_FALSE(before.empty());
  int alignment = INT32_MIN;
  size_t start = 0;
  for (size_t m : before) {
    if (m + match_frames > out.size()) break;
    alignment = offset_of(out, m, loop, 0, 0);
    start = m;
    if (alignment != INT32_MIN) break;
  }
  ASSERT_NE(alignment, INT32_MIN) << "the loop's start is nowhere near a loop start of track 1";
  std::printf("capture alignment error: %d frames\n", alignment);
  EXPECT_LE(std::abs(alignment), 1);
  // Every frame of it is a frame of the input of the 2 s before the press, in the order played:
  // each 0.1 s piece sits where the first one puts it (or one loop earlier, for the part after
  // the press), but for a piece shifted by a server cycle the looper missed (an xrun).
  const size_t piece = loop_piece_frames;
  size_t pieces = 0, in_place = 0;
  for (size_t k = 0; k + match_frames <= loop.size(); k += piece) {
    pieces++;
    const size_t at = start + size_t(alignment) + k;
    for (size_t place : {at, at - loop.size()}) {
      if (place > out.size()) continue;  // before the recording (wrapped below zero)
      const int d = offset_of(out, place, loop, k, 0, 0);
      if (d == 0) {
        in_place++;
        break;
      }
    }
  }
  EXPECT_GE(in_place + 2 * size_t(xruns.count()), pieces) << xruns.count() << " xruns";
  EXPECT_GE(in_place * 2, pieces);

  // The new loop plays on in phase with track 1: with the input silent, the right channel is the
  // loop (its level table drops the lowest four bits), frame 0 at each marker.
  client.play_silence();
  pass(sample_rate / 2);
  const std::vector<std::pair<float, float>> after = client.record(3 * sample_rate);
  const std::vector<size_t> later = markers(after);
  ASSERT_FALSE(later.empty());
  const size_t m = later.front() + match_frames < after.size() ? later.front() : later.back();
  EXPECT_EQ(offset_of(after, m, loop, 0, 4), 0);
}

TEST_F(CaptureTest, DrumCaptureIsWholeBarsEndingOnTheLastBarStart) {
  place_config();
  // A bank whose first pattern, at 120 BPM, sounds the kick at each bar start only.
  DrumBank bank{};
  bank.patterns[0].bpm = 120;
  bank.patterns[0].steps[0] = 0x01;
  bank.patterns[0].steps[96] = 0x01;
  std::vector<uint8_t> bytes(drum_bank_file_bytes);
  drum_bank_encode(bank, bytes.data());
  dir.write(drum_bank_file_name, std::string(bytes.begin(), bytes.end()));
  std::filesystem::copy_file(std::string(ZT4_DRUMKIT_DIR) + "/drum1.wav", dir.file("drum1.wav"));
  start();
  ASSERT_FALSE(HasFatalFailure());
  command("Drums Start");
  client.play(noise);
  pass(4 * sample_rate + 12345);
  std::vector<std::pair<float, float>> out;
  std::thread listener([&] { out = client.record(4 * sample_rate); });
  pass(3 * sample_rate);
  const std::string line = capture("Capture 2x");
  listener.join();
  EXPECT_EQ(line, "Track 1 captured: 192000 frames, whole bars to the last bar start");
  const std::vector<Frame> loop = saved(1, 2 * 96000);
  ASSERT_EQ(loop.size(), size_t(2 * 96000));
  // The loop's last frame is the input of the frame before a kick: find the loop's end in the
  // dry output and the kick's onset on the left after it.
  const int at =
      offset_of(out, out.size() / 2, loop, loop.size() - match_frames, 0, int(out.size() / 2));
  ASSERT_NE(at, INT32_MIN);
  const size_t end = out.size() / 2 + size_t(at) + match_frames;  // the first frame after the loop
  size_t onset = end;
  while (onset > end - 200 && std::fabs(out[onset - 1].first) > 0) onset--;
  while (onset < end + 200 && out[onset].first == 0) onset++;
  std::printf("drum capture: loop end %d frames from the kick's onset\n", int(end) - int(onset));
  EXPECT_LE(std::abs(int(end) - int(onset)), 1) << "the loop does not end at a bar start";
}

TEST_F(CaptureTest, PhraseAfterSilenceBecomesALoopOfItsLength) {
  place_config();
  start();
  ASSERT_FALSE(HasFatalFailure());
  pass(2 * sample_rate);
  // A tone of exactly 3 s: its mean is 0 at once, so the DC filter leaves nothing above the gate
  // when it stops.
  uint64_t first = UINT64_MAX;  // the generator runs under the client's lock, one call at a time
  client.play([&first](uint64_t f) {
    if (first == UINT64_MAX) first = f;
    const double t = double(f - first) / sample_rate;
    const float s =
        f - first < 3u * sample_rate ? 0.1f * float(std::sin(2 * M_PI * 440.0 * t)) : 0.0f;
    return std::make_pair(s, s);
  });
  pass(3 * sample_rate + sample_rate / 5);
  const std::string line = capture();
  EXPECT_EQ(line.find("Track 1 captured: "), 0u) << line;
  const long length = std::strtol(line.c_str() + line.find(": ") + 2, nullptr, 10);
  std::printf("phrase of 3 s captured as %ld frames\n", length);
  EXPECT_NEAR(double(length), 3.0 * sample_rate, gate_hold);
  EXPECT_EQ(saved(1, int(length)).size(), size_t(length));
  EXPECT_EQ(track_field(status_document(udp), 1, "state"), "playing");
}

TEST_F(CaptureTest, NothingUsableIsRefusedInOneLine) {
  place_config();
  start();
  ASSERT_FALSE(HasFatalFailure());
  pass(sample_rate);
  EXPECT_EQ(capture(), "Capture refused: nothing above the noise gate to capture");
  EXPECT_EQ(track_field(status_document(udp), 1, "state"), "empty");
  zt4->stop();
  client.close();

  start({"--port", "0", "--capture-seconds", "0"});
  ASSERT_FALSE(HasFatalFailure());
  EXPECT_NE(zt4->output().find("Capture ring off"), std::string::npos);
  client.play_sine(440, 0.1f);
  pass(sample_rate);
  EXPECT_EQ(capture(), "Capture refused: the capture ring is off (--capture-seconds 0)");
  zt4->stop();
  client.close();

  for (int n = 1; n <= 8; n++) place_track(n, 1000);
  start();
  ASSERT_FALSE(HasFatalFailure());
  client.play_sine(440, 0.1f);
  pass(sample_rate);
  EXPECT_EQ(capture(), "Capture refused: no empty track");
  const std::string doc = status_document(udp);
  for (int n = 1; n <= 8; n++) EXPECT_EQ(track_field(doc, n, "state"), "stopped") << n;
}

}  // namespace
}  // namespace zt4test
