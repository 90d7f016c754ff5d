// The web panel's socket messages: what a browser may send, checked before anything happens. A
// message is one text frame of one of these forms:
//   fn NAME              run the function NAME from the function table (a text command)
//   key CODE             press the front-panel key with scan code CODE (hexadecimal, e.g. 0840)
//   enc STEPS            turn the encoder by STEPS (-16..16, not 0)
//   item N               choose item N (0..99) of the menu on the panel's screen
//   value N              enter N on the value entry on the panel's screen, as the panel shows it
//   mix T WHAT V         track T (1..8): level V (-96..0), pan V (-127..127) or feedback V (0..100)
//   learn NAME           the next MIDI note, program change or controller runs function NAME; a
//                        controller function (e.g. "Track 2 Volume") learns the next controller
//   unmap N              MIDI trigger list N (0..383: programs, controllers, notes) runs nothing
//   unmap cc C           controller C (0..127) drives no controller function
//   drums bpm N          the drum machine's tempo (60..200)
//   drums pattern N      the drum machine's pattern (1..64)
// Anything else is refused with a reason and changes nothing. Any thread.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr int web_message_max = 80;  // longest message accepted
constexpr int web_encoder_step_max = 16;

constexpr int web_menu_item_max = 99;
constexpr int web_entry_limit = 99999;  // a value entry's number as shown, either sign
constexpr int web_mix_level_min = -96;
constexpr int web_mix_pan_limit = 127;
constexpr int web_mix_feedback_max = 100;
constexpr int web_list_count = 384;  // MIDI trigger lists: programs, controllers, notes
constexpr int web_controller_count = 128;
constexpr int web_drum_bpm_min = 60;
constexpr int web_drum_bpm_max = 200;
constexpr int web_drum_pattern_max = 64;

enum class WebAction { none, function, key, encoder, item, entry, mix, learn, unmap, drums };
// What `part` names for each action.
enum WebMix : int32_t { web_mix_level, web_mix_pan, web_mix_feedback, web_mix_kinds };
enum WebLearn : int32_t { web_learn_function, web_learn_controller };
enum WebUnmap : int32_t { web_unmap_list, web_unmap_controller };
enum WebDrums : int32_t { web_drums_bpm, web_drums_pattern };

struct WebMessage {
  WebAction action = WebAction::none;
  char text[web_message_max + 1] = {};  // function: the name as sent
  int32_t value = 0;  // key: the scan code; encoder: the steps; learn: the row or controller id
  int32_t part = 0;   // mix, learn, unmap, drums: which (the enums above)
  int32_t track = 0;  // mix: 1..8
  const char* error = nullptr;  // none: why the message was refused
};

// Parses and checks one message of `length` bytes (not NUL-terminated).
WebMessage web_message_parse(const char* data, size_t length);

// Whether code is one of the front panel's key scan codes.
bool web_key_known(int32_t code);
