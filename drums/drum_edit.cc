#include "drums/drum_edit.h"

#include "core/constants.h"
#include "core/lock.h"
#include "drums/drum_bank_file.h"
#include "drums/drum_machine.h"

namespace {

bool valid_drum(int32_t drum) { return drum >= 0 && drum < drum_count; }

// The current pattern for a store under the engine lock, or null.
DrumPattern* editable_pattern() {
  const int32_t n = drums.bank.current_pattern;
  return n >= 0 && n < drum_pattern_count ? &drums.bank.patterns[n] : nullptr;
}

}  // namespace

const DrumPattern* drum_current_pattern() { return editable_pattern(); }

int32_t drum_select_pattern(int32_t number) {
  if (number < 1 || number > drum_pattern_count) return status_refused;
  int32_t bpm;
  {
    EngineLockGuard lock;
    drums.bank.current_pattern = number - 1;
    DrumPattern& p = drums.bank.patterns[number - 1];
    if (p.bpm == 0) p.bpm = drum_bpm_default;
    bpm = p.bpm;
  }
  drum_bank_touch();
  return drum_set_tempo(bpm);
}

int32_t drum_set_bpm(int32_t bpm) {
  if (bpm < drum_bpm_min || bpm > drum_bpm_max) return status_refused;
  {
    EngineLockGuard lock;
    DrumPattern* p = editable_pattern();
    if (p == nullptr) return status_refused;
    p->bpm = bpm;
  }
  drum_bank_touch();
  return drum_set_tempo(bpm);
}

int32_t drum_set_all_gain(int32_t db) {
  if (db < drum_gain_min || db > 0) return status_refused;
  {
    EngineLockGuard lock;
    DrumPattern* p = editable_pattern();
    if (p == nullptr) return status_refused;
    p->all_gain = int16_t(db);
  }
  drum_bank_touch();
  return status_ok;
}

int32_t drum_set_gain(int32_t drum, int32_t db) {
  if (!valid_drum(drum) || db < drum_gain_min || db > 0) return status_refused;
  {
    EngineLockGuard lock;
    DrumPattern* p = editable_pattern();
    if (p == nullptr) return status_refused;
    p->gain[drum] = int16_t(db);
  }
  drum_bank_touch();
  return status_ok;
}

int32_t drum_set_pan(int32_t drum, int32_t pan) {
  if (!valid_drum(drum) || pan < -drum_pan_limit || pan > drum_pan_limit) return status_refused;
  {
    EngineLockGuard lock;
    DrumPattern* p = editable_pattern();
    if (p == nullptr) return status_refused;
    p->pan[drum] = int16_t(pan);
  }
  drum_bank_touch();
  return status_ok;
}

int32_t drum_toggle_step(int32_t step, int32_t drum) {
  if (step < 0 || step >= drum_steps || !valid_drum(drum)) return status_refused;
  {
    EngineLockGuard lock;
    DrumPattern* p = editable_pattern();
    if (p == nullptr) return status_refused;
    p->steps[step] = uint16_t(p->steps[step] ^ (1u << drum));
  }
  drum_bank_touch();
  return status_ok;
}
