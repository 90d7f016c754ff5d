#include "panel/text_command.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <string>

#include "config/config.h"
#include "core/log_ring.h"
#include "host/looper.h"
#include "panel/display_state.h"
#include "panel/function_numbers.h"
#include "panel/function_table.h"
#include "panel/selection.h"

namespace {

struct TextCase {
  const char* text;
  const char* row_name;  // null: nothing matches
  int32_t argument;
};

// The longest name standing whole in the text wins (followed by the end or a space); when none
// does, the first name that begins the text. A number after the name replaces the argument.
constexpr TextCase text_cases[] = {
    {"play now", "Play Now", 1},
    {"PLAY NOW", "Play Now", 1},
    {"Play", "Play", 0},  // the rows before it are longer than the text or differ
    {"Play/Stop Now", "Play/Stop Now", 1},
    {"Play/Stop", "Play/Stop", 0},
    {"Track Level 1200", "Track Level", 0},  // bounded: 0 is full level
    {"Track Level -20", "Track Level", -20},
    {"Track Level -50", "Track Level", -50},  // "Track Level -5" does not stand whole here
    {"Track Level -5", "Track Level -5", -5},
    {"Track Level -05", "Track Level", -5},  // sets -5
    {"Track Level +5", "Track Level +5", 5},
    {"Track Level +7", "Track Level", 30000},  // '+' is not a number: the row's own argument
    {"Quant Value 12", "Quant Value 12", 12},
    {"Quant Value 10", "Quant Value 10", 10},
    {"Quant Value 16", "Quant Value 16", 16},
    {"Quant Value 32", "Quant Value 32", 32},
    {"Quant Value 64", "Quant Value 64", 64},
    {"Quant Value 17", "Quant Value 1", 7},  // no name stands whole: the first prefix
    {"Quant Value 1 7", "Quant Value 1", 7},
    {"Use Preset (10)", "Use Preset (10)", 10},
    {"Use Preset (1) 7", "Use Preset (1)", 7},
    {"Replace+Original", "Replace+Original", 1},
    {"Q Replace+Orig", "Q Replace+Orig", 1},
    {"Replace+Orig", "Replace", 0},  // no whole name: "Replace" begins it
    {"Fade", "Fade", 1},
    {"Fade/Swell", "Fade/Swell", 0},
    {"Select Track 3   7", "Select Track 3", 7},
    {"Select Track 3-", "Select Track 3", 0},
    {"Feedback 100%99999999999", "Feedback 100%", 100},
    {"", nullptr, 0},
    {"   ", nullptr, 0},
    {"Pla", nullptr, 0},
};

TEST(TextCommandTest, ResolvesTheLongestWholeNameElseTheFirstPrefix) {
  for (const TextCase& c : text_cases) {
    const TextCommand r = resolve_text_command(c.text);
    if (c.row_name == nullptr) {
      EXPECT_EQ(r.row, -1) << c.text;
      continue;
    }
    ASSERT_GE(r.row, 0) << c.text;
    EXPECT_STREQ(function_name(r.row), c.row_name) << c.text;
    EXPECT_EQ(r.argument, c.argument) << c.text;
    EXPECT_FALSE(r.refused) << c.text;
  }
}

// Every name of the table runs its own row, alone, in lower case and followed by a number the
// function takes; a function that takes no number keeps its own argument.
TEST(TextCommandTest, EveryFunctionNameRunsItsOwnRowWithAndWithoutANumber) {
  for (int row = 0; row < function_row_count(); ++row) {
    const FunctionEntry& e = function_table[row];
    std::string lower = e.name;
    for (char& ch : lower) ch = char(tolower(uint8_t(ch)));
    for (const std::string& text : {std::string(e.name), lower}) {
      const TextCommand r = resolve_text_command(text.c_str());
      EXPECT_EQ(r.row, row) << text;
      EXPECT_EQ(r.argument, e.argument) << text;
      EXPECT_FALSE(r.number_given) << text;
    }
    const FunctionNumbers* n = function_numbers(e.handler);
    ASSERT_NE(n, nullptr) << e.name << " has no number range";
    const bool takes_number = n->outside != OutsideNumber::ignored;
    const int32_t number = takes_number ? n->low : 7;
    const std::string text = std::string(e.name) + " " + std::to_string(number);
    const TextCommand r = resolve_text_command(text.c_str());
    EXPECT_EQ(r.row, row) << text;
    EXPECT_TRUE(r.number_given) << text;
    EXPECT_FALSE(r.refused) << text;
    EXPECT_EQ(r.argument, takes_number ? number : e.argument) << text;
  }
}

// Numbers from outside are bounded where they are read: settings on a scale are brought to the
// nearest end, choices and counts outside the range are refused, functions without a number
// ignore it.
TEST(TextCommandTest, NumbersAreBoundedToWhatTheFunctionTakes) {
  struct Case {
    const char* text;
    bool refused;
    int32_t argument;
  };
  constexpr Case cases[] = {
      {"Next Track 2147483647", true, 0},
      {"Next Track -99999999999", true, 0},
      {"Next Track -1", false, -1},
      {"Select Group (1) -2147483648", true, 0},
      {"Select Group (1) 11", true, 0},
      {"16th Ostinato -99999999999", true, 0},
      {"16th Ostinato 64", false, 64},
      {"Quant Value 1 65", true, 0},
      {"Quant Value 1 0", true, 0},
      {"Major 3rd 13", true, 0},
      {"Shrink to 50%% 201", true, 0},
      {"Double 0", true, 0},
      {"Double 5", false, 5},
      {"Track Level 90", false, 0},
      {"Track Level -99999999999999999999", false, -96},
      {"Track Level 30000", false, 0},  // never the "no value given" sentinel
      {"Track Level +5 999", false, 96},
      {"Pan Center 999", false, 127},
      {"Pan Center -128", false, -127},
      {"Feedback 100% -3", false, 0},
      {"Feedback +10% 30000", false, 100},
      {"Undo 5", false, 0},
      {"Drums Start -2147483648", false, 0},
  };
  for (const Case& c : cases) {
    const TextCommand r = resolve_text_command(c.text);
    ASSERT_GE(r.row, 0) << c.text;
    EXPECT_EQ(r.refused, c.refused) << c.text;
    if (!c.refused) {
      EXPECT_EQ(r.argument, c.argument) << c.text;
    }
  }
}

class TextCommandRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    looper_reset();
    config_defaults();
  }
};

std::string console_text() {
  std::string text;
  char chunk[512];
  while (int n = log_take(console_log.udp_log_ring, chunk, int(sizeof chunk)))
    text.append(chunk, size_t(n));
  return text;
}

TEST_F(TextCommandRunTest, RunsTheHandlerWithTheGivenNumber) {
  EXPECT_EQ(run_text_command("Select Track 3   7"), 0);
  EXPECT_EQ(selection.current_track, 7);
  struct Quant {
    const char* text;
    int16_t steps;
  };
  for (const Quant q :
       {Quant{"Quant Value 16", 16}, Quant{"quant value 12", 12}, Quant{"Quant Value 32", 32},
        Quant{"Quant Value 64", 64}, Quant{"Quant Value 10", 10}}) {
    EXPECT_EQ(run_text_command(q.text), 0) << q.text;
    EXPECT_EQ(config.q_steps[6], q.steps) << q.text;
  }
  EXPECT_EQ(run_text_command("Track Level -20"), 0);
  EXPECT_EQ(shown_level[6], -20);
  EXPECT_EQ(run_text_command("Track Level +5"), 0);
  EXPECT_EQ(shown_level[6], -15);
  EXPECT_EQ(run_text_command("Track Level -5"), 0);
  EXPECT_EQ(shown_level[6], -20);
  EXPECT_EQ(run_text_command("no such thing"), -1);
}

// A number the function does not take changes nothing and says why in one line, with the number
// as it was written (never "NaN"); before the bound, "Next Track 2147483647" overflowed.
TEST_F(TextCommandRunTest, ARefusedNumberChangesNothingAndSaysWhy) {
  EXPECT_EQ(run_text_command("Select Track 8"), 0);
  config.q_steps[7] = 5;
  console_text();
  struct Case {
    const char* text;
    const char* line;
  };
  constexpr Case cases[] = {
      {"Next Track 2147483647", "Next Track refused: 2147483647 is outside -1..1\n"},
      {"Select Group (1) -2147483648", "Select Group (1) refused: -2147483648 is outside 1..10\n"},
      {"16th Ostinato -99999999999", "16th Ostinato refused: -99999999999 is outside 0..64\n"},
      {"Quant Value 1 0", "Quant Value 1 refused: 0 is outside 1..64\n"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(run_text_command(c.text), -22) << c.text;
    EXPECT_EQ(console_text(), c.line) << c.text;
  }
  EXPECT_EQ(selection.current_track, 8);
  EXPECT_EQ(config.q_steps[7], 5);
}

TEST_F(TextCommandRunTest, CountedTextIsCutAtItsLength) {
  const char bytes[] = "Select Track 4 and more";
  EXPECT_EQ(run_text_command(bytes, 14), 0);
  EXPECT_EQ(selection.current_track, 4);
  EXPECT_EQ(run_text_command(bytes, -3), -1);
  const std::string longer = "Select Track 2" + std::string(400, ' ');
  EXPECT_EQ(run_text_command(longer.data(), int(longer.size())), 0);
  EXPECT_EQ(selection.current_track, 2);
}

TEST_F(TextCommandRunTest, InvokeFunctionByIdAndLists) {
  EXPECT_EQ(invoke_function(function_id_count), function_id_count);  // no row
  EXPECT_EQ(invoke_function(-1), -1);
  EXPECT_EQ(invoke_function(6), 0);  // "Select Track 4"
  EXPECT_EQ(selection.current_track, 4);
  const int16_t list[8] = {22, 22, -1, 9, 9, 9, 9, 9};  // Next Track twice, then the end
  run_function_list(list);
  EXPECT_EQ(selection.current_track, 6);
  const int16_t full[8] = {3, 4, 5, 6, 7, 8, 9, 10};
  run_function_list(full);
  EXPECT_EQ(selection.current_track, 8);
}

TEST(FunctionTableTest, RowsKeepTheirIdsNamesAndOrder) {
  // Spot checks across the table; ids are what the configuration stores.
  struct Row {
    const char* name;
    int32_t id;
    int32_t argument;
  };
  constexpr Row rows[] = {
      {"Switch-Record", 100, 0},  {"Rec/Dub", 0, 0},           {"Select Group(10)", 45, 10},
      {"Track Level", 12, 30000}, {"Feedback -5%", 34, 19995}, {"Redo", 126, 0},
      {"Track Level +5", 99, 5},  {"Quant Value 64", 123, 64}, {"ZT6 switch", 131, 0}};
  int last_row = -1;
  for (const Row& r : rows) {
    int found = -1;
    for (int i = 0; i < function_row_count(); ++i) {
      if (strcmp(function_table[i].name, r.name) == 0) found = i;
    }
    ASSERT_GE(found, 0) << r.name;
    EXPECT_GT(found, last_row) << r.name;
    last_row = found;
    EXPECT_EQ(function_table[found].first_id, r.id) << r.name;
    EXPECT_EQ(function_table[found].argument, r.argument) << r.name;
    EXPECT_LE(strlen(r.name), 16u);
  }
  EXPECT_EQ(function_table[function_row_count()].first_id, -1);
  EXPECT_EQ(function_name(function_row_count()), nullptr);
}

TEST(FunctionTableTest, ControllerFunctionsByIndex) {
  ASSERT_NE(controller_function(0), nullptr);
  EXPECT_STREQ(controller_function(0)->name, "General Use");
  EXPECT_STREQ(controller_function(10)->name, "Track 8 Volume");
  EXPECT_EQ(controller_function(10)->argument, 8);
  EXPECT_STREQ(controller_function(19)->name, "Speed");
  EXPECT_STREQ(controller_function(28)->name, "Track 8 Pan");
  EXPECT_EQ(controller_function(29), nullptr);  // the sentinel has no handler
  EXPECT_EQ(controller_function(30), nullptr);
  EXPECT_EQ(controller_function(-1), nullptr);
}

}  // namespace
