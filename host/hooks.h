// The composition root's wiring: every call a lower folder makes upward goes through a hook, and
// every hook is installed here, in one place. Resets leave hooks alone except to clear them.
#pragma once

#include "midi/transport_clock.h"

// The JACK client's calls (host/connections.cc), installed by start-up only: the looper without
// JACK (tests, fuzz targets, benchmarks) leaves them null.
struct JackCalls {
  void (*midi_autoconnect)() = nullptr;
  void (*connections_second)() = nullptr;
  TransportHooks transport;  // timebase, roll and stop of the JACK transport
};

// Installs every hook. looper_reset() calls it with no JACK calls, start-up with the client's.
void install_hooks(const JackCalls& jack = {});
