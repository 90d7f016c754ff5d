#include "net/network_thread.h"

#include <arpa/inet.h>
#include <pthread.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

#include "core/console.h"
#include "midi/midi_map.h"
#include "midi/midi_codes.h"
#include "net/datagram.h"
#include "net/host_sysex.h"
#include "net/remote_send.h"

namespace {

struct ReplyTarget {
  int socket;
  sockaddr_in address;
};

// Replies to queries go to the query's sender; send errors are ignored and never block.
void send_to_sender(void* context, const uint8_t* bytes, int length) {
  const ReplyTarget* target = static_cast<const ReplyTarget*>(context);
  (void)sendto(target->socket, bytes, size_t(length), MSG_DONTWAIT,
               reinterpret_cast<const sockaddr*>(&target->address), sizeof target->address);
}

// Why a bind failed, in the user's terms.
void report_bind_failure(int port, int error) {
  console_printf("Bind failed\n");
  if (error == EADDRINUSE) {
    console_printf("UDP port %d is in use (is another looper running?)\n", port);
  } else {
    console_printf("UDP port %d cannot be used: %s\n", port, strerror(error));
  }
}

}  // namespace

// Cancellation stays deferred: nothing cancels this thread, and recvfrom is a cancellation point.
void* network_thread(void* socket) {
  const int s = int(reinterpret_cast<intptr_t>(socket));
  uint8_t buffer[datagram_max];
  for (;;) {
    ReplyTarget from{s, {}};
    socklen_t from_length = sizeof from.address;
    const ssize_t n = recvfrom(s, buffer, sizeof buffer, 0,
                               reinterpret_cast<sockaddr*>(&from.address), &from_length);
    if (n <= 0) continue;  // empty datagrams and interrupted reads
    if (from_length != sizeof from.address || from.address.sin_family != AF_INET) continue;
    handle_datagram(buffer, int(n), from.address, send_to_sender, &from);
  }
}

int network_start(int port) {
  const int s = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (s < 0) {
    console_printf("socket failed\n");
    remote_set_socket(-1);
    return -1;
  }
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_ANY);
  address.sin_port = htons(uint16_t(port));
  if (bind(s, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    const int error = errno;
    close(s);
    remote_set_socket(-1);
    report_bind_failure(port, error);
    return -1;
  }
  socklen_t length = sizeof address;
  getsockname(s, reinterpret_cast<sockaddr*>(&address), &length);
  remote_set_socket(s);

  pthread_t thread;
  if (pthread_create(&thread, nullptr, network_thread, reinterpret_cast<void*>(intptr_t(s))) != 0) {
    console_printf("cannot start the network thread\n");
    remote_set_socket(-1);
    close(s);
    return -1;
  }
  pthread_detach(thread);
  return ntohs(address.sin_port);
}
