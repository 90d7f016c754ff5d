// The data directory, where the looper keeps its configuration, connections and tracks: made
// the working directory at start-up, after proving that files can be created in it, so that
// nothing later fails for want of it, and locked for the looper's lifetime, so that a second
// looper never shares it. Main thread, before anything else starts.
#pragma once

#include <cstdio>

constexpr char data_directory_lock_name[] = ".zt4.lock";

// The lock file stays open while the looper runs: its flock(2) is the lock, released by the
// kernel however the process ends. The file holds "pid N" and, once known, " udp_port P".
struct DataDirectoryLock {
  int fd = -1;
};
extern DataDirectoryLock data_directory_lock;

// Creates the directory (and its parents) when missing, enters it, and creates and removes a
// file in it. A null path checks the current directory. On failure prints one line to err,
// saying what failed and what to do, and returns false.
bool enter_data_directory(const char* path, FILE* err);

// Locks the working directory: takes an exclusive flock(2) on data_directory_lock_name, kept
// open for the process's lifetime, and writes this process's id into it. When another looper
// holds it, prints one line to err naming that looper (pid, UDP port when known) and how to
// choose another directory, and returns false; nothing else is touched.
bool lock_data_directory(FILE* err);
// Adds the UDP port the looper listens on to the lock file (-1: remote control off).
void note_data_directory_port(int udp_port);
// Tests: closes the lock file, which releases the lock.
void unlock_data_directory();
