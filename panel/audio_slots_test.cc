// "Load Audio" against the real storage thread, its passes run inline: the track keeps its loop
// and its file until the slot has been read whole.
#include <gtest/gtest.h>

#include <string>

#include "tests/fixtures/test_workdir.h"
#include "panel/audio_slots.h"
#include "panel/handlers.h"
#include "tests/fixtures/panel_test_fixture.h"
#include "storage/storage_thread.h"
#include "storage/track_file.h"

namespace {

constexpr int item_load_audio = 2;

class AudioSlotsStorageTest : public PanelTest {
 protected:
  void SetUp() override {
    PanelTest::SetUp();
    storage.wait_for_main_loop = storage_attach_service;  // the main loop's attach, inline
    storage.free_bytes_fn = [] { return int64_t(1) << 40; };
  }
  static void pass() {
    pthread_mutex_lock(&storage.storage_mutex);
    storage_pass();
    pthread_mutex_unlock(&storage.storage_mutex);
  }
  // Track k's "Load Audio" from slot `slot`, through the track menu.
  static void load_from_slot(int k, int slot) {
    press(track_keys[k - 1]);
    turn(item_load_audio);
    select();
    turn(slot - 1);
    select();
  }
  // A slot file of length frames whose frame i holds (7, -7).
  static std::string slot_file(int32_t length) {
    uint8_t header[track_header_bytes];
    build_track_header(take_file_words(length), header);
    std::string bytes(reinterpret_cast<const char*>(header), sizeof header);
    for (int32_t i = 0; i < length; i++) {
      const int32_t frame[2] = {7, -7};
      bytes.append(reinterpret_cast<const char*>(frame), sizeof frame);
    }
    return bytes;
  }
  TestWorkdir dir;
};

TEST_F(AudioSlotsStorageTest, LoadAudioReplacesTheLoopOnlyWhenTheSlotLoaded) {
  std::string damaged = slot_file(700);
  damaged[10] ^= 0x04;
  const struct {
    const char* what;
    std::string slot;  // "" for none
    const char* outcome;
    int32_t length;  // of track 4 afterwards
  } cases[] = {
      {"missing slot", "", "failed", 1000},
      {"damaged slot", damaged, "failed", 1000},
      {"good slot", slot_file(700), "completed", 700},
  };
  for (const auto& c : cases) {
    restart();
    make_loop(3, 1000, true);
    tracks[3].audio_changed = 1;
    pass();
    const std::string old_file = read_whole_file("track4.dat");
    ASSERT_EQ(old_file.size(), size_t(track_header_bytes) + 1000 * bytes_per_frame) << c.what;
    unlink("save3.dat");
    if (!c.slot.empty()) write_whole_file("save3.dat", c.slot.data(), c.slot.size());

    load_from_slot(4, 3);
    EXPECT_EQ(tracks[3].length, 1000) << c.what;  // the loop plays on while the slot is read
    pass();
    audio_slots_tick();
    EXPECT_EQ(line(0), padded("Track load")) << c.what;
    EXPECT_EQ(line(1), padded(c.outcome)) << c.what;
    EXPECT_EQ(tracks[3].length, c.length) << c.what;
    pass();  // an erased track's file would go now; a loaded slot is saved as the track's file
    const std::string now = read_whole_file("track4.dat");
    if (c.length == 1000) {
      EXPECT_EQ(left_sample(3, 10), 11) << c.what;
      EXPECT_EQ(now, old_file) << c.what;
    } else {
      EXPECT_EQ(now, c.slot) << c.what;
    }
  }
}

}  // namespace
