#include "host/summary_report.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "core/lock_statistics.h"
#include "core/log_ring.h"
#include "host/looper.h"

namespace {

class SummaryTest : public testing::Test {
 protected:
  void SetUp() override { looper_reset(); }

  // The summary's text from the log, with standard output sent to /dev/null.
  static std::string printed(const SummaryFigures& f) {
    std::fflush(stdout);
    const int saved = dup(1);
    std::FILE* sink = std::fopen("/dev/null", "w");
    dup2(fileno(sink), 1);
    print_summary(f);
    std::fflush(stdout);
    dup2(saved, 1);
    close(saved);
    std::fclose(sink);
    std::string text;
    char chunk[500];
    while (int n = log_take(console_log.udp_log_ring, chunk, 500)) text.append(chunk, size_t(n));
    return text;
  }
};

TEST_F(SummaryTest, SaysInWordsWhatAPlayerNeedsToKnow) {
  SummaryFigures healthy;
  healthy.busy_ns = 240000000;  // 0.24 s of work in 2 s of audio
  healthy.frames = 96000;
  healthy.free_blocks = 8192;
  healthy.free_megabytes = 53248;  // 52 GB
  EXPECT_EQ(printed(healthy),
            "Looper health:\n"
            "  Dropouts (xruns): 0 since start-up, 0 in the last minute\n"
            "  CPU: 12% of the audio time since the last report\n"
            "  Loop memory: 23 min of audio free (8192 of 8192 blocks)\n"
            "  Unsaved tracks: none\n"
            "  Disk: 52 GB free for takes, about 40 hours of audio\n");

  SummaryFigures busy;
  busy.xruns = 7;
  busy.xruns_last_minute = 2;
  busy.free_blocks = 10;  // 81920 frames
  busy.unsaved_mask = 0x12;
  busy.free_megabytes = 1100;
  const std::string text = printed(busy);
  for (const char* line : {"  Dropouts (xruns): 7 since start-up, 2 in the last minute\n",
                           "  CPU: no audio processed since the last report\n",
                           "  Loop memory: 1 s of audio free (10 of 8192 blocks)\n",
                           "  Unsaved tracks: 2 5 (saved one a second while they do not record)\n",
                           "  Disk: 1100 MB free for takes, about 50 minutes of audio\n"}) {
    EXPECT_NE(text.find(line), std::string::npos) << line << "in\n" << text;
  }

  SummaryFigures full;
  full.free_megabytes = 900;
  EXPECT_NE(printed(full).find("  Disk: 900 MB free; below 1024 MB takes are no longer filed\n"),
            std::string::npos);
}

TEST_F(SummaryTest, TheLastMinuteCountsFromTheOldestTickOnceAMinutePassed) {
  lock_statistics.xruns = 3;
  for (int s = 0; s < 10; s++) summary_second_tick();
  EXPECT_EQ(xruns_in_last_minute(summary_history, 3), 3u);  // since start-up
  for (int s = 10; s < summary_window_s; s++) summary_second_tick();
  lock_statistics.xruns = 5;
  summary_second_tick();  // the tick at 3 xruns a minute ago is the oldest kept
  EXPECT_EQ(xruns_in_last_minute(summary_history, 5), 2u);
  for (int s = 0; s < summary_window_s; s++) summary_second_tick();
  EXPECT_EQ(xruns_in_last_minute(summary_history, 5), 0u);
}

}  // namespace
