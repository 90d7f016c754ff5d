#include "host/command_line.h"

#include <getopt.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "core/constants.h"
#include "engine/latency.h"

namespace {

constexpr char help_text[] =
    "usage: zt4 [OPTION]...\n"
    "The control program of an eight-track audio looper: the JACK client \"ZT4\" with the ports\n"
    "INL, INR, OUTL, OUTR, MIDIIN and MIDIOUT, remote-controlled over UDP (see zt4-remote).\n"
    "\n"
    "  -d, --data-dir DIR   keep the configuration (.zt4.config.1), the port connections\n"
    "                       (.zt4.connections), the mixer (.zt4.mixer) and the tracks in\n"
    "                       DIR, created if missing (default: $ZT4_DATA, else the current\n"
    "                       directory); one looper at a time uses a directory\n"
    "  -p, --port PORT      listen for the remote control on UDP port PORT, 0 for any free\n"
    "                       port, shown once the looper is ready (default: $ZT4_PORT, else 5667)\n"
    "  -s, --server NAME    use the JACK server NAME (default: $JACK_DEFAULT_SERVER, else\n"
    "                       JACK's default server)\n"
    "  -w, --web ADDR:PORT  serve the web panel on ADDR:PORT, port 0 for any free port, 'off'\n"
    "                       for none (default: 127.0.0.1:8080, this machine only); beyond\n"
    "                       loopback every page needs the token in .zt4.web-token\n"
    "      --web-local ADDR the one peer address the web panel lets in without the token\n"
    "                       (default: any loopback address)\n"
    "      --osc ADDR:PORT  take OSC messages on UDP ADDR:PORT, port 0 for any free port, 'off'\n"
    "                       for none (default: 127.0.0.1:9951, this machine only); beyond\n"
    "                       loopback a peer first sends /zt4/hello with the web panel's token\n"
    "      --osc-allow ADDR a peer address OSC lets in without the token (up to 8 times)\n"
    "      --resume         start the tracks that were playing when the looper last stopped\n"
    "                       (the main menu's Resume Playing does so at every start; by\n"
    "                       default loaded tracks come back stopped)\n"
    "      --capture-seconds N  keep the last N seconds of input (0-600, default 60) for\n"
    "                       Capture Loop; 0 keeps none and leaves its blocks to the tracks\n"
    "      --latency-extra FRAMES\n"
    "                       the round trip beyond what JACK reports, -16000 to 16000 frames\n"
    "                       (default: as measured last, kept in .zt4.latency, else 0)\n"
    "      --no-latency-compensation\n"
    "                       record the input where the loop plays as it arrives, without\n"
    "                       moving it back by the round trip to the player and back\n"
    "      --transport MODE the JACK transport: 'off' (the default), 'follow' (a timebase\n"
    "                       master's tempo, bars and beats clock the looper as MIDI clock\n"
    "                       does; its start and stop start and stop the measure count),\n"
    "                       'master' (the looper becomes timebase master unless another\n"
    "                       program is: the drums' tempo and 4 beats per bar, rolled and\n"
    "                       stopped by Drums Start and Drums Stop) or 'master-force' (takes\n"
    "                       the timebase over); function 135 Transport Mode changes it while\n"
    "                       the looper runs (0 off, 1 follow, 2 master), for that run only\n"
    "  -h, --help           print this help and exit\n"
    "  -V, --version        print the version and exit\n"
    "\n"
    "A JACK server must be running (scripts/run starts one when none is). Console keys while\n"
    "the looper runs: s statistics, m MIDI statistics; Ctrl-C quits. Exit status: 0 after\n"
    "--help or --version, 1 when start-up fails, 2 for a wrong command line.\n";

constexpr char short_options[] = "+:hVd:p:s:w:";
constexpr int option_web_local = 256;
constexpr int option_resume = 257;
constexpr int option_osc = 258;
constexpr int option_osc_allow = 259;
constexpr int option_capture_seconds = 260;
constexpr int option_latency_extra = 261;
constexpr int option_no_latency_compensation = 262;
constexpr int option_transport = 263;
constexpr option long_options[] = {
    {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, 'V'},
    {"data-dir", required_argument, nullptr, 'd'},
    {"port", required_argument, nullptr, 'p'},
    {"server", required_argument, nullptr, 's'},
    {"web", required_argument, nullptr, 'w'},
    {"web-local", required_argument, nullptr, option_web_local},
    {"resume", no_argument, nullptr, option_resume},
    {"osc", required_argument, nullptr, option_osc},
    {"osc-allow", required_argument, nullptr, option_osc_allow},
    {"capture-seconds", required_argument, nullptr, option_capture_seconds},
    {"latency-extra", required_argument, nullptr, option_latency_extra},
    {"no-latency-compensation", no_argument, nullptr, option_no_latency_compensation},
    {"transport", required_argument, nullptr, option_transport},
    {nullptr, 0, nullptr, 0},
};

// A port number 0-65535 written in decimal and nothing else.
bool parse_port(const char* text, int& port) {
  if (text == nullptr || *text < '0' || *text > '9') return false;
  errno = 0;
  char* end = nullptr;
  const long value = strtol(text, &end, 10);
  if (errno != 0 || *end != '\0' || value > udp_port_max) return false;
  port = int(value);
  return true;
}

// The option getopt_long just refused, as the user wrote it: "--port" or "-p".
void print_option_name(FILE* err, char** argv) {
  const char* written = argv[optind - 1];
  if (strncmp(written, "--", 2) != 0) {
    fprintf(err, "-%c", optopt);
    return;
  }
  const char* equals = strchr(written, '=');
  fprintf(err, "%.*s", equals != nullptr ? int(equals - written) : int(strlen(written)), written);
}

const char* environment(const char* name) {
  const char* value = getenv(name);
  return value != nullptr && *value != '\0' ? value : nullptr;
}

}  // namespace

CommandLineAction parse_command_line(int argc, char** argv, CommandLine& line, FILE* out,
                                     FILE* err) {
  line = CommandLine{};
  const char* port_text = nullptr;
  int listen_port = 0;
  optind = 0;  // a full rescan, also when called again (tests)
  opterr = 0;  // the messages below replace getopt's own
  for (;;) {
    const int c = getopt_long(argc, argv, short_options, long_options, nullptr);
    if (c == -1) break;
    switch (c) {
      case 'h': fputs(help_text, out); return CommandLineAction::exit_ok;
      case 'V': fprintf(out, "ZT4 Version %s\n", zt4_version); return CommandLineAction::exit_ok;
      case 'd': line.data_dir = optarg; break;
      case 'p':
        port_text = optarg;
        if (!parse_port(optarg, line.udp_port)) {
          fprintf(err, "zt4: the UDP port is a number from 0 to %d, not '%s'\n", udp_port_max,
                  optarg);
          return CommandLineAction::exit_usage;
        }
        break;
      case 's': line.server_name = optarg; break;
      case 'w':
        if (strcmp(optarg, "off") == 0) {
          line.web_listen = nullptr;
        } else if (const char* colon = strrchr(optarg, ':');
                   colon == nullptr || colon == optarg || !parse_port(colon + 1, listen_port)) {
          fprintf(err, "zt4: the web panel's address is ADDRESS:PORT or off, not '%s'\n", optarg);
          return CommandLineAction::exit_usage;
        } else {
          line.web_listen = optarg;
        }
        break;
      case option_web_local: line.web_local = optarg; break;
      case option_osc:
        if (strcmp(optarg, "off") == 0) {
          line.osc_listen = nullptr;
        } else if (const char* colon = strrchr(optarg, ':');
                   colon == nullptr || colon == optarg || !parse_port(colon + 1, listen_port)) {
          fprintf(err, "zt4: the OSC address is ADDRESS:PORT or off, not '%s'\n", optarg);
          return CommandLineAction::exit_usage;
        } else {
          line.osc_listen = optarg;
        }
        break;
      case option_osc_allow:
        if (line.osc_allow_count == osc_allow_max) {
          fprintf(err, "zt4: --osc-allow names %d addresses at most\n", osc_allow_max);
          return CommandLineAction::exit_usage;
        }
        line.osc_allow[line.osc_allow_count++] = optarg;
        break;
      case option_resume: line.resume = true; break;
      case option_capture_seconds: {
        errno = 0;
        char* end = nullptr;
        const long seconds = strtol(optarg, &end, 10);
        if (optarg[0] < '0' || optarg[0] > '9' || errno != 0 || *end != '\0' ||
            seconds > capture_seconds_max) {
          fprintf(err, "zt4: the capture ring holds 0 to %d seconds, not '%s'\n",
                  int(capture_seconds_max), optarg);
          return CommandLineAction::exit_usage;
        }
        line.capture_seconds = int(seconds);
        break;
      }
      case option_latency_extra: {
        errno = 0;
        char* end = nullptr;
        const long frames = strtol(optarg, &end, 10);
        if (end == optarg || *end != '\0' || errno != 0 || frames < -max_compensation_frames ||
            frames > max_compensation_frames) {
          fprintf(err, "zt4: the latency extra is a number of frames from %d to %d, not '%s'\n",
                  -max_compensation_frames, max_compensation_frames, optarg);
          return CommandLineAction::exit_usage;
        }
        line.latency.has_extra = true;
        line.latency.extra = int32_t(frames);
        break;
      }
      case option_no_latency_compensation: line.latency.compensation = false; break;
      case option_transport:
        if (strcmp(optarg, "off") == 0) {
          line.transport = 0;
        } else if (strcmp(optarg, "follow") == 0) {
          line.transport = 1;
        } else if (strcmp(optarg, "master") == 0 || strcmp(optarg, "master-force") == 0) {
          line.transport = 2;
          line.transport_force = optarg[6] != '\0';
        } else {
          fprintf(err, "zt4: the transport mode is off, follow, master or master-force, not '%s'\n",
                  optarg);
          return CommandLineAction::exit_usage;
        }
        break;
      case ':':
        fputs("zt4: option '", err);
        print_option_name(err, argv);
        fputs("' needs a value; zt4 --help lists the options\n", err);
        return CommandLineAction::exit_usage;
      default:
        fputs("zt4: unknown option '", err);
        print_option_name(err, argv);
        fputs("'; zt4 --help lists the options\n", err);
        return CommandLineAction::exit_usage;
    }
  }
  if (optind < argc) {
    fprintf(err, "zt4: unexpected argument '%s'; zt4 --help lists the options\n", argv[optind]);
    return CommandLineAction::exit_usage;
  }

  if (line.data_dir == nullptr) line.data_dir = environment("ZT4_DATA");
  if (line.data_dir != nullptr && *line.data_dir == '\0') {
    fputs("zt4: the data directory name is empty\n", err);
    return CommandLineAction::exit_usage;
  }
  if (port_text == nullptr) {
    const char* from_environment = environment("ZT4_PORT");
    if (from_environment != nullptr && !parse_port(from_environment, line.udp_port)) {
      fprintf(err, "zt4: ZT4_PORT is a number from 0 to %d, not '%s'\n", udp_port_max,
              from_environment);
      return CommandLineAction::exit_usage;
    }
  }
  if (line.server_name != nullptr && *line.server_name == '\0') line.server_name = nullptr;
  return CommandLineAction::run;
}

const char* shown_server_name(const CommandLine& line) {
  if (line.server_name != nullptr) return line.server_name;
  const char* from_environment = environment("JACK_DEFAULT_SERVER");
  return from_environment != nullptr ? from_environment : "default";
}
