#include "net/upgrade.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <pthread.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstdlib>

#include "core/console.h"
#include "net/tftp.h"
#include "net/upgrade_signature.h"

Upgrade upgrade;
uint8_t upgrade_buffer[upgrade_buffer_size];

namespace {

constexpr int error_too_small = 1;
constexpr int error_cannot_write = 5;
constexpr int receive_timeout_seconds = 1;

// Writes the archive without following a link at the path, readable by its owner only.
bool write_archive(const char* path, const uint8_t* data, int32_t size) {
  const int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  int32_t done = 0;
  while (done < size) {
    const ssize_t n = write(fd, data + done, size_t(size - done));
    if (n <= 0) {
      close(fd);
      return false;
    }
    done += int32_t(n);
  }
  return close(fd) == 0;
}

void* upgrade_thread(void*) {
  Upgrade& u = upgrade;
  if (upgrade_fetch(u.request_size, u.request_host)) {
    upgrade_verify_install(upgrade_buffer, u.upgrade_expected);
  }
  upgrade_release_buffer();
  return nullptr;
}

int open_fetch_socket(const sockaddr_in& host) {
  const int s = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (s < 0) {
    console_printf("Couldn't create upgrade socket.\n");
    return -1;
  }
  timeval timeout = {receive_timeout_seconds, 0};
  setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  sockaddr_in local = {};
  local.sin_family = AF_INET;
  local.sin_addr.s_addr = htonl(INADDR_ANY);
  local.sin_port = htons(upgrade.local_port);
  if (bind(s, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
    console_printf("Bind failed\n");
    close(s);
    return -1;
  }
  // Connected, the socket receives datagrams from the announcing host's address and port only.
  if (connect(s, reinterpret_cast<const sockaddr*>(&host), sizeof host) != 0) {
    console_printf("Upgrade connect failed\n");
    close(s);
    return -1;
  }
  return s;
}

bool same_peer(const sockaddr_in& a, const sockaddr_in& b) {
  return a.sin_family == b.sin_family && a.sin_port == b.sin_port &&
         a.sin_addr.s_addr == b.sin_addr.s_addr;
}

}  // namespace

int32_t board_write_firmware_image(const uint8_t*, int32_t) { return -1; }

void upgrade_reset() {
  Upgrade& u = upgrade;
  u.busy = false;
  u.upgrade_expected = 0;
  u.upgrade_received = 0;
  u.sysex_collected = 0;
  u.request_size = 0;
  u.request_host = {};
  u.local_port = upgrade_tftp_port;
  u.image_path = upgrade_image_path;
  u.install_command = upgrade_install_command;
  u.hooks = UpgradeHooks{board_write_firmware_image, nullptr};
  u.key = upgrade_builtin_key;
}

bool upgrade_key_given() {
  if (upgrade.key != nullptr) return true;
  console_printf("Upgrade refused: this build has no upgrade key\n");
  return false;
}

bool upgrade_take_buffer() {
  bool expected = false;
  return upgrade.busy.compare_exchange_strong(expected, true, std::memory_order_acquire);
}

void upgrade_release_buffer() { upgrade.busy.store(false, std::memory_order_release); }

void upgrade_request(int32_t size, const sockaddr_in& host) {
  Upgrade& u = upgrade;
  if (!upgrade_key_given()) return;
  if (!upgrade_take_buffer()) {
    console_printf("Upgrade refused: another upgrade is running\n");
    return;
  }
  u.sysex_collected = 0;  // the fetch overwrites whatever a SysEx upgrade had collected
  u.request_size = size;
  u.request_host = host;
  pthread_t thread;
  if (pthread_create(&thread, nullptr, upgrade_thread, nullptr) != 0) {
    console_printf("Couldn't start upgrade thread.\n");
    upgrade_release_buffer();
    return;
  }
  pthread_detach(thread);
}

bool upgrade_fetch(int32_t size, const sockaddr_in& host) {
  Upgrade& u = upgrade;
  const int s = open_fetch_socket(host);
  if (s < 0) return false;
  uint8_t request[tftp_read_request_length];
  tftp_read_request(request);
  (void)send(s, request, sizeof request, 0);

  TftpReceive r{upgrade_buffer, upgrade_buffer_size, size, 0, 0};
  u.upgrade_expected = size;
  u.upgrade_received = 0;
  uint8_t packet[tftp_datagram_max];
  while (r.received < r.expected) {
    sockaddr_in from = {};
    socklen_t from_length = sizeof from;
    const ssize_t n =
        recvfrom(s, packet, sizeof packet, 0, reinterpret_cast<sockaddr*>(&from), &from_length);
    if (n < 0) break;  // an error, or a second without data
    if (from_length != sizeof from || !same_peer(from, host)) continue;
    uint8_t ack[tftp_ack_length];
    const TftpStep step = tftp_receive(r, packet, int(n), ack);
    if (step == TftpStep::end) break;
    if (step == TftpStep::acknowledge) (void)send(s, ack, sizeof ack, 0);
    u.upgrade_received = r.received;
  }
  close(s);
  if (r.received < r.expected) {
    console_printf("Upgrade fetch ended after %d of %d bytes\n", int(r.received), int(size));
    return false;
  }
  return true;
}

int upgrade_verify_install(const uint8_t* image, int32_t size) {
  console_printf("process upgrade %d\n", int(size));
  if (size < upgrade_size_min) {
    console_printf("Upgrade error %d\n", error_too_small);
    return error_too_small;
  }
  const int check = upgrade.key != nullptr ? upgrade_check_signature(*upgrade.key, image, size)
                                           : upgrade_error_key;
  if (check != upgrade_signature_ok) {
    console_printf("Upgrade error %d\n", check);
    return check;
  }
  console_printf("Upgrade valid.\n");
  if (!write_archive(upgrade.image_path, image, size - upgrade_signature_length)) {
    console_printf("Upgrade error %d.\n", error_cannot_write);
    return error_cannot_write;
  }
  (void)system(upgrade.install_command);
  return 0;
}
