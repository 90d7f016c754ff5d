#include "core/console_output.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "core/console.h"
#include "host/looper.h"

namespace {

constexpr char line_text[] = "a console line of some length, as the statistics print them ....";

class ConsoleOutputTest : public ::testing::Test {
 protected:
  void SetUp() override {
    looper_reset();
    ASSERT_EQ(pipe(fds_), 0);
  }
  void TearDown() override {
    console_output_reset();  // stops the thread before the pipe goes
    close(fds_[0]);
    close(fds_[1]);
    looper_reset();
  }
  // Reads what arrives until `text` has been seen, or 30 s have passed: a deadline for text
  // that must come, however long a loaded machine keeps the output thread waiting.
  std::string read_until(const std::string& text) {
    std::string got;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (got.find(text) == std::string::npos) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      pollfd p{fds_[0], POLLIN, 0};
      if (left.count() <= 0 || poll(&p, 1, int(left.count())) <= 0) break;
      char buffer[8192];
      const ssize_t n = read(fds_[0], buffer, sizeof buffer);
      if (n <= 0) break;
      got.append(buffer, size_t(n));
    }
    return got;
  }
  static int count(const std::string& text, const std::string& what) {
    int n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) n++;
    return n;
  }
  int fds_[2];
};

TEST_F(ConsoleOutputTest, AnUnreadPipeNeverBlocksAndTheDroppedLinesAreCounted) {
  console_output_start(fds_[1]);
  // Far more than the pipe and the buffer hold together: printing must still return.
  constexpr int lines = 4000;
  for (int i = 0; i < lines; i++) console_printf("%s\n", line_text);
  EXPECT_GT(console_output.dropped_total.load(), 0u);

  // Once the reader catches up, the lines that fit arrive whole and the rest are accounted for.
  const std::string got = read_until("lines of console output dropped\r\n");
  const size_t notice = got.find(" lines of console output dropped\r\n");
  ASSERT_NE(notice, std::string::npos) << got.size() << " bytes arrived";
  const size_t number_start = got.rfind('\n', notice) + 1;
  const int dropped = std::stoi(got.substr(number_start, notice - number_start));
  EXPECT_EQ(count(got, std::string(line_text) + "\r\n") + dropped, lines);
  EXPECT_EQ(uint32_t(dropped), console_output.dropped_total.load());

  // Output flows again: the next line goes straight through.
  console_printf("after\n");
  EXPECT_NE(read_until("after\r\n").find("after\r\n"), std::string::npos);
}

// With nobody reading, a flush gives up when its time is over; with a reader, it waits until
// everything is written. The reader drains the pipe all along, so how soon it is scheduled on a
// loaded machine changes nothing but the time the flush takes.
TEST_F(ConsoleOutputTest, FlushWaitsForTheReaderOnlyAsLongAsItIsAllowed) {
  console_output_start(fds_[1]);
  for (int i = 0; i < 2000; i++) console_printf("%s\n", line_text);  // fills pipe and buffer
  EXPECT_FALSE(console_output_flush(0.1));                           // nobody reads: gives up

  std::atomic<bool> stop{false};
  std::thread reader([&] {
    char buffer[8192];
    while (!stop.load()) {
      pollfd p{fds_[0], POLLIN, 0};
      if (poll(&p, 1, 10) > 0 && read(fds_[0], buffer, sizeof buffer) <= 0) break;
    }
  });
  EXPECT_TRUE(console_output_flush(30));  // a deadline far beyond the time the writing takes
  EXPECT_EQ(console_output.read_count.load(), console_output.write_count.load());
  stop = true;
  reader.join();
}

}  // namespace
