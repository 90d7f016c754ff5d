#include "core/atomic_file.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "config/config.h"
#include "host/looper.h"
#include "storage/storage_thread.h"
#include "tests/fixtures/test_workdir.h"

namespace {

// Writes half of what it is asked for, then fails as a full disk would.
ssize_t half_then_full_disk(int fd, const void* data, size_t length) {
  static_assert(config_size > 2);
  if (length == size_t(config_size)) return write(fd, data, length / 2);
  errno = ENOSPC;
  return -1;
}

ssize_t failing_write(int, const void*, size_t) {
  errno = EIO;
  return -1;
}

// Small slow writes, so that a kill lands in the middle of one file.
ssize_t slow_write(int fd, const void* data, size_t length) {
  constexpr size_t chunk = 512;
  usleep(20);
  return write(fd, data, length < chunk ? length : chunk);
}

bool stored_is_valid() {
  std::string bytes = read_whole_file(config_file_name);
  return bytes.size() == size_t(config_size) &&
         config_checksum(reinterpret_cast<const uint16_t*>(bytes.data()), config_word_count) == 0;
}

class AtomicFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    looper_reset();
    config_defaults();
  }
  // Stamps and writes the live record as the storage thread does, with the given write.
  static int write_config(FileWriteFn fn) {
    config_stamp_checksum();
    return write_file_atomically(config_file_name, &config, config_size, fn);
  }
  TestWorkdir dir;
};

TEST_F(AtomicFileTest, ReplacesTheWholeFileAndLeavesNoTemporary) {
  write_whole_file(config_file_name, "old and longer than nothing", 27);
  ASSERT_EQ(write_file_atomically(config_file_name, "new", 3), 0);
  EXPECT_EQ(read_whole_file(config_file_name), "new");
  EXPECT_NE(access(".zt4.config.1.tmp", F_OK), 0);
}

TEST_F(AtomicFileTest, AFailingWriteLeavesThePreviousFileIntact) {
  config.midi_channel = 7;
  ASSERT_EQ(write_config(nullptr), 0);
  const std::string previous = read_whole_file(config_file_name);

  const struct {
    FileWriteFn fn;
    int error;  // what errno says after the failure
  } cases[] = {{&half_then_full_disk, ENOSPC}, {&failing_write, EIO}};
  for (const auto& c : cases) {
    config.midi_channel = 8;
    EXPECT_EQ(write_config(c.fn), -1);
    EXPECT_EQ(errno, c.error);
    EXPECT_EQ(read_whole_file(config_file_name), previous);
    EXPECT_NE(access(".zt4.config.1.tmp", F_OK), 0);
  }
}

TEST_F(AtomicFileTest, AFailingWriteInTheStorageThreadKeepsALoadableFile) {
  config.midi_channel = 7;
  ASSERT_EQ(config_save(), 0);
  pthread_mutex_lock(&storage.storage_mutex);
  storage_pass();
  pthread_mutex_unlock(&storage.storage_mutex);
  ASSERT_TRUE(stored_is_valid());

  storage.config_write_fn = half_then_full_disk;
  config.midi_channel = 8;
  ASSERT_EQ(config_save(), 0);
  pthread_mutex_lock(&storage.storage_mutex);
  storage_pass();
  pthread_mutex_unlock(&storage.storage_mutex);

  config_reset();
  config_load();
  EXPECT_EQ(config_dirty.load(), 0);
  EXPECT_EQ(config.midi_channel, 7);
}

TEST_F(AtomicFileTest, KillingTheWriterAtAnyMomentLeavesAValidFile) {
  ASSERT_EQ(write_config(nullptr), 0);
  for (int attempt = 0; attempt < 20; ++attempt) {
    SCOPED_TRACE(attempt);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      for (int16_t channel = 0;; channel = int16_t((channel + 1) % 16)) {
        config.midi_channel = channel;
        write_config(slow_write);
      }
    }
    usleep(useconds_t(1000 + attempt * 397 % 3000));
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(stored_is_valid());
  }
}

}  // namespace
