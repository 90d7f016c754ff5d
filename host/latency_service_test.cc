// The latency file: what it holds, and the damaged files refused with the reason.
#include "host/latency_service.h"

#include <gtest/gtest.h>

#include <string>

namespace {

bool decode(const std::string& text, int32_t& extra, std::string& why) {
  const char* reason = "";
  const bool ok = latency_file_decode(text.data(), int(text.size()), extra, reason);
  why = reason;
  return ok;
}

TEST(LatencyFile, EncodedExtraDecodesAgain) {
  for (int32_t extra : {0, 35, -7744, 16000}) {
    char text[64];
    const int n = latency_file_encode(extra, text, sizeof text);
    int32_t back = 12345;
    std::string why;
    ASSERT_TRUE(decode(std::string(text, size_t(n)), back, why)) << why;
    EXPECT_EQ(back, extra);
  }
}

TEST(LatencyFile, DamagedFilesAreRefusedWithTheReason) {
  const struct {
    std::string text;
    const char* why;
  } cases[] = {
      {"", "not a latency file"},
      {"ZT4 mixer settings 1\nextra 3\n", "not a latency file"},
      {"ZT4 latency 1\nextra\n", "the extra line is not as written"},
      {"ZT4 latency 1\nextra 3 frames\n", "the extra line is not as written"},
      {"ZT4 latency 1\nextra 16001\n", "extra out of range"},
      {std::string(200, 'x'), "too long"},
  };
  for (const auto& c : cases) {
    int32_t extra = 7;
    std::string why;
    EXPECT_FALSE(decode(c.text, extra, why)) << c.text;
    EXPECT_EQ(why, c.why) << c.text;
    EXPECT_EQ(extra, 7);
  }
}

}  // namespace
