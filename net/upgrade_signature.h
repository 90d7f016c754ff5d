// The signature check of upgrade images: the archive's SHA-256 against the last 256 bytes as an
// RSASSA-PSS (PKCS #1 v2.1, salt 8) signature under the built-in key, by LibTomCrypt on
// LibTomMath. Upgrade thread; the signing tool and tests share the set-up.
#pragma once

#include <cstdint>

#include "net/upgrade_key.h"

constexpr int upgrade_signature_length = 256;  // one 2048-bit RSA block
constexpr int upgrade_pss_salt_length = 8;
constexpr int upgrade_digest_length = 32;  // SHA-256

// Results of upgrade_check_signature: 0, or the number the "Upgrade error %d" message shows.
constexpr int upgrade_signature_ok = 0;
constexpr int upgrade_error_hash = 2;
constexpr int upgrade_error_key = 3;
constexpr int upgrade_error_signature = 4;

// Registers SHA-256 and selects LibTomMath as LibTomCrypt's math provider, once per process.
// Returns SHA-256's index among the registered hashes.
int upgrade_crypto_init();

// Checks the image of size bytes (at least 256) against key: the first size - 256 bytes signed by
// the last 256. Returns upgrade_signature_ok or the error number.
int upgrade_check_signature(const UpgradeKeyTable& key, const uint8_t* image, int32_t size);
