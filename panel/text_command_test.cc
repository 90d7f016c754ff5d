#include "panel/text_command.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "config/config.h"
#include "host/looper.h"
#include "panel/display_state.h"
#include "panel/function_table.h"
#include "panel/selection.h"

namespace {

struct TextCase {
  const char* text;
  const char* row_name;  // null: nothing matches
  int32_t argument;
};

// The first row whose whole name begins the text wins; a number after it replaces the argument.
constexpr TextCase text_cases[] = {
    {"play now", "Play Now", 1},
    {"PLAY NOW", "Play Now", 1},
    {"Play", "Play", 0},  // the rows before it are longer than the text or differ
    {"Play/Stop Now", "Play/Stop Now", 1},
    {"Play/Stop", "Play/Stop", 0},
    {"Track Level 1200", "Track Level", 1200},
    {"Track Level -5", "Track Level", -5},  // not "Track Level -5", which comes later
    {"Track Level +5", "Track Level", 30000},  // '+' is not a number: the row's own argument
    {"Quant Value 12", "Quant Value 1", 2},
    {"Quant Value 10", "Quant Value 1", 0},
    // "Use Preset (1)" differs from this text at its closing parenthesis.
    {"Use Preset (10)", "Use Preset (10)", 10},
    {"Use Preset (1) 7", "Use Preset (1)", 7},
    {"Replace+Original", "Replace", 0},
    {"Q Replace+Orig", "Q Replace", 0},
    {"Fade", "Fade", 1},
    {"Select Track 3   7", "Select Track 3", 7},
    {"Select Track 3-", "Select Track 3", 0},
    {"Feedback 100%99999999999", "Feedback 100%", 2147483647},
    {"Next Track -99999999999", "Next Track", -2147483647 - 1},
    {"", nullptr, 0},
    {"   ", nullptr, 0},
    {"Pla", nullptr, 0},
};

TEST(TextCommandTest, ResolvesByNamePrefixInTableOrder) {
  for (const TextCase& c : text_cases) {
    const TextCommand r = resolve_text_command(c.text);
    if (c.row_name == nullptr) {
      EXPECT_EQ(r.row, -1) << c.text;
      continue;
    }
    ASSERT_GE(r.row, 0) << c.text;
    EXPECT_STREQ(function_name(r.row), c.row_name) << c.text;
    EXPECT_EQ(r.argument, c.argument) << c.text;
  }
}

class TextCommandRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    looper_reset();
    config_defaults();
  }
};

TEST_F(TextCommandRunTest, RunsTheHandlerWithTheGivenNumber) {
  EXPECT_EQ(run_text_command("Select Track 3   7"), 0);
  EXPECT_EQ(selection.current_track, 7);
  // "Quant Value 10" runs the handler with 0, which it ignores.
  config.q_steps[6] = 5;
  EXPECT_EQ(run_text_command("Quant Value 10"), -22);
  EXPECT_EQ(config.q_steps[6], 5);
  EXPECT_EQ(run_text_command("quant value 12"), 0);
  EXPECT_EQ(config.q_steps[6], 2);
  EXPECT_EQ(run_text_command("no such thing"), -1);
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
  EXPECT_EQ(invoke_function(134), 134);  // no row
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
  constexpr Row rows[] = {{"Switch-Record", 100, 0}, {"Rec/Dub", 0, 0},
                          {"Select Group(10)", 45, 10}, {"Track Level", 12, 30000},
                          {"Feedback -5%", 34, 19995}, {"Redo", 126, 0},
                          {"Track Level +5", 99, 5}, {"Quant Value 64", 123, 64},
                          {"ZT6 switch", 131, 0}};
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
