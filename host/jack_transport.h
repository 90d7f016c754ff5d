// The JACK transport on the JACK client's side: the follower's query in the process callback,
// and leading (the timebase callback that publishes the drum machine's tempo and position, the
// roll and stop that go with "Drums Start" and "Drums Stop").
#pragma once

#include <jack/jack.h>

#include "midi/clock.h"
#include "midi/transport_clock.h"

// The JACK client's transport calls, for the transport hooks (install_hooks).
TransportHooks jack_transport_calls();

// Process thread, before the period's frames: in follow mode the master's position becomes the
// period's clock events; otherwise the follower lets go of the transport.
void jack_transport_period(jack_nframes_t frames, ClockInputEvents& events);
// Process thread, engine mutex held, after the period's frames: what the timebase callback
// publishes next (the drums' tempo and position, or the playing clock-out track's while the
// drums rest), in master mode.
void jack_transport_lead_snapshot();
