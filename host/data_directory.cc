#include "host/data_directory.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>

DataDirectoryLock data_directory_lock;

namespace {

constexpr char remedy[] = "choose another with --data-dir";
constexpr mode_t directory_mode = 0755;
constexpr mode_t lock_file_mode = 0644;
constexpr int holder_text_max = 64;
constexpr int udp_port_unknown = -2;  // the holder has not said yet (it is starting)

// mkdir -p: every missing component of path, in order. Sets errno on failure.
bool make_directories(const std::string& path) {
  for (size_t at = 1; at <= path.size(); ++at) {
    if (at < path.size() && path[at] != '/') continue;
    const std::string part = path.substr(0, at);
    if (mkdir(part.c_str(), directory_mode) == 0 || errno == EEXIST) continue;
    return false;
  }
  return true;
}

// Creates and removes an empty file in the working directory. Sets errno on failure.
bool can_create_files() {
  char probe[] = ".zt4-write-test.XXXXXX";
  const int fd = mkstemp(probe);
  if (fd < 0) return false;
  close(fd);
  unlink(probe);
  return true;
}

std::string working_directory() {
  char here[PATH_MAX];
  return getcwd(here, sizeof here) != nullptr ? here : ".";
}

// "pid N" and, once the looper listens, " udp_port P" (-1: remote control off).
void write_holder(int fd, int udp_port) {
  char text[holder_text_max];
  int length = snprintf(text, sizeof text, "pid %d", int(getpid()));
  if (udp_port != udp_port_unknown)
    length += snprintf(text + length, sizeof text - size_t(length), " udp_port %d", udp_port);
  text[length++] = '\n';
  // Rewritten in place: a new file renamed over it would be a new lock. A write that fails only
  // makes a second looper's refusal less specific.
  if (ftruncate(fd, 0) == 0) (void)!pwrite(fd, text, size_t(length), 0);
}

// Who holds the lock, from its file: "the looper with pid N (UDP port P)", or as much of it as
// the file says.
std::string holder_of(int fd) {
  char text[holder_text_max] = {};
  const ssize_t n = pread(fd, text, sizeof text - 1, 0);
  int pid = 0;
  int udp_port = udp_port_unknown;
  if (n <= 0 || sscanf(text, "pid %d udp_port %d", &pid, &udp_port) < 1 || pid <= 0)
    return "another looper";
  std::string holder = "the looper with pid " + std::to_string(pid);
  if (udp_port >= 0) holder += " (UDP port " + std::to_string(udp_port) + ")";
  if (udp_port == -1) holder += " (remote control off)";
  return holder;
}

}  // namespace

bool enter_data_directory(const char* path, FILE* err) {
  std::string shown;
  if (path != nullptr) {
    shown = path;
    struct stat st;
    if (stat(path, &st) != 0 && !make_directories(path)) {
      fprintf(err, "zt4: cannot create the data directory %s: %s; %s\n", path, strerror(errno),
              remedy);
      return false;
    }
    if (chdir(path) != 0) {
      fprintf(err, "zt4: cannot enter the data directory %s: %s; %s\n", path, strerror(errno),
              remedy);
      return false;
    }
  } else {
    shown = working_directory();
  }
  if (!can_create_files()) {
    fprintf(err, "zt4: cannot write in the data directory %s: %s; %s\n", shown.c_str(),
            strerror(errno), remedy);
    return false;
  }
  return true;
}

bool lock_data_directory(FILE* err) {
  DataDirectoryLock& lock = data_directory_lock;
  const int fd = open(data_directory_lock_name, O_RDWR | O_CREAT | O_CLOEXEC, lock_file_mode);
  if (fd < 0) {
    fprintf(err, "zt4: cannot write in the data directory %s: %s; %s\n",
            working_directory().c_str(), strerror(errno), remedy);
    return false;
  }
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int error = errno;
    if (error == EWOULDBLOCK) {
      fprintf(err, "zt4: the data directory %s is in use by %s; %s\n", working_directory().c_str(),
              holder_of(fd).c_str(), remedy);
    } else {
      fprintf(err, "zt4: cannot lock the data directory %s: %s; %s\n", working_directory().c_str(),
              strerror(error), remedy);
    }
    close(fd);
    return false;
  }
  lock.fd = fd;
  write_holder(fd, udp_port_unknown);
  return true;
}

void note_data_directory_port(int udp_port) {
  if (data_directory_lock.fd >= 0) write_holder(data_directory_lock.fd, udp_port);
}

void unlock_data_directory() {
  DataDirectoryLock& lock = data_directory_lock;
  if (lock.fd >= 0) close(lock.fd);
  lock.fd = -1;
}
