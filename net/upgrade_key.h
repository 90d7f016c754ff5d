// The public key that upgrade images are verified with: a 2048-bit RSA key in DER form (270
// bytes). Its tag byte is a constant; the other 269 bytes are stored masked with a repeating
// 4-byte mask taken from a second table, and rebuilt on the caller's stack for each check.
// A build carries a key only when one is given at configure time (-DZT4_UPGRADE_KEY, a public
// key made by zt4-sign); without one, every upgrade is refused. Constant; any thread.
#pragma once

#include <cstdint>

constexpr int upgrade_key_length = 270;
constexpr int upgrade_key_masked_length = upgrade_key_length - 1;
constexpr uint8_t upgrade_key_tag = 0x30;  // DER SEQUENCE
constexpr int upgrade_key_mask_table_length = 16;
constexpr int upgrade_key_mask_offset = 4;  // the mask is bytes 4-7 of the mask table
constexpr int upgrade_key_mask_length = 4;

struct UpgradeKeyTable {
  uint8_t masked[upgrade_key_masked_length];
  uint8_t mask_table[upgrade_key_mask_table_length];
};

// The key this build carries, or null. Defined by the key source the build generates with
// `zt4-sign key-table` when the executable is given a key, else by net/upgrade_key_none.cc, the
// library's member that the linker takes only when no key source defines the name.
extern const UpgradeKeyTable* const upgrade_builtin_key;

// Masks (or unmasks: the mask is its own inverse) the 269 bytes after the tag.
void upgrade_key_apply_mask(const uint8_t* in, const uint8_t* mask_table, uint8_t* out);

// Writes the 270-byte DER key of table into out.
void upgrade_key_rebuild(const UpgradeKeyTable& table, uint8_t* out);
