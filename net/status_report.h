// The status reports sent to the remote program: the text document, the compact 232-byte form
// and the 120-byte host SysEx reply, all built from one RemoteStatus taken from the live looper.
// The builders are pure; remote_status_read reads live state (network and main threads).
#pragma once

#include <cstdint>

#include "core/constants.h"

// The reports' layouts (232 and 120 bytes, a 4-bit state per track in one 32-bit word) are fixed
// by the remote program's protocol for eight tracks.
static_assert(track_count == 8, "the status layouts carry exactly eight tracks");

// What every report shows, copied from the looper at one moment.
struct RemoteStatus {
  uint32_t state_word;            // 4-bit state code per track, track t in bits 4t..4t+3
  int32_t length[track_count];    // loop length in frames
  int32_t position[track_count];  // play position in frames
  int16_t level[track_count];     // live mix: 0 full, negative attenuation
  int16_t pan[track_count];
  int16_t feedback[track_count];  // percent
  int32_t selected;               // 1-8 the selected track, 0 when none is
  // The count-in settings and the beats still to count before a counted take starts (0: none).
  int16_t rec_length;     // bars, 0 free
  int16_t count_in_bars;  // 0 off, 1, 2
  int16_t click;          // 0 off, 1 during the count-in, 2 always
  int32_t count_in;
};

// Fills status from the transport's snapshot, the live mix and the panel selection.
void remote_status_read(RemoteStatus& status);

// State code of a track that a copy, stretch or pitch change is building: the status reads it
// into state_word beside the transport's codes 0-5.
constexpr uint32_t state_code_busy = 6;

// The state code of track t (0-7) as the compact status and the SysEx status number it:
// playing 4, stopped 3, recording 1, overdubbing 2, replacing 5, busy 6, anything else 0.
int compact_state_code(const RemoteStatus& status, int t);
// The word the status document shows for track t.
const char* state_word_text(const RemoteStatus& status, int t);

// Longest status document, NUL included (every field at its widest fits with room to spare).
constexpr int status_document_max = 2048;
// Builds the "<status>" document into out (status_document_max bytes) and returns its length
// including the terminating NUL, which is sent with it.
int build_status_document(const RemoteStatus& status, char* out);

// 58 big-endian 32-bit words.
constexpr int compact_status_length = 232;
void build_compact_status(const RemoteStatus& status, uint8_t* out);

// Host reply code 2: header, code, track count, selected track, 14 bytes per track, F7.
constexpr int sysex_status_length = 120;
constexpr uint8_t sysex_status_code = 2;
void build_sysex_status(const RemoteStatus& status, uint8_t* out);
