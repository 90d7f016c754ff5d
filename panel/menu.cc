#include "panel/menu.h"

#include "panel/display.h"
#include "panel/input.h"
#include "panel/menus.h"
#include "panel/value_entry.h"

MenuStack menu_stack;

namespace {

MenuLevel& top() { return menu_stack.levels[menu_stack.depth]; }

bool has_items(const MenuLevel& level) { return level.menu != nullptr && level.menu->count > 0; }

const MenuItem* current_item(const MenuLevel& level) {
  if (!has_items(level)) return nullptr;
  return &level.menu->items[level.cursor];
}

}  // namespace

const MenuLevel& top_level() { return top(); }

bool menu_on_top(const Menu* menu) { return top().menu == menu; }

bool menu_open(const Menu* menu) {
  for (int level = 0; level <= menu_stack.depth; ++level) {
    if (menu_stack.levels[level].menu == menu) return true;
  }
  return false;
}

int push_menu(const Menu* menu, int cursor, KeyCallback key_callback) {
  MenuStack& m = menu_stack;
  if (m.depth >= menu_levels - 1 || menu == nullptr) return -1;
  if (cursor < 0 || cursor >= menu->count) cursor = 0;
  m.depth++;
  m.levels[m.depth] = {menu, int16_t(cursor), key_callback};
  const MenuItem* item = current_item(top());
  if (item != nullptr && item->text == nullptr) activate_item();
  draw_menu();
  return 0;
}

void set_pending_screen(const Menu* menu, int cursor, KeyCallback key_callback) {
  menu_stack.pending = {menu, int16_t(cursor), key_callback};
}

void pop_menu(const Menu* expected, int advance) {
  MenuStack& m = menu_stack;
  if (m.pending.menu != nullptr && m.depth > 0) {
    // The entry screen it replaces leaves the stack, and with it the entry.
    if (menu_on_top(&value_entry_screen)) value_entry_end();
    top() = m.pending;
    m.pending = {};
    draw_menu();
    return;
  }
  if (m.depth == 0) return;
  if (expected != nullptr && top().menu != expected) return;
  m.depth--;
  value_entry_end();
  if (advance) {
    MenuLevel& level = top();
    const MenuItem* item = current_item(level);
    if (item != nullptr && item->text == nullptr) {
      if (level.cursor < level.menu->count - 1) {
        level.cursor++;
        activate_item();
      } else {
        pop_menu(nullptr, 1);
        return;
      }
    }
  }
  draw_menu();
}

void activate_item() {
  const MenuItem* item = current_item(top());
  if (item == nullptr) return;
  if (item->action != nullptr) {
    item->action(item->user_data);
  } else if (item->submenu != nullptr) {
    const Menu* submenu = item->submenu;
    const int cursor = submenu->selection != nullptr ? *submenu->selection : 0;
    push_menu(submenu, cursor, nullptr);
  } else {
    pop_menu(nullptr, 0);
  }
}

void reset_menus() {
  MenuStack& m = menu_stack;
  m.depth = 0;
  m.pending = {};
  value_entry_end();
  display.idle_counter = 0;
}

void draw_title() {
  const MenuStack& m = menu_stack;
  const MenuLevel& level = top();
  if (m.depth == 0 && level.cursor == 0 && display.idle_counter > 0) return;
  if (level.menu == nullptr) return;
  if (level.menu->title != nullptr) {
    write_text(0, level.menu->title);
  } else if (level.menu->title_fn != nullptr) {
    write_text(0, level.menu->title_fn());
  }
}

void draw_menu() {
  display.idle_counter = 0;
  draw_title();
  const MenuItem* item = current_item(top());
  if (item != nullptr && item->text != nullptr) write_text(1, item->text);
}

void move_cursor(int32_t code) {
  MenuLevel& level = top();
  if (!has_items(level)) return;
  if (code == code_encoder_up && level.cursor < level.menu->count - 1) level.cursor++;
  if (code == code_encoder_down && level.cursor > 0) level.cursor--;
}

void menu_stack_reset() { menu_stack = MenuStack{}; }
