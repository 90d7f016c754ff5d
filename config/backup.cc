#include "config/backup.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstring>

#include "config/config.h"
#include "core/console.h"
#include "core/atomic_file.h"

int backup_erase() {
  // The write replaces the whole store at once, so there is nothing to erase first, and a write
  // that fails keeps the previous backup.
  return 0;
}

int backup_write(const uint8_t* data, int length) {
  return write_file_atomically(config_backup_file_name, data, length);
}

int backup_read(uint8_t* data, int length) {
  ConfigRecord staged;  // a short store must not leave a half-filled buffer
  if (length <= 0 || length > int(sizeof staged)) return -1;
  int fd = open(config_backup_file_name, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return -1;
  ssize_t n = read(fd, &staged, size_t(length));
  close(fd);
  if (n != ssize_t(length)) return -1;
  memcpy(data, &staged, size_t(length));
  return 0;
}

ConfigOutcome backup_config() {
  config_stamp_checksum();
  if (backup_erase() != 0) return {-1, "Backup", " Failed erase"};
  console_printf("Config erase complete.\n");
  if (backup_write(reinterpret_cast<const uint8_t*>(&config), config_size) != 0) {
    return {-1, "Backup", " Failed write"};
  }
  console_printf("Config backup complete.\n");
  return {0, "Backup", " Successful"};
}

ConfigOutcome restore_config() {
  ConfigRecord restored;
  memset(&restored, 0, sizeof restored);
  backup_read(reinterpret_cast<uint8_t*>(&restored), config_size);
  if (config_checksum(reinterpret_cast<const uint16_t*>(&restored), config_word_count) != 0) {
    console_printf("Config checksum mismatch.  Using default config.\n");
    return {-1, "Restore", " Failed verify"};
  }
  if (restored.version != config_version) {
    console_printf("Config version mismatch.  Using default config.\n");
    return {-1, "Restore", " Failed version"};
  }
  memcpy(&config, &restored, sizeof config);
  config_save();  // stamps, clears config_dirty and hands over; busy leaves config_dirty set
  return {0, "Restore", " Successful"};
}
