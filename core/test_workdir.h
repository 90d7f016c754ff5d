// Test support for the file-writing subsystems: runs a test inside a fresh temporary working
// directory and collects what the console printed. Test threads only.
#pragma once

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "core/log_ring.h"

// Changes into a new directory under /tmp for the object's lifetime, then back and removes it.
class TestWorkdir {
 public:
  TestWorkdir() {
    char tmpl[] = "/tmp/zt4unit.XXXXXX";
    if (mkdtemp(tmpl) != nullptr) path_ = tmpl;
    previous_ = std::filesystem::current_path();
    if (!path_.empty()) std::filesystem::current_path(path_);
  }
  ~TestWorkdir() {
    std::filesystem::current_path(previous_);
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
  }
  TestWorkdir(const TestWorkdir&) = delete;
  TestWorkdir& operator=(const TestWorkdir&) = delete;

  const std::string& path() const { return path_; }

 private:
  std::string path_;
  std::filesystem::path previous_;
};

// The whole content of a file in the working directory; empty when it does not exist.
inline std::string read_whole_file(const char* name) {
  std::ifstream f(name, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

inline void write_whole_file(const char* name, const void* data, size_t length) {
  std::ofstream f(name, std::ios::binary | std::ios::trunc);
  f.write(static_cast<const char*>(data), std::streamsize(length));
}

// Everything printed on the console since the last call (or console_log_reset).
inline std::string take_console_output() {
  std::string text;
  char chunk[4096];
  int n;
  while ((n = log_take(console_log.udp_log_ring, chunk, int(sizeof chunk))) > 0) {
    text.append(chunk, size_t(n));
  }
  return text;
}
