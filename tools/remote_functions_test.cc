#include "tools/remote_functions.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

// What check_function_text printed, and whether it lets the text go.
struct Checked {
  bool sent;
  std::string message;
};

Checked check(const std::string& text) {
  char* buffer = nullptr;
  size_t size = 0;
  FILE* err = open_memstream(&buffer, &size);
  const bool sent = check_function_text(text, {"status", "watch", "functions"}, err);
  fclose(err);
  Checked c{sent, std::string(buffer, size)};
  free(buffer);
  return c;
}

TEST(RemoteFunctions, EveryFunctionOfTheTableSaysWhatNumberItTakes) {
  for (const FunctionEntry* e = function_table; e->first_id != -1; ++e) {
    EXPECT_NE(function_argument(e->handler), nullptr) << e->name;
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

TEST(RemoteFunctions, UnknownNamesAreRefusedWithTheClosestNames) {
  const struct {
    const char* text;
    const char* message;
  } cases[] = {
      {"Rec Dub",
       "zt4-remote: unknown function 'Rec Dub'; closest: Rec/Dub; zt4-remote functions lists them "
       "all\n"},
      {"stauts",
       "zt4-remote: unknown function 'stauts'; closest: status; zt4-remote functions lists them "
       "all\n"},
      {"track levle 5",
       "zt4-remote: unknown function 'track levle 5'; closest: Track Level, Track Level 0; "
       "zt4-remote functions lists them all\n"},
      {"xyzzy", "zt4-remote: unknown function 'xyzzy'; zt4-remote functions lists them all\n"},
  };
  for (const auto& c : cases) {
    const Checked got = check(c.text);
    EXPECT_FALSE(got.sent) << c.text;
    EXPECT_EQ(got.message, c.message);
  }
}

TEST(RemoteFunctions, NumbersOutsideAFunctionsRangeAreSentWithANote) {
  const struct {
    const char* text;
    const char* message;
  } cases[] = {
      {"Rec/Dub", ""},
      {"select track 1 5", ""},
      {"Track Level -20", ""},
      {"Track Level 90",
       "zt4-remote: note: 90 is outside what Track Level takes (level 0 (full) to -96 dB; above 0 "
       "gives 0)\n"},
      {"Pan Center -128",
       "zt4-remote: note: -128 is outside what Pan Center takes (pan -127 (left) to 127 "
       "(right))\n"},
      {"Undo 3", "zt4-remote: note: Undo takes no number; 3 is ignored\n"},
  };
  for (const auto& c : cases) {
    const Checked got = check(c.text);
    EXPECT_TRUE(got.sent) << c.text;
    EXPECT_EQ(got.message, c.message) << c.text;
  }
}

TEST(RemoteFunctions, OnlyIdsOfTheTableExist) {
  EXPECT_TRUE(function_id_exists(0));
  EXPECT_TRUE(function_id_exists(12));
  EXPECT_TRUE(function_id_exists(131));
  EXPECT_FALSE(function_id_exists(1000));
  EXPECT_FALSE(function_id_exists(134));
  EXPECT_FALSE(function_id_exists(-1));
}

}  // namespace
