#include "storage/track_save.h"

#include <fcntl.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "core/console.h"
#include "core/lock.h"
#include "engine/track_ops.h"
#include "storage/sessions.h"

namespace {

// A block that changed while it was being written (a block released anywhere, which could have
// been this one reused, or a destructive fade scaling its frames) is written again from the
// track's current reference, after a pause that lets the audio period in progress end; after
// this many tries the save gives up and the track is saved later.
constexpr int block_write_attempts = 8;
constexpr long rewrite_pause_ns = 2000000;  // 2 ms

// A failed automatic save is tried again after 1 s, then after twice the previous wait, at
// most 30 s.
constexpr int64_t first_retry_ms = 1000;
constexpr int64_t longest_retry_ms = 30000;

// A hole in a loop plays as silence and is saved as silence.
constexpr int32_t silent_block[block_words] = {};

struct SaveJob {
  int32_t track;
  int32_t slot;    // > 0: an explicit save into this slot
  bool requested;  // the track of the explicit request
  bool fresh;      // the track changed since its last save began (not a retry alone)
  int32_t length;  // frames, when the save began
  TrackFileWords words;
};

enum class Choice { none, chosen, request_failed };
enum class SaveEnd { written, failed, track_changed };

struct SaveOutcome {
  SaveEnd end;
  int error;  // errno of a failed save
};

int64_t now_ms(const StorageThread& s) {
  if (s.clock_ms_fn != nullptr) return s.clock_ms_fn();
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return int64_t(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

// Bytes of the track file of a loop of length frames.
int64_t file_bytes(int32_t length) {
  return track_header_bytes + int64_t(length) * bytes_per_frame;
}

// Still the loop the save began with: same length, no role. Caller holds the engine lock.
bool unchanged(const SaveJob& job) REQUIRES(engine_capability) {
  return tracks[job.track].length == job.length && !track_in_role(job.track);
}

// Takes the snapshot of track t under the lock the caller holds. An automatic save clears the
// change mark at once, so changes made while it writes schedule another save.
void take_job(SaveJob& job, int32_t t, int32_t slot, bool requested) REQUIRES(engine_capability) {
  expect_engine_lock(__func__);
  Track& v = tracks[t];
  job = {t, slot, requested, v.audio_changed != 0, v.length, track_file_words(v)};
  if (!requested) {
    v.audio_changed = 0;
    v.audio_saved = 0;
  }
}

// The failed saves whose turn has come: their back-off has passed, the disk they filled has
// room for them again, or the looper quits. Outside the engine lock (it may ask the file system).
uint32_t retries_due(const StorageThread& s) {
  const uint32_t unsaved = s.unsaved.load();
  if (unsaved == 0 || s.retry_at_once.load() != 0) return unsaved;
  const int64_t now = now_ms(s);
  int64_t free = -1;
  uint32_t due = 0;
  for (int32_t t = 0; t < track_count; t++) {
    const uint32_t bit = 1u << t;
    if (!(unsaved & bit)) continue;
    if (now >= s.retry_at_ms[t]) {
      due |= bit;
    } else if (s.retry_room_bytes[t] > 0) {
      if (free < 0) free = free_space_bytes(s);
      if (free >= s.retry_room_bytes[t]) due |= bit;
    }
  }
  return due;
}

Choice choose(StorageThread& s, SaveJob& job, uint32_t due) {
  const bool pending = s.save_pending.load(std::memory_order_acquire) == save_ready;
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
    const uint32_t bit = 1u << t;
    if (v.length == 0) {
      s.unsaved.fetch_and(~bit);  // erased: nothing is left to save
      continue;
    }
    if (track_in_role(t) || (v.audio_changed == 0 && !(due & bit))) continue;
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

// 0, or the errno of the write that failed.
int write_all_at(TrackWriteFn write_fn, int fd, const void* data, size_t length, off_t at) {
  const auto* p = static_cast<const uint8_t*>(data);
  while (length > 0) {
    errno = 0;
    const ssize_t n = write_fn(fd, p, length, at);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return n < 0 && errno != 0 ? errno : EIO;
    p += n;
    at += n;
    length -= size_t(n);
  }
  return 0;
}

// Writes the loop block by block straight from the pool, to the track file after its header and
// to the archive copy from its start. The engine lock is held only to look up a block and, after
// writing it, to see that nothing changed it meanwhile: no block was released (which could have
// reused it) and no fade scaled its frames. So each block of the file is the block as it stood
// at one moment, never part before and part after a fade's pass.
SaveOutcome write_audio(StorageThread& s, const SaveJob& job, int fd, int archive_fd) {
  const TrackWriteFn write_fn = s.track_write_fn != nullptr ? s.track_write_fn : ::pwrite;
  EngineState& e = engine_state;
  for (int32_t b = 0; b * block_frames < job.length; b++) {
    const int32_t frames = job.length - b * block_frames;
    const size_t bytes = size_t(frames < block_frames ? frames : block_frames) * bytes_per_frame;
    const off_t at = off_t(b) * block_bytes;
    bool written = false;
    for (int attempt = 0; attempt < block_write_attempts && !written; attempt++) {
      if (attempt > 0) {
        const timespec pause{0, rewrite_pause_ns};
        nanosleep(&pause, nullptr);
      }
      const int32_t* block;
      uint32_t releases;
      uint32_t fade_writes;
      {
        EngineLockGuard lock;
        if (!unchanged(job)) return {SaveEnd::track_changed, 0};
        block = track_blocks[job.track][b];
        releases = pool.releases.load(std::memory_order_acquire);
        e.saving_block = block;
        fade_writes = e.saving_block_writes;
      }
      if (block == nullptr) block = silent_block;
      int error = write_all_at(write_fn, fd, block, bytes, track_header_bytes + at);
      if (error == 0 && archive_fd >= 0)
        error = write_all_at(write_fn, archive_fd, block, bytes, at);
      EngineLockGuard lock;
      e.saving_block = nullptr;
      if (error != 0) return {SaveEnd::failed, error};
      if (!unchanged(job)) return {SaveEnd::track_changed, 0};
      written = pool.releases.load(std::memory_order_acquire) == releases &&
                e.saving_block_writes == fade_writes;
    }
    if (!written) return {SaveEnd::track_changed, 0};
    s.save_blocks_done = b + 1;
  }
  return {SaveEnd::written, 0};
}

// An automatic save of track t failed: it is tried again after the back-off, which starts anew
// when the track changed since the last try. The console hears of it once, until it is saved.
void schedule_retry(StorageThread& s, const SaveJob& job, int error) {
  const int32_t t = job.track;
  const uint32_t bit = 1u << t;
  const bool failed_before = (s.unsaved.load() & bit) != 0;
  int64_t delay = s.retry_delay_ms[t] * 2;
  if (job.fresh || !failed_before || delay < first_retry_ms) delay = first_retry_ms;
  if (delay > longest_retry_ms) delay = longest_retry_ms;
  s.retry_delay_ms[t] = delay;
  s.retry_at_ms[t] = now_ms(s) + delay;
  // A full disk: the save is due as soon as the file fits, which the next passes look at.
  const bool no_room = error == ENOSPC || error == EDQUOT;
  s.retry_room_bytes[t] = 0;
  if (no_room) {
    const int64_t free = free_space_bytes(s);
    const int64_t need = file_bytes(job.length);
    // Room that already looked enough did not do: only more than there is now will.
    s.retry_room_bytes[t] = free >= need ? free + 1 : need;
  }
  s.save_error[t] = error;
  s.unsaved.fetch_or(bit);
  if (!failed_before)
    console_printf("Track %d not saved: %s; trying again\n", int(t + 1), strerror(error));
}

// The save did not take the file's name: the old file stays as it was.
void abandon(StorageThread& s, const SaveJob& job, SaveOutcome outcome, int fd, int archive_fd) {
  if (fd >= 0) close(fd);
  if (archive_fd >= 0) close(archive_fd);
  unlink(track_temp_name);
  if (archive_fd >= 0) unlink(take_temp_name);
  if (job.requested) {
    if (outcome.end == SaveEnd::failed)
      console_printf("Track %d not saved to slot %d: %s\n", int(job.track + 1), int(job.slot),
                     strerror(outcome.error));
    end_request(s, 1);
  } else if (outcome.end == SaveEnd::track_changed) {
    // Whatever the loop holds now still has to reach its file.
    EngineLockGuard lock;
    if (tracks[job.track].length != 0) tracks[job.track].audio_changed = 1;
  } else {
    schedule_retry(s, job, outcome.error);
  }
}

}  // namespace

void save_one_track(StorageThread& s) {
  SaveJob job;
  const Choice choice = choose(s, job, retries_due(s));
  if (choice == Choice::request_failed) end_request(s, 1);
  if (choice != Choice::chosen) return;

  uint8_t header[track_header_bytes];
  build_track_header(job.words, header);
  s.save_blocks = (job.length + block_frames - 1) / block_frames;
  s.save_blocks_done = 0;
  const bool archive = archive_space_left(s) && job.slot == 0;

  const int fd = open(track_temp_name, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) {
    abandon(s, job, {SaveEnd::failed, errno}, -1, -1);
    return;
  }
  const int archive_fd =
      archive ? open(take_temp_name, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644) : -1;
  const TrackWriteFn write_fn = s.track_write_fn != nullptr ? s.track_write_fn : ::pwrite;
  const int header_error = write_all_at(write_fn, fd, header, sizeof header, 0);
  const SaveOutcome outcome = header_error != 0 ? SaveOutcome{SaveEnd::failed, header_error}
                                                : write_audio(s, job, fd, archive_fd);
  if (outcome.end != SaveEnd::written) {
    abandon(s, job, outcome, fd, archive_fd);
    return;
  }

  char name[track_name_max];
  save_target_name(name, job.track, job.slot);
  if (commit_durably(fd, track_temp_name, name) != 0) {
    abandon(s, job, {SaveEnd::failed, errno}, -1, archive_fd);
    return;
  }
  set_track_name(s, job.track, name);
  if (job.requested) {
    end_request(s, 0);
  } else {
    {
      EngineLockGuard lock;
      if (unchanged(job)) tracks[job.track].audio_saved = 1;
    }
    const uint32_t bit = 1u << job.track;
    if (s.unsaved.fetch_and(~bit) & bit) console_printf("Track %d saved\n", int(job.track + 1));
  }
  archive_take(s, job.track, archive_fd);
}
