#include "host/connections.h"

#include <gtest/gtest.h>

namespace {

TEST(Connections, PortsOfEveryLooperOnTheServerAreKnownByTheirClientName) {
  const struct {
    const char* name;
    bool looper;
  } cases[] = {
      {"ZT4:MIDIIN", true},        {"ZT4-01:MIDIOUT", true},         {"ZT4-12:INL", true},
      {"ZT4-:MIDIIN", false},      {"ZT4-x1:MIDIIN", false},         {"ZT4x:MIDIIN", false},
      {"zt4probe:midi_in", false}, {"system:midi_capture_1", false}, {"ZT4", false},
      {"a2j:ZT4:port", false},
  };
  for (const auto& c : cases) EXPECT_EQ(looper_port_name(c.name), c.looper) << c.name;
}

}  // namespace
