// The handler of "Capture Loop", "Capture 2x" and "Capture 4x".
#include "engine/capture_loop.h"
#include "panel/display_state.h"
#include "panel/handlers.h"
#include "panel/selection.h"

int32_t cmd_capture_loop(int32_t times) {
  const int result = capture_loop(selection.current_track - 1, times);
  report(display_mode_tag, result == 0 ? "CAPT" : "NO CA", Redraw::title);
  return result;
}
