// Port connections: the saved ".zt4.connections" file replayed at start-up and kept up to date
// as connections change, and automatic connection of every raw-MIDI port in the system to
// ZT4:MIDIIN / ZT4:MIDIOUT. The registration and connection callbacks run in a JACK thread;
// everything else on the main thread.
#pragma once

#include <jack/jack.h>

#include <atomic>
#include <cstdint>
#include <string>

constexpr char connections_file_name[] = ".zt4.connections";
constexpr char connections_refused_file_name[] = ".zt4.connections.bad";

constexpr int registration_fifo_slots = 64;  // at most 63 ports wait at a time

struct PortConnections {
  // Single-producer (JACK registration thread) / single-consumer (idle tick) ring of port ids.
  jack_port_id_t fifo[registration_fifo_slots] = {};
  std::atomic<uint32_t> fifo_head{0};  // next slot to write
  std::atomic<uint32_t> fifo_tail{0};  // next slot to read
  std::atomic<int32_t> midi_connect_all{1};
  std::atomic<int32_t> graph_changed{0};  // set by the connection callback, taken by the main loop
  int32_t save_waiting = 0;               // a change waits for a quiet second to be saved
  int32_t save_error = 0;                 // errno of the last failed save, 0 after a success
};

extern PortConnections port_connections;

void port_connections_reset();

// Replays ".zt4.connections" from the working directory.
void read_connections();

// The connections file for the graph as it is now: each of the looper's ports that has peers,
// named "ZT4:PORT" whatever name JACK gave the client, with its peers; saved pairs whose peer
// port is absent now are kept.
std::string connections_text();
// Writes connections_text() over the file (whole-file replacement) when it differs; a file without
// the first line is first kept as connections_refused_file_name. A failure is printed once per
// cause.
void save_connections();
// Main loop, once a second: saves the connections once a second passed without a change.
void connections_second_service();

// Queues one port id; prints "FIFO full" and drops it when 63 already wait. Returns success.
bool registration_fifo_push(PortConnections& pc, jack_port_id_t id);
// Takes the oldest queued id; false when empty.
bool registration_fifo_pop(PortConnections& pc, jack_port_id_t& id);

// True for a port of a looper: this one ("ZT4:") or another instance on the same server
// ("ZT4-01:"). Raw-MIDI auto-connection leaves them alone.
bool looper_port_name(const char* name);

void port_registration_callback(jack_port_id_t port_id, int registered, void* arg);
void port_connect_callback(jack_port_id_t a, jack_port_id_t b, int connect, void* arg);

// First call of every idle tick: connects queued ports, and on the first tick every raw-MIDI port.
void midi_autoconnect();
