// Saving and loading tracks through the storage thread's passes: the file format and its
// checks, the durable replacement, the hand-over of a loaded loop to the main loop, erasing.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "tests/fixtures/storage_test_fixture.h"

namespace {

TrackFileWords odd_words(int32_t length) {
  TrackFileWords w{};
  w.word_1 = 4242;
  w.multiple = length / 2;
  w.rate = -256;  // reversed
  w.loop_end = -1;
  w.loop_start = length - 1;
  w.atten = 6;
  w.pan = -12;
  w.vsp = 300;
  w.clock_source = 1;
  w.clock_period = 1234.5;
  return w;
}

void give_words(Track& v, const TrackFileWords& w) {
  v.word_1 = w.word_1;
  v.multiple = w.multiple;
  v.rate = w.rate;
  v.half_speed = w.half_speed;
  v.loop_end = w.loop_end;
  v.loop_start = w.loop_start;
  v.atten = w.atten;
  v.pan = w.pan;
  v.vsp = w.vsp;
  v.clock_source = w.clock_source;
  v.clock_period = w.clock_period;
}

// The blocks are attached a batch at a time: a loop across several batches, its last block
// partly filled, comes back whole.
TEST_F(StorageTest, ALoopOfManyBatchesOfBlocksLoadsBackWhole) {
  constexpr int32_t length = (2 * pool_batch_blocks + 3) * block_frames + 7;
  make_loop(1, length);
  tracks[1].audio_changed = 1;
  const std::string audio = loop_bytes(1);
  pass();
  restart();
  EXPECT_EQ(tracks[1].length, length);
  EXPECT_EQ(block_counts.track[1], 2 * pool_batch_blocks + 4);
  EXPECT_EQ(loop_bytes(1), audio);
}

TEST_F(StorageTest, AWholeNumberOfBlocksSavesAndLoadsBackWithItsHeaderApplied) {
  constexpr int32_t length = 2 * block_frames;
  make_loop(2, length);
  give_words(tracks[2], odd_words(length));
  tracks[2].audio_changed = 1;
  const std::string audio = loop_bytes(2);

  pass();
  const std::string saved = file("track3.dat");
  ASSERT_EQ(saved.size(), size_t(track_header_bytes) + audio.size());
  EXPECT_EQ(saved.substr(track_header_bytes), audio);
  EXPECT_EQ(reported_name(2), "track3.dat");
  EXPECT_EQ(tracks[2].audio_changed, 0);
  EXPECT_EQ(tracks[2].audio_saved, 1);
  EXPECT_FALSE(exists(track_temp_name));

  restart();
  const Track& v = tracks[2];
  EXPECT_EQ(v.length, length);
  EXPECT_EQ(loop_bytes(2), audio);
  const TrackFileWords w = odd_words(length);
  EXPECT_EQ(v.word_1, w.word_1);
  EXPECT_EQ(v.multiple, w.multiple);
  EXPECT_EQ(v.rate, w.rate);
  EXPECT_EQ(v.loop_end, w.loop_end);
  EXPECT_EQ(v.loop_start, w.loop_start);
  EXPECT_EQ(v.atten, w.atten);
  EXPECT_EQ(v.pan, w.pan);
  EXPECT_EQ(v.vsp, w.vsp);
  EXPECT_EQ(v.clock_source, w.clock_source);
  EXPECT_EQ(v.clock_period, w.clock_period);
  EXPECT_EQ(v.position, 0);
  EXPECT_EQ(v.segment_count, 1);
  EXPECT_EQ(v.audio_changed, 0);
  EXPECT_EQ(v.audio_saved, 1);
  EXPECT_EQ(state_of(2), track_stopped);
  EXPECT_TRUE(on_list(engine_state.muted_list, 2));
  // Loading erased the track before the new blocks went in; its file stays.
  EXPECT_EQ(file("track3.dat"), saved);
  EXPECT_EQ(reported_name(2), "track3.dat");
  EXPECT_EQ(reported_name(0), "(empty)");
  // The loaded loop plays.
  ASSERT_EQ(play_track(2), 0);
  EXPECT_TRUE(on_list(engine_state.play_list, 2));
}

TEST_F(StorageTest, ABadFileIsRefusedWithItsStatusAndTheTrackKeepsItsLoop) {
  constexpr int32_t length = 1000;
  std::string flipped = track_file(take_file_words(length), length);
  flipped[10] ^= 0x04;
  std::string wrong_format = track_file(take_file_words(length), length);
  wrong_format[0] = 47;
  wrong_format[2] = wrong_format[3] = 0;
  const uint16_t checksum = config_checksum(reinterpret_cast<const uint16_t*>(wrong_format.data()),
                                            track_header_bytes / 2);
  memcpy(&wrong_format[2], &checksum, 2);
  const std::string good = track_file(take_file_words(length), length);
  const struct {
    const char* what;
    std::string bytes;
    int32_t result;
  } cases[] = {
      {"one flipped bit", flipped, -load_bad_checksum},
      {"format 47", wrong_format, -load_bad_format},
      {"header only", good.substr(0, track_header_bytes), -load_short},
      {"short header", good.substr(0, 100), -load_short},
      {"half a frame", good.substr(0, good.size() - 4), -load_short},
  };
  make_loop(1, 3000);
  const std::string before = loop_bytes(1);
  for (const auto& c : cases) {
    write("save1.dat", c.bytes);
    ASSERT_EQ(request_load(1, 1), 0) << c.what;
    pass();
    EXPECT_EQ(load_result(), c.result) << c.what;
    EXPECT_EQ(loop_bytes(1), before) << c.what;
  }
  unlink("save1.dat");
  ASSERT_EQ(request_load(1, 1), 0);
  pass();
  EXPECT_EQ(load_result(), -load_missing);

  // At start-up the track of a bare header stays empty.
  write("track4.dat", good.substr(0, track_header_bytes));
  restart();
  EXPECT_EQ(tracks[3].length, 0);
  EXPECT_EQ(state_of(3), track_empty);
}

TEST_F(StorageTest, TwoLoadsInARowPrintBusyForTheSecond) {
  write("save2.dat", track_file(take_file_words(500), 500));
  EXPECT_EQ(request_load(0, 2), 0);
  EXPECT_EQ(request_load(1, 2), status_busy);
  EXPECT_EQ(take_console_output(), "Busy, can't load\n");
  EXPECT_EQ(load_result(), 0);
  pass();
  EXPECT_EQ(load_result(), 100);
  EXPECT_EQ(tracks[0].length, 500);
  EXPECT_EQ(tracks[1].length, 0);
  // A slot is not the track's own file: the loop is saved there on the next pass.
  EXPECT_EQ(reported_name(0), "save2.dat");
  EXPECT_EQ(tracks[0].audio_changed, 1);
  pass();
  EXPECT_EQ(file("track1.dat"), file("save2.dat"));
  EXPECT_EQ(reported_name(0), "track1.dat");
}

TEST_F(StorageTest, ALoadSwapsOutAPlayingLoopButNotARecordingOne) {
  write("save1.dat", track_file(take_file_words(700), 700));
  make_loop(0, 5000, true);
  ASSERT_EQ(request_load(0, 1), 0);
  pass();
  EXPECT_EQ(load_result(), 100);
  EXPECT_EQ(tracks[0].length, 700);
  EXPECT_EQ(state_of(0), track_stopped);

  ASSERT_EQ(start_record(1, sync_free, 0), 0);
  run_frames(100);
  ASSERT_EQ(request_load(1, 1), 0);
  pass();
  EXPECT_EQ(load_result(), -load_track_busy);
  EXPECT_EQ(engine_state.record_track, 1);
}

TEST_F(StorageTest, ErasingATrackDeletesItsFileAndReportsItEmpty) {
  make_loop(5, 3000);
  tracks[5].audio_changed = 1;
  pass();
  ASSERT_TRUE(exists("track6.dat"));
  EXPECT_EQ(reported_name(5), "track6.dat");
  ASSERT_EQ(erase_track(5), 0);
  pass();
  EXPECT_FALSE(exists("track6.dat"));
  EXPECT_EQ(reported_name(5), "(empty)");
}

TEST_F(StorageTest, AnExplicitSaveWritesItsSlotAndLeavesTheAutomaticSaveDue) {
  make_loop(3, block_frames + 5);
  tracks[3].audio_changed = 1;
  request_save(3, 7);
  EXPECT_EQ(save_state(), -1);
  pass();
  EXPECT_EQ(save_state(), 0);
  EXPECT_EQ(save_percent(), 100);
  EXPECT_EQ(file("save7.dat").substr(track_header_bytes), loop_bytes(3));
  EXPECT_EQ(reported_name(3), "save7.dat");
  EXPECT_FALSE(exists("track4.dat"));
  EXPECT_EQ(tracks[3].audio_changed, 1);
  pass();
  EXPECT_TRUE(exists("track4.dat"));

  request_save(6, 1);  // an empty track
  pass();
  EXPECT_EQ(save_state(), 1);
}

// A write stand-in that erases track 0 at the first audio write, as a user might mid-save.
ssize_t erase_while_writing(int fd, const void* data, size_t length, off_t at) {
  if (at >= track_header_bytes) erase_track(0);
  return pwrite(fd, data, length, at);
}
// One that releases an unrelated block, so the block just written might have been reused.
int32_t* spare_block;
ssize_t release_while_writing(int fd, const void* data, size_t length, off_t at) {
  if (spare_block != nullptr && at >= track_header_bytes) {
    pool_free(spare_block);
    spare_block = nullptr;
  }
  return pwrite(fd, data, length, at);
}
ssize_t fail_writing_audio(int fd, const void* data, size_t length, off_t at) {
  if (at > track_header_bytes) {
    errno = EIO;
    return -1;
  }
  return pwrite(fd, data, length, at);
}

TEST_F(StorageTest, ASaveThatCannotFinishLeavesTheOldFileWhole) {
  make_loop(0, 3 * block_frames);
  tracks[0].audio_changed = 1;
  pass();
  const std::string old_file = file("track1.dat");

  // The track is rewritten and then the disk fails midway.
  track_blocks[0][1][0] = 99;
  tracks[0].audio_changed = 1;
  storage.track_write_fn = fail_writing_audio;
  pass();
  EXPECT_EQ(take_console_output(), "Track 1 not saved: Input/output error; trying again\n");
  EXPECT_EQ(file("track1.dat"), old_file);
  EXPECT_FALSE(exists(track_temp_name));

  // An unrelated release while a block is written: that block is written again.
  storage.track_write_fn = release_while_writing;
  spare_block = pool_alloc_any();
  tracks[0].audio_changed = 1;
  pass();
  EXPECT_EQ(file("track1.dat").substr(track_header_bytes), loop_bytes(0));
  EXPECT_EQ(tracks[0].audio_changed, 0);

  // The track is erased midway: no file takes its name, and the erase then deletes it.
  storage.track_write_fn = erase_while_writing;
  tracks[0].audio_changed = 1;
  pass();
  EXPECT_FALSE(exists(track_temp_name));
  pass();
  EXPECT_FALSE(exists("track1.dat"));
  EXPECT_EQ(reported_name(0), "(empty)");
}

TEST_F(StorageTest, ATrackThatIsRecordedIsNotSavedUntilItHasFinished) {
  inline_input = {1000, -1000, true};
  ASSERT_EQ(start_record(4, sync_free, 0), 0);
  run_frames(3000);
  pass();
  EXPECT_FALSE(exists("track5.dat"));
  ASSERT_EQ(close_loop(4), 0);
  ASSERT_EQ(end_overdub(4), 0);
  pass();
  ASSERT_TRUE(exists("track5.dat"));
  EXPECT_EQ(file("track5.dat").size(), size_t(track_header_bytes) + loop_bytes(4).size());
}

}  // namespace
