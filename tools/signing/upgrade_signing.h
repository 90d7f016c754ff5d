// Making upgrade keys and signing upgrade images: the maintainer's side of the upgrade check,
// for the zt4-sign tool and the tests. Never linked into the looper. LibTomCrypt with LibTomMath.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

// A new 2048-bit RSA key pair (public exponent 65537) as a DER private key. Empty on failure.
Bytes upgrade_make_private_key();

// The 270-byte DER public key of a DER private key (or of a public key). Empty when the key
// cannot be read.
Bytes upgrade_public_key(const Bytes& private_der);

// The 256-byte RSASSA-PSS signature (SHA-256, salt 8) of data. Empty on failure.
Bytes upgrade_sign(const Bytes& private_der, const uint8_t* data, size_t length);

// An image as the looper fetches it: the archive followed by its signature. Empty on failure.
Bytes upgrade_signed_image(const Bytes& private_der, const Bytes& archive);

// The C++ source that gives a build its upgrade key (upgrade_builtin_key), masked with fresh
// random bytes. Empty unless public_der is a 270-byte DER public key: never a private key.
std::string upgrade_key_table_source(const Bytes& public_der);

bool read_file_bytes(const std::string& path, Bytes& out);
bool write_file_bytes(const std::string& path, const Bytes& bytes);
