// Config Backup and Config Restore: a second copy of the configuration record kept in a backup
// store, here the file ".zt4.config.backup" in the working directory. Main thread (menu items).
#pragma once

#include <cstdint>

constexpr char config_backup_file_name[] = ".zt4.config.backup";

// Backup-storage hooks over one record-sized area. Each returns 0 on success, -1 on failure.
int backup_erase();
int backup_write(const uint8_t* data, int length);
// Fills data from the store; a missing or short store leaves data as it was and returns -1.
int backup_read(uint8_t* data, int length);

// The two display lines that report the outcome.
struct ConfigOutcome {
  int status;          // 0 success, -1 failed
  const char* title;   // "Backup" or "Restore"
  const char* detail;  // " Successful", " Failed verify", ...
};

// Stamps the live record's checksum and stores the record in the backup store.
ConfigOutcome backup_config();
// Replaces the live record with a valid version-2 backup and hands it to the storage thread.
ConfigOutcome restore_config();
