#include "net/status_report.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>
#include <vector>

namespace {

// Eight tracks at the start-up mix: empty, full level, centre, feedback 100, track 1 selected.
RemoteStatus quiet_status() {
  RemoteStatus s{};
  for (int t = 0; t < track_count; ++t) s.feedback[t] = 100;
  s.selected = 1;
  return s;
}

std::string document(const RemoteStatus& s) {
  char out[status_document_max];
  const int n = build_status_document(s, out);
  EXPECT_EQ(out[n - 1], '\0');
  EXPECT_EQ(size_t(n - 1), strlen(out));
  return std::string(out, size_t(n - 1));
}

std::string track_block(int n, const char* state, const char* length, const char* position,
                        const char* level, const char* pan, const char* feedback, bool selected) {
  std::string b = "  <track" + std::to_string(n) + ">\n";
  b += std::string("    <state>") + state + "</state>\n";
  b += std::string("    <length>") + length + "</length>\n";
  b += std::string("    <position>") + position + "</position>\n";
  b += std::string("    <level>") + level + "</level>\n";
  b += std::string("    <pan>") + pan + "</pan>\n";
  b += std::string("    <feedback>") + feedback + "</feedback>\n";
  b += selected ? "<selected>yes</selected>\n" : "<selected>no</selected>\n";
  b += "  </track" + std::to_string(n) + ">\n";
  return b;
}

TEST(StatusReportTest, DocumentOfAnEmptyLooper) {
  std::string want = "<status>\n";
  for (int n = 1; n <= 8; ++n)
    want += track_block(n, "empty", "0.0", "0.0", "+000", "+000", "100", n == 1);
  want += "</status>\n";
  EXPECT_EQ(document(quiet_status()), want);
}

TEST(StatusReportTest, DocumentShowsSecondsAndUnpaddedMillisecondsAndSignedMix) {
  RemoteStatus s = quiet_status();
  s.state_word = 0x00000013;  // track 1 recording, track 2 playing
  s.length[1] = 48048;        // one second and one millisecond
  s.position[1] = 100800;     // 2.1 s
  s.level[1] = -5;
  s.pan[1] = 64;
  s.feedback[1] = 7;
  s.selected = 2;
  const std::string d = document(s);
  EXPECT_NE(d.find(track_block(2, "playing", "1.1", "2.100", "-005", "+064", "007", true)),
            std::string::npos)
      << d;
  EXPECT_NE(d.find(track_block(1, "recording", "0.0", "0.0", "+000", "+000", "100", false)),
            std::string::npos)
      << d;
}

TEST(StatusReportTest, StateCodesInBothNumberings) {
  struct Case {
    int nibble;
    const char* word;
    int compact;
  } const cases[] = {{0, "empty", 0},     {1, "playing", 4},     {2, "stopped", 3},
                     {3, "recording", 1}, {4, "overdubbing", 2}, {5, "replacing", 5},
                     {6, "busy", 6},      {7, "empty", 0},       {15, "empty", 0}};
  for (const Case& c : cases) {
    RemoteStatus s{};
    s.state_word = uint32_t(c.nibble) << 28;  // track 8
    EXPECT_STREQ(state_word_text(s, 7), c.word) << c.nibble;
    EXPECT_EQ(compact_state_code(s, 7), c.compact) << c.nibble;
    EXPECT_EQ(compact_state_code(s, 6), 0);
  }
}

TEST(StatusReportTest, WidestValuesStillFitTheDocument) {
  RemoteStatus s{};
  s.state_word = 0x44444444;
  for (int t = 0; t < track_count; ++t) {
    s.length[t] = INT_MAX;
    s.position[t] = INT_MIN;
    s.level[t] = INT16_MIN;
    s.pan[t] = INT16_MIN;
    s.feedback[t] = INT16_MIN;
  }
  const std::string d = document(s);
  EXPECT_EQ(d.substr(d.size() - 10), "</status>\n");
  EXPECT_NE(d.find("<track8>"), std::string::npos);
}

uint32_t be32(const uint8_t* p) {
  return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

TEST(StatusReportTest, CompactStatusIs58BigEndianWords) {
  RemoteStatus s = quiet_status();
  s.state_word = 0x00502413;  // 1 recording, 2 playing, 3 overdubbing, 4 stopped, 6 replacing
  s.length[1] = 48048;
  s.position[1] = 12345;
  s.level[2] = -5;
  s.pan[3] = -128;
  s.feedback[4] = 60;
  s.selected = 3;
  uint8_t out[compact_status_length + 1];
  out[compact_status_length] = 0xEE;
  build_compact_status(s, out);
  EXPECT_EQ(out[compact_status_length], 0xEE);
  const uint8_t head[] = {0x00, 0x00, 0xBB, 0x80, 0x00, 0x00, 0x00, 0x08};
  EXPECT_EQ(memcmp(out, head, sizeof head), 0);
  const uint32_t codes[8] = {1, 4, 2, 3, 0, 5, 0, 0};
  for (int t = 0; t < 8; ++t) {
    EXPECT_EQ(be32(out + 8 + 4 * t), codes[t]) << t;
    EXPECT_EQ(be32(out + 200 + 4 * t), t == 2 ? 1u : 0u) << t;
  }
  EXPECT_EQ(be32(out + 40 + 4), 48048u);
  EXPECT_EQ(be32(out + 72 + 4), 12345u);
  EXPECT_EQ(be32(out + 104 + 8), 0xFFFFFFFBu);  // -5, sign-extended
  EXPECT_EQ(be32(out + 136 + 12), 0xFFFFFF80u);
  EXPECT_EQ(be32(out + 168 + 16), 60u);
  EXPECT_EQ(be32(out + 168), 100u);
}

TEST(StatusReportTest, SysexStatusIs120SevenBitBytes) {
  RemoteStatus s = quiet_status();
  s.state_word = 0x00000021;  // track 1 playing, track 2 stopped
  s.length[0] = 48048;
  s.position[0] = 0x7FFFFFFF;
  s.level[0] = -5;
  s.level[1] = -128;  // below -127: sent as 127
  s.level[2] = 3;     // never above full on the panel; shown as full
  s.pan[0] = -128;    // -50
  s.pan[1] = 127;     // 49, truncated
  s.pan[2] = -3;      // -1, truncated toward zero
  s.feedback[0] = 100;
  s.feedback[1] = 200;  // low 7 bits
  s.selected = 0;
  uint8_t out[sysex_status_length + 1];
  out[sysex_status_length] = 0xEE;
  build_sysex_status(s, out);
  EXPECT_EQ(out[sysex_status_length], 0xEE);
  const uint8_t head[] = {0xF0, 0x00, 0x3F, 0x6A, 0x02, 0x08, 0x00};
  EXPECT_EQ(memcmp(out, head, sizeof head), 0);
  EXPECT_EQ(out[sysex_status_length - 1], 0xF7);
  for (int i = 1; i < sysex_status_length - 1; ++i) EXPECT_LT(out[i], 0x80) << i;
  const uint8_t* t1 = out + 7;
  const uint8_t want1[14] = {4, 5, 0x4E, 100, 0x30, 0x77, 0x02, 0, 0, 0x7F, 0x7F, 0x7F, 0x7F, 0x07};
  EXPECT_EQ(std::vector<uint8_t>(t1, t1 + 14), std::vector<uint8_t>(want1, want1 + 14));
  const uint8_t* t2 = out + 7 + 14;
  EXPECT_EQ(t2[0], 3);
  EXPECT_EQ(t2[1], 127);
  EXPECT_EQ(t2[2], 49);
  EXPECT_EQ(t2[3], 200 & 0x7F);
  const uint8_t* t3 = out + 7 + 28;
  EXPECT_EQ(t3[1], 0);
  EXPECT_EQ(t3[2], 0x7F);
}

TEST(StatusReportTest, SysexStatusNamesOnlyASingleSelectedTrack) {
  RemoteStatus s = quiet_status();
  uint8_t out[sysex_status_length];
  for (int selected : {1, 8}) {
    s.selected = selected;
    build_sysex_status(s, out);
    EXPECT_EQ(out[6], selected);
  }
  s.selected = -3;
  build_sysex_status(s, out);
  EXPECT_EQ(out[6], 0);
}

}  // namespace
