#include "tools/loop_file_name.h"

#include <gtest/gtest.h>

namespace {

TEST(LoopFileName, NamesTheLooperLoadsAreKnownByKind) {
  const struct {
    const char* path;
    LoopFileKind kind;
  } cases[] = {
      {"track1.dat", LoopFileKind::track},
      {"/srv/looper/track8.dat", LoopFileKind::track},
      {"track3-2.dat", LoopFileKind::track},
      {"save1.dat", LoopFileKind::slot},
      {"data/save100.dat", LoopFileKind::slot},
      {"sess0/tr1_1.raw", LoopFileKind::take},
      {"/root/zt4-data/sess12/tr8_40.raw", LoopFileKind::take},
  };
  for (const auto& c : cases) {
    std::string why;
    EXPECT_EQ(loop_file_kind(c.path, why), c.kind) << c.path << ": " << why;
    EXPECT_EQ(why, "") << c.path;
  }
}

TEST(LoopFileName, NamesTheLooperNeverLoadsAreRefusedWithTheReason) {
  const struct {
    const char* path;
    const char* why;
  } cases[] = {
      {"track9.dat", "track9.dat: the looper has tracks 1 to 8"},
      {"data/track0.dat", "track0.dat: the looper has tracks 1 to 8"},
      {"track01.dat", "track01.dat: the looper spells that file track1.dat"},
      {"track2-9.dat", "track2-9.dat: the looper has tracks 1 to 8"},
      {"track0-1.dat", "track0-1.dat: track file sets are 1 to 32767"},
      {"save0.dat", "save0.dat: save slots are save1.dat to save100.dat"},
      {"save101.dat", "save101.dat: save slots are save1.dat to save100.dat"},
      {"beat.dat",
       "beat.dat: the looper loads track files trackN.dat or trackS-N.dat (N 1 to 8) and save "
       "slots saveN.dat"},
      {"Track1.dat",
       "Track1.dat: the looper loads track files trackN.dat or trackS-N.dat (N 1 to 8) and save "
       "slots saveN.dat"},
      {"track1.wav",
       "track1.wav: the looper loads track files trackN.dat or trackS-N.dat (N 1 to 8) and save "
       "slots saveN.dat"},
      {"sess0/tr9_1.raw", "tr9_1.raw: the looper has tracks 1 to 8"},
      {"sess0/take.raw", "take.raw: a take is named trN_K.raw (track N, take K)"},
      {"tr1_1.raw", "tr1_1.raw: a take lives in a session directory, sessS/trN_K.raw"},
      {"loops/tr1_1.raw", "tr1_1.raw: a take lives in a session directory, sessS/trN_K.raw"},
      {"sess00/tr1_1.raw", "sess00/tr1_1.raw: the looper spells that file sess0/tr1_1.raw"},
  };
  for (const auto& c : cases) {
    std::string why;
    EXPECT_EQ(loop_file_kind(c.path, why), LoopFileKind::none) << c.path;
    EXPECT_EQ(why, c.why) << c.path;
  }
}

}  // namespace
