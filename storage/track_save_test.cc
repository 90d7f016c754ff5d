// What a save does when the world moves under it: a disk that fills (the save is tried again
// with a back-off until it is written), a second "Save Audio" while one is pending (refused), and
// a destructive fade that scales the block being written (the block is written again).
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "tests/fixtures/storage_test_fixture.h"

namespace {

// The disk as the save sees it: full (every write fails with ENOSPC) or not; every save's first
// write (the header; the archive is off) noted with the test clock's time.
struct TestDisk {
  bool full = false;
  int64_t clock_ms = 0;
  std::vector<int64_t> attempts;
};
TestDisk disk;

int64_t test_clock() { return disk.clock_ms; }

ssize_t disk_write(int fd, const void* data, size_t length, off_t at) {
  if (at == 0) disk.attempts.push_back(disk.clock_ms);
  if (disk.full) {
    errno = ENOSPC;
    return -1;
  }
  return pwrite(fd, data, length, at);
}

class SaveRetryTest : public StorageTest {
 protected:
  void SetUp() override {
    StorageTest::SetUp();
    disk = TestDisk{};
    storage.track_write_fn = disk_write;
    storage.clock_ms_fn = test_clock;
    test_free_megabytes = 0;  // full: the archive is off from the first save on
  }
  // Passes at the given clock times.
  static void passes_until(int64_t until_ms, int64_t step_ms) {
    while (disk.clock_ms < until_ms) {
      disk.clock_ms += step_ms;
      pass();
    }
  }
};

TEST_F(SaveRetryTest, AFailedSaveIsTriedAgainWithABackOffUntilItIsWritten) {
  make_loop(1, 3000);
  tracks[1].audio_changed = 1;
  disk.full = true;
  pass();
  EXPECT_EQ(take_console_output(),
            "Insufficient space to archive: 0M\n"
            "Track 2 not saved: No space left on device; trying again\n");
  EXPECT_FALSE(exists("track2.dat"));
  EXPECT_FALSE(exists(track_temp_name));
  EXPECT_EQ(unsaved_tracks(), 1u << 1);

  // 1 s, then twice the wait each time, at most 30 s; the console hears nothing more.
  passes_until(95000, 250);
  EXPECT_EQ(disk.attempts, (std::vector<int64_t>{0, 1000, 3000, 7000, 15000, 31000, 61000, 91000}));
  EXPECT_EQ(take_console_output(), "");

  // Room again: the next pass writes the loop, long before its back-off ends, and says so once.
  disk.full = false;
  test_free_megabytes = 1;
  pass();
  EXPECT_EQ(file("track2.dat").substr(track_header_bytes), loop_bytes(1));
  EXPECT_EQ(take_console_output(), "Track 2 saved\n");
  EXPECT_EQ(unsaved_tracks(), 0u);
  EXPECT_EQ(tracks[1].audio_saved, 1);
  passes_until(disk.clock_ms + 40000, 1000);
  EXPECT_EQ(take_console_output(), "");
}

TEST_F(SaveRetryTest, AChangeIsTriedAtOnceAndAnEraseEndsTheRetries) {
  make_loop(0, 2000);
  tracks[0].audio_changed = 1;
  disk.full = true;
  pass();
  passes_until(3000, 1000);
  ASSERT_EQ(disk.attempts.size(), 3u);  // at 0, 1 s and 3 s: the next is due at 7 s
  take_console_output();

  // The loop changes: it is tried on the next pass, and the back-off starts again at 1 s.
  tracks[0].audio_changed = 1;
  pass();
  passes_until(4000, 1000);
  EXPECT_EQ(disk.attempts, (std::vector<int64_t>{0, 1000, 3000, 3000, 4000}));
  EXPECT_EQ(take_console_output(), "");  // still the same unsaved loop

  // More space that is still too little for the file does not bring the next try forward.
  test_free_megabytes = 0;
  storage.free_bytes_fn = [] { return int64_t(track_header_bytes); };
  pass();
  EXPECT_EQ(disk.attempts.size(), 5u);

  ASSERT_EQ(erase_track(0), 0);
  pass();
  EXPECT_EQ(unsaved_tracks(), 0u);
  passes_until(60000, 1000);
  EXPECT_EQ(disk.attempts.size(), 5u);
  EXPECT_EQ(take_console_output(), "");
}

TEST_F(SaveRetryTest, QuittingTriesAFailedSaveOnEveryPass) {
  make_loop(2, 2000);
  tracks[2].audio_changed = 1;
  disk.full = true;
  pass();
  storage_retry_at_once();
  pass();
  pass();
  EXPECT_EQ(disk.attempts, (std::vector<int64_t>{0, 0, 0}));
  disk.full = false;
  pass();
  EXPECT_TRUE(exists("track3.dat"));
  EXPECT_EQ(unsaved_tracks(), 0u);
}

TEST_F(StorageTest, ASecondExplicitSaveIsRefusedWhileTheFirstIsPending) {
  make_loop(3, 1000);
  make_loop(4, 2000);
  EXPECT_EQ(request_save(3, 7), 0);
  EXPECT_EQ(request_save(4, 8), status_busy);
  EXPECT_EQ(take_console_output(), "Busy, can't save\n");
  EXPECT_EQ(save_state(), -1);
  pass();
  EXPECT_EQ(save_state(), 0);
  EXPECT_EQ(file("save7.dat").substr(track_header_bytes), loop_bytes(3));
  EXPECT_FALSE(exists("save8.dat"));

  // Once the first has ended, the next request is taken.
  EXPECT_EQ(request_save(4, 8), 0);
  pass();
  EXPECT_EQ(save_state(), 0);
  EXPECT_EQ(file("save8.dat").substr(track_header_bytes), loop_bytes(4));
}

// A write stand-in that, at the first write of the block the loop plays in, writes half of it,
// lets the engine play on (a destructive fade scales the frames just written), then writes the
// rest, as a save racing the audio thread would.
int32_t fade_block;
bool fade_raced;
ssize_t fade_while_writing(int fd, const void* data, size_t length, off_t at) {
  const bool in_block = at == track_header_bytes + off_t(fade_block) * block_bytes;
  if (fade_raced || !in_block) return pwrite(fd, data, length, at);
  fade_raced = true;
  const size_t half = length / 2;
  if (pwrite(fd, data, half, at) != ssize_t(half)) return -1;
  run_frames(1000);
  const auto* rest = static_cast<const uint8_t*>(data) + half;
  return ssize_t(half) + pwrite(fd, rest, length - half, at + off_t(half));
}

// The first frame at which a file's audio differs from the loop, -1 when none does.
int64_t first_difference(const std::string& audio, const std::string& loop) {
  if (audio == loop) return -1;
  size_t i = 0;
  while (i < audio.size() && i < loop.size() && audio[i] == loop[i]) i++;
  return int64_t(i / bytes_per_frame);
}

TEST_F(StorageTest, ABlockThatAFadeScalesWhileItIsWrittenIsWrittenAgain) {
  const struct {
    const char* what;
    int32_t slot;
    const char* name;
  } cases[] = {
      {"automatic save", 0, "track1.dat"},
      {"slot save", 4, "save4.dat"},
  };
  for (const auto& c : cases) {
    looper_reset();
    config_defaults();
    for (int i = 0; i < clean_blocks; i++) pool_clean_one();
    engine_wait.run_frame = run_inline_frame;
    install_seams();
    // The loop plays in the first half of its second block, fading at feedback 50 %.
    make_loop(0, 2 * block_frames, true, block_frames + 100);
    tracks[0].fade_target = ramp_unity / 2;
    tracks[0].fade_gain = ramp_unity / 2;
    fade_block = 1;
    fade_raced = false;
    storage.track_write_fn = fade_while_writing;
    if (c.slot > 0) {
      ASSERT_EQ(request_save(0, c.slot), 0) << c.what;
    } else {
      tracks[0].audio_changed = 1;
    }
    pass();
    ASSERT_TRUE(fade_raced) << c.what;
    EXPECT_EQ(first_difference(file(c.name).substr(track_header_bytes), loop_bytes(0)), -1)
        << c.what;
    if (c.slot > 0) {
      EXPECT_EQ(save_state(), 0) << c.what;
    } else {
      EXPECT_EQ(first_difference(file("sess0/tr1_1.raw"), loop_bytes(0)), -1)
          << c.what;  // the take
    }
  }
}

}  // namespace
