#include "net/network_thread.h"

#include <arpa/inet.h>
#include <pthread.h>
#include <sys/socket.h>
#include <unistd.h>

#include "core/console.h"
#include "midi/midi_map.h"
#include "midi/midi_parser.h"
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

}  // namespace

// Cancellation stays deferred: nothing cancels this thread, and recvfrom is a cancellation point.
void* network_thread(void*) {
  const int s = socket(AF_INET, SOCK_DGRAM, 0);
  if (s < 0) {
    console_printf("socket failed\n");
    remote_set_socket(-1);
    return nullptr;
  }
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_ANY);
  address.sin_port = htons(remote_udp_port);
  if (bind(s, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    console_printf("Bind failed\n");
    close(s);
    remote_set_socket(-1);
    return nullptr;
  }
  remote_set_socket(s);

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

void network_start() {
  midi_set_sysex_handler(host_sysex);
  midi_set_echo_peer(remote_send);
  pthread_t thread;
  if (pthread_create(&thread, nullptr, network_thread, nullptr) == 0) pthread_detach(thread);
}
