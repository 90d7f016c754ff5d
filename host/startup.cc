#include "host/startup.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "console/console.h"
#include "engine/track.h"
#include "host/connections.h"
#include "host/jack_host.h"
#include "pool/pool.h"

void startup() {
  host_open();
  main_loop.idle_enabled = 0;

  pool_init();
  tracks_reset();

  main_loop.idle_enabled = 1;
  if (jack_activate(host.client) != 0) {
    fprintf(stderr, "cannot activate client");
    exit(1);
  }
  read_connections();

  const int flags = fcntl(STDIN_FILENO, F_GETFL);
  if (flags != -1) fcntl(STDIN_FILENO, F_SETFL, flags | O_NONBLOCK);

  console_printf("wet_only: %d\n", 0);
  console_printf("mono_input_mode: %d\n", 0);
  console_printf("primary_gain: %d\n", 0);
  console_printf("V3.07\n");
  pthread_mutex_lock(&main_loop.mutex);
}
