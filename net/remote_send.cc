#include "net/remote_send.h"

#include <sys/socket.h>

#include "midi/midi_queue.h"

RemotePeer remote_peer;

void remote_send(const uint8_t* bytes, int length) {
  RemotePeer& r = remote_peer;
  pthread_mutex_lock(&r.peer_mutex);
  const int socket = r.socket;
  const sockaddr_in address = r.peer_address;
  const int known = r.peer_known;
  pthread_mutex_unlock(&r.peer_mutex);
  if (!known || socket < 0 || length <= 0) return;
  // Send errors are ignored: the remote program asks again.
  (void)sendto(socket, bytes, size_t(length), MSG_DONTWAIT,
               reinterpret_cast<const sockaddr*>(&address), sizeof address);
}

void host_reply(const uint8_t* bytes, int length) {
  remote_send(bytes, length);
  midi_enqueue(bytes, length);
}

void remote_set_socket(int socket) {
  RemotePeer& r = remote_peer;
  pthread_mutex_lock(&r.peer_mutex);
  r.socket = socket;
  pthread_mutex_unlock(&r.peer_mutex);
}

void remote_record_peer(const sockaddr_in& address) {
  RemotePeer& r = remote_peer;
  pthread_mutex_lock(&r.peer_mutex);
  r.peer_address = address;
  r.peer_known = 1;
  pthread_mutex_unlock(&r.peer_mutex);
}

void remote_peer_reset() {
  RemotePeer& r = remote_peer;
  pthread_mutex_lock(&r.peer_mutex);
  r.socket = -1;
  r.peer_address = {};
  r.peer_known = 0;
  pthread_mutex_unlock(&r.peer_mutex);
}
