// The whole looper's state back to the start of the program: every subsystem's record reset in
// the order the folders depend on each other, bottom first. Fixtures, fuzz targets and
// benchmarks start from here. Not while the audio or worker threads run.
#pragma once

void looper_reset();
