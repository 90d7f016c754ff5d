#include "panel/display_state.h"

#include <cstring>

#include "panel/menu.h"

DisplayState display_state;

void set_tag(const char* tag) {
  strncpy(display_state.tag_text, tag, tag_text_max);
  display_state.tag_text[tag_text_max] = '\0';
}

void request_redraw(Redraw redraw) {
  if (redraw == Redraw::full) draw_menu();
  if (redraw == Redraw::title) draw_title();
}

void report(int16_t mode, const char* tag, Redraw redraw) {
  display_state.display_mode = mode;
  if (tag != nullptr) set_tag(tag);
  display_state.mode_countdown = report_countdown;
  request_redraw(redraw);
}

void display_state_reset() { display_state = DisplayState{}; }
