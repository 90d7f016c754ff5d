// The drum voices' samples: "drum1.wav" … "drum8.wav" from the working directory, in any format
// and rate libsndfile reads, resampled to 48000 Hz, mono duplicated to both channels, written
// into pool blocks and handed to the voices. Main thread, at start-up.
#pragma once

#include <cstdint>
#include <vector>

// A decoded sample: interleaved left, right at 48000 Hz and full scale ±2^24, or why it was not.
struct DrumSampleData {
  std::vector<int32_t> frames;  // 2 words per frame
  bool cut = false;             // longer than a voice holds: the start was kept
  const char* fault = nullptr;  // null when decoded
  bool missing = false;         // there is no such file
};

// Decodes a sound file held in memory (the bytes of a whole file).
DrumSampleData drum_sample_decode(const uint8_t* bytes, int64_t length);
// Decodes a sound file by name.
DrumSampleData drum_sample_read(const char* path);

// Loads path into voice `drum` (0-7) and prints one line: "Drum %d: %s loaded, %d frames\n",
// "... loaded, cut to %d frames\n" or "Drum %d: %s refused: %s\n". A missing file prints
// nothing and leaves the voice as it is. Returns 0 when loaded, 1 when missing, -1 refused.
int drum_sample_load(int drum, const char* path);
// Start-up: drum%d.wav for the eight voices.
void drum_samples_load_all();
