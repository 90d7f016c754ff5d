#include "panel/audio_slots.h"

#include "config/config.h"
#include "core/console.h"
#include "panel/handlers.h"
#include "panel/input.h"
#include "panel/menu.h"
#include "panel/panel_hooks.h"
#include "panel/selection.h"
#include "panel/value_entry.h"

AudioSlots audio_slots;

namespace {

constexpr int save_pending = -1;
constexpr int load_complete = 100;

int32_t save_answer(int32_t yes);

constexpr MenuItem save_confirm_items[] = {
    {"No", save_answer, nullptr, 0},
    {"Yes", save_answer, nullptr, 1},
};
constexpr MenuItem progress_item[] = {{audio_slots.progress, nullptr, nullptr, 0}};

// While the storage thread works the panel stays usable: the screen ignores the encoder, select
// and back, and hands every other code to the global key map.
void progress_key(int32_t code) {
  if (is_encoder_step(code) || code == key_select || code == key_back) return;
  dispatch_key(code);
}

void show_progress(const char* format, int percent) {
  format_to(audio_slots.progress, format, percent);
  if (menu_on_top(&slot_progress_screen)) write_text(1, audio_slots.progress);
}

void finish(bool completed) {
  const SlotOperation operation = audio_slots.operation;
  audio_slots.operation = SlotOperation::none;
  pop_menu(&slot_progress_screen, 0);
  show_message(operation == SlotOperation::saving ? "Track save" : "Track load",
               completed ? "completed" : "failed");
}

void save_slot_chosen(int32_t slot) {
  AudioSlots& a = audio_slots;
  a.slot = slot;
  format_to(a.title, "Save to slot %d?", int(slot));
  set_pending_screen(&save_confirm_screen, 0, nullptr);
}

int32_t save_answer(int32_t yes) {
  AudioSlots& a = audio_slots;
  const PanelHooks& h = panel_hooks;
  const bool storage = h.request_save != nullptr && h.save_state != nullptr;
  if (!yes || a.slot < 1 || !storage || a.operation != SlotOperation::none) {
    pop_menu(&save_confirm_screen, 0);
    show_message("Track save", "failed");
    return 0;
  }
  if (h.request_save(a.track - 1, a.slot) != 0) {
    // The save of an earlier request, whose screen timed out, still runs.
    pop_menu(&save_confirm_screen, 0);
    show_message("Track save", "refused: busy");
    return 0;
  }
  a.operation = SlotOperation::saving;
  a.seconds = 0;
  format_to(a.progress, "Saved %d%%", 0);
  set_pending_screen(&slot_progress_screen, 0, progress_key);
  pop_menu(&save_confirm_screen, 0);
  return 0;
}

// The track keeps its loop (and its file) until the slot has been read whole: the storage thread
// swaps the new loop in only then, so a missing or damaged slot loses nothing.
void load_slot_chosen(int32_t slot) {
  AudioSlots& a = audio_slots;
  const PanelHooks& h = panel_hooks;
  a.slot = slot;
  const bool storage = h.request_load != nullptr && h.load_result != nullptr;
  if (slot < 1 || !storage || a.operation != SlotOperation::none) {
    show_message_in_place("Track load", "failed");
    return;
  }
  if (h.request_load(a.track - 1, slot) != 0) {
    show_message_in_place("Track load", "failed");
    return;
  }
  a.operation = SlotOperation::loading;
  a.seconds = 0;
  format_to(a.progress, "Loaded %d%%", 0);
  set_pending_screen(&slot_progress_screen, 0, progress_key);
}

}  // namespace

constexpr Menu save_confirm_screen = {audio_slots.title, nullptr, save_confirm_items, 2, nullptr};
constexpr Menu slot_progress_screen = {audio_slots.title, nullptr, progress_item, 1, nullptr};

int32_t cmd_save_audio(int32_t) {
  const int k = single_track();
  AudioSlots& a = audio_slots;
  if (k == 0 || value_entry.active != nullptr || a.operation != SlotOperation::none) {
    return status_refused;
  }
  a.track = k;
  selection.entry_scratch = -1;
  char title[value_title_max + 1];
  format_to(title, "Save Tr%d to slot: ", k);
  get_integer_generic(title, 0, 1, audio_slot_max, 0, &selection.entry_scratch,
                      int16_t(sizeof selection.entry_scratch), save_slot_chosen);
  return 0;
}

int32_t cmd_load_audio(int32_t) {
  const int k = single_track();
  AudioSlots& a = audio_slots;
  if (k == 0 || value_entry.active != nullptr || a.operation != SlotOperation::none) {
    return status_refused;
  }
  a.track = k;
  format_to(a.title, "Load Tr%d from:", k);
  selection.entry_scratch = 1;
  get_integer_generic(a.title, 0, 1, audio_slot_max, 0, &selection.entry_scratch,
                      int16_t(sizeof selection.entry_scratch), load_slot_chosen);
  return 0;
}

void audio_slots_tick() {
  AudioSlots& a = audio_slots;
  const PanelHooks& h = panel_hooks;
  switch (a.operation) {
    case SlotOperation::saving: {
      const int state = h.save_state != nullptr ? h.save_state() : 1;
      if (state != save_pending) {
        finish(state == 0);
      } else if (++a.seconds >= audio_slot_seconds) {
        finish(false);
      } else {
        show_progress("Saved %d%%", h.save_percent != nullptr ? h.save_percent() : 0);
      }
      return;
    }
    case SlotOperation::loading: {
      const int result = h.load_result != nullptr ? h.load_result() : -1;
      if (result >= load_complete || result < 0) {
        finish(result >= load_complete);
      } else if (++a.seconds >= audio_slot_seconds) {
        finish(false);
      } else {
        show_progress("Loaded %d%%", result);
      }
      return;
    }
    default: return;
  }
}

void audio_slots_reset() { audio_slots = AudioSlots{}; }
