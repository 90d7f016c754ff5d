#include "net/sysex_upgrade.h"

#include <time.h>

#include <cstring>

#include "core/console.h"
#include "net/lz77.h"
#include "net/upgrade.h"

namespace {

constexpr int checksum_bytes = 4;

int seconds_now() { return int(time(nullptr)); }

}  // namespace

SysexImage sysex_decode_image(uint8_t* buffer, int32_t length) {
  SysexImage image{0, 0, 0};
  if (length <= 0) return image;
  const int32_t groups = (length + sysex_group_length - 1) / sysex_group_length;
  for (int32_t g = 0; g < groups; ++g) {
    const int32_t start = g * sysex_group_length;
    const int32_t count = length - start < sysex_group_length ? length - start : sysex_group_length;
    uint8_t group[sysex_group_length];
    memcpy(group, buffer + start, size_t(count));
    // Writing 7 bytes per 8 read never overtakes the bytes still to be read.
    uint8_t* out = buffer + g * sysex_group_data;
    int32_t produced;
    if (count == sysex_group_length) {
      const uint8_t top = group[sysex_group_data];
      for (int k = 0; k < sysex_group_data; ++k) {
        out[k] = uint8_t((group[k] & 0x7F) | (((top >> k) & 1) << 7));
      }
      produced = sysex_group_data;
    } else {
      for (int k = 0; k < count; ++k) out[k] = uint8_t(group[k] & 0x7F);
      produced = count;
    }
    if (g < groups - 1) {
      for (int32_t k = 0; k < produced; ++k) image.computed += out[k];
      image.size += produced;
    } else {
      for (int k = 0; k < checksum_bytes && k < produced; ++k) {
        image.received |= uint32_t(out[k]) << (8 * k);
      }
    }
  }
  return image;
}

// Without a key the data is dropped; the finishing command says why, once per image.
void sysex_upgrade_append(const uint8_t* bytes, int length) {
  Upgrade& u = upgrade;
  if (upgrade.key == nullptr) return;
  if (!upgrade_take_buffer()) {
    console_printf("Upgrade refused: another upgrade is running\n");
    return;
  }
  int32_t n = length;
  if (n > upgrade_buffer_size - u.sysex_collected) n = upgrade_buffer_size - u.sysex_collected;
  if (n > 0) {
    memcpy(upgrade_buffer + u.sysex_collected, bytes, size_t(n));
    u.sysex_collected += n;
  }
  upgrade_release_buffer();
}

void sysex_upgrade_finish() {
  Upgrade& u = upgrade;
  if (!upgrade_key_given()) return;
  if (!upgrade_take_buffer()) {
    console_printf("Upgrade refused: another upgrade is running\n");
    return;
  }
  const int now = seconds_now();
  console_printf("%d: midi_upgrade\n", now);
  const int32_t collected = u.sysex_collected;
  u.sysex_collected = 0;
  const SysexImage image = sysex_decode_image(upgrade_buffer, collected);
  console_printf("%d: csum computed %x, csum received %x\n", now, unsigned(image.computed),
                 unsigned(image.received));
  if (image.computed != image.received) {
    upgrade_release_buffer();
    return;
  }

  const uint8_t* data = upgrade_buffer;
  int32_t size = image.size;
  if (lz77_is_compressed(upgrade_buffer, size)) {
    // The compressed image must lie wholly below the half it expands into.
    const int32_t expanded =
        size <= sysex_expand_offset
            ? lz77_expand(upgrade_buffer, size, upgrade_buffer + sysex_expand_offset,
                          upgrade_buffer_size - sysex_expand_offset)
            : lz77_too_long;
    if (expanded < 0) {
      console_printf("%d: LZ77 image bad %d\n", now, int(expanded));
      upgrade_release_buffer();
      return;
    }
    console_printf("%d: decompressed size %d\n", now, int(expanded));
    data = upgrade_buffer + sysex_expand_offset;
    size = expanded;
  }

  const bool written = size > 0 && u.hooks.write_firmware_image != nullptr &&
                       u.hooks.write_firmware_image(data, size) >= 0;
  upgrade_release_buffer();
  if (!written) {
    console_printf("%d: MIDI upgrade image failed\n", now);
    return;
  }
  console_printf("%d: MIDI upgrade succeeded\n", now);
  if (u.hooks.arm_restart != nullptr) u.hooks.arm_restart(sysex_restart_seconds);
}
