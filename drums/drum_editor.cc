#include "drums/drum_editor.h"

#include "core/console.h"

int32_t drum_show_step(const DrumPattern& pattern, int32_t n, char* line1, char* line2) {
  if (n < 1) n = drum_steps;
  if (n > drum_steps) n = 1;
  const int32_t s = n - 1;
  format_to(line1, "Beat %d:%d:%02d", s / drum_steps_per_measure + 1,
            (s % drum_steps_per_measure) / drum_steps_per_beat + 1, s % drum_steps_per_beat + 1);
  char drums_on[drum_count + 1];
  for (int i = 0; i < drum_count; i++) {
    drums_on[i] = (pattern.steps[s] & (1u << i)) != 0 ? char('1' + i) : ' ';
  }
  drums_on[drum_count] = '\0';
  format_to(line2, "    %s\n", drums_on);
  return n;
}
