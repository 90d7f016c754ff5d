// The mixer file: its text and the checks that refuse a damaged one, the mix and the playing
// tracks brought back onto the loaded tracks, and the save a second after a change settles.
#include "storage/mixer_file.h"

#include <cstring>
#include <string>

#include "tests/fixtures/storage_test_fixture.h"

namespace {

constexpr char default_text[] =
    "ZT4 mixer settings 1\n"
    "resume off\n"
    "track 1 level 0 pan 0 feedback 100 stopped\n"
    "track 2 level 0 pan 0 feedback 100 stopped\n"
    "track 3 level 0 pan 0 feedback 100 stopped\n"
    "track 4 level 0 pan 0 feedback 100 stopped\n"
    "track 5 level 0 pan 0 feedback 100 stopped\n"
    "track 6 level 0 pan 0 feedback 100 stopped\n"
    "track 7 level 0 pan 0 feedback 100 stopped\n"
    "track 8 level 0 pan 0 feedback 100 stopped\n";

// text with the line of track n (1-8), or the resume line (n = 0), replaced.
std::string with_line(int n, const std::string& line, std::string text = default_text) {
  size_t at = text.find('\n') + 1;
  for (int i = 0; i < n; ++i) at = text.find('\n', at) + 1;
  const size_t end = text.find('\n', at);
  return text.replace(at, end - at, line);
}

class MixerFileTest : public StorageTest {
 protected:
  // Track files for tracks 1 and 2, a mixer file, and the looper started on them: files loaded,
  // the storage thread's first pass done, the ten-millisecond service run once.
  void start_with(const std::string& mixer_text) {
    write("track1.dat", track_file(take_file_words(3000), 3000));
    write("track2.dat", track_file(take_file_words(2000), 2000));
    write(mixer_file_name, mixer_text);
    restart();
    mixer_load();
    storage.passes = 1;
    mixer_service();
  }

  static std::string written_text() {
    MixerStore& m = mixer_store;
    const int32_t length = m.pending_length.load();
    return length > 0 ? std::string(m.pending_text, size_t(length)) : std::string();
  }
};

TEST_F(MixerFileTest, EveryTrackHasALineAndTheTextDecodesBackToTheSameSettings) {
  MixerSettings s{};
  for (int t = 0; t < track_count; ++t) s.feedback[t] = 100;
  char text[mixer_text_max];
  EXPECT_EQ(std::string(text, size_t(mixer_encode(s, text))), default_text);

  s.level[0] = -10;
  s.pan[2] = -128;
  s.feedback[7] = 0;
  s.level[7] = -128;
  s.playing = 0x81;
  s.resume = 1;
  const int length = mixer_encode(s, text);
  const std::string encoded(text, size_t(length));
  EXPECT_NE(encoded.find("\nresume on\ntrack 1 level -10 pan 0 feedback 100 playing\n"),
            std::string::npos);
  MixerSettings back{};
  EXPECT_EQ(mixer_decode(text, length, back), nullptr);
  EXPECT_TRUE(back == s);
}

TEST_F(MixerFileTest, ADamagedTextIsRefusedWithItsReasonAndChangesNothing) {
  constexpr const char* not_as_written = "a track line is not as written";
  struct Case {
    std::string text;
    const char* fault;
  } const cases[] = {
      {"", "not a mixer file"},
      {"ZT4 mixer settings 2\n", "not a mixer file"},
      {"ZT4 mixer settings 1\n", "cut short"},
      {with_line(0, "resume maybe"), "the resume line is neither on nor off"},
      {std::string(default_text).substr(0, std::string(default_text).find("track 5")), "cut short"},
      {with_line(3, "track 3 level 1 pan 0 feedback 100 stopped"), "level out of range"},
      {with_line(3, "track 3 level -129 pan 0 feedback 100 stopped"), "level out of range"},
      {with_line(4, "track 4 level 0 pan 129 feedback 100 stopped"), "pan out of range"},
      {with_line(5, "track 5 level 0 pan 0 feedback 101 stopped"), "feedback out of range"},
      {with_line(6, "track 6 level 0 pan 0 feedback 100 muted"),
       "a track is neither playing nor stopped"},
      {with_line(7, "track 8 level 0 pan 0 feedback 100 stopped"), not_as_written},
      {with_line(8, "track 8 level 0 pan 0 feedback 100 stopped x"), not_as_written},
      {with_line(1, "track 1 level x pan 0 feedback 100 stopped"), not_as_written},
      {std::string(default_text) + "track 9 level 0 pan 0 feedback 100 stopped\n",
       "text after the eighth track"},
  };
  for (const Case& c : cases) {
    MixerSettings s{};
    s.level[0] = -33;
    const MixerSettings before = s;
    const MixerFault fault = mixer_decode(c.text.data(), int(c.text.size()), s);
    EXPECT_STREQ(fault, c.fault) << c.text;
    EXPECT_TRUE(s == before) << c.text;
  }
}

TEST_F(MixerFileTest, LoadingTakesAGoodFileSaysWhyABadOneIsRefusedAndIsQuietWithoutOne) {
  mixer_load();  // none
  EXPECT_EQ(take_console_output(), "");
  EXPECT_EQ(config_live.mix_feedback[0], 100);

  write(mixer_file_name, with_line(2, "track 2 level 0 pan 999 feedback 100 stopped"));
  mixer_load();
  EXPECT_EQ(take_console_output(),
            "Mixer settings file refused: pan out of range, defaults used\n");
  EXPECT_EQ(config_live.mix_pan[1], 0);
  EXPECT_EQ(mixer_store.from_file, 0);

  write(mixer_file_name,
        with_line(2, "track 2 level -7 pan 20 feedback 50 stopped", with_line(0, "resume on")));
  mixer_load();
  EXPECT_EQ(take_console_output(), "");
  EXPECT_EQ(config_live.mix_level[1], -7);
  EXPECT_EQ(config_live.mix_pan[1], 20);
  EXPECT_EQ(config_live.mix_feedback[1], 50);
  EXPECT_EQ(mixer_store.resume_playing, 1);
}

TEST_F(MixerFileTest, TheMixReachesTheLoadedTracksAndTheyPlayOnlyWhenResumed) {
  struct Case {
    bool option;          // --resume
    bool setting;         // Resume Playing
    const char* track_2;  // its state in the file
    bool plays;
    const char* line;
  } const cases[] = {
      {false, false, "stopped", false,
       "Track 1 was playing: zt4 --resume or the menu's Resume Playing starts it again\n"},
      {false, false, "playing", false,
       "Tracks 1 2 were playing: zt4 --resume or the menu's Resume Playing starts them again\n"},
      {true, false, "stopped", true, "Resumed: track 1 plays as it did\n"},
      {false, true, "stopped", true, "Resumed: track 1 plays as it did\n"},
      {true, true, "playing", true, "Resumed: tracks 1 2 play as they did\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    const bool track_2_plays = c.plays && strcmp(c.track_2, "playing") == 0;
    const std::string text =
        with_line(2, std::string("track 2 level 0 pan 20 feedback 50 ") + c.track_2,
                  with_line(1, "track 1 level -10 pan 0 feedback 100 playing",
                            c.setting ? with_line(0, "resume on") : default_text));
    write("track1.dat", track_file(take_file_words(3000), 3000));
    write("track2.dat", track_file(take_file_words(2000), 2000));
    write(mixer_file_name, text);
    restart();
    take_console_output();
    mixer_load();
    mixer_store.resume_requested = c.option;
    mixer_service();  // the storage thread's first pass has not ended: nothing yet
    EXPECT_EQ(tracks[0].atten, 0);
    storage.passes = 1;
    mixer_service();
    EXPECT_EQ(tracks[0].atten, 10);
    EXPECT_EQ(tracks[1].pan, 20);
    EXPECT_EQ(tracks[1].fade_target, ramp_unity / 2);
    EXPECT_EQ(on_list(engine_state.play_list, 0), c.plays);
    EXPECT_EQ(on_list(engine_state.play_list, 1), track_2_plays);
    EXPECT_EQ(take_console_output(), c.line);
  }
}

TEST_F(MixerFileTest, WithoutAFileTheTracksKeepTheLevelsTheirFilesGave) {
  TrackFileWords words = take_file_words(3000);
  words.atten = 12;
  words.pan = -30;
  write("track1.dat", track_file(words, 3000));
  restart();
  mixer_load();
  storage.passes = 1;
  mixer_service();
  EXPECT_EQ(tracks[0].atten, 12);
  EXPECT_EQ(config_live.mix_level[0], -12);
  EXPECT_EQ(config_live.mix_pan[0], -30);
  for (int i = 0; i < 2 * mixer_save_delay; ++i) mixer_service();
  EXPECT_EQ(written_text(), "");  // nothing changed, nothing written
}

TEST_F(MixerFileTest, AChangeIsWrittenASecondAfterTheLastOneAndAtQuitAtOnce) {
  start_with(default_text);
  config_live.mix_level[0] = -3;
  for (int i = 0; i < mixer_save_delay / 2; ++i) mixer_service();
  config_live.mix_level[0] = -4;  // still moving: the second starts again
  for (int i = 0; i < mixer_save_delay - 1; ++i) mixer_service();
  EXPECT_EQ(written_text(), "");
  mixer_service();
  EXPECT_EQ(written_text(), with_line(1, "track 1 level -4 pan 0 feedback 100 stopped"));
  pass();  // the storage thread writes it
  EXPECT_EQ(file(mixer_file_name), with_line(1, "track 1 level -4 pan 0 feedback 100 stopped"));
  EXPECT_EQ(written_text(), "");

  ASSERT_EQ(play_track(1), 0);
  EXPECT_FALSE(mixer_save_now());  // handed over, not yet written
  pass();
  EXPECT_TRUE(mixer_save_now());
  EXPECT_EQ(file(mixer_file_name),
            with_line(2, "track 2 level 0 pan 0 feedback 100 playing",
                      with_line(1, "track 1 level -4 pan 0 feedback 100 stopped")));
}

}  // namespace
