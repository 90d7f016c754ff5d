// The UDP control server: one thread that owns the socket on the remote-control port (all
// addresses), reads datagrams and hands each to handle_datagram. The socket is bound at
// start-up, after activation, on the main thread; the thread then serves it forever.
#pragma once

constexpr int remote_udp_port = 5667;  // the port when none is chosen

// Wires the MIDI side of the host protocol (SysEx messages to host_sysex, the MIDI echo to the
// remote peer), binds the socket to port (0: any free port) and starts the server thread.
// Returns the bound port. When the socket cannot be set up it prints "socket failed" or
// "Bind failed" and the reason, and returns -1: the looper then runs without a remote.
int network_start(int port);

// The server thread's body; its argument is the bound socket.
void* network_thread(void* socket);
