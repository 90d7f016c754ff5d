#include "engine/undo.h"

#include <functional>

#include "engine/editing.h"
#include "engine/track_load.h"
#include "core/lock_statistics.h"
#include "tests/fixtures/looper_test_fixture.h"

namespace {

class UndoTest : public LooperTest {
 protected:
  // Writes value into every left sample of track t's blocks.
  static void fill_track(int32_t t, int32_t value) {
    for (int32_t b = 0; b < pool_blocks && track_blocks[t][b] != nullptr; b++)
      for (int32_t i = 0; i < block_frames; i++) track_blocks[t][b][2 * i] = value;
  }
  static const UndoHeader& header(int32_t t) { return undo_areas[t].header; }
  // Leaves track t's undone take (222) in the redo slot and the saved one (111) in the track.
  void undo_into_the_redo_slot(int32_t t) {
    make_loop(t, block_frames);
    fill_track(t, 111);
    ASSERT_EQ(undo_save(tracks[t], t, undo_full_copy), 0);
    fill_track(t, 222);
    ASSERT_EQ(undo(t), 0);
    ASSERT_EQ(engine_state.redo_track, t);
  }
};

// Work on many blocks takes the engine lock once per batch of blocks, never once per block, so
// the audio thread is asked to let go a few dozen times, not thousands.
TEST_F(UndoTest, WorkOnManyBlocksTakesTheLockOncePerBatch) {
  const auto holds_of = [](const std::function<void()>& work) {
    LockReport report;
    lock_statistics_take(report);  // clears the count
    work();
    lock_statistics_take(report);
    return report.holds;
  };
  constexpr int32_t blocks = 2000;
  constexpr uint32_t batches = blocks / pool_batch_blocks + 1;
  constexpr uint32_t scans = pool_blocks / pool_batch_entries + 1;
  EXPECT_LE(holds_of([] { ASSERT_TRUE(fill_block_refs(std::span(track_blocks[0], blocks))); }),
            batches + scans);
  EXPECT_EQ(block_counts.track[0], blocks);
  EXPECT_LE(holds_of([] { release_track_blocks(0); }), 2 * batches + scans);
  EXPECT_EQ(block_counts.track[0], 0);

  make_loop(1, 100 * block_frames);
  for (int i = 0; i < 5; i++) ASSERT_EQ(undo_save(tracks[1], 1, undo_full_copy), 0);
  EXPECT_EQ(block_counts.undo[1], 500);
  // Each level of the ring is one batch at most.
  EXPECT_LE(holds_of([] { undo_clear(1); }), 2 * uint32_t(undo_levels) + 1);
  EXPECT_EQ(block_counts.undo[1], 0);
}

TEST_F(UndoTest, ThirtyThreeSavesKeepThirtyTwoLevels) {
  make_loop(0, 10000);
  for (int i = 0; i < 33; i++) ASSERT_EQ(undo_save(tracks[0], 0, undo_length_only), 0);
  EXPECT_EQ(undo_level_count(0), 32);
  EXPECT_EQ(header(0).newest_level, 0);  // the 33rd overwrote level 0
  EXPECT_EQ(header(0).oldest_level, 1);
  ASSERT_EQ(undo_save(tracks[0], 0, undo_length_only), 0);
  EXPECT_EQ(header(0).newest_level, 1);
  EXPECT_EQ(header(0).oldest_level, 2);
}

TEST_F(UndoTest, UndoOfTheOnlyLevelEmptiesTheRing) {
  make_loop(0, 10000);
  ASSERT_EQ(undo_save(tracks[0], 0, undo_length_only), 0);
  EXPECT_EQ(undo(0), 0);
  EXPECT_EQ(header(0).newest_level, -1);
  EXPECT_EQ(header(0).oldest_level, -1);
  EXPECT_EQ(undo(0), -22);
}

TEST_F(UndoTest, UndoRefusesBadTracksEmptyTracksAndActiveRoles) {
  make_loop(1, 10000, true);
  ASSERT_EQ(undo_save(tracks[1], 1, undo_length_only), 0);
  EXPECT_EQ(undo(-1), -22);
  EXPECT_EQ(undo(8), -22);
  EXPECT_EQ(undo(0), -22);  // empty
  engine_state.overdub_track = 1;
  EXPECT_EQ(undo(1), -22);
  engine_state.overdub_track = -1;
  EXPECT_EQ(undo(1), 0);
}

TEST_F(UndoTest, UndoRedoRedoSwapsTheAudioBackAndForth) {
  make_loop(2, 2 * block_frames);
  fill_track(2, 111);
  const int available = pool_available();
  ASSERT_EQ(undo_save(tracks[2], 2, undo_full_copy), 0);
  EXPECT_EQ(pool_available(), available - 2);
  fill_track(2, 222);

  ASSERT_EQ(undo(2), 0);
  EXPECT_EQ(left_sample(2, 100), 111);
  EXPECT_EQ(left_sample(2, block_frames + 5), 111);
  EXPECT_EQ(engine_state.redo_track, 2);
  EXPECT_EQ(engine_state.redo_length, 2 * block_frames);
  EXPECT_EQ(tracks[2].audio_changed, 1);
  ASSERT_EQ(redo(), 0);
  EXPECT_EQ(left_sample(2, 100), 222);
  ASSERT_EQ(redo(), 0);
  EXPECT_EQ(left_sample(2, block_frames + 5), 111);
  EXPECT_EQ(pool_available(), available - 2);  // the other take waits in the redo slot

  tracks[2].length = 5;
  EXPECT_EQ(redo(), -22);  // the track no longer has the length the slot belongs to
}

TEST_F(UndoTest, AnotherTracksUndoTakesOverTheRedoSlot) {
  make_loop(2, block_frames);
  make_loop(4, block_frames);
  const int available = pool_available();
  ASSERT_EQ(undo_save(tracks[2], 2, undo_full_copy), 0);
  ASSERT_EQ(undo_save(tracks[4], 4, undo_full_copy), 0);
  fill_track(4, 9);
  ASSERT_EQ(undo(2), 0);
  ASSERT_EQ(undo(4), 0);
  EXPECT_EQ(engine_state.redo_track, 4);
  EXPECT_EQ(pool_available(), available - 1);  // track 3's redo block went back to the pool
  ASSERT_EQ(redo(), 0);
  EXPECT_EQ(left_sample(4, 0), 9);
}

TEST_F(UndoTest, EraseDropsTheTracksRedoSlot) {
  undo_into_the_redo_slot(1);
  const int available = pool_available();
  ASSERT_EQ(erase_track(1), 0);
  EXPECT_EQ(engine_state.redo_track, -1);
  EXPECT_EQ(pool_available(), available + 2);  // the track's block and the redo slot's
  make_loop(1, block_frames);                  // a new take of the same length
  fill_track(1, 333);
  EXPECT_EQ(redo(), status_refused);
  EXPECT_EQ(left_sample(1, 0), 333);
}

TEST_F(UndoTest, ANewRecordingDropsTheTracksRedoSlot) {
  undo_into_the_redo_slot(1);
  ASSERT_EQ(start_record(1, sync_free, 0), 0);
  EXPECT_EQ(engine_state.redo_track, -1);
  ASSERT_TRUE(run_until([] { return tracks[1].length == block_frames; }));
  ASSERT_EQ(close_loop(1), 0);
  ASSERT_EQ(end_overdub(1), 0);
  ASSERT_EQ(tracks[1].length, block_frames);  // the length the old redo belonged to
  EXPECT_EQ(redo(), status_refused);
  EXPECT_EQ(left_sample(1, 100), 0);  // the silent take stays
}

TEST_F(UndoTest, IncrementalSaveCopiesFromThePlayHeadOneBlockPerTick) {
  make_loop(0, 8 * block_frames, true, 2 * block_frames + 10);
  fill_track(0, 7);
  ASSERT_EQ(undo_save(tracks[0], 0, undo_incremental), 0);
  const UndoHeader& h = header(0);
  const UndoLevel& level = undo_areas[0].levels[0];
  EXPECT_EQ(h.saving_level, 0);
  EXPECT_EQ(h.newest_level, -1);
  EXPECT_EQ(h.save_next_block, 7);  // blocks 2-6 copied at once
  EXPECT_EQ(h.save_last_block, 1);
  for (int b : {2, 3, 4, 5, 6}) EXPECT_NE(level.blocks[b], nullptr) << b;
  EXPECT_EQ(level.blocks[7], nullptr);
  EXPECT_EQ(level.blocks[1], nullptr);

  transport_update();
  transport_update();
  EXPECT_EQ(h.save_next_block, 1);  // wrapped past the end
  EXPECT_EQ(h.newest_level, -1);
  transport_update();
  EXPECT_EQ(h.newest_level, 0);
  EXPECT_EQ(h.saving_level, -1);
  EXPECT_EQ(level.blocks[1][0], 7);
}

TEST_F(UndoTest, ReversedIncrementalSaveRunsBackwards) {
  make_loop(0, 8 * block_frames, true, 1 * block_frames);
  tracks[0].rate = -256;
  ASSERT_EQ(undo_save(tracks[0], 0, undo_incremental), 0);
  EXPECT_EQ(header(0).save_direction, -1);
  EXPECT_EQ(header(0).save_last_block, 2);
  EXPECT_EQ(header(0).save_next_block, 4);  // 1, 0, 7, 6, 5 copied
}

TEST_F(UndoTest, IncrementalSaveFailureReturnsTheLevelsBlocks) {
  make_loop(0, 8 * block_frames, true);
  ASSERT_EQ(undo_save(tracks[0], 0, undo_length_only), 0);
  held.hold_all_but(6);
  const int available = pool_available();
  ASSERT_EQ(undo_save(tracks[0], 0, undo_incremental), 0);
  EXPECT_EQ(pool_available(), 1);
  undo_save_step(0);  // block 5 copied
  undo_save_step(0);  // no block left
  EXPECT_EQ(console_text(), "Undo save failed.\n");
  EXPECT_EQ(header(0).saving_level, -1);
  EXPECT_EQ(header(0).newest_level, 0);  // the earlier level is still the newest
  EXPECT_EQ(undo_level_count(0), 1);
  EXPECT_EQ(pool_available(), available);
}

TEST_F(UndoTest, FullCopyFailureReturnsItsBlocksAndKeepsTheRing) {
  make_loop(0, 4 * block_frames);
  ASSERT_EQ(undo_save(tracks[0], 0, undo_length_only), 0);
  held.hold_all_but(3);
  const int available = pool_available();
  EXPECT_EQ(undo_save(tracks[0], 0, undo_full_copy), -12);
  EXPECT_EQ(pool_available(), available);
  EXPECT_EQ(header(0).newest_level, 0);
  EXPECT_EQ(header(0).oldest_level, 0);
  EXPECT_EQ(undo_level_count(0), 1);
}

TEST_F(UndoTest, TracksTooLongForAudioLevelsKeepOnlyLengths) {
  tracks[0].length = undo_max_length;
  EXPECT_EQ(undo_save(tracks[0], 0, undo_incremental), -22);
  EXPECT_EQ(undo_save(tracks[0], 0, undo_full_copy), -22);
  EXPECT_EQ(undo_save(tracks[0], 0, undo_length_only), 0);
  EXPECT_EQ(undo_level_count(0), 1);
}

TEST_F(UndoTest, LengthUndoWrapsThePositionIntoTheSavedLength) {
  make_loop(0, 48000, true);
  ASSERT_EQ(undo_save(tracks[0], 0, undo_length_only), 0);
  tracks[0].length = 150000;
  tracks[0].position = 100000;
  ASSERT_EQ(undo(0), 0);
  EXPECT_EQ(tracks[0].position, 4000);
  EXPECT_EQ(tracks[0].length, 48000);
  EXPECT_EQ(tracks[0].loop_end, 48000);
  EXPECT_EQ(engine_state.redo_track, -1);  // nothing to redo
}

TEST_F(UndoTest, FirstTakeUndoRestoresTheLengthAndDropsTheRedo) {
  make_loop(0, 20000, true, 10000);
  ASSERT_EQ(undo_save(tracks[0], 0, undo_first_take), 0);
  tracks[0].length = 40000;
  ASSERT_EQ(undo(0), 0);
  EXPECT_EQ(tracks[0].length, 20000);
  EXPECT_EQ(tracks[0].position, 5000);  // scaled with the length
  EXPECT_EQ(engine_state.redo_track, -1);
}

// Undoing the first take of an empty track leaves it empty, and its saved file is deleted so the
// take does not come back at the next start; undoing a later take keeps the file (it is saved
// again).
TEST_F(UndoTest, FirstTakeUndoToEmptyForgetsTheTracksFile) {
  static int forgotten;
  forgotten = -1;
  track_file_hooks.forget = [](int32_t t) { forgotten = t; };
  make_loop(2, 20000);
  ASSERT_EQ(undo_save(tracks[2], 2, undo_first_take), 0);
  tracks[2].length = 40000;
  ASSERT_EQ(undo(2), 0);
  EXPECT_EQ(forgotten, -1);

  tracks[3].length = 0;
  ASSERT_EQ(undo_save(tracks[3], 3, undo_first_take), 0);
  make_loop(3, 20000);
  ASSERT_EQ(undo(3), 0);
  EXPECT_EQ(tracks[3].length, 0);
  EXPECT_EQ(forgotten, 3);
}

TEST_F(UndoTest, ScrambleLevelTakesTheRestoreBlocks) {
  make_loop(0, 2 * block_frames);
  int32_t* restore[2] = {take_zeroed_block(), take_zeroed_block()};
  set_block_ref(unscramble_blocks[0][0], restore[0]);
  set_block_ref(unscramble_blocks[0][1], restore[1]);
  tracks[0].scrambled = 1;
  ASSERT_EQ(undo_save(tracks[0], 0, undo_scramble), 0);
  EXPECT_EQ(unscramble_blocks[0][0], nullptr);
  EXPECT_EQ(tracks[0].scrambled, 0);
  int32_t* scrambled = track_blocks[0][0];
  ASSERT_EQ(undo(0), 0);
  EXPECT_EQ(track_blocks[0][0], restore[0]);
  EXPECT_EQ(redo_blocks[0], scrambled);
}

TEST_F(UndoTest, MemoryReserveDropsTheOldestLevelOfTheBusiestTrack) {
  make_loop(1, block_frames);
  make_loop(2, block_frames);
  for (int i = 0; i < 2; i++) ASSERT_EQ(undo_save(tracks[1], 1, undo_full_copy), 0);
  for (int i = 0; i < 3; i++) ASSERT_EQ(undo_save(tracks[2], 2, undo_full_copy), 0);
  transport_update();
  EXPECT_EQ(undo_level_count(2), 3);  // plenty of blocks: nothing dropped

  held.hold_all_but(undo_level_blocks - 2);
  const int available = pool_available();
  transport_update();
  EXPECT_EQ(undo_level_count(2), 2);
  EXPECT_EQ(header(2).oldest_level, 1);
  EXPECT_EQ(undo_level_count(1), 2);
  EXPECT_EQ(pool_available(), available + 1);
  transport_update();
  EXPECT_EQ(undo_level_count(1), 1);  // a tie goes to the lower track
  EXPECT_EQ(undo_level_count(2), 2);
  transport_update();  // the reserve is back
  EXPECT_EQ(undo_level_count(1), 1);
}

TEST_F(UndoTest, ClearReturnsEveryBlock) {
  make_loop(0, 3 * block_frames);
  const int available = pool_available();
  ASSERT_EQ(undo_save(tracks[0], 0, undo_full_copy), 0);
  ASSERT_EQ(undo_save(tracks[0], 0, undo_full_copy), 0);
  EXPECT_EQ(pool_available(), available - 6);
  undo_clear(0);
  EXPECT_EQ(pool_available(), available);
  EXPECT_EQ(undo_level_count(0), 0);
}

// The block counts the reports show are kept by the table writers: after each step of a session
// through recording, overdub, undo, redo, scramble, edits and erase they equal a full recount.
TEST_F(UndoTest, KeptBlockCountsEqualARecountAfterEveryStep) {
  struct Step {
    const char* name;
    std::function<void()> run;
  };
  const Step steps[] = {
      {"record",
       [] {
         ASSERT_EQ(start_record(0, sync_free, 0), 0);
         ASSERT_TRUE(run_until([] { return tracks[0].length >= 3 * block_frames + 100; }));
         ASSERT_EQ(close_loop(0), 0);
       }},
      {"overdub",
       [] {
         run_frames(2000);
         ASSERT_EQ(end_overdub(0), 0);
       }},
      {"full-copy save", [] { ASSERT_EQ(undo_save(tracks[0], 0, undo_full_copy), 0); }},
      {"undo", [] { ASSERT_EQ(undo(0), 0); }},
      {"redo", [] { ASSERT_EQ(redo(), 0); }},
      {"redo back", [] { ASSERT_EQ(redo(), 0); }},
      {"copy", [] { ASSERT_EQ(copy_track(0, 1), 0); }},
      {"stretch", [] { ASSERT_EQ(stretch_track(1, 2, 1.5f), 0); }},
      {"scramble", [] { ASSERT_EQ(scramble_track(0, 4), 0); }},
      {"undo scramble", [] { undo(0); }},
      {"test tone", [] { ASSERT_EQ(fill_test_tone(3), 0); }},
      {"erase", [] { ASSERT_EQ(erase_track(1), 0); }},
      {"clear history", [] { undo_clear(0); }},
  };
  bool saw_every_kind = false;
  for (const Step& step : steps) {
    SCOPED_TRACE(step.name);
    step.run();
    for (int i = 0; i < 200; i++) transport_update();
    ASSERT_TRUE(recount_blocks() == block_counts);
    saw_every_kind = saw_every_kind || (block_counts.track[0] > 0 && block_counts.undo[0] > 0);
  }
  EXPECT_TRUE(saw_every_kind);
}

}  // namespace
