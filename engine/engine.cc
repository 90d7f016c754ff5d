#include "engine/engine.h"

#include "config/config.h"
#include "drums/drum_machine.h"
#include "engine/count_in.h"
#include "engine/input_conditioning.h"
#include "engine/listen_ring.h"
#include "engine/latency_measure.h"
#include "engine/voice.h"
#include "core/lock.h"
#include "midi/clock.h"

Engine engine;

namespace {

constexpr int max_gain_steps = 8;  // ±8 steps of 6 dB

// The pair an output setting names: 1 aux 1, 2 aux 2, anything else main.
int32_t* output_pair(int32_t output, int32_t (&bus)[output_pairs][2]) {
  return bus[output_pair_index(output)];
}

// A new loop is written at its length, which grows with every frame. When the pool runs dry
// the take is abandoned and the track is left empty.
void record_frame(int n, const int32_t in[2]) REQUIRES(engine_capability) {
  Track& t = tracks[n];
  const int32_t length = t.length;
  int32_t* block = nullptr;
  if (uint32_t(length) < uint32_t(max_track_frames)) {
    int32_t*& entry = track_blocks[n][length / block_frames];
    if (entry == nullptr) set_block_ref(entry, pool_alloc_zeroed_engine());
    block = entry;
  }
  if (block == nullptr) {
    engine_state.record_track = -1;
    t.length = 0;
    t.position = 0;
    if (length >= block_frames) {
      for (int32_t*& entry : track_blocks[n]) {
        if (entry != nullptr) {
          pool_free_engine(entry);
          set_block_ref(entry, nullptr);
        }
      }
    }
    return;
  }
  t.audio_changed = 1;
  int32_t* frame = block + 2 * (length % block_frames);
  frame[0] = in[0];
  frame[1] = in[1];
  int32_t step = t.position_fraction + t.rate;
  t.length = length + (step >> 8);
  t.position_fraction = step & 255;
}

// The frame the input of a role is written to: offset frames behind the play head (the frame
// read for the sound when the offset is 0), with the segment mapping; null when it has no block.
int32_t* written_frame(const Track& t, int n, int32_t* read_frame, int32_t offset)
    REQUIRES(engine_capability) {
  if (offset == 0) return read_frame;
  const int32_t w = write_head(t.position, offset, t.length);
  if (t.segment_count >= 2) return segment_read_point(t, n, w).frame;
  return track_frame(n, w);
}

// Old audio kept and the input added; the feedback level shapes only what is heard. The input
// goes offset frames behind the play head, where the player heard the loop when playing it.
void overdub_frame(int n, const int32_t in[2], int32_t pair[2], int32_t offset)
    REQUIRES(engine_capability) {
  Track& t = tracks[n];
  ReadPoint point = main_read_point(t, n);
  if (point.frame == nullptr) {
    engine_state.overdub_track = -1;
    return;
  }
  int32_t* frame = point.frame;
  int32_t left = frame[0];
  int32_t right = frame[1];
  if (left > t.peak) t.peak = left;
  if (right > t.peak) t.peak = right;
  if (point.silent) left = right = 0;
  apply_fade(t, frame);
  shape_voice(t, left, right);
  pair[0] = wrap_add(pair[0], apply_gain(left, t.current_level[0]));
  pair[1] = wrap_add(pair[1], apply_gain(right, t.current_level[1]));
  if (int32_t* target = written_frame(t, n, frame, offset)) {
    target[0] = wrap_add(target[0], in[0]);
    target[1] = wrap_add(target[1], in[1]);
  }
  t.audio_changed = 1;
  advance_main_voice(t, -1, n);
}

// Old audio attenuated by the track's level (and the voice ramp that fades it out) and the input
// added, offset frames behind the play head as for an overdub.
void replace_frame(int n, const int32_t in[2], int32_t pair[2], int32_t offset)
    REQUIRES(engine_capability) {
  Track& t = tracks[n];
  int32_t* frame = track_frame(n, t.position);
  if (frame == nullptr) {
    engine_state.replace_track = -1;
    return;
  }
  int32_t left = frame[0];
  int32_t right = frame[1];
  if (left > t.peak) t.peak = left;
  if (right > t.peak) t.peak = right;
  apply_fade(t, frame);
  const int32_t ramp = t.ramp_gain;  // the voice ramp this frame's sound is shaped with
  shape_voice(t, left, right);
  int32_t kept_left = apply_gain(left, t.current_level[0]);
  int32_t kept_right = apply_gain(right, t.current_level[1]);
  if (t.keep_original) {
    pair[0] = wrap_add(pair[0], apply_gain(frame[0], t.current_level[0]));
    pair[1] = wrap_add(pair[1], apply_gain(frame[1], t.current_level[1]));
  } else {
    pair[0] = wrap_add(pair[0], kept_left);
    pair[1] = wrap_add(pair[1], kept_right);
  }
  int32_t* target = written_frame(t, n, frame, offset);
  if (target != nullptr && target != frame) {
    // The frame behind the play head keeps its old audio at the same ramp and level.
    kept_left =
        apply_gain(ramp == ramp_unity ? target[0] : scale_512(target[0], ramp), t.current_level[0]);
    kept_right =
        apply_gain(ramp == ramp_unity ? target[1] : scale_512(target[1], ramp), t.current_level[1]);
  }
  if (target != nullptr) {
    target[0] = wrap_add(kept_left, in[0]);
    target[1] = wrap_add(kept_right, in[1]);
  }
  t.audio_changed = 1;
  advance_main_voice(t, -1, n);
}

int set_shifts(int g, int32_t& left, int32_t& right) {
  if (g < -max_gain_steps || g > max_gain_steps) return status_refused;
  EngineLockGuard lock;
  left = g > 0 ? g : 0;
  right = g < 0 ? -g : 0;
  return 0;
}

}  // namespace

void engine_reset() {
  engine = Engine{};
  latency_reset();
  latency_measure_reset();
}

int set_main_gain(int g) {
  return set_shifts(g, engine_state.main_shift_left, engine_state.main_shift_right);
}

int set_aux_gain(int g) {
  return set_shifts(g, engine_state.aux_shift_left, engine_state.aux_shift_right);
}

void engine_run_begin(int count) {
  Engine& e = engine;
  if (count > engine_run_frames) count = engine_run_frames;
  if (count < 1) count = 1;
  e.run_frame = 0;
  e.run_length = count;
  e.run_voices = mix_straight_voices(e, engine_state.play_list & 0xFFu, count);
}

void engine_process_sample(int32_t in[2], int32_t out_main[2], int32_t out_aux1[2],
                           int32_t out_aux2[2]) {
  EngineState& s = engine_state;
  Engine& e = engine;
  const ConfigRecord& cfg = config;

  s.frame_counter = s.frame_counter + 1u;
  clock_follower.measure_frames = int32_t(uint32_t(clock_follower.measure_frames) + 1u);

  capture_input(e, s, in);
  for (int c = 0; c < 2; c++) in[c] = noise_gate(e, s, dc_remove(s.dc_state[c], in[c]), c);
  meter_window(s);
  if (cfg.mono_input_mode != 0) in[0] = in[1] = wrap_add(in[0], in[1]);
  // The conditioned input, as a recording at full record gain stores it.
  listen_ring_write(listen_ring, in);

  // The three output pairs and the bounce sums are summed locally: they cannot alias the track
  // records, so the voices' fields stay in registers.
  int32_t bus[output_pairs][2] = {{in[0] & s.dry_mask, in[1] & s.dry_mask}, {0, 0}, {0, 0}};
  int32_t* const main_pair = bus[0];
  int32_t* const aux1 = bus[1];
  int32_t* const aux2 = bus[2];
  drum_step_frame(output_pair(cfg.drum_audio_port, bus));
  // The bar clock's ticks of this frame are signalled: a count-in or the click acts on them.
  if (count_in_wanted()) [[unlikely]]
    count_in_frame();

  int32_t sums[2] = {in[0], in[1]};
  // In a run, the voices mixed ahead add this frame's row and are left out below.
  uint32_t ahead = 0;
  if (e.run_frame < e.run_length) {
    const int32_t f = e.run_frame++;
    ahead = e.run_voices;
    if (ahead != 0) {
      for (int p = 0; p < output_pairs; p++)
        for (int c = 0; c < 2; c++) bus[p][c] = wrap_add(bus[p][c], e.run_mix[p][f][c]);
      sums[0] = wrap_add(sums[0], e.run_sums[f][0]);
      sums[1] = wrap_add(sums[1], e.run_sums[f][1]);
    }
  }
  const uint32_t playing = s.play_list & ~ahead;
  const uint32_t muted = s.muted_list & ~ahead;
  const uint32_t fading = s.fading_list;
  // Each track's main voice, then its fading voices. A MIDI-clock restart of track n adds n to
  // fading_list_2 during its own main-voice step, so that list is read after it. The pairs and
  // sums wrap, so the order of the adds does not matter: with no fading voice at the start of the
  // frame, the main voices run on their own and the second fading list is walked after them.
  const uint32_t any_voice = (playing | muted | fading | s.fading_list_2) & 0xFFu;
  if (any_voice == 0) {
    // nothing plays or moves
  } else if ((fading | s.fading_list_2) == 0) {
    for (uint32_t voices = (playing | muted) & 0xFFu; voices != 0; voices &= voices - 1) {
      const int n = __builtin_ctz(voices);
      if (playing & (1u << n)) {
        play_main_voice(tracks[n], n, output_pair(s.track_output[n], bus), sums);
      } else {
        advance_main_voice(tracks[n], 0, n);
      }
    }
    for (uint32_t voices = s.fading_list_2 & 0xFFu; voices != 0; voices &= voices - 1) {
      const int n = __builtin_ctz(voices);
      play_aux_voice(fading_voices_2[n], n, output_pair(s.track_output[n], bus), sums);
    }
  } else {
    uint32_t active = any_voice;
    while (active != 0) {
      const int n = __builtin_ctz(active);
      const uint32_t bit = 1u << n;
      active &= active - 1;
      int32_t* pair = output_pair(s.track_output[n], bus);
      if (playing & bit) {
        play_main_voice(tracks[n], n, pair, sums);
      } else if (muted & bit) {
        advance_main_voice(tracks[n], 0, n);
      }
      if (fading & bit) play_aux_voice(fading_voices[n], n, pair, sums);
      if (s.fading_list_2 & bit) play_aux_voice(fading_voices_2[n], n, pair, sums);
    }
  }

  // The sources of a bounce are recorded `compensation` frames late, beside the input the
  // player played to them; with no compensation the sum is the frame's own.
  const int32_t compensation = latency.compensation.load(std::memory_order_relaxed);
  {
    constexpr uint32_t mask = source_delay_frames - 1;
    const uint32_t now = e.source_delay_index & mask;
    e.source_delay[now][0] = int32_t(uint32_t(sums[0]) - uint32_t(in[0]));
    e.source_delay[now][1] = int32_t(uint32_t(sums[1]) - uint32_t(in[1]));
    e.source_delay_index = now + 1;
    if (s.bounce_active) {
      const int32_t* delayed = e.source_delay[(now - uint32_t(compensation)) & mask];
      in[0] = wrap_add(in[0], delayed[0]);
      in[1] = wrap_add(in[1], delayed[1]);
    }
  }
  e.last_input[0] = in[0];
  e.last_input[1] = in[1];

  int32_t gain = s.record_gain;
  if (gain != ramp_unity) {
    in[0] = scale_512(in[0], gain);
    in[1] = scale_512(in[1], gain);
  }
  gain += s.record_gain_step;
  s.record_gain = gain;
  if (gain == s.record_gain_end) s.record_gain_step = 0;

  const int32_t record = s.record_track;
  const int32_t overdub = s.overdub_track;
  const int32_t replace = s.replace_track;
  if (record >= 0) {
    if (record < track_count) record_frame(record, in);
  } else if (overdub >= 0) {
    if (overdub < track_count)
      overdub_frame(overdub, in, output_pair(s.track_output[overdub], bus),
                    compensation_offset(compensation, tracks[overdub].rate));
  } else if (replace >= 0) {
    if (replace < track_count)
      replace_frame(replace, in, output_pair(s.track_output[replace], bus),
                    compensation_offset(compensation, tracks[replace].rate));
  }

  if (main_pair[0] > s.output_peak) s.output_peak = main_pair[0];
  if (main_pair[1] > s.output_peak) s.output_peak = main_pair[1];

  if ((s.main_shift_left | s.main_shift_right) != 0) {
    for (int c = 0; c < 2; c++)
      main_pair[c] = shift_output(main_pair[c], s.main_shift_left, s.main_shift_right);
  }
  if ((s.aux_shift_left | s.aux_shift_right) != 0) {
    for (int c = 0; c < 2; c++) {
      aux1[c] = shift_output(aux1[c], s.aux_shift_left, s.aux_shift_right);
      aux2[c] = shift_output(aux2[c], s.aux_shift_left, s.aux_shift_right);
    }
  }
  out_main[0] = main_pair[0];
  out_main[1] = main_pair[1];
  if (cfg.mono_aux_out != 0) {
    out_aux1[0] = int32_t((int64_t(aux1[0]) + aux1[1]) / 2);
    out_aux1[1] = int32_t((int64_t(aux2[0]) + aux2[1]) / 2);
  } else {
    out_aux1[0] = aux1[0];
    out_aux1[1] = aux1[1];
  }
  out_aux2[0] = aux2[0];
  out_aux2[1] = aux2[1];

  clock_follow_frame(s.frame_counter);
}
