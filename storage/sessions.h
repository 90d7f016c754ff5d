// Sessions and archived takes: the session counter "session.seq", one directory "sess<n>" per
// session, a take "tr<track>_<take>.raw" filed by every automatic save, and the listing and
// deleting that the host asks for. The storage thread archives; the network thread lists and
// deletes. No name made here leaves the working directory, and none follows a symbolic link out.
#pragma once

#include <cstdint>

#include "storage/storage_thread.h"

constexpr char session_counter_name[] = "session.seq";
constexpr int64_t archive_min_megabytes = 1024;  // below this, takes are no longer filed
constexpr int64_t new_session_after_s = 3600;    // an hour without automatic saves

// Storage thread, at start-up: reads the session counter (creating it with 0 when it cannot be
// opened), moves on past every session that already holds takes, writes the counter back and
// creates the session's directory.
void sessions_start(StorageThread& s);

// Free bytes of the file system of the working directory (INT64_MAX when unknown).
int64_t free_space_bytes(const StorageThread& s);

// Storage thread, while archive_off is 0: checks the free space of the working directory; below
// 1024 MB prints "Insufficient space to archive: %ldM" once and turns the archive off. Returns
// whether takes are still filed.
bool archive_space_left(StorageThread& s);

// Storage thread, after a save of track t (0-7): starts a new session after an hour without
// saves (when the current one holds takes), advances the track's take counter and, when
// archive_fd is an open archive copy ("tmp2.dat"), makes it durable and links it in as the take.
void archive_take(StorageThread& s, int32_t t, int archive_fd);

// Megabytes free for takes on the working directory's file system; INT64_MAX when unknown.
// Any thread.
int64_t free_space_megabytes();

// Numbers of the directories "sess<digit>..." in the working directory, ascending, up to max.
// Also marks every track name for reporting again.
int list_sessions(int32_t* values, int max);
// (track << 16) + take for every "tr<track>_<take>.raw" of a session, ascending, up to max.
int list_takes(int32_t session, int32_t* values, int max);
// Deletes one take; 0, or -1 when there was none or a number was negative.
int delete_take(int32_t session, int32_t track_number, int32_t take);
// Deletes every file of a session's directory, then the directory; 0 or -1.
int delete_session(int32_t session);
