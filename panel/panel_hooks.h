// What the panel calls outside itself, through hooks whose defaults do the real thing and that
// tests and fuzzing replace: the track storage behind "Save Audio" and "Load Audio", the
// configuration backup store and ending the process for the "Restart" item. Null storage hooks
// make "Save Audio" and "Load Audio" report failure. Main thread only.
#pragma once

#include <cstdint>
#include <cstdlib>

#include "config/backup.h"
#include "storage/storage_thread.h"

// request_save with the hook's signature.
int request_track_save(int32_t t, int32_t slot);

struct PanelHooks {
  // Saves track t (0-7) into save slot `slot` (1..100) on the storage thread's next pass: 0
  // requested, else a refusal (another save still runs).
  int (*request_save)(int32_t t, int32_t slot) = request_track_save;
  // -1 while the requested save is pending, else 0 success or 1 failed.
  int (*save_state)() = ::save_state;
  // Blocks of the save written, in percent.
  int (*save_percent)() = ::save_percent;
  // Loads track t (0-7) from save slot `slot`: 0 requested, else a refusal (busy).
  int (*request_load)(int32_t t, int32_t slot) = ::request_load;
  // While loading the progress (at most 99); -status after an error; 100 when done.
  int (*load_result)() = ::load_result;
  // "Config Backup" and "Config Restore".
  ConfigOutcome (*backup_config)() = ::backup_config;
  ConfigOutcome (*restore_config)() = ::restore_config;
  // Ends the process with the status ("Restart": 1).
  void (*exit_process)(int status) = exit;
};

extern PanelHooks panel_hooks;
