#include "storage/track_loader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "core/deadline.h"
#include "core/lock.h"
#include "engine/track_ops.h"
#include "engine/transport.h"

static_assert(std::endian::native == std::endian::little,
              "track files hold little-endian samples, read straight into pool blocks");

namespace {

constexpr long attach_poll_ns = 10000000;  // 10 ms between looks at the main loop's progress
constexpr int64_t percent = 100;

// Opens the take "sess<n>/tr<t>_<k>.raw" following no symbolic link at either step, so that no
// name leads out of the working directory.
int open_take(const char* path) {
  const char* slash = strchr(path, '/');
  if (slash == nullptr) return -1;
  const std::string dir(path, size_t(slash - path));
  const int dir_fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (dir_fd < 0) return -1;
  const int fd = openat(dir_fd, slash + 1, O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  const int error = errno;
  close(dir_fd);
  errno = error;
  return fd;
}

// Reads exactly length bytes; false on an error or an early end of the file.
bool read_fully(int fd, void* into, size_t length) {
  auto* p = static_cast<uint8_t*>(into);
  while (length > 0) {
    const ssize_t n = read(fd, p, length);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    length -= size_t(n);
  }
  return true;
}

void release_blocks(StorageThread& s, int32_t from = 0) {
  for (int32_t b = from; b < s.attach_block_count; b += pool_batch_blocks)
    pool_free_batch(s.attach_blocks + b, std::min(pool_batch_blocks, s.attach_block_count - b));
  s.attach_block_count = 0;
}

// Frames of the block at index b of a loop of length frames.
int32_t frames_in_block(int32_t length, int32_t b) {
  const int32_t left = length - b * block_frames;
  return left < block_frames ? left : block_frames;
}

// Reads the audio that follows `start` bytes of a file of size bytes into fresh pool blocks,
// 64 KB at a time, straight from the file.
LoadStatus read_audio(StorageThread& s, int fd, int64_t start, int64_t size) {
  const int64_t audio = size - start;
  if (audio <= 0 || audio % bytes_per_frame != 0) return load_short;
  if (audio / bytes_per_frame > max_track_frames) return load_no_block;
  const int32_t length = int32_t(audio / bytes_per_frame);
  s.attach_block_count = 0;
  for (int32_t b = 0; b * block_frames < length; b++) {
    int32_t* block = pool_alloc_any();
    if (block == nullptr) {
      release_blocks(s);
      return load_no_block;
    }
    s.attach_blocks[b] = block;
    s.attach_block_count = b + 1;
    const size_t bytes = size_t(frames_in_block(length, b)) * bytes_per_frame;
    if (!read_fully(fd, block, bytes)) {
      release_blocks(s);
      return load_short;
    }
    // A dirty block past the loop's end is cleared: the loop may grow into it later.
    if (bytes < size_t(block_bytes))
      memset(reinterpret_cast<uint8_t*>(block) + bytes, 0, size_t(block_bytes) - bytes);
    const int64_t read_so_far = start + int64_t(b) * block_bytes + int64_t(bytes);
    s.load_progress = int32_t(read_so_far * percent / size);
  }
  s.attach_length = length;
  return load_ok;
}

// Sleeps until the main loop has attached the blocks (tests run its service inline instead).
void wait_for_attach(StorageThread& s) {
  while (s.attach_state.load(std::memory_order_acquire) != attach_finished) {
    if (s.wait_for_main_loop != nullptr) {
      s.wait_for_main_loop();
      continue;
    }
    if (s.stop_requested.load()) {
      int32_t waiting = attach_waiting;
      if (s.attach_state.compare_exchange_strong(waiting, attach_finished)) {
        release_blocks(s);
        s.attach_status = load_short;
      }
      continue;
    }
    const timespec deadline = deadline_after(attach_poll_ns);
    pthread_cond_timedwait(&s.storage_cond, &s.storage_mutex, &deadline);
  }
}

LoadStatus read_and_attach(StorageThread& s, int32_t t, const char* name, bool take, bool changed) {
  const int fd = take ? open_take(name) : open(name, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return errno == ENOENT ? load_missing : load_short;
  struct stat info;
  LoadStatus status = load_ok;
  TrackFileWords words{};
  int64_t start = 0;
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    status = load_short;
  } else if (!take) {
    uint8_t header[track_header_bytes];
    status = read_fully(fd, header, sizeof header)
                 ? parse_track_header(header, sizeof header, words)
                 : load_short;
    start = track_header_bytes;
  }
  if (status == load_ok) status = read_audio(s, fd, start, int64_t(info.st_size));
  close(fd);
  if (status != load_ok) return status;
  if (take) words = take_file_words(s.attach_length);

  s.attach_track = t;
  s.attach_words = words;
  s.attach_changed = changed;
  s.attach_state.store(attach_waiting, std::memory_order_release);
  wait_for_attach(s);
  status = LoadStatus(s.attach_status);
  s.attach_state = attach_idle;
  return status;
}

// Main loop: swaps the handed-over blocks into the track. The old loop fades out, the track is
// erased (its file stays: the loader is filling this track) and the new blocks go in.
LoadStatus attach_blocks(StorageThread& s) {
  const int32_t t = s.attach_track;
  bool busy;
  {
    EngineLockGuard lock;
    busy = track_in_role(t);
  }
  if (busy) {
    release_blocks(s);
    return load_track_busy;
  }
  mute_track(t);  // refused, harmlessly, unless it plays
  erase_track(t);
  // A batch of blocks per hold of the engine lock; the first block, which may erase the track
  // again, on its own.
  for (int32_t b = 0; b < s.attach_block_count;) {
    const int32_t end = b == 0 ? 1 : std::min(s.attach_block_count, b + pool_batch_blocks);
    bool refused = false;
    {
      EngineLockGuard lock;
      for (; b < end && !refused; b++) {
        const int32_t bytes = frames_in_block(s.attach_length, b) * bytes_per_frame;
        refused = append_track_block(t, s.attach_blocks[b], bytes) < 0;
      }
    }
    if (refused) {
      release_blocks(s, b - 1);
      erase_track(t);
      return load_short;
    }
  }
  s.attach_block_count = 0;  // the track owns them now
  if (finish_track_load(t, s.attach_words, s.attach_changed) != 0) {
    erase_track(t);
    return load_short;
  }
  return load_ok;
}

}  // namespace

void load_into_track(StorageThread& s, int32_t t, int32_t slot, const char* raw_path) {
  s.loading_track = t;
  s.load_progress = 0;
  const bool take = raw_path[0] != '\0';
  char name[track_name_max];
  if (take) {
    snprintf(name, sizeof name, "%s", raw_path);
  } else {
    save_target_name(name, t, slot);
  }
  const LoadStatus status = read_and_attach(s, t, name, take, take || slot > 0);
  s.load_status = status;
  if (status == load_ok) set_track_name(s, t, name);
  s.loading_track = -1;
}

void storage_attach_service() {
  StorageThread& s = storage;
  int32_t waiting = attach_waiting;
  if (!s.attach_state.compare_exchange_strong(waiting, attach_underway, std::memory_order_acq_rel))
    return;
  s.attach_status = attach_blocks(s);
  s.attach_state.store(attach_finished, std::memory_order_release);
  storage_wake();
}
