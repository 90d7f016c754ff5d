// The UDP control server: one thread that owns the socket on port 5667 (all addresses), reads
// datagrams and hands each to handle_datagram. Started once at start-up, after activation.
#pragma once

constexpr int remote_udp_port = 5667;

// Wires the MIDI side of the host protocol (SysEx messages to host_sysex, the MIDI echo to the
// remote peer) and starts the server thread. Prints "socket failed" or "Bind failed" from the
// thread when the socket cannot be set up; the looper then runs without a remote.
void network_start();

// The server thread's body.
void* network_thread(void*);
