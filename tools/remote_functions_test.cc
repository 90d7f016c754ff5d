#include "tools/remote_functions.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "panel/function_numbers.h"

namespace {

// What parse_function_call printed and, when it accepted the words, the text sent.
struct Parsed {
  bool accepted;
  std::string sent;
  std::string message;
};

Parsed parse(const std::vector<std::string>& words) {
  char* buffer = nullptr;
  size_t size = 0;
  FILE* err = open_memstream(&buffer, &size);
  FunctionCall call;
  const bool accepted = parse_function_call(words, {"status", "watch", "functions"}, call, err);
  fclose(err);
  Parsed p{accepted, accepted ? function_call_text(call) : "", std::string(buffer, size)};
  free(buffer);
  return p;
}

std::string shown(const std::vector<std::string>& words) {
  std::string s;
  for (const std::string& w : words) s += "[" + w + "]";
  return s;
}

TEST(RemoteFunctions, EveryFunctionOfTheTableSaysWhatNumberItTakes) {
  for (const FunctionEntry* e = function_table; e->first_id != -1; ++e) {
    EXPECT_NE(function_numbers(e->handler), nullptr) << e->name;
  }
  char* buffer = nullptr;
  size_t size = 0;
  FILE* out = open_memstream(&buffer, &size);
  print_functions(out);
  fclose(out);
  const std::string listing(buffer, size);
  free(buffer);
  EXPECT_NE(listing.find("\n  12  Track Level       level 0 (full) to -96 dB"), std::string::npos)
      << listing;
  EXPECT_NE(listing.find("\n  11  Track Erase       -\n"), std::string::npos) << listing;
  EXPECT_NE(listing.find("\n  31  Feedback +10%     feedback 0 to 100 percent (without one: "
                         "steps by +10)\n"),
            std::string::npos)
      << listing;
  EXPECT_EQ(std::count(listing.begin(), listing.end(), '\n'), function_row_count() + 1);
}

// Words as the shell hands them over: {"Track Level", "-5"} is zt4-remote 'Track Level' -5.
TEST(RemoteFunctions, WholeNamesInAnyCaseAndNumbersInRangeAreSentInTheTablesSpelling) {
  const struct {
    std::vector<std::string> words;
    const char* sent;
  } cases[] = {
      {{"Rec/Dub"}, "Rec/Dub"},
      {{"rec/dub"}, "Rec/Dub"},
      {{"STOP"}, "Stop"},
      {{"Select", "Track", "3"}, "Select Track 3"},
      {{"Select Track 1", "5"}, "Select Track 1 5"},
      {{"select track 1 5"}, "Select Track 1 5"},
      {{"Quant Value 16"}, "Quant Value 16"},
      {{"Track Level", "-10"}, "Track Level -10"},
      {{"Track Level"}, "Track Level"},
      // A number of its own goes with the name; the looper would read "Track Level -5" as the
      // step function, so the number gets a leading zero.
      {{"Track Level", "-5"}, "Track Level -05"},
      {{"Track", "Level", "-5"}, "Track Level -05"},
      {{"Track Level", "0"}, "Track Level 00"},
      {{"Track Level -5"}, "Track Level -5"},
      {{"Track Level +5"}, "Track Level +5"},
      {{"Shrink to 50%"}, "Shrink to 50%%"},
      {{"feedback 100%", "40"}, "Feedback 100% 40"},
  };
  for (const auto& c : cases) {
    const Parsed got = parse(c.words);
    EXPECT_TRUE(got.accepted) << shown(c.words) << got.message;
    EXPECT_EQ(got.sent, c.sent) << shown(c.words);
    EXPECT_EQ(got.message, "") << shown(c.words);
  }
}

TEST(RemoteFunctions, AnythingElseIsRefusedWithTheClosestNamesOrTheNumbersTaken) {
  const struct {
    std::vector<std::string> words;
    const char* message;
  } cases[] = {
      {{"Rec/Dubb"},
       "zt4-remote: unknown function 'Rec/Dubb'; closest: Rec/Dub; zt4-remote functions lists "
       "them all\n"},
      {{"Stopp"},
       "zt4-remote: unknown function 'Stopp'; closest: Stop; zt4-remote functions lists them "
       "all\n"},
      {{"Undoo"},
       "zt4-remote: unknown function 'Undoo'; closest: Undo; zt4-remote functions lists them all\n"},
      {{"Track Levelx"},
       "zt4-remote: unknown function 'Track Levelx'; closest: Track Level, Track Level 0, "
       "Track Level -5, Track Level +5; zt4-remote functions lists them all\n"},
      {{"Select Track 33"},
       "zt4-remote: unknown function 'Select Track 33'; closest: Select Track 3, Select Track 1, "
       "Select Track 2, Select Track 4, Select Track 5; zt4-remote functions lists them all\n"},
      {{"Rec Dub"},
       "zt4-remote: unknown function 'Rec Dub'; closest: Rec/Dub; zt4-remote functions lists them "
       "all\n"},
      {{"stauts"},
       "zt4-remote: unknown function 'stauts'; closest: status; zt4-remote functions lists them "
       "all\n"},
      {{"xyzzy"}, "zt4-remote: unknown function 'xyzzy'; zt4-remote functions lists them all\n"},
      {{"Track Level", "abc"},
       "zt4-remote: Track Level takes level 0 (full) to -96 dB, not 'abc'\n"},
      {{"Track Level", "90"}, "zt4-remote: Track Level takes level 0 (full) to -96 dB, not '90'\n"},
      {{"Track Level", "-5.5"},
       "zt4-remote: Track Level takes level 0 (full) to -96 dB, not '-5.5'\n"},
      {{"Select Track 1", "9"},
       "zt4-remote: Select Track 1 takes track 1 to 8, 0 all tracks, not '9'\n"},
      {{"Pan Center", "-128"},
       "zt4-remote: Pan Center takes pan -127 (left) to 127 (right), not '-128'\n"},
      {{"Pan Center", "99999999999"},
       "zt4-remote: Pan Center takes pan -127 (left) to 127 (right), not '99999999999'\n"},
      {{"Undo", "3"}, "zt4-remote: Undo takes no number, not '3'\n"},
  };
  for (const auto& c : cases) {
    const Parsed got = parse(c.words);
    EXPECT_FALSE(got.accepted) << shown(c.words);
    EXPECT_EQ(got.message, c.message) << shown(c.words);
  }
}

TEST(RemoteFunctions, OnlyIdsOfTheTableExist) {
  EXPECT_TRUE(function_id_exists(0));
  EXPECT_TRUE(function_id_exists(12));
  EXPECT_TRUE(function_id_exists(131));
  EXPECT_FALSE(function_id_exists(1000));
  EXPECT_FALSE(function_id_exists(function_id_count));
  EXPECT_FALSE(function_id_exists(-1));
}

}  // namespace
