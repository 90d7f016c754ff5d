#include "core/atomic_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>

namespace {

// The directory part of path ("." when it has none), for the fsync that makes the rename durable.
std::string directory_of(const char* path) {
  const char* slash = strrchr(path, '/');
  if (slash == nullptr) return ".";
  if (slash == path) return "/";
  return std::string(path, size_t(slash - path));
}

// Writes all of data, resuming after partial writes and interruptions.
bool write_all(int fd, const void* data, int length, FileWriteFn write_fn) {
  const uint8_t* p = static_cast<const uint8_t*>(data);
  size_t left = size_t(length);
  while (left > 0) {
    ssize_t n = write_fn(fd, p, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    left -= size_t(n);
  }
  return true;
}

}  // namespace

int write_file_atomically(const char* path, const void* data, int length, FileWriteFn write_fn) {
  if (write_fn == nullptr) write_fn = ::write;
  const std::string temporary = std::string(path) + ".tmp";
  int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return -1;
  errno = 0;
  bool ok = write_all(fd, data, length, write_fn) && fsync(fd) == 0;
  int error = errno;
  if (close(fd) != 0 && ok) {
    ok = false;
    error = errno;
  }
  if (ok && rename(temporary.c_str(), path) != 0) {
    ok = false;
    error = errno;
  }
  if (!ok) {
    unlink(temporary.c_str());
    errno = error != 0 ? error : EIO;  // a write that took nothing without saying why
    return -1;
  }
  // The rename is durable once the directory entry is on disk; the data already is.
  int dir = open(directory_of(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    fsync(dir);
    close(dir);
  }
  return 0;
}
