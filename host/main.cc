// Entry point of the looper: reads the command line, opens the JACK client, initialises every
// subsystem in order, activates the client and runs the main loop until SIGTERM or SIGINT, then
// keeps the take in progress, saves what changed and ends with status 0.
#include <unistd.h>

#include <cstdio>

#include "core/console.h"
#include "core/console_output.h"
#include "host/command_line.h"
#include "host/connections.h"
#include "host/jack_host.h"
#include "host/quit.h"
#include "host/startup.h"

int main(int argc, char** argv) {
  CommandLine line;
  switch (parse_command_line(argc, argv, line, stdout, stderr)) {
    case CommandLineAction::exit_ok: return 0;
    case CommandLineAction::exit_usage: return exit_status_usage;
    case CommandLineAction::run: break;
  }
  quit_signals_install();
  console_output_start();
  startup(line);
  quit_signals_accept();
  main_loop_run();

  console_printf("Quitting: saving changed tracks\n");
  quit_save_everything(quit_save_seconds);
  save_connections();  // a change of the last second, before closing the client drops them all
  host_close();
  console_printf("Bye\n");
  console_output_flush(1);
  // Worker threads still run: _exit leaves them and the static objects they use alone.
  _exit(0);
}
