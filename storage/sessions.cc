#include "storage/sessions.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>

#include "core/atomic_file.h"
#include "core/console.h"

namespace {

constexpr char session_prefix[] = "sess";
constexpr char take_prefix[] = "tr";
constexpr char take_suffix[] = ".raw";
constexpr mode_t session_dir_mode = 0755;
constexpr int64_t bytes_per_megabyte = 1024 * 1024;
constexpr int take_track_shift = 16;  // a take listing packs (track << 16) + take

// Reads decimal digits at p (at least one); the position after them, or null when there are
// none or the value would not fit.
const char* read_digits(const char* p, int32_t& value) {
  int64_t v = 0;
  const char* start = p;
  while (*p >= '0' && *p <= '9') {
    v = v * 10 + (*p - '0');
    if (v > INT32_MAX) return nullptr;
    ++p;
  }
  if (p == start) return nullptr;
  value = int32_t(v);
  return p;
}

const char* after_prefix(const char* name, const char* prefix) {
  const size_t n = strlen(prefix);
  return strncmp(name, prefix, n) == 0 ? name + n : nullptr;
}

// "sess<digits>".
bool is_session_name(const char* name, int32_t& session) {
  const char* p = after_prefix(name, session_prefix);
  if (p == nullptr) return false;
  p = read_digits(p, session);
  return p != nullptr && *p == '\0';
}

// "tr<digits>_<digits>.raw".
bool is_take_name(const char* name, int32_t& track_number, int32_t& take) {
  const char* p = after_prefix(name, take_prefix);
  if (p == nullptr || (p = read_digits(p, track_number)) == nullptr || *p++ != '_') return false;
  if ((p = read_digits(p, take)) == nullptr) return false;
  return strcmp(p, take_suffix) == 0;
}

// The session's directory, opened without following a symbolic link; -1 when there is none.
int open_session_dir(int32_t session) {
  char dir[track_name_max];
  if (!session_dir_name(dir, session)) return -1;
  return open(dir, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}

bool entry_is(DIR* dir, const dirent* entry, mode_t type) {
  if (entry->d_type != DT_UNKNOWN) return mode_t(DTTOIF(entry->d_type)) == type;
  struct stat info;
  return fstatat(dirfd(dir), entry->d_name, &info, AT_SYMLINK_NOFOLLOW) == 0 &&
         (info.st_mode & S_IFMT) == type;
}

// Calls f(track_number, take) for every take file of the session.
template <typename F>
void each_take(int32_t session, F f) {
  const int fd = open_session_dir(session);
  if (fd < 0) return;
  DIR* dir = fdopendir(fd);
  if (dir == nullptr) {
    close(fd);
    return;
  }
  while (const dirent* entry = readdir(dir)) {
    int32_t track_number, take;
    if (is_take_name(entry->d_name, track_number, take) && entry_is(dir, entry, S_IFREG))
      f(track_number, take);
  }
  closedir(dir);
}

bool session_holds_take(int32_t session) {
  bool found = false;
  each_take(session, [&](int32_t, int32_t) { found = true; });
  return found;
}

// The first session from n on that holds no takes: a new session never files over old takes.
int32_t first_free_session(int32_t n) {
  while (n < INT32_MAX && session_holds_take(n)) n++;
  return n;
}

void open_session(StorageThread& s, int32_t n) {
  s.session_number = n;
  write_file_atomically(session_counter_name, &n, int(sizeof n));
  char dir[track_name_max];
  session_dir_name(dir, n);
  if (mkdir(dir, session_dir_mode) == 0) sync_directory_of(dir);
}

// Makes the archive copy durable and links it in as take `take` of track t; the copy's own
// name goes in every case.
void file_take(const StorageThread& s, int32_t t, int32_t take, int archive_fd) {
  const bool synced = fsync(archive_fd) == 0;
  close(archive_fd);
  char dir[track_name_max];
  session_dir_name(dir, s.session_number);
  mkdir(dir, session_dir_mode);  // deleted by the host meanwhile: the session goes on
  const int dir_fd = open_session_dir(s.session_number);
  if (synced && dir_fd >= 0) {
    char name[track_name_max];
    snprintf(name, sizeof name, "tr%d_%d.raw", int(t + 1), int(take));
    unlinkat(dir_fd, name, 0);
    if (linkat(AT_FDCWD, take_temp_name, dir_fd, name, 0) == 0) fsync(dir_fd);
  }
  if (dir_fd >= 0) close(dir_fd);
  unlink(take_temp_name);
}

}  // namespace

void sessions_start(StorageThread& s) {
  s.last_save_time = time(nullptr);
  for (int32_t& counter : s.take_counter) counter = 0;
  int32_t n = 0;
  const int fd = open(session_counter_name, O_RDONLY | O_CLOEXEC);
  if (fd >= 0) {
    int32_t stored;
    if (read(fd, &stored, sizeof stored) == ssize_t(sizeof stored) && stored > 0) n = stored;
    close(fd);
  }
  open_session(s, first_free_session(n));
}

namespace {
int64_t working_directory_free_bytes() {
  struct statvfs v;
  if (statvfs(".", &v) != 0) return INT64_MAX;  // unknown: keep archiving
  return int64_t(v.f_bavail) * int64_t(v.f_frsize);
}
}  // namespace

int64_t free_space_bytes(const StorageThread& s) {
  if (s.free_bytes_fn != nullptr) return s.free_bytes_fn();
  return working_directory_free_bytes();
}

int64_t free_space_megabytes() {
  const int64_t bytes = working_directory_free_bytes();
  return bytes == INT64_MAX ? INT64_MAX : bytes / bytes_per_megabyte;
}

bool archive_space_left(StorageThread& s) {
  if (s.archive_off != 0) return false;
  const int64_t megabytes = free_space_bytes(s) / bytes_per_megabyte;
  if (megabytes >= archive_min_megabytes) return true;
  console_printf("Insufficient space to archive: %ldM\n", long(megabytes));
  s.archive_off = 1;
  return false;
}

void archive_take(StorageThread& s, int32_t t, int archive_fd) {
  const int64_t now = time(nullptr);
  if (now - s.last_save_time > new_session_after_s && session_holds_take(s.session_number)) {
    open_session(s, first_free_session(s.session_number + 1));
    for (int32_t& counter : s.take_counter) counter = 0;
  }
  const int32_t take = ++s.take_counter[t];
  if (archive_fd >= 0) file_take(s, t, take, archive_fd);
  s.last_save_time = now;
}

int list_sessions(int32_t* values, int max) {
  int count = 0;
  DIR* dir = opendir(".");
  if (dir != nullptr) {
    while (const dirent* entry = readdir(dir)) {
      int32_t session;
      if (count < max && is_session_name(entry->d_name, session) && entry_is(dir, entry, S_IFDIR))
        values[count++] = session;
    }
    closedir(dir);
  }
  std::sort(values, values + count);
  storage.name_changed.fetch_or((1u << track_count) - 1);
  storage_wake();
  return count;
}

int list_takes(int32_t session, int32_t* values, int max) {
  int count = 0;
  each_take(session, [&](int32_t track_number, int32_t take) {
    if (count < max) values[count++] = (track_number << take_track_shift) + take;
  });
  std::sort(values, values + count);
  return count;
}

int delete_take(int32_t session, int32_t track_number, int32_t take) {
  char path[track_name_max];
  if (!take_file_name(path, session, track_number, take)) return -1;
  const int dir_fd = open_session_dir(session);
  if (dir_fd < 0) return -1;
  const int result = unlinkat(dir_fd, strchr(path, '/') + 1, 0);
  if (result == 0) fsync(dir_fd);
  close(dir_fd);
  return result == 0 ? 0 : -1;
}

int delete_session(int32_t session) {
  char name[track_name_max];
  const int fd = open_session_dir(session);
  if (fd < 0 || !session_dir_name(name, session)) return -1;
  DIR* dir = fdopendir(fd);
  if (dir == nullptr) {
    close(fd);
    return -1;
  }
  // unlinkat removes a symbolic link itself, never what it points to.
  while (const dirent* entry = readdir(dir)) {
    if (strcmp(entry->d_name, ".") != 0 && strcmp(entry->d_name, "..") != 0)
      unlinkat(dirfd(dir), entry->d_name, 0);
  }
  closedir(dir);
  if (rmdir(name) != 0) return -1;
  sync_directory_of(name);
  return 0;
}
