// The looper's command line: the data directory, the UDP port and the JACK server, each also
// taken from the environment, the web panel's and the OSC server's addresses, --resume, the
// latency options, plus --help and --version.
// Main thread, before start-up.
#pragma once

#include <cstdio>

#include "engine/listen_ring.h"
#include "host/latency_service.h"
#include "net/network_thread.h"
#include "osc/osc_server.h"
#include "web/web_panel.h"

constexpr int udp_port_max = 65535;

struct CommandLine {
  const char* data_dir = nullptr;               // null: the current directory
  int udp_port = remote_udp_port;               // 0: any free port
  const char* server_name = nullptr;            // null: JACK's default server
  const char* web_listen = web_listen_default;  // null: no web panel
  const char* web_local = nullptr;  // the one peer address the web panel trusts; null: loopback
  const char* osc_listen = osc_listen_default;  // null: no OSC server
  const char* osc_allow[osc_allow_max] = {};    // peers beyond loopback let in without the token
  int osc_allow_count = 0;
  bool resume = false;  // start the tracks that were playing at the last stop
  int capture_seconds = capture_seconds_default;  // input kept for Capture Loop; 0: no capture ring
  LatencyOptions latency;                         // --latency-extra, --no-latency-compensation
  int transport = 0;                              // JACK transport: 0 off, 1 follow, 2 master
  bool transport_force = false;  // master: take the timebase over from another master
};

enum class CommandLineAction {
  run,         // start the looper with the parsed settings
  exit_ok,     // --help or --version was printed
  exit_usage,  // a usage error was printed; exit with status 2
};

constexpr int exit_status_usage = 2;

// Reads options first, then fills what they left from ZT4_DATA, ZT4_PORT and
// JACK_DEFAULT_SERVER. Help and version go to out, errors (one line each) to err.
CommandLineAction parse_command_line(int argc, char** argv, CommandLine& line, FILE* out,
                                     FILE* err);

// The server name to show the user: the one asked for, else JACK's default.
const char* shown_server_name(const CommandLine& line);
