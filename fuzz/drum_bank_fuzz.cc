// Feeds arbitrary bytes to the pattern bank's decoder, as a damaged or foreign ".zt4.drums"
// would reach it: a bank it accepts holds only values in range and encodes back to the same
// bytes; one it refuses leaves the bank untouched.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "drums/drum_bank_file.h"
#include "fuzz/fuzz_support.h"

namespace {

uint8_t encoded[drum_bank_file_bytes];

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  DrumBank bank{};
  bank.current_pattern = 63;
  bank.patterns[5].bpm = 77;
  const DrumBankFault fault = drum_bank_decode(data, int(size > 100000 ? 100000 : size), bank);
  if (fault != nullptr) {
    require(bank.current_pattern == 63 && bank.patterns[5].bpm == 77);
    return 0;
  }
  require(size == size_t(drum_bank_file_bytes));
  require(bank.current_pattern >= 0 && bank.current_pattern < drum_pattern_count);
  for (const DrumPattern& p : bank.patterns) {
    require(p.bpm == 0 || (p.bpm >= drum_bpm_min && p.bpm <= drum_bpm_max));
    require(p.all_gain >= drum_gain_min && p.all_gain <= 0);
    for (int i = 0; i < drum_count; i++) {
      require(p.gain[i] >= drum_gain_min && p.gain[i] <= 0);
      require(p.pan[i] >= -drum_pan_limit && p.pan[i] <= drum_pan_limit);
    }
  }
  drum_bank_encode(bank, encoded);
  // The spare header word is not kept; everything else is.
  require(memcmp(encoded, data, 10) == 0);
  require(memcmp(encoded + drum_bank_header_bytes, data + drum_bank_header_bytes,
                 drum_bank_file_bytes - drum_bank_header_bytes) == 0);
  return 0;
}
