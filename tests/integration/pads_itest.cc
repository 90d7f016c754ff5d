// Pad controllers against the real binary: the JACK test client plays the controller, answering
// the looper's identity requests as an Akai APC or a Novation Launchpad, and watches the LED
// messages on ZT4:MIDIOUT (and, for the APC, at the remote peer as well).
#include <algorithm>
#include <string>
#include <vector>

#include "tests/support/harness.h"

namespace zt4test {
namespace {

using Bytes = std::vector<uint8_t>;

const Bytes identity_request = {0xF0, 0x7E, 0x7F, 0x06, 0x01, 0xF7};
const Bytes apc_reply = {0xF0, 0x7E, 0x00, 0x06, 0x02, 0x47, 0x4F, 0x00, 0x19, 0x00, 0xF7};
const Bytes launchpad_reply = {0xF0, 0x7E, 0x00, 0x06, 0x02, 0x00,
                               0x20, 0x29, 0x13, 0x01, 0x00, 0xF7};
const Bytes programmer_mode = {0xF0, 0x00, 0x20, 0x29, 0x02, 0x0D, 0x00, 0x7F, 0xF7};

int occurrences(const Bytes& stream, const Bytes& message) {
  int n = 0;
  for (auto it = stream.begin();
       (it = std::search(it, stream.end(), message.begin(), message.end())) != stream.end(); ++it) {
    ++n;
  }
  return n;
}

class PadsTest : public Zt4Test {
 protected:
  // The waits are long: on a loaded machine a dummy server with xruns delays the messages by
  // seconds; a pass takes no longer for them.
  bool received(const Bytes& message, int times = 1, double timeout_s = 15) {
    return client.wait_midi([&](const Bytes& s) { return occurrences(s, message) >= times; },
                            timeout_s);
  }
  // Waits for the next identity request (one goes out every 10 s) and answers it.
  void answer(const Bytes& reply) {
    client.clear_midi_received();
    ASSERT_TRUE(received(identity_request, 1, 25))
        << "no identity request";  // two polls, on a busy machine
    client.send_midi(reply);
  }
};

TEST_F(PadsTest, AnApcShowsARecordingTrackBlinkingAndIsLostWhenItStopsAnswering) {
  start_zt4();
  open_client();
  UdpPeer peer;
  peer.aim(udp_port);
  answer(apc_reply);
  ASSERT_TRUE(zt4->wait_for_output("Akai APC found", 5)) << zt4->output();

  // Track 3 records: its record-side pad (note 42) alternates between 5 and 0.
  peer.send("<command>Select Track 3</command>");
  peer.send("<command>Rec/Dub</command>");
  ASSERT_TRUE(received({0x96, 42, 5}, 2, 10));
  ASSERT_TRUE(received({0x96, 42, 0}, 2, 10));
  bool at_peer = false;  // the remote peer sees the same LED messages
  for (int i = 0; i < 40 && !at_peer; ++i) {
    const auto d = peer.receive(1);
    at_peer = d && *d == std::string("\x96\x2A\x05", 3);
  }
  EXPECT_TRUE(at_peer);

  // Between full refreshes only the blinking pad changes; every 30 s a full refresh shows the
  // track colours again (track 1's colour 45 on note 57).
  client.clear_midi_received();
  ASSERT_TRUE(received({0x96, 57, 45}, 1, 35)) << "no full refresh";
  ASSERT_TRUE(received({0x96, 42, 0}, 2, 5));  // past the full refresh's own messages
  client.clear_midi_received();
  EXPECT_TRUE(received({0x96, 42, 0}, 2, 5));
  const Bytes quiet = client.midi_received();
  for (size_t i = 0; i + 2 < quiet.size(); i += 3) {
    if (quiet[i] == 0xF0) break;  // an identity request; nothing but LEDs before it
    EXPECT_EQ(quiet[i + 1], 42) << "LED message for note " << int(quiet[i + 1]);
  }

  // No answer to the next three requests: lost at the fourth poll after the last answer.
  ASSERT_TRUE(zt4->wait_for_output("Akai APC lost", 50)) << zt4->output();
  EXPECT_TRUE(received(identity_request, 1, 15));  // the requests go on, one every 10 s
}

TEST_F(PadsTest, ALaunchpadIsPutInProgrammerModeAndClearedThenShowsTheTracks) {
  start_zt4();
  open_client();
  answer(launchpad_reply);
  ASSERT_TRUE(zt4->wait_for_output("Novation LaunchPad found", 15)) << zt4->output();
  ASSERT_TRUE(received(programmer_mode));
  Bytes bottom_row = {0xF0, 0x00, 0x20, 0x29, 0x02, 0x0D, 0x03};
  for (int pad = 11; pad <= 18; ++pad)
    bottom_row.insert(bottom_row.end(), {0x00, uint8_t(pad), 0x00});
  bottom_row.push_back(0xF7);
  EXPECT_TRUE(received(bottom_row));
  // Its first refresh is a full one: track 1's colour 45 on pad 82, track 1 selected on pad 81.
  EXPECT_TRUE(received({0xF0, 0x00, 0x20, 0x29, 0x02, 0x0D, 0x03, 0x00, 82, 45, 0xF7}));
  EXPECT_TRUE(received({0xF0, 0x00, 0x20, 0x29, 0x02, 0x0D, 0x03, 0x00, 81, 3, 0xF7}));

  client.send_midi(programmer_mode);  // the Launchpad's echo
  EXPECT_TRUE(zt4->wait_for_output("Novation LaunchPad confirmed programmer mode.", 15));
}

}  // namespace
}  // namespace zt4test
