#include "net/upgrade_signature.h"

#include <tomcrypt.h>

#include <mutex>

namespace {

// LibTomCrypt's registries are process-wide and not safe to fill from two threads at once.
struct CryptoSetup {
  std::once_flag once;
  int sha256 = -1;
};
CryptoSetup crypto_setup;

}  // namespace

int upgrade_crypto_init() {
  std::call_once(crypto_setup.once, [] {
    ltc_mp = ltm_desc;
    register_hash(&sha256_desc);
    register_prng(&sprng_desc);
    crypto_setup.sha256 = find_hash("sha256");
  });
  return crypto_setup.sha256;
}

int upgrade_check_signature(const UpgradeKeyTable& key_table, const uint8_t* image, int32_t size) {
  const int hash = upgrade_crypto_init();
  if (hash < 0 || size < upgrade_signature_length) return upgrade_error_hash;
  const auto archive = static_cast<unsigned long>(size - upgrade_signature_length);

  unsigned char digest[upgrade_digest_length];
  unsigned long digest_length = sizeof digest;
  if (hash_memory(hash, image, archive, digest, &digest_length) != CRYPT_OK) {
    return upgrade_error_hash;
  }

  uint8_t der[upgrade_key_length];
  upgrade_key_rebuild(key_table, der);
  rsa_key key;
  const int imported = rsa_import(der, sizeof der, &key);
  zeromem(der, sizeof der);
  if (imported != CRYPT_OK) return upgrade_error_key;

  int valid = 0;
  const int err =
      rsa_verify_hash_ex(image + archive, upgrade_signature_length, digest, digest_length,
                         LTC_PKCS_1_PSS, hash, upgrade_pss_salt_length, &valid, &key);
  rsa_free(&key);
  return err == CRYPT_OK && valid == 1 ? upgrade_signature_ok : upgrade_error_signature;
}
