#include "core/console.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <string>
#include <thread>

#include "core/log_ring.h"
#include "host/looper.h"

namespace {

// Redirects file descriptor 1 into a temporary file until text() or destruction, so the bytes
// the console writes to standard output can be inspected and kept out of the test log.
// GoogleTest reports failures on standard output too, so assert only after text().
class StdoutCapture {
 public:
  StdoutCapture() {
    std::fflush(stdout);
    file_ = std::tmpfile();
    saved_ = dup(1);
    dup2(fileno(file_), 1);
  }
  ~StdoutCapture() {
    restore();
    std::fclose(file_);
  }
  std::string text() {
    restore();
    std::string bytes;
    std::rewind(file_);
    for (int c; (c = std::fgetc(file_)) != EOF;) bytes += char(c);
    return bytes;
  }

 private:
  void restore() {
    if (saved_ < 0) return;
    std::fflush(stdout);
    dup2(saved_, 1);
    close(saved_);
    saved_ = -1;
  }
  std::FILE* file_;
  int saved_;
};

std::string drain(LogRing& ring) {
  std::string text;
  char chunk[500];
  while (int n = log_take(ring, chunk, 500)) text.append(chunk, size_t(n));
  return text;
}

class ConsoleTest : public testing::Test {
 protected:
  void SetUp() override { looper_reset(); }
};

struct IntCase {
  const char* format;
  int value;
  const char* expected;
};

TEST(FormatToTest, ConversionsFlagsAndWidths) {
  const IntCase cases[] = {
      {"%d", 0, "0"},
      {"%d", -5, "-5"},
      {"%d", 2147483647, "2147483647"},
      {"%d", INT32_MIN, "NaN"},
      {"%d", INT32_MIN + 1, "-2147483647"},
      {"%x", 255, "000000FF"},
      {"%x", -1, "FFFFFFFF"},
      {"%h", 0x12345, "2345"},
      {"%b", 0x1FF, "FF"},
      {"%b", 0xA, "0A"},
      {"%c", 'Q', "Q"},
      {"%+04d", 5, "+005"},
      {"%+04d", -5, "-005"},
      {"%03d", 7, "007"},
      {"%+d", 0, "+0"},
      {"%5d", -42, "  -42"},
      {"%05d", -42, "-0042"},
      {"%+5d", 42, "  +42"},
      {"%10d", 3, "         3"},  // a 0 after a width digit is part of the width
      {"%2d", 12345, "12345"},
      {"%5d", INT32_MIN, "  NaN"},
      {"%+04x", 255, "000000FF"},  // flags and width act only on %d
      {"%6h", 0xBEEF, "BEEF"},
      {"[%d%%]", 50, "[50%]"},
  };
  for (const IntCase& c : cases) {
    char buffer[64];
    int length = format_to(buffer, c.format, c.value);
    EXPECT_STREQ(buffer, c.expected) << c.format << " with " << c.value;
    EXPECT_EQ(length, int(std::string(c.expected).size())) << c.format;
  }
}

TEST(FormatToTest, UnknownLettersPrintThemselvesAndConsumeNothing) {
  char buffer[64];
  EXPECT_EQ(format_to(buffer, "%i %ld %q %d", 7), 8);
  EXPECT_STREQ(buffer, "i ld q 7");
  format_to(buffer, "%5s|%s|%c", "ab", "", 'z');
  EXPECT_STREQ(buffer, "ab||z");  // strings are never widened
  format_to(buffer, "a\nb%");     // no carriage return, a trailing '%' ends the text
  EXPECT_STREQ(buffer, "a\nb");
}

TEST_F(ConsoleTest, ConsoleConversions) {
  const IntCase cases[] = {
      {"%d", INT32_MIN, "NaN"},
      {"%d", -17, "-17"},
      {"%x", 255, "000000FF"},
      {"%h", 0x12345, "2345"},
      {"%b", 0x1FF, "FF"},
      {"%i", int(0xC0A80101u), "192.168.1.1"},
      {"%i", int(0xC0A80001u), "192.168.0.1"},
      {"%i", 0, "0.0.0.0"},
      {"%+04d", 5, "04d"},  // no flags on the console: '+' is swallowed, the rest is text
      {"%03d", 7, "3d"},
      {"%q", 1, ""},
      {"%c%%", 'A', "A%"},
  };
  std::string printed[std::size(cases)];
  {
    StdoutCapture quiet;
    for (size_t i = 0; i < std::size(cases); i++) {
      console_printf(cases[i].format, cases[i].value);
      printed[i] = drain(console_log.udp_log_ring);
    }
  }
  for (size_t i = 0; i < std::size(cases); i++) {
    EXPECT_EQ(printed[i], cases[i].expected) << cases[i].format << " with " << cases[i].value;
  }
}

TEST_F(ConsoleTest, LongConversionsAndArgumentUse) {
  StdoutCapture capture;
  // A long is the platform's: 64 bits on arm64 and x86-64, 32 on armhf.
  std::string longs;
  if constexpr (sizeof(long) == 8) {
    console_printf("%ld|%ld|%lx|%lx|%lx\n", long(5000000000), long(INT32_MIN), long(0x1234),
                   long(0x7F0012345678), -1L);
    longs = "5000000000|NaN|00001234|7F0012345678|FFFFFFFFFFFFFFFF\r\n";
  } else {
    console_printf("%ld|%ld|%lx|%lx\n", 2000000000L, long(INT32_MIN), 0x1234L, -1L);
    longs = "2000000000|NaN|00001234|FFFFFFFF\r\n";
  }
  // Unknown conversions consume no argument; 'l' before another letter is itself unknown.
  console_printf("%q%d %lq %s\n", 3, "str");
  console_printf("%s|%s", static_cast<const char*>(nullptr), "x");
  EXPECT_EQ(capture.text(), longs + "3 q str\r\n|x");
}

TEST_F(ConsoleTest, LineEndGetsCarriageReturnOnStandardOutputOnly) {
  StdoutCapture capture;
  console_printf("one\ntwo %d\n", 2);
  console_putc('x');
  console_putc('\n');
  EXPECT_EQ(capture.text(), "one\r\ntwo 2\r\nx\r\n");
  EXPECT_EQ(drain(console_log.udp_log_ring), "one\ntwo 2\nx\n");
  EXPECT_EQ(drain(console_log.sysex_log_ring), "one\ntwo 2\nx\n");
}

TEST_F(ConsoleTest, ReadersDrainTheirRingsIndependently) {
  {
    StdoutCapture quiet;
    console_printf("abc");
  }
  char chunk[8];
  EXPECT_EQ(log_take(console_log.sysex_log_ring, chunk, 2), 2);
  EXPECT_EQ(std::string(chunk, 2), "ab");
  EXPECT_EQ(drain(console_log.udp_log_ring), "abc");
  EXPECT_EQ(drain(console_log.sysex_log_ring), "c");
}

TEST_F(ConsoleTest, ConcurrentCallsKeepTheirTextTogether) {
  auto writer = [](char letter) {
    for (int i = 0; i < 300; i++)
      console_printf("%c%c%c%c%c%c%c%c\n", letter, letter, letter, letter, letter, letter, letter,
                     letter);
  };
  {
    StdoutCapture quiet;
    std::thread a(writer, 'A');
    std::thread b(writer, 'B');
    a.join();
    b.join();
  }
  std::string text = drain(console_log.udp_log_ring);
  ASSERT_EQ(text.size(), 2u * 300u * 9u);
  for (size_t line = 0; line < text.size(); line += 9) {
    EXPECT_EQ(text.substr(line, 9), std::string(8, text[line]) + "\n") << "at " << line;
  }
}

char pattern(int k) { return char('!' + k % 89); }  // period 89 does not divide the ring size

TEST(LogRingTest, FullRingHolds65535AndDropsTheOldest) {
  auto ring = std::make_unique<LogRing>();
  for (int k = 0; k < log_ring_size - 1; k++) log_ring_put(*ring, pattern(k));
  EXPECT_EQ(log_ring_pending(*ring), log_ring_size - 1);
  char first;
  log_ring_put(*ring, pattern(log_ring_size - 1));
  EXPECT_EQ(log_ring_pending(*ring), log_ring_size - 1);
  ASSERT_EQ(log_ring_take(*ring, &first, 1), 1);
  EXPECT_EQ(first, pattern(1));  // character 0 was lost
}

TEST(LogRingTest, WrappedRingIsReadUpToItsEndThenFromTheStart) {
  auto ring = std::make_unique<LogRing>();
  constexpr int written = 70000;
  for (int k = 0; k < written; k++) log_ring_put(*ring, pattern(k));
  EXPECT_EQ(log_ring_pending(*ring), log_ring_size - 1);
  std::string text;
  char chunk[500];
  int takes = 0;
  while (int n = log_ring_take(*ring, chunk, 500)) {
    text.append(chunk, size_t(n));
    takes++;
    // The take that reaches the end of the ring stops there even though more is unread.
    if (ring->read_index.load() == 0) {
      EXPECT_LT(n, 500);
    }
  }
  ASSERT_EQ(text.size(), size_t(log_ring_size - 1));
  int oldest = written - (log_ring_size - 1);
  for (int i = 0; i < log_ring_size - 1; i++) {
    ASSERT_EQ(text[size_t(i)], pattern(oldest + i)) << "at " << i;
  }
  EXPECT_EQ(log_ring_pending(*ring), 0);
  EXPECT_GT(takes, (log_ring_size - 1) / 500);
}

TEST_F(ConsoleTest, LogQueryAfterMoreThanARingfulStillReturnsText) {
  {
    StdoutCapture quiet;
    for (int i = 0; i < 10000; i++) console_printf("line %d\n", i % 10);  // 7 characters each
  }
  EXPECT_EQ(log_ring_pending(console_log.udp_log_ring), log_ring_size - 1);
  char chunk[500];
  EXPECT_GT(log_take(console_log.udp_log_ring, chunk, 500), 0);
  EXPECT_EQ(log_take(console_log.sysex_log_ring, chunk, 245), 245);
}

}  // namespace
