#include "net/sysex_codec.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

TEST(SysexCodecTest, FourteenBitNumbersTravelHighGroupFirst) {
  struct Case {
    int32_t value;
    uint8_t hi, lo;
  } const cases[] = {{0, 0, 0},     {1, 0, 1},         {127, 0, 127},   {128, 1, 0},
                     {511, 3, 127}, {16383, 127, 127}, {-1, 0x7F, 0x7F}};
  for (const Case& c : cases) {
    uint8_t out[2];
    put_14bit(out, c.value);
    EXPECT_EQ(out[0], c.hi) << c.value;
    EXPECT_EQ(out[1], c.lo) << c.value;
    if (c.value >= 0) {
      EXPECT_EQ(get_14bit(out), c.value);
    }
  }
  const uint8_t none[2] = {0x7F, 0x7F};
  EXPECT_EQ(get_function_id(none), -1);
  const uint8_t id[2] = {0x01, 0x05};
  EXPECT_EQ(get_function_id(id), 133);
  const uint8_t wide[2] = {0xFF, 0xFF};  // top bits are not part of the number
  EXPECT_EQ(get_14bit(wide), 16383);
}

TEST(SysexCodecTest, ThirtyFiveBitNumbersTravelLowGroupFirstAndKeepAll32Bits) {
  uint8_t out[5];
  put_35bit(out, 48048);  // 0xBBB0
  EXPECT_EQ(std::vector<uint8_t>(out, out + 5), (std::vector<uint8_t>{0x30, 0x77, 0x02, 0, 0}));
  for (uint32_t v : {0u, 1u, 48048u, 0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFFu}) {
    put_35bit(out, v);
    for (uint8_t b : out) EXPECT_LT(b, 0x80);
    EXPECT_EQ(get_35bit(out), v);
  }
}

TEST(SysexCodecTest, EightBitDataPacksIntoGroupsOfSevenWithTopBitsFirst) {
  const uint8_t in[] = {0x80, 0x01, 0xFF, 0x7F, 0x00, 0x00, 0x81, 0x90};
  uint8_t out[16];
  const int n = pack_8bit(in, 8, out);
  ASSERT_EQ(n, packed_length(8));
  EXPECT_EQ(std::vector<uint8_t>(out, out + n),
            (std::vector<uint8_t>{0x51, 0x00, 0x01, 0x7F, 0x7F, 0x00, 0x00, 0x01, 0x40, 0x10}));
}

TEST(SysexCodecTest, PackedDataRoundTripsForEveryLengthOfAGroup) {
  for (int count = 0; count <= 22; ++count) {
    std::vector<uint8_t> in(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) in[size_t(i)] = uint8_t(i * 37 + 200);
    std::vector<uint8_t> packed(size_t(packed_length(count)) + 1, 0xEE);
    const int n = pack_8bit(in.data(), count, packed.data());
    ASSERT_EQ(n, packed_length(count));
    EXPECT_EQ(packed[size_t(n)], 0xEE) << "wrote past its length";
    EXPECT_TRUE(all_7bit(packed.data(), n));
    std::vector<uint8_t> back(size_t(count) + 1);
    ASSERT_EQ(unpack_8bit(packed.data(), n, back.data()), count);
    back.resize(size_t(count));
    EXPECT_EQ(back, in);
  }
}

TEST(SysexCodecTest, SevenBitCheck) {
  const uint8_t ok[] = {0, 0x7F, 0x20};
  const uint8_t bad[] = {0, 0x80, 0x20};
  EXPECT_TRUE(all_7bit(ok, 3));
  EXPECT_FALSE(all_7bit(bad, 3));
  EXPECT_TRUE(all_7bit(bad, 1));
  EXPECT_TRUE(all_7bit(bad, 0));
}

}  // namespace
