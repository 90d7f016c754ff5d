// The web panel's state message carries the count-in settings and the beats still to count.
#include <gtest/gtest.h>

#include <string>

#include "net/status_report.h"
#include "panel/display.h"
#include "web/web_panel.h"

namespace {

TEST(WebCountInTest, StateMessageCarriesTheCountInKeys) {
  RemoteStatus status{};
  status.rec_length = 2;
  status.count_in_bars = 1;
  status.click = 1;
  status.count_in = 3;
  const char lines[display_line_count][display_columns + 1] = {"", ""};
  const std::string json = web_state_json(status, lines, 0, 0);
  EXPECT_NE(json.find("\"rec_length\":2,\"count_in_bars\":1,\"click\":1,\"count_in\":3}"),
            std::string::npos)
      << json;
}

}  // namespace
