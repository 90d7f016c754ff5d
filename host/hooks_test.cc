#include "host/hooks.h"

#include <gtest/gtest.h>

#include "config/config.h"
#include "engine/track_load.h"
#include "host/looper.h"
#include "host/main_loop.h"
#include "midi/midi_codes.h"
#include "net/datagram.h"
#include "net/host_sysex.h"
#include "net/upgrade.h"
#include "pads/pads.h"
#include "panel/display.h"
#include "panel/handlers_editing.h"
#include "storage/storage_thread.h"

namespace {

void no_call() {}

// The looper without JACK has every upward call wired after a reset, and the subsystems' own
// resets install none of them: only install_hooks does.
TEST(HooksTest, LooperResetWiresEveryUpwardCallAndResetsInstallNone) {
  looper_reset();
  EXPECT_EQ(config_hooks.write, request_config_write);
  EXPECT_EQ(track_file_hooks.forget, forget_track_file);
  EXPECT_EQ(midi_code_queue.sysex_handler, host_sysex);
  EXPECT_EQ(editing_panel_hooks.show_progress, show_progress_line);
  EXPECT_EQ(storage_hooks.report_track_name, host_report_track_name);
  EXPECT_EQ(datagram_hooks.upgrade_start, upgrade_request);
  EXPECT_NE(upgrade.hooks.arm_restart, nullptr);
  EXPECT_EQ(host_sysex_state.apc_found, apc_found);
  EXPECT_EQ(host_sysex_state.launchpad_found, launchpad_found);
  EXPECT_EQ(main_loop_hooks.midi_autoconnect, nullptr);  // the JACK client's, start-up only

  config_hooks.write = nullptr;
  track_file_hooks.forget = nullptr;
  storage_hooks.report_track_name = nullptr;
  host_sysex_state.apc_found = nullptr;
  storage_init();
  host_sysex_reset();
  pads_reset();
  EXPECT_EQ(config_hooks.write, nullptr);
  EXPECT_EQ(track_file_hooks.forget, nullptr);
  EXPECT_EQ(storage_hooks.report_track_name, nullptr);
  EXPECT_EQ(host_sysex_state.apc_found, nullptr);

  install_hooks({no_call, no_call, {}});
  EXPECT_EQ(main_loop_hooks.midi_autoconnect, no_call);
  EXPECT_EQ(main_loop_hooks.connections_second, no_call);
  EXPECT_EQ(config_hooks.write, request_config_write);
  looper_reset();
}

}  // namespace
