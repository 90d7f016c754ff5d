#include "host/data_directory.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "core/test_workdir.h"

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
