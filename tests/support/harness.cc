#include "tests/support/harness.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <jack/midiport.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace zt4test {

namespace {
using clock_type = std::chrono::steady_clock;

void quiet(const char*) {}

void set_server_env() {
  // The probe's own connection attempts while the server starts are expected to fail.
  jack_set_error_function(quiet);
  jack_set_info_function(quiet);
  setenv("JACK_DEFAULT_SERVER", server_name(), 1);
  setenv("JACK_NO_START_SERVER", "1", 1);
}

// In a child before exec: it ends with the test, and only standard input, output and error go
// on. A server or looper that outlived a crashed or timed-out test would keep running, and keep
// whatever the test inherited, such as the lock a machine-wide flock holds around the run.
void tie_to_test(pid_t test) {
  prctl(PR_SET_PDEATHSIG, SIGTERM);
  if (getppid() != test) _exit(126);  // the test ended before the tie was made
  close_range(3, ~0U, 0);
}

bool wait_child(pid_t pid, int* status, double timeout_s) {
  return wait_until([&] { return waitpid(pid, status, WNOHANG) == pid; }, timeout_s);
}
}  // namespace

const char* server_name() {
  const char* name = getenv("ZT4TEST_SERVER");
  return name != nullptr && *name != '\0' ? name : "zt4test";
}

bool wait_until(const std::function<bool()>& cond, double timeout_s) {
  const auto deadline = clock_type::now() + std::chrono::duration<double>(timeout_s);
  for (;;) {
    if (cond()) return true;
    if (clock_type::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

TempDir::TempDir() {
  char tmpl[] = "/tmp/zt4test.XXXXXX";
  const char* p = mkdtemp(tmpl);
  path_ = p != nullptr ? p : "/tmp";
}

TempDir::~TempDir() {
  std::error_code ec;
  if (path_ != "/tmp") std::filesystem::remove_all(path_, ec);
}

void TempDir::write(const std::string& name, const std::string& bytes) const {
  std::ofstream f(file(name), std::ios::binary | std::ios::trunc);
  f << bytes;
}

std::optional<std::string> TempDir::read(const std::string& name) const {
  std::ifstream f(file(name), std::ios::binary);
  if (!f) return std::nullopt;
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

bool TempDir::exists(const std::string& name) const { return std::filesystem::exists(file(name)); }

bool JackServer::start() {
  set_server_env();
  const pid_t test = getpid();
  const std::string frames = std::to_string(period);  // made before fork: the child only execs
  pid_ = fork();
  if (pid_ == 0) {
    int devnull = open("/dev/null", O_RDWR);
    dup2(devnull, STDOUT_FILENO);
    dup2(devnull, STDERR_FILENO);
    tie_to_test(test);
    const std::string period_text = std::to_string(period);
    execlp("jackd", "jackd", "-n", server_name(), realtime ? "-R" : "-r", "-d", "dummy", "-r",
           "48000", "-p", period_text.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  if (pid_ < 0) return false;
  return wait_until(
      [&] {
        jack_status_t status;
        jack_client_t* c = jack_client_open("zt4ping", JackNoStartServer, &status);
        if (c == nullptr) return false;
        jack_client_close(c);
        return true;
      },
      10);
}

void JackServer::stop() {
  if (pid_ <= 0) return;
  kill(pid_, SIGTERM);
  int status;
  if (!wait_child(pid_, &status, 10)) {
    kill(pid_, SIGKILL);
    waitpid(pid_, &status, 0);
  }
  pid_ = -1;
}

bool Zt4Process::start(const std::vector<std::string>& extra_env,
                       const std::vector<std::string>& args) {
  set_server_env();
  int in_pipe[2], out_pipe[2], err_pipe[2];
  if (pipe(in_pipe) != 0 || pipe(out_pipe) != 0 || pipe(err_pipe) != 0) return false;
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program_.c_str()));
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  const pid_t test = getpid();
  pid_ = fork();
  if (pid_ == 0) {
    setpgid(0, 0);  // a script's children are stopped with it
    dup2(in_pipe[0], STDIN_FILENO);
    dup2(out_pipe[1], STDOUT_FILENO);
    dup2(err_pipe[1], STDERR_FILENO);
    for (int fd : {in_pipe[0], in_pipe[1], out_pipe[0], out_pipe[1], err_pipe[0], err_pipe[1]})
      close(fd);
    if (chdir(workdir_.c_str()) != 0) _exit(126);
    unsetenv("ZT4_DATA");  // the working directory is the data directory
    unsetenv("ZT4_PORT");
    for (const auto& e : extra_env) putenv(strdup(e.c_str()));
    tie_to_test(test);
    execv(program_.c_str(), argv.data());
    _exit(127);
  }
  setpgid(pid_, pid_);
  close(in_pipe[0]);
  close(out_pipe[1]);
  close(err_pipe[1]);
  stdin_fd_ = in_pipe[1];
  out_thread_ = std::thread(&Zt4Process::reader, this, out_pipe[0], &out_);
  err_thread_ = std::thread(&Zt4Process::reader, this, err_pipe[0], &err_);
  return pid_ > 0;
}

void Zt4Process::reader(int fd, std::string* into) {
  char buf[4096];
  for (;;) {
    ssize_t n = read(fd, buf, sizeof buf);
    if (n <= 0) break;
    std::lock_guard<std::mutex> g(mutex_);
    into->append(buf, size_t(n));
  }
  close(fd);
}

bool Zt4Process::wait_ready(double timeout_s) { return wait_for_output("ready: ", timeout_s); }

int Zt4Process::udp_port() {
  const std::string out = output();
  const size_t ready = out.find("ready: ");
  if (ready == std::string::npos) return -1;
  const std::string line = out.substr(ready, out.find('\n', ready) - ready);
  const size_t at = line.find("UDP port ");
  return at == std::string::npos ? -1 : atoi(line.c_str() + at + 9);
}

std::string Zt4Process::output() {
  std::lock_guard<std::mutex> g(mutex_);
  return out_;
}

std::string Zt4Process::errors() {
  std::lock_guard<std::mutex> g(mutex_);
  return err_;
}

bool Zt4Process::wait_for_output(const std::string& text, double timeout_s) {
  return wait_for_count(text, 1, timeout_s);
}

bool Zt4Process::wait_for_count(const std::string& text, int count, double timeout_s) {
  return wait_until(
      [&] {
        std::string s = output();
        int found = 0;
        for (size_t at = s.find(text); at != std::string::npos; at = s.find(text, at + 1))
          if (++found >= count) return true;
        return false;
      },
      timeout_s);
}

void Zt4Process::send_console(const std::string& bytes) {
  if (stdin_fd_ >= 0) (void)!::write(stdin_fd_, bytes.data(), bytes.size());
}

int Zt4Process::console_unread() {
  int unread = 0;
  if (stdin_fd_ < 0 || ioctl(stdin_fd_, FIONREAD, &unread) != 0) return 0;
  return unread;
}

int Zt4Process::wait_exit(double timeout_s) {
  if (pid_ <= 0) return exit_status_;
  int status;
  if (!wait_child(pid_, &status, timeout_s)) return -1;
  pid_ = -1;
  exit_status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  if (out_thread_.joinable()) out_thread_.join();
  if (err_thread_.joinable()) err_thread_.join();
  return exit_status_;
}

void Zt4Process::stop() {
  if (pid_ > 0) {
    const pid_t group = pid_;
    kill(-group, SIGTERM);
    if (wait_exit(5) < 0) {
      kill(-group, SIGKILL);
      wait_exit(5);
    }
    kill(-group, SIGKILL);  // whatever the program left running in its group
  }
  if (stdin_fd_ >= 0) close(stdin_fd_);
  stdin_fd_ = -1;
  if (out_thread_.joinable()) out_thread_.join();
  if (err_thread_.joinable()) err_thread_.join();
}

bool TestClient::open() {
  set_server_env();
  jack_status_t status;
  client_ = jack_client_open("zt4probe", JackNoStartServer, &status);
  if (client_ == nullptr) return false;
  out_l_ = jack_port_register(client_, "out_l", JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput, 0);
  out_r_ = jack_port_register(client_, "out_r", JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput, 0);
  in_l_ = jack_port_register(client_, "in_l", JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
  in_r_ = jack_port_register(client_, "in_r", JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
  midi_out_ = jack_port_register(client_, "midi_out", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
  midi_in_ = jack_port_register(client_, "midi_in", JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
  jack_set_process_callback(client_, &TestClient::process, this);
  if (jack_activate(client_) != 0) return false;
  return connect_ports();
}

bool TestClient::connect_ports() {
  if (client_ == nullptr) return false;
  // ZT4 connects MIDI ports by itself as well; a second connect just fails.
  jack_connect(client_, "zt4probe:out_l", "ZT4:INL");
  jack_connect(client_, "zt4probe:out_r", "ZT4:INR");
  jack_connect(client_, "ZT4:OUTL", "zt4probe:in_l");
  jack_connect(client_, "ZT4:OUTR", "zt4probe:in_r");
  jack_connect(client_, "zt4probe:midi_out", "ZT4:MIDIIN");
  jack_connect(client_, "ZT4:MIDIOUT", "zt4probe:midi_in");
  // The server makes a new connection visible to clients when its next cycle switches the
  // graph; on a busy machine that cycle comes late, so wait for it.
  return wait_until(
      [&] {
        return jack_port_connected(in_l_) > 0 && jack_port_connected(out_l_) > 0 &&
               jack_port_connected(midi_in_) > 0 && jack_port_connected(midi_out_) > 0;
      },
      10);
}

void TestClient::close() {
  if (client_ == nullptr) return;
  jack_deactivate(client_);
  jack_client_close(client_);
  client_ = nullptr;
}

void TestClient::play(Generator g) {
  std::lock_guard<std::mutex> lock(mutex_);
  generator_ = std::move(g);
}

void TestClient::play_sine(double hz, float amplitude) {
  play([hz, amplitude](uint64_t f) {
    float v = amplitude * float(std::sin(2 * M_PI * hz * double(f) / sample_rate));
    return std::pair<float, float>(v, v);
  });
}

void TestClient::play_silence() { play(nullptr); }

std::vector<std::pair<float, float>> TestClient::record(size_t frames, double timeout_s) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    recording_.clear();
    recording_.reserve(frames);
    record_wanted_ = frames;
  }
  wait_until(
      [&] {
        std::lock_guard<std::mutex> lock(mutex_);
        return recording_.size() >= frames;
      },
      timeout_s);
  std::lock_guard<std::mutex> lock(mutex_);
  record_wanted_ = 0;
  return recording_;
}

void TestClient::send_midi(const std::vector<uint8_t>& message) { send_midi_at(0, message); }

void TestClient::send_midi_at(uint32_t offset, const std::vector<uint8_t>& message) {
  std::lock_guard<std::mutex> lock(mutex_);
  midi_pending_.push_back({offset, message});
}

void TestClient::send_midi_every(double period, const std::vector<uint8_t>& message) {
  send_midi_cycle(period, {message});
}

void TestClient::send_midi_cycle(double period, const std::vector<std::vector<uint8_t>>& messages) {
  std::lock_guard<std::mutex> lock(mutex_);
  repeat_period_ = messages.empty() ? 0 : period;
  repeat_next_ = double(frame_.load());
  repeat_messages_ = messages;
  repeat_index_ = 0;
}

std::vector<TestClient::TimedMidi> TestClient::midi_sent() {
  std::lock_guard<std::mutex> lock(mutex_);
  return midi_sent_;
}

std::vector<TestClient::TimedMidi> TestClient::midi_events() {
  std::lock_guard<std::mutex> lock(mutex_);
  return midi_events_;
}

std::vector<uint8_t> TestClient::midi_received() {
  std::lock_guard<std::mutex> lock(mutex_);
  return midi_received_;
}

void TestClient::clear_midi_received() {
  std::lock_guard<std::mutex> lock(mutex_);
  midi_received_.clear();
  midi_events_.clear();
}

bool TestClient::wait_midi(const std::function<bool(const std::vector<uint8_t>&)>& cond,
                           double timeout_s) {
  return wait_until([&] { return cond(midi_received()); }, timeout_s);
}

// The probe is test equipment, not the product: it may take its own mutex in the callback.
int TestClient::process(jack_nframes_t n, void* arg) {
  auto* self = static_cast<TestClient*>(arg);
  auto* ol = static_cast<float*>(jack_port_get_buffer(self->out_l_, n));
  auto* orr = static_cast<float*>(jack_port_get_buffer(self->out_r_, n));
  const auto* il = static_cast<const float*>(jack_port_get_buffer(self->in_l_, n));
  const auto* ir = static_cast<const float*>(jack_port_get_buffer(self->in_r_, n));
  void* mo = jack_port_get_buffer(self->midi_out_, n);
  void* mi = jack_port_get_buffer(self->midi_in_, n);
  jack_midi_clear_buffer(mo);
  std::lock_guard<std::mutex> lock(self->mutex_);
  const uint64_t base = self->frame_.load();
  for (jack_nframes_t i = 0; i < n; ++i) {
    auto v = self->generator_ ? self->generator_(base + i) : std::pair<float, float>(0, 0);
    ol[i] = v.first;
    orr[i] = v.second;
    if (self->recording_.size() < self->record_wanted_) self->recording_.emplace_back(il[i], ir[i]);
  }
  // JACK takes a period's events in frame order: the one-off events and the repeated ones are
  // merged (one-off first at equal frames).
  std::vector<TimedMidi> out;
  for (auto& m : self->midi_pending_) {
    m.frame = m.frame < n ? m.frame : n - 1;
    self->midi_sent_.push_back({base + m.frame, m.bytes});
    out.push_back(std::move(m));
  }
  self->midi_pending_.clear();
  if (self->repeat_period_ > 0) {
    for (; self->repeat_next_ < double(base + n); self->repeat_next_ += self->repeat_period_) {
      const double at = self->repeat_next_ < double(base) ? 0 : self->repeat_next_ - double(base);
      out.push_back({uint64_t(at), self->repeat_messages_[self->repeat_index_]});
      self->repeat_index_ = (self->repeat_index_ + 1) % self->repeat_messages_.size();
    }
  }
  std::stable_sort(out.begin(), out.end(),
                   [](const TimedMidi& a, const TimedMidi& b) { return a.frame < b.frame; });
  for (const auto& m : out)
    jack_midi_event_write(mo, jack_nframes_t(m.frame), m.bytes.data(), m.bytes.size());
  const jack_nframes_t events = jack_midi_get_event_count(mi);
  for (jack_nframes_t e = 0; e < events; ++e) {
    jack_midi_event_t ev;
    if (jack_midi_event_get(&ev, mi, e) == 0) {
      self->midi_received_.insert(self->midi_received_.end(), ev.buffer, ev.buffer + ev.size);
      self->midi_events_.push_back({base + ev.time, {ev.buffer, ev.buffer + ev.size}});
    }
  }
  self->frame_ = base + n;
  return 0;
}

UdpPeer::UdpPeer() {
  fd_ = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(fd_, reinterpret_cast<sockaddr*>(&local), sizeof local);
}

UdpPeer::~UdpPeer() {
  if (fd_ >= 0) ::close(fd_);
}

int UdpPeer::local_port() const {
  sockaddr_in local{};
  socklen_t length = sizeof local;
  getsockname(fd_, reinterpret_cast<sockaddr*>(&local), &length);
  return ntohs(local.sin_port);
}

void UdpPeer::send(const std::string& bytes) {
  // Port 0 reaches no looper: a test that forgot aim() would wait for replies in vain.
  if (port_ == 0) ADD_FAILURE() << "UdpPeer::send before aim(): the looper's port is unknown";
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(uint16_t(port_));
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  sendto(fd_, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
}

std::optional<std::string> UdpPeer::receive(double timeout_s) {
  pollfd p{fd_, POLLIN, 0};
  if (poll(&p, 1, int(timeout_s * 1000)) <= 0) return std::nullopt;
  char buf[65536];
  ssize_t n = recv(fd_, buf, sizeof buf, 0);
  if (n < 0) return std::nullopt;
  return std::string(buf, size_t(n));
}

void Zt4Test::SetUp() { ASSERT_TRUE(server.start()) << "cannot start jackd -n " << server_name(); }

void Zt4Test::TearDown() {
  client.close();
  if (zt4) zt4->stop();
  server.stop();
}

void Zt4Test::start_zt4(const std::string& program) {
  zt4.emplace(dir.path(), program);
  ASSERT_TRUE(zt4->start());
  ASSERT_TRUE(zt4->wait_for_output("V3.07\r\n", 30)) << zt4->output() << zt4->errors();
  ASSERT_TRUE(zt4->wait_ready(10)) << zt4->output() << zt4->errors();
  udp_port = zt4->udp_port();
  ASSERT_GT(udp_port, 0) << zt4->output();
}

int run_shell(const std::string& command, std::string& output,
              const std::vector<std::string>& extra_env) {
  int out_pipe[2];
  if (pipe(out_pipe) != 0) return -1;
  const pid_t test = getpid();
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(out_pipe[1], STDOUT_FILENO);
    dup2(out_pipe[1], STDERR_FILENO);
    close(out_pipe[0]);
    close(out_pipe[1]);
    for (const auto& e : extra_env) putenv(strdup(e.c_str()));
    tie_to_test(test);
    execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  close(out_pipe[1]);
  output.clear();
  char buffer[4096];
  for (ssize_t n; (n = read(out_pipe[0], buffer, sizeof buffer)) > 0;)
    output.append(buffer, size_t(n));
  close(out_pipe[0]);
  int status = 0;
  if (pid < 0 || waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

std::string tool_path(const char* name) {
  const std::string path = ZT4_BINARY;
  return path.substr(0, path.rfind('/') + 1) + name;
}

void Zt4Test::open_client() { ASSERT_TRUE(client.open()) << "test client cannot connect"; }

void Zt4Test::pass(uint64_t frames, double timeout_s) {
  const uint64_t until = client.frames_processed() + frames;
  ASSERT_TRUE(wait_until([&] { return client.frames_processed() >= until; }, timeout_s));
}

std::string status_document(UdpPeer& udp) {
  udp.send("<query>status");
  for (int i = 0; i < 20; i++) {
    auto reply = udp.receive(1);
    if (reply && reply->rfind("<status>", 0) == 0) return *reply;
  }
  return "";
}

std::string track_field(const std::string& document, int n, const std::string& field) {
  const size_t block = document.find("<track" + std::to_string(n) + ">");
  if (block == std::string::npos) return "";
  const size_t a = document.find("<" + field + ">", block);
  const size_t b = document.find("</" + field + ">", block);
  if (a == std::string::npos || b == std::string::npos) return "";
  return document.substr(a + field.size() + 2, b - a - field.size() - 2);
}

namespace {

constexpr double full_scale = 16777216.0;  // ±2^24 inside the looper is ±1.0 at the ports
constexpr int gain_dropped_bits = 15;      // gain index 0 clears the four lowest bits

bool piece_follows_loop(const std::vector<int32_t>& heard, size_t from,
                        const std::vector<int32_t>& loop) {
  const size_t n = loop.size();
  for (size_t k = 0; k < n; k++) {
    size_t i = 0;
    while (i < loop_piece_frames &&
           std::abs(heard[from + i] - (loop[(k + i) % n] & ~gain_dropped_bits)) <= 1)
      i++;
    if (i == loop_piece_frames) return true;
  }
  return false;
}

}  // namespace

std::vector<int32_t> left_of(const std::string& track_file) {
  constexpr size_t header_bytes = 512;
  std::vector<int32_t> left;
  for (size_t at = header_bytes; at + 8 <= track_file.size(); at += 8) {
    int32_t s;
    memcpy(&s, track_file.data() + at, 4);
    left.push_back(s);
  }
  return left;
}

LoopCheck check_loop(const std::vector<std::pair<float, float>>& out,
                     const std::vector<int32_t>& loop) {
  std::vector<int32_t> heard(out.size());
  for (size_t i = 0; i < out.size(); i++)
    heard[i] = int32_t(std::lround(out[i].first * full_scale));
  LoopCheck c;
  for (size_t from = 0; from + loop_piece_frames <= heard.size(); from += loop_piece_frames) {
    c.pieces++;
    if (!loop.empty() && piece_follows_loop(heard, from, loop)) c.following++;
  }
  return c;
}

XrunCounter::~XrunCounter() {
  if (client_ != nullptr) jack_client_close(client_);
}

bool XrunCounter::open(const char* client_name) {
  client_ = jack_client_open(client_name, JackNoStartServer, nullptr);
  if (client_ == nullptr) return false;
  jack_set_xrun_callback(client_, on_xrun, this);
  return jack_activate(client_) == 0;
}

int XrunCounter::on_xrun(void* self) {
  static_cast<XrunCounter*>(self)->count_++;
  return 0;
}

}  // namespace zt4test
