#include "drums/drum_bank_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "config/config.h"
#include "core/atomic_file.h"
#include "core/console.h"
#include "core/lock.h"

DrumBankStore drum_bank_store;

namespace {

constexpr uint8_t magic[4] = {'Z', 'T', '4', 'D'};
constexpr int checksum_offset = 6;
constexpr int word_count = drum_bank_file_bytes / 2;
static_assert(drum_bank_file_bytes % 2 == 0, "the checksum runs over 16-bit words");

struct Writer {
  uint8_t* at;
  void u16(uint32_t v) {
    at[0] = uint8_t(v);
    at[1] = uint8_t(v >> 8);
    at += 2;
  }
  void u32(uint32_t v) {
    u16(v & 0xFFFFu);
    u16(v >> 16);
  }
};

struct Reader {
  const uint8_t* at;
  uint16_t u16() {
    const uint16_t v = uint16_t(at[0] | (at[1] << 8));
    at += 2;
    return v;
  }
  int16_t i16() { return int16_t(u16()); }
  int32_t i32() {
    const uint32_t low = u16();
    return int32_t(low | (uint32_t(u16()) << 16));
  }
};

uint16_t checksum_of(const uint8_t* bytes) {
  uint16_t words[word_count];
  memcpy(words, bytes, sizeof words);  // little-endian host, as the configuration requires
  return config_checksum(words, word_count);
}

bool in_range(int32_t v, int32_t lo, int32_t hi) { return v >= lo && v <= hi; }

DrumBankFault decode_pattern(Reader& r, DrumPattern& p) {
  p.bpm = r.i32();
  if (p.bpm != 0 && !in_range(p.bpm, drum_bpm_min, drum_bpm_max)) return "tempo out of range";
  p.all_gain = r.i16();
  if (!in_range(p.all_gain, drum_gain_min, 0)) return "gain out of range";
  for (int16_t& g : p.gain) {
    g = r.i16();
    if (!in_range(g, drum_gain_min, 0)) return "gain out of range";
  }
  for (int16_t& pan : p.pan) {
    pan = r.i16();
    if (!in_range(pan, -drum_pan_limit, drum_pan_limit)) return "pan out of range";
  }
  for (uint16_t& mask : p.steps) mask = r.u16();
  return nullptr;
}

// The whole file, or -1 when it is missing; a file longer than a bank reads as one byte more.
int read_bank_file(uint8_t* buffer, int capacity) {
  const int fd = open(drum_bank_file_name, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return errno == ENOENT ? -1 : 0;
  int total = 0;
  while (total < capacity) {
    const ssize_t n = read(fd, buffer + total, size_t(capacity - total));
    if (n <= 0) break;
    total += int(n);
  }
  close(fd);
  return total;
}

}  // namespace

int drum_bank_encode(const DrumBank& bank, uint8_t* out) {
  Writer w{out};
  for (uint8_t m : magic) *w.at++ = m;
  w.u16(drum_bank_format);
  w.u16(0);  // checksum, stamped below
  w.u16(uint16_t(bank.current_pattern));
  w.u16(0);
  for (const DrumPattern& p : bank.patterns) {
    w.u32(uint32_t(p.bpm));
    w.u16(uint16_t(p.all_gain));
    for (int16_t g : p.gain) w.u16(uint16_t(g));
    for (int16_t pan : p.pan) w.u16(uint16_t(pan));
    for (uint16_t mask : p.steps) w.u16(mask);
  }
  const uint16_t sum = checksum_of(out);
  out[checksum_offset] = uint8_t(sum);
  out[checksum_offset + 1] = uint8_t(sum >> 8);
  return drum_bank_file_bytes;
}

DrumBankFault drum_bank_decode(const uint8_t* bytes, int length, DrumBank& bank) {
  if (length != drum_bank_file_bytes) return "wrong size";
  if (memcmp(bytes, magic, sizeof magic) != 0) return "not a drum bank";
  Reader r{bytes + sizeof magic};
  if (r.u16() != drum_bank_format) return "unknown format";
  if (checksum_of(bytes) != 0) return "checksum mismatch";
  r.u16();  // the checksum
  DrumBank decoded{};
  decoded.current_pattern = r.i16();
  if (!in_range(decoded.current_pattern, 0, drum_pattern_count - 1)) return "bad pattern number";
  r.u16();
  for (DrumPattern& p : decoded.patterns) {
    if (DrumBankFault fault = decode_pattern(r, p)) return fault;
  }
  bank = decoded;
  return nullptr;
}

void drum_bank_load() {
  uint8_t bytes[drum_bank_file_bytes + 1];
  DrumBank bank{};
  const int length = read_bank_file(bytes, int(sizeof bytes));
  if (length >= 0) {
    if (DrumBankFault fault = drum_bank_decode(bytes, length, bank)) {
      console_printf("Drum bank file refused: %s, defaults used\n", fault);
      bank = DrumBank{};
    } else {
      console_printf("Drum bank loaded\n");
    }
  }
  {
    EngineLockGuard lock;
    drums.bank = bank;
  }
  DrumPattern& current = drums.bank.patterns[drums.bank.current_pattern];
  drum_set_tempo(current.bpm != 0 ? current.bpm : drum_bpm_default);
}

int drum_bank_save() {
  uint8_t bytes[drum_bank_file_bytes];
  // The main thread is the bank's only writer, so it reads it without the lock.
  drum_bank_encode(drums.bank, bytes);
  return write_file_atomically(drum_bank_file_name, bytes, drum_bank_file_bytes);
}

void drum_bank_touch() {
  drum_bank_store.dirty = 1;
  drum_bank_store.countdown = drum_bank_save_delay;
}

void drum_bank_save_service() {
  DrumBankStore& s = drum_bank_store;
  if (s.dirty.load() == 0 || --s.countdown > 0) return;
  s.dirty = 0;
  if (drum_bank_save() != 0) {
    console_printf("Drum bank save failed\n");
    drum_bank_touch();
  }
}

void drum_bank_save_pending() {
  if (drum_bank_store.dirty.load() == 0) return;
  drum_bank_store.countdown = 1;
  drum_bank_save_service();
}

void drum_bank_store_reset() {
  drum_bank_store.dirty = 0;
  drum_bank_store.countdown = 0;
}
