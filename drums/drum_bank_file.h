// The pattern bank's file ".zt4.drums": the 64 patterns and the current pattern with a format
// number and a checksum, replaced whole (temporary file, fsync, rename) a second after the last
// edit. Main thread: loaded at start-up, saved by the idle tick's ten-millisecond service.
#pragma once

#include <atomic>
#include <cstdint>

#include "drums/drum_machine.h"

constexpr char drum_bank_file_name[] = ".zt4.drums";
constexpr uint16_t drum_bank_format = 1;
// "ZT4D", the format, the checksum, the current pattern and a spare word, then per pattern
// bpm (4 bytes), all_gain, gain[8], pan[8] and steps[192] (2 bytes each), all little-endian.
constexpr int drum_bank_header_bytes = 12;
constexpr int drum_pattern_bytes = 4 + 2 * (1 + drum_count + drum_count + drum_steps);
constexpr int drum_bank_file_bytes =
    drum_bank_header_bytes + drum_pattern_count * drum_pattern_bytes;
constexpr int drum_bank_save_delay =
    100;  // ten-millisecond ticks between the last edit and the save

struct DrumBankStore {
  std::atomic<int32_t> dirty{0};  // an edit is not saved yet
  int32_t countdown = 0;          // ticks until the save
};
extern DrumBankStore drum_bank_store;

// Why a stored bank was refused; nullptr when it was taken.
using DrumBankFault = const char*;

// The bank as the file stores it; returns drum_bank_file_bytes.
int drum_bank_encode(const DrumBank& bank, uint8_t* out);
// Checks and decodes length bytes into bank; on a fault bank is left unchanged.
DrumBankFault drum_bank_decode(const uint8_t* bytes, int length, DrumBank& bank);

// Start-up: reads the file into the live bank ("Drum bank loaded\n"), or keeps the defaults when
// it is missing, or refuses a damaged one ("Drum bank file refused: %s, defaults used\n").
// Then computes the tempo of the current pattern (120 BPM when it has none).
void drum_bank_load();
// Writes the live bank now; 0, or -1 when the file cannot be written.
int drum_bank_save();

// An edit of the bank: it is saved once no other edit followed for a second.
void drum_bank_touch();
// Ten-millisecond service: counts down and saves; a failed save ("Drum bank save failed\n") is
// retried after the next delay.
void drum_bank_save_service();
// Quitting: an edit still waiting for its second is saved now.
void drum_bank_save_pending();

// Tests: nothing pending.
void drum_bank_store_reset();
