// Sessions and archived takes: the counter across restarts, takes filed by automatic saves, the
// hour rollover, the free-space switch-off, take loads, listing and deleting without ever
// leaving the working directory.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <string>

#include "tests/fixtures/storage_test_fixture.h"

namespace {

int32_t stored_session() {
  const std::string bytes = read_whole_file(session_counter_name);
  int32_t n = -1;
  if (bytes.size() == sizeof n) memcpy(&n, bytes.data(), sizeof n);
  return n;
}

TEST_F(StorageTest, ANewSessionStartsWhenThePreviousOneHoldsTakes) {
  restart();  // no counter yet: session 0
  EXPECT_EQ(storage.session_number, 0);
  EXPECT_EQ(stored_session(), 0);
  EXPECT_TRUE(std::filesystem::is_directory("sess0"));

  restart();  // session 0 is still empty: reused
  EXPECT_EQ(storage.session_number, 0);

  write("sess0/tr1_1.raw", std::string(80, '\0'));
  mkdir("sess1", 0755);
  write("sess1/tr2_1.raw", std::string(80, '\0'));  // taken too: the new session skips it
  restart();
  EXPECT_EQ(storage.session_number, 2);
  EXPECT_EQ(stored_session(), 2);
  EXPECT_TRUE(std::filesystem::is_directory("sess2"));
}

TEST_F(StorageTest, EveryAutomaticSaveFilesATakeAndAnHourOfQuietStartsANewSession) {
  restart();
  make_loop(1, 2000);
  for (int i = 0; i < 2; i++) {
    tracks[1].audio_changed = 1;
    pass();
  }
  EXPECT_EQ(file("sess0/tr2_1.raw"), loop_bytes(1));
  EXPECT_EQ(file("sess0/tr2_2.raw"), loop_bytes(1));
  EXPECT_FALSE(exists(take_temp_name));

  storage.last_save_time -= new_session_after_s + 1;
  tracks[1].audio_changed = 1;
  pass();
  EXPECT_EQ(storage.session_number, 1);
  EXPECT_EQ(stored_session(), 1);
  EXPECT_EQ(file("sess1/tr2_1.raw"), loop_bytes(1));

  // A slot save files no take, but counts one.
  request_save(1, 3);
  pass();
  tracks[1].audio_changed = 1;
  pass();
  EXPECT_FALSE(exists("sess1/tr2_2.raw"));
  EXPECT_TRUE(exists("sess1/tr2_3.raw"));
}

TEST_F(StorageTest, LowSpacePrintsOnceAndStopsTakesButNotTrackFiles) {
  restart();
  test_free_megabytes = 1000;
  make_loop(0, 1500);
  tracks[0].audio_changed = 1;
  pass();
  EXPECT_EQ(take_console_output(), "Insufficient space to archive: 1000M\n");
  EXPECT_TRUE(exists("track1.dat"));
  EXPECT_FALSE(exists("sess0/tr1_1.raw"));

  test_free_megabytes = 5000;  // space came back: the archive stays off until restart
  track_blocks[0][0][0] = 7;
  tracks[0].audio_changed = 1;
  pass();
  EXPECT_EQ(take_console_output(), "");
  EXPECT_EQ(file("track1.dat").substr(track_header_bytes), loop_bytes(0));
  int32_t takes[4];
  EXPECT_EQ(list_takes(0, takes, 4), 0);
}

TEST_F(StorageTest, ATakeLoadsAtNormalSpeedRunningFree) {
  mkdir("sess4", 0755);
  std::string audio;
  for (int32_t i = 0; i < 10000; i++) {
    const int32_t frame[2] = {3 * i, -i};
    audio.append(reinterpret_cast<const char*>(frame), sizeof frame);
  }
  write("sess4/tr2_3.raw", audio);
  tracks[6].rate = -128;
  tracks[6].clock_source = 2;
  ASSERT_EQ(request_take_load(4, 2, 3, 6), 0);
  pass();
  EXPECT_EQ(load_result(), 100);
  const Track& v = tracks[6];
  EXPECT_EQ(v.length, 10000);
  EXPECT_EQ(v.rate, 256);
  EXPECT_EQ(v.clock_source, -1);
  EXPECT_EQ(v.loop_end, 10000);
  EXPECT_EQ(v.multiple, 0);
  EXPECT_EQ(loop_bytes(6), audio);
  EXPECT_EQ(reported_name(6), "sess4/tr2_3.raw");

  EXPECT_EQ(request_take_load(4, 2, 9, 6), 0);
  pass();
  EXPECT_EQ(load_result(), -load_missing);
  EXPECT_EQ(request_take_load(-1, 2, 3, 6), status_refused);
  EXPECT_EQ(request_take_load(4, 2, 3, 8), status_refused);
}

TEST_F(StorageTest, ListingAndDeletingStayInsideTheWorkingDirectory) {
  const std::string outside = dir.path() + "-outside";
  std::filesystem::create_directory(outside);
  write_whole_file((outside + "/keep").c_str(), "x", 1);
  write_whole_file((outside + "/tr1_1.raw").c_str(), "12345678", 8);

  mkdir("sess2", 0755);
  write("sess2/tr1_5.raw", std::string(8, '\0'));
  write("sess2/tr3_2.raw", std::string(8, '\0'));
  write("sess2/notes.txt", "n");
  symlink((outside + "/tr1_1.raw").c_str(), "sess2/tr1_1.raw");
  mkdir("sess10", 0755);
  symlink(outside.c_str(), "sess7");  // a session that is a link out
  write("sessions.txt", "s");
  mkdir("sessx", 0755);

  int32_t values[8];
  ASSERT_EQ(list_sessions(values, 8), 2);
  EXPECT_EQ(values[0], 2);
  EXPECT_EQ(values[1], 10);
  EXPECT_EQ(storage.name_changed.load(), 0xFFu);
  ASSERT_EQ(list_takes(2, values, 8), 2);  // the link is no take
  EXPECT_EQ(values[0], (1 << 16) + 5);
  EXPECT_EQ(values[1], (3 << 16) + 2);
  EXPECT_EQ(list_takes(7, values, 8), 0);

  EXPECT_EQ(delete_take(2, 3, 2), 0);
  EXPECT_FALSE(exists("sess2/tr3_2.raw"));
  EXPECT_EQ(delete_take(2, 3, 2), -1);
  EXPECT_EQ(delete_take(7, 1, 1), -1);
  EXPECT_EQ(delete_session(7), -1);
  EXPECT_EQ(request_take_load(7, 1, 1, 0), 0);
  pass();
  EXPECT_EQ(load_result(), -load_short);

  EXPECT_EQ(delete_session(2), 0);
  EXPECT_FALSE(exists("sess2"));
  EXPECT_TRUE(exists((outside + "/keep").c_str()));
  EXPECT_TRUE(exists((outside + "/tr1_1.raw").c_str()));
  std::filesystem::remove_all(outside);
}

}  // namespace
