// zt4-audio: moves loops between the looper's files and ordinary audio files. Exports a track
// file, save slot or archived take to WAV or FLAC, and imports a WAV or FLAC file (any rate,
// mono or stereo) as a track file, save slot or take that the looper loads. A standalone tool:
// it starts none of the looper's threads and never touches a running looper's memory.
#include <fcntl.h>
#include <sys/stat.h>
#include <samplerate.h>
#include <sndfile.h>
#include <unistd.h>

#include <cmath>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "core/constants.h"
#include "engine/track.h"
#include "storage/track_file.h"
#include "tools/loop_file_name.h"

namespace {

constexpr int exit_failed = 1;
constexpr int exit_usage = 2;
constexpr int channels = 2;
constexpr double full_scale = 16777216.0;      // ±2^24 is ±1.0 inside the looper
constexpr int32_t sample_max = (1 << 24) - 1;  // the largest sample a 24-bit file holds, × 2
constexpr int to_int32_shift = 7;              // looper sample << 7 = libsndfile's 32-bit scale

const char* const usage_text =
    "usage: zt4-audio export SOURCE OUTPUT [--float] [--force]\n"
    "       zt4-audio import INPUT DESTINATION [--force]\n"
    "\n"
    "export  writes the loop of SOURCE, a track file or save slot (trackN.dat, saveN.dat) or an\n"
    "        archived take (sessS/trT_K.raw), to OUTPUT, a .wav or .flac file: stereo, 48000 Hz,\n"
    "        24-bit integer samples, or 32-bit float with --float (WAV only). Samples beyond\n"
    "        full scale are clipped in 24-bit files and kept in float files.\n"
    "import  reads INPUT, a WAV or FLAC file (mono or stereo, any sample rate; other rates are\n"
    "        resampled to 48000 Hz with libsamplerate's best sinc converter) and writes it as\n"
    "        DESTINATION: a track file or save slot (.dat: normal speed, free running), or a\n"
    "        take (.raw), named as the looper names them: track1.dat to track8.dat (or\n"
    "        trackS-N.dat for track file set S), save1.dat to save100.dat, or\n"
    "        sessS/trN_K.raw (session S, track N 1 to 8, take K) in a session directory that\n"
    "        exists. Any other name is refused, since the looper would never load it. The file\n"
    "        is written in one step; the looper loads a track file at start-up, a slot with\n"
    "        \"Load Audio\", a take with zt4-remote take load.\n"
    "\n"
    "An existing OUTPUT or DESTINATION is never replaced without --force.\n"
    "Exit status: 0 done, 1 a file could not be read or written, 2 a usage error, a refused\n"
    "name or an existing file without --force.\n";

bool ends_with(const std::string& s, const char* suffix) {
  const size_t n = strlen(suffix);
  return s.size() >= n && s.compare(s.size() - n, n, suffix) == 0;
}

// One line on standard error, "zt4-audio: ..."; returns the exit status it goes with.
int say(int status, const char* format, va_list args) {
  fputs("zt4-audio: ", stderr);
  vfprintf(stderr, format, args);
  fputc('\n', stderr);
  return status;
}

[[gnu::format(printf, 1, 2)]] int refuse(const char* format, ...) {
  va_list args;
  va_start(args, format);
  const int status = say(exit_usage, format, args);
  va_end(args);
  return status;
}

// A file that is there already is replaced only when the user said so.
bool may_write(const std::string& path, bool force) {
  struct stat info;
  return force || lstat(path.c_str(), &info) != 0;
}

[[gnu::format(printf, 1, 2)]] int fail(const char* format, ...) {
  va_list args;
  va_start(args, format);
  const int status = say(exit_failed, format, args);
  va_end(args);
  return status;
}

std::string read_file(const std::string& path, bool& ok) {
  std::string bytes;
  FILE* f = fopen(path.c_str(), "rb");
  ok = f != nullptr;
  if (!ok) return bytes;
  char buffer[1 << 16];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, f)) > 0) bytes.append(buffer, n);
  ok = ferror(f) == 0;
  fclose(f);
  return bytes;
}

// The loop of a track file, slot or take as interleaved looper samples.
int read_loop(const std::string& path, std::vector<int32_t>& samples) {
  bool ok;
  const std::string bytes = read_file(path, ok);
  if (!ok) return fail("cannot read %s", path.c_str());
  size_t start = 0;
  if (!ends_with(path, ".raw")) {
    TrackFileWords words;
    const LoadStatus status =
        parse_track_header(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), words);
    if (status == load_short) return fail("%s is shorter than a track file's header", path.c_str());
    if (status == load_bad_checksum)
      return fail("%s: the header's checksum does not match", path.c_str());
    if (status == load_bad_format)
      return fail("%s is no track file (format %ld)", path.c_str(),
                  long(uint8_t(bytes[0]) | uint8_t(bytes[1]) << 8));
    start = track_header_bytes;
  }
  const size_t audio = bytes.size() - start;
  if (audio == 0 || audio % bytes_per_frame != 0)
    return fail("%s holds no whole frames of audio", path.c_str());
  samples.resize(audio / sizeof(int32_t));
  memcpy(samples.data(), bytes.data() + start, audio);
  return 0;
}

int export_loop(const std::string& source, const std::string& output, bool as_float, bool force) {
  if (!may_write(output, force))
    return refuse("%s exists; add --force to replace it", output.c_str());
  std::vector<int32_t> samples;
  if (int rc = read_loop(source, samples); rc != 0) return rc;
  SF_INFO info = {};
  info.samplerate = frames_per_second;
  info.channels = channels;
  if (ends_with(output, ".wav")) {
    info.format = SF_FORMAT_WAV | (as_float ? SF_FORMAT_FLOAT : SF_FORMAT_PCM_24);
  } else if (ends_with(output, ".flac") && !as_float) {
    info.format = SF_FORMAT_FLAC | SF_FORMAT_PCM_24;
  } else {
    return fail("%s: write .wav, .flac, or .wav with --float", output.c_str());
  }
  SNDFILE* out = sf_open(output.c_str(), SFM_WRITE, &info);
  if (out == nullptr) return fail("cannot write %s: %s", output.c_str(), sf_strerror(nullptr));
  const sf_count_t frames = sf_count_t(samples.size() / channels);
  sf_count_t written;
  if (as_float) {
    std::vector<float> f(samples.size());
    for (size_t i = 0; i < samples.size(); i++) f[i] = float(samples[i] / full_scale);
    written = sf_writef_float(out, f.data(), frames);
  } else {
    for (int32_t& s : samples) {
      const int32_t clipped = s > sample_max        ? sample_max
                              : s < -sample_max - 1 ? -sample_max - 1
                                                    : s;
      s = int32_t(uint32_t(clipped) << to_int32_shift);
    }
    written = sf_writef_int(out, samples.data(), frames);
  }
  const bool closed = sf_close(out) == 0;
  if (written != frames || !closed) return fail("cannot write %s", output.c_str());
  printf("%s: %ld frames (%.3f s)\n", output.c_str(), long(frames),
         double(frames) / frames_per_second);
  return 0;
}

// Reads a whole audio file as interleaved looper samples, stereo, 48000 Hz.
int read_audio(const std::string& input, std::vector<int32_t>& samples) {
  SF_INFO info = {};
  SNDFILE* in = sf_open(input.c_str(), SFM_READ, &info);
  if (in == nullptr) return fail("cannot read %s: %s", input.c_str(), sf_strerror(nullptr));
  if (info.channels != 1 && info.channels != channels) {
    sf_close(in);
    return fail("%s has %ld channels: only mono and stereo files can be imported", input.c_str(),
                long(info.channels));
  }
  const int subtype = info.format & SF_FORMAT_SUBMASK;
  const bool floating = subtype == SF_FORMAT_FLOAT || subtype == SF_FORMAT_DOUBLE;
  const bool resample = info.samplerate != frames_per_second;
  const size_t count = size_t(info.frames) * size_t(info.channels);
  std::vector<int32_t> ints;
  std::vector<float> floats;
  sf_count_t got;
  if (floating || resample) {
    floats.resize(count);
    got = sf_readf_float(in, floats.data(), info.frames);
  } else {
    ints.resize(count);
    got = sf_readf_int(in, ints.data(), info.frames);
  }
  sf_close(in);
  if (got != info.frames) return fail("cannot read all of %s", input.c_str());

  if (resample) {
    const double ratio = double(frames_per_second) / info.samplerate;
    std::vector<float> out(size_t(std::ceil(double(info.frames) * ratio)) * size_t(info.channels) +
                           size_t(info.channels));
    SRC_DATA data = {};
    data.data_in = floats.data();
    data.input_frames = long(info.frames);
    data.data_out = out.data();
    data.output_frames = long(out.size() / size_t(info.channels));
    data.src_ratio = ratio;
    const int error = src_simple(&data, SRC_SINC_BEST_QUALITY, info.channels);
    if (error != 0) return fail("cannot resample %s: %s", input.c_str(), src_strerror(error));
    out.resize(size_t(data.output_frames_gen) * size_t(info.channels));
    floats.swap(out);
    fprintf(stderr, "zt4-audio: %s resampled from %d Hz to %d Hz\n", input.c_str(), info.samplerate,
            frames_per_second);
  }
  const size_t frames =
      (floating || resample ? floats.size() : ints.size()) / size_t(info.channels);
  if (frames == 0) return fail("%s holds no audio", input.c_str());
  if (int64_t(frames) > max_track_frames)
    return fail("%s is longer than a loop can be (%ld frames)", input.c_str(),
                long(max_track_frames));
  samples.resize(frames * channels);
  for (size_t f = 0; f < frames; f++) {
    for (int c = 0; c < channels; c++) {
      const size_t from = f * size_t(info.channels) + size_t(c < info.channels ? c : 0);
      int32_t s;
      if (floating || resample) {
        const double v = std::nearbyint(double(floats[from]) * full_scale);
        s = v > INT32_MAX ? INT32_MAX : v < INT32_MIN ? INT32_MIN : int32_t(v);
      } else {
        s = ints[from] >> to_int32_shift;  // exact for 24-bit and narrower files
      }
      samples[f * channels + size_t(c)] = s;
    }
  }
  return 0;
}

int import_audio(const std::string& input, const std::string& destination, bool force) {
  std::string why;
  const LoopFileKind kind = loop_file_kind(destination, why);
  if (kind == LoopFileKind::none) return refuse("%s", why.c_str());
  if (!may_write(destination, force))
    return refuse("%s exists; add --force to replace it", destination.c_str());
  const bool take = kind == LoopFileKind::take;
  std::vector<int32_t> samples;
  if (int rc = read_audio(input, samples); rc != 0) return rc;
  const int32_t length = int32_t(samples.size() / channels);
  const std::string temporary = destination + ".tmp";
  const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return fail("cannot create %s", temporary.c_str());
  bool ok = true;
  if (!take) {
    uint8_t header[track_header_bytes];
    build_track_header(take_file_words(length), header);
    ok = write(fd, header, sizeof header) == ssize_t(sizeof header);
  }
  const size_t bytes = samples.size() * sizeof(int32_t);
  const auto* p = reinterpret_cast<const uint8_t*>(samples.data());
  for (size_t done = 0; ok && done < bytes;) {
    const ssize_t n = write(fd, p + done, bytes - done);
    ok = n > 0;
    if (ok) done += size_t(n);
  }
  if (!ok) {
    close(fd);
    unlink(temporary.c_str());
    return fail("cannot write %s", temporary.c_str());
  }
  if (commit_durably(fd, temporary.c_str(), destination.c_str()) != 0) {
    unlink(temporary.c_str());
    return fail("cannot replace %s", destination.c_str());
  }
  printf("%s: %ld frames (%.3f s)\n", destination.c_str(), long(length),
         double(length) / frames_per_second);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string command = argc > 1 ? argv[1] : "";
  if (command == "--help") {
    fputs(usage_text, stdout);
    return 0;
  }
  std::vector<std::string> files;
  bool as_float = false, force = false;
  for (int i = 2; i < argc; i++) {
    if (strcmp(argv[i], "--float") == 0 && command == "export") {
      as_float = true;
    } else if (strcmp(argv[i], "--force") == 0) {
      force = true;
    } else {
      files.push_back(argv[i]);
    }
  }
  if (command == "export" && files.size() == 2)
    return export_loop(files[0], files[1], as_float, force);
  if (command == "import" && files.size() == 2) return import_audio(files[0], files[1], force);
  fputs(usage_text, stderr);
  return exit_usage;
}
