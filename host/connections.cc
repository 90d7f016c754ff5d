#include "host/connections.h"

#include <cstdio>
#include <cstring>

#include "core/console.h"
#include "host/jack_host.h"

PortConnections port_connections;

namespace {
constexpr const char* midi_type = JACK_DEFAULT_MIDI_TYPE;  // "8 bit raw midi"
constexpr int connections_line_max = 1000;                 // lines of at most 998 characters

constexpr char client_name[] = "ZT4";
constexpr int client_name_length = 3;

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

void connect_midi_port(const char* name, int flags) {
  if (flags & JackPortIsInput) {
    const char* own = jack_port_name(host.port_midi_out);
    console_printf("Connect %s to %s\n", own, name);
    jack_connect(host.client, own, name);
  } else if (flags & JackPortIsOutput) {
    const char* own = jack_port_name(host.port_midi_in);
    console_printf("Connect %s to %s\n", name, own);
    jack_connect(host.client, name, own);
  }
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
}

void read_connections() {
  FILE* f = fopen(".zt4.connections", "r");
  if (f == nullptr) {
    console_printf("Couldn't open connections file.\n");
    return;
  }
  char line[connections_line_max];
  if (fgets(line, sizeof line, f) == nullptr) {
    console_printf("Couldn't read from connections file.\n");
    fclose(f);
    return;
  }
  if (strcmp(line, "Connections:\n") != 0) {
    console_printf("Connections file lacks first line");
    fclose(f);
    return;
  }
  char own[connections_line_max];
  bool have_own = false;
  while (fgets(line, sizeof line, f) != nullptr) {
    if (strncmp(line, "  ZT4:", 6) == 0) {
      strip_newline(line);
      snprintf(own, sizeof own, "%s", line + 2);
      have_own = true;
    } else if (strncmp(line, "    ", 4) == 0 && have_own) {
      strip_newline(line);
      connect_peer(own, line + 4);
    }
  }
  fclose(f);
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
  if (type == nullptr || strcmp(type, midi_type) != 0 || looper_port_name(jack_port_name(port))) return;
  registration_fifo_push(port_connections, port_id);
}

void port_connect_callback(jack_port_id_t, jack_port_id_t, int, void*) {}

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
