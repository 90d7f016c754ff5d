// Upgrades: the shared 1 MiB image buffer, which one upgrade owns at a time, and the network path
// (TFTP fetch from the announcing host, signature check, installer) on a thread of its own per
// request. Network thread (requests), upgrade thread (fetch and install).
#pragma once

#include <netinet/in.h>

#include <atomic>
#include <cstdint>

#include "net/upgrade_key.h"

constexpr int32_t upgrade_buffer_size = 1048576;
constexpr int32_t upgrade_size_min = 1024;    // smaller images are refused ("Upgrade error 1")
constexpr uint16_t upgrade_tftp_port = 4069;  // the fetch's own local port

// Where a verified archive goes, and the installer run on it. Fixed: nothing received ever
// becomes part of the command line.
constexpr char upgrade_image_path[] = "/tmp/upgrade.tgz";
constexpr char upgrade_install_command[] =
    "cd /tmp; tar xzf upgrade.tgz; cd install; sh ./install.sh";

// The board's firmware writer: there is no firmware area here, so it always fails (-1).
int32_t board_write_firmware_image(const uint8_t* data, int32_t size);

// What the upgrade paths call outside themselves.
struct UpgradeHooks {
  // Writes a firmware image to the unit's firmware area: >= 0 success. This board has none.
  int32_t (*write_firmware_image)(const uint8_t* data, int32_t size);
  // Arms the restart countdown (the main loop exits with status 0 when it runs out).
  void (*arm_restart)(int32_t seconds);
};

// Owning the buffer for the whole of an upgrade keeps a second request from changing the image
// between its check and its installation: the bytes installed are the bytes verified.
struct Upgrade {
  // Held by the path that uses upgrade_buffer: a network upgrade from its request to the end
  // of its installer, a SysEx upgrade for each append and for its check.
  std::atomic<bool> busy{false};
  int32_t upgrade_expected = 0;  // announced size of the network image
  int32_t upgrade_received = 0;  // bytes of it stored
  int32_t sysex_collected = 0;   // SysEx image bytes appended so far
  int32_t request_size = 0;      // handed from the request to its thread
  sockaddr_in request_host = {};
  uint16_t local_port = upgrade_tftp_port;                // tests fetch from an ephemeral port (0)
  const char* image_path = upgrade_image_path;            // tests write elsewhere
  const char* install_command = upgrade_install_command;  // tests run a harmless one
  UpgradeHooks hooks = {board_write_firmware_image, nullptr};
  // The key images are checked with: the build's own (upgrade_builtin_key), null when it has
  // none, and then every upgrade request, over UDP and SysEx alike, is refused.
  const UpgradeKeyTable* key = upgrade_builtin_key;
};

extern Upgrade upgrade;
extern uint8_t upgrade_buffer[upgrade_buffer_size];

// Start-of-program values: nothing collected, the fixed paths and command, the board's writer,
// no restart hook, the build's key. Not while an upgrade thread runs.
void upgrade_reset();

// Network thread, for an accepted "<command>upgrade N</command>": starts the fetch of size bytes
// from host on a new thread, or prints why not.
void upgrade_request(int32_t size, const sockaddr_in& host);

// Fetches the image from host into upgrade_buffer by TFTP. Returns true when all of it arrived;
// otherwise prints why the fetch ended. The caller owns the buffer.
bool upgrade_fetch(int32_t size, const sockaddr_in& host);

// Checks a network image and runs its installer; prints the outcome ("Upgrade valid." or
// "Upgrade error %d"). Returns 0 when the installer ran, else the error number. The caller owns
// the buffer the image lies in.
int upgrade_verify_install(const uint8_t* image, int32_t size);

// False, with the one line "Upgrade refused: this build has no upgrade key", when the build
// carries no key.
bool upgrade_key_given();

// Takes or gives back the buffer: false when another upgrade holds it.
bool upgrade_take_buffer();
void upgrade_release_buffer();
