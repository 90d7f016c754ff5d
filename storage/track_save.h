// Saving tracks: one changed track per pass of the storage thread (or the track of an explicit
// "Save Audio" request) is written to "tmp.dat" straight from its pool blocks, made durable and
// renamed over its file, and its audio is filed as the next take of the session. Storage thread.
#pragma once

#include "storage/storage_thread.h"

// Saves at most one track: the explicitly requested one first, else the next changed track after
// the last one saved.
void save_one_track(StorageThread& s);
