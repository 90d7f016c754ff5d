#include "engine/frame_runs.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr size_t frame_bytes = frame_words * sizeof(int32_t);

// Frames from f to the end of its block.
int64_t run_in_block(int64_t f) { return block_frames - f % block_frames; }

}  // namespace

void read_frames(BlockTable table, int64_t from, int64_t count, int32_t* out) {
  while (count > 0) {
    const int64_t run = std::min(count, run_in_block(from));
    const int32_t* frame = frame_at(table, from);
    if (frame != nullptr) {
      std::memcpy(out, frame, size_t(run) * frame_bytes);
    } else {
      std::memset(out, 0, size_t(run) * frame_bytes);
    }
    out += frame_words * run;
    from += run;
    count -= run;
  }
}

void write_frames(BlockTable table, int64_t to, const int32_t* in, int64_t count) {
  while (count > 0) {
    const int64_t run = std::min(count, run_in_block(to));
    int32_t* frame = frame_at(table, to);
    if (frame != nullptr) std::memcpy(frame, in, size_t(run) * frame_bytes);
    in += frame_words * run;
    to += run;
    count -= run;
  }
}

void zero_frames(BlockTable table, int64_t to, int64_t count) {
  while (count > 0) {
    const int64_t run = std::min(count, run_in_block(to));
    int32_t* frame = frame_at(table, to);
    if (frame != nullptr) std::memset(frame, 0, size_t(run) * frame_bytes);
    to += run;
    count -= run;
  }
}

void copy_frames(BlockTable src, int64_t from, BlockTable dst, int64_t to, int64_t count) {
  while (count > 0) {
    const int64_t run = std::min({count, run_in_block(from), run_in_block(to)});
    const int32_t* in = frame_at(src, from);
    int32_t* out = frame_at(dst, to);
    if (out != nullptr) {
      if (in != nullptr) {
        std::memcpy(out, in, size_t(run) * frame_bytes);
      } else {
        std::memset(out, 0, size_t(run) * frame_bytes);
      }
    }
    from += run;
    to += run;
    count -= run;
  }
}
