// Entry point of the looper: opens the JACK client, initialises every subsystem in order,
// activates the client and runs the main loop forever.
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "host/startup.h"

int main() {
  startup();
  main_loop_run();
}
