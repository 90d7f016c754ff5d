// Entry point of the looper: reads the command line, opens the JACK client, initialises every
// subsystem in order, activates the client and runs the main loop forever.
#include <cstdio>

#include "host/command_line.h"
#include "host/startup.h"

int main(int argc, char** argv) {
  CommandLine line;
  switch (parse_command_line(argc, argv, line, stdout, stderr)) {
    case CommandLineAction::exit_ok:
      return 0;
    case CommandLineAction::exit_usage:
      return exit_status_usage;
    case CommandLineAction::run:
      break;
  }
  startup(line);
  main_loop_run();
}
