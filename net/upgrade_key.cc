#include "net/upgrade_key.h"

void upgrade_key_apply_mask(const uint8_t* in, const uint8_t* mask_table, uint8_t* out) {
  const uint8_t* mask = mask_table + upgrade_key_mask_offset;
  for (int i = 0; i < upgrade_key_masked_length; ++i) {
    out[i] = uint8_t(in[i] ^ mask[i % upgrade_key_mask_length]);
  }
}

void upgrade_key_rebuild(const UpgradeKeyTable& table, uint8_t* out) {
  out[0] = upgrade_key_tag;
  upgrade_key_apply_mask(table.masked, table.mask_table, out + 1);
}
