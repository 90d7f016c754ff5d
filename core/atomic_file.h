// Whole-file replacement that a crash cannot leave half-written: the bytes go to a temporary file
// beside the target, reach the disk, and only then take the target's name. Storage thread (the
// configuration file) and main thread (the configuration backup).
#pragma once

#include <sys/types.h>

#include <cstddef>

// The write(2) used for the data; a test substitutes a failing one.
using FileWriteFn = ssize_t (*)(int fd, const void* data, size_t length);

// Writes length bytes to "<path>.tmp", fsyncs it, renames it over path and fsyncs the directory.
// Returns 0 on success; -1 with errno set when the temporary file cannot be created or written,
// in which case path is left exactly as it was and the temporary file is removed.
int write_file_atomically(const char* path, const void* data, int length,
                          FileWriteFn write_fn = nullptr);
