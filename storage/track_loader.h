// Loading a track from its file, a save slot or an archived take. The storage thread reads the
// audio into pool blocks of its own, then hands them to the main loop, which swaps them into the
// track in one step: the old loop plays on until then, and no other thread ever changes a track.
#pragma once

#include <cstdint>

#include "storage/storage_thread.h"

// Storage thread: loads track t (0-7) from raw_path (a take) when it is not empty, else from save
// slot slot (> 0) or the track's own file, and waits until the main loop has attached it. Sets
// load_status and load_progress, and names the track after the file when the load succeeds.
void load_into_track(StorageThread& s, int32_t t, int32_t slot, const char* raw_path);
