#include "host/connections.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "core/atomic_file.h"
#include "core/console.h"
#include "host/jack_host.h"

PortConnections port_connections;

namespace {
constexpr const char* midi_type = JACK_DEFAULT_MIDI_TYPE;  // "8 bit raw midi"
constexpr int connections_line_max = 1000;                 // lines of at most 998 characters

constexpr char client_name[] = "ZT4";
constexpr int client_name_length = 3;
constexpr char first_line[] = "Connections:\n";
constexpr char port_prefix[] = "  ";    // a port line: two spaces, then "ZT4:PORT"
constexpr char peer_prefix[] = "    ";  // a peer line: four spaces, then the peer's full name
constexpr int port_prefix_length = 2;
constexpr int peer_prefix_length = 4;

// The connections file names the looper's own ports "ZT4:PORT"; a looper that JACK gave another
// name (a second one on the server is "ZT4-01") connects its own ports of that name.
void own_port_name(const char* written, char* name, size_t size) {
  const char* client = host.client != nullptr ? jack_get_client_name(host.client) : client_name;
  snprintf(name, size, "%s%s", client, written + client_name_length);
}

void connect_peer(const char* own_written, const char* peer) {
  const bool own_is_input = strcmp(own_written, "ZT4:INR") == 0 ||
                            strcmp(own_written, "ZT4:INL") == 0 ||
                            strcmp(own_written, "ZT4:MIDIIN") == 0;
  char own[connections_line_max];
  own_port_name(own_written, own, sizeof own);
  int r;
  if (own_is_input) {
    console_printf("Connect %s to %s\n", peer, own);
    r = jack_connect(host.client, peer, own);
  } else {
    console_printf("Connect %s to %s\n", own, peer);
    r = jack_connect(host.client, own, peer);
  }
  if (r != 0) console_printf("jack_connect == %d\n", r);
}

void strip_newline(char* line) {
  // A last line without its newline keeps all its characters.
  size_t n = strlen(line);
  if (n > 0 && line[n - 1] == '\n') line[n - 1] = '\0';
}

// A port already connected (from the connections file, or queued and listed both at the first
// tick) is left as it is, without a second line.
void connect_midi_port(const char* name, int flags) {
  if (flags & JackPortIsInput) {
    if (jack_port_connected_to(host.port_midi_out, name)) return;
    const char* own = jack_port_name(host.port_midi_out);
    console_printf("Connect %s to %s\n", own, name);
    jack_connect(host.client, own, name);
  } else if (flags & JackPortIsOutput) {
    if (jack_port_connected_to(host.port_midi_in, name)) return;
    const char* own = jack_port_name(host.port_midi_in);
    console_printf("Connect %s to %s\n", name, own);
    jack_connect(host.client, name, own);
  }
}

// Every (own port as written, peer) pair of an open connections file after its first line.
template <typename Visit>
void for_each_saved_connection(FILE* f, Visit visit) {
  char line[connections_line_max];
  char own[connections_line_max];
  bool have_own = false;
  while (fgets(line, sizeof line, f) != nullptr) {
    if (strncmp(line, "  ZT4:", 6) == 0) {
      strip_newline(line);
      snprintf(own, sizeof own, "%s", line + port_prefix_length);
      have_own = true;
    } else if (strncmp(line, peer_prefix, peer_prefix_length) == 0 && have_own) {
      strip_newline(line);
      visit(own, line + peer_prefix_length);
    }
  }
}

// The saved pairs whose peer port does not exist now (a device unplugged, a program not yet
// started): kept in the file until the port comes back, so that a save loses none of them.
std::string absent_peers_of_saved_file(const char* own_written) {
  std::string kept;
  FILE* f = fopen(connections_file_name, "r");
  if (f == nullptr) return kept;
  char line[connections_line_max];
  if (fgets(line, sizeof line, f) != nullptr && strcmp(line, first_line) == 0) {
    for_each_saved_connection(f, [&](const char* own, const char* peer) {
      if (strcmp(own, own_written) != 0 || jack_port_by_name(host.client, peer) != nullptr) return;
      kept += peer_prefix;
      kept += peer;
      kept += '\n';
    });
  }
  fclose(f);
  return kept;
}

// The whole file as it stands now, or "" when it cannot be read.
std::string saved_file_text() {
  std::string text;
  FILE* f = fopen(connections_file_name, "r");
  if (f == nullptr) return text;
  char chunk[connections_line_max];
  size_t n;
  while ((n = fread(chunk, 1, sizeof chunk, f)) > 0) text.append(chunk, n);
  fclose(f);
  return text;
}

}  // namespace

bool looper_port_name(const char* name) {
  if (strncmp(name, client_name, client_name_length) != 0) return false;
  const char* p = name + client_name_length;
  if (*p == '-') {  // the suffix JACK adds to a name already taken: "ZT4-01"
    ++p;
    if (*p < '0' || *p > '9') return false;
    while (*p >= '0' && *p <= '9') ++p;
  }
  return *p == ':';
}

void port_connections_reset() {
  PortConnections& pc = port_connections;
  pc.fifo_head = 0;
  pc.fifo_tail = 0;
  pc.midi_connect_all = 1;
  pc.graph_changed = 0;
  pc.save_waiting = 0;
  pc.save_error = 0;
}

void read_connections() {
  FILE* f = fopen(connections_file_name, "r");
  if (f == nullptr) {
    if (errno == ENOENT) {
      console_printf("No saved port connections yet: they are kept in %s from now on\n",
                     connections_file_name);
    } else {
      console_printf("Couldn't open connections file.\n");
    }
    return;
  }
  char line[connections_line_max];
  if (fgets(line, sizeof line, f) == nullptr) {
    console_printf("Couldn't read from connections file.\n");
    fclose(f);
    return;
  }
  if (strcmp(line, first_line) != 0) {
    console_printf("Connections file lacks first line\n");
    fclose(f);
    return;
  }
  for_each_saved_connection(f, connect_peer);
  fclose(f);
}

std::string connections_text() {
  std::string text = first_line;
  if (host.client == nullptr) return text;
  jack_port_t* const own_ports[] = {host.port_in_l,  host.port_in_r,    host.port_out_l,
                                    host.port_out_r, host.port_midi_in, host.port_midi_out};
  for (jack_port_t* port : own_ports) {
    if (port == nullptr) continue;
    const std::string own_written = std::string(client_name) + ":" + jack_port_short_name(port);
    std::string peers = absent_peers_of_saved_file(own_written.c_str());
    const char** connected = jack_port_get_all_connections(host.client, port);
    for (int i = 0; connected != nullptr && connected[i] != nullptr; ++i) {
      peers += peer_prefix;
      peers += connected[i];
      peers += '\n';
    }
    if (connected != nullptr) jack_free(connected);
    if (peers.empty()) continue;
    text += port_prefix + own_written + "\n" + peers;
  }
  return text;
}

void save_connections() {
  PortConnections& pc = port_connections;
  const std::string text = connections_text();
  const std::string saved = saved_file_text();
  // Nothing connected and nothing saved: no file of a header alone.
  if (text == saved || (text == first_line && saved.empty())) return;
  // A file the looper refused at start-up is kept aside, not lost to the save.
  if (!saved.empty() && saved.rfind(first_line, 0) != 0 &&
      rename(connections_file_name, connections_refused_file_name) == 0) {
    console_printf("The refused connections file is kept as %s\n", connections_refused_file_name);
  }
  const int error =
      write_file_atomically(connections_file_name, text.data(), int(text.size())) == 0 ? 0 : errno;
  if (error != 0 && error != pc.save_error) {
    console_printf("Cannot save the port connections in %s: %s; the next change tries again\n",
                   connections_file_name, strerror(error));
  }
  pc.save_error = error;
}

void connections_second_service() {
  PortConnections& pc = port_connections;
  // A second without a change first: connecting a rig makes many changes in a row.
  if (pc.graph_changed.exchange(0) != 0) {
    pc.save_waiting = 1;
    return;
  }
  if (pc.save_waiting == 0) return;
  pc.save_waiting = 0;
  save_connections();
}

bool registration_fifo_push(PortConnections& pc, jack_port_id_t id) {
  uint32_t head = pc.fifo_head.load(std::memory_order_relaxed);
  uint32_t next = (head + 1) % registration_fifo_slots;
  if (next == pc.fifo_tail.load(std::memory_order_acquire)) {
    console_printf("FIFO full\n");
    return false;
  }
  pc.fifo[head] = id;
  pc.fifo_head.store(next, std::memory_order_release);
  return true;
}

bool registration_fifo_pop(PortConnections& pc, jack_port_id_t& id) {
  uint32_t tail = pc.fifo_tail.load(std::memory_order_relaxed);
  if (tail == pc.fifo_head.load(std::memory_order_acquire)) return false;
  id = pc.fifo[tail];
  pc.fifo_tail.store((tail + 1) % registration_fifo_slots, std::memory_order_release);
  return true;
}

void port_registration_callback(jack_port_id_t port_id, int registered, void*) {
  if (!registered || host.client == nullptr) return;
  jack_port_t* port = jack_port_by_id(host.client, port_id);
  if (port == nullptr) return;
  const char* type = jack_port_type(port);
  if (type == nullptr || strcmp(type, midi_type) != 0 || looper_port_name(jack_port_name(port)))
    return;
  registration_fifo_push(port_connections, port_id);
}

// JACK's notification thread: only notes the change; the main loop saves it.
void port_connect_callback(jack_port_id_t, jack_port_id_t, int, void*) {
  port_connections.graph_changed.store(1, std::memory_order_release);
}

void midi_autoconnect() {
  PortConnections& pc = port_connections;
  if (host.client == nullptr) return;
  jack_port_id_t id;
  while (registration_fifo_pop(pc, id)) {
    jack_port_t* port = jack_port_by_id(host.client, id);
    if (port == nullptr) continue;
    connect_midi_port(jack_port_name(port), jack_port_flags(port));
  }
  if (pc.midi_connect_all) {
    const char** inputs = jack_get_ports(host.client, nullptr, midi_type, JackPortIsInput);
    const char** outputs = jack_get_ports(host.client, nullptr, midi_type, JackPortIsOutput);
    for (int i = 0; inputs != nullptr && inputs[i] != nullptr; ++i)
      if (!looper_port_name(inputs[i])) connect_midi_port(inputs[i], JackPortIsInput);
    for (int i = 0; outputs != nullptr && outputs[i] != nullptr; ++i)
      if (!looper_port_name(outputs[i])) connect_midi_port(outputs[i], JackPortIsOutput);
    if (inputs != nullptr) jack_free(inputs);
    if (outputs != nullptr) jack_free(outputs);
  }
  pc.midi_connect_all = 0;
}
