#include "host/data_directory.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "tests/fixtures/test_workdir.h"

namespace {

std::string entered(const char* path, bool& ok) {
  char* text = nullptr;
  size_t size = 0;
  FILE* err = open_memstream(&text, &size);
  ok = enter_data_directory(path, err);
  fclose(err);
  std::string s(text, size);
  free(text);
  return s;
}

std::string working_directory() { return std::filesystem::current_path().string(); }

TEST(DataDirectory, AMissingDirectoryIsCreatedWithItsParentsAndEntered) {
  TestWorkdir dir;
  bool ok = false;
  EXPECT_EQ(entered("new/data/", ok), "");
  EXPECT_TRUE(ok);
  EXPECT_EQ(working_directory(), dir.path() + "/new/data");
  // No probe file is left behind.
  EXPECT_TRUE(std::filesystem::is_empty(working_directory()));

  EXPECT_EQ(entered(nullptr, ok), "");  // the current directory, checked in place
  EXPECT_TRUE(ok);
  EXPECT_EQ(working_directory(), dir.path() + "/new/data");
}

TEST(DataDirectory, ADirectoryThatCannotBeUsedStopsWithOneLine) {
  TestWorkdir dir;
  write_whole_file("plain", "x", 1);
  const std::string below_file = dir.path() + "/plain/data";
  bool ok = true;
  EXPECT_EQ(entered(below_file.c_str(), ok),
            "zt4: cannot create the data directory " + below_file +
                ": Not a directory; choose another with --data-dir\n");
  EXPECT_FALSE(ok);

  const std::string file = dir.path() + "/plain";
  EXPECT_EQ(entered(file.c_str(), ok), "zt4: cannot enter the data directory " + file +
                                           ": Not a directory; choose another with --data-dir\n");
  EXPECT_FALSE(ok);

  // A directory the looper may not write in: read-only for a user, sysfs even for root.
  std::string locked = dir.path() + "/locked";
  const char* reason = "Permission denied";
  if (geteuid() == 0) {
    locked = "/sys";
  } else {
    mkdir(locked.c_str(), 0555);
  }
  EXPECT_EQ(entered(locked.c_str(), ok), "zt4: cannot write in the data directory " + locked +
                                             ": " + reason + "; choose another with --data-dir\n");
  EXPECT_FALSE(ok);
}

}  // namespace

namespace {

std::string locked(bool& ok) {
  char* text = nullptr;
  size_t size = 0;
  FILE* err = open_memstream(&text, &size);
  ok = lock_data_directory(err);
  fclose(err);
  std::string s(text, size);
  free(text);
  return s;
}

// Another looper is played by a second open file description of the lock file: flock(2) locks
// belong to those, so it conflicts with this process's own attempt as another process would.
TEST(DataDirectory, ASecondLooperIsToldWhichLooperHoldsTheDirectory) {
  TestWorkdir dir;
  const std::string here = working_directory();
  struct Case {
    const char* holder_text;
    std::string holder;
  } const cases[] = {
      {"pid 4242 udp_port 5668\n", "the looper with pid 4242 (UDP port 5668)"},
      {"pid 4242 udp_port -1\n", "the looper with pid 4242 (remote control off)"},
      {"pid 4242\n", "the looper with pid 4242"},
      {"", "another looper"},
  };
  for (const Case& c : cases) {
    write_whole_file(data_directory_lock_name, c.holder_text, strlen(c.holder_text));
    const int other = open(data_directory_lock_name, O_RDWR);
    ASSERT_EQ(flock(other, LOCK_EX | LOCK_NB), 0);
    bool ok = true;
    EXPECT_EQ(locked(ok), "zt4: the data directory " + here + " is in use by " + c.holder +
                              "; choose another with --data-dir\n");
    EXPECT_FALSE(ok);
    EXPECT_EQ(read_whole_file(data_directory_lock_name), c.holder_text);  // left as it was
    close(other);
  }

  // Once the other looper has gone (however it ended), the directory is this looper's.
  bool ok = false;
  EXPECT_EQ(locked(ok), "");
  EXPECT_TRUE(ok);
  const std::string pid = std::to_string(getpid());
  EXPECT_EQ(read_whole_file(data_directory_lock_name), "pid " + pid + "\n");
  note_data_directory_port(5667);
  EXPECT_EQ(read_whole_file(data_directory_lock_name), "pid " + pid + " udp_port 5667\n");
  const int other = open(data_directory_lock_name, O_RDWR);
  EXPECT_NE(flock(other, LOCK_EX | LOCK_NB), 0);  // held
  close(other);
  unlock_data_directory();
}

}  // namespace
