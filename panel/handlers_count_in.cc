// The handlers of "Rec Length", "Count-in Bars" and "Click": the count-in settings, kept in a
// file of their own.
#include "core/console.h"
#include "core/constants.h"
#include "drums/count_in_settings.h"
#include "panel/display_state.h"
#include "panel/handlers.h"

namespace {

constexpr const char* click_names[] = {"off", "count-in only", "always"};

// The next of `count` values after `current`, wrapping.
int32_t next_value(const int16_t* values, int count, int32_t current) {
  for (int i = 0; i < count; ++i)
    if (values[i] == current) return values[(i + 1) % count];
  return values[0];
}

}  // namespace

int32_t cmd_rec_length(int32_t bars) {
  const CountInSettings& s = count_in_store.live;
  if (bars < 0) bars = next_value(rec_length_choices, rec_length_choice_count, s.rec_length);
  if (!set_rec_length(bars)) {
    console_printf("Rec Length refused: %d is not 0 (free), 1, 2, 4, 8 or 16 bars\n", int(bars));
    return status_refused;
  }
  if (bars == 0) {
    console_printf("Rec Length set to free\n");
  } else {
    console_printf("Rec Length set to %d bar%s\n", int(bars), bars == 1 ? "" : "s");
  }
  report(display_mode_tag, bars == 0 ? "LEN FREE" : "LEN BARS", Redraw::title);
  return 0;
}

int32_t cmd_count_in_bars(int32_t bars) {
  constexpr int16_t choices[] = {0, 1, 2};
  if (bars < 0) bars = next_value(choices, 3, count_in_store.live.count_in_bars);
  if (!set_count_in_bars(bars)) {
    console_printf("Count-in Bars refused: %d is not 0 (off), 1 or 2\n", int(bars));
    return status_refused;
  }
  console_printf("Count-in Bars set to %d\n", int(bars));
  report(display_mode_tag, bars == 0 ? "CNT OFF" : "CNT IN", Redraw::title);
  return 0;
}

int32_t cmd_click(int32_t mode) {
  constexpr int16_t choices[] = {click_off, click_count_in, click_always};
  if (mode < 0) mode = next_value(choices, 3, count_in_store.live.click);
  if (!set_click(mode)) {
    console_printf("Click refused: %d is not 0 (off), 1 (count-in only) or 2 (always)\n",
                   int(mode));
    return status_refused;
  }
  console_printf("Click set to %s\n", click_names[mode]);
  report(display_mode_tag, mode == click_off ? "CLK OFF" : "CLK ON", Redraw::title);
  return 0;
}
