#include "host/data_directory.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr char remedy[] = "choose another with --data-dir";
constexpr mode_t directory_mode = 0755;

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
    char here[PATH_MAX];
    shown = getcwd(here, sizeof here) != nullptr ? here : ".";
  }
  if (!can_create_files()) {
    fprintf(err, "zt4: cannot write in the data directory %s: %s; %s\n", shown.c_str(),
            strerror(errno), remedy);
    return false;
  }
  return true;
}
