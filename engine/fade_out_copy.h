// The fade-out copy that hides a jump or a change of direction of a playing track: the track's
// record goes to its fading voice, which keeps sounding from the old place while it fades out
// over 512 frames, and the main voice fades in from the new place. Main thread.
#pragma once

#include <cstdint>

#include "core/lock.h"

// Caller holds the engine lock. Refused (status_refused, nothing changed) while track t's
// fading voice is still on the fading list. Otherwise, when t plays, the copy starts and t joins
// the fading list; a track that does not play needs no copy. Prints nothing (the lock is held):
// the caller reports a refusal with report_fading_refusal once it has let the lock go.
int start_fade_out_copy(int32_t t) REQUIRES(engine_capability);

// "Track %d already on fading list\n" with t's number 1-8.
void report_fading_refusal(int32_t t);
