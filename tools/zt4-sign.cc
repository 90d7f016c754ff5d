// zt4-sign: the maintainer's tool for upgrade images. Makes the key pair and its public half,
// which a release is configured with (-DZT4_UPGRADE_KEY), writes the masked key source the
// build compiles from it, and signs archives.
//   zt4-sign keygen PRIVATE.der                 a new 2048-bit key pair (keep it off the device)
//   zt4-sign public PRIVATE.der PUBLIC.der      its public half, for -DZT4_UPGRADE_KEY
//   zt4-sign key-table PUBLIC.der SOURCE.cc     the key source (the build runs this)
//   zt4-sign sign PRIVATE.der ARCHIVE.tgz IMAGE the archive followed by its signature
#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "tools/signing/upgrade_signing.h"

namespace {

int usage() {
  fprintf(stderr,
          "usage: zt4-sign keygen PRIVATE.der\n"
          "       zt4-sign public PRIVATE.der PUBLIC.der\n"
          "       zt4-sign key-table PUBLIC.der SOURCE.cc\n"
          "       zt4-sign sign PRIVATE.der ARCHIVE.tgz IMAGE\n");
  return 2;
}

bool read_key(const char* path, Bytes& key) {
  if (read_file_bytes(path, key) && !key.empty()) return true;
  fprintf(stderr, "zt4-sign: cannot read %s\n", path);
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return usage();
  const std::string mode = argv[1];
  if (mode == "keygen" && argc == 3) {
    const Bytes key = upgrade_make_private_key();
    if (key.empty() || !write_file_bytes(argv[2], key)) {
      fprintf(stderr, "zt4-sign: cannot make %s\n", argv[2]);
      return 1;
    }
    chmod(argv[2], 0600);
    return 0;
  }
  Bytes key;
  if (mode == "public" && argc == 4) {
    if (!read_key(argv[2], key)) return 1;
    const Bytes public_key = upgrade_public_key(key);
    if (public_key.empty() || !write_file_bytes(argv[3], public_key)) {
      fprintf(stderr, "zt4-sign: cannot write the public key of %s into %s\n", argv[2], argv[3]);
      return 1;
    }
    return 0;
  }
  if (mode == "key-table" && argc == 4) {
    if (!read_key(argv[2], key)) return 1;
    const std::string source = upgrade_key_table_source(key);
    if (source.empty()) {
      fprintf(stderr,
              "zt4-sign: %s is not a 2048-bit RSA public key (zt4-sign public makes one from "
              "the private key)\n",
              argv[2]);
      return 1;
    }
    if (!write_file_bytes(argv[3], Bytes(source.begin(), source.end()))) {
      fprintf(stderr, "zt4-sign: cannot write %s\n", argv[3]);
      return 1;
    }
    return 0;
  }
  if (mode == "sign" && argc == 5) {
    Bytes archive;
    if (!read_key(argv[2], key)) return 1;
    if (!read_file_bytes(argv[3], archive)) {
      fprintf(stderr, "zt4-sign: cannot read %s\n", argv[3]);
      return 1;
    }
    const Bytes image = upgrade_signed_image(key, archive);
    if (image.empty() || !write_file_bytes(argv[4], image)) {
      fprintf(stderr, "zt4-sign: cannot sign into %s\n", argv[4]);
      return 1;
    }
    printf("%zu bytes: announce them with <command>upgrade %zu</command>\n", image.size(),
           image.size());
    return 0;
  }
  return usage();
}
