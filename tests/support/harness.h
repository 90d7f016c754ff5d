// Integration-test support: a private JACK dummy server, the real zt4 binary in a temporary
// working directory on a free UDP port, a JACK test client that feeds ZT4's inputs and records
// its outputs, and a UDP peer for the remote-control port. Tests that use these never run in
// parallel (they share the server name), but they coexist with loopers running elsewhere.
#pragma once

#include <gtest/gtest.h>
#include <jack/jack.h>
#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace zt4test {

// One fixed private server name: JACK keeps few servers in its registry and reclaims a dead
// server's entry only when a server of the same name starts again.
// ZT4TEST_SERVER overrides it, so that two checkouts can test side by side.
const char* server_name();
constexpr int sample_rate = 48000;
constexpr int period_frames = 256;

// Polls cond every 10 ms until it holds or timeout_s passes.
bool wait_until(const std::function<bool()>& cond, double timeout_s);

// A fresh directory under /tmp, removed with its contents on destruction.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }
  void write(const std::string& name, const std::string& bytes) const;
  std::optional<std::string> read(const std::string& name) const;
  bool exists(const std::string& name) const;

 private:
  std::string path_;
};

// jackd -n zt4test -r -d dummy -r 48000 -p 256 (or `period`), stopped with SIGTERM. With
// realtime set before start, -R instead of -r: the server and its clients' process threads run
// at real-time priority, so only a blocked process callback, not other busy programs, makes them
// late.
class JackServer {
 public:
  ~JackServer() { stop(); }
  bool realtime = false;
  int period = period_frames;  // frames per period (-p), set before start
  bool start();                // returns once a client can connect
  void stop();
  bool running() const { return pid_ > 0; }

 private:
  pid_t pid_ = -1;
};

// The real zt4 binary (or another program, such as scripts/run) in its own process group, its
// standard output and error collected, standard input a pipe.
class Zt4Process {
 public:
  explicit Zt4Process(std::string workdir, std::string program = ZT4_BINARY)
      : workdir_(std::move(workdir)), program_(std::move(program)) {}
  ~Zt4Process() { stop(); }
  // extra_env: "NAME=value" entries added to the environment (JACK_DEFAULT_SERVER is set;
  // ZT4_DATA and ZT4_PORT are removed). args: the command line; by default any free UDP port.
  bool start(const std::vector<std::string>& extra_env = {},
             const std::vector<std::string>& args = {"--port", "0"});
  bool wait_for_output(const std::string& text, double timeout_s = 10);
  // Waits for the line that says the looper is ready; false on time-out.
  bool wait_ready(double timeout_s = 30);
  // The UDP port named in the ready line; -1 before it, or when remote control is off.
  int udp_port();
  // Waits until text has appeared `count` times in standard output.
  bool wait_for_count(const std::string& text, int count, double timeout_s = 10);
  std::string output();
  std::string errors();
  void send_console(const std::string& bytes);
  // Console bytes sent that the program has not read yet.
  int console_unread();
  // Waits for the process to end by itself; returns its exit status, or -1 on time-out.
  int wait_exit(double timeout_s);
  void stop();  // SIGTERM to the process group, then SIGKILL after 5 s
  pid_t pid() const { return pid_; }

 private:
  void reader(int fd, std::string* into);
  std::string workdir_;
  std::string program_;
  pid_t pid_ = -1;
  int stdin_fd_ = -1;
  int exit_status_ = -1;
  std::mutex mutex_;
  std::string out_, err_;
  std::thread out_thread_, err_thread_;
};

// JACK client "zt4probe": out_l/out_r feed ZT4:INL/INR, in_l/in_r record ZT4:OUTL/OUTR,
// midi_out feeds ZT4:MIDIIN and midi_in collects ZT4:MIDIOUT.
class TestClient {
 public:
  ~TestClient() { close(); }
  bool open();  // opens, activates and connects to ZT4's ports (ZT4 must be running)
  // Connects the open probe to ZT4's ports again, after ZT4 was restarted.
  bool connect_ports();
  void close();

  // Input generator: called per frame with the frame number since open; returns {left, right}.
  using Generator = std::function<std::pair<float, float>(uint64_t frame)>;
  void play(Generator g);
  void play_sine(double hz, float amplitude);
  void play_silence();

  // Records the next `frames` frames of ZT4's main output (after a round trip).
  std::vector<std::pair<float, float>> record(size_t frames, double timeout_s = 30);

  void send_midi(const std::vector<uint8_t>& message);  // one event in the next period
  // One event at frame `offset` (below period_frames) of the next period.
  void send_midi_at(uint32_t offset, const std::vector<uint8_t>& message);
  // Sends message every `period` frames (fractions carried) from the next period on, each at
  // its own frame within the period; 0 stops.
  void send_midi_every(double period, const std::vector<uint8_t>& message);
  // The same, taking the messages in turn (a controller swept through values, say).
  void send_midi_cycle(double period, const std::vector<std::vector<uint8_t>>& messages);
  std::vector<uint8_t> midi_received();  // every byte received so far
  // Every event received so far with the probe's frame number at which it arrived.
  struct TimedMidi {
    uint64_t frame;
    std::vector<uint8_t> bytes;
  };
  std::vector<TimedMidi> midi_events();
  // Every one-off event sent so far (send_midi, send_midi_at) with the frame it was written at.
  std::vector<TimedMidi> midi_sent();
  void clear_midi_received();
  bool wait_midi(const std::function<bool(const std::vector<uint8_t>&)>& cond, double timeout_s);

  uint64_t frames_processed() const { return frame_.load(); }

 private:
  static int process(jack_nframes_t n, void* self);
  jack_client_t* client_ = nullptr;
  jack_port_t *out_l_ = nullptr, *out_r_ = nullptr, *in_l_ = nullptr, *in_r_ = nullptr;
  jack_port_t *midi_out_ = nullptr, *midi_in_ = nullptr;
  std::mutex mutex_;
  Generator generator_;
  std::vector<TimedMidi> midi_pending_;  // frame: the offset within the next period
  std::vector<TimedMidi> midi_sent_;
  std::vector<uint8_t> midi_received_;
  std::vector<TimedMidi> midi_events_;
  double repeat_period_ = 0;
  double repeat_next_ = 0;
  std::vector<std::vector<uint8_t>> repeat_messages_;
  size_t repeat_index_ = 0;
  std::vector<std::pair<float, float>> recording_;
  size_t record_wanted_ = 0;
  std::atomic<uint64_t> frame_{0};
};

// UDP socket on an ephemeral loopback port talking to 127.0.0.1 on the looper's port.
class UdpPeer {
 public:
  UdpPeer();
  ~UdpPeer();
  void aim(int port) { port_ = port; }  // the looper's port, from its ready line
  void send(const std::string& bytes);
  std::optional<std::string> receive(double timeout_s);
  int local_port() const;  // the port this peer receives on

 private:
  int fd_ = -1;
  int port_ = 0;
};

// Asks the looper for its status document; "" when none came within a few seconds.
std::string status_document(UdpPeer& udp);

// The text of <field> in the block of track n (1-based) of a status document; "" when absent.
std::string track_field(const std::string& document, int n, const std::string& field);

// Whether recorded output plays a stored loop (the left samples of its track file) at unity
// gain: the output is cut into 0.1 s pieces, each of which must be a stretch of the loop from
// some frame of it on (wrapping). A missed server cycle (xrun) spoils one or two pieces.
struct LoopCheck {
  size_t pieces = 0;
  size_t following = 0;
  // At least half the pieces follow the loop, and all but `forgiven` of them.
  bool plays(size_t forgiven) const {
    return pieces > 0 && following * 2 >= pieces && following + forgiven >= pieces;
  }
};
constexpr size_t loop_piece_frames = 4800;
// The left samples of a track file's loop (after its 512-byte header).
std::vector<int32_t> left_of(const std::string& track_file);
LoopCheck check_loop(const std::vector<std::pair<float, float>>& out,
                     const std::vector<int32_t>& loop);

// Counts the xruns the JACK server reports to a client of its own.
class XrunCounter {
 public:
  ~XrunCounter();
  bool open(const char* client_name = "zt4xruns");
  int count() const { return count_.load(); }

 private:
  static int on_xrun(void* self);
  jack_client_t* client_ = nullptr;
  std::atomic<int> count_{0};
};

// Runs a shell command line (sh -c) with extra environment entries; returns its exit status
// (128 + signal when killed) and collects standard output and error together.
int run_shell(const std::string& command, std::string& output,
              const std::vector<std::string>& extra_env = {});

// A program built beside the zt4 binary under test: "zt4-remote", "zt4-panel", "zt4-audio".
std::string tool_path(const char* name);

// Fixture: a private JACK server and a temporary working directory per test; start_zt4()
// starts the binary there and waits for its start-up lines.
class Zt4Test : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  // Starts zt4 (or another build of it, such as ZT4_TESTKEY_BINARY) on a free UDP port and
  // waits until it is ready; udp_port is then its port.
  void start_zt4(const std::string& program = ZT4_BINARY);
  // Opens the JACK test client connected to ZT4's ports.
  void open_client();
  // Waits until the test client has processed `frames` more frames (fails after timeout_s).
  void pass(uint64_t frames, double timeout_s = 60);

  TempDir dir;
  JackServer server;
  std::optional<Zt4Process> zt4;
  TestClient client;
  int udp_port = -1;
};

}  // namespace zt4test
