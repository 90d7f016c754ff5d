#include "storage/track_save.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "core/console.h"
#include "core/lock.h"
#include "engine/track_ops.h"
#include "storage/sessions.h"

namespace {

// A block released anywhere while it was being written is written again from the track's
// current reference; after this many tries the save gives up and the track is saved later.
constexpr int block_write_attempts = 3;

// A hole in a loop plays as silence and is saved as silence.
constexpr int32_t silent_block[block_words] = {};

struct SaveJob {
  int32_t track;
  int32_t slot;     // > 0: an explicit save into this slot
  bool requested;   // the track of the explicit request
  int32_t length;   // frames, when the save began
  TrackFileWords words;
};

enum class Choice { none, chosen, request_failed };
enum class SaveEnd { written, not_opened, track_changed, write_failed };

// Still the loop the save began with: same length, no role. Caller holds the engine lock.
bool unchanged(const SaveJob& job) {
  return tracks[job.track].length == job.length && !track_in_role(job.track);
}

// Takes the snapshot of track t under the lock the caller holds. An automatic save clears the
// change mark at once, so changes made while it writes schedule another save.
void take_job(SaveJob& job, int32_t t, int32_t slot, bool requested) {
  Track& v = tracks[t];
  job = {t, slot, requested, v.length, track_file_words(v)};
  if (!requested) {
    v.audio_changed = 0;
    v.audio_saved = 0;
  }
}

Choice choose(StorageThread& s, SaveJob& job) {
  const bool pending = s.save_pending.load(std::memory_order_acquire) != 0;
  const int32_t requested = s.save_track;
  const int32_t slot = s.save_slot;
  EngineLockGuard lock;
  if (pending) {
    if (!valid_track_index(requested) || slot < 1 || tracks[requested].length == 0)
      return Choice::request_failed;
    // A track that records, overdubs or replaces is saved when it has finished.
    if (!track_in_role(requested)) {
      take_job(job, requested, slot, true);
      return Choice::chosen;
    }
  }
  for (int32_t i = 1; i <= track_count; i++) {
    const int32_t t = (s.last_saved_track + i) % track_count;
    const Track& v = tracks[t];
    if (v.length == 0 || track_in_role(t) || v.audio_changed == 0) continue;
    take_job(job, t, 0, false);
    s.last_saved_track = t;
    return Choice::chosen;
  }
  return Choice::none;
}

void end_request(StorageThread& s, int32_t result) {
  s.save_result = result;
  s.save_track = -1;
  s.save_slot = -1;
  s.save_pending.store(0, std::memory_order_release);
}

bool write_all_at(TrackWriteFn write_fn, int fd, const void* data, size_t length, off_t at) {
  const auto* p = static_cast<const uint8_t*>(data);
  while (length > 0) {
    const ssize_t n = write_fn(fd, p, length, at);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    at += n;
    length -= size_t(n);
  }
  return true;
}

// Writes the loop block by block straight from the pool, to the track file after its header and
// to the archive copy from its start. The engine lock is held only to look up a block and, after
// writing it, to see that no block was released meanwhile (which could have reused it).
SaveEnd write_audio(StorageThread& s, const SaveJob& job, int fd, int archive_fd) {
  const TrackWriteFn write_fn = s.track_write_fn != nullptr ? s.track_write_fn : ::pwrite;
  for (int32_t b = 0; b * block_frames < job.length; b++) {
    const int32_t frames = job.length - b * block_frames;
    const size_t bytes = size_t(frames < block_frames ? frames : block_frames) * bytes_per_frame;
    const off_t at = off_t(b) * block_bytes;
    bool written = false;
    for (int attempt = 0; attempt < block_write_attempts && !written; attempt++) {
      const int32_t* block;
      uint32_t releases;
      {
        EngineLockGuard lock;
        if (!unchanged(job)) return SaveEnd::track_changed;
        block = track_blocks[job.track][b];
        releases = pool.releases.load(std::memory_order_acquire);
      }
      if (block == nullptr) block = silent_block;
      if (!write_all_at(write_fn, fd, block, bytes, track_header_bytes + at) ||
          (archive_fd >= 0 && !write_all_at(write_fn, archive_fd, block, bytes, at)))
        return SaveEnd::write_failed;
      EngineLockGuard lock;
      if (!unchanged(job)) return SaveEnd::track_changed;
      written = pool.releases.load(std::memory_order_acquire) == releases;
    }
    if (!written) return SaveEnd::track_changed;
    s.save_blocks_done = b + 1;
  }
  return SaveEnd::written;
}

// The save did not take the track file's name: the old file stays as it was.
void abandon(StorageThread& s, const SaveJob& job, SaveEnd end, int fd, int archive_fd) {
  if (fd >= 0) close(fd);
  if (archive_fd >= 0) close(archive_fd);
  unlink(track_temp_name);
  if (archive_fd >= 0) unlink(take_temp_name);
  if (end == SaveEnd::write_failed) console_printf("Write failed\n");
  if (job.requested) {
    end_request(s, 1);
  } else if (end == SaveEnd::track_changed) {
    // Whatever the loop holds now still has to reach its file.
    EngineLockGuard lock;
    if (tracks[job.track].length != 0) tracks[job.track].audio_changed = 1;
  }
}

}  // namespace

void save_one_track(StorageThread& s) {
  SaveJob job;
  const Choice choice = choose(s, job);
  if (choice == Choice::request_failed) end_request(s, 1);
  if (choice != Choice::chosen) return;

  uint8_t header[track_header_bytes];
  build_track_header(job.words, header);
  s.save_blocks = (job.length + block_frames - 1) / block_frames;
  s.save_blocks_done = 0;
  const bool archive = archive_space_left(s) && job.slot == 0;

  const int fd = open(track_temp_name, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) {
    console_printf("Couldn't open audio save file\n");
    abandon(s, job, SaveEnd::not_opened, -1, -1);
    return;
  }
  const int archive_fd =
      archive ? open(take_temp_name, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644) : -1;
  const TrackWriteFn write_fn = s.track_write_fn != nullptr ? s.track_write_fn : ::pwrite;
  SaveEnd end = write_all_at(write_fn, fd, header, sizeof header, 0) ? SaveEnd::written
                                                                      : SaveEnd::write_failed;
  if (end == SaveEnd::written) end = write_audio(s, job, fd, archive_fd);
  if (end != SaveEnd::written) {
    abandon(s, job, end, fd, archive_fd);
    return;
  }

  char name[track_name_max];
  save_target_name(name, job.track, job.slot);
  if (commit_durably(fd, track_temp_name, name) != 0) {
    abandon(s, job, SaveEnd::write_failed, -1, archive_fd);
    return;
  }
  set_track_name(s, job.track, name);
  if (job.requested) {
    end_request(s, 0);
  } else {
    EngineLockGuard lock;
    if (unchanged(job)) tracks[job.track].audio_saved = 1;
  }
  archive_take(s, job.track, archive_fd);
}
