// Time-stretching without a change of pitch: the source is cut into grains of 3840 output frames
// whose last 960 frames cross-fade into the continuation that best matches them, found by a
// correlation search around the ideal source position; the loop seam then cross-fades into the
// source's own last frames so the stretched loop wraps as the source does.
#include <algorithm>

#include "core/console.h"
#include "core/lock.h"
#include "engine/editing.h"
#include "engine/editing_support.h"
#include "engine/frame_runs.h"
#include "engine/timing.h"
#include "engine/track_ops.h"
#include "engine/transport.h"

namespace {

constexpr int32_t grain_frames = 3840;  // output frames per grain
constexpr int32_t fade_frames = 960;    // cross-fade at the end of each grain
constexpr int32_t copied_frames = grain_frames - fade_frames;  // 2880 copied straight
constexpr int32_t search_before = 1680;  // the search starts this far before the ideal place
constexpr int32_t search_stride = 8;     // frames between candidates
// Candidates 0, 8, ..., 720 frames after the search start: the last one ends exactly where the
// window of 1680 frames (search_before) ends.
constexpr int32_t search_candidates = 91;
constexpr int32_t search_span = (search_candidates - 1) * search_stride + fade_frames;
static_assert(search_span == search_before);
constexpr int32_t grain_source_reach = grain_frames + fade_frames - 1;  // 4799
// Mono values (left + right) are held to the sum of two full-scale samples, so 960 products of
// them add up without overflow even when stored audio has wrapped past full scale.
constexpr int64_t mono_limit = int64_t(1) << 25;
constexpr int32_t stretch_ratio_octave = 2;

constexpr EditMessages stretch_messages = {"Stretch track nums out of range.\n",
                                           "Destination track is not empty.\n",
                                           "Source track is empty or recording.\n"};

int32_t mono(const int32_t* frame) {
  return int32_t(std::clamp(int64_t(frame[0]) + frame[1], -mono_limit, mono_limit));
}

// Reports the share of the target written, when it changed.
struct Progress {
  int64_t target;
  int32_t shown = -1;
  void update(int64_t done) {
    int32_t percent = target > 0 ? int32_t(std::min<int64_t>(done * 100 / target, 100)) : 100;
    if (percent == shown) return;
    shown = percent;
    editing_state.progress = percent;
    if (editing_state.progress_hook != nullptr) editing_state.progress_hook(percent);
  }
};

// The grain search: the candidate continuation x (from w in steps of 8) whose mono frames
// correlate best with the reference; w itself unless some candidate correlates above 0.
int64_t best_continuation(const int32_t (&window)[search_span],
                          const int32_t (&reference)[fade_frames], int64_t w) {
  int64_t best = w;
  int64_t best_correlation = 0;
  for (int32_t k = 0; k < search_candidates; k++) {
    const int32_t* candidate = window + k * search_stride;
    int64_t correlation = 0;
    for (int32_t i = 0; i < fade_frames; i++) correlation += int64_t(candidate[i]) * reference[i];
    if (correlation > best_correlation) {
      best_correlation = correlation;
      best = w + k * search_stride;
    }
  }
  return best;
}

// Stretches source track s (length l) into track d's table. Returns the result length, or 0 when
// the pool ran out (d's blocks are given back then).
int64_t stretch_audio(int32_t s, int32_t d, int64_t l, float ratio) {
  BlockTable src = track_blocks[s];
  BlockTable dst = track_blocks[d];
  int64_t n = int64_t(float(l) * ratio);  // target length, computed in single precision
  const int64_t hop = int64_t(float(grain_frames) / ratio);  // source frames per grain
  if (!take_blocks_for(d, n)) return 0;
  Progress progress{n};
  progress.update(0);

  int64_t o = 0;  // output frames written
  int64_t c = 0;  // where the source continues
  if (hop <= l && l >= grain_frames) {
    int64_t w = hop - search_before;
    int64_t remaining = l;
    int32_t fade_source[fade_frames * frame_words];  // the source continuing the copied part
    int32_t window[search_span * frame_words];
    int32_t reference[fade_frames];
    int32_t window_mono[search_span];
    int32_t faded[fade_frames * frame_words];
    for (;;) {
      // The grains may end a few frames past the target: the table grows with them.
      if (!take_blocks_for(d, o + grain_frames)) return 0;
      copy_frames(src, c, dst, o, copied_frames);
      read_frames(src, c + copied_frames, fade_frames, fade_source);
      for (int32_t i = 0; i < fade_frames; i++) reference[i] = mono(fade_source + frame_words * i);
      read_frames(src, w, search_span, window);
      for (int32_t i = 0; i < search_span; i++) window_mono[i] = mono(window + frame_words * i);
      const int64_t best = best_continuation(window_mono, reference, w);
      const int32_t* incoming = window + frame_words * (best - w);
      for (int32_t i = 0; i < fade_frames * frame_words; i++) {
        const int32_t j = i / frame_words;
        const float mixed =
            float(incoming[i]) * float(j) + float(fade_source[i]) * float(fade_frames - j);
        faded[i] = int32_t(mixed / float(fade_frames));
      }
      write_frames(dst, o + copied_frames, faded, fade_frames);
      remaining -= hop;
      o += grain_frames;
      c = best + fade_frames;
      w += hop;
      progress.update(o);
      if (!(hop <= remaining && best + grain_source_reach < l)) break;
    }
  }

  // The rest of the source straight; what the source cannot fill becomes silence at the seam.
  int64_t end = o;
  int64_t silence = 0;
  if (o < n) {
    const int64_t wanted = n - o;
    const int64_t left = l - c;
    if (left < wanted) {
      silence = wanted - left;
      n = o + left;
    }
    copy_frames(src, c, dst, o, std::min(wanted, left));
    end = n;
  }
  if (!take_blocks_for(d, end + silence)) return 0;

  // The seam: the stretched end fades out, the silence follows, and the source's last 960 frames
  // fade in over the final 960, so the loop wraps exactly as the source does.
  int32_t seam[fade_frames * frame_words];
  read_frames(dst, end - fade_frames, fade_frames, seam);
  for (int32_t i = 0; i < fade_frames * frame_words; i++) {
    const int32_t j = i / frame_words;
    seam[i] = int32_t(int64_t(seam[i]) * (fade_frames - j) / fade_frames);
  }
  write_frames(dst, end - fade_frames, seam, fade_frames);
  zero_frames(dst, end, silence);
  end += silence;
  int32_t source_end[fade_frames * frame_words];
  read_frames(src, l - fade_frames, fade_frames, source_end);
  read_frames(dst, end - fade_frames, fade_frames, seam);
  for (int32_t i = 0; i < fade_frames * frame_words; i++) {
    const int32_t j = i / frame_words;
    seam[i] = int32_t(int64_t(seam[i]) + int64_t(source_end[i]) * j / fade_frames);
  }
  write_frames(dst, end - fade_frames, seam, fade_frames);
  progress.update(progress.target);
  return end;
}

// Silence after the loop's last frame in its last block, so the table holds nothing stale.
void clear_after_end(int32_t d, int64_t length) {
  const int64_t in_block = length % block_frames;
  if (in_block != 0) zero_frames(track_blocks[d], length, block_frames - in_block);
}

// The stretch, its failure path and the destination's record, shared by both operations. With
// octave_up the stretched audio is decimated to every second frame.
int stretch_into(int32_t s, int32_t d, float ratio, bool octave_up) {
  if (check_source_and_destination(s, d, stretch_messages) != status_ok) return status_refused;
  const int64_t l = tracks[s].length;
  // The seam reaches 960 frames back from the end of both the source and the result.
  if (l < stretch_seam_frames || int64_t(float(l) * ratio) < stretch_seam_frames) {
    console_printf("Stretch ratio out of range.\n");
    return status_refused;
  }
  BusyTrack busy(d);
  release_track_blocks(d);
  release_unscramble_blocks(d);
  int64_t length = stretch_audio(s, d, l, ratio);
  if (length > max_track_frames) length = 0;
  if (length > 0 && octave_up) {
    // Every second frame, in place: frame i is read from 2i, which no earlier write touched.
    BlockTable table = track_blocks[d];
    const int64_t half = length / 2;
    for (int64_t i = 0; i < half; i++) {
      const int32_t* from = frame_at(table, 2 * i);
      int32_t* to = frame_at(table, i);
      to[0] = from[0];
      to[1] = from[1];
    }
    length = half;
  }
  if (length <= 0) {
    release_track_blocks(d);
    console_printf("Stretch failed.\n");
    return status_busy;
  }
  release_blocks_from(d, blocks_for_frames(length));
  clear_after_end(d, length);
  settle_stretched_track(s, d, int32_t(length));
  build_clock_pulses(d, int32_t(length));
  bool source_plays;
  {
    EngineLockGuard lock;
    source_plays = on_list(engine_state.play_list, s);
  }
  if (source_plays) stop_track(s, 0);
  play_track(d);
  return status_ok;
}

}  // namespace

int stretch_track(int32_t s, int32_t d, float ratio) {
  if (!(ratio >= stretch_ratio_min && ratio <= stretch_ratio_max)) {
    console_printf("Stretch ratio out of range.\n");
    return status_refused;
  }
  return stretch_into(s, d, ratio, false);
}

int pitch_octave_up(int32_t s, int32_t d) {
  return stretch_into(s, d, float(stretch_ratio_octave), true);
}
