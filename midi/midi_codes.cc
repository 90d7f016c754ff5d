#include "midi/midi_codes.h"

#include <algorithm>
#include <cstring>

#include "config/config.h"
#include "midi/midi_queue.h"

MidiCodeQueue midi_code_queue;

namespace {

constexpr uint32_t queue_mask = midi_code_queue_size - 1;
static_assert((midi_code_queue_size & queue_mask) == 0, "the code queue wraps by masking");
constexpr int controller_mask = 0x7F;
constexpr int value_mask = 0x7F;

int controller_of(int32_t code) { return (code >> code_controller_shift) & controller_mask; }
int value_of(int32_t code) { return code & value_mask; }

void push(MidiCodeQueue& q, int32_t code) {
  q.codes[(q.first + q.count) & queue_mask] = code;
  q.count++;
}

// Keeps the SysEx message the parser holds until its turn.
void store_sysex(MidiCodeQueue& q) {
  MidiSysexSlot& slot = q.sysex[(q.sysex_first + q.sysex_count) % midi_sysex_slots];
  const uint8_t* bytes = midi_parsed_sysex(&slot.length);
  memcpy(slot.bytes, bytes, size_t(slot.length));
  q.sysex_count++;
  push(q, code_sysex);
}

// Feeds bytes from the ring to the parser while the queue has room. One byte completes at most
// one message, so room for one code and one SysEx message before each byte is enough.
void parse_waiting_bytes(MidiCodeQueue& q) {
  while (q.count < midi_code_queue_size && q.sysex_count < midi_sysex_slots) {
    const int byte = midi_in_get();
    if (byte < 0) return;
    const int32_t code = midi_parse_byte(uint8_t(byte));
    if (code == code_sysex) {
      store_sysex(q);
    } else if (code != 0) {
      push(q, code);
    }
  }
}

int32_t pop(MidiCodeQueue& q) {
  const int32_t code = q.codes[q.first];
  q.first = (q.first + 1) & queue_mask;
  q.count--;
  return code;
}

// The oldest SysEx message leaves the queue, then runs from a copy: a handler that polls the
// input again may reuse its slot.
void run_sysex(MidiCodeQueue& q) {
  MidiSysexSlot message;
  const MidiSysexSlot& slot = q.sysex[q.sysex_first];
  message.length = slot.length;
  memcpy(message.bytes, slot.bytes, size_t(slot.length));
  q.sysex_first = (q.sysex_first + 1) % midi_sysex_slots;
  q.sysex_count--;
  if (q.sysex_handler != nullptr) q.sysex_handler(message.bytes, message.length);
}

// The newest value of the run of one continuous controller that code opens, noting the lowest
// and highest values the run passed through.
int32_t newest_of_run(MidiCodeQueue& q, int32_t code) {
  MidiValueRange range = {value_of(code), value_of(code)};
  for (;;) {
    if (q.count == 0) parse_waiting_bytes(q);  // the run may go on beyond a full queue
    if (q.count == 0) break;
    const int32_t next = q.codes[q.first];
    if ((next & kind_mask) != code_control_change || controller_of(next) != controller_of(code))
      break;
    code = pop(q);
    range.low = std::min(range.low, value_of(code));
    range.high = std::max(range.high, value_of(code));
    q.coalesced++;
  }
  q.run_code = code;
  q.run_range = range;
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
  q.run_code = 0;
  for (;;) {
    parse_waiting_bytes(q);
    if (q.count == 0) return 0;
    const int32_t code = pop(q);
    if (code == code_sysex) {
      run_sysex(q);
      continue;
    }
    return midi_code_coalescible(code) ? newest_of_run(q, code) : code;
  }
}

MidiValueRange midi_code_range(int32_t code) {
  const MidiCodeQueue& q = midi_code_queue;
  if (code != 0 && code == q.run_code) return q.run_range;
  return {value_of(code), value_of(code)};
}

bool midi_input_waiting() {
  const MidiInRing& r = midi_in_ring;
  return midi_code_queue.count > 0 || r.read_index.load(std::memory_order_relaxed) !=
                                          r.write_index.load(std::memory_order_acquire);
}

void midi_set_sysex_handler(MidiMessageSink handler) { midi_code_queue.sysex_handler = handler; }

void midi_code_queue_reset() { midi_code_queue = MidiCodeQueue{}; }
