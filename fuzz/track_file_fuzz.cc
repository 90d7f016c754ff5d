// Feeds arbitrary bytes to the track loader as a save slot ("save1.dat": header and sizes) or,
// when the first byte is odd, as an archived take, through the storage thread's own pass with
// the main loop's attach run inline. A load must either fail with the track left empty or give
// the track exactly the file's audio with words the engine can play; a loaded slot is then saved
// by the next pass and its track file must hold the same audio.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "config/config.h"
#include "engine/engine_wait.h"
#include "engine/track.h"
#include "engine/transport.h"
#include "host/looper.h"
#include "pool/pool.h"
#include "storage/storage_thread.h"
#include "storage/track_file.h"

namespace {

void write_file(const char* name, const uint8_t* data, size_t size) {
  const int fd = open(name, O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) abort();
  if (size > 0 && write(fd, data, size) != ssize_t(size)) abort();
  close(fd);
}

std::string read_file(const char* name) {
  std::string bytes;
  const int fd = open(name, O_RDONLY);
  if (fd < 0) return bytes;
  char buffer[4096];
  for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0;) bytes.append(buffer, size_t(n));
  close(fd);
  return bytes;
}

std::string loop_bytes(int32_t t) {
  std::string bytes;
  for (int32_t f = 0; f < tracks[t].length; f++) {
    const int32_t* frame = track_blocks[t][f / block_frames] + 2 * (f % block_frames);
    bytes.append(reinterpret_cast<const char*>(frame), bytes_per_frame);
  }
  return bytes;
}

void pass() {
  pthread_mutex_lock(&storage.storage_mutex);
  storage_pass();
  pthread_mutex_unlock(&storage.storage_mutex);
}

// At exit the scratch directory (the working directory by then) goes.
void remove_scratch() {
  const std::filesystem::path scratch = std::filesystem::current_path();
  std::error_code ignored;
  std::filesystem::current_path("/", ignored);
  std::filesystem::remove_all(scratch, ignored);
}

}  // namespace

// The loader works in the working directory, so each fuzzing process gets a scratch directory
// of its own. Corpus directories given relative to where the fuzzer started are made absolute
// first, and crash reports are written there too.
extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  const int null_fd = open("/dev/null", O_WRONLY);
  if (null_fd >= 0) dup2(null_fd, STDOUT_FILENO);
  char* started = getcwd(nullptr, 0);
  char** args = static_cast<char**>(calloc(size_t(*argc) + 2, sizeof(char*)));
  if (started == nullptr || args == nullptr) abort();
  args[0] = (*argv)[0];
  args[1] = strdup(("-artifact_prefix=" + std::string(started) + "/").c_str());
  for (int i = 1; i < *argc; i++) {
    const char* a = (*argv)[i];
    args[i + 1] =
        a[0] == '-' || a[0] == '/' ? (*argv)[i] : strdup((std::string(started) + "/" + a).c_str());
  }
  *argc += 1;
  *argv = args;
  char dir[] = "/tmp/zt4fuzz.XXXXXX";
  if (mkdtemp(dir) == nullptr || chdir(dir) != 0) abort();
  atexit(remove_scratch);
  mkdir("sess0", 0755);
  looper_reset();
  config_defaults();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  storage_init();
  storage.wait_for_main_loop = storage_attach_service;
  storage.archive_off = 1;  // no takes pile up
  const bool take = (data[0] & 1) != 0;
  const uint8_t* file = data + 1;
  const size_t file_size = size - 1;

  if (take) {
    write_file("sess0/tr1_1.raw", file, file_size);
    if (request_take_load(0, 1, 1, 0) != 0) abort();
  } else {
    write_file("save1.dat", file, file_size);
    if (request_load(0, 1) != 0) abort();
  }
  pass();

  const int32_t result = load_result();
  const Track& v = tracks[0];
  const size_t header = take ? 0 : size_t(track_header_bytes);
  if (result == 100) {
    const std::string audio(reinterpret_cast<const char*>(file) + header, file_size - header);
    if (loop_bytes(0) != audio) abort();
    const bool forward = v.rate >= 0;
    if (forward ? v.loop_start != 0 || v.loop_end != v.length
                : v.loop_start != v.length - 1 || v.loop_end != -1)
      abort();
    if (v.rate == 0 || v.rate > 1024 || v.rate < -1024 || v.atten < 0 || v.atten > 200) abort();
    if (!take) {
      pass();  // the loaded slot is saved as the track's own file
      const std::string saved = read_file("track1.dat");
      if (saved.size() != header + audio.size() ||
          saved.compare(header, std::string::npos, audio) != 0)
        abort();
    }
  } else if (result >= 0 || v.length != 0) {
    abort();
  }
  erase_track(0);
  pass();  // the erase deletes the track file
  return 0;
}
