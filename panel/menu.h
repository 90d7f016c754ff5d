// The menu system of the two-line display: a stack of up to five screens, each a list of items
// walked with the encoder and chosen with select, or an editor screen whose key callback takes
// the keys itself. Level 0 is always the main menu. Main thread only.
#pragma once

#include <cstdint>

struct Menu;

// An item's action gets the item's user_data; the handlers of the function table fit.
using MenuAction = int32_t (*)(int32_t user_data);
// A screen's own key handling: gets every input code while its level is on top.
using KeyCallback = void (*)(int32_t code);
using TitleFunction = const char* (*)();

struct MenuItem {
  const char* text;   // second display line while current; null: activated as soon as shown
  MenuAction action;  // null: open the submenu, or without one act as the back key
  const Menu* submenu;
  int32_t user_data;
};

struct Menu {
  const char* title;  // first display line; null: title_fn composes it at every redraw
  TitleFunction title_fn;
  const MenuItem* items;
  int32_t count;
  const int16_t* selection;  // a setting whose value preselects the entry, or null
};

constexpr int menu_levels = 5;

struct MenuLevel {
  const Menu* menu;
  int16_t cursor;            // index of the current item
  KeyCallback key_callback;  // null: the router and the global key map handle the codes
};

extern const Menu main_menu;

// Start of the program: the main menu alone, on its first item (the status screen).
struct MenuStack {
  MenuLevel levels[menu_levels] = {{&main_menu, 0, nullptr}};
  int16_t depth = 0;       // 0..4
  MenuLevel pending = {};  // replaces the top level at the next pop; menu null = none
};

extern MenuStack menu_stack;

// Pushes a screen: -1 when five levels are already open (nothing changes), else 0. An item
// without text at the cursor is activated at once; the lines are redrawn.
int push_menu(const Menu* menu, int cursor, KeyCallback key_callback);
// Leaves the top level: a pending screen takes its place instead; nothing at level 0 or when
// expected is given and is not the top menu. Ends value entry. With advance, an item without
// text under the new top's cursor moves the cursor on and is activated (or pops again at the
// last item).
void pop_menu(const Menu* expected, int advance);
// The next pop_menu replaces the top level with this screen instead of popping it.
void set_pending_screen(const Menu* menu, int cursor, KeyCallback key_callback);
// Select on the top level's current item: its action, else its submenu (preselected from the
// submenu's setting), else back.
void activate_item();
// Depth 0 on the main menu, no value entry, no pending screen, the idle counter zeroed.
void reset_menus();
// Both display lines from the top level: the title, then the current item's text.
void draw_menu();
// The first line alone; skipped on the status screen while the level meters are showing.
void draw_title();

// The top level, and whether its menu is `menu`.
const MenuLevel& top_level();
bool menu_on_top(const Menu* menu);
// Whether `menu` is open at any level.
bool menu_open(const Menu* menu);
// An encoder step on the top level's cursor: no wrap-around.
void move_cursor(int32_t code);

// Start-of-program state: the main menu alone, cursor 0.
void menu_stack_reset();
