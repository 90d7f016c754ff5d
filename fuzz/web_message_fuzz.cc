// The web panel's socket message handler: any bytes are refused with a reason or turned into one
// checked action, which is then queued the way a socket thread queues it. Every value is within
// the bounds the main thread relies on when it runs the action.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "core/constants.h"
#include "panel/command_queue.h"
#include "panel/function_table.h"
#include "panel/input.h"
#include "panel/text_command.h"
#include "web/web_message.h"
#include "web/web_panel.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const WebMessage m = web_message_parse(reinterpret_cast<const char*>(data), size);
  switch (m.action) {
    case WebAction::none:
      if (m.error == nullptr) __builtin_trap();
      break;
    case WebAction::function:
      if (m.error != nullptr || resolve_text_command(m.text).row < 0) __builtin_trap();
      command_queue_put(m.text);
      command_queue_reset();
      break;
    case WebAction::key:
      if (!web_key_known(m.value)) __builtin_trap();
      web_queue_event(true, m.value);
      break;
    case WebAction::encoder:
      if (m.value == 0 || m.value > web_encoder_step_max || m.value < -web_encoder_step_max)
        __builtin_trap();
      web_queue_event(false, m.value);
      break;
    case WebAction::item:
      if (m.value < 0 || m.value > web_menu_item_max) __builtin_trap();
      web_queue(WebEvent{m.action, m.part, m.value});
      break;
    case WebAction::entry:
      if (m.value < -web_entry_limit || m.value > web_entry_limit) __builtin_trap();
      web_queue(WebEvent{m.action, m.part, m.value});
      break;
    case WebAction::mix: {
      static constexpr int32_t lo[] = {web_mix_level_min, -web_mix_pan_limit, 0};
      static constexpr int32_t hi[] = {0, web_mix_pan_limit, web_mix_feedback_max};
      if (m.part < 0 || m.part >= web_mix_kinds || m.track < 1 || m.track > track_count ||
          m.value < lo[m.part] || m.value > hi[m.part])
        __builtin_trap();
      web_queue_mix(m.part, m.track, m.value);
      break;
    }
    case WebAction::learn:
      if (m.part == web_learn_controller ? controller_function(m.value) == nullptr
                                         : m.value < 0 || m.value >= function_row_count())
        __builtin_trap();
      web_queue(WebEvent{m.action, m.part, m.value});
      break;
    case WebAction::unmap:
      if (m.value < 0 ||
          m.value >= (m.part == web_unmap_controller ? web_controller_count : web_list_count))
        __builtin_trap();
      web_queue(WebEvent{m.action, m.part, m.value});
      break;
    case WebAction::drums:
      if (m.part == web_drums_bpm ? m.value < web_drum_bpm_min || m.value > web_drum_bpm_max
                                  : m.value < 1 || m.value > web_drum_pattern_max)
        __builtin_trap();
      web_queue(WebEvent{m.action, m.part, m.value});
      break;
  }
  web_panel.event_count = 0;
  return 0;
}
