// The data directory, where the looper keeps its configuration, connections and tracks: made
// the working directory at start-up, after proving that files can be created in it, so that
// nothing later fails for want of it. Main thread, before anything else starts.
#pragma once

#include <cstdio>

// Creates the directory (and its parents) when missing, enters it, and creates and removes a
// file in it. A null path checks the current directory. On failure prints one line to err,
// saying what failed and what to do, and returns false.
bool enter_data_directory(const char* path, FILE* err);
