#include "midi/midi_codes.h"

#include "config/config.h"
#include "midi/midi_map.h"
#include "midi/midi_parser.h"
#include "midi/midi_queue.h"

MidiCodeQueue midi_code_queue;

namespace {

constexpr uint32_t queue_mask = midi_code_queue_size - 1;
static_assert((midi_code_queue_size & queue_mask) == 0, "the code queue wraps by masking");
constexpr int32_t kind_mask = 0xFF00;
constexpr int controller_mask = 0x7F;

int controller_of(int32_t code) { return (code >> code_controller_shift) & controller_mask; }

// Feeds bytes from the ring to the parser while the queue has room. One byte completes at most
// one message, so room for one code before each byte is enough.
void parse_waiting_bytes(MidiCodeQueue& q) {
  while (q.count < midi_code_queue_size) {
    const int byte = midi_in_get();
    if (byte < 0) return;
    const int32_t code = midi_parse_byte(uint8_t(byte));
    if (code == 0) continue;
    q.codes[(q.first + q.count) & queue_mask] = code;
    q.count++;
  }
}

int32_t pop(MidiCodeQueue& q) {
  const int32_t code = q.codes[q.first];
  q.first = (q.first + 1) & queue_mask;
  q.count--;
  return code;
}

}  // namespace

bool midi_code_coalescible(int32_t code) {
  if ((code & kind_mask) != code_control_change) return false;
  const int c = controller_of(code);
  if (c == config.quant_cc || c == bounce_destination_cc) return false;
  return config.midi_lists[list_switch_base + c][0] < 0;
}

int32_t midi_poll() {
  MidiCodeQueue& q = midi_code_queue;
  parse_waiting_bytes(q);
  if (q.count == 0) return 0;
  int32_t code = pop(q);
  if (!midi_code_coalescible(code)) return code;
  for (;;) {
    if (q.count == 0) parse_waiting_bytes(q);  // the run may go on beyond a full queue
    if (q.count == 0) return code;
    const int32_t next = q.codes[q.first];
    if ((next & kind_mask) != code_control_change || controller_of(next) != controller_of(code))
      return code;
    code = pop(q);
    q.coalesced++;
  }
}

bool midi_input_waiting() {
  const MidiInRing& r = midi_in_ring;
  return midi_code_queue.count > 0 ||
         r.read_index.load(std::memory_order_relaxed) != r.write_index.load(std::memory_order_acquire);
}

void midi_code_queue_reset() { midi_code_queue = MidiCodeQueue{}; }
