// The JACK transport on the real binary with real clients: Debian's jack_transport as timebase
// master (driven on its standard input) clocks the looper in follow mode, and in master mode the
// looper's drums lead a transport that a client of the test's own reads.
#include <jack/jack.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "config/config.h"
#include "drums/drum_bank_file.h"
#include "tests/support/harness.h"

namespace zt4test {
namespace {

constexpr int beat_frames_100 = 28800;
constexpr float click_level = 0.5f;
constexpr int click_frames = 64;

// A JACK client of the test's own that reads the transport every period, and in click mode
// writes one full sample into ZT4's inputs at every beat the timebase master's position names.
class TransportProbe {
 public:
  ~TransportProbe() { close(); }
  bool open(bool clicks) {
    client_ = jack_client_open("zt4bbt", JackNoStartServer, nullptr);
    if (client_ == nullptr) return false;
    out_ = jack_port_register(client_, "out", JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput, 0);
    jack_set_process_callback(client_, process, this);
    if (out_ == nullptr || jack_activate(client_) != 0) return false;
    if (clicks) {
      const std::string me = std::string(jack_get_client_name(client_)) + ":out";
      if (jack_connect(client_, me.c_str(), "ZT4:INL") != 0) return false;
      if (jack_connect(client_, me.c_str(), "ZT4:INR") != 0) return false;
    }
    return true;
  }
  void close() {
    if (client_ != nullptr) jack_client_close(client_);
    client_ = nullptr;
  }
  void roll() { jack_transport_start(client_); }
  int bar() const { return bar_.load(); }
  int beat() const { return beat_.load(); }
  double bpm() const { return bpm_.load(); }
  bool rolling() const { return rolling_.load(); }
  bool bbt() const { return bbt_.load(); }

 private:
  static int process(jack_nframes_t n, void* self) {
    auto& p = *static_cast<TransportProbe*>(self);
    auto* out = static_cast<float*>(jack_port_get_buffer(p.out_, n));
    std::fill(out, out + n, 0.0f);
    jack_position_t pos;
    const bool rolling = jack_transport_query(p.client_, &pos) == JackTransportRolling;
    const bool bbt = (pos.valid & JackPositionBBT) != 0;
    p.rolling_ = rolling;
    p.bbt_ = bbt;
    if (bbt) {
      p.bar_ = pos.bar;
      p.beat_ = pos.beat;
      p.bpm_ = pos.beats_per_minute;
    }
    if (bbt && rolling && pos.beats_per_minute > 0 && pos.ticks_per_beat > 0 && pos.tick >= 0 &&
        pos.tick < pos.ticks_per_beat) {
      // The beat after the master's position (its whole ticks truncated: half of one added),
      // at its frame in this period.
      const double beat_frames = pos.frame_rate * 60.0 / pos.beats_per_minute;
      const double into_beat = (pos.tick + 0.5) / pos.ticks_per_beat * beat_frames;
      const double next = pos.tick == 0 ? 0 : beat_frames - into_beat;
      if (next >= 0 && next < n && p.click_from_ < 0) p.click_from_ = int(next);
    }
    // A click of click_frames frames from the beat's frame on, into the next period if need be.
    for (jack_nframes_t i = 0; i < n && p.click_from_ >= 0; i++) {
      if (int(i) < p.click_from_) continue;
      out[i] = click_level;
      if (++p.click_done_ >= click_frames) {
        p.click_from_ = -1;
        p.click_done_ = 0;
      }
    }
    if (p.click_from_ > 0) p.click_from_ = 0;
    return 0;
  }
  jack_client_t* client_ = nullptr;
  jack_port_t* out_ = nullptr;
  int click_from_ = -1;  // process thread only
  int click_done_ = 0;
  std::atomic<int> bar_{0}, beat_{0};
  std::atomic<double> bpm_{0};
  std::atomic<bool> rolling_{false}, bbt_{false};
};

class TransportTest : public Zt4Test {
 protected:
  // Real-time clients: jack_transport's position lags by a period whenever its thread is late,
  // which a busy machine makes common otherwise.
  // 300 frames a period: jack_transport adds whole ticks (1920 a beat) each period, exact at
  // 100 and 140 BPM only with such a period (at 256 its beats run 0.4 % long).
  void SetUp() override {
    server.realtime = true;
    server.period = 300;
    Zt4Test::SetUp();
  }
  void place_config() {
    config_defaults();
    config.all_main_level = 0;
    config.noise_gate_level = 0;
    config_stamp_checksum();
    dir.write(config_file_name, std::string(reinterpret_cast<const char*>(&config), sizeof config));
  }

  // A bank whose first pattern runs at 120 BPM, and the default kit.
  void place_drums() {
    DrumBank bank{};
    bank.patterns[0].bpm = 120;
    for (int s = 0; s < drum_steps; s += 24) bank.patterns[0].steps[s] = 0x01;
    std::vector<uint8_t> bytes(drum_bank_file_bytes);
    drum_bank_encode(bank, bytes.data());
    dir.write(drum_bank_file_name, std::string(bytes.begin(), bytes.end()));
    for (int i = 1; i <= 8; i++) {
      const std::string name = "drum" + std::to_string(i) + ".wav";
      std::filesystem::copy_file(std::string(ZT4_DRUMKIT_DIR) + "/" + name, dir.file(name));
    }
  }

  void start(const std::string& mode) {
    zt4.emplace(dir.path());
    ASSERT_TRUE(zt4->start({}, {"--port", "0", "--web", "off", "--transport", mode}));
    ASSERT_TRUE(zt4->wait_ready(30)) << zt4->output() << zt4->errors();
    udp_port = zt4->udp_port();
    peer.aim(udp_port);
  }

  // Debian's jack_transport, driven on its standard input.
  void start_master() {
    master.emplace(dir.path(), "/usr/bin/jack_transport");
    ASSERT_TRUE(master->start({}, {})) << "jack_transport (package jackd2) is needed";
    ASSERT_TRUE(wait_until([&] { return jack_client_present("jack_transport"); }, 10));
  }
  void tell_master(const std::string& line) { master->send_console(line + "\n"); }

  static bool jack_client_present(const char* name) {
    jack_client_t* c = jack_client_open("zt4look", JackNoStartServer, nullptr);
    if (c == nullptr) return false;
    char* uuid = jack_get_uuid_for_client_name(c, name);
    const bool found = uuid != nullptr;
    if (uuid != nullptr) jack_free(uuid);
    jack_client_close(c);
    return found;
  }

  void command(const std::string& name) { peer.send("<command>" + name + "</command>"); }

  // A fresh "m" report, read once its last line (the transport's) is out.
  std::string midi_report() {
    const int seen = count(zt4->output(), "\nTransport: ");
    zt4->send_console("m");
    EXPECT_TRUE(wait_until(
        [&] {
          return count(zt4->output(), "\nTransport: ") > seen && zt4->output().back() == '\n';
        },
        10));
    const std::string out = zt4->output();
    return out.substr(out.rfind("ZT4 Looper MIDI statistics:"));
  }
  std::string looper_report() {
    const int seen = count(zt4->output(), "DC Offset:");
    zt4->send_console("s");
    EXPECT_TRUE(zt4->wait_for_count("DC Offset:", seen + 1, 10));
    const std::string out = zt4->output();
    return out.substr(out.rfind("ZT4 Looper statistics:"));
  }
  static int count(const std::string& s, const std::string& text) {
    int n = 0;
    for (size_t at = s.find(text); at != std::string::npos; at = s.find(text, at + 1)) n++;
    return n;
  }
  static double number_after(const std::string& text, const std::string& label) {
    const size_t at = text.rfind(label);
    if (at == std::string::npos) return -1e9;
    return std::strtod(text.c_str() + at + label.size(), nullptr);
  }
  // The tempo of the report's transport line ("Transport: follow, 100.00 BPM, ...").
  static double transport_bpm(const std::string& report) {
    const size_t at = report.rfind("Transport: ");
    if (at == std::string::npos) return -1;
    const size_t comma = report.find(", ", at);
    return comma == std::string::npos ? -1 : std::strtod(report.c_str() + comma + 2, nullptr);
  }
  bool wait_track_1_plays(double timeout_s) {
    return wait_until(
        [&] {
          const std::string r = looper_report();
          const size_t at = r.find(" Track 1:");
          return at != std::string::npos &&
                 r.substr(at, r.find('\n', at) - at).find(", PLAY") != std::string::npos;
        },
        timeout_s);
  }

  UdpPeer peer;
  std::optional<Zt4Process> master;
  TransportProbe probe;
};

TEST_F(TransportTest, FollowsJackTransportTempoBeatsStopAndItsDeparture) {
  place_config();
  start("follow");
  ASSERT_FALSE(HasFatalFailure());
  ASSERT_TRUE(zt4->wait_for_output("Transport: no JACK timebase master", 10)) << zt4->output();
  start_master();
  ASSERT_FALSE(HasFatalFailure());
  tell_master("master");
  tell_master("tempo 100");
  tell_master("play");
  ASSERT_TRUE(zt4->wait_for_output("Transport: following the timebase master at 100.00 BPM", 10))
      << zt4->output();
  ASSERT_TRUE(probe.open(true));
  open_client();
  pass(3 * beat_frames_100);

  // The tempo followed: the master's, to the hundredth.
  std::string r = midi_report();
  const double followed = 2880000.0 / (number_after(r, " MIDI clock in average: ") * 24);
  EXPECT_NEAR(transport_bpm(r), 100.0, 0.05) << r;
  EXPECT_EQ(number_after(r, " MIDI    clock in lock: "), 0) << r;
  EXPECT_NEAR(followed, 100.0, 0.05) << r;
  RecordProperty("tempo_error_bpm", std::to_string(transport_bpm(r) - 100.0));

  // A MIDI-synchronised loop of the clicks the master's beats make: whole beats long, and the
  // clicks sit on the loop's beat grid, which starts vsp frames into the take.
  command("MIDI Sync Rec");
  pass(60000);
  command("MIDI Sync Rec");
  pass(4800);
  command("MIDI Sync Rec");
  ASSERT_TRUE(wait_track_1_plays(20)) << looper_report();
  const std::string s = looper_report();
  const long length = long(number_after(s, " Track 1: len "));
  const long vsp = long(number_after(s.substr(0, s.find('\n', s.find(" Track 1: len "))), "vsp "));
  const long beats = std::lround(double(length) / beat_frames_100);
  EXPECT_GE(beats, 2) << s;
  const long length_error = length - beats * beat_frames_100;
  EXPECT_LE(std::labs(length_error + 1), 1) << "a whole number of beats less one frame: " << s;
  ASSERT_TRUE(wait_until([&] { return dir.exists("track1.dat"); }, 20));
  ASSERT_TRUE(wait_until(
      [&] { return left_of(dir.read("track1.dat").value_or("")).size() >= size_t(length); }, 20));
  const std::vector<int32_t> loop = left_of(dir.read("track1.dat").value_or(""));
  long worst = 0;
  int clicks = 0;
  size_t quiet = 0;
  for (size_t i = 0; i < loop.size(); i++) {
    if (std::abs(loop[i]) < (1 << 21)) {
      quiet++;
      continue;
    }
    const bool onset = quiet >= 1000;
    quiet = 0;
    if (!onset) continue;
    clicks++;
    long off = (long(i) - vsp) % beat_frames_100;
    if (off < 0) off += beat_frames_100;
    if (off > beat_frames_100 / 2) off -= beat_frames_100;
    worst = std::max(worst, std::labs(off));
    std::printf("click at %zu: %+ld frames from the loop's beat grid\n", i, off);
  }
  int32_t loudest = 0;
  for (int32_t x : loop) loudest = std::max(loudest, std::abs(x));
  EXPECT_GE(clicks, 2) << "the master's beats reached the loop; loudest " << loudest << " of "
                       << loop.size();
  RecordProperty("beat_alignment_error_frames", std::to_string(worst));
  RecordProperty("loop_length_error_frames", std::to_string(length_error));
  std::printf(
      "tempo followed %.3f BPM; loop %ld frames (%ld beats, %+ld frames); clicks %d, "
      "worst %ld frames off the loop's beat grid\n",
      transport_bpm(r), length, beats, length_error, clicks, worst);
  // jack_transport's own position lags a period whenever it is late in its cycle, and its whole
  // ticks are truncated: the follower keeps within a few frames of it.
  EXPECT_LE(worst, 1) << "clicks off the loop's beats";

  // A new tempo: followed at once (the report shows it after the next period).
  tell_master("tempo 140");
  ASSERT_TRUE(zt4->wait_for_output("Transport: following the timebase master at 140.00 BPM", 10));
  pass(2 * 20571);
  r = midi_report();
  EXPECT_NEAR(transport_bpm(r), 140.0, 0.05) << r;
  EXPECT_NEAR(2880000.0 / (number_after(r, " MIDI clock in average: ") * 24), 140.0, 0.2) << r;

  // Faulty tempos: refused in one line each, the clock on its flywheel, the looper unharmed;
  // a sound tempo again is followed again.
  for (const char* tempo : {"0.00", "100000.00"}) {
    tell_master(std::string("tempo ") + tempo);
    EXPECT_TRUE(wait_until(
        [&] {
          return zt4->output().find("position refused (tempo " + std::string(tempo)) !=
                 std::string::npos;
        },
        10))
        << tempo << "\n"
        << zt4->output();
  }
  const int followed_before = count(zt4->output(), "following the timebase master at 140.00 BPM");
  tell_master("tempo 140");
  EXPECT_TRUE(wait_until(
      [&] {
        return count(zt4->output(), "following the timebase master at 140.00 BPM") >
               followed_before;
      },
      10));

  // Stop: the measure count stops (no measure starts, no ticks), the loop plays on.
  tell_master("stop");
  ASSERT_TRUE(
      zt4->wait_for_output("Transport: stopped at 140.00 BPM; the measure count stops", 10));
  pass(9600);
  const std::string before = midi_report();
  pass(3 * 20571);
  const std::string after = midi_report();
  EXPECT_EQ(number_after(before, " MIDI  received clocks: "),
            number_after(after, " MIDI  received clocks: "));
  EXPECT_EQ(number_after(before, " MIDI    measure start: "),
            number_after(after, " MIDI    measure start: "));
  EXPECT_NE(after.find(", stopped"), std::string::npos) << after;

  // Rolling again, then back to bar 1: a relocation, or, from jack_transport, whose position
  // after a relocation is broken (beats out of the bar), a refusal: one line either way.
  tell_master("play");
  pass(2 * 20571);
  const int lines_before = count(zt4->output(), "\nTransport: the ");
  tell_master("locate 0");
  EXPECT_TRUE(
      wait_until([&] { return count(zt4->output(), "\nTransport: the ") > lines_before; }, 10))
      << zt4->output();

  // The master goes away mid-loop: one line, then the follower's loss rule a beat later.
  tell_master("quit");
  EXPECT_EQ(master->wait_exit(10), 0);
  ASSERT_TRUE(zt4->wait_for_output(
      "Transport: no JACK timebase master; the clock runs on its flywheel", 10))
      << zt4->output();
  pass(3 * beat_frames_100);
  r = midi_report();
  EXPECT_EQ(number_after(r, " MIDI    clock in lock: "), -1) << r;
  EXPECT_GE(number_after(r, " MIDI  lock lost count: "), 1) << r;
  EXPECT_NE(r.find("Transport: follow, no master"), std::string::npos) << r;
  EXPECT_TRUE(wait_track_1_plays(10)) << "the loop plays on";
}

TEST_F(TransportTest, DrumsLeadTheTransportAsTimebaseMaster) {
  place_config();
  place_drums();
  start("master");
  ASSERT_FALSE(HasFatalFailure());
  ASSERT_TRUE(zt4->wait_for_output("Transport: master, the looper is the JACK timebase master", 10))
      << zt4->output();
  ASSERT_TRUE(probe.open(false));
  command("Drums Start");
  ASSERT_TRUE(wait_until([&] { return probe.rolling() && probe.bbt(); }, 10));
  EXPECT_NEAR(probe.bpm(), 120.0, 0.01);
  // Bars and beats at the pattern's rate: 4 beats a bar, 2 beats a second.
  ASSERT_TRUE(wait_until([&] { return probe.beat() == 1 && probe.bar() >= 2; }, 10));
  const int bar = probe.bar();
  const auto started = std::chrono::steady_clock::now();
  ASSERT_TRUE(wait_until([&] { return probe.bar() >= bar + 2; }, 10));
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  EXPECT_NEAR(seconds, 4.0, 1.0) << "two bars of 4 beats at 120 BPM";
  const std::string r = midi_report();
  EXPECT_NE(r.find("Transport: master, 120.00 BPM"), std::string::npos) << r;

  command("Drums Stop");
  EXPECT_TRUE(wait_until([&] { return !probe.rolling(); }, 10));

  // Function 135 over the remote control: a number outside 0..2 is refused, 0 lets the
  // timebase go.
  command("Transport Mode 7");
  EXPECT_TRUE(zt4->wait_for_output("Transport Mode refused: 7 is outside 0..2", 10))
      << zt4->output();
  command("Transport Mode 0");
  EXPECT_TRUE(zt4->wait_for_output("Transport: off", 10)) << zt4->output();
  EXPECT_TRUE(wait_until([&] { return !probe.bbt(); }, 10)) << "no timebase master any more";
}

TEST_F(TransportTest, ThePlayingClockOutTrackLeadsWhileTheDrumsRest) {
  place_config();
  start("master");
  ASSERT_FALSE(HasFatalFailure());
  ASSERT_TRUE(probe.open(false));
  open_client();
  client.play_sine(440, 0.25f);
  command("Rec/Dub");
  pass(96000);
  command("Rec/Dub");
  pass(4800);
  command("Rec/Dub");
  ASSERT_TRUE(wait_track_1_plays(20)) << looper_report();
  const double length = number_after(looper_report(), " Track 1: len ");
  probe.roll();
  ASSERT_TRUE(wait_until([&] { return probe.rolling() && probe.bbt(); }, 10));
  // Track 1 is the clock-out track: its loop is one measure of 4 beats (or a power of two of
  // them when that measure's pulses would lie too far apart), as its MIDI clock out plays it.
  pass(9600);
  const double bpm = probe.bpm();
  const double beats = bpm * length / 2880000.0;
  EXPECT_NEAR(beats, std::round(beats), 1e-6) << bpm << " BPM for a loop of " << length;
  EXPECT_TRUE(std::lround(beats) == 4 || std::lround(beats) == 8) << beats;
  const std::string r = midi_report();
  EXPECT_NEAR(transport_bpm(r), bpm, 0.01) << r;
}

TEST_F(TransportTest, MasterModeLeavesAnotherMasterAloneUnlessForced) {
  place_config();
  start_master();
  ASSERT_FALSE(HasFatalFailure());
  tell_master("master");
  tell_master("tempo 90");
  tell_master("play");
  ASSERT_TRUE(probe.open(false));
  ASSERT_TRUE(wait_until([&] { return probe.bbt() && std::fabs(probe.bpm() - 90.0) < 0.01; }, 10));
  start("master");
  ASSERT_FALSE(HasFatalFailure());
  EXPECT_TRUE(
      zt4->wait_for_output("not the timebase master yet: another program is the "
                           "timebase master",
                           10))
      << zt4->output();
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_NEAR(probe.bpm(), 90.0, 0.01) << "jack_transport stays the master";

  zt4->stop();
  start("master-force");
  ASSERT_FALSE(HasFatalFailure());
  EXPECT_TRUE(zt4->wait_for_output("Transport: master, the looper is the JACK timebase master", 10))
      << zt4->output();
  EXPECT_TRUE(wait_until([&] { return std::fabs(probe.bpm() - 120.0) < 0.01; }, 10));
}

}  // namespace
}  // namespace zt4test
