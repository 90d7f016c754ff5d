// The count-in on the real binary with the drums as the clock: one Rec/Dub press counts in a
// bar with the click, records two bars from a bar start and closes the loop itself on the bar,
// to the frame; a second press cancels the count or closes the take at the next bar; without a
// clock the press records free and the looper says why.
#include <cmath>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "config/config.h"
#include "drums/count_in_settings.h"
#include "drums/drum_bank_file.h"
#include "storage/track_file.h"
#include "tests/support/harness.h"

namespace zt4test {
namespace {

constexpr int bar = 2 * sample_rate;  // 4/4 at 120 BPM
constexpr int beat = bar / 4;
constexpr int match_frames = 64;
constexpr int click_length = 1440;  // the tick's frames
constexpr float heard = 0.01f;      // -40 dB

int32_t sample_of(float x) { return int32_t(std::lround(double(x) * 16777216.0)); }

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

class CountInTest : public Zt4Test {
 protected:
  // Unity main level, a 120 BPM pattern whose kick sounds on each bar start only (on the left:
  // the input noise is on the right), and the
  // count-in settings: two bars recorded after one counted in, the click during the count-in.
  void place_files() {
    config_defaults();
    config.all_main_level = 0;
    config_stamp_checksum();
    dir.write(config_file_name, std::string(reinterpret_cast<const char*>(&config), sizeof config));
    DrumBank bank{};
    bank.patterns[0].bpm = 120;
    bank.patterns[0].steps[0] = 0x01;
    bank.patterns[0].steps[96] = 0x01;
    bank.patterns[0].pan[0] = -drum_pan_limit;  // the kick on the left only
    std::vector<uint8_t> bytes(drum_bank_file_bytes);
    drum_bank_encode(bank, bytes.data());
    dir.write(drum_bank_file_name, std::string(bytes.begin(), bytes.end()));
    std::filesystem::copy_file(std::string(ZT4_DRUMKIT_DIR) + "/drum1.wav", dir.file("drum1.wav"));
    dir.write(count_in_file_name,
              "ZT4 count-in settings 1\nrec_length 2\ncount_in_bars 1\nclick count-in\n");
  }

  void start() {
    place_files();
    start_zt4();
    ASSERT_FALSE(HasFatalFailure());
    ASSERT_NE(zt4->output().find("Count-in settings loaded: rec length 2, count-in 1, click "
                                 "count-in"),
              std::string::npos)
        << zt4->output();
    udp.aim(udp_port);
    open_client();
  }

  void command(const std::string& name) { udp.send("<command>" + name + "</command>"); }

  // Sends a command and waits for the line it makes the looper print.
  void expect_line(const std::string& name, const std::string& line, double timeout_s = 10) {
    const size_t before = zt4->output().size();
    command(name);
    EXPECT_TRUE(wait_until([&] { return zt4->output().find(line, before) != std::string::npos; },
                           timeout_s))
        << name << ": no \"" << line << "\"\n"
        << zt4->output().substr(before);
  }

  std::string state_of(int n) { return track_field(status_document(udp), n, "state"); }

  // The frames of track n's file once it holds `frames` frames.
  std::vector<Frame> saved(int n, int frames) {
    std::vector<Frame> f;
    EXPECT_TRUE(wait_until(
        [&] {
          const std::string file = dir.read("track" + std::to_string(n) + ".dat").value_or("");
          f.clear();
          for (size_t at = track_header_bytes; at + 8 <= file.size(); at += 8) {
            Frame x;
            memcpy(&x.left, file.data() + at, 4);
            memcpy(&x.right, file.data() + at + 4, 4);
            f.push_back(x);
          }
          return f.size() == size_t(frames);
        },
        20))
        << "track " << n << " not saved with " << frames << " frames\n"
        << zt4->output();
    return f;
  }

  // Where the right channel of out holds loop[from .. from + 64); -1 when nowhere. The overdub
  // after the close adds the DC filter's slowly fading tail of the noise to the loop's first
  // frames: tens of thousands of steps of 2^24 at most, where the noise's frames differ by
  // millions.
  static int64_t find(const std::vector<std::pair<float, float>>& out,
                      const std::vector<Frame>& loop, size_t from) {
    constexpr int32_t tail = 1 << 16;
    for (size_t at = 0; at + match_frames <= out.size(); ++at) {
      bool all = true;
      for (int k = 0; k < match_frames && all; k++)
        all = std::abs(sample_of(out[at + k].second) - loop[from + size_t(k)].right) <= tail;
      if (all) return int64_t(at);
    }
    return -1;
  }

  // The first frame of the kick on the left within 200 frames of `near`.
  static int64_t kick_onset(const std::vector<std::pair<float, float>>& out, int64_t near) {
    int64_t onset = near;
    while (onset > near - 200 && out[size_t(onset - 1)].first != 0) onset--;
    while (onset < near + 200 && out[size_t(onset)].first == 0) onset++;
    return onset;
  }

  // Whether the left output sounds above -40 dB in [from, from + frames).
  static bool sounds(const std::vector<std::pair<float, float>>& out, int64_t from, int frames) {
    EXPECT_TRUE(from >= 0 && from + frames <= int64_t(out.size())) << "outside the recording";
    for (int64_t i = std::max<int64_t>(from, 0);
         i < std::min<int64_t>(from + frames, int64_t(out.size())); ++i)
      if (std::fabs(out[size_t(i)].first) > heard) return true;
    return false;
  }

  UdpPeer udp;
};

TEST_F(CountInTest, OnePressCountsInAndRecordsTwoBarsFromTheBarStart) {
  start();
  ASSERT_FALSE(HasFatalFailure());
  command("Drums Start");
  client.play(noise);
  pass(sample_rate / 2);
  std::vector<std::pair<float, float>> out;
  std::thread listener([&] { out = client.record(size_t(4 * bar)); });
  pass(sample_rate / 10);
  expect_line("Rec/Dub", "Count-in: track 1 records 2 bars after 1 bar of count-in");
  ASSERT_TRUE(wait_until([&] { return state_of(1) == "recording"; }, 10)) << zt4->output();
  // The take's last half second is silence, so the overdub that follows the close adds nothing.
  pass(2 * bar - sample_rate / 2);
  client.play_silence();
  ASSERT_TRUE(zt4->wait_for_output("Track 1 closed after 2 bars: 192000 frames", 10))
      << zt4->output();
  EXPECT_EQ(state_of(1), "overdubbing") << "it goes on as a second press would";
  listener.join();
  command("Rec/Dub");
  ASSERT_TRUE(wait_until([&] { return state_of(1) == "playing"; }, 10));
  const std::vector<Frame> loop = saved(1, 2 * bar);
  ASSERT_EQ(loop.size(), size_t(2 * bar));

  // The take's first frame, from its frames past the record gain's 512-frame ramp found in the
  // dry output: the bar's kick starts in it. (Distances in the output are kept short: a busy
  // machine can cost the probe a period now and then.)
  constexpr int ramp = 512;
  const int64_t found = find(out, loop, size_t(ramp));
  ASSERT_GE(found, 0) << "the take is not in the output";
  const int64_t start_frame = found - ramp;
  ASSERT_GE(start_frame, bar + 2 * click_length);
  const int64_t onset = kick_onset(out, start_frame);
  std::printf("count-in take: first frame %d frames from the bar's kick\n",
              int(start_frame - onset));
  EXPECT_EQ(start_frame, onset) << "the take does not start on the bar start";

  // The click: a tick on the count-in's third and fourth beats (the second is under the bar's
  // kick), quiet before each; none in the take, where only the kicks sound on the left.
  constexpr int slack = 4 * period_frames;  // periods the probe may have lost in between
  for (int b : {2, 3}) {
    const int64_t tick = start_frame - bar + b * beat;
    EXPECT_TRUE(sounds(out, tick - slack, click_length + 2 * slack)) << "no tick on beat " << b + 1;
    EXPECT_FALSE(sounds(out, tick - slack - click_length, click_length)) << "beat " << b + 1;
  }
  for (int b : {0, 1}) {
    const int64_t after_kick = start_frame + b * bar + beat + slack;
    EXPECT_FALSE(sounds(out, after_kick, 3 * beat - 2 * slack)) << "a tick in bar " << b + 1;
  }
  // Nothing of the click (nor of the drums) is in the track: its left input was silent.
  size_t left_nonzero = 0;
  for (const Frame& f : loop) left_nonzero += f.left != 0;
  EXPECT_EQ(left_nonzero, 0u);
}

// A second press during the count-in cancels it, during the take closes it at the next bar;
// without a clock the press records free and the looper says why.
TEST_F(CountInTest, SecondPressesAndNoClock) {
  start();
  ASSERT_FALSE(HasFatalFailure());
  client.play(noise);
  expect_line("Rec/Dub",
              "Count-in off: no clock runs (start the drums, MIDI clock or JACK transport); "
              "recording free");
  ASSERT_TRUE(wait_until([&] { return state_of(1) == "recording"; }, 10));
  command("Rec/Dub");
  command("Rec/Dub");
  ASSERT_TRUE(wait_until([&] { return state_of(1) == "playing"; }, 10));

  command("Drums Start");
  command("Select Track 2");
  struct Step {
    const char* wait_state;  // the state of track 2 to wait for before the press ("" none)
    const char* line;        // what the press makes the looper print
  };
  const Step steps[] = {
      {"", "Count-in: track 2 records 2 bars after 1 bar of count-in"},
      {"", "Count-in cancelled: track 2 stays empty"},
      {"", "Count-in: track 2 records 2 bars after 1 bar of count-in"},
      {"recording", "Track 2 closes at the next bar start"},
  };
  for (const Step& s : steps) {
    if (s.wait_state[0] != '\0') {
      ASSERT_TRUE(wait_until([&] { return state_of(2) == s.wait_state; }, 10)) << s.line;
    }
    expect_line("Rec/Dub", s.line);
  }
  EXPECT_TRUE(zt4->wait_for_output("Track 2 closed after 1 bar: 96000 frames", 10))
      << zt4->output();
  EXPECT_EQ(state_of(2), "overdubbing");
}

}  // namespace
}  // namespace zt4test
