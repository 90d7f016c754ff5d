// Which of the looper's loop files a path names, judged by the name alone as the looper spells
// it: a track file, a save slot or an archived take. zt4-audio checks a destination with it
// before it writes anything. Pure functions; single-threaded command-line client.
#pragma once

#include <string>

enum class LoopFileKind { none, track, slot, take };

// The kind of loop file path names; none, with one line in why (no "zt4-audio: " in front),
// for a name the looper would never load.
LoopFileKind loop_file_kind(const std::string& path, std::string& why);
