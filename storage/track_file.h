// The track file: a 512-byte header (format number, Internet checksum, the twelve words a track
// keeps) followed by the loop's frames as little-endian 32-bit left and right samples. Archived
// takes hold the frames alone. Names of track files, save slots and takes, and the durable
// replacement of a file by a finished temporary one. Pure functions and file calls; any thread.
#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/track_load.h"

constexpr uint16_t track_file_format = 48;
constexpr int track_header_bytes = 512;
constexpr int track_header_words_at = 4;  // the twelve words follow the format and checksum
constexpr int bytes_per_frame = 8;        // left and right, 32 bits each
constexpr int track_name_max = 48;        // "sess%d/tr%d_%d.raw" with three 10-digit numbers fits

constexpr char track_temp_name[] = "tmp.dat";
constexpr char take_temp_name[] = "tmp2.dat";

// Outcome of reading a track file; also the load status that load_result reports negated.
enum LoadStatus : int32_t {
  load_ok = 0,
  load_missing = 1,       // no such file
  load_short = 2,         // shorter than its header, no audio, or a read failed
  load_bad_checksum = 3,  // the header's words do not sum to 0xFFFF
  load_bad_format = 4,    // format number other than 48
  load_no_block = 5,      // the block pool ran out
  load_track_busy = 6,    // the track records, overdubs or replaces: the loop stays as it was
};

// Fills a 512-byte header for the words: format 48, the words at byte 4, zeros, checksum.
void build_track_header(const TrackFileWords& words, uint8_t header[track_header_bytes]);

// Checks length bytes of a header: load_short when fewer than 512, load_bad_checksum,
// load_bad_format, else load_ok with the words filled in.
LoadStatus parse_track_header(const uint8_t* bytes, size_t length, TrackFileWords& words);

// "track%d.dat" (track number 1-8), or "track%d-%d.dat" with a nonzero file set; for track t 0-7.
void track_file_name(char (&out)[track_name_max], int32_t t, int32_t file_set);
// "save%d.dat".
void slot_file_name(char (&out)[track_name_max], int32_t slot);
// "sess%d" and "sess%d/tr%d_%d.raw" (track number 1-8). False, with out empty, for a negative
// number: a name made of digits only never leaves the working directory.
bool session_dir_name(char (&out)[track_name_max], int32_t session);
bool take_file_name(char (&out)[track_name_max], int32_t session, int32_t track_number,
                    int32_t take);

// The name a track file written for track t gets: a slot when slot > 0, else the track's own
// file under the configuration's file set.
void save_target_name(char (&out)[track_name_max], int32_t t, int32_t slot);

// Makes a fully written temporary file durable and gives it the target's name in one step:
// fsync(2) the data, close fd, rename(2) over the old file (never deleting it first), fsync(2)
// the directory. The old file stays whole until the new one has replaced it. 0, or -1 with the
// target untouched (fd is closed either way).
int commit_durably(int fd, const char* temporary, const char* target);
// fsync(2) of the directory holding path ("." for a bare name): a rename, link or unlink in it
// reaches the disk.
void sync_directory_of(const char* path);
