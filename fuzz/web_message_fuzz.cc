// The web panel's socket message handler: any bytes are refused with a reason or turned into one
// checked action, which is then queued the way a socket thread queues it.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "panel/command_queue.h"
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
  }
  web_panel.event_count = 0;
  return 0;
}
