// Mix presets 0-10: the live mix of the eight tracks and the main level, stored in the
// configuration record. Main thread (menus and preset functions).
#pragma once

// Copies mix_level, mix_feedback, mix_pan and all_main_level into preset n and saves the
// configuration at once. Returns 0, or -1 with nothing changed when n is not 0-10.
int preset_save(int n);

// Copies preset n back into mix_level, mix_feedback, mix_pan and all_main_level; the caller then
// applies them to the tracks and the engine. Does not mark the configuration dirty: the copied
// all_main_level reaches the file with the next save. Returns 0, or -1 when n is not 0-10.
int preset_use(int n);
