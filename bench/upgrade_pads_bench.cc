// Times the non-real-time work of the upgrade and pad-controller paths: the signature check of a
// largest network image (SHA-256 over 1 MiB and one RSA-2048 PSS verification), the LZ77
// expansion of a 512 KiB image, and one 250 ms pad refresh, steady and full.
#include <benchmark/benchmark.h>

#include <vector>

#include "host/looper.h"
#include "midi/midi_queue.h"
#include "net/lz77.h"
#include "net/upgrade.h"
#include "net/upgrade_signature.h"
#include "pads/pads.h"
#include "tools/signing/upgrade_signing.h"

namespace {

void BM_SignatureCheck(benchmark::State& state) {
  Bytes key;
  read_file_bytes(ZT4_SOURCE_DIR "/tests/keys/upgrade_test_key.der", key);
  Bytes archive(size_t(upgrade_buffer_size - 1 - 256));
  for (size_t i = 0; i < archive.size(); ++i) archive[i] = uint8_t(i * 131 + (i >> 9));
  const Bytes image = upgrade_signed_image(key, archive);
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        upgrade_check_signature(*upgrade_builtin_key, image.data(), int32_t(image.size())));
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(image.size()));
}
BENCHMARK(BM_SignatureCheck)->Unit(benchmark::kMillisecond);

void BM_Lz77Expand(benchmark::State& state) {
  // A 512 KiB image of 16-byte runs: one literal and one 15-byte copy per token pair.
  constexpr uint32_t length = 524288;
  Bytes in = {'L',
              'Z',
              '7',
              '7',
              uint8_t(length),
              uint8_t(length >> 8),
              uint8_t(length >> 16),
              uint8_t(length >> 24),
              4};
  for (uint32_t i = 0; i < length; i += 16) {
    in.insert(in.end(), {0, 0, uint8_t(i >> 4)});
    const uint16_t w = (1 << 4) + 13;  // distance 1, count 14
    in.insert(in.end(), {uint8_t(w), uint8_t(w >> 8), uint8_t(i)});
  }
  std::vector<uint8_t> out(length);
  for (auto _ : state) {
    benchmark::DoNotOptimize(lz77_expand(in.data(), int32_t(in.size()), out.data(), length));
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * length);
}
BENCHMARK(BM_Lz77Expand)->Unit(benchmark::kMicrosecond);

// A steady refresh sends only the blinking record-side pads; a full one every pad.
void BM_PadRefresh(benchmark::State& state) {
  looper_reset();
  PadView view{};
  view.selected = 1;
  view.state_word = 0x33333333;  // every track recording: eight blinking pads
  for (int t = 0; t < track_count; ++t) view.speed[t] = 400;
  const bool full = state.range(0) != 0;
  for (auto _ : state) {
    if (full) pads.apc.full_refresh_countdown = 0;
    pad_refresh_device(PadKind::apc, pads.apc, view);
    state.PauseTiming();
    midi_queue_reset();
    state.ResumeTiming();
  }
}
BENCHMARK(BM_PadRefresh)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
