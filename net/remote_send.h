// The reply path to the remote program: the peer record (the UDP socket and the sender of the
// most recent datagram) and remote_send. The network thread records peers; any thread sends.
#pragma once

#include <netinet/in.h>
#include <pthread.h>

#include <cstdint>

struct RemotePeer {
  pthread_mutex_t peer_mutex = PTHREAD_MUTEX_INITIALIZER;  // held only while copying the fields
  int socket = -1;                // the UDP socket, -1 while the server is not running
  sockaddr_in peer_address = {};  // sender of the most recent datagram
  int peer_known = 0;             // 0 until the first datagram, then 1
};

extern RemotePeer remote_peer;

// Sends the bytes to the most recent peer with one datagram; nothing when no peer is known or
// the server has no socket. Never blocks: a datagram the socket cannot take now is dropped.
void remote_send(const uint8_t* bytes, int length);

// A host SysEx reply: to the remote peer (when known) and to the MIDI output queue.
void host_reply(const uint8_t* bytes, int length);

// Network thread: the socket the server owns (-1 when it failed).
void remote_set_socket(int socket);
// Network thread: remembers the sender of a datagram as the peer.
void remote_record_peer(const sockaddr_in& address);

// Tests: no socket, no peer.
void remote_peer_reset();
