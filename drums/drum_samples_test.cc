#include "drums/drum_samples.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "config/config.h"
#include "tests/fixtures/test_workdir.h"
#include "drums/drum_machine.h"
#include "host/looper.h"

namespace {

void put16(std::string& s, uint32_t v) {
  s += char(v & 0xFF);
  s += char((v >> 8) & 0xFF);
}
void put32(std::string& s, uint32_t v) {
  put16(s, v & 0xFFFF);
  put16(s, v >> 16);
}

// A 16-bit PCM WAV file of interleaved samples.
std::string wav16(int channels, int rate, const std::vector<int16_t>& samples) {
  std::string body = "WAVEfmt ";
  put32(body, 16);
  put16(body, 1);
  put16(body, uint32_t(channels));
  put32(body, uint32_t(rate));
  put32(body, uint32_t(rate * channels * 2));
  put16(body, uint32_t(channels * 2));
  put16(body, 16);
  body += "data";
  put32(body, uint32_t(samples.size() * 2));
  for (int16_t x : samples) put16(body, uint16_t(x));
  std::string file = "RIFF";
  put32(file, uint32_t(body.size()));
  return file + body;
}

DrumSampleData decode(const std::string& file) {
  return drum_sample_decode(reinterpret_cast<const uint8_t*>(file.data()), int64_t(file.size()));
}

class DrumSamplesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    looper_reset();
    config_defaults();
    take_console_output();
  }
  TestWorkdir dir;
};

TEST_F(DrumSamplesTest, StereoAt48000KeepsEverySample) {
  std::vector<int16_t> samples;
  for (int f = 0; f < 300; f++) {
    samples.push_back(int16_t(f * 100 - 15000));
    samples.push_back(int16_t(-f * 7));
  }
  const DrumSampleData d = decode(wav16(2, 48000, samples));
  ASSERT_EQ(d.fault, nullptr);
  ASSERT_EQ(d.frames.size(), 600u);
  EXPECT_FALSE(d.cut);
  for (size_t i = 0; i < samples.size(); i++) {
    ASSERT_EQ(d.frames[i], int32_t(samples[i]) * 512) << i;  // 2^24 / 2^15
  }
}

TEST_F(DrumSamplesTest, MonoAt24000IsResampledAndDuplicated) {
  std::vector<int16_t> samples;
  for (int f = 0; f < 2400; f++) {
    samples.push_back(int16_t(std::lrint(16000 * std::sin(2 * M_PI * 500 * f / 24000.0))));
  }
  const DrumSampleData d = decode(wav16(1, 24000, samples));
  ASSERT_EQ(d.fault, nullptr);
  const size_t frames = d.frames.size() / 2;
  EXPECT_NEAR(double(frames), 4800, 2);
  int32_t top = 0;
  for (size_t f = 0; f < frames; f++) {
    ASSERT_EQ(d.frames[2 * f], d.frames[2 * f + 1]) << f;
    top = std::max(top, d.frames[2 * f]);
  }
  // The 500 Hz tone keeps its level: 16000 / 32768 of full scale.
  EXPECT_NEAR(double(top), 16000.0 * 512, 16000.0 * 512 * 0.03);
  // And its pitch: at 48000 Hz one cycle is 96 frames.
  const size_t middle = frames / 2;
  int32_t a = d.frames[2 * middle];
  int32_t b = d.frames[2 * (middle + 96)];
  EXPECT_NEAR(double(a), double(b), 16000.0 * 512 * 0.02);
}

TEST_F(DrumSamplesTest, LongSamplesAreCutToWhatAVoiceHolds) {
  const DrumSampleData d = decode(wav16(1, 48000, std::vector<int16_t>(140000, 1000)));
  ASSERT_EQ(d.fault, nullptr);
  EXPECT_TRUE(d.cut);
  EXPECT_EQ(d.frames.size() / 2, size_t(drum_voice_max_frames));
}

TEST_F(DrumSamplesTest, FilesThatAreNoUsableSoundAreRefused) {
  EXPECT_STREQ(decode("RIFF....WAVEnothing here").fault, "not a sound file");
  EXPECT_STREQ(decode(wav16(1, 48000, {})).fault, "no audio");
  EXPECT_STREQ(decode(wav16(1, 500, std::vector<int16_t>(100, 1))).fault, "unusable sample rate");
}

TEST_F(DrumSamplesTest, LoadingReportsOneLinePerFile) {
  const std::string good = wav16(1, 48000, std::vector<int16_t>(100, 64));
  write_whole_file("drum3.wav", good.data(), good.size());
  write_whole_file("drum5.wav", "not audio", 9);
  drum_samples_load_all();
  EXPECT_EQ(take_console_output(),
            "Drum 3: drum3.wav loaded, 100 frames\n"
            "Drum 5: drum5.wav refused: not a sound file\n");
  const DrumVoice& v = drums.voices[2];
  EXPECT_EQ(v.length, 100);
  EXPECT_EQ(v.ready, 1);
  EXPECT_EQ(v.slot, 2);
  ASSERT_NE(v.blocks[0], nullptr);
  EXPECT_EQ(v.blocks[0][0], 64 * 512);
  EXPECT_EQ(v.blocks[0][2 * 100], 0) << "the rest of the block is silence";
  EXPECT_EQ(drums.voices[4].length, 0);
  EXPECT_EQ(drums.voices[0].length, 0);
}

}  // namespace
